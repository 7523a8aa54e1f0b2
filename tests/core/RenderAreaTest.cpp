// Renders made one part at a time (renderArea) from the source window that sourceAreaFor gives,
// against the whole render: the same bytes for every part shape, across sample presets, masks,
// alpha, odd sizes and the settings where the window is hardest to bound.
#include "engine/RenderArea.h"

#include "engine/RenderEngine.h"
#include "engine/RenderMath.h"
#include "params/SamplePresets.h"
#include "plugin/FinalRender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace oryn {
namespace {

struct Bytes {
    uint32_t state;
    uint8_t next()
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state >> 24);
    }
};

// A test image: smooth ramps with grain, so that every sample position shows in the bytes.
std::vector<uint8_t> makeImage(int32_t columns, int32_t rows, int32_t bpp, uint32_t seed)
{
    std::vector<uint8_t> image(size_t(columns) * rows * bpp);
    Bytes grain{seed};
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < columns; ++x)
            for (int32_t c = 0; c < bpp; ++c)
                image[(size_t(y) * columns + x) * bpp + c] =
                    uint8_t((x * (3 + c) + y * (5 - c) + (grain.next() & 15)) & 255);
    return image;
}

// A selection: inside, outside and a soft rim.
std::vector<uint8_t> makeMask(int32_t columns, int32_t rows)
{
    std::vector<uint8_t> mask(size_t(columns) * rows);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < columns; ++x) {
            const int32_t d =
                (x - columns / 2) * (x - columns / 2) + (y - rows / 3) * (y - rows / 3);
            const int32_t r = columns * columns / 9;
            mask[size_t(y) * columns + x] = uint8_t(d < r         ? 255
                                                    : d < r + 400 ? (x * 37 + y) & 255
                                                                  : 0);
        }
    return mask;
}

struct Case {
    std::string name;
    RenderCall call;
    bool masked = false;
};

struct Image {
    int32_t columns, rows, bpp;
    std::vector<uint8_t> pixels, mask;
};

FilterRecord recordFor(const Image& image, bool masked)
{
    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.imageSize.h = int16_t(image.columns);
    record.imageSize.v = int16_t(image.rows);
    record.planes = int16_t(image.bpp);
    record.haveMask = masked ? 1 : 0;
    return record;
}

std::vector<uint8_t> wholeRender(const Image& image, const Case& c)
{
    FilterRecord record = recordFor(image, c.masked);
    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, &record};
    const RenderCall& k = c.call;
    std::vector<uint8_t> dst(image.pixels.size(), 0x33);
    const int32_t rowBytes = image.columns * image.bpp;
    RenderEngine(&context, k.cellHeight, k.cellWidth, k.skewX, k.skewY, k.lightV, k.lightH,
                 k.shading, k.toneFloor, k.brightnessBoost, k.bevel, k.faceMode, k.left, k.top,
                 k.right, k.bottom, image.pixels.data(), rowBytes, dst.data(), rowBytes,
                 c.masked ? image.mask.data() : nullptr, image.columns, nullptr, k.rowOffset,
                 k.srcOffsetY, k.colOffset, k.srcOffsetX, k.renderFlags, k.fillColor,
                 k.bytesPerPixel, nullptr);
    return dst;
}

