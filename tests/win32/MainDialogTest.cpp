// The main dialog in a real window under Wine, driven at the message level where real input
// cannot reach deterministically: the first paint and its order, the restarts of the preview,
// the "x2" sync, the preset list's save and delete flows, the home page link, commands before the
// first paint, and a second run in the same loaded module.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "FakeHost.h"
#include "MainDialogFixture.h"
#include "Resource.h"
#include "controls/ControlsStateWin32.h"
#include "controls/RunState.h"
#include "params/PresetList.h"
#include "params/PresetStore.h"
#include "plugin/FinalRender.h"
#include "plugin/PluginMain.h"
#include "plugin/PluginState.h"
#include "ui/DialogKeysWin32.h"
#include "ui/MainDialogWin32.h"

namespace oryn {
namespace {

const char BrowserKey[] = "Software\\CLASSES\\http\\shell\\open\\command";

// Runs `step` on a second thread whenever a visible dialog of this process matches `match`;
// stops after the first match.
class Watcher {
public:
    Watcher(std::function<bool(HWND)> match, std::function<void(HWND)> step)
        : thread([=] {
              for (int i = 0; i < 500 && !stop; ++i) {
                  HWND found = nullptr;
                  EnumThreadWindowsAll(match, found);
                  if (found != nullptr) {
                      step(found);
                      hits++;
                      return;
                  }
                  Sleep(10);
              }
          })
    {
    }
    ~Watcher()
    {
        stop = true;
        thread.join();
    }
    std::atomic<int> hits{0};

private:
    struct Search {
        const std::function<bool(HWND)>* match;
        HWND found;
    };
    static BOOL CALLBACK visit(HWND w, LPARAM p)
    {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(w) && (*s->match)(w)) {
            s->found = w;
            return FALSE;
        }
        return TRUE;
    }
    static void EnumThreadWindowsAll(const std::function<bool(HWND)>& match, HWND& found)
    {
        Search search{&match, nullptr};
        EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
        found = search.found;
    }
    std::atomic<bool> stop{false};
    std::thread thread;
};

bool isSaveDialog(HWND w) { return GetDlgItem(w, IDC_SAVE_LIGHT) != nullptr; }
bool isErrorBox(HWND w)
{
    char caption[32] = {};
    GetWindowTextA(w, caption, sizeof caption);
    return std::strcmp(caption, "ERROR") == 0;
}

// Answers the save dialog: types `name` and presses the button `id` (1 Save, 2 Cancel, 3 Delete).
std::function<void(HWND)> answerSave(std::string name, int id)
{
    return [=](HWND w) {
        SetDlgItemTextA(w, IDC_PRESET_LIST, name.c_str());
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    };
}

TEST_F(MainDialogTest, FirstPaintShowsTheTransferTextThenOpensOnOrystone)
{
    FakeHost host(640, 480, 3, false, 0);
    open(host);
    // At the moment the host is asked for the image, the wait text already stands at (50, 50).
    static HWND watched;
    static int inkAtRequest;
    watched = dialog;
    inkAtRequest = -1;
    host.record.advanceState = [] {
        HDC dc = GetDC(watched);
        int ink = 0;
        for (int y = 50; y < 63; ++y)
            for (int x = 50; x < 200; ++x)
                ink += GetPixel(dc, x, y) == RGB(0, 0, 0);
        ReleaseDC(watched, dc);
        inkAtRequest = ink;
        return FakeHost::advance();
    };
    UpdateWindow(dialog);
    pump();
    ASSERT_EQ(controlsReady, 1);
    EXPECT_GT(inkAtRequest, 50);
    EXPECT_EQ(host.advanceCalls, 1);

    // Empty store: nine samples and the save entry; "Orystone" with light correction 30/20.
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETCOUNT, 0, 0), 10);
    EXPECT_EQ(entry(9), "SAVE USER  PRESET");
    EXPECT_EQ(currentSelection, 2);
    // The entry's text as listed: the sample names are padded with blanks before their numbers.
    EXPECT_STREQ(presetList.currentPresetName, "Orystone    ");
    EXPECT_EQ(pads[1]->x, 35);
    EXPECT_EQ(pads[0]->y, 55);
    EXPECT_EQ(pads[6]->x, 30);
    EXPECT_EQ(pads[7]->x, 20);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ANTIALIAS), BST_CHECKED);
    EXPECT_EQ(antialias, 1);
    // The block holds what the controls show.
    EXPECT_TRUE(checksumOk(block));
    EXPECT_EQ(block.padX[1], 35);
    EXPECT_EQ(block.padX[6], 30);
    EXPECT_EQ(block.antialias, 1);

    // The completed preview is on the screen, 1:1 at the frame's corner + 3.
    HDC dc = GetDC(dialog);
    const int32_t left = dialogRects.previewFrame.left + 3, top = dialogRects.previewFrame.top + 3;
    int same = 0, total = 0;
    for (int y = 0; y < 224; y += 7)
        for (int x = 0; x < 299; x += 5) {
            const uint8_t* p = previewBuffers.previewImage + y * 900 + x * 3;
            same += GetPixel(dc, left + x, top + y) == RGB(p[2], p[1], p[0]);
            ++total;
        }
    ReleaseDC(dialog, dc);
    EXPECT_EQ(same, total);
    EXPECT_EQ(restartCount, 0);
}

