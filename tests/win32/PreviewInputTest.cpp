// Input during a preview render, under Wine: a stand-in main window whose paint runs the real
// preview render with previewProgress, and real messages posted to it while the render runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "FakeHost.h"
#include "WindowTestSupport.h"
#include "controls/ControlsStateWin32.h"
#include "controls/PreviewInput.h"
#include "controls/RunState.h"
#include "controls/Win32Canvas.h"
#include "host/RunSetup.h"
#include "resources/Resource.h"
#include "ui/PreviewRender.h"

namespace oryn {
namespace {

using test::Pixels;

constexpr int32_t ImageSide = 300;

// The stand-in for the main dialog: the dialog procedure's side of the input scheme and a paint
// loop that redraws the controls and renders until a render completes.
struct Dialog {
    FakeHost host{ImageSide, ImageSide, 3, false, 0};
    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, &host.record};
    std::unique_ptr<PreviewBuffers> buffers = std::make_unique<PreviewBuffers>();
    PreviewArea area{};
    HWND window = nullptr;
    HBITMAP strip = nullptr;
    HDC stripDc = nullptr;
    std::unique_ptr<XYPad> madePads[8];
    std::unique_ptr<TriStateButton> madeButton;

    // What the paints did: one entry per render, with the last row it reported to the host.
    struct Render {
        int32_t result;
        int32_t lastRow;
    };
    std::vector<Render> renders;
    std::vector<std::pair<int32_t, int32_t>> reports;
    int paints = 0;
    // Called with each row the host is told about, before previewProgress polls.
    std::function<void(int32_t row)> onRow;

    static inline Dialog* active = nullptr;

    Dialog()
    {
        active = this;
        for (size_t i = 0; i < host.in.size(); ++i)
            host.in[i] = uint8_t((i * 7) ^ (i / 900));
        host.record.progressProc = &report;
        imageScale = computeImageScale(ImageSide, ImageSide);
        if (previewTransfer(&host.record, 3, imageScale, *buffers, area) != noErr)
            return;
        madePads[0] =
            std::make_unique<XYPad>(20, 40, 0, 300, 0, 0, 13, 0, 0, 13, 0, "", 0x0F182219u);
        madePads[1] =
            std::make_unique<XYPad>(40, 20, 300, 0, 0, 0, 13, 0, 0, 13, 0, "", 0x0F1A1804u);
        madePads[2] =
            std::make_unique<XYPad>(400, 100, 50, 0, 8, 0, 16, 8, 0, 8, 5, "S-Bevel width", 0);
        madePads[3] =
            std::make_unique<XYPad>(400, 150, 100, 0, 8, 0, 16, 8, 0, 8, 7, "S-Shading", 0);
        madePads[4] = std::make_unique<XYPad>(400, 300, 50, 50, 0, 0, 8, 8, 0, 8, 0x10, "", 0);
        madePads[5] = std::make_unique<XYPad>(500, 300, 50, 50, 0, 0, 8, 8, 0, 8, 0x10, "", 0);
        madePads[6] =
            std::make_unique<XYPad>(400, 250, 100, 0, 8, 0, 16, 8, 0, 8, 5, "Light Boosting", 0);
        madePads[7] =
            std::make_unique<XYPad>(400, 200, 100, 0, 8, 0, 16, 8, 0, 8, 5, "Brightness Ratio", 0);
        const int32_t values[8][2] = {{0, 24},  {30, 0},  {6, 0},  {70, 0},
                                      {25, 25}, {10, 40}, {30, 0}, {20, 0}};
        for (int i = 0; i < 8; ++i) {
            madePads[i]->x = values[i][0];
            madePads[i]->y = values[i][1];
            pads[i] = madePads[i].get();
        }
        madeButton = std::make_unique<TriStateButton>(480, 40, 18, 18);
        button = madeButton.get();
        restartCount = 0;
        if (dialogFont == nullptr)
            dialogFont = test::makeDialogFont();
        window = test::makeTestWindow("dialog", 20, 330, 600, 400, &procedure);
        dialogWindow = window;
        strip = LoadBitmapA(test::builtModule(), MAKEINTRESOURCEA(IDB_SHADING_STRIP));
        HDC dc = GetDC(window);
        stripDc = CreateCompatibleDC(dc);
        ReleaseDC(window, dc);
        SelectObject(stripDc, strip);
        test::pump();
        renders.clear();
        reports.clear();
        paints = 0;
    }
    ~Dialog()
    {
        DestroyWindow(window);
        DeleteDC(stripDc);
        DeleteObject(strip);
        for (XYPad*& pad : pads)
            pad = nullptr;
        button = nullptr;
        dialogWindow = nullptr;
        active = nullptr;
    }

