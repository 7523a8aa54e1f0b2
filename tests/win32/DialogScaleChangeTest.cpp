// The main dialog told that its display scale changed (WM_DPICHANGED, as the system sends it to a
// per-monitor aware host's window moved to another display), in a real window under Wine: the
// layout, the fonts, the preview and the pads follow the new scale, values are kept, and a
// change during a render, before the first paint or without the image is handled.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MainDialogFixture.h"
#include "WindowTestSupport.h"
#include "ui/DialogControls.h"
#include "ui/PreviewRender.h"

namespace oryn {
namespace {

// Tells the dialog that its DPI is now `dpi` and suggests its window's place.
void sendDpiChange(HWND dialog, int32_t dpi, int32_t left, int32_t top)
{
    RECT suggested = {left, top, left + 900, top + 600};
    SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

int32_t noProgress(const ParamContext*, int32_t, int32_t) { return 0; }

// The preview the core makes for the dialog's controls at `dpi` from the host's image, and the
// same square read back from the screen at the preview frame's corner.
struct PreviewPair {
    int32_t side = 0;
    std::vector<uint32_t> expected, screen;
    // Whether they are the same; where not, both are left in the shots folder as name-*.png.
    bool same(const std::string& name) const
    {
        if (screen == expected)
            return true;
        test::Pixels picture{side, side, expected};
        test::saveShot(picture, (name + "-expected").c_str());
        picture.values = screen;
        test::saveShot(picture, (name + "-screen").c_str());
        return false;
    }
};
PreviewPair previewPair(HWND dialog, FakeHost& host, const ParamContext& context, int32_t dpi)
{
    const DisplayScale scale = displayScaleForDpi(dpi);
    auto buffers = std::make_unique<PreviewBuffers>(scale);
    PreviewArea area{};
    EXPECT_EQ(previewTransfer(&host.record, 3, previewImageScale(host.columns, host.rows, scale),
                              *buffers, area),
              noErr);
    EXPECT_EQ(previewRender(&context, dialogControlState(), area, *buffers, noProgress), 0);
    const int32_t side = previewSide(scale);
    PreviewPair pair;
    pair.side = side;
    for (int32_t i = 0; i < side * side; ++i) {
        const uint8_t* p = buffers->previewImage + size_t(i) * 3;
        pair.expected.push_back(RGB(p[2], p[1], p[0]));
    }
    const Box& frame = dialogRects.previewFrame;
    const int32_t inset = scale.px(3);
    pair.screen = test::capture(dialog, Box{frame.left + inset, frame.top + inset,
                                            frame.left + inset + side, frame.top + inset + side})
                      .values;
    return pair;
}

RECT childRect(HWND dialog, int id)
{
    RECT rect;
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class DialogScaleChangeTest : public MainDialogTest {};

// 96 -> 144 -> 96: at 144 everything is laid out and drawn at 150% with the values kept, the
// preview on the screen is the core's preview at 144, and a drag moves a value by the scaled
// distance; back at 96 the dialog is the one it was, pixel for pixel.
TEST_F(DialogScaleChangeTest, TheDialogFollowsTheNewScaleAndComesBackTheSame)
{
    FakeHost host(640, 427, 3, false, 0);
    openAndPaint(host);
    button->state = 1;
    noteControlChange(dialog);
    pump();
    RECT window96, client;
    GetWindowRect(dialog, &window96);
    GetClientRect(dialog, &client);
    const test::Pixels before = test::capture(dialog, Box{0, 0, client.right, client.bottom});

    sendDpiChange(dialog, 144, 40, 30);
    pump();
    EXPECT_EQ(displayScale.dpi, 144);
    EXPECT_EQ(previewBuffers.side, 450);
    EXPECT_EQ(host.advanceCalls, 2); // the image reduced again for the larger square
    RECT window;
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.left, 40);
    EXPECT_EQ(window.top, 30);
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 835);  // 371 units x 6 / 4 x 1.5, rounded
    EXPECT_EQ(client.bottom, 524); // 215 units x 13 / 8 x 1.5, rounded
    const RECT frame = childRect(dialog, IDC_PREVIEW_FRAME); // 15, 15, 203 x 188 units
    EXPECT_EQ(frame.left, 34);
    EXPECT_EQ(frame.top, 37);
    EXPECT_EQ(frame.right - frame.left, 457);
    EXPECT_EQ(frame.bottom - frame.top, 458);
    // The template's controls have its font at 144 DPI: 8 points are 16 pixels.
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, IDC_APPLY, WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -16);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    // Values, the G-Shading state and the pads' scale.
    EXPECT_EQ(pads[1]->x, 35);
    EXPECT_EQ(pads[0]->y, 55);
    EXPECT_EQ(pads[6]->x, 30);
    EXPECT_EQ(button->state, 1);
    for (XYPad* pad : pads)
        EXPECT_EQ(pad->scale.dpi, 144);
    EXPECT_EQ(button->scale.dpi, 144);
    EXPECT_EQ(dialogRects.scale.dpi, 144);
    ASSERT_TRUE(test::waitFor([&] { return test::fullyPainted(dialog); }));
    {
        const PreviewPair pair = previewPair(dialog, host, context, 144);
        EXPECT_TRUE(pair.same("scale-change-144"));
    }

