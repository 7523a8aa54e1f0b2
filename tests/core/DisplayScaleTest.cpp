// The display scale: its rounding, and what the pads, the button and the preview do with it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "FakeHost.h"
#include "controls/DisplayScale.h"
#include "controls/RasterCanvas.h"
#include "controls/TriStateButton.h"
#include "controls/XYPad.h"
#include "host/RunSetup.h"
#include "ui/PreviewRender.h"

namespace oryn {
namespace {

constexpr uint32_t Move = 0x200, Down = 0x201, Up = 0x202, DoubleClick = 0x203;

uint32_t at(int32_t x, int32_t y) { return uint32_t(x) | uint32_t(y) << 16; }

TEST(DisplayScaleTest, LengthsRoundLikeMulDivAndAreThemselvesAt96)
{
    const DisplayScale base = displayScaleForDpi(96);
    for (int32_t v : {-300, -7, -1, 0, 1, 3, 13, 300})
        EXPECT_EQ(base.px(v), v);
    const DisplayScale s144 = displayScaleForDpi(144);
    EXPECT_EQ(s144.px(3), 5);   // 4.5 rounds away from zero
    EXPECT_EQ(s144.px(-3), -5);
    EXPECT_EQ(s144.px(300), 450);
    EXPECT_EQ(s144.units(30), 20);
    EXPECT_EQ(s144.truncated(35), 52); // 52.5 truncated
    const DisplayScale s120 = displayScaleForDpi(120);
    EXPECT_EQ(s120.px(300), 375);
    EXPECT_EQ(s120.px(13), 16); // 16.25
    EXPECT_EQ(s120.units(25), 20);
}

TEST(DisplayScaleTest, OutOfRangeDpiIsBroughtIn)
{
    EXPECT_EQ(displayScaleForDpi(0).dpi, 96);
    EXPECT_EQ(displayScaleForDpi(-5).dpi, 96);
    EXPECT_EQ(displayScaleForDpi(72).dpi, 96);
    EXPECT_EQ(displayScaleForDpi(10000).dpi, 480);
}

// A drag at 150% moves the value by the pixels over 1.5, and the range stays 300 units although
// the track is 450 pixels long; the marker is drawn 1.5 times as large.
TEST(DisplayScaleTest, PadDragsInUnitsAndDrawsScaled)
{
    const DisplayScale scale = displayScaleForDpi(144);
    XYPad pad(100, 60, 300, 0, 0, 0, 13, 0, 0, 13, 0, "", 0, scale);
    EXPECT_EQ(pad.right, 550);
    EXPECT_EQ(pad.rangeX(), 300);
    pad.x = 35;
    RasterCanvas dc(800, 200, 0xC0C0C0);
    const int32_t origin = 100 + scale.px(35); // 153
    EXPECT_EQ(pad.originX(), origin);
    // The marker box is 13 x 13 at 100%, 20 x 20 here: a press on its far corner grabs.
    EXPECT_TRUE(pad.inMarkerBox(origin + 20, 80));
    EXPECT_FALSE(pad.inMarkerBox(origin + 21, 60));
    EXPECT_EQ(pad.handleMouse(dc, Down, 1, at(origin + 5, 65)), 0);
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(origin + 5 + 30, 65)), 1);
    EXPECT_EQ(pad.x, 55);
    // Far beyond the track: clamped to the range in units.
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(790, 65)), 1);
    EXPECT_EQ(pad.x, 300);
    pad.handleMouse(dc, Up, 0, at(790, 65));
    pad.x = 0;
    pad.draw(dc);
    // The triangle's top edge runs 20 pixels from the origin, its left edge 20 down.
    EXPECT_EQ(dc.pixel(100, 60), 0u);
    EXPECT_EQ(dc.pixel(119, 60), 0u);
    EXPECT_EQ(dc.pixel(100, 79), 0u);
    EXPECT_EQ(dc.pixel(121, 60), 0xC0C0C0u);
}

