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

// The row the keyboard has selected (-1: none yet) and the four row labels, top to bottom.
int32_t popupSelection = -1;
HWND popupLabels[4] = {};

// Finds the labels: the texts beside the swatch frames, each in the row its middle falls in.
BOOL CALLBACK findLabel(HWND child, LPARAM /*unused*/)
{
    const int id = GetDlgCtrlID(child);
    for (int row = 0; row < 4; ++row)
        if (id == RowControls[row])
            return TRUE;
    HWND window = GetParent(child);
    RECT rect{0, 0, 0, 0};
    GetWindowRect(child, &rect);
    POINT middle{rect.left, (rect.top + rect.bottom) / 2};
    ScreenToClient(window, &middle);
    const int32_t row = popupRowAt(popupRows, static_cast<uint32_t>(middle.y));
    if (row >= 0 && row < 4)
        popupLabels[row] = child;
    return TRUE;
}

// A row the keyboard may select: Transparent only on images with a fourth plane.
bool selectable(int32_t row)
{
    return row >= 0 && row < 4 && (row < 3 || planesUsed > 3);
}

void selectRow(HWND window, int32_t row)
{
    if (!selectable(row) || row == popupSelection)
        return;
    const int32_t previous = popupSelection;
    popupSelection = row;
    if (previous >= 0 && popupLabels[previous] != nullptr)
        InvalidateRect(popupLabels[previous], nullptr, TRUE);
    if (popupLabels[row] != nullptr)
        InvalidateRect(popupLabels[row], nullptr, TRUE);
    (void)window;
}

// Up and Down (also Left and Right) move the selection, Home and End go to the first and last
// row; the first key of a popup opened with the mouse selects the current background.
void popupKey(HWND window, WPARAM key)
{
    const int32_t current = selectable(popupResult) ? popupResult : 0;
    int32_t last = planesUsed > 3 ? 3 : 2;
    int32_t row = popupSelection;
    switch (key) {
    case VK_UP:
    case VK_LEFT:
        row = row < 0 ? current : (row > 0 ? row - 1 : 0);
        break;
    case VK_DOWN:
    case VK_RIGHT:
        row = row < 0 ? current : (row < last ? row + 1 : last);
        break;
    case VK_HOME:
        row = 0;
        break;
    case VK_END:
        row = last;
        break;
    default:
        return;
    }
    selectRow(window, row);
}

// A key pressed in the popup: Return takes the selected row (without a selection it does
// nothing), Escape closes the popup without a change, the arrows, Home and End select a row.
void popupKeyDown(HWND window, WPARAM key)
{
    if (key == VK_RETURN && popupSelection >= 0) {
        popupResult = popupSelection;
        EndDialog(window, 0);
    } else if (key == VK_ESCAPE) {
        popupResult = PopupDismissed;
        EndDialog(window, 0);
    } else {
        popupKey(window, key);
    }
}

// The popup while it is open, for the keyboard filter below; null otherwise.
HWND openPopup = nullptr;
// 1 from the swatch click until the popup and the host's colour picker have both returned.
int32_t choiceOpen = 0;

// Keys meant for the popup. The template's DS_CONTROL style makes the dialog manager hand a
// popup's dialog keys to its owner, so Escape or Enter pressed in the popup would cancel or apply
// the main dialog underneath it. The popup's modal loop passes every message through this thread
// filter first; each key message is answered here and never reaches the dialog manager: Escape
// closes the popup without a change, the arrows select a row and Return takes it (popupKeyDown);
// nothing else acts.
LRESULT CALLBACK popupKeyFilter(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code != MSGF_DIALOGBOX || message == nullptr || openPopup == nullptr ||
        message->message < WM_KEYFIRST || message->message > WM_KEYLAST)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    if (message->message == WM_KEYDOWN)
        popupKeyDown(openPopup, message->wParam);
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
        drawSwatch(canvas, popupRows[0], hostColorWord(popupRecord->foreColor), displayScale);
        drawSwatch(canvas, popupRows[1], hostColorWord(popupRecord->backColor), displayScale);
    }
    drawSwatch(canvas, popupRows[2], pickerColor | OpaqueMarker, displayScale);
    if (planesUsed > 3) {
        drawSwatch(canvas, popupRows[3], TransparentColor, displayScale);
    } else {
        // Transparent needs a fourth plane: the row shows an "x" instead of the checkerboard.
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        TextOutA(dc, popupRows[3].left + displayScale.px(6), popupRows[3].top + displayScale.px(2),
                 "x", 1);
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

void drawSwatch(HDC dc, const Box& rect, uint32_t colour, DisplayScale scale)
{
    Win32Canvas canvas(dc);
    drawSwatch(static_cast<Canvas&>(canvas), rect, colour, scale);
}

INT_PTR CALLBACK backgroundPopupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        openPopup = window;
        placeAtPointer(window);
        // The rows exist before the first paint, for a click that comes before it.
        for (int row = 0; row < 4; ++row)
            popupRows[row] = controlClientRect(window, RowControls[row]);
        for (HWND& label : popupLabels)
            label = nullptr;
        EnumChildWindows(window, findLabel, 0);
        popupSelection = -1;
        if (popupByKeyboard != 0) {
            // Opened from the keyboard: over the swatch, not under a pointer that may be anywhere,
            // and with the current background selected.
            RECT rect{0, 0, 0, 0};
            GetWindowRect(window, &rect);
            SetWindowPos(window, nullptr, popupAnchor.x - (rect.right - rect.left) / 2,
                         popupAnchor.y - (rect.bottom - rect.top) / 2, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            popupSelection = selectable(popupResult) ? popupResult : 0;
        }
        // None of its controls takes the focus: the popup itself does, so that its keys come
        // to it and never to the window it was opened from.
        SetFocus(window);
        break;
    case WM_ACTIVATE:
    case WM_SETFOCUS:
        // The default handling would hand the focus on to the first static: it stays here.
        if (message == WM_SETFOCUS || LOWORD(wParam) != WA_INACTIVE) {
            if (message == WM_ACTIVATE)
                SetFocus(window);
            SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        break;
    case WM_GETDLGCODE:
        // Every key comes here: the arrows choose a row instead of moving among the
        // (unfocusable) controls, and the default handling must not see Return and Escape,
        // which it would send on to the main dialog (this popup has the style of a control).
        SetWindowLongPtrA(window, DWLP_MSGRESULT, DLGC_WANTALLKEYS | DLGC_WANTARROWS);
        return TRUE;
    case WM_KEYDOWN:
        // Keys normally arrive through popupKeyFilter; one sent to the popup directly is handled
        // the same way.
        popupKeyDown(window, wParam);
        break;
    case WM_CTLCOLORSTATIC:
        // The selected row's label in the highlight colours.
        if (popupSelection >= 0 && reinterpret_cast<HWND>(lParam) == popupLabels[popupSelection]) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
            SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_HIGHLIGHT));
        }
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