    // A drag of the cell-width marker by 30 pixels at 150% is 20 units.
    // The marker sits at the frame's corner + 2 units + 35 units, and is 10 units wide.
    const Box& pf = dialogRects.previewFrame;
    const DisplayScale& s = displayScale;
    const int32_t x = pf.left + s.px(2) + s.px(35) + s.px(5), y = pf.top - s.px(15) + s.px(5);
    PostMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(dialog, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + 30, y));
    PostMessageA(dialog, WM_LBUTTONUP, 0, MAKELPARAM(x + 30, y));
    pump();
    EXPECT_EQ(pads[1]->x, 55);

    pads[1]->x = 35;
    sendDpiChange(dialog, 96, window96.left, window96.top);
    pump();
    EXPECT_EQ(displayScale.dpi, 96);
    EXPECT_EQ(previewBuffers.side, 300);
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.right - window.left, window96.right - window96.left);
    EXPECT_EQ(window.bottom - window.top, window96.bottom - window96.top);
    ASSERT_TRUE(test::waitFor([&] { return test::fullyPainted(dialog); }));
    const test::Pixels after = test::capture(dialog, Box{0, 0, before.width, before.height});
    if (after.values != before.values) {
        test::saveShot(before, "scale-change-before");
        test::saveShot(after, "scale-change-after");
    }
    EXPECT_TRUE(after.values == before.values) << "the dialog is not the same after 96 -> 144 -> 96";
}

// A host whose progressProc dispatches messages can hand the change over in the middle of a
// render: that render stops, and the screen ends on a completed render at the new scale.
FakeHost* renderingHost = nullptr;
int changesSent = 0;
int paintActiveAtChange = -1;
void changeDuringProgress(int32_t done, int32_t total)
{
    renderingHost->reports.emplace_back(done, total);
    if (changesSent == 0 && done > 0) {
        ++changesSent;
        paintActiveAtChange = paintActive;
        sendDpiChange(dialogWindow, 120, 10, 10);
    }
}

TEST_F(DialogScaleChangeTest, AChangeDuringARenderWaitsForItAndTheScreenEndsAtTheNewScale)
{
    FakeHost host(640, 427, 3, false, 0);
    openAndPaint(host);
    renderingHost = &host;
    changesSent = 0;
    paintActiveAtChange = -1;
    host.record.progressProc = changeDuringProgress;
    pads[1]->x = 60;
    noteControlChange(dialog);
    pump();
    EXPECT_EQ(changesSent, 1);
    EXPECT_EQ(paintActiveAtChange, 1);
    EXPECT_EQ(displayScale.dpi, 120);
    EXPECT_EQ(previewBuffers.side, 375);
    EXPECT_EQ(pads[1]->x, 60);
    ASSERT_TRUE(test::waitFor([&] { return test::fullyPainted(dialog); }));
    const PreviewPair pair = previewPair(dialog, host, context, 120);
    EXPECT_TRUE(pair.same("scale-change-during-render"));
}

// Before the first paint nothing is drawn yet: the first paint reduces the image once, at the
// new scale.
TEST_F(DialogScaleChangeTest, AChangeBeforeTheFirstPaintIsTakenByIt)
{
    FakeHost host(640, 427, 3, false, 0);
    open(host);
    sendDpiChange(dialog, 192, 0, 0);
    UpdateWindow(dialog);
    pump();
    ASSERT_EQ(controlsReady, 1);
    EXPECT_EQ(displayScale.dpi, 192);
    EXPECT_EQ(previewBuffers.side, 600);
    EXPECT_EQ(host.advanceCalls, 1);
    EXPECT_EQ(pads[1]->scale.dpi, 192);
}

// Where the host cannot hand the image over again, the dialog stays whole at its old scale and
// goes on working; it only moves where the system asked.
TEST_F(DialogScaleChangeTest, WithoutTheImageTheDialogStaysAtItsScale)
{
    FakeHost host(640, 427, 3, false, 0);
    openAndPaint(host);
    host.giveIn = false; // a host reports a request it cannot meet by the missing buffer
    sendDpiChange(dialog, 144, 20, 25);
    pump();
    EXPECT_EQ(displayScale.dpi, 96);
    EXPECT_EQ(previewBuffers.side, 300);
    EXPECT_EQ(dialogResult, 12345); // still open
    EXPECT_TRUE(IsWindowVisible(dialog));
    RECT window;
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.left, 20);
    EXPECT_EQ(window.top, 25);
    for (XYPad* pad : pads)
        EXPECT_EQ(pad->scale.dpi, 96);
    ASSERT_TRUE(test::waitFor([&] { return test::fullyPainted(dialog); }));
    host.giveIn = true;
    const PreviewPair pair = previewPair(dialog, host, context, 96);
    EXPECT_TRUE(pair.same("scale-change-refused"));
}

} // namespace
} // namespace oryn
