// The drag pad: hit box, drag state machine, clamping, double-click resets, value texts, and what
// erase and draw paint, checked on an in-memory canvas.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

#include "controls/RasterCanvas.h"
#include "controls/XYPad.h"

namespace oryn {
namespace {

constexpr uint32_t Move = 0x200, Down = 0x201, Up = 0x202, DoubleClick = 0x203;
constexpr uint32_t Face = 0xC0C0C0, Black = 0, Paint = 0x123456;

uint32_t at(int32_t x, int32_t y)
{
    return uint32_t(x) | uint32_t(y) << 16;
}

// The main dialog's looks, placed at (100, 60).
XYPad cellHeightPad()
{
    return XYPad(100, 60, 0, 300, 0, 0, 13, 0, 0, 13, 0, "", 0x0F182219);
}
XYPad cellWidthPad()
{
    return XYPad(100, 60, 300, 0, 0, 0, 13, 0, 0, 13, 0, "", 0x0F1A1804);
}
XYPad bevelPad()
{
    return XYPad(100, 60, 50, 0, 8, 0, 16, 8, 0, 8, 5, "S-Bevel width", 0);
}
XYPad shadingPad()
{
    return XYPad(100, 60, 100, 0, 8, 0, 16, 8, 0, 8, 7, "S-Shading", 0);
}
XYPad spritePad()
{
    return XYPad(100, 60, 50, 50, 0, 0, 8, 8, 0, 8, 0x10, "", 0);
}

TEST(XYPadTest, ConstructionStoresTheGeometryAndStartsIdleAtZero)
{
    XYPad pad = shadingPad();
    EXPECT_EQ(pad.right, 200);
    EXPECT_EQ(pad.bottom, 60);
    EXPECT_EQ(pad.x, 0);
    EXPECT_EQ(pad.y, 0);
    EXPECT_EQ(pad.grabbed, 0);
    EXPECT_STREQ(pad.label, "S-Shading");
    const char longLabel[] = "0123456789012345678901234567890123456789";
    XYPad truncated(0, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1, longLabel, 0);
    EXPECT_EQ(std::strlen(truncated.label), 31u);
}

TEST(XYPadTest, HitBoxIncludesBothEnds)
{
    struct Case {
        int32_t dx, dy;
        bool grabs;
    } cases[] = {{0, 0, true},   {16, 8, true}, {16, 0, true},  {0, 8, true},
                 {17, 0, false}, {0, 9, false}, {-1, 4, false}, {8, -1, false}};
    for (const Case& c : cases) {
        XYPad pad = shadingPad();
        pad.x = 30;
        RasterCanvas dc(400, 200, Face);
        EXPECT_EQ(pad.handleMouse(dc, Down, 1, at(130 + c.dx, 60 + c.dy)), 0);
        EXPECT_EQ(pad.grabbed, c.grabs ? 1 : 0) << c.dx << "," << c.dy;
    }
}

TEST(XYPadTest, DragKeepsTheGrabOffsetAndClampsToTheTrack)
{
    XYPad pad = spritePad();
    pad.x = 10;
    pad.y = 20;
    RasterCanvas dc(400, 300, Face);
    // Grabbed 3 pixels right and 5 below the marker origin: the marker does not jump.
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(113, 85)), 0);
    struct Step {
        int32_t mx, my, x, y;
    } steps[] = {{113, 85, 10, 20}, {120, 80, 17, 15}, {200, 85, 50, 20},
                 {50, 0, 0, 0},     {90, 150, 0, 50},  {140, 100, 37, 35}};
    for (const Step& s : steps) {
        EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(s.mx, s.my)), 1);
        EXPECT_EQ(pad.x, s.x) << s.mx;
        EXPECT_EQ(pad.y, s.y) << s.my;
    }
    // A one-axis pad keeps the other axis at 0.
    XYPad slider = bevelPad();
    ASSERT_EQ(slider.handleMouse(dc, Down, 1, at(104, 64)), 0);
    EXPECT_EQ(slider.handleMouse(dc, Move, 1, at(124, 90)), 1);
    EXPECT_EQ(slider.x, 20);
    EXPECT_EQ(slider.y, 0);
}

TEST(XYPadTest, ShrunkRangeClampsNegativesFirstAndKeepsOldValuesUntilDragged)
{
    RasterCanvas dc(800, 200, Face);
    XYPad pad = cellWidthPad(); // right stays 400
    pad.x = 250;
    pad.left = 200; // range now 200; the value stays until a drag step
    EXPECT_EQ(pad.x, 250);
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(450, 60)), 0);
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(452, 60)), 1);
    EXPECT_EQ(pad.x, 200);
    // A range that has shrunk below zero: the upper clamp comes last and wins.
    pad.left = 410;
    pad.x = 0;
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(410, 60)), 0);
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(400, 60)), 1);
    EXPECT_EQ(pad.x, -10);
}

