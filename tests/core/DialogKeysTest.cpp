// The keyboard of the main dialog's own controls on an in-memory canvas: what each key does on
// each focus stop, which keys a stop takes from the dialog, typed numbers taken and dropped, and
// the focus marks and typed captions the drawing shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/RasterCanvas.h"
#include "ui/DialogControls.h"
#include "ui/DialogKeys.h"

namespace oryn {
namespace {

constexpr uint32_t Face = 0xC0C0C0;
constexpr uint32_t Mark = 0x00C06020;

DialogRects layout()
{
    DialogRects rects{};
    rects.previewFrame = Box{22, 24, 327, 330};
    rects.shadingFrame = Box{325, 24, 435, 115};
    rects.stretchFrame = Box{433, 24, 550, 143};
    rects.swatchRect = Box{525, 146, 546, 166};
    rects.doubleBox = Box{438, 36, 450, 49};
    rects.linkRect = Box{100, 352, 218, 366};
    adjustFrames(rects);
    return rects;
}

struct Controls {
    XYPad* pads[PadCount] = {};
    TriStateButton* button = nullptr;
    Controls()
    {
        EXPECT_EQ(createDialogControls(layout(), pads, button), 0);
        // Orystone with light correction 30/20.
        const int32_t values[PadCount][2] = {{0, 55}, {35, 0},  {50, 0}, {50, 0},
                                             {50, 0}, {45, 32}, {30, 0}, {20, 0}};
        for (int i = 0; i < PadCount; ++i) {
            pads[i]->x = values[i][0];
            pads[i]->y = values[i][1];
        }
    }
    ~Controls() { releaseDialogControls(pads, button); }
};

DialogView focusedOn(int32_t stop)
{
    DialogView view;
    view.focus = stop;
    view.markColour = Mark;
    return view;
}

TEST(DialogKeysTest, EachStopAnswersItsKeys)
{
    struct Case {
        int32_t stop;
        uint32_t key, modifiers;
        int32_t result;
        int32_t pad, wantX, wantY; // pad -1: the button's state in wantX
    } const cases[] = {
        {1, KeyRight, 0, KeyChanged, 1, 36, 0},
        {1, KeyDown, 0, KeyIgnored, 1, 35, 0},
        {0, KeyUp, ShiftHeld, KeyChanged, 0, 0, 45},
        {5, KeyPageDown, 0, KeyChanged, 5, 45, 50},
        {4, KeyDelete, 0, KeyChanged, 4, 25, 25},
        {3, KeyDelete, 0, KeyIgnored, 3, 50, 0}, // already at the centre
        {2, KeyHome, 0, KeyChanged, 2, 0, 0},
        {7, KeyEnd, 0, KeyChanged, 7, 100, 0},
        {6, KeySpace, 0, KeyIgnored, 6, 30, 0},
        {ButtonStop, KeySpace, 0, KeyChanged, -1, 1, 0},
        {ButtonStop, KeyReturn, 0, KeyChanged, -1, 1, 0},
        {ButtonStop, KeyRight, 0, KeyIgnored, -1, 0, 0},
        {SwatchStop, KeySpace, 0, KeyOpensBackground, -1, 0, 0},
        {SwatchStop, KeyReturn, 0, KeyOpensBackground, -1, 0, 0},
        {SwatchStop, KeyDown, 0, KeyIgnored, -1, 0, 0},
        {DoubleStop, KeySpace, 0, KeyIgnored, -1, 0, 0},
        {LinkStop, KeySpace, 0, KeyOpensLink, -1, 0, 0},
        {LinkStop, KeyReturn, 0, KeyOpensLink, -1, 0, 0},
        {LinkStop, KeyRight, 0, KeyIgnored, -1, 0, 0},
        {LinkStop, '5', 0, KeyIgnored, -1, 0, 0},
        {NoStop, KeyRight, 0, KeyIgnored, 1, 35, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("stop " + std::to_string(c.stop) + " key " + std::to_string(c.key));
        Controls k;
        DialogView view = focusedOn(c.stop);
        RasterCanvas dc(600, 400, Face);
        EXPECT_EQ(dialogKeyDown(view, k.pads, *k.button, dc, c.key, c.modifiers), c.result);
        if (c.pad >= 0) {
            EXPECT_EQ(k.pads[c.pad]->x, c.wantX);
            EXPECT_EQ(k.pads[c.pad]->y, c.wantY);
        } else {
            EXPECT_EQ(k.button->state, c.wantX);
        }
    }
}

TEST(DialogKeysTest, ReturnAndEscapeStayWithTheStopOnlyWhereItUsesThem)
{
    Controls k;
    for (int32_t stop = NoStop; stop <= LinkStop; ++stop) {
        DialogView view = focusedOn(stop);
        const bool activates = stop == ButtonStop || stop == SwatchStop || stop == LinkStop;
        EXPECT_EQ(stopTakesKey(view, KeyReturn), activates) << stop;
        EXPECT_FALSE(stopTakesKey(view, KeyEscape)) << stop;
        EXPECT_FALSE(stopTakesKey(view, KeyLeft)) << stop;
    }
    // While a number is typed into a pad, Return takes it and Escape drops it.
    DialogView view = focusedOn(6);
    EXPECT_EQ(dialogKeyChar(view, k.pads, '4'), KeyRedrawStop);
    EXPECT_TRUE(stopTakesKey(view, KeyReturn));
    EXPECT_TRUE(stopTakesKey(view, KeyEscape));
}

TEST(DialogKeysTest, TypedNumbersAreTakenByReturnAndDroppedByEscape)
{
    Controls k;
    RasterCanvas dc(600, 400, Face);
    DialogView view = focusedOn(3);
    for (char c : std::string("-1x5"))
        dialogKeyChar(view, k.pads, c);
    EXPECT_STREQ(view.entry.text[0], "-15");
    EXPECT_EQ(k.pads[3]->x, 50); // nothing taken yet
    EXPECT_EQ(dialogKeyDown(view, k.pads, *k.button, dc, KeyReturn, 0), KeyChanged);
    EXPECT_EQ(k.pads[3]->x, 35);
    EXPECT_FALSE(entryActive(view.entry, 3));

    dialogKeyChar(view, k.pads, '9');
    EXPECT_EQ(dialogKeyDown(view, k.pads, *k.button, dc, KeyEscape, 0), KeyRedrawStop);
    EXPECT_EQ(k.pads[3]->x, 35);
    EXPECT_FALSE(entryActive(view.entry, 3));

    // The typed value already shown: taking it changes nothing, the caption is drawn again.
    dialogKeyChar(view, k.pads, '-');
    dialogKeyChar(view, k.pads, '1');
    dialogKeyChar(view, k.pads, '5');
    EXPECT_EQ(dialogKeyDown(view, k.pads, *k.button, dc, KeyReturn, 0), KeyRedrawStop);

    // An arrow takes the typed number, then steps from it.
    dialogKeyChar(view, k.pads, '2');
    dialogKeyChar(view, k.pads, '0');
    EXPECT_EQ(dialogKeyDown(view, k.pads, *k.button, dc, KeyRight, ShiftHeld), KeyChanged);
    EXPECT_EQ(k.pads[3]->x, 80);
    // A key that moves nothing leaves the typed number alone.
    dialogKeyChar(view, k.pads, '1');
    EXPECT_EQ(dialogKeyDown(view, k.pads, *k.button, dc, KeyUp, 0), KeyIgnored);
    EXPECT_TRUE(entryActive(view.entry, 3));

    // Characters mean nothing away from the pads.
    DialogView button = focusedOn(ButtonStop);
    EXPECT_EQ(dialogKeyChar(button, k.pads, '5'), KeyIgnored);
    EXPECT_EQ(button.entry.pad, -1);
}

TEST(DialogKeysTest, LeavingAPadTakesWhatWasTypedIntoIt)
{
    Controls k;
    RasterCanvas dc(600, 400, Face);
    DialogView view = focusedOn(5);
    for (char c : std::string("-20,10"))
        dialogKeyChar(view, k.pads, c);
    EXPECT_EQ(dialogFocusMoves(view, k.pads, dc, 4), KeyChanged);
    EXPECT_EQ(view.focus, 4);
    EXPECT_EQ(k.pads[5]->x, 5);
    EXPECT_EQ(k.pads[5]->y, 35);
    EXPECT_EQ(k.pads[4]->x, 50); // the pad focused now is untouched
    EXPECT_EQ(dialogFocusMoves(view, k.pads, dc, NoStop), KeyRedrawStop);
    EXPECT_EQ(view.focus, NoStop);
}

// Every pixel of the canvas in the mark colour.
std::vector<Point> markPixels(const RasterCanvas& dc)
{
    std::vector<Point> found;
    for (int32_t y = 0; y < dc.height; ++y)
        for (int32_t x = 0; x < dc.width; ++x)
            if (dc.pixel(x, y) == Mark)
                found.push_back(Point{x, y});
    return found;
}

Box bounds(const std::vector<Point>& points)
{
    Box b{1 << 20, 1 << 20, -(1 << 20), -(1 << 20)};
    for (const Point& p : points) {
        b.left = std::min(b.left, p.x);
        b.top = std::min(b.top, p.y);
        b.right = std::max(b.right, p.x + 1);
        b.bottom = std::max(b.bottom, p.y + 1);
    }
    return b;
}

TEST(DialogKeysTest, TheFocusedControlAloneCarriesAMark)
{
    Controls k;
    const DialogRects rects = layout();
    struct Case {
        int32_t stop;
        Box bounds; // of the mark's pixels
        size_t count;
    } const cases[] = {
        // The cell-width triangle (0,0) (13,0) (0,13) at its origin (24 + 35, 9): filled inside.
        {1, Box{60, 10, 71, 21}, 66},
        // The cell-height one, at (7, 44 + 55): the skew (0 - 25) moved it down by 18.
        {0, Box{8, 100, 19, 111}, 66},
        // A ruler triangle (8,0) (16,8) (0,8) at (345 + 50, 171).
        {3, Box{397, 172, 410, 179}, 49},
        // Frames one pixel wide, one pixel away: the light sprite at (349 + 45, 48 + 32) ...
        {5, Box{392, 78, 404, 90}, 44},
        // ... the stretch sprite at (488 + 50, 81) ...
        {4, Box{536, 79, 548, 91}, 44},
        // ... the button (433, 147, 18 x 18), the swatch and the "x2" box.
        {ButtonStop, Box{431, 145, 453, 167}, 84},
        {SwatchStop, Box{523, 144, 548, 168}, 94},
        {DoubleStop, Box{436, 34, 452, 51}, 62},
        // ... and the link's area under the preview.
        {LinkStop, Box{98, 350, 220, 368}, 276},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stop);
        RasterCanvas dc(600, 400, Face);
        drawDialogControls(dc, k.pads, *k.button, rects, 1, focusedOn(c.stop));
        const std::vector<Point> marks = markPixels(dc);
        const Box b = bounds(marks);
        EXPECT_EQ(b.left, c.bounds.left);
        EXPECT_EQ(b.top, c.bounds.top);
        EXPECT_EQ(b.right, c.bounds.right);
        EXPECT_EQ(b.bottom, c.bounds.bottom);
        EXPECT_EQ(marks.size(), c.count);

        // Drawn again without the focus, the stop leaves no mark behind.
        DialogView gone = focusedOn(NoStop);
        drawStop(dc, k.pads, *k.button, rects, gone, c.stop);
        EXPECT_TRUE(markPixels(dc).empty());
    }
    // No focus, no mark.
    RasterCanvas none(600, 400, Face);
    drawDialogControls(none, k.pads, *k.button, rects, 1, focusedOn(NoStop));
    EXPECT_TRUE(markPixels(none).empty());
}

TEST(DialogKeysTest, TheMarkGrowsWithTheDisplayScale)
{
    struct Case {
        int32_t dpi, width;
    } const cases[] = {{96, 1}, {120, 1}, {144, 2}, {192, 2}, {240, 3}, {288, 3}};
    for (const Case& c : cases)
        EXPECT_EQ(focusMarkWidth(displayScaleForDpi(c.dpi)), c.width) << c.dpi;

    Controls k;
    DialogView view = focusedOn(ButtonStop);
    view.markWidth = 2;
    RasterCanvas dc(600, 400, Face);
    drawDialogControls(dc, k.pads, *k.button, layout(), 0, view);
    const Box b = bounds(markPixels(dc));
    EXPECT_EQ(b.left, 433 - 4);
    EXPECT_EQ(b.right, 433 + 18 + 4);
    // Two pixels thick, two pixels away from the button.
    EXPECT_EQ(dc.pixel(433 - 3, 150), Mark);
    EXPECT_EQ(dc.pixel(433 - 2, 150), Face);
    EXPECT_EQ(dc.pixel(433 - 1, 150), Face);
}

std::vector<RasterCanvas::TextCall> textsAt(const RasterCanvas& dc, int32_t x, int32_t y)
{
    std::vector<RasterCanvas::TextCall> found;
    for (const auto& call : dc.texts)
        if (call.x == x && call.y == y)
            found.push_back(call);
    return found;
}

// The layout of layout() as a dialog at 144 DPI has it: every rectangle half as large again.
DialogRects layoutAt144()
{
    auto grown = [](const Box& box) {
        return Box{box.left * 3 / 2, box.top * 3 / 2, box.right * 3 / 2, box.bottom * 3 / 2};
    };
    DialogRects rects{};
    rects.previewFrame = grown(Box{22, 24, 327, 330});
    rects.shadingFrame = grown(Box{325, 24, 435, 115});
    rects.stretchFrame = grown(Box{433, 24, 550, 143});
    rects.swatchRect = grown(Box{525, 146, 546, 166});
    rects.doubleBox = grown(Box{438, 36, 450, 49});
    rects.scale = displayScaleForDpi(144);
    adjustFrames(rects);
    return rects;
}

TEST(DialogKeysTest, MarksAreDrawnAtTheDisplayScale)
{
    const DialogRects rects = layoutAt144();
    XYPad* pads[PadCount] = {};
    TriStateButton* button = nullptr;
    ASSERT_EQ(createDialogControls(rects, pads, button), 0);
    DialogView view = focusedOn(ButtonStop);
    view.markWidth = focusMarkWidth(rects.scale);
    EXPECT_EQ(view.markWidth, 2);

    // The button is drawn 27 pixels a side; its frame two pixels thick, two pixels away.
    {
        RasterCanvas dc(900, 600, Face);
        drawDialogControls(dc, pads, *button, rects, 1, view);
        const Box b = bounds(markPixels(dc));
        EXPECT_EQ(b.left, button->x - 4);
        EXPECT_EQ(b.top, button->y - 4);
        EXPECT_EQ(b.right, button->x + 27 + 4);
        EXPECT_EQ(b.bottom, button->y + 27 + 4);
    }

    // The sprites' frames go around the 12 x 12 sprite, and a sprite moved from its far corner to
    // the near one leaves no mark behind.
    for (int32_t stop : {4, 5}) {
        SCOPED_TRACE(stop);
        XYPad& pad = *pads[stop];
        view.focus = stop;
        RasterCanvas dc(900, 600, Face);
        pad.x = 50;
        pad.y = 50;
        drawDialogControls(dc, pads, *button, rects, 1, view);
        Box b = bounds(markPixels(dc));
        EXPECT_EQ(b.left, pad.originX() - 4);
        EXPECT_EQ(b.right, pad.originX() + 12 + 4);
        EXPECT_EQ(b.bottom, pad.originY() + 12 + 4);

        pad.erase(dc);
        pad.x = 0;
        pad.y = 0;
        drawStop(dc, pads, *button, rects, view, stop);
        b = bounds(markPixels(dc));
        EXPECT_EQ(b.left, pad.originX() - 4);
        EXPECT_EQ(b.top, pad.originY() - 4);
        EXPECT_EQ(b.right, pad.originX() + 12 + 4);
        EXPECT_EQ(b.bottom, pad.originY() + 12 + 4);
    }

    // A triangle marker is filled inside its outline as drawn: the 13-pixel cell-width triangle
    // is 20 pixels at this scale.
    {
        view.focus = 1;
        RasterCanvas dc(900, 600, Face);
        drawDialogControls(dc, pads, *button, rects, 1, view);
        const Box b = bounds(markPixels(dc));
        EXPECT_EQ(b.left, pads[1]->originX() + 1);
        EXPECT_EQ(b.top, pads[1]->originY() + 1);
        EXPECT_GE(b.right, pads[1]->originX() + 17);
        EXPECT_LE(b.right, pads[1]->originX() + 20);
    }
    releaseDialogControls(pads, button);
}

TEST(DialogKeysTest, KeysAndTypedNumbersWorkInUnitsAtEveryScale)
{
    const DialogRects rects = layoutAt144();
    XYPad* pads[PadCount] = {};
    TriStateButton* button = nullptr;
    ASSERT_EQ(createDialogControls(rects, pads, button), 0);
    RasterCanvas dc(900, 600, Face);
    pads[3]->x = 50;
    pads[2]->x = 10;
    pads[5]->x = 45;
    pads[5]->y = 32;

    // The S-Shading value typed is counted from the centre of its 100 units, not of its pixels.
    DialogView view = focusedOn(3);
    for (char c : std::string("-12"))
        dialogKeyChar(view, pads, c);
    EXPECT_EQ(dialogKeyDown(view, pads, *button, dc, KeyReturn, 0), KeyChanged);
    EXPECT_EQ(pads[3]->x, 38);

    // End takes the bevel width to its last unit, 50.
    view = focusedOn(2);
    EXPECT_EQ(dialogKeyDown(view, pads, *button, dc, KeyEnd, 0), KeyChanged);
    EXPECT_EQ(pads[2]->x, 50);

    // The light direction typed as two values, from the centre 25,25.
    view = focusedOn(5);
    for (char c : std::string("-5,10"))
        dialogKeyChar(view, pads, c);
    EXPECT_EQ(dialogKeyDown(view, pads, *button, dc, KeyReturn, 0), KeyChanged);
    EXPECT_EQ(pads[5]->x, 20);
    EXPECT_EQ(pads[5]->y, 35);

    // Page Down takes it to the bottom edge, 50 units down.
    EXPECT_EQ(dialogKeyDown(view, pads, *button, dc, KeyPageDown, 0), KeyChanged);
    EXPECT_EQ(pads[5]->y, 50);
    releaseDialogControls(pads, button);
}

TEST(DialogKeysTest, TheCaptionShowsWhatIsTypedBeforeItIsTaken)
{
    Controls k;
    const DialogRects rects = layout();
    struct Case {
        int32_t stop;
        const char* keys;
        int32_t x, y;      // where the typed caption goes
        const char* shown; // what it shows, in the mark colour
    } const cases[] = {
        {1, "12", 24 + 35 + 16, 24 - 22, "12 "},
        {0, "3", 22 - 22, 44 + 55 - 17, "3  "},
        {7, "100", 345 - 12, 209 - 12, "100 "},
        {3, "-", 345 - 12, 171 - 12, "-   "},
        {5, "-7", 349 + 45 + 8, 48 + 32 - 14, "-7 "},
        {5, "-7,", 349 + 45 - 18, 48 + 32 - 10, "_  "},
        {4, "1,2", 467 + 44, 60 + 0 - 31, "2  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keys));
        DialogView view = focusedOn(c.stop);
        for (const char* p = c.keys; *p != '\0'; ++p)
            EXPECT_EQ(dialogKeyChar(view, k.pads, *p), KeyRedrawStop);
        RasterCanvas dc(600, 400, Face);
        drawStop(dc, k.pads, *k.button, rects, view, c.stop);
        const auto calls = textsAt(dc, c.x, c.y);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().text, c.shown);
        EXPECT_EQ(calls.back().colour, Mark);
        // The value itself is still the old one.
        EXPECT_FALSE(dc.texts.empty());
    }
    // Without an entry the same places show the values in the caption colour.
    RasterCanvas dc(600, 400, Face);
    drawDialogControls(dc, k.pads, *k.button, rects, 1, focusedOn(1));
    const auto width = textsAt(dc, 24 + 35 + 16, 24 - 22);
    ASSERT_EQ(width.size(), 1u);
    EXPECT_EQ(width[0].text, "035");
    EXPECT_EQ(width[0].colour, 0u);
}

} // namespace
} // namespace oryn