    static void report(int32_t row, int32_t total)
    {
        active->reports.emplace_back(row, total);
        if (active->onRow)
            active->onRow(row);
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        dialogWindow = window;
        if (dispatchControlMouse(message, uint32_t(wParam), uint32_t(lParam)) != 0) {
            if (restartCount == 0)
                PostMessageA(window, WM_PAINT, 0, 10);
            ++restartCount;
        }
        if (message == WM_PAINT && active != nullptr && active->buffers) {
            active->paint(window);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    ControlState controls() const
    {
        ControlState state{};
        for (int i = 0; i < 8; ++i) {
            state.padX[i] = pads[i]->x;
            state.padY[i] = pads[i]->y;
        }
        state.faceMode = button->state;
        state.antialias = 1;
        state.resolvedColor = DefaultBackgroundColor;
        return state;
    }

    void paint(HWND window)
    {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        bool fullRedraw = true;
        for (;;) {
            acquireControlDc();
            Win32Canvas canvas(controlDc, stripDc);
            for (int i = 0; i < 8; ++i) {
                if (fullRedraw || i < 2 || pads[i]->grabbed == 1)
                    pads[i]->draw(canvas);
            }
            button->draw(canvas);
            fullRedraw = false;
            releaseControlDc();
            const size_t before = reports.size();
            const int32_t result =
                previewRender(&context, controls(), area, *buffers, previewProgress);
            renders.push_back(Render{result, reports.size() > before ? reports.back().first : -1});
            if ((result & 0xFFFF) == 0)
                break;
        }
        // Only a completed render reaches the screen.
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = PreviewSize;
        info.bmiHeader.biHeight = -PreviewSize;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        SetDIBitsToDevice(ps.hdc, 50, 60, PreviewSize, PreviewSize, 0, 0, 0, PreviewSize,
                          buffers->previewImage, &info, DIB_RGB_COLORS);
        EndPaint(window, &ps);
        restartCount = 0;
        ++paints;
    }

    // Paints once through the window system and returns when that paint has finished.
    void repaint()
    {
        const int before = paints;
        InvalidateRect(window, nullptr, FALSE);
        test::waitFor([&] { return paints > before; });
    }

    static uint32_t at(int32_t x, int32_t y) { return x | uint32_t(y) << 16; }

    bool mouseMessageQueued() const
    {
        MSG message;
        return PeekMessageA(&message, window, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE) != 0;
    }
};

class PreviewInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Keep the real pointer away from the window, so only the test's messages reach it.
        test::moveMouse(1000, 5);
        test::pump();
    }
};

TEST_F(PreviewInputTest, WithoutInputTheRenderCompletesAndReportsEveryEighthRow)
{
    Dialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.repaint();
    ASSERT_EQ(dialog.renders.size(), 1u);
    EXPECT_EQ(dialog.renders[0].result, 0);
    ASSERT_EQ(dialog.reports.size(), 37u);
    for (size_t i = 0; i < dialog.reports.size(); ++i) {
        EXPECT_EQ(dialog.reports[i].first, int32_t(8 * i + 7));
        EXPECT_EQ(dialog.reports[i].second, 300);
    }
    EXPECT_EQ(restartCount, 0);
}

TEST_F(PreviewInputTest, DragDuringARenderMovesThePadAndRestartsTheRender)
{
    Dialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.repaint();
    XYPad& pad = *pads[ShadingPad];
    const int32_t oldApex = pad.left + pad.x + 8;
    // Grab outside a render: handled by every pad, changes nothing, posts no paint.
    SendMessageA(dialog.window, WM_LBUTTONDOWN, MK_LBUTTON, Dialog::at(oldApex, pad.top + 4));
    ASSERT_EQ(pad.grabbed, 1);
    EXPECT_EQ(restartCount, 0);
    int32_t postedAt = -1;
    dialog.onRow = [&](int32_t row) {
        if (postedAt < 0 && row >= 60) {
            postedAt = row;
            PostMessageA(dialog.window, WM_MOUSEMOVE, MK_LBUTTON,
                         Dialog::at(oldApex + 15, pad.top + 4));
        }
    };
    dialog.renders.clear();
    dialog.repaint();
    ASSERT_EQ(dialog.renders.size(), 2u);
    EXPECT_EQ(dialog.renders[0].result, 1);
    EXPECT_LE(dialog.renders[0].lastRow - postedAt, 8);
    EXPECT_GE(dialog.renders[0].lastRow, postedAt);
    EXPECT_EQ(dialog.renders[1].result, 0);
    EXPECT_EQ(pad.x, 85);
    EXPECT_EQ(restartCount, 0);
    EXPECT_FALSE(dialog.mouseMessageQueued());

    // The marker stands at its new place; its old place is erased.
    const Pixels shown = test::capture(dialog.window, Box{0, 0, 600, 400});
    test::saveShot(shown, "preview-input");
    const uint32_t face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(shown.at(pad.left + pad.x + 8, pad.top), 0u);
    EXPECT_EQ(shown.at(oldApex, pad.top), face);
    EXPECT_EQ(shown.at(oldApex - 8, pad.top + 8), face);
}

TEST_F(PreviewInputTest, ButtonClickDuringARenderChangesItsPictureAndRestarts)
{
    Dialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.repaint();
    int32_t postedAt = -1;
    dialog.onRow = [&](int32_t row) {
        if (postedAt < 0 && row >= 100) {
            postedAt = row;
            PostMessageA(dialog.window, WM_LBUTTONDOWN, MK_LBUTTON,
                         Dialog::at(button->x + 16, button->y + 16));
        }
    };
    dialog.renders.clear();
    dialog.repaint();
    ASSERT_EQ(dialog.renders.size(), 2u);
    EXPECT_EQ(dialog.renders[0].result, 1);
    EXPECT_LE(dialog.renders[0].lastRow - postedAt, 8);
    EXPECT_EQ(dialog.renders[1].result, 0);
    EXPECT_EQ(button->state, 1);
    // The next pass drew cell 1 of the strip.
    const Pixels shown =
        test::capture(dialog.window, Box{button->x, button->y, button->x + 18, button->y + 18});
    for (int32_t y = 1; y < 18; ++y)
        for (int32_t x = 1; x < 18; ++x)
            ASSERT_EQ(shown.at(x, y), GetPixel(dialog.stripDc, 18 + x, y)) << x << "," << y;
}

TEST_F(PreviewInputTest, PlainMouseMoveIsConsumedWithoutStoppingTheRender)
{
    Dialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.repaint();
    const ControlState before = dialog.controls();
    int posted = 0;
    dialog.onRow = [&](int32_t row) {
        if (row == 151 || row == 159) {
            ++posted;
            PostMessageA(dialog.window, WM_MOUSEMOVE, 0,
                         Dialog::at(pads[ShadingPad]->left + 70, 154));
        }
    };
    dialog.renders.clear();
    dialog.repaint();
    EXPECT_EQ(posted, 2);
    ASSERT_EQ(dialog.renders.size(), 1u);
    EXPECT_EQ(dialog.renders[0].result, 0);
    EXPECT_EQ(dialog.renders[0].lastRow, 295);
    EXPECT_FALSE(dialog.mouseMessageQueued());
    const ControlState after = dialog.controls();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(after.padX[i], before.padX[i]);
        EXPECT_EQ(after.padY[i], before.padY[i]);
    }
    EXPECT_EQ(restartCount, 0);
}

