// Tests of the preview: its area, the transfer of host planes into the blue-green-red preview
// buffers (plus alpha and mask), and the engine arguments of a preview render.
#include "ui/PreviewRender.h"

#include "plugin/FinalRender.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace oryn {
namespace {

// A host whose plane p of pixel (x, y) holds pattern(p, x, y); the mask is plane 4.
struct PatternHost : FakeHost {
    static uint8_t pattern(int32_t p, int32_t x, int32_t y)
    {
        return static_cast<uint8_t>((x * (3 + 2 * p) + y * (7 - p) + 40 * p) ^ (x * y >> 3));
    }

    PatternHost(int32_t columns, int32_t rows, int32_t planes, bool haveMask)
        : FakeHost(columns, rows, planes, haveMask, 0x77)
    {
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < columns; ++x) {
                for (int32_t p = 0; p < planes; ++p)
                    in[(size_t(y) * columns + x) * planes + p] = pattern(p, x, y);
                if (haveMask)
                    mask[size_t(y) * columns + x] = pattern(4, x, y);
            }
    }

    // The value a halving reduction gives plane p at preview pixel (x, y): each pass truncates.
    static int32_t halved(int32_t p, int32_t x, int32_t y)
    {
        int32_t top = (pattern(p, 2 * x, 2 * y) + pattern(p, 2 * x + 1, 2 * y)) / 2;
        int32_t bottom = (pattern(p, 2 * x, 2 * y + 1) + pattern(p, 2 * x + 1, 2 * y + 1)) / 2;
        return (top + bottom) / 2;
    }
};

std::unique_ptr<PreviewBuffers> zeroBuffers() { return std::make_unique<PreviewBuffers>(); }

bool allZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

void expectArea(int32_t columns, int32_t rows, int32_t right, int32_t bottom)
{
    PreviewArea a = previewArea(columns, rows, computeImageScale(columns, rows));
    EXPECT_EQ(a.left, 0);
    EXPECT_EQ(a.top, 0);
    EXPECT_EQ(a.right, right) << columns << " x " << rows;
    EXPECT_EQ(a.bottom, bottom) << columns << " x " << rows;
}

TEST(PreviewRenderTest, AreaFollowsTheTruncatedScale)
{
    expectArea(1000, 500, 299, 149); // imageScale 3.3333335, a little above 10/3
    expectArea(640, 480, 299, 224);
    expectArea(200, 600, 100, 300);
    expectArea(300, 300, 300, 300);
    expectArea(120, 80, 120, 80);
    expectArea(0, 0, 0, 0);
    // Whatever scale a caller passes, the area stays inside the preview buffers.
    PreviewArea a = previewArea(1000, -5, 1.0f);
    EXPECT_EQ(a.right, PreviewSize);
    EXPECT_EQ(a.bottom, 0);
}

TEST(PreviewRenderTest, ThreePlanesLandInBlueGreenRedOrder)
{
    PatternHost host(600, 400, 3, false);
    auto buffers = zeroBuffers();
    PreviewArea area{-1, -1, -1, -1};
    ASSERT_EQ(previewTransfer(&host.record, 3, computeImageScale(600, 400), *buffers, area), noErr);
    EXPECT_EQ(host.advanceCalls, 1);
    EXPECT_EQ(area.left, 0);
    EXPECT_EQ(area.top, 0);
    EXPECT_EQ(area.right, 300);
    EXPECT_EQ(area.bottom, 200);
    for (int32_t y = 0; y < 200; ++y) {
        for (int32_t x = 0; x < 300; ++x) {
            const uint8_t* px = buffers->previewSource + y * PreviewRowBytes + x * 3;
            ASSERT_EQ(px[2], PatternHost::halved(0, x, y)) << "red at " << x << "," << y;
            ASSERT_EQ(px[1], PatternHost::halved(1, x, y)) << "green at " << x << "," << y;
            ASSERT_EQ(px[0], PatternHost::halved(2, x, y)) << "blue at " << x << "," << y;
        }
    }
    EXPECT_TRUE(allZero(buffers->previewSource + 200 * PreviewRowBytes, 100 * PreviewRowBytes));
    EXPECT_TRUE(allZero(buffers->previewAlpha, buffers->planeBytes()));
    EXPECT_TRUE(allZero(buffers->previewMask, buffers->planeBytes()));
    EXPECT_TRUE(allZero(buffers->previewImage, buffers->imageBytes()));
}