TEST(XYPadTest, OnlyTheLeftButtonAloneMovesAndTheGrabOffsetSurvivesModifiers)
{
    RasterCanvas dc(400, 200, Face);
    XYPad pad = shadingPad();
    pad.x = 40;
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(145, 62)), 0);
    for (uint32_t keys : {0u, 5u /* Shift */, 9u /* Ctrl */, 3u /* right too */, 0x11u}) {
        EXPECT_EQ(pad.handleMouse(dc, Move, keys, at(170, 62)), 0) << keys;
        EXPECT_EQ(pad.x, 40);
    }
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(170, 62)), 1);
    EXPECT_EQ(pad.x, 65);
}

TEST(XYPadTest, ButtonUpAnywhereReleasesWithoutCapture)
{
    RasterCanvas dc(400, 200, Face);
    XYPad pad = shadingPad();
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(102, 62)), 0);
    EXPECT_EQ(pad.grabbed, 1);
    // No capture: while the button-up happens outside the dialog the pad stays held, and a move
    // back inside drags with the old offset.
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(132, 10)), 1);
    EXPECT_EQ(pad.x, 30);
    EXPECT_EQ(pad.handleMouse(dc, Up, 0, at(390, 190)), 0);
    EXPECT_EQ(pad.grabbed, 0);
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(150, 62)), 0);
    EXPECT_EQ(pad.x, 30);
    // A button-down outside the marker leaves the pad idle: no click-to-position.
    EXPECT_EQ(pad.handleMouse(dc, Down, 1, at(180, 62)), 0);
    EXPECT_EQ(pad.grabbed, 0);
}

// A hold whose button-up never arrived (the button was released outside the dialog)
// must not let a later press elsewhere drag the pad: a press that misses the marker ends it.
TEST(XYPadTest, APressThatMissesTheMarkerEndsAStaleHold)
{
    RasterCanvas dc(400, 200, Face);
    XYPad pad = cellWidthPad();
    pad.x = 35;
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(140, 65)), 0);
    ASSERT_EQ(pad.grabbed, 1);
    // No button-up: a press far from the marker, then a drag.
    EXPECT_EQ(pad.handleMouse(dc, Down, 1, at(300, 150)), 0);
    EXPECT_EQ(pad.grabbed, 0);
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, at(390, 150)), 0);
    EXPECT_EQ(pad.x, 35);
}

// Under the dialog's mouse capture the pointer can be left of or above the client area; its
// coordinates arrive as negative 16-bit values and clamp to the near end, not the far one.
TEST(XYPadTest, CapturedMovesLeftOfTheClientAreaClampToTheStart)
{
    RasterCanvas dc(400, 200, Face);
    XYPad pad = cellWidthPad();
    pad.x = 35;
    ASSERT_EQ(pad.handleMouse(dc, Down, 1, at(140, 65)), 0);
    const uint32_t leftOfClient = uint32_t(uint16_t(int16_t(-40))) | uint32_t(65) << 16;
    EXPECT_EQ(pad.handleMouse(dc, Move, 1, leftOfClient), 1);
    EXPECT_EQ(pad.x, 0);
    XYPad height = cellHeightPad();
    height.y = 50;
    ASSERT_EQ(height.handleMouse(dc, Down, 1, at(105, 115)), 0);
    const uint32_t aboveClient = uint32_t(105) | uint32_t(uint16_t(int16_t(-20))) << 16;
    EXPECT_EQ(height.handleMouse(dc, Move, 1, aboveClient), 1);
    EXPECT_EQ(height.y, 0);
}

TEST(XYPadTest, DoubleClickResetsByLook)
{
    struct Case {
        const char* name;
        XYPad pad;
        int32_t result, x, y;
    } cases[] = {
        {"outline", cellWidthPad(), 0, 77, 9},
        {"bevel", bevelPad(), 1, 0, 0},
        {"shading", shadingPad(), 1, 50, 0},
        {"sprite", spritePad(), 1, 25, 25},
    };
    for (Case& c : cases) {
        c.pad.x = 77;
        c.pad.y = 9;
        RasterCanvas dc(400, 300, Face);
        EXPECT_EQ(c.pad.handleMouse(dc, DoubleClick, 1, at(177 + 5, 69 + 1)), c.result) << c.name;
        EXPECT_EQ(c.pad.x, c.x) << c.name;
        EXPECT_EQ(c.pad.y, c.y) << c.name;
        EXPECT_EQ(c.pad.grabbed, c.result) << c.name;
        // Outside the marker box nothing resets.
        XYPad other = c.pad;
        other.x = 77;
        other.grabbed = 0;
        EXPECT_EQ(other.handleMouse(dc, DoubleClick, 1, at(100, 200)), 0) << c.name;
        EXPECT_EQ(other.x, 77);
    }
}

