// The production renderer against the plain reference: identical bytes on random inputs.
//
// Many random parameter sets, images, masks, rectangles and modes, from fixed seeds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ReferenceEngine.h"
#include "engine/RenderEngine.h"
#include "host/HostApi.h"

namespace oryn {
namespace {

// Source images that exercise different parts of the sampler: noise, smooth gradients and
// hard-edged blocks.
void fillImage(TestRandom& rnd, std::vector<uint8_t>& img, int32_t width, int32_t height,
               int32_t rowBytes, int32_t bpp)
{
    const int kind = rnd.range(0, 2);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* px = &img[size_t(y) * rowBytes + size_t(x) * bpp];
            for (int32_t j = 0; j < bpp; ++j) {
                if (kind == 0) {
                    px[j] = rnd.byte();
                } else if (kind == 1) {
                    px[j] = uint8_t((x * (j + 1) * 7 + y * (3 - j) * 5) & 255);
                } else {
                    px[j] = ((x / 5 + y / 7 + j) & 1) ? 240 : 15;
                }
            }
        }
    }
}

struct Outcome {
    int32_t result;
    std::vector<uint8_t> pixels;
};

// Which parameters a comparison draws.
enum class Draw {
    InRange,   // the controls' ranges
    Wide,      // beyond them
    SmallCells // cells of 2 to 8 pixels with wide bevels: ramps meet inside the cells
};

