// Tests of the final render run: image scale, background colour, the whole-image request, host
// progress and cancel, run set-up, and the mapping of a record onto the engine's arguments, checked
// against direct engine calls whose arguments were worked out by hand.
#include "plugin/FinalRender.h"

#include "engine/RenderEngine.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace oryn {
namespace {

struct ByteSource {
    uint32_t state;
    uint8_t next()
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state >> 24);
    }
};

bool emptyRect(const Rect& r) { return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0; }

// The final-render tests' host: random image bytes, and a mask of 255, 0 and random values.
struct RandomHost : FakeHost {
    RandomHost(int32_t columns, int32_t rows, int32_t planes, bool haveMask)
        : FakeHost(columns, rows, planes, haveMask, 0x5A)
    {
        ByteSource bytes{static_cast<uint32_t>(columns * 7 + rows)};
        for (uint8_t& b : in)
            b = bytes.next();
        for (size_t i = 0; i < mask.size(); ++i)
            mask[i] = static_cast<uint8_t>(i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : bytes.next());
    }
};

int32_t neverStop(const ParamContext*, int32_t, int32_t) { return 0; }

// The engine's arguments other than the buffers, as a final render must pass them.
struct Expected {
    int32_t cellHeight, cellWidth, skewX, skewY, lightV, lightH, shading, toneFloor, boost;
    float bevel;
    int32_t faceMode, rowOffset, colOffset, renderFlags;
    uint32_t fillColor;
    int32_t bytesPerPixel;
};

// Renders the host's whole input directly into a copy of the host's initial output.
std::vector<uint8_t> directRender(FakeHost& host, ParamBlock& block, const Expected& e)
{
    std::vector<uint8_t> dst(host.in.size(), 0x5A);
    ParamContext context{&block, &host.record};
    const int32_t rowBytes = host.columns * e.bytesPerPixel;
    RenderEngine(&context, e.cellHeight, e.cellWidth, e.skewX, e.skewY, e.lightV, e.lightH,
                 e.shading, e.toneFloor, e.boost, e.bevel, e.faceMode, 0, 0, host.columns,
                 host.rows, host.in.data(), rowBytes, dst.data(), rowBytes,
                 host.mask.empty() ? nullptr : host.mask.data(), host.columns, nullptr,
                 e.rowOffset, 0.0f, e.colOffset, 0.0f, e.renderFlags, e.fillColor,
                 e.bytesPerPixel, neverStop);
    return dst;
}

ParamBlock blockWith(std::initializer_list<std::pair<int, int16_t>> padX,
                     std::initializer_list<std::pair<int, int16_t>> padY, uint8_t modeBits,
                     uint8_t antialias, uint8_t mode, uint32_t color)
{
    ParamBlock b = defaultParamBlock();
    for (auto& p : padX)
        b.padX[p.first] = p.second;
    for (auto& p : padY)
        b.padY[p.first] = p.second;
    b.modeBits = modeBits;
    b.antialias = antialias;
    b.backgroundMode = mode;
    b.backgroundColor = color;
    b.checksum = padChecksum(b);
    return b;
}

TEST(FinalRenderTest, ImageScale)
{
    EXPECT_EQ(computeImageScale(300, 200), 1.0f);
    EXPECT_EQ(computeImageScale(120, 40), 1.0f);
    EXPECT_EQ(computeImageScale(600, 200), 2.0f);
    EXPECT_EQ(computeImageScale(1000, 1200), 4.0f);
    EXPECT_EQ(computeImageScale(1000, 500), 3.3333335f); // a little above 10/3
    EXPECT_EQ(computeImageScale(640, 480), 2.1333334f);
    EXPECT_EQ(computeImageScale(480, 150), 1.6f);
    EXPECT_EQ(computeImageScale(0, 0), 1.0f);
    EXPECT_EQ(computeImageScale(-900, -900), 1.0f);
}

