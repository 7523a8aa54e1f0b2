// The background popup in a real modal dialog under Wine: opened from a stand-in main window,
// clicked with real mouse input, its swatches read back, and the answer applied to the background
// state, with a host colour picker that records its request.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "WindowTestSupport.h"
#include "controls/BackgroundChoice.h"
#include "controls/BackgroundPopupWin32.h"
#include "controls/ControlsStateWin32.h"
#include "controls/RasterCanvas.h"
#include "controls/RunState.h"
#include "host/ColorWord.h"
#include "host/RunSetup.h"
#include "resources/Resource.h"

namespace oryn {
namespace {

using test::Pixels;

// The host's colour picker: answers `answer` with a fixed colour and keeps each request's bytes.
struct HostPicker {
    static inline OSErr answer = noErr;
    static inline std::vector<std::vector<uint8_t>> requests;
    static OSErr pick(ColorServicesInfo* info)
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(info);
        requests.emplace_back(bytes, bytes + info->infoSize);
        if (answer == noErr) {
            info->colorComponents[0] = 0x40;
            info->colorComponents[1] = 0x80;
            info->colorComponents[2] = 0x120; // only the low byte counts
        }
        return answer;
    }
};

// What one opening of the popup showed and did.
struct Opening {
    bool appeared = false;
    bool closed = false;
    Box rows[4] = {};
    Pixels client;
    int32_t changed = 0;
    bool paintPosted = false;
};

struct PopupSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK matchPopup(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<PopupSearch*>(context);
    char name[16];
    if (GetWindow(window, GW_OWNER) == search.owner && IsWindowVisible(window) &&
        GetClassNameA(window, name, sizeof name) > 0 && lstrcmpA(name, "#32770") == 0) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// The visible dialog that the given window owns: the popup while it is open.
HWND findPopup(HWND owner)
{
    PopupSearch search{owner, nullptr};
    EnumWindows(matchPopup, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class BackgroundPopupTest : public ::testing::Test {
protected:
    FilterRecord record{};
    HWND owner = nullptr;

    void SetUp() override
    {
        moduleInstance = test::builtModule();
        ASSERT_NE(moduleInstance, nullptr);
        std::memset(&record, 0, sizeof record);
        const uint8_t fore[4] = {200, 30, 40, 0}, back[4] = {10, 90, 220, 0};
        std::memcpy(record.foreColor, fore, 4);
        std::memcpy(record.backColor, back, 4);
        record.colorServices = &HostPicker::pick;
        HostPicker::requests.clear();
        HostPicker::answer = noErr;
        owner = test::makeTestWindow("main", 500, 300, 300, 200);
        ASSERT_NE(owner, nullptr);
        pickerColor = 0x7F336699u;
        resolvedColor = 0x11111111u;
    }
    void TearDown() override { DestroyWindow(owner); }

    // Opens the popup through the main window's side of the choice, with the pointer at a fixed
    // place (the popup centres on it); `act` runs on a second thread once the popup has painted.
    Opening open(const std::function<void(HWND popup, Opening&)>& act)
    {
        // A new popup must not take a first click as the second half of a double-click.
        Sleep(GetDoubleClickTime() + 50);
        test::moveMouse(880, 640);
        test::pump();
        Opening opening;
        std::atomic<bool> returned{false};
        std::thread watcher([&] {
            HWND popup = nullptr;
            for (int i = 0; i < 3000 && popup == nullptr && !returned; ++i) {
                popup = findPopup(owner);
                if (popup == nullptr)
                    Sleep(10);
            }
            if (popup == nullptr)
                return;
            opening.appeared = true;
            for (int row = 0; row < 4; ++row)
                opening.rows[row] = controlClientRect(popup, IDC_BACK_FOREGROUND + row);
            // Painted once the foreground swatch shows.
            const Box& r0 = opening.rows[0];
            const uint32_t fore = hostColorWord(record.foreColor) & 0xFFFFFF;
            for (int i = 0; i < 1000; ++i) {
                const Pixels probe =
                    test::capture(popup, Box{r0.left + 4, r0.top + 4, r0.left + 5, r0.top + 5});
                if (probe.values[0] == fore)
                    break;
                Sleep(10);
            }
            // And the default handling has painted the frames and texts.
            for (int i = 0; i < 1000 && !test::fullyPainted(popup); ++i)
                Sleep(10);
            RECT client;
            GetClientRect(popup, &client);
            opening.client = test::capture(popup, Box{0, 0, client.right, client.bottom});
            act(popup, opening);
            for (int i = 0; i < 3000 && IsWindow(popup); ++i)
                Sleep(10);
            opening.closed = !IsWindow(popup);
            if (!opening.closed) // never leave a modal loop behind
                PostMessageA(popup, WM_RBUTTONDOWN, 0, 0);
        });
        opening.changed = chooseBackground(owner, &record);
        returned = true;
        watcher.join();
        ValidateRect(owner, nullptr);
        MSG message;
        while (PeekMessageA(&message, owner, WM_PAINT, WM_PAINT, PM_REMOVE))
            opening.paintPosted = opening.paintPosted || message.lParam == 10;
        return opening;
    }

    static POINT screenPoint(HWND popup, int32_t x, int32_t y)
    {
        POINT p{x, y};
        ClientToScreen(popup, &p);
        return p;
    }
    static void clickClient(HWND popup, int32_t x, int32_t y, bool right = false)
    {
        const POINT p = screenPoint(popup, x, y);
        test::click(p.x, p.y, right);
    }
};

// The swatch interior of a row in the captured client area.
void expectSwatch(const Pixels& client, const Box& row, uint32_t colour, const char* what)
{
    RasterCanvas expected(client.width, client.height, 0x00ABCDEF);
    drawSwatch(expected, row, colour);
    int mismatches = 0;
    for (int32_t y = row.top + 2; y <= row.bottom - 3; ++y)
        for (int32_t x = row.left + 2; x <= row.right - 3; ++x)
            mismatches += client.at(x, y) != expected.pixel(x, y) ? 1 : 0;
    EXPECT_EQ(mismatches, 0) << what;
    // The frame stays visible around it.
    EXPECT_NE(client.at(row.left, row.top + 5), expected.pixel(row.left + 2, row.top + 5)) << what;
}

TEST_F(BackgroundPopupTest, ThreePlanesShowAnXAndTheGapAboveARowSelectsIt)
{
    planesUsed = 3;
    currentMode = Foreground;
    Opening o = open([&](HWND popup, Opening& seen) {
        // On the label, in the pixel rows between frame 1025 and frame 1026.
        clickClient(popup, 10, seen.rows[0].bottom);
    });
    ASSERT_TRUE(o.appeared);
    EXPECT_TRUE(o.closed);
    test::saveShot(o.client, "popup-3-planes");
    // Four frames in a column, each below the last, the gap at most a few pixels.
    for (int row = 1; row < 4; ++row)
        EXPECT_GE(o.rows[row].top, o.rows[row - 1].bottom - 1);
    EXPECT_LT(o.rows[0].bottom, o.rows[1].top + 1) << "no gap row to click in";
    expectSwatch(o.client, o.rows[0], hostColorWord(record.foreColor), "foreground");
    expectSwatch(o.client, o.rows[1], hostColorWord(record.backColor), "background");
    expectSwatch(o.client, o.rows[2], 0xFF336699u, "picker");
    // Row 3: an "x" in the text colour on the face, no checkerboard.
    int dark = 0, white = 0;
    const Box& r3 = o.rows[3];
    for (int32_t y = r3.top + 2; y <= r3.bottom - 3; ++y)
        for (int32_t x = r3.left + 2; x <= r3.right - 3; ++x) {
            dark += o.client.at(x, y) == 0 ? 1 : 0;
            white += o.client.at(x, y) == 0xFFFFFF ? 1 : 0;
        }
    EXPECT_GT(dark, 3);
    EXPECT_EQ(white, 0);

    EXPECT_EQ(popupResult, 1);
    EXPECT_EQ(currentMode, Background);
    EXPECT_EQ(resolvedColor, hostColorWord(record.backColor));
    EXPECT_EQ(o.changed, 1);
    EXPECT_TRUE(o.paintPosted);
    EXPECT_TRUE(HostPicker::requests.empty());
}

// Keys pressed in the popup never act on the dialog under it. Escape closes the popup
// without a change; Enter, Alt+F4 and the close command leave it open.
TEST_F(BackgroundPopupTest, EscapeClosesItUnchanged)
{
    planesUsed = 4;
    currentMode = Background;
    resolvedColor = 0x11111111;
    Opening o = open([&](HWND, Opening&) { test::pressKey(VK_ESCAPE); });
    ASSERT_TRUE(o.appeared);
    EXPECT_TRUE(o.closed); // by the key, not by the helper's right click after 30 s
    EXPECT_EQ(popupResult, PopupDismissed);
    EXPECT_EQ(currentMode, Background);
    EXPECT_EQ(resolvedColor, 0x11111111u);
    EXPECT_FALSE(o.paintPosted);
}

TEST_F(BackgroundPopupTest, OtherKeysCannotCloseItAndTransparentNeedsFourPlanes)
{
    planesUsed = 4;
    currentMode = Background;
    bool openAfterKeys = false;
    Opening o = open([&](HWND popup, Opening&) {
        // Without a selected row Return takes nothing.
        test::pressKey(VK_RETURN);
        test::pressKey(VK_F4, VK_MENU);
        PostMessageA(popup, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(popup, WM_CLOSE, 0, 0);
        Sleep(300);
        openAfterKeys = IsWindow(popup) && IsWindowVisible(popup);
        test::pressKey(VK_ESCAPE);
    });
    ASSERT_TRUE(o.appeared);
    EXPECT_TRUE(openAfterKeys);
    EXPECT_TRUE(o.closed);
    EXPECT_EQ(popupResult, PopupDismissed);
    EXPECT_EQ(currentMode, Background);
    EXPECT_EQ(o.changed, 0);
    EXPECT_FALSE(o.paintPosted);

    o = open([&](HWND popup, Opening& seen) {
        const Box& r3 = seen.rows[3];
        clickClient(popup, (r3.left + r3.right) / 2, (r3.top + r3.bottom) / 2);
    });
    ASSERT_TRUE(o.appeared);
    test::saveShot(o.client, "popup-4-planes");
    // The checkerboard, aligned to the popup's client origin.
    expectSwatch(o.client, o.rows[3], TransparentColor, "transparent");
    EXPECT_EQ(popupResult, Transparent);
    EXPECT_EQ(currentMode, Transparent);
    EXPECT_EQ(resolvedColor, TransparentColor);
    EXPECT_TRUE(o.paintPosted);

    // The same row on a three-plane image is ignored.
    planesUsed = 3;
    currentMode = Foreground;
    resolvedColor = 0x11111111u;
    o = open([&](HWND popup, Opening& seen) {
        clickClient(popup, seen.rows[3].left + 3, seen.rows[3].top + 3);
    });
    EXPECT_EQ(popupResult, Transparent);
    EXPECT_EQ(currentMode, Foreground);
    EXPECT_EQ(resolvedColor, 0x11111111u);
    EXPECT_FALSE(o.paintPosted);
}

TEST_F(BackgroundPopupTest, RightClickAndTheCurrentModeChangeNothing)
{
    planesUsed = 4;
    currentMode = Background;
    Opening o = open([&](HWND popup, Opening& seen) {
        clickClient(popup, seen.rows[0].left + 5, seen.rows[0].top + 5, true);
    });
    EXPECT_TRUE(o.closed);
    EXPECT_EQ(popupResult, PopupDismissed);
    EXPECT_EQ(currentMode, Background);
    EXPECT_FALSE(o.paintPosted);

    o = open([&](HWND popup, Opening& seen) {
        clickClient(popup, seen.rows[1].left + 5, seen.rows[1].top + 5);
    });
    EXPECT_EQ(popupResult, Background);
    EXPECT_EQ(o.changed, 0);
    EXPECT_FALSE(o.paintPosted);
    EXPECT_EQ(resolvedColor, 0x11111111u);
}

// A click below the last row (answer 4) never becomes the mode.
TEST_F(BackgroundPopupTest, ClickBelowTheRowsIsIgnored)
{
    planesUsed = 4;
    currentMode = Foreground;
    Opening o = open([&](HWND popup, Opening& seen) {
        // The last frame ends at the client area's bottom, below which the pointer cannot click
        // inside the client area; the message is posted as the window system would send it.
        PostMessageA(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, seen.rows[3].bottom + 2));
    });
    EXPECT_TRUE(o.closed);
    EXPECT_EQ(popupResult, PopupBelowRows);
    EXPECT_EQ(currentMode, Foreground);
    EXPECT_EQ(resolvedColor, 0x11111111u);
    EXPECT_FALSE(o.paintPosted);
}

TEST_F(BackgroundPopupTest, PickerRowAsksTheHostAndKeepsTheMarker)
{
    planesUsed = 3;
    currentMode = Picker; // Picker again still asks, and a new colour repaints
    Opening o = open([&](HWND popup, Opening& seen) {
        clickClient(popup, seen.rows[2].left + 5, seen.rows[2].top + 5);
    });
    EXPECT_EQ(popupResult, Picker);
    ASSERT_EQ(HostPicker::requests.size(), 1u);
    const std::vector<uint8_t>& sent = HostPicker::requests[0];
    EXPECT_EQ(sent.size(), sizeof(void*) == 4 ? 36u : 56u);
    ColorServicesInfo info;
    std::memcpy(&info, sent.data(), sizeof info);
    EXPECT_EQ(info.infoSize, int32_t(sizeof info));
    EXPECT_EQ(info.selector, 0);
    EXPECT_EQ(info.sourceSpace, 0);
    EXPECT_EQ(info.resultSpace, 0);
    EXPECT_EQ(info.colorComponents[0], 0x99);
    EXPECT_EQ(info.colorComponents[1], 0x66);
    EXPECT_EQ(info.colorComponents[2], 0x33);
    EXPECT_EQ(info.selectorParameter.pickerPrompt, nullptr);
    EXPECT_EQ(pickerColor, 0x7F208040u);
    EXPECT_EQ(currentMode, Picker);
    EXPECT_EQ(resolvedColor, 0xFF208040u);
    EXPECT_TRUE(o.paintPosted);

    // A picker that fails leaves everything as it was.
    HostPicker::answer = userCanceledErr;
    currentMode = Foreground;
    resolvedColor = 0x11111111u;
    o = open([&](HWND popup, Opening& seen) {
        clickClient(popup, seen.rows[2].left + 5, seen.rows[2].top + 5);
    });
    EXPECT_EQ(HostPicker::requests.size(), 2u);
    EXPECT_EQ(pickerColor, 0x7F208040u);
    EXPECT_EQ(currentMode, Foreground);
    EXPECT_EQ(resolvedColor, 0x11111111u);
    EXPECT_FALSE(o.paintPosted);
}

// The label of `row` shows the highlight colours in a capture of the popup's client area.
bool labelHighlighted(const Pixels& client, const Box& row)
{
    const uint32_t highlight = GetSysColor(COLOR_HIGHLIGHT);
    int found = 0;
    for (int32_t y = row.top; y < row.bottom; ++y)
        for (int32_t x = 0; x < row.left; ++x)
            found += client.at(x, y) == highlight ? 1 : 0;
    return found > 20;
}

// The arrows move a selection over the rows (the first one selects the current background),
// Return takes it; on a three-plane image Transparent cannot be selected.
TEST_F(BackgroundPopupTest, ArrowsSelectARowAndReturnTakesIt)
{
    planesUsed = 4;
    currentMode = Foreground;
    Pixels selected;
    Opening o = open([&](HWND popup, Opening& seen) {
        for (WORD key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN})
            test::pressKey(key);
        // The selected label is drawn in the highlight colours before Return is pressed.
        for (int i = 0; i < 300; ++i) {
            Sleep(10);
            RECT client;
            GetClientRect(popup, &client);
            selected = test::capture(popup, Box{0, 0, client.right, client.bottom});
            if (labelHighlighted(selected, seen.rows[3]))
                break;
        }
        test::pressKey(VK_RETURN);
    });
    EXPECT_TRUE(o.closed);
    test::saveShot(selected, "popup-keyboard-transparent");
    EXPECT_TRUE(labelHighlighted(selected, o.rows[3]));
    EXPECT_FALSE(labelHighlighted(selected, o.rows[2]));
    EXPECT_FALSE(labelHighlighted(o.client, o.rows[0])); // opened with the mouse: none selected
    EXPECT_EQ(popupResult, Transparent);
    EXPECT_EQ(currentMode, Transparent);
    EXPECT_EQ(resolvedColor, TransparentColor);
    EXPECT_TRUE(o.paintPosted);

    planesUsed = 3;
    currentMode = Background;
    resolvedColor = 0x11111111u;
    o = open([&](HWND, Opening&) {
        for (WORD key : {VK_END, VK_DOWN, VK_UP, VK_UP, VK_UP, VK_DOWN})
            test::pressKey(key);
        test::pressKey(VK_RETURN);
    });
    EXPECT_TRUE(o.closed);
    EXPECT_EQ(popupResult, Background);
    EXPECT_EQ(o.changed, 0);
    EXPECT_FALSE(o.paintPosted);
    EXPECT_TRUE(HostPicker::requests.empty());

    o = open([&](HWND, Opening&) {
        for (WORD key : {VK_END, VK_UP, VK_UP, VK_HOME})
            test::pressKey(key);
        test::pressKey(VK_RETURN);
    });
    EXPECT_EQ(popupResult, Foreground);
    EXPECT_EQ(currentMode, Foreground);
    EXPECT_EQ(resolvedColor, hostColorWord(record.foreColor));
    EXPECT_TRUE(o.paintPosted);
}

// Opened from the keyboard: over the anchor (the swatch) wherever the pointer is, with the
// current background selected, so Return at once changes nothing.
TEST_F(BackgroundPopupTest, OpenedFromTheKeyboardItSelectsTheCurrentRowOverTheSwatch)
{
    planesUsed = 4;
    currentMode = Picker;
    popupByKeyboard = 1;
    popupAnchor = POINT{300, 200};
    RECT where{0, 0, 0, 0};
    Opening o = open([&](HWND popup, Opening&) {
        GetWindowRect(popup, &where);
        test::pressKey(VK_DOWN);
        test::pressKey(VK_UP);
        test::pressKey(VK_UP);
        test::pressKey(VK_RETURN);
    });
    popupByKeyboard = 0;
    EXPECT_TRUE(o.closed);
    EXPECT_TRUE(labelHighlighted(o.client, o.rows[2]));
    test::saveShot(o.client, "popup-keyboard-opened");
    EXPECT_LE(std::abs((where.left + where.right) / 2 - 300), 1);
    EXPECT_LE(std::abs((where.top + where.bottom) / 2 - 200), 1);
    // Picker, then Transparent, back to Picker, then Background.
    EXPECT_EQ(popupResult, Background);
    EXPECT_EQ(currentMode, Background);
    EXPECT_TRUE(HostPicker::requests.empty());

    popupByKeyboard = 1;
    o = open([&](HWND, Opening&) { test::pressKey(VK_RETURN); });
    popupByKeyboard = 0;
    EXPECT_EQ(popupResult, Background);
    EXPECT_EQ(o.changed, 0);
    EXPECT_FALSE(o.paintPosted);
}

TEST_F(BackgroundPopupTest, FewerThanThreePlanesOpenNothing)
{
    planesUsed = 2;
    currentMode = Picker;
    popupResult = 77;
    EXPECT_EQ(chooseBackground(owner, &record), 0);
    EXPECT_EQ(findPopup(owner), nullptr);
    EXPECT_EQ(popupResult, 77);
    EXPECT_EQ(currentMode, Picker);
}

// A popup that cannot be made (no template in the module) changes nothing, even with Picker
// current: the host's picker does not open unasked.
TEST_F(BackgroundPopupTest, PopupThatCannotBeMadeChangesNothing)
{
    moduleInstance = GetModuleHandleA(nullptr);
    planesUsed = 4;
    currentMode = Picker;
    EXPECT_EQ(chooseBackground(owner, &record), 0);
    EXPECT_EQ(popupResult, Picker);
    EXPECT_EQ(currentMode, Picker);
    EXPECT_EQ(pickerColor, 0x7F336699u);
    EXPECT_EQ(resolvedColor, 0x11111111u);
    EXPECT_TRUE(HostPicker::requests.empty());
}

} // namespace
} // namespace oryn