TEST(PreviewRenderTest, FourthPlaneAndMaskFillTheirBuffers)
{
    PatternHost host(600, 400, 4, true);
    auto buffers = zeroBuffers();
    PreviewArea area{};
    ASSERT_EQ(previewTransfer(&host.record, 4, computeImageScale(600, 400), *buffers, area), noErr);
    for (int32_t y = 0; y < 200; ++y) {
        for (int32_t x = 0; x < 300; ++x) {
            ASSERT_EQ(buffers->previewSource[y * PreviewRowBytes + x * 3 + 2],
                      PatternHost::halved(0, x, y));
            ASSERT_EQ(buffers->previewAlpha[y * PreviewSize + x], PatternHost::halved(3, x, y))
                << x << "," << y;
            ASSERT_EQ(buffers->previewMask[y * PreviewSize + x], PatternHost::halved(4, x, y))
                << x << "," << y;
        }
    }
    EXPECT_TRUE(allZero(buffers->previewAlpha + 200 * PreviewSize, 100 * PreviewSize));
}

TEST(PreviewRenderTest, OneAndTwoPlanesShowTheFirstAsGrey)
{
    for (int32_t planes : {1, 2}) {
        PatternHost host(600, 400, planes, false);
        auto buffers = zeroBuffers();
        PreviewArea area{};
        ASSERT_EQ(previewTransfer(&host.record, planes, 2.0f, *buffers, area), noErr);
        for (int32_t y = 0; y < 200; ++y) {
            for (int32_t x = 0; x < 300; ++x) {
                const uint8_t* px = buffers->previewSource + y * PreviewRowBytes + x * 3;
                const int32_t grey = PatternHost::halved(0, x, y);
                ASSERT_EQ(px[0], grey);
                ASSERT_EQ(px[1], grey);
                ASSERT_EQ(px[2], grey);
            }
        }
        EXPECT_TRUE(allZero(buffers->previewAlpha, buffers->planeBytes()));
    }
}

// A host whose rows are padded (row bytes above width x planes) keeps its padding; the
// transfer writes only the image's own pixels of outData, also when it reduces a mask whose rows
// are shorter than the image's, and reduces exactly as from unpadded rows.
struct PaddedHost : PatternHost {
    static constexpr int32_t Padding = 3;
    static constexpr uint8_t Canary = 0xCD;
    std::vector<uint8_t> paddedIn, paddedOut;

    PaddedHost(int32_t columns, int32_t rows) : PatternHost(columns, rows, 3, true)
    {
        const int32_t pitch = columns * 3 + Padding;
        paddedIn.assign(size_t(pitch) * size_t(rows), Canary);
        paddedOut.assign(paddedIn.size(), Canary);
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(&paddedIn[size_t(y) * pitch], &in[size_t(y) * columns * 3],
                        size_t(columns) * 3);
        record.advanceState = [] {
            FakeHost::advance();
            auto& h = static_cast<PaddedHost&>(*FakeHost::active);
            h.record.inData = h.paddedIn.data();
            h.record.outData = h.paddedOut.data();
            h.record.inRowBytes = h.record.outRowBytes = h.columns * 3 + Padding;
            return OSErr(noErr);
        };
    }

    size_t paddingWritten() const
    {
        const int32_t pitch = columns * 3 + Padding;
        size_t changed = 0;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t i = 0; i < Padding; ++i)
                changed += paddedOut[size_t(y) * pitch + size_t(columns) * 3 + i] != Canary;
        return changed;
    }
};

TEST(PreviewRenderTest, TransferLeavesTheHostsRowPaddingAlone)
{
    for (const auto& size : {std::pair<int32_t, int32_t>{301, 301}, {640, 427}, {120, 90}}) {
        PaddedHost padded(size.first, size.second);
        auto fromPadded = zeroBuffers();
        PreviewArea area{};
        const float scale = computeImageScale(size.first, size.second);
        ASSERT_EQ(previewTransfer(&padded.record, 3, scale, *fromPadded, area), noErr);
        EXPECT_EQ(padded.paddingWritten(), 0u) << size.first << " x " << size.second;

        PatternHost plain(size.first, size.second, 3, true);
        auto fromPlain = zeroBuffers();
        ASSERT_EQ(previewTransfer(&plain.record, 3, scale, *fromPlain, area), noErr);
        // Every buffer alike: the reduced image, the rendered one, the mask and the fourth plane.
        ASSERT_EQ(fromPadded->side, fromPlain->side);
        EXPECT_EQ(std::memcmp(fromPadded->previewSource, fromPlain->previewSource,
                              fromPlain->planeBytes() * 8),
                  0);
    }
}