TEST(FinalRenderTest, BackgroundColourByModeAndPlanes)
{
    FilterRecord r;
    std::memset(&r, 0, sizeof r);
    const uint8_t fore[4] = {0x0A, 0x14, 0x1E, 0x00};
    const uint8_t back[4] = {0x10, 0x20, 0x30, 0x40};
    std::memcpy(r.foreColor, fore, 4);
    std::memcpy(r.backColor, back, 4);
    const uint32_t picker = 0x00123456u, previous = 0x01020304u;
    EXPECT_EQ(resolveBackgroundColor(Foreground, 3, r, picker, previous), 0xFF1E140Au);
    EXPECT_EQ(resolveBackgroundColor(Background, 4, r, picker, previous), 0xFF302010u);
    EXPECT_EQ(resolveBackgroundColor(Picker, 3, r, picker, previous), 0xFF123456u);
    EXPECT_EQ(resolveBackgroundColor(Transparent, 4, r, picker, previous), 0x00FFFFFFu);
    for (int32_t mode : {4, 200, -1})
        EXPECT_EQ(resolveBackgroundColor(mode, 4, r, picker, previous), previous) << mode;
    for (int32_t mode : {0, 1, 2, 3, 9})
        EXPECT_EQ(resolveBackgroundColor(mode, 2, r, picker, previous), 0xFFC0C0C0u) << mode;
}

TEST(FinalRenderTest, RequestsTheWholeImage)
{
    RandomHost host(37, 21, 4, false);
    host.record.maskRect = Rect{1, 2, 3, 4}; // left over from an earlier request
    ASSERT_EQ(requestWholeImage(&host.record, 4), noErr);
    EXPECT_EQ(host.advanceCalls, 1);
    // top, left, bottom, right
    EXPECT_EQ(host.requestedIn.top, 0);
    EXPECT_EQ(host.requestedIn.left, 0);
    EXPECT_EQ(host.requestedIn.bottom, 21);
    EXPECT_EQ(host.requestedIn.right, 37);
    EXPECT_EQ(std::memcmp(&host.requestedOut, &host.requestedIn, sizeof(Rect)), 0);
    EXPECT_TRUE(emptyRect(host.requestedMask));
    EXPECT_EQ(host.record.inLoPlane, 0);
    EXPECT_EQ(host.record.inHiPlane, 3);
    EXPECT_EQ(host.record.outLoPlane, 0);
    EXPECT_EQ(host.record.outHiPlane, 3);

    RandomHost masked(37, 21, 3, true);
    ASSERT_EQ(requestWholeImage(&masked.record, 3), noErr);
    EXPECT_EQ(std::memcmp(&masked.requestedMask, &masked.requestedIn, sizeof(Rect)), 0);
    EXPECT_EQ(masked.record.inHiPlane, 2);
}

TEST(FinalRenderTest, RequestFailsWithoutData)
{
    struct Case {
        bool haveMask, giveIn, giveOut, giveMask, hasAdvance;
        int16_t result;
    };
    const Case cases[] = {
        {false, false, true, true, true, memFullErr},
        {false, true, false, true, true, memFullErr},
        {true, true, true, false, true, memFullErr},
        {false, true, true, false, true, noErr}, // no mask wanted: none needed
        {false, true, true, true, false, memFullErr},
    };
    for (const Case& c : cases) {
        RandomHost host(8, 8, 3, c.haveMask);
        host.giveIn = c.giveIn;
        host.giveOut = c.giveOut;
        host.giveMask = c.giveMask;
        if (!c.hasAdvance)
            host.record.advanceState = nullptr;
        EXPECT_EQ(requestWholeImage(&host.record, 3), c.result);
    }
    EXPECT_EQ(requestWholeImage(nullptr, 3), memFullErr);
}

TEST(FinalRenderTest, ProgressReportsUnlessTheHostCancels)
{
    RandomHost host(8, 8, 3, false);
    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, &host.record};
    host.cancelOnCall = 2;
    EXPECT_EQ(finalProgress(&context, 7, 40), 0);
    EXPECT_EQ(finalProgress(&context, 15, 40), userCanceledErr);
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0], std::make_pair(7, 40));
    EXPECT_EQ(host.abortCalls, 2);

    // Hosts without one of the callbacks: the other still works, nothing crashes.
    host.record.abortProc = nullptr;
    EXPECT_EQ(finalProgress(&context, 23, 40), 0);
    EXPECT_EQ(host.reports.size(), 2u);
    host.record.progressProc = nullptr;
    EXPECT_EQ(finalProgress(&context, 31, 40), 0);
    EXPECT_EQ(finalProgress(nullptr, 31, 40), 0);
}