// One part rendered from a copy of just its window, in buffers of exactly that size, so that an
// address sanitizer sees any read beyond it. Returns renderArea's result.
int32_t renderPart(const Image& image, const Case& c, const PixelArea& part,
                   std::vector<uint8_t>& out, PixelArea* windowUsed = nullptr,
                   const PixelArea* windowGiven = nullptr)
{
    FilterRecord record = recordFor(image, c.masked);
    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, &record};
    const PixelArea window = windowGiven != nullptr ? *windowGiven : sourceAreaFor(c.call, part);
    if (windowUsed != nullptr)
        *windowUsed = window;
    const int32_t bpp = image.bpp;
    const int32_t ww = window.empty() ? 0 : window.right - window.left;
    const int32_t wh = window.empty() ? 0 : window.bottom - window.top;
    std::vector<uint8_t> src(size_t(ww) * wh * bpp), mask(size_t(ww) * wh);
    for (int32_t y = 0; y < wh; ++y) {
        std::memcpy(src.data() + size_t(y) * ww * bpp,
                    image.pixels.data() +
                        (size_t(window.top + y) * image.columns + window.left) * bpp,
                    size_t(ww) * bpp);
        if (c.masked)
            std::memcpy(mask.data() + size_t(y) * ww,
                        image.mask.data() + size_t(window.top + y) * image.columns + window.left,
                        size_t(ww));
    }
    const int32_t pw = part.right - part.left, ph = part.bottom - part.top;
    std::vector<uint8_t> dst(size_t(pw) * ph * bpp, 0x77);
    const int32_t result = renderArea(&context, c.call, part, src.empty() ? nullptr : src.data(),
                                      ww * bpp, c.masked && !mask.empty() ? mask.data() : nullptr,
                                      ww, window, dst.data(), pw * bpp);
    for (int32_t y = 0; y < ph; ++y)
        std::memcpy(out.data() + (size_t(part.top + y) * image.columns + part.left) * bpp,
                    dst.data() + size_t(y) * pw * bpp, size_t(pw) * bpp);
    return result;
}

// The whole image in parts of `width` x `height` pixels (the last ones smaller).
std::vector<uint8_t> renderInParts(const Image& image, const Case& c, int32_t width, int32_t height)
{
    std::vector<uint8_t> out(image.pixels.size(), 0x11);
    for (int32_t top = 0; top < image.rows; top += height)
        for (int32_t left = 0; left < image.columns; left += width) {
            PixelArea part;
            part.left = left, part.top = top;
            part.right = std::min(left + width, image.columns);
            part.bottom = std::min(top + height, image.rows);
            EXPECT_EQ(renderPart(image, c, part, out), 0)
                << c.name << ": part " << left << "," << top << " read beyond its window";
        }
    return out;
}

RenderCall baseCall(const Image& image)
{
    RenderCall call;
    call.cellHeight = 14;
    call.cellWidth = 19;
    call.skewX = 20;
    call.skewY = -15;
    call.lightV = 10;
    call.lightH = -7;
    call.shading = 30;
    call.toneFloor = 12;
    call.brightnessBoost = 40;
    call.bevel = 20.0f;
    call.faceMode = 2;
    call.right = image.columns;
    call.bottom = image.rows;
    call.rowOffset = 3;
    call.colOffset = 5;
    call.renderFlags = 1 | HostOutputFlag;
    call.fillColor = 0xFF2040C0u;
    call.bytesPerPixel = image.bpp;
    return call;
}

Case withSkew(const Image& image, const char* name, int32_t skewX, int32_t skewY, int32_t h,
              int32_t w)
{
    Case c{name, baseCall(image)};
    c.call.skewX = skewX;
    c.call.skewY = skewY;
    c.call.cellHeight = h;
    c.call.cellWidth = w;
    // The final render's offsets: about max(sx, 0) H columns and max(-sy, 0) W rows.
    c.call.colOffset = skewX > 0 ? int32_t(skewX * 0.02 * h) : 0;
    c.call.rowOffset = skewY < 0 ? int32_t(-skewY * 0.02 * w) : 0;
    return c;
}