TEST(XYPadTest, ValueTextsAndTheFourDrawnCharacters)
{
    struct Case {
        XYPad pad;
        int32_t x;
        const char* stored;
        const char* drawn;
    } cases[] = {
        {shadingPad(), 0, "-50  ", "-50 "},
        {shadingPad(), 50, "00  ", "00  "},
        {shadingPad(), 100, "50  ", "50  "},
        {shadingPad(), 43, "-07  ", "-07 "},
        {bevelPad(), 5, "05  ", "05  "},
        {bevelPad(), 100, "100  ", "100 "},
        // Stored records may carry any value; the text is cut, never overrun.
        {bevelPad(), -32768, "-32768 ", "-327"},
    };
    for (Case& c : cases) {
        c.pad.x = c.x;
        RasterCanvas dc(400, 200, Face);
        c.pad.draw(dc);
        EXPECT_STREQ(c.pad.valueText, c.stored);
        ASSERT_EQ(dc.texts.size(), 2u);
        EXPECT_EQ(dc.texts[1].text, c.drawn);
        EXPECT_EQ(dc.texts[1].x, 88);
        EXPECT_EQ(dc.texts[1].y, 48);
    }
    // A ruler pad without PadShowValue formats but draws only its label.
    XYPad silent(100, 60, 100, 0, 8, 0, 16, 8, 0, 8, PadRuler, "quiet", 0);
    silent.x = 3;
    RasterCanvas dc(400, 200, Face);
    silent.draw(dc);
    EXPECT_STREQ(silent.valueText, "03  ");
    ASSERT_EQ(dc.texts.size(), 1u);
}

// Every pixel of the canvas that differs from `background`.
std::set<std::pair<int32_t, int32_t>> changed(const RasterCanvas& dc, uint32_t background)
{
    std::set<std::pair<int32_t, int32_t>> out;
    for (int32_t y = 0; y < dc.height; ++y)
        for (int32_t x = 0; x < dc.width; ++x)
            if (dc.pixel(x, y) != background)
                out.insert({x, y});
    return out;
}

std::set<std::pair<int32_t, int32_t>> boxPixels(std::initializer_list<Box> boxes)
{
    std::set<std::pair<int32_t, int32_t>> out;
    for (const Box& b : boxes)
        for (int32_t y = b.top; y < b.bottom; ++y)
            for (int32_t x = b.left; x < b.right; ++x)
                out.insert({x, y});
    return out;
}

TEST(XYPadTest, EraseFillsTheMarkerBoxAndTheCompanionBox)
{
    struct Case {
        const char* name;
        XYPad pad;
        std::set<std::pair<int32_t, int32_t>> erased;
    } cases[] = {
        // Origin (100 + 7, 60 + 11).
        {"cell height", cellHeightPad(), boxPixels({{107, 71, 121, 85}, {98, 53, 122, 68}})},
        {"cell width", cellWidthPad(), boxPixels({{107, 71, 121, 85}, {119, 63, 145, 78}})},
        {"no companion", XYPad(100, 60, 50, 50, 0, 0, 13, 0, 0, 13, 0, "", 0),
         boxPixels({{107, 71, 121, 85}})},
        {"labelled", shadingPad(), boxPixels({{107, 71, 124, 80}})},
    };
    for (Case& c : cases) {
        c.pad.x = 7;
        c.pad.y = 11;
        RasterCanvas dc(400, 200, Face);
        dc.pixels.assign(dc.pixels.size(), Paint);
        c.pad.erase(dc);
        EXPECT_EQ(changed(dc, Paint), c.erased) << c.name;
    }
}