TEST(FinalRenderTest, SetupCapsPlanesAndLowersTheMode)
{
    RandomHost five(30, 20, 5, false);
    ParamBlock block = blockWith({}, {}, 0, 0, Transparent, 0x00336699u);
    RunSetup s = setupRun(five.record, block, 0);
    EXPECT_EQ(s.planesUsed, 4);
    EXPECT_EQ(s.currentMode, Transparent);
    EXPECT_EQ(s.resolvedColor, 0x00FFFFFFu);
    EXPECT_EQ(s.pickerColor, 0x00336699u);
    EXPECT_EQ(s.imageScale, 1.0f);

    RandomHost three(1000, 500, 3, false);
    s = setupRun(three.record, block, 0);
    EXPECT_EQ(s.planesUsed, 3);
    EXPECT_EQ(s.currentMode, Picker);
    EXPECT_EQ(block.backgroundMode, Transparent);
    EXPECT_EQ(s.resolvedColor, 0xFF336699u);
    EXPECT_EQ(s.imageScale, 3.3333335f);

    RandomHost two(30, 20, 2, false);
    s = setupRun(two.record, block, 0);
    EXPECT_EQ(s.planesUsed, 2);
    EXPECT_EQ(s.resolvedColor, 0xFFC0C0C0u);
}

TEST(FinalRenderTest, RecordMapsOntoTheEngineArguments)
{
    // 480 x 150: imageScale 1.6 (as a float, 1.6000000238). Pads chosen so that every product
    // truncates: cells 17 x 1.6 = 27.2 and 13 x 1.6 = 20.8; with "x2" skewX = (25 - 5) x 2 = 40 and
    // skewY = (12 - 25) x 2 = -26; rowOffset = trunc(26 x 1.6 x 13 x 0.02) = trunc(10.816) = 10,
    // colOffset = trunc(40 x 17 x 1.6 x 0.02) = trunc(21.76) = 21.
    RandomHost host(480, 150, 3, false);
    const uint8_t fore[4] = {10, 20, 30, 0};
    std::memcpy(host.record.foreColor, fore, 4);
    ParamBlock block = blockWith({{1, 13}, {2, 25}, {3, 80}, {4, 5}, {5, 10}, {6, 30}, {7, 20}},
                                 {{0, 17}, {4, 12}, {5, 40}}, 4 | 1, 1, Foreground, 0);
    const Expected e{27, 20, 40, -26, 15, -15, 30, 20, 30, 25.0f, 1, 10, 21, 3, 0xFF1E140Au, 3};
    std::vector<uint8_t> expected = directRender(host, block, e);

    RunSetup setup = setupRun(host.record, block, 0);
    ASSERT_EQ(requestWholeImage(&host.record, setup.planesUsed), noErr);
    ParamContext context{&block, &host.record};
    EXPECT_EQ(renderFinal(context, setup, 1), noErr);
    EXPECT_TRUE(host.out == expected);
    EXPECT_TRUE(emptyRect(host.record.inRect));
    EXPECT_TRUE(emptyRect(host.record.outRect));
    EXPECT_TRUE(emptyRect(host.record.maskRect));
    // One thread: progress went to the host every 8 rows.
    ASSERT_EQ(host.reports.size(), 18u);
    EXPECT_EQ(host.reports.front(), std::make_pair(7, 150));
    EXPECT_EQ(host.reports.back(), std::make_pair(143, 150));
}