// The cases where the window is hardest to bound: the largest source scale (both slopes at the
// limit, same sign), the smallest (opposite signs), cells as large as the image, cells of two
// pixels, strong skews either way, and offsets far off.
std::vector<Case> boundCases(const Image& image)
{
    std::vector<Case> cases;
    cases.push_back({"moderate", baseCall(image)});
    cases.push_back(withSkew(image, "largest ratio", 50, 50, 13, 17));
    cases.push_back(withSkew(image, "largest ratio, negative", -50, -50, 9, 23));
    cases.push_back(withSkew(image, "smallest ratio", 50, -50, 15, 11));
    cases.push_back(withSkew(image, "smallest ratio, mirrored", -50, 50, 12, 12));
    cases.push_back(withSkew(image, "strong skew x", 49, 3, 10, 10));
    cases.push_back(withSkew(image, "strong skew y", -2, -49, 16, 8));
    cases.push_back(withSkew(image, "no skew", 0, 0, 7, 9));
    cases.push_back(withSkew(image, "two-pixel cells", 35, -40, 2, 2));
    cases.push_back(
        withSkew(image, "cells as large as the image", 30, 25, image.rows, image.columns));
    cases.push_back(
        withSkew(image, "cells larger than the image", -45, 40, 3 * image.rows, 2 * image.columns));
    cases.push_back(withSkew(image, "tall thin cells", 40, 45, 90, 3));
    Case far = withSkew(image, "offsets far off", 10, -20, 11, 13);
    far.call.rowOffset = 250;
    far.call.colOffset = -180;
    cases.push_back(far);
    Case shifted = withSkew(image, "source offsets", -25, 30, 12, 10);
    shifted.call.srcOffsetX = 17.25f;
    shifted.call.srcOffsetY = -9.5f;
    cases.push_back(shifted);
    return cases;
}

Image testImage(int32_t columns, int32_t rows, int32_t bpp)
{
    Image image{columns, rows, bpp, makeImage(columns, rows, bpp, uint32_t(columns * 31 + rows)),
                makeMask(columns, rows)};
    return image;
}

// Full-width strips of several heights and tiles of several shapes, for every hard case.
TEST(RenderAreaTest, PartsEqualTheWholeRenderInTheBoundsWorstCases)
{
    const Image image = testImage(97, 71, 3);
    for (const Case& c : boundCases(image)) {
        const std::vector<uint8_t> whole = wholeRender(image, c);
        for (const auto& shape : {std::pair<int, int>{97, 16},
                                  {97, 1},
                                  {97, 7},
                                  {13, 11},
                                  {64, 64},
                                  {1, 71},
                                  {30, 5}}) {
            EXPECT_EQ(renderInParts(image, c, shape.first, shape.second), whole)
                << c.name << ", parts " << shape.first << " x " << shape.second;
        }
    }
}

// Masks with and without antialiasing, four bytes per pixel with a transparent background,
// opaque and checkerboard fills, and an odd size with one-row and one-column images.
TEST(RenderAreaTest, PartsEqualTheWholeRenderWithMasksAlphaAndOddSizes)
{
    for (const auto& size : {std::pair<int, int>{61, 43}, {1, 37}, {29, 1}, {2, 2}}) {
        for (int32_t bpp : {3, 4}) {
            const Image image = testImage(size.first, size.second, bpp);
            std::vector<Case> cases;
            for (const bool masked : {false, true})
                for (const int32_t antialias : {0, 1})
                    for (const uint32_t fill : {0xFF2040C0u, 0x00FFFFFFu}) {
                        Case c = withSkew(image, "mask/alpha", -30, 20, 9, 12);
                        c.masked = masked;
                        c.call.renderFlags = antialias | HostOutputFlag;
                        c.call.fillColor = fill;
                        c.name = std::string(masked ? "mask" : "no mask") +
                                 (antialias ? ", antialias" : "") +
                                 (fill >> 24 ? ", opaque" : ", transparent") + ", " +
                                 std::to_string(bpp) + " bytes, " + std::to_string(size.first) +
                                 " x " + std::to_string(size.second);
                        cases.push_back(c);
                    }
            for (const Case& c : cases) {
                const std::vector<uint8_t> whole = wholeRender(image, c);
                EXPECT_EQ(renderInParts(image, c, size.first, 3), whole) << c.name;
                EXPECT_EQ(renderInParts(image, c, 7, 5), whole) << c.name;
            }
        }
    }
}

