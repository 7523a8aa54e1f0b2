// The background popup's window side and the main dialog's handling of its answer.
#include "controls/BackgroundPopupWin32.h"

#include "controls/BackgroundChoice.h"
#include "controls/ControlsStateWin32.h"
#include "controls/RunState.h"
#include "controls/Win32Canvas.h"
#include "host/RunSetup.h"
#include "resources/Resource.h"

namespace oryn {

namespace {

const char PopupTemplate[] = "BACK";
constexpr int RowControls[4] = {IDC_BACK_FOREGROUND, IDC_BACK_BACKGROUND, IDC_BACK_PICKER,
                                IDC_BACK_TRANSPARENT};

// The popup while it is open, for the keyboard filter below; null otherwise.
HWND openPopup = nullptr;
// 1 from the swatch click until the popup and the host's colour picker have both returned.
int32_t choiceOpen = 0;

// Keys meant for the popup. The template's DS_CONTROL style makes the dialog manager hand a
// popup's dialog keys to its owner, so Escape or Enter pressed in the popup would cancel or apply
// the main dialog underneath it. The popup's modal loop passes every message through this thread
// filter first; each key message is answered here and never reaches the dialog manager: Escape
// closes the popup without a change, every other key does nothing.
LRESULT CALLBACK popupKeyFilter(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code != MSGF_DIALOGBOX || message == nullptr || openPopup == nullptr ||
        message->message < WM_KEYFIRST || message->message > WM_KEYLAST)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    if (message->message == WM_KEYDOWN && message->wParam == VK_ESCAPE) {
        popupResult = PopupDismissed;
        EndDialog(openPopup, 0);
    }
    return 1;
}

// Centres the popup on the mouse pointer, kept inside the work area of the pointer's monitor.
// The template asks for this too, but a window system that honours DS_CENTER over
// DS_CENTERMOUSE centres it on the screen instead, far from the swatch that was clicked.
void placeAtPointer(HWND window)
{
    POINT pointer{0, 0};
    RECT frame{0, 0, 0, 0};
    if (!GetCursorPos(&pointer) || !GetWindowRect(window, &frame))
        return;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    const RECT& area = monitor.rcWork;
    const LONG width = frame.right - frame.left;
    const LONG height = frame.bottom - frame.top;
    LONG x = pointer.x - width / 2;
    LONG y = pointer.y - height / 2;
    if (x + width > area.right)
        x = area.right - width;
    if (y + height > area.bottom)
        y = area.bottom - height;
    if (x < area.left)
        x = area.left;
    if (y < area.top)
        y = area.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void paintPopup(HWND window)
{
    for (int row = 0; row < 4; ++row)
        popupRows[row] = controlClientRect(window, RowControls[row]);
    HDC dc = GetDC(window);
    if (dc == nullptr)
        return;
    Win32Canvas canvas(dc);
    if (popupRecord != nullptr) {
        drawSwatch(canvas, popupRows[0], hostColorWord(popupRecord->foreColor));
        drawSwatch(canvas, popupRows[1], hostColorWord(popupRecord->backColor));
    }
    drawSwatch(canvas, popupRows[2], pickerColor | OpaqueMarker);
    if (planesUsed > 3) {
        drawSwatch(canvas, popupRows[3], TransparentColor);
    } else {
        // Transparent needs a fourth plane: the row shows an "x" instead of the checkerboard.
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        TextOutA(dc, popupRows[3].left + 6, popupRows[3].top + 2, "x", 1);
    }
    ReleaseDC(window, dc);
}

} // namespace

Box controlClientRect(HWND dialog, int id)
{
    RECT rect{0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    POINT corners[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
    ScreenToClient(dialog, &corners[0]);
    ScreenToClient(dialog, &corners[1]);
    return Box{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

void drawSwatch(HDC dc, const Box& rect, uint32_t colour)
{
    Win32Canvas canvas(dc);
    drawSwatch(static_cast<Canvas&>(canvas), rect, colour);
}

INT_PTR CALLBACK backgroundPopupProc(HWND window, UINT message, WPARAM /*wParam*/, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        openPopup = window;
        placeAtPointer(window);
        // The rows exist before the first paint, for a click that comes before it.
        for (int row = 0; row < 4; ++row)
            popupRows[row] = controlClientRect(window, RowControls[row]);
        break;
    case WM_PAINT:
        paintPopup(window);
        break;
    case WM_RBUTTONDOWN:
        popupResult = PopupDismissed;
        EndDialog(window, 0);
        break;
    case WM_LBUTTONDOWN:
        popupResult = popupRowAt(popupRows, static_cast<uint32_t>(lParam) >> 16 & 0xFFFF);
        EndDialog(window, 0);
        break;
    default:
        break;
    }
    return 0;
}

bool backgroundChoiceOpen()
{
    return choiceOpen != 0;
}

int32_t chooseBackground(HWND dialog, FilterRecord* record)
{
    // A click that reaches the dialog while the popup or the host's picker is still open (a host
    // whose picker pumps messages delivers it) must not open a second one.
    if (planesUsed < 3 || choiceOpen != 0)
        return 0;
    choiceOpen = 1;
    popupResult = currentMode;
    popupRecord = record;
    HHOOK keyFilter =
        SetWindowsHookExA(WH_MSGFILTER, popupKeyFilter, nullptr, GetCurrentThreadId());
    const INT_PTR ran = DialogBoxParamA(static_cast<HINSTANCE>(moduleInstance), PopupTemplate,
                                        dialog, backgroundPopupProc, 0);
    if (keyFilter != nullptr)
        UnhookWindowsHookEx(keyFilter);
    openPopup = nullptr;
    popupRecord = nullptr;
    // A popup that could not be made chose nothing; with Picker current, its unchanged answer
    // would otherwise open the host's picker unasked.
    if (ran == -1) {
        choiceOpen = 0;
        return 0;
    }

    BackgroundChoice state{planesUsed, currentMode, pickerColor, resolvedColor};
    // The host's picker is the host's window: the dialog takes no input until it has returned,
    // as under any modal window of its own.
    const bool picking = popupResult == Picker;
    if (picking)
        EnableWindow(dialog, FALSE);
    const int32_t changed = applyBackgroundAnswer(popupResult, record, state);
    if (picking) {
        EnableWindow(dialog, TRUE);
        SetActiveWindow(dialog);
    }
    choiceOpen = 0;
    currentMode = state.currentMode;
    pickerColor = state.pickerColor;
    resolvedColor = state.resolvedColor;
    if (changed == 0)
        return 0;
    PostMessageA(dialog, WM_PAINT, 0, 10);
    return 1;
}

} // namespace oryn