TEST(XYPadTest, DrawPaintsEachLook)
{
    {
        // Outline marker: the closed triangle only.
        XYPad pad = cellWidthPad();
        pad.x = 20;
        RasterCanvas dc(400, 200, Face);
        pad.draw(dc);
        std::set<std::pair<int32_t, int32_t>> triangle;
        for (int i = 0; i <= 13; ++i) {
            triangle.insert({120 + i, 60});
            triangle.insert({120, 60 + i});
            triangle.insert({120 + 13 - i, 60 + i});
        }
        EXPECT_EQ(changed(dc, Face), triangle);
        EXPECT_TRUE(dc.texts.empty());
    }
    {
        // Sprite: 60 red pixels, corners left undrawn, nothing else.
        XYPad pad = spritePad();
        pad.x = 5;
        pad.y = 6;
        RasterCanvas dc(400, 200, Face);
        pad.draw(dc);
        EXPECT_EQ(changed(dc, Face).size(), 60u);
        EXPECT_EQ(dc.pixel(105, 66), Face);
        EXPECT_EQ(dc.pixel(106, 66), rgb(64, 0, 0));
        EXPECT_EQ(dc.pixel(106, 67), rgb(255, 0, 0));
        EXPECT_EQ(dc.pixel(112, 73), Face);
        EXPECT_TRUE(dc.texts.empty());
    }
    {
        // Slider: triangle up at the ruler, label, ruler with end ticks, centre tick, value.
        XYPad pad = shadingPad();
        pad.x = 70;
        RasterCanvas dc(400, 200, Face);
        pad.draw(dc);
        ASSERT_EQ(dc.texts.size(), 2u);
        EXPECT_EQ(dc.texts[0].text, "S-Shading");
        EXPECT_EQ(dc.texts[0].x, 114);
        EXPECT_EQ(dc.texts[0].y, 41);
        EXPECT_EQ(dc.texts[1].text, "20  ");
        // Triangle apex (178, 60), base from (170, 68) to (186, 68).
        EXPECT_EQ(dc.pixel(178, 60), Black);
        EXPECT_EQ(dc.pixel(170, 68), Black);
        EXPECT_EQ(dc.pixel(186, 68), Black);
        EXPECT_EQ(dc.pixel(178, 64), Face);
        // The ruler at top - 2 from 108 to 208 with ticks up to top - 5 on the right (the value
        // text's opaque box covers the left end).
        for (int32_t x = 120; x <= 208; ++x)
            EXPECT_EQ(dc.pixel(x, 58), Black) << x;
        EXPECT_EQ(dc.pixel(209, 58), Face);
        EXPECT_EQ(dc.pixel(208, 57), Black);
        EXPECT_EQ(dc.pixel(208, 56), Black);
        EXPECT_EQ(dc.pixel(208, 55), Face);
        // Centre tick at left + 50 + x0.
        EXPECT_EQ(dc.pixel(158, 57), Black);
        EXPECT_EQ(dc.pixel(158, 56), Black);
        EXPECT_EQ(dc.pixel(157, 57), Face);
        EXPECT_EQ(dc.pixel(159, 56), Face);
    }
}

// From 200% the lines are two pixels wide (a whole multiple of the 100% line), and a marker's
// erase still takes all of it: drawn, erased and drawn elsewhere, nothing of the first is left.
TEST(XYPadTest, LinesGrowByWholePixelsAndTheEraseTakesThemAll)
{
    EXPECT_EQ(displayScaleForDpi(96).lineWidth(), 1);
    EXPECT_EQ(displayScaleForDpi(144).lineWidth(), 1);
    EXPECT_EQ(displayScaleForDpi(191).lineWidth(), 1);
    EXPECT_EQ(displayScaleForDpi(192).lineWidth(), 2);
    EXPECT_EQ(displayScaleForDpi(288).lineWidth(), 3);

    const DisplayScale scale = displayScaleForDpi(192);
    XYPad width(100, 60, 300, 0, 0, 0, 13, 0, 0, 13, 0, "", 0x0F1A1804, scale);
    XYPad shading(100, 60, 100, 0, 8, 0, 16, 8, 0, 8, 7, "S-Shading", 0, scale);
    for (XYPad* pad : {&width, &shading}) {
        RasterCanvas dc(700, 200, Face);
        pad->x = 20;
        pad->draw(dc);
        const int32_t ox = pad->originX(), oy = pad->originY();
        if (pad == &width) {
            // The triangle's upright side (x = origin) is two columns wide.
            int32_t inked = 0;
            for (int32_t x = ox - 3; x <= ox + 3; ++x)
                inked += dc.pixel(x, oy + 10) == Black ? 1 : 0;
            EXPECT_EQ(inked, 2);
        }
        pad->erase(dc);
        if (pad == &shading) {
            // The ruler (top - 2 units) is two rows: 56 and 57 at this scale.
            EXPECT_EQ(dc.pixel(300, 56), Black);
            EXPECT_EQ(dc.pixel(300, 57), Black);
            EXPECT_EQ(dc.pixel(300, 55), Face);
            EXPECT_EQ(dc.pixel(300, 58), Face);
        }
        const std::set<std::pair<int32_t, int32_t>> rest = changed(dc, Face);
        for (const auto& [x, y] : rest)
            EXPECT_FALSE(x >= ox && x < ox + scale.px(16) + 2 && y >= oy && y < oy + scale.px(13) + 2)
                << pad->label << " keeps " << x << "," << y << " after the erase";
    }
}

} // namespace
} // namespace oryn