TEST_F(MainDialogTest, RestartCountThreeRestartsTheRenderTwice)
{
    FakeHost host(300, 300, 3, false, 0);
    openAndPaint(host);
    host.reports.clear();
    restartCount = 3;
    SendMessageA(dialog, WM_PAINT, 0, 10);
    int starts = 0;
    for (const auto& report : host.reports)
        starts += report.first == 7;
    EXPECT_EQ(starts, 3);
    EXPECT_EQ(host.reports.back().first, 295);
    EXPECT_EQ(restartCount, 0);
}

// Keys that arrive while the preview renders: a key for the focused pad is taken by the render's
// poll at once (the marker moves and the render starts again); a Tab, which the dialog itself
// handles, waits in the queue with every key after it until the paint has ended.
HWND keyTarget = nullptr;
int keyPosts = 0;
void postKeysDuringRender(int32_t row, int32_t total)
{
    FakeHost::active->reports.emplace_back(row, total);
    if (row == 103 && keyPosts++ == 0) {
        PostMessageA(keyTarget, WM_KEYDOWN, VK_RIGHT, 0);
        PostMessageA(keyTarget, WM_KEYDOWN, VK_TAB, 0);
        PostMessageA(keyTarget, WM_KEYDOWN, VK_END, 0);
    }
}

TEST_F(MainDialogTest, KeysForTheFocusedPadAreHandledDuringARender)
{
    FakeHost host(300, 300, 3, false, 0);
    openAndPaint(host);
    // Apply has the focus first; the focus windows sit in the tab order after it.
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_APPLY));
    keyTarget = GetDlgItem(dialog, IDC_FOCUS_STOP_FIRST + 1);
    ASSERT_NE(keyTarget, nullptr);
    EXPECT_EQ(GetNextDlgTabItem(dialog, GetDlgItem(dialog, IDC_APPLY), FALSE), keyTarget);
    SetFocus(keyTarget);
    pump();
    EXPECT_EQ(dialogView.focus, 1);

    const int32_t width = pads[1]->x;
    keyPosts = 0;
    host.record.progressProc = &postKeysDuringRender;
    host.reports.clear();
    SendMessageA(dialog, WM_PAINT, 0, 10);
    int starts = 0;
    for (const auto& report : host.reports)
        starts += report.first == 7;
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(host.reports.back().first, 295);
    EXPECT_EQ(pads[1]->x, width + 1);
    MSG waiting;
    ASSERT_TRUE(PeekMessageA(&waiting, keyTarget, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE));
    EXPECT_EQ(waiting.wParam, WPARAM(VK_TAB));

    // Outside the render the waiting keys reach the focus window in their order.
    host.record.progressProc = nullptr;
    pump();
    EXPECT_EQ(pads[1]->x, pads[1]->right - pads[1]->left);
    EXPECT_FALSE(PeekMessageA(&waiting, keyTarget, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE));
}

TEST_F(MainDialogTest, X2FromAPresetReachesItsBoxAtTheNextMessage)
{
    FakeHost host(300, 300, 3, false, 0);
    openAndPaint(host);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_STRETCH_DOUBLE), BST_UNCHECKED);
    stretchDouble = 1;
    SendMessageA(dialog, WM_NULL, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_STRETCH_DOUBLE), BST_CHECKED);
    EXPECT_EQ(stretchDoubleShown, 1);
}