// Every sample preset through the final render's own mapping of a record, on an image whose
// size gives an image scale above 1, in strips as the command-line tool asks for them.
TEST(RenderAreaTest, PartsEqualTheWholeRenderForEverySamplePreset)
{
    const Image image = testImage(640, 90, 3);
    FilterRecord record = recordFor(image, false);
    for (int k = 1; k <= 9; ++k) {
        for (const int stretch : {0, 4}) {
            ControlState controls{};
            ASSERT_EQ(applySample(k, controls), 0);
            controls.padX[6] = 30;
            controls.padX[7] = 20;
            controls.antialias = 1;
            ParamBlock block = defaultParamBlock();
            packParams(block, controls, 8);
            block.modeBits = uint8_t(block.modeBits | stretch);
            const RunSetup setup = setupRun(record, block, 0);
            Case c{"sample " + std::to_string(k) + (stretch ? ", x2" : ""), RenderCall()};
            ASSERT_EQ(
                finalRenderCall(block, setup, image.columns, image.rows, record.planes, c.call),
                noErr);
            const std::vector<uint8_t> whole = wholeRender(image, c);
            EXPECT_EQ(renderInParts(image, c, image.columns, 16), whole) << c.name;
            EXPECT_EQ(renderInParts(image, c, 128, 32), whole) << c.name;
        }
    }
}

// A window smaller than the one the part needs is never read beyond: the pixels that need more
// keep the background, and the result says so.
TEST(RenderAreaTest, AWindowTooSmallIsReportedNotReadBeyond)
{
    const Image image = testImage(80, 60, 3);
    const Case c = withSkew(image, "moderate", 20, -15, 10, 12);
    PixelArea part;
    part.left = 0, part.top = 20, part.right = 80, part.bottom = 36;
    const PixelArea needed = sourceAreaFor(c.call, part);
    ASSERT_FALSE(needed.empty());
    std::vector<uint8_t> out(image.pixels.size(), 0);
    PixelArea smaller = needed;
    smaller.top += 4;
    smaller.bottom -= 4;
    EXPECT_EQ(renderPart(image, c, part, out, nullptr, &smaller), AreaOutsideWindow);
    PixelArea narrower = needed;
    narrower.right -= 6;
    EXPECT_EQ(renderPart(image, c, part, out, nullptr, &narrower), AreaOutsideWindow);
    // The same part from the full window renders cleanly.
    EXPECT_EQ(renderPart(image, c, part, out), 0);
}

// The window follows the part: a strip of the image needs its own rows and a margin of a few
// cells, not the whole image, and nothing when it maps outside the source.
TEST(RenderAreaTest, TheWindowOfAStripIsAFewCellsHigh)
{
    Image image{2000, 1500, 3, {}, {}};
    Case c = withSkew(image, "Orystone-like", -20, 7, 30, 20);
    for (int32_t top : {0, 500, 1200}) {
        PixelArea strip;
        strip.left = 0, strip.top = top, strip.right = 2000, strip.bottom = top + 16;
        const PixelArea window = sourceAreaFor(c.call, strip);
        ASSERT_FALSE(window.empty());
        EXPECT_EQ(window.left, 0);
        EXPECT_EQ(window.right, 2000);
        // The zigzag moves rows by about |sy| W = 2.8 rows, the zoom by 1.3%: a strip of 16
        // rows reads fewer than 16 + 4 cell heights.
        EXPECT_LE(window.bottom - window.top, 16 + 4 * 30) << top;
        EXPECT_LE(window.top, top + 16) << top;
        EXPECT_GE(window.bottom, top) << top;
    }
    // Cells of 200 x 150 pixels on the same image: the window grows with the cells.
    c = withSkew(image, "large cells", 20, -15, 150, 200);
    PixelArea strip;
    strip.left = 0, strip.top = 700, strip.right = 2000, strip.bottom = 716;
    const PixelArea window = sourceAreaFor(c.call, strip);
    EXPECT_LE(window.bottom - window.top, 16 + 4 * 150);
    // A tile narrower than a cell reads fewer columns than the image has.
    PixelArea tile;
    tile.left = 900, tile.top = 700, tile.right = 964, tile.bottom = 764;
    const PixelArea tileWindow = sourceAreaFor(c.call, tile);
    EXPECT_LT(tileWindow.right - tileWindow.left, 1000);
    // Rows that no pixel maps to need no source: the cells map above the top.
    Case far = withSkew(image, "far", 0, 0, 30, 20);
    far.call.rowOffset = 5000;
    EXPECT_TRUE(sourceAreaFor(far.call, strip).empty());
}