TEST(DisplayScaleTest, ShadingResetGoesToTheMiddleInUnits)
{
    XYPad pad(50, 100, 100, 0, 8, 0, 16, 8, 0, 8, PadRuler | PadCentred | PadShowValue,
              "S-Shading", 0, displayScaleForDpi(192));
    RasterCanvas dc(400, 200, 0xC0C0C0);
    EXPECT_EQ(pad.handleMouse(dc, DoubleClick, 1, at(50 + 16, 100 + 8)), 1);
    EXPECT_EQ(pad.x, 50);
    pad.draw(dc);
    ASSERT_FALSE(dc.texts.empty());
    EXPECT_EQ(dc.texts.back().text, "00  ");
    EXPECT_EQ(dc.texts.back().x, 50 - 24);
}

TEST(DisplayScaleTest, SpriteAndButtonAreEnlargedWholePixels)
{
    const DisplayScale scale = displayScaleForDpi(192);
    XYPad sprite(10, 10, 50, 50, 0, 0, 8, 8, 0, 8, PadSprite, "", 0, scale);
    RasterCanvas dc(200, 200, 0xC0C0C0);
    sprite.draw(dc);
    // Sprite pixel (0, 0) is transparent, (1, 1) bright red: 2 x 2 blocks each.
    EXPECT_EQ(dc.pixel(10, 10), 0xC0C0C0u);
    EXPECT_EQ(dc.pixel(11, 11), 0xC0C0C0u);
    EXPECT_EQ(dc.pixel(12, 12), rgb(255, 0, 0));
    EXPECT_EQ(dc.pixel(13, 13), rgb(255, 0, 0));
    EXPECT_EQ(dc.pixel(24, 20), rgb(64, 0, 0)); // the right border column, doubled
    EXPECT_EQ(dc.pixel(25, 20), rgb(64, 0, 0));
    EXPECT_EQ(dc.pixel(26, 20), 0xC0C0C0u);
    EXPECT_EQ(dc.pixel(25, 25), 0xC0C0C0u); // a transparent corner

    TriStateButton button(100, 100, 18, 18, scale);
    EXPECT_EQ(button.handleMouse(Down, 1, at(100 + 33, 100 + 33)), 1);
    EXPECT_EQ(button.handleMouse(Down, 1, at(100 + 34, 100)), 0);
}

// The preview at 96 DPI is exactly the one of the unscaled functions; at 144 it is 450 pixels a
// side, its cells 1.5 times as large, and a small image is enlarged instead of left small.
TEST(DisplayScaleTest, PreviewAtAScale)
{
    EXPECT_EQ(previewSide(displayScaleForDpi(96)), 300);
    EXPECT_EQ(previewSide(displayScaleForDpi(144)), 450);
    EXPECT_EQ(previewImageScale(1000, 500, displayScaleForDpi(96)), computeImageScale(1000, 500));
    const float big = previewImageScale(1000, 500, displayScaleForDpi(144));
    EXPECT_EQ(previewArea(1000, 500, big, 450).right, 449);
    const float small = previewImageScale(64, 48, displayScaleForDpi(144));
    EXPECT_LT(small, 1.0f);
    const PreviewArea area = previewArea(64, 48, small, 450);
    EXPECT_GE(area.right, 95);
    EXPECT_LE(area.right, 96);

    FakeHost host(64, 48, 3, false, 0);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x)
            for (int p = 0; p < 3; ++p)
                host.in[(size_t(y) * 64 + x) * 3 + p] = uint8_t(x * 4 + p);
    auto buffers = std::make_unique<PreviewBuffers>(displayScaleForDpi(144));
    ASSERT_TRUE(buffers->ready());
    PreviewArea got{};
    ASSERT_EQ(previewTransfer(&host.record, 3, small, *buffers, got), noErr);
    EXPECT_EQ(got.right, area.right);
    // Enlarged by about 1.5 with whole source pixels: the red byte (offset 2) of preview column
    // c is source column trunc((c + 0.5) x scale).
    for (int32_t c = 0; c < got.right; ++c) {
        const int32_t j = int32_t((c + 0.5) * double(small));
        EXPECT_EQ(buffers->previewSource[size_t(c) * 3 + 2], uint8_t(j * 4)) << c;
    }
}

} // namespace
} // namespace oryn