TEST_F(MainDialogTest, SaveEntryCancelSaveAndDelete)
{
    FakeHost host(300, 300, 3, false, 0);
    openAndPaint(host);
    const int saveEntry = presetList.presetCount;
    pads[3]->x = 77;

    {   // Cancel: the previous entry stays, nothing is stored or repainted.
        Watcher w(isSaveDialog, answerSave("Ignored", IDC_CANCEL));
        select(saveEntry);
        EXPECT_EQ(w.hits, 1);
    }
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETCURSEL, 0, 0), 2);
    EXPECT_FALSE(stored("Ignored"));
    EXPECT_FALSE(paintPosted());

    {   // Save: stored with what the controls show, its entry selected, nothing applied.
        Watcher w(isSaveDialog, answerSave("Deep Shade", IDC_APPLY));
        select(saveEntry);
        EXPECT_EQ(w.hits, 1);
    }
    ASSERT_TRUE(stored("Deep Shade"));
    EXPECT_EQ(entry(0), ">Deep Shade");
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(pads[3]->x, 77);
    EXPECT_FALSE(paintPosted());
    ParamBlock saved;
    char name[PresetNameCapacity] = "Deep Shade";
    queryParamBlock(ReadRequest, name, saved);
    EXPECT_EQ(saved.padX[3], 77);
    EXPECT_EQ(saved.presetFlags, 0);

    {   // Blanks only: refused like an empty name.
        Watcher w(isSaveDialog, answerSave("   ", IDC_APPLY));
        select(presetList.presetCount);
    }
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETCOUNT, 0, 0), 11);

    {   // A failed delete shows the error and changes nothing.
        Watcher w(isSaveDialog, answerSave("Nope", IDC_DELETE));
        Watcher box(isErrorBox, [](HWND b) { PostMessageA(b, WM_COMMAND, IDOK, 0); });
        select(presetList.presetCount);
        EXPECT_EQ(box.hits, 1);
    }
    EXPECT_TRUE(stored("Deep Shade"));
    EXPECT_FALSE(paintPosted());

    {   // A delete applies entry 0, here the first sample again.
        Watcher w(isSaveDialog, answerSave("deep shade", IDC_DELETE));
        select(presetList.presetCount);
    }
    EXPECT_FALSE(stored("Deep Shade"));
    EXPECT_EQ(currentSelection, 0);
    EXPECT_STREQ(presetList.currentPresetName, "Jalousie");
    EXPECT_EQ(pads[1]->x, 150);
    EXPECT_TRUE(paintPosted());
}

// The prefix's browser command replaced by CmdLineRecorder, which appends its command line to a
// file; the command is put back when the object goes.
struct RecordingBrowser {
    char recorder[MAX_PATH] = {};
    char record[MAX_PATH] = {};
    HKEY key = nullptr;
    char previous[1024] = {};
    DWORD previousSize = sizeof previous;
    bool hadPrevious = false;

    RecordingBrowser()
    {
        GetModuleFileNameA(nullptr, recorder, MAX_PATH);
        std::strcpy(std::strrchr(recorder, '\\') + 1, "CmdLineRecorder.exe");
        GetTempPathA(MAX_PATH, record);
        std::strcat(record, "oryn-link-record.txt");
        DeleteFileA(record);
        SetEnvironmentVariableA("ORYN_RECORD_FILE", record);
        const std::string command = std::string("\"") + recorder + "\" \"%1\"";
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, BrowserKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        hadPrevious = RegQueryValueExA(key, "", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(previous), &previousSize) == 0;
        RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       DWORD(command.size() + 1));
    }
    ~RecordingBrowser()
    {
        if (hadPrevious)
            RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous),
                           previousSize);
        else
            RegDeleteValueA(key, "");
        RegCloseKey(key);
        DeleteFileA(record);
    }
    // The first recorded command line, waited for up to 6 s; empty when none came.
    std::string firstLine() const
    {
        std::string line;
        for (int i = 0; i < 300 && line.empty(); ++i) {
            Sleep(20);
            std::ifstream in(record);
            std::getline(in, line);
        }
        return line;
    }
    std::string all() const
    {
        std::ifstream in(record);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::string expected() const
    {
        return std::string("\"") + recorder + "\"   https://oryn3d.example/";
    }
};

TEST_F(MainDialogTest, HomePageLinkHoverIsStrictAndTheClickStartsTheTrimmedCommand)
{
    FakeHost host(300, 300, 3, false, 0);
    openAndPaint(host);
    RecordingBrowser browser;

    const Box link = dialogRects.linkRect;
    auto at = [](int32_t x, int32_t y) { return LPARAM(uint32_t(x) | uint32_t(y) << 16); };
    // On the border: no hover, and a click starts nothing.
    SendMessageA(dialog, WM_MOUSEMOVE, 0, at(link.left, link.top + 2));
    EXPECT_EQ(linkHover, 0);
    SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, at(link.left, link.top + 2));
    SendMessageA(dialog, WM_MOUSEMOVE, 0, at(link.left + 5, link.bottom));
    EXPECT_EQ(linkHover, 0);
    // Inside: hover, and the click starts the command once.
    SendMessageA(dialog, WM_MOUSEMOVE, 0, at(link.left + 1, link.top + 1));
    EXPECT_EQ(linkHover, 1);
    SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, at(link.left + 1, link.top + 1));
    const std::string line = browser.firstLine();
    EXPECT_EQ(line, browser.expected());
    EXPECT_EQ(browser.all(), line + "\n"); // the border click started nothing
}