// The source rows the pixels of a strip really sample, found by mapping every pixel as the
// renderer does; -1 when none maps into the source.
int32_t sampledRows(const RenderCall& call, const PixelArea& strip, int32_t& first)
{
    const RenderArgs a = hostRenderArgs(call);
    RenderSetup s;
    prepareRender(a, s);
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (int32_t y = strip.top; y < strip.bottom; ++y) {
        RowState rs{};
        rs.start(s, int64_t(y) - call.rowOffset);
        BandIndex columns;
        columns.n = s.W;
        for (int32_t x = strip.left; x < strip.right; ++x) {
            ColumnGeometry col;
            prepareColumn(s, int64_t(x) - call.colOffset, columns, col);
            PixelGeometry g;
            mapPixel(s, col, rs, g);
            const float sy = sourcePosition(s.zoom, g.Yu, call.srcOffsetY);
            const float sx = sourcePosition(s.zoom, g.Xu, call.srcOffsetX);
            if (sy >= call.top && sy < call.bottom && sx >= call.left && sx < call.right) {
                lo = std::min(lo, double(sy));
                hi = std::max(hi, double(sy));
            }
        }
    }
    if (!(lo <= hi))
        return -1;
    first = int32_t(lo);
    return std::min(int32_t(hi) + 2, call.bottom) - first;
}

// For the sample presets (cells of 67 to 1000 pixels here) the window of a strip is within a few
// rows of the rows its pixels really sample; only the presets whose cells take their source at
// an extreme scale get more.
TEST(RenderAreaTest, TheWindowHugsTheRowsAStripSamples)
{
    const Image image{2000, 1500, 3, {}, {}};
    FilterRecord record = recordFor(image, false);
    for (int k = 1; k <= 9; ++k) {
        ControlState controls{};
        ASSERT_EQ(applySample(k, controls), 0);
        ParamBlock block = defaultParamBlock();
        packParams(block, controls, 8);
        const RunSetup setup = setupRun(record, block, 0);
        RenderCall call;
        ASSERT_EQ(finalRenderCall(block, setup, image.columns, image.rows, 3, call), noErr);
        const bool extreme =
            std::fabs(std::log(double((1.0f + 0.02f * call.skewX * 0.02f * call.skewY) /
                                      (1.0f - 0.02f * call.skewX * 0.02f * call.skewY)))) > 2.0;
        for (int32_t top : {0, 333, 777, 1400}) {
            PixelArea strip;
            strip.left = 0, strip.top = top, strip.right = image.columns, strip.bottom = top + 8;
            int32_t first = 0;
            const int32_t sampled = sampledRows(call, strip, first);
            const PixelArea window = sourceAreaFor(call, strip);
            if (sampled < 0)
                continue;
            ASSERT_FALSE(window.empty()) << "sample " << k << ", row " << top;
            EXPECT_LE(window.top, first) << "sample " << k << ", row " << top;
            EXPECT_GE(window.bottom, first + sampled) << "sample " << k << ", row " << top;
            if (!extreme) {
                EXPECT_LE(window.bottom - window.top, sampled + 6)
                    << "sample " << k << ", row " << top;
            }
        }
    }
}

} // namespace
} // namespace oryn