TEST(FinalRenderTest, OffsetOfOneInDecimalTruncatesToZero)
{
    // skewX = 50 and padY[0] x imageScale = 1: 50 x 1 x 1 x 0.02 is just below 1 in single
    // precision, so colOffset is 0; rowOffset likewise with skewY = -50 and padX[1] = 1.
    RandomHost host(40, 30, 3, false);
    ParamBlock block = blockWith({{1, 1}, {3, 50}, {4, 0}, {5, 25}}, {{0, 1}, {4, 0}, {5, 25}},
                                 4, 0, Picker, 0xFF808080u);
    const Expected e{1, 1, 50, -50, 0, 0, 0, 0, 0, 0.0f, 0, 0, 0, 2, 0xFF808080u, 3};
    std::vector<uint8_t> expected = directRender(host, block, e);
    Expected shiftedCol = e, shiftedRow = e;
    shiftedCol.colOffset = 1;
    shiftedRow.rowOffset = 1;

    EXPECT_EQ(replayBlock(&host.record, block), noErr);
    EXPECT_TRUE(host.out == expected);
    EXPECT_FALSE(host.out == directRender(host, block, shiftedCol));
    EXPECT_FALSE(host.out == directRender(host, block, shiftedRow));
}

TEST(FinalRenderTest, FourPlanesWithMaskAndTransparentBackground)
{
    // Six planes count as four: four bytes per pixel in, out and to the engine.
    RandomHost host(64, 40, 6, true);
    ParamBlock block = blockWith({{1, 9}, {2, 30}, {3, 20}, {4, 30}, {5, 40}, {6, 0}, {7, 0}},
                                 {{0, 7}, {4, 30}, {5, 5}}, 2, 1, Transparent, 0xFF00FF00u);
    // skewX = 25 - 30 = -5, skewY = 30 - 25 = 5: both offsets are 0.
    const Expected e{7, 9, -5, 5, -20, 15, -30, 0, 0, 30.0f, 2, 0, 0, 3, 0x00FFFFFFu, 4};
    std::vector<uint8_t> expected = directRender(host, block, e);
    EXPECT_EQ(replayBlock(&host.record, block), noErr);
    EXPECT_EQ(host.record.inHiPlane, 3);
    EXPECT_TRUE(host.out == expected);
    EXPECT_TRUE(emptyRect(host.record.maskRect));
}

TEST(FinalRenderTest, CancelStopsAtTheRowAndKeepsTheFill)
{
    RandomHost host(40, 50, 3, false);
    host.cancelOnCall = 2; // the second check, before row 15
    // skewX = 25: colOffset = trunc(25 x 8 x 1 x 0.02) = trunc(3.9999999) = 3.
    ParamBlock block = blockWith({{1, 6}, {3, 70}, {4, 0}, {5, 30}}, {{0, 8}, {4, 25}, {5, 20}},
                                 0, 1, Picker, 0x00336699u);
    const Expected e{8, 6, 25, 0, -5, 5, 20, 0, 0, 0.0f, 0, 0, 3, 3, 0xFF336699u, 3};
    std::vector<uint8_t> full = directRender(host, block, e);

    EXPECT_EQ(replayBlock(&host.record, block, 1), userCanceledErr);
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0], std::make_pair(7, 50));
    const size_t rowBytes = 40 * 3;
    EXPECT_TRUE(std::equal(host.out.begin(), host.out.begin() + 15 * rowBytes, full.begin()));
    for (size_t i = 15 * rowBytes; i < host.out.size(); i += 3) {
        ASSERT_EQ(host.out[i], 0x99) << i;
        ASSERT_EQ(host.out[i + 1], 0x66) << i;
        ASSERT_EQ(host.out[i + 2], 0x33) << i;
    }
    EXPECT_TRUE(emptyRect(host.record.inRect));
    EXPECT_TRUE(emptyRect(host.record.outRect));
}

TEST(FinalRenderTest, ReplayWithoutUsableImage)
{
    {
        RandomHost host(20, 10, 3, false);
        host.giveOut = false;
        ParamBlock block = defaultParamBlock();
        EXPECT_EQ(replayBlock(&host.record, block), memFullErr);
        EXPECT_TRUE(emptyRect(host.record.inRect));
    }
    {
        RandomHost host(20, 10, 3, false);
        host.giveIn = false;
        ParamBlock block = defaultParamBlock();
        EXPECT_EQ(replayBlock(&host.record, block), memFullErr);
        for (uint8_t b : host.out)
            ASSERT_EQ(b, 0x5A);
    }
    {
        // No planes at all: refused before anything is requested.
        RandomHost host(20, 10, 0, false);
        ParamBlock block = defaultParamBlock();
        EXPECT_EQ(replayBlock(&host.record, block), filterBadMode);
        EXPECT_EQ(host.advanceCalls, 0);
    }
    {
        // An empty image: the host hands over no buffers.
        RandomHost host(0, 10, 3, false);
        ParamBlock block = defaultParamBlock();
        EXPECT_EQ(replayBlock(&host.record, block), memFullErr);
    }
    ParamBlock block = defaultParamBlock();
    EXPECT_EQ(replayBlock(nullptr, block), memFullErr);
}