// The link is a tab stop after the cell-size pads, as it reads under the preview: Space and
// Return open it as a click does; the arrows and digits do nothing there.
TEST_F(MainDialogTest, TheLinkTakesTheFocusAndSpaceOrReturnOpensIt)
{
    FakeHost host(300, 300, 3, false, 0);
    openAndPaint(host);
    RecordingBrowser browser;
    HWND cellHeight = GetDlgItem(dialog, IDC_FOCUS_STOP_FIRST + 0);
    HWND link = GetDlgItem(dialog, IDC_FOCUS_STOP_FIRST + LinkStop);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(GetNextDlgTabItem(dialog, cellHeight, FALSE), link);
    EXPECT_EQ(GetNextDlgTabItem(dialog, link, FALSE), GetDlgItem(dialog, IDC_FOCUS_STOP_FIRST + 5));
    SetFocus(link);
    pump();
    EXPECT_EQ(dialogView.focus, LinkStop);
    // Return stays with the link instead of applying the dialog.
    MSG message{link, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_NE(SendMessageA(link, WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&message)) &
                  DLGC_WANTMESSAGE,
              0);

    const int32_t width = pads[1]->x;
    SendMessageA(link, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageA(link, WM_CHAR, '5', 0);
    SendMessageA(link, WM_KEYDOWN, VK_SPACE, 0);
    const std::string line = browser.firstLine();
    EXPECT_EQ(line, browser.expected());
    EXPECT_EQ(pads[1]->x, width);
    SendMessageA(link, WM_KEYDOWN, VK_RETURN, 0);
    std::string both;
    for (int i = 0; i < 300 && both != line + "\n" + line + "\n"; ++i) {
        Sleep(20);
        both = browser.all();
    }
    EXPECT_EQ(both, line + "\n" + line + "\n");
    EXPECT_TRUE(IsWindowVisible(dialog)); // Return opened the link and did not apply
    EXPECT_EQ(dialogResult, 12345);
}

TEST_F(MainDialogTest, ApplyAndCancelBeforeTheFirstPaintAreIgnored)
{
    FakeHost host(300, 300, 3, false, 0);
    open(host);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_APPLY, BN_CLICKED), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
    EXPECT_EQ(dialogResult, 12345);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(host.advanceCalls, 0);
    UpdateWindow(dialog);
    pump();
    EXPECT_EQ(controlsReady, 1);
}

// Two full runs through the start selector in one loaded module: each requests and reduces the
// image, fills the list, opens with Antialiasing on in state and box, and stores what it showed.
TEST_F(MainDialogTest, ASecondRunInTheSameModuleWorksLikeTheFirst)
{
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        FakeHost host(320, 200, 3, false, 0);
        paintImage(host);
        std::atomic<int> boxChecked{-1};
        std::atomic<int> listCount{-1};
        std::thread apply([&] {
            for (int i = 0; i < 500; ++i) {
                Sleep(10);
                if (controlsReady == 1 && dialogWindow != nullptr && IsWindowVisible(dialogWindow)) {
                    boxChecked = int(IsDlgButtonChecked(dialogWindow, IDC_ANTIALIAS));
                    listCount = int(SendDlgItemMessageA(dialogWindow, IDC_PRESET_LIST, CB_GETCOUNT, 0, 0));
                    // The user unticks Antialiasing before Apply in the first run only.
                    if (run == 0) {
                        CheckDlgButton(dialogWindow, IDC_ANTIALIAS, BST_UNCHECKED);
                        PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_ANTIALIAS, BN_CLICKED), 0);
                    }
                    Sleep(100);
                    PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_APPLY, BN_CLICKED), 0);
                    return;
                }
            }
        });
        silentReplay = 0;
        EXPECT_EQ(runStart(&host.record), noErr);
        apply.join();
        EXPECT_EQ(host.advanceCalls, 1);
        EXPECT_EQ(boxChecked, BST_CHECKED);
        EXPECT_EQ(listCount, run == 0 ? 10 : 11); // the second run lists "Last Used" too
        ParamBlock last;
        char name[PresetNameCapacity] = "Last Used";
        ASSERT_EQ(queryParamBlock(ReadRequest, name, last), 0);
        EXPECT_EQ(last.antialias, run == 0 ? 0 : 1);
        EXPECT_EQ(last.presetFlags & LastUsedRecord, LastUsedRecord);
    }
}

} // namespace
} // namespace oryn
