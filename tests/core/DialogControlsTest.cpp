// The main dialog's portable parts: where the pads and the button are placed, what one paint pass
// draws (the skew-following cell-size sliders and their captions, the stretch figure, the light
// cross-hair), the strict mouse rectangle, the preset name rules and the browser command line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "controls/RasterCanvas.h"
#include "params/PresetList.h"
#include "ui/DialogControls.h"
#include "ui/HomePageLink.h"

namespace oryn {
namespace {

constexpr uint32_t Face = 0xC0C0C0;

// The frames as the dialog's template places them at 96 dpi (dialog units x 1.5 / x 1.625).
DialogRects layout()
{
    DialogRects rects{};
    rects.previewFrame = Box{22, 24, 327, 330};
    rects.shadingFrame = Box{325, 24, 435, 115};
    rects.stretchFrame = Box{433, 24, 550, 143};
    adjustFrames(rects);
    return rects;
}

struct Controls {
    XYPad* pads[PadCount] = {};
    TriStateButton* button = nullptr;
    Controls() { EXPECT_EQ(createDialogControls(layout(), pads, button), 0); }
    ~Controls() { releaseDialogControls(pads, button); }
};

std::vector<std::string> textsAt(const RasterCanvas& dc, int32_t x, int32_t y)
{
    std::vector<std::string> found;
    for (const auto& call : dc.texts)
        if (call.x == x && call.y == y)
            found.push_back(call.text);
    return found;
}

TEST(DialogControlsTest, PadsAndButtonArePlacedByTheAdjustedFrames)
{
    const DialogRects rects = layout();
    EXPECT_EQ(rects.shadingFrame.left, 349);
    EXPECT_EQ(rects.shadingFrame.top, 48);
    EXPECT_EQ(rects.stretchFrame.left, 467);
    EXPECT_EQ(rects.stretchFrame.top, 60);
    Controls c;
    struct Want {
        int pad;
        int32_t left, top, right, bottom, flags;
        const char* label;
    } const table[] = {
        {0, 7, 18, 7, 318, 0, ""},
        {1, 16, 9, 316, 9, 0, ""},
        {2, 345, 141, 395, 141, PadRuler | PadShowValue, "S-Bevel width"},
        {3, 345, 171, 445, 171, PadRuler | PadCentred | PadShowValue, "S-Shading"},
        {4, 488, 81, 538, 131, PadSprite, ""},
        {5, 349, 48, 399, 98, PadSprite, ""},
        {6, 345, 239, 445, 239, PadRuler | PadShowValue, "Light Boosting"},
        {7, 345, 209, 445, 209, PadRuler | PadShowValue, "Brightness Ratio"},
    };
    for (const Want& w : table) {
        const XYPad& p = *c.pads[w.pad];
        SCOPED_TRACE(w.pad);
        EXPECT_EQ(p.left, w.left);
        EXPECT_EQ(p.top, w.top);
        EXPECT_EQ(p.right, w.right);
        EXPECT_EQ(p.bottom, w.bottom);
        EXPECT_EQ(p.flags, w.flags);
        EXPECT_STREQ(p.label, w.label);
    }
    EXPECT_EQ(c.pads[0]->captionBox, 0x0F182219u);
    EXPECT_EQ(c.pads[1]->captionBox, 0x0F1A1804u);
    EXPECT_EQ(c.button->x, 433);
    EXPECT_EQ(c.button->y, 147);
    EXPECT_EQ(c.button->width, 18);
}

// The cell-size sliders follow the first cell's corner as the skew moves it, and carry their
// three-digit captions; their far ends stay put, so their ranges shrink.
TEST(DialogControlsTest, CellSizeSlidersFollowTheSkewWithTheirCaptions)
{
    struct Case {
        int32_t stretchX, stretchY, width, height;
        int32_t heightTop, widthLeft;
    } const cases[] = {
        {25, 25, 35, 55, 26, 24},  // no skew: both at the frame corner + 2
        {25, 10, 49, 0, 41, 24},   // y - 25 = -15: top + 15 x 50 / 50
        {0, 25, 0, 99, 26, 74},    // 25 - x = 25: left + 25 x 100 / 50
        {50, 50, 300, 300, 26, 24}, // skews the other way move nothing
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.stretchX * 1000 + k.stretchY);
        Controls c;
        c.pads[4]->x = k.stretchX;
        c.pads[4]->y = k.stretchY;
        c.pads[1]->x = k.width;
        c.pads[0]->y = k.height;
        RasterCanvas dc(600, 400, Face);
        drawDialogControls(dc, c.pads, *c.button, layout(), 1);
        EXPECT_EQ(c.pads[0]->top, k.heightTop);
        EXPECT_EQ(c.pads[1]->left, k.widthLeft);
        EXPECT_EQ(c.pads[0]->bottom, 318);
        char text[8];
        std::snprintf(text, sizeof text, "%03d", k.height);
        EXPECT_EQ(textsAt(dc, 22 - 22, k.heightTop + k.height - 17), std::vector<std::string>{text});
        std::snprintf(text, sizeof text, "%03d", k.width);
        EXPECT_EQ(textsAt(dc, k.widthLeft + k.width + 16, 24 - 22), std::vector<std::string>{text});
    }
}

TEST(DialogControlsTest, LaterPassesRedrawOnlyTheSlidersTheButtonAndGrabbedPads)
{
    Controls c;
    c.pads[3]->x = 70;
    RasterCanvas first(600, 400, Face);
    drawDialogControls(first, c.pads, *c.button, layout(), 1);
    // Full pass: two captions, four ruler values, four labels and two captions each for the
    // stretch figure and the light cross-hair.
    EXPECT_EQ(first.texts.size(), 2u + 4u + 4u + 2u + 2u);
    EXPECT_EQ(textsAt(first, 345 - 12, 171 - 12), std::vector<std::string>{"20  "});

    RasterCanvas later(600, 400, Face);
    drawDialogControls(later, c.pads, *c.button, layout(), 0);
    EXPECT_EQ(later.texts.size(), 2u);

    c.pads[5]->grabbed = 1;
    c.pads[5]->x = 40;
    c.pads[5]->y = 5;
    RasterCanvas grabbed(600, 400, Face);
    drawDialogControls(grabbed, c.pads, *c.button, layout(), 0);
    ASSERT_EQ(grabbed.texts.size(), 4u);
    const int32_t L = 349, T = 48;
    EXPECT_EQ(textsAt(grabbed, L + 40 + 8, T + 5 - 14), std::vector<std::string>{"15 "});
    EXPECT_EQ(textsAt(grabbed, L + 40 - 18, T + 5 - 10), std::vector<std::string>{"-20"});
    // The cross-hair: a horizontal line through the marker's centre row and a vertical one
    // through its centre column, both in the pen colour.
    EXPECT_EQ(grabbed.pixel(L + 10, T + 5 + 4), 0u);
    EXPECT_EQ(grabbed.pixel(L + 40 + 4, T + 50), 0u);
    EXPECT_EQ(grabbed.pixel(L + 10, T + 5 + 6), Face);
}

TEST(DialogControlsTest, StretchFigureAndCaptions)
{
    Controls c;
    c.pads[4]->x = 35; // bottom edge shifted right by 10
    c.pads[4]->y = 15; // right edge raised by 10
    c.pads[4]->grabbed = 1;
    RasterCanvas dc(600, 400, Face);
    drawDialogControls(dc, c.pads, *c.button, layout(), 0);
    const int32_t L = 467, T = 60;
    EXPECT_EQ(textsAt(dc, L + 35 - 31, T + 44), std::vector<std::string>{"10 "});
    EXPECT_EQ(textsAt(dc, L + 44, T + 15 - 31), std::vector<std::string>{"-10"});
    // The figure runs (L, T), (L + 50, T - 10), (L + 60, T + 40), (L + 10, T + 50), back to (L, T);
    // the captions' opaque boxes cover two of its corners, so points along its edges are checked.
    EXPECT_EQ(dc.pixel(L, T), 0u);
    EXPECT_EQ(dc.pixel(L + 25, T - 5), 0u);
    EXPECT_EQ(dc.pixel(L + 55, T + 15), 0u);
    EXPECT_EQ(dc.pixel(L + 35, T + 45), 0u);
    EXPECT_EQ(dc.pixel(L + 5, T + 25), 0u);
    EXPECT_EQ(dc.pixel(L + 30, T + 20), Face);
    // The sprite marker is centred on the third corner.
    EXPECT_EQ(dc.pixel(L + 21 + 35 + 3, T + 21 + 15 + 3), 0x0000FFu);
}

TEST(DialogControlsTest, MouseInRectIsStrictOnAllFourSides)
{
    const Box r{10, 20, 30, 40};
    auto at = [](uint32_t x, uint32_t y) { return x | y << 16; };
    EXPECT_TRUE(mouseInRect(at(11, 21), r));
    EXPECT_TRUE(mouseInRect(at(29, 39), r));
    for (uint32_t p : {at(10, 25), at(30, 25), at(15, 20), at(15, 40), at(0xFFFF, 25)})
        EXPECT_FALSE(mouseInRect(p, r));
}

TEST(DialogControlsTest, PresetNameRules)
{
    struct Case {
        const char* in;
        const char* undecorated;
    } const cases[] = {
        {">Last Used", "Last Used"}, {"Warm  ", "Warm"}, {">  ", ""}, {"   ", ""},
        {">>x", ">x"}, {"", ""},
    };
    for (const Case& k : cases) {
        char name[PresetNameWorkSize];
        std::strcpy(name, k.in);
        undecorateName(name);
        EXPECT_STREQ(name, k.undecorated) << k.in;
    }
    char name[PresetNameWorkSize] = "Last Used";
    decorateName(name, sizeof name);
    EXPECT_STREQ(name, ">Last Used");
    char small[6] = "abcde";
    decorateName(small, sizeof small);
    EXPECT_STREQ(small, ">abcd");
}

TEST(DialogControlsTest, BrowserCommandLine)
{
    const char* address = "https://oryn3d.example/";
    struct Case {
        const char* registered;
        const char* started;
    } const cases[] = {
        // The placeholder's quote becomes a blank; the appended text starts with one.
        {"C:\\b\\browser.exe \"%1\"", "C:\\b\\browser.exe   https://oryn3d.example/"},
        {"browser.exe %1", "browser.exe  https://oryn3d.example/"},
        {"%1", " https://oryn3d.example/"},
        {"explorer.exe /e,/idlist", "explorer.exe  https://oryn3d.example/"},
        {"browser.exe", "browser.exe https://oryn3d.example/"},
    };
    for (const Case& k : cases) {
        char buffer[TextBufferSize];
        std::strcpy(buffer, k.registered);
        EXPECT_EQ(browserCommandLine(buffer, sizeof buffer, address), 0);
        EXPECT_STREQ(buffer, k.started) << k.registered;
    }
    // A command that leaves no room for the blank, the address and the terminator is refused and
    // left as it was.
    char buffer[TextBufferSize];
    std::string full(TextBufferSize - 1 - std::strlen(address), 'x');
    std::strcpy(buffer, full.c_str());
    EXPECT_EQ(browserCommandLine(buffer, sizeof buffer, address), 1);
    EXPECT_EQ(std::string(buffer), full);
    full.pop_back();
    std::strcpy(buffer, full.c_str());
    EXPECT_EQ(browserCommandLine(buffer, sizeof buffer, address), 0);
    EXPECT_EQ(std::strlen(buffer), TextBufferSize - 1u);
}

} // namespace
} // namespace oryn