// Draws one random render and runs both renderers on copies of the same destination.
void compareOnce(TestRandom& rnd, Draw draw, int iteration)
{
    const bool wide = draw == Draw::Wide;
    const int32_t bpp = rnd.range(0, 3) == 0 ? 4 : 3;
    const bool hostOutput = rnd.range(0, 2) != 0;
    const int32_t width = rnd.range(1, hostOutput ? 90 : 300);
    const int32_t height = rnd.range(1, hostOutput ? 90 : 300);
    const int32_t srcRowBytes = width * bpp + rnd.range(0, 5);
    std::vector<uint8_t> src(size_t(height) * srcRowBytes);
    fillImage(rnd, src, width, height, srcRowBytes, bpp);

    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.haveMask = rnd.range(0, 2) == 0;
    record.planes = int16_t(bpp == 4 || rnd.range(0, 2) == 0 ? 4 : 3);
    ParamContext context = {nullptr, &record};

    const int32_t maskRowBytes = width + rnd.range(0, 3);
    std::vector<uint8_t> mask(size_t(height) * maskRowBytes);
    std::vector<uint8_t> alpha(size_t(height) * maskRowBytes);
    const int maskKind = rnd.range(0, 2);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t m;
            if (maskKind == 0) {
                m = rnd.byte();
            } else {
                // A disc with a soft rim: 0 outside, 255 inside, a ramp between.
                const int32_t dx = 2 * x - width, dy = 2 * y - height;
                const int32_t d2 = dx * dx + dy * dy, r2 = width * height / 2;
                m = d2 > r2 ? 0 : (d2 > r2 * 3 / 4 ? uint8_t(rnd.range(1, 254)) : 255);
                if (maskKind == 2 && m != 0) {
                    m = 255;
                }
            }
            mask[size_t(y) * maskRowBytes + x] = m;
            alpha[size_t(y) * maskRowBytes + x] = rnd.range(0, 3) == 0 ? rnd.byte() : 255;
        }
    }

    EngineCall call;
    call.context = &context;
    const int32_t span = wide ? 400 : 300;
    call.cellHeight = rnd.range(0, wide ? 2000 : span);
    call.cellWidth = rnd.range(0, wide ? 2000 : span);
    call.skewX = rnd.range(wide ? -120 : -50, wide ? 120 : 50);
    call.skewY = rnd.range(wide ? -120 : -50, wide ? 120 : 50);
    if (rnd.range(0, 3) == 0) {
        call.skewX = 0;
    }
    call.lightV = rnd.range(wide ? -90 : -25, wide ? 90 : 25);
    call.lightH = rnd.range(wide ? -90 : -25, wide ? 90 : 25);
    call.shading = rnd.range(wide ? -150 : -50, wide ? 150 : 50);
    call.toneFloor = rnd.range(wide ? -40 : 0, wide ? 300 : 100);
    call.brightnessBoost = rnd.range(wide ? -50 : 0, wide ? 250 : 100);
    call.bevel = float(rnd.range(wide ? -20 : 0, wide ? 200 : 50));
    call.faceMode = rnd.range(0, wide ? 5 : 2);
    if (draw == Draw::SmallCells) {
        // Slopes of 0, 0.5 and 0.9999 and the narrowest bevel (2 pixels) put split distances
        // and ramp values on exact quarters, where a ramp can reach 1 exactly.
        const int32_t skews[] = {0, 25, -25, 50, -50, 12};
        call.skewX = skews[rnd.range(0, 5)];
        call.skewY = skews[rnd.range(0, 5)];
        call.cellHeight = rnd.range(1, 8);
        call.cellWidth = rnd.range(1, 8);
        call.bevel = rnd.range(0, 1) ? 0.0f : float(rnd.range(20, 50));
    }
    call.left = rnd.range(0, width / 3);
    call.top = rnd.range(0, height / 3);
    call.right = rnd.range(call.left, width);
    call.bottom = rnd.range(call.top, height);
    if (rnd.range(0, 3) != 0) {
        call.left = 0, call.top = 0, call.right = width, call.bottom = height;
    }
    call.src = src.data();
    call.srcRowBytes = srcRowBytes;
    call.mask = mask.data();
    call.maskRowBytes = maskRowBytes;
    call.previewAlpha = alpha.data();
    // Offsets as the callers form them, or arbitrary ones.
    call.rowOffset = call.skewY < 0 ? -call.skewY * call.cellWidth / 50 : 0;
    call.colOffset = call.skewX > 0 ? call.skewX * call.cellHeight / 50 : 0;
    if (wide) {
        call.rowOffset = rnd.range(-500, 500);
        call.colOffset = rnd.range(-500, 500);
        call.srcOffsetX = float(rnd.range(-40, 40)) * 0.25f;
        call.srcOffsetY = float(rnd.range(-40, 40)) * 0.25f;
    }
    call.renderFlags = rnd.range(0, 1) | (hostOutput ? HostOutputFlag : 0);
    if (wide && rnd.range(0, 4) == 0) {
        call.renderFlags |= 0x40;
    }
    const uint32_t colours[] = {0xFFC0C0C0u, 0x00FFFFFFu, 0xFF0000FFu, 0x00123456u, 0x7F00FF00u};
    call.fillColor = colours[rnd.range(0, 4)];
    call.bytesPerPixel = bpp;

    const int32_t dstWidth = hostOutput ? width : std::max(width, PreviewSize);
    const int32_t dstHeight = hostOutput ? height : std::max(height, PreviewSize);
    const int32_t dstRowBytes = dstWidth * bpp + rnd.range(0, 3);
    std::vector<uint8_t> initial(size_t(dstHeight) * dstRowBytes);
    for (uint8_t& b : initial) {
        b = rnd.byte();
    }
    call.dstRowBytes = dstRowBytes;

    Outcome got{0, initial}, want{0, initial};
    call.dst = got.pixels.data();
    got.result = runEngine(call);
    call.dst = want.pixels.data();
    want.result = runReference(call);

    ASSERT_EQ(got.result, want.result) << "iteration " << iteration;
    size_t firstDiff = 0;
    while (firstDiff < got.pixels.size() && got.pixels[firstDiff] == want.pixels[firstDiff]) {
        ++firstDiff;
    }
    ASSERT_EQ(firstDiff, got.pixels.size())
        << "iteration " << iteration << ": first differing byte at row " << firstDiff / dstRowBytes
        << ", byte " << firstDiff % dstRowBytes << " (engine " << int(got.pixels[firstDiff])
        << ", reference " << int(want.pixels[firstDiff]) << "); cells " << call.cellWidth << "x"
        << call.cellHeight << ", skew " << call.skewX << "," << call.skewY << ", bpp " << bpp
        << ", host " << hostOutput;
}

TEST(EngineEquivalence, InRangeSettingsGiveIdenticalBytes)
{
    TestRandom rnd(20240601);
    for (int i = 0; i < 400; ++i) {
        compareOnce(rnd, Draw::InRange, i);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(EngineEquivalence, SettingsBeyondTheControlsGiveIdenticalBytes)
{
    TestRandom rnd(77);
    for (int i = 0; i < 300; ++i) {
        compareOnce(rnd, Draw::Wide, i);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(EngineEquivalence, SmallCellsWithWideBevelsGiveIdenticalBytes)
{
    TestRandom rnd(4242);
    for (int i = 0; i < 300; ++i) {
        compareOnce(rnd, Draw::SmallCells, i);
        if (HasFatalFailure()) {
            return;
        }
    }
}

} // namespace
} // namespace oryn
