// Keyboard rules of the pads, table-driven for each kind of pad the dialog makes: arrow steps,
// Shift steps, the ends of the range, the double-click reset, clamping of stored values beyond a
// shrunk range, and numbers typed into a caption.
#include <gtest/gtest.h>

#include <string>

#include "controls/PadKeys.h"
#include "controls/RasterCanvas.h"
#include "controls/XYPad.h"

namespace oryn {
namespace {

constexpr uint32_t Face = 0xC0C0C0;

// The dialog's pad kinds, with its ranges, markers and flags.
XYPad cellHeight()
{
    return XYPad(7, 18, 0, 300, 0, 0, 13, 0, 0, 13, 0, "", 0x0F182219u);
}
XYPad cellWidth()
{
    return XYPad(16, 9, 300, 0, 0, 0, 13, 0, 0, 13, 0, "", 0x0F1A1804u);
}
XYPad bevel()
{
    return XYPad(345, 141, 50, 0, 8, 0, 16, 8, 0, 8, PadRuler | PadShowValue, "S-Bevel width", 0);
}
XYPad shading()
{
    return XYPad(345, 171, 100, 0, 8, 0, 16, 8, 0, 8, PadRuler | PadCentred | PadShowValue,
                 "S-Shading", 0);
}
XYPad boost()
{
    return XYPad(345, 239, 100, 0, 8, 0, 16, 8, 0, 8, PadRuler | PadShowValue, "Light Boosting", 0);
}
XYPad light()
{
    return XYPad(349, 48, 50, 50, 0, 0, 8, 8, 0, 8, PadSprite, "", 0);
}

enum Kind { Height, Width, Bevel, Shading, Boost, Light };

XYPad make(Kind kind)
{
    switch (kind) {
    case Height:
        return cellHeight();
    case Width:
        return cellWidth();
    case Bevel:
        return bevel();
    case Shading:
        return shading();
    case Boost:
        return boost();
    default:
        return light();
    }
}

const char* name(Kind kind)
{
    const char* names[] = {"cell height", "cell width", "bevel", "shading", "boost", "light"};
    return names[kind];
}

struct KeyCase {
    Kind kind;
    int32_t x, y;
    uint32_t key, modifiers;
    int32_t result; // what handleKey returns
    int32_t wantX, wantY;
};

TEST(PadKeysTest, KeysMoveEachKindOfPadAlongItsAxes)
{
    const KeyCase cases[] = {
        // One unit, ten with Shift, only along an axis that has a range.
        {Width, 35, 0, KeyRight, 0, 1, 36, 0},
        {Width, 35, 0, KeyLeft, 0, 1, 34, 0},
        {Width, 35, 0, KeyRight, ShiftHeld, 1, 45, 0},
        {Width, 35, 0, KeyLeft, ShiftHeld, 1, 25, 0},
        {Width, 35, 0, KeyUp, 0, 0, 35, 0},
        {Width, 35, 0, KeyDown, 0, 0, 35, 0},
        {Height, 0, 55, KeyDown, 0, 1, 0, 56},
        {Height, 0, 55, KeyUp, ShiftHeld, 1, 0, 45},
        {Height, 0, 55, KeyLeft, 0, 0, 0, 55},
        {Height, 0, 55, KeyRight, 0, 0, 0, 55},
        {Light, 20, 30, KeyRight, 0, 1, 21, 30},
        {Light, 20, 30, KeyUp, 0, 1, 20, 29},
        {Light, 20, 30, KeyDown, ShiftHeld, 1, 20, 40},
        {Light, 20, 30, KeyLeft, ShiftHeld, 1, 10, 30},
        // Clamped at both ends, as a drag step clamps.
        {Width, 295, 0, KeyRight, ShiftHeld, 1, 300, 0},
        {Width, 300, 0, KeyRight, 0, 0, 300, 0},
        {Bevel, 3, 0, KeyLeft, ShiftHeld, 1, 0, 0},
        {Bevel, 0, 0, KeyLeft, 0, 0, 0, 0},
        {Light, 48, 2, KeyDown, 0, 1, 48, 3},
        {Light, 45, 0, KeyUp, 0, 0, 45, 0},
        {Light, 50, 10, KeyRight, ShiftHeld, 0, 50, 10},
        // A stored value beyond the range is clamped by the first step in either direction.
        {Bevel, 70, 0, KeyLeft, 0, 1, 50, 0},
        {Bevel, 70, 0, KeyRight, 0, 1, 50, 0},
        {Boost, -4, 0, KeyRight, 0, 1, 0, 0},
        // Home and End: the ends of the horizontal range, of the vertical one for a vertical pad.
        {Width, 35, 0, KeyHome, 0, 1, 0, 0},
        {Width, 35, 0, KeyEnd, 0, 1, 300, 0},
        {Height, 0, 55, KeyHome, 0, 1, 0, 0},
        {Height, 0, 55, KeyEnd, 0, 1, 0, 300},
        {Shading, 70, 0, KeyEnd, 0, 1, 100, 0},
        {Light, 20, 30, KeyHome, 0, 1, 0, 30},
        {Light, 20, 30, KeyEnd, 0, 1, 50, 30},
        // Page Up and Page Down: the ends of a two-axis pad's vertical range, nothing elsewhere.
        {Light, 20, 30, KeyPageUp, 0, 1, 20, 0},
        {Light, 20, 30, KeyPageDown, 0, 1, 20, 50},
        {Width, 35, 0, KeyPageDown, 0, 0, 35, 0},
        {Height, 0, 55, KeyPageUp, 0, 0, 0, 55},
        // Delete resets as a double-click does; the outline pads have no reset.
        {Bevel, 30, 0, KeyDelete, 0, 1, 0, 0},
        {Shading, 70, 0, KeyDelete, 0, 1, 50, 0},
        {Shading, 50, 0, KeyDelete, 0, 0, 50, 0},
        {Boost, 30, 0, KeyDelete, 0, 1, 0, 0},
        {Light, 3, 44, KeyDelete, 0, 1, 25, 25},
        {Width, 35, 0, KeyDelete, 0, 0, 35, 0},
        {Height, 0, 55, KeyDelete, 0, 0, 0, 55},
        // Keys that mean nothing to a pad.
        {Width, 35, 0, KeySpace, 0, 0, 35, 0},
        {Light, 20, 30, KeyReturn, 0, 0, 20, 30},
        {Bevel, 20, 0, 'A', 0, 0, 20, 0},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(std::string(name(c.kind)) + " key " + std::to_string(c.key) + " at " +
                     std::to_string(c.x) + "," + std::to_string(c.y));
        XYPad pad = make(c.kind);
        pad.x = c.x;
        pad.y = c.y;
        RasterCanvas dc(600, 400, Face);
        EXPECT_EQ(pad.handleKey(dc, c.key, c.modifiers), c.result);
        EXPECT_EQ(pad.x, c.wantX);
        EXPECT_EQ(pad.y, c.wantY);
        EXPECT_EQ(pad.grabbed, 0); // a key never leaves the pad held for the mouse
    }
}

TEST(PadKeysTest, AKeyThatMovesErasesTheMarkerAndCaptionAtTheOldPlaceOnly)
{
    XYPad pad = cellWidth();
    pad.x = 40;
    const Box caption = pad.companionBox();
    // A canvas painted all over in another colour shows what was erased.
    constexpr uint32_t Paint = 0x123456;
    RasterCanvas dc(600, 400, Face);
    dc.fill(Box{0, 0, 600, 400}, Paint);
    EXPECT_EQ(pad.handleKey(dc, KeyRight, 0), 1);
    // The old marker box (origin 56,9, both ends included) and the caption box are face now.
    EXPECT_EQ(dc.pixel(56, 9), Face);
    EXPECT_EQ(dc.pixel(69, 22), Face);
    EXPECT_EQ(dc.pixel(56, 23), Paint);
    EXPECT_EQ(dc.pixel(caption.left, caption.top), Face);
    EXPECT_EQ(dc.pixel(caption.right - 1, caption.bottom - 1), Face);
    EXPECT_EQ(dc.pixel(caption.right, caption.top), Paint);
    // Nothing is drawn: the owner draws the marker at its new place.
    EXPECT_TRUE(dc.texts.empty());

    // A key that changes nothing erases nothing.
    RasterCanvas still(600, 400, Paint);
    pad.x = 300;
    EXPECT_EQ(pad.handleKey(still, KeyEnd, 0), 0);
    for (uint32_t value : still.pixels)
        ASSERT_EQ(value, Paint);
}

TEST(PadKeysTest, TypedTextsBecomeClampedPadValues)
{
    struct Case {
        const char* text;
        int32_t offset, range;
        bool taken;
        int32_t value;
    } const cases[] = {
        {"120", 0, 300, true, 120},
        {"0", 0, 300, true, 0},
        {"999", 0, 300, true, 300},
        {"007", 0, 50, true, 7},
        {"-10", 50, 100, true, 40},
        {"-50", 50, 100, true, 0},
        {"-90", 50, 100, true, 0},
        {"50", 50, 100, true, 100},
        {"80", 50, 100, true, 100},
        {"-25", 25, 50, true, 0},
        {"12", 25, 50, true, 37},
        {"", 0, 300, false, -1},
        {"-", 25, 50, false, -1},
        {"1-", 0, 300, false, -1},
        {"99999999", 0, 300, true, 300},
        // A range that has shrunk below the typed number clamps to what is left of it.
        {"280", 0, 250, true, 250},
    };
    for (const Case& c : cases) {
        int32_t value = -1;
        EXPECT_EQ(typedPadValue(c.text, c.offset, c.range, value), c.taken) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(PadKeysTest, CaptionsShowValuesRelativeToTheCentreOfCentredAndSpritePads)
{
    EXPECT_EQ(padDisplayOffset(300, 0, 0), 0);
    EXPECT_EQ(padDisplayOffset(300, 0, 1), 0);
    EXPECT_EQ(padDisplayOffset(50, PadRuler | PadShowValue, 0), 0);
    EXPECT_EQ(padDisplayOffset(100, PadRuler | PadCentred | PadShowValue, 0), 50);
    EXPECT_EQ(padDisplayOffset(0, PadRuler | PadCentred | PadShowValue, 1), 0);
    EXPECT_EQ(padDisplayOffset(50, PadSprite, 0), 25);
    EXPECT_EQ(padDisplayOffset(50, PadSprite, 1), 25);
    // The longest number each caption takes: three digits for 0..300 and 0..100, two for 0..50,
    // a sign and two digits for -50..50 and -25..25.
    EXPECT_EQ(padEntryLength(cellHeight(), 1), 3);
    EXPECT_EQ(padEntryLength(cellWidth(), 0), 3);
    EXPECT_EQ(padEntryLength(bevel(), 0), 2);
    EXPECT_EQ(padEntryLength(shading(), 0), 3);
    EXPECT_EQ(padEntryLength(boost(), 0), 3);
    EXPECT_EQ(padEntryLength(light(), 0), 3);
    EXPECT_EQ(padEntryLength(light(), 1), 3);
}

// Types `keys` (with '\b' for Backspace) into pad `index` and returns what each axis holds,
// "x|y", with "*" after the axis being typed; "-" when nothing is typed any more.
std::string typed(const XYPad& pad, int32_t index, const char* keys, std::string* results = nullptr)
{
    PadEntry entry;
    for (const char* k = keys; *k != '\0'; ++k) {
        const int32_t r = typePadEntry(entry, index, pad, *k);
        if (results != nullptr)
            *results += char('0' + r);
    }
    if (!entryActive(entry, index))
        return "-";
    return std::string(entry.text[0]) + (entry.axis == 0 ? "*" : "") + "|" + entry.text[1] +
           (entry.axis == 1 ? "*" : "");
}

TEST(PadKeysTest, TypingFillsTheCaptionOfTheRightAxis)
{
    struct Case {
        Kind kind;
        const char* keys;
        const char* entry;
        const char* results; // typePadEntry's answer per key
    } const cases[] = {
        // One-axis pads type their moving axis, at most as many digits as the caption takes.
        {Width, "120", "120*|", "111"},
        {Width, "1204", "120*|", "1110"},
        {Height, "75", "|75*", "11"},
        {Bevel, "123", "12*|", "110"},
        {Boost, "100", "100*|", "111"},
        // A sign only first, and only where the caption shows negative values.
        {Shading, "-12", "-12*|", "111"},
        {Shading, "1-", "1*|", "10"},
        {Bevel, "-5", "5*|", "01"},
        {Width, "-", "-", "0"},
        // Two-axis pads: a comma or a blank goes on to the vertical value.
        {Light, "-10,5", "-10|5*", "11111"},
        {Light, "3 -4", "3|-4*", "1111"},
        {Light, ",", "|*", "1"},
        {Light, ",,", "|*", "10"},
        {Light, "1,,2", "1|2*", "1101"},
        {Width, "1,2", "12*|", "101"},
        // Backspace takes back a character, then the step to the vertical value, then the entry.
        {Width, "12\b", "1*|", "111"},
        {Light, "4,7\b\b", "4*|", "11111"},
        {Light, "4\b\b", "-", "111"},
        {Bevel, "\b", "-", "0"},
        // Letters mean nothing.
        {Boost, "a5b", "5*|", "010"},
    };
    for (const Case& c : cases) {
        std::string results;
        EXPECT_EQ(typed(make(c.kind), 3, c.keys, &results), c.entry)
            << name(c.kind) << " " << c.keys;
        EXPECT_EQ(results, c.results) << name(c.kind) << " " << c.keys;
    }
}

TEST(PadKeysTest, TypingForAnotherPadStartsAfresh)
{
    XYPad a = cellWidth(), b = bevel();
    PadEntry entry;
    EXPECT_EQ(typePadEntry(entry, 1, a, '9'), 1);
    EXPECT_EQ(typePadEntry(entry, 2, b, ','), 0); // not a number: the other entry stays
    EXPECT_TRUE(entryActive(entry, 1));
    EXPECT_EQ(typePadEntry(entry, 2, b, '4'), 1);
    EXPECT_FALSE(entryActive(entry, 1));
    EXPECT_TRUE(entryActive(entry, 2));
    EXPECT_STREQ(entry.text[0], "4");
}

TEST(PadKeysTest, ATypedNumberIsTakenClampedIntoThePad)
{
    struct Case {
        Kind kind;
        int32_t x, y;
        const char* keys;
        int32_t result, wantX, wantY;
    } const cases[] = {
        {Width, 35, 0, "120", 1, 120, 0},
        {Width, 35, 0, "999", 1, 300, 0},
        {Width, 35, 0, "035", 0, 35, 0},
        {Height, 0, 55, "7", 1, 0, 7},
        {Shading, 70, 0, "-10", 1, 40, 0},
        {Shading, 70, 0, "-99", 1, 0, 0},
        {Shading, 70, 0, "20", 0, 70, 0},
        {Bevel, 10, 0, "99", 1, 50, 0},
        {Light, 20, 30, "-5,10", 1, 20, 35},
        {Light, 20, 30, "10", 1, 35, 30},  // only the horizontal value typed
        {Light, 20, 30, ",-25", 1, 20, 0}, // only the vertical one
        {Light, 20, 30, "-99,99", 1, 0, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(name(c.kind)) + " " + c.keys);
        XYPad pad = make(c.kind);
        pad.x = c.x;
        pad.y = c.y;
        PadEntry entry;
        for (const char* k = c.keys; *k != '\0'; ++k)
            typePadEntry(entry, 4, pad, *k);
        RasterCanvas dc(600, 400, Face);
        EXPECT_EQ(commitPadEntry(entry, pad, dc), c.result);
        EXPECT_EQ(pad.x, c.wantX);
        EXPECT_EQ(pad.y, c.wantY);
        EXPECT_FALSE(entryActive(entry, 4));
    }
    // Nothing typed: nothing taken.
    XYPad pad = bevel();
    PadEntry empty;
    RasterCanvas dc(600, 400, Face);
    EXPECT_EQ(commitPadEntry(empty, pad, dc), 0);
}

TEST(PadKeysTest, TheCellSizeRangeTypedIntoIsTheOneLeftAfterTheSkew)
{
    XYPad pad = cellWidth();
    pad.left += 50; // the skew moved the slider's start; its far end stays
    PadEntry entry;
    for (char c : std::string("300"))
        typePadEntry(entry, 1, pad, c);
    RasterCanvas dc(600, 400, Face);
    EXPECT_EQ(commitPadEntry(entry, pad, dc), 1);
    EXPECT_EQ(pad.x, 250);
    EXPECT_EQ(pad.handleKey(dc, KeyEnd, 0), 0);
    EXPECT_EQ(pad.x, 250);
}

} // namespace
} // namespace oryn