TEST(PreviewRenderTest, ScaledTransferLeavesTheHostsRowPaddingAlone)
{
    const DisplayScale scale = displayScaleForDpi(144);
    for (const auto& size : {std::pair<int32_t, int32_t>{301, 301}, {1000, 700}, {120, 90}}) {
        const float imageScale = previewImageScale(size.first, size.second, scale);
        PaddedHost padded(size.first, size.second);
        auto fromPadded = std::make_unique<PreviewBuffers>(scale);
        PreviewArea area{};
        ASSERT_EQ(previewTransfer(&padded.record, 3, imageScale, *fromPadded, area), noErr);
        EXPECT_EQ(padded.paddingWritten(), 0u) << size.first << " x " << size.second;

        PatternHost plain(size.first, size.second, 3, true);
        auto fromPlain = std::make_unique<PreviewBuffers>(scale);
        ASSERT_EQ(previewTransfer(&plain.record, 3, imageScale, *fromPlain, area), noErr);
        ASSERT_EQ(fromPadded->side, fromPlain->side);
        EXPECT_EQ(std::memcmp(fromPadded->previewSource, fromPlain->previewSource,
                              fromPlain->planeBytes() * 8),
                  0);
    }
}

TEST(PreviewRenderTest, TransferFailuresLeaveTheBuffers)
{
    {
        PatternHost host(600, 400, 3, false);
        host.giveIn = false;
        host.giveOut = false;
        auto buffers = zeroBuffers();
        PreviewArea area{};
        EXPECT_EQ(previewTransfer(&host.record, 3, 2.0f, *buffers, area), memFullErr);
        EXPECT_TRUE(allZero(buffers->previewSource, buffers->imageBytes()));
    }
    {
        // A scale that would overfill the 300 x 300 buffers is refused before any request.
        PatternHost host(600, 400, 3, false);
        auto buffers = zeroBuffers();
        PreviewArea area{};
        EXPECT_EQ(previewTransfer(&host.record, 3, 1.0f, *buffers, area), paramErr);
        EXPECT_EQ(host.advanceCalls, 0);
    }
    {
        // Scratch rows shorter than the source rows would be overrun.
        PatternHost host(60, 40, 3, false);
        host.record.advanceState = [] {
            FakeHost::advance();
            FakeHost::active->record.outRowBytes -= 3;
            return OSErr(noErr);
        };
        auto buffers = zeroBuffers();
        PreviewArea area{};
        EXPECT_EQ(previewTransfer(&host.record, 3, 1.0f, *buffers, area), memFullErr);
        EXPECT_TRUE(allZero(buffers->previewSource, buffers->imageBytes()));
    }
    auto buffers = zeroBuffers();
    PreviewArea area{};
    EXPECT_EQ(previewTransfer(nullptr, 3, 1.0f, *buffers, area), memFullErr);
}

int32_t neverStop(const ParamContext*, int32_t, int32_t) { return 0; }
int32_t stopAtOnce(const ParamContext*, int32_t, int32_t) { return 1; }

TEST(PreviewRenderTest, RenderPassesTheControlsInPreviewUnits)
{
    PatternHost host(200, 150, 4, true);
    auto buffers = zeroBuffers();
    PreviewArea area{};
    ASSERT_EQ(previewTransfer(&host.record, 4, computeImageScale(200, 150), *buffers, area), noErr);
    auto direct = std::make_unique<PreviewBuffers>(*buffers);

    ControlState c;
    std::memset(&c, 0, sizeof c);
    c.padY[0] = 23;
    c.padX[1] = 37;
    c.padX[2] = 12;
    c.padX[3] = 65;
    c.padX[4] = 10;
    c.padY[4] = 5;
    c.padX[5] = 12;
    c.padY[5] = 30;
    c.padX[6] = 30;
    c.padX[7] = 20;
    c.faceMode = 2;
    c.stretchDouble = 1;
    c.antialias = 1;
    c.resolvedColor = 0x00FFFFFFu;
    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, &host.record};
    ASSERT_EQ(previewRender(&context, c, area, *buffers, neverStop), 0);

    // skewX = (25 - 10) x 2 = 30, skewY = (5 - 25) x 2 = -40; rowOffset = 40 x 37 / 50 = 29,
    // colOffset = 30 x 23 / 50 = 13; light 30 - 25 and 12 - 25; shading 65 - 50.
    RenderEngine(&context, 23, 37, 30, -40, 5, -13, 15, 20, 30, 12.0f, 2, 0, 0, 200, 150,
                 direct->previewSource, 900, direct->previewImage, 900, direct->previewMask, 300,
                 direct->previewAlpha, 29, 0.0f, 13, 0.0f, 1, 0x00FFFFFFu, 3, neverStop);
    EXPECT_EQ(std::memcmp(buffers->previewImage, direct->previewImage, direct->imageBytes()),
              0);
    EXPECT_FALSE(allZero(buffers->previewImage, buffers->imageBytes()));

    // A stop from the callback comes back unchanged.
    EXPECT_EQ(previewRender(&context, c, area, *buffers, stopAtOnce), 1);
}

} // namespace
} // namespace oryn