TEST(FinalRenderTest, OneAndTwoPlanesRenderTheirPlanesAsInAnRgbImage)
{
    ParamBlock block = defaultParamBlock();
    block.padY[0] = 6;
    block.padX[1] = 5;
    block.padX[3] = 80;
    block.padX[4] = 40;
    block.padY[4] = 10;
    block.padX[5] = 25;
    block.padY[5] = 25;
    block.checksum = padChecksum(block);
    for (int32_t planes : {1, 2}) {
        // The buffers hold exactly `planes` bytes a pixel: a read or write past a pixel shows
        // under the address sanitizer.
        // One fake host is active at a time: the few-plane run first, then the RGB one.
        std::vector<uint8_t> fewIn, fewOut;
        {
            RandomHost few(24, 17, planes, false);
            // Below three planes the background is the default grey whatever the mode.
            ParamBlock fewBlock = block;
            fewBlock.backgroundMode = Foreground;
            EXPECT_EQ(setupRun(few.record, fewBlock, 0).resolvedColor, DefaultBackgroundColor);
            EXPECT_EQ(replayBlock(&few.record, fewBlock), noErr) << planes << " planes";
            EXPECT_TRUE(emptyRect(few.record.outRect));
            fewIn = few.in;
            fewOut = few.out;
        }
        RandomHost rgb(24, 17, 3, false);
        for (size_t p = 0; p < size_t(24 * 17); ++p)
            for (int32_t j = 0; j < planes; ++j)
                rgb.in[p * 3 + j] = fewIn[p * planes + j];
        ParamBlock rgbBlock = block; // Picker with the same grey
        EXPECT_EQ(replayBlock(&rgb.record, rgbBlock), noErr);
        size_t fill = 0;
        for (size_t p = 0; p < size_t(24 * 17); ++p)
            for (int32_t j = 0; j < planes; ++j) {
                ASSERT_EQ(fewOut[p * planes + j], rgb.out[p * 3 + j]) << "pixel " << p;
                fill += fewOut[p * planes + j] == 0xC0;
            }
        EXPECT_GT(fill, 0u) << "the skewed cells leave some of the background";
    }
}

TEST(FinalRenderTest, RenderFinalGuardsItsInputs)
{
    RandomHost host(20, 10, 3, false);
    ParamBlock block = defaultParamBlock();
    RunSetup setup = setupRun(host.record, block, 0);
    ParamContext context{&block, &host.record};
    // Without the request the buffers are missing.
    EXPECT_EQ(renderFinal(context, setup), memFullErr);
    EXPECT_EQ(renderFinal(ParamContext{nullptr, &host.record}, setup), memFullErr);
    EXPECT_EQ(renderFinal(ParamContext{&block, nullptr}, setup), memFullErr);

    // Buffers present but no rows or columns: nothing to render, nothing written.
    ASSERT_EQ(requestWholeImage(&host.record, 3), noErr);
    host.record.imageSize.v = 0;
    EXPECT_EQ(renderFinal(context, setup), noErr);
    for (uint8_t b : host.out)
        ASSERT_EQ(b, 0x5A);
    EXPECT_TRUE(emptyRect(host.record.outRect));

    // A three-plane set-up for a record with a fourth plane.
    host.record.imageSize.v = 10;
    host.record.planes = 4;
    ASSERT_EQ(requestWholeImage(&host.record, 3), noErr);
    EXPECT_EQ(renderFinal(context, setup), filterBadMode);
    for (uint8_t b : host.out)
        ASSERT_EQ(b, 0x5A);
}

} // namespace
} // namespace oryn
