// The template's dialog units at a display scale, and the reading of an extended dialog template.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "controls/DisplayScale.h"
#include "ui/DialogLayout.h"
#include "ui/PreviewRender.h"

namespace oryn {
namespace {

// Builds the bytes of an extended template as the resource compiler writes them.
struct TemplateBytes {
    std::vector<uint8_t> bytes;
    void word(uint32_t v) { bytes.push_back(uint8_t(v)); bytes.push_back(uint8_t(v >> 8)); }
    void dword(uint32_t v) { word(v & 0xFFFF); word(v >> 16); }
    void text(const char* s)
    {
        for (; *s != '\0'; ++s)
            word(uint8_t(*s));
        word(0);
    }
    void align()
    {
        while (bytes.size() % 4 != 0)
            bytes.push_back(0);
    }
    void header(uint16_t count, int16_t cx, int16_t cy, bool font)
    {
        word(1);
        word(0xFFFF);
        dword(0);                     // help id
        dword(0);                     // extended style
        dword(font ? 0x80C800C0 : 0); // style, DS_SETFONT among it
        word(count);
        word(0);
        word(0);
        word(uint16_t(cx));
        word(uint16_t(cy));
        word(0);          // no menu
        word(0);          // default class
        text("Caption");
        if (font) {
            word(8);
            word(400);
            bytes.push_back(0);
            bytes.push_back(1);
            text("MS Sans Serif");
        }
    }
    void item(int16_t x, int16_t y, int16_t cx, int16_t cy, bool namedClass, uint16_t extra)
    {
        align();
        dword(0);
        dword(0);
        dword(0x50000000);
        word(uint16_t(x));
        word(uint16_t(y));
        word(uint16_t(cx));
        word(uint16_t(cy));
        dword(1017);
        if (namedClass) {
            text("Static");
        } else {
            word(0xFFFF);
            word(0x0080); // button
        }
        text("Apply");
        word(extra);
        for (uint16_t i = 0; i < extra; ++i)
            bytes.push_back(uint8_t(i));
    }
};

TEST(DialogLayout, AtOneHundredPercentIsTheDialogManagersOwnLayout)
{
    // Rectangles the dialog manager gave the main dialog's controls at 96 DPI (MS Sans Serif 8,
    // 6 x 13 base units): position and size each rounded on their own.
    const DisplayScale base = displayScaleForDpi(96);
    const PixelRect frame = layoutRect(UnitRect{15, 15, 203, 188}, base);
    EXPECT_EQ(frame.left, 23);
    EXPECT_EQ(frame.top, 24);
    EXPECT_EQ(frame.left + frame.width, 328);
    EXPECT_EQ(frame.top + frame.height, 330);
    const PixelRect apply = layoutRect(UnitRect{324, 185, 39, 14}, base);
    EXPECT_EQ(apply.left, 486);
    EXPECT_EQ(apply.top, 301);
    EXPECT_EQ(apply.left + apply.width, 545);
    EXPECT_EQ(apply.top + apply.height, 324);
    EXPECT_EQ(unitsToPixelsX(371, base), 557);
    EXPECT_EQ(unitsToPixelsY(215, base), 349);
}

TEST(DialogLayout, EveryScaleGrowsTheTemplateByTheDrawingsFactor)
{
    // At 200% every length doubles from the 100% base units, whatever font sizes exist.
    const PixelRect frame = layoutRect(UnitRect{15, 15, 203, 188}, displayScaleForDpi(192));
    EXPECT_EQ(frame.left, 45);
    EXPECT_EQ(frame.top, 49);
    EXPECT_EQ(frame.width, 609);
    EXPECT_EQ(frame.height, 611);
    // The preview, drawn 3 units inside its frame at the scale, stays inside it at every DPI.
    for (int32_t dpi = MinDpi; dpi <= MaxDpi; ++dpi) {
        const DisplayScale scale = displayScaleForDpi(dpi);
        const PixelRect f = layoutRect(UnitRect{15, 15, 203, 188}, scale);
        const int32_t inset = scale.px(3), side = previewSide(scale);
        EXPECT_LE(inset + side, f.width) << dpi;
        EXPECT_LE(inset + side, f.height) << dpi;
        // The client area is the exact scaled length rounded to the nearest pixel.
        EXPECT_NEAR(unitsToPixelsX(371, scale), 371.0 * 6 / 4 * dpi / 96, 0.5) << dpi;
        EXPECT_NEAR(unitsToPixelsY(215, scale), 215.0 * 13 / 8 * dpi / 96, 0.5) << dpi;
    }
}

TEST(DialogLayout, ReadsSizeAndControlsOfAnExtendedTemplate)
{
    TemplateBytes t;
    t.header(2, 371, 215, true);
    t.item(324, 185, 39, 14, false, 0);
    t.item(15, 15, 203, 188, true, 3);
    DialogTemplateLayout layout;
    ASSERT_TRUE(readDialogTemplate(t.bytes.data(), t.bytes.size(), layout));
    EXPECT_EQ(layout.width, 371);
    EXPECT_EQ(layout.height, 215);
    ASSERT_EQ(layout.count, 2);
    EXPECT_EQ(layout.items[0].x, 324);
    EXPECT_EQ(layout.items[0].cy, 14);
    EXPECT_EQ(layout.items[1].y, 15);
    EXPECT_EQ(layout.items[1].cx, 203);
    // The font it names, which a change of display scale makes again at the new size.
    EXPECT_EQ(layout.pointSize, 8);
    EXPECT_EQ(layout.weight, 400);
    EXPECT_STREQ(layout.faceName, "MS Sans Serif");
    EXPECT_EQ(fontHeightForPoints(8, displayScaleForDpi(96)), -11);
    EXPECT_EQ(fontHeightForPoints(8, displayScaleForDpi(120)), -13);
    EXPECT_EQ(fontHeightForPoints(8, displayScaleForDpi(144)), -16);
    EXPECT_EQ(fontHeightForPoints(9, displayScaleForDpi(120)), -15); // 15.0 exactly
    EXPECT_EQ(fontHeightForPoints(9, displayScaleForDpi(100)), -13); // 12.5, half away from zero

    // A face name that does not fit a font description is left empty, and what follows it is
    // still read.
    TemplateBytes longFace;
    longFace.header(1, 10, 10, false);
    longFace.bytes[12] = 0xC0; // DS_SETFONT
    longFace.word(8);
    longFace.word(400);
    longFace.bytes.push_back(0);
    longFace.bytes.push_back(0);
    longFace.text("A face name of more than thirty-one letters");
    longFace.item(1, 2, 3, 4, false, 0);
    ASSERT_TRUE(readDialogTemplate(longFace.bytes.data(), longFace.bytes.size(), layout));
    EXPECT_STREQ(layout.faceName, "");
    EXPECT_EQ(layout.items[0].cy, 4);

    // Every cut of the bytes short of the last control is refused, never read past.
    for (size_t size = 0; size + 3 < t.bytes.size(); ++size)
        EXPECT_FALSE(readDialogTemplate(t.bytes.data(), size, layout)) << size;

    // An old-style template and one with more controls than the layout holds are refused.
    TemplateBytes old = t;
    old.bytes[2] = 0;
    old.bytes[3] = 0;
    EXPECT_FALSE(readDialogTemplate(old.bytes.data(), old.bytes.size(), layout));
    TemplateBytes many;
    many.header(MaxTemplateItems + 1, 10, 10, false);
    for (int i = 0; i <= MaxTemplateItems; ++i)
        many.item(1, 1, 1, 1, false, 0);
    EXPECT_FALSE(readDialogTemplate(many.bytes.data(), many.bytes.size(), layout));
    EXPECT_FALSE(readDialogTemplate(nullptr, 0, layout));
}

} // namespace
} // namespace oryn