TEST_F(PreviewInputTest, ThreeHandledMessagesBeforeThePaintGiveTwoRestarts)
{
    Dialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    dialog.repaint();
    dialog.renders.clear();
    const int paintsBefore = dialog.paints;
    for (int i = 0; i < 3; ++i)
        PostMessageA(dialog.window, WM_LBUTTONDOWN, MK_LBUTTON, Dialog::at(button->x, button->y));
    // The three clicks are handled before the paint the first one posted.
    test::waitFor([&] { return dialog.paints > paintsBefore; });
    EXPECT_EQ(dialog.paints, paintsBefore + 1);
    EXPECT_EQ(button->state, 0);
    ASSERT_EQ(dialog.renders.size(), 3u);
    EXPECT_EQ(dialog.renders[0].result, 1);
    EXPECT_EQ(dialog.renders[0].lastRow, 7);
    EXPECT_EQ(dialog.renders[1].result, 1);
    EXPECT_EQ(dialog.renders[1].lastRow, 7);
    EXPECT_EQ(dialog.renders[2].result, 0);
    EXPECT_EQ(restartCount, 0);
}

TEST_F(PreviewInputTest, DispatchWalksPadsInOrderAndStopsAtTheFirstChange)
{
    Dialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    // Outside the mouse range nothing is looked at.
    EXPECT_EQ(dispatchControlMouse(WM_KEYDOWN, 1, 0), 0);
    EXPECT_EQ(dispatchControlMouse(0x20A, 1, Dialog::at(button->x, button->y)), 0);
    EXPECT_EQ(button->state, 0);
    // A grab reaches every pad and the button; pads 2 and 3 overlap here on purpose.
    pads[2]->left = pads[3]->left;
    pads[2]->top = pads[3]->top;
    pads[2]->x = pads[3]->x;
    EXPECT_EQ(dispatchControlMouse(WM_LBUTTONDOWN, MK_LBUTTON,
                                   Dialog::at(pads[3]->left + pads[3]->x + 2, pads[3]->top + 2)),
              0);
    EXPECT_EQ(pads[2]->grabbed, 1);
    EXPECT_EQ(pads[3]->grabbed, 1);
    // The first pad that moves ends the walk: pad 3 does not see the drag step.
    const int32_t x3 = pads[3]->x;
    EXPECT_EQ(dispatchControlMouse(WM_MOUSEMOVE, MK_LBUTTON,
                                   Dialog::at(pads[3]->left + x3 - 8, pads[3]->top + 2)),
              1);
    EXPECT_EQ(pads[2]->x, x3 - 10 > 50 ? 50 : x3 - 10);
    EXPECT_EQ(pads[3]->x, x3);
    // The button-up reaches all of them.
    EXPECT_EQ(dispatchControlMouse(WM_LBUTTONUP, 0, 0), 0);
    for (XYPad* pad : pads)
        EXPECT_EQ(pad->grabbed, 0);
}

} // namespace
} // namespace oryn
