// Focus windows for the dialog's own controls, the tab order, and their keys.
#include "ui/DialogKeysWin32.h"

#include "Resource.h"
#include "controls/BackgroundPopupWin32.h"
#include "controls/ControlsStateWin32.h"
#include "controls/PreviewInput.h"
#include "controls/RunState.h"
#include "controls/Win32Canvas.h"
#include "ui/DialogKeys.h"
#include "ui/MainDialogWin32.h"

namespace oryn {

DialogView dialogView;

namespace {

const char StopClass[] = "OrynFocusStop";
constexpr int32_t StopWindows = LinkStop + 1;

// What a screen reader or a window list calls each focus window. "x2" is a check box of the
// template and needs none.
const char* const StopNames[StopWindows] = {
    "Cell height",      "Cell width", "S-Bevel width", "S-Shading",
    "Stretch",          "Light direction", "Light Boosting", "Brightness Ratio",
    "G-Shading",        "BkgrColor", nullptr, "Home page"};

HWND stopWindows[StopWindows] = {};
ATOM stopClass = 0;
WNDPROC doubleBoxProcedure = nullptr; // the "x2" check box's own procedure

int32_t stopOf(HWND window)
{
    if (window == nullptr)
        return NoStop;
    for (int32_t i = 0; i < StopWindows; ++i)
        if (stopWindows[i] == window)
            return i;
    if (dialogWindow != nullptr && window == GetDlgItem(dialogWindow, IDC_STRETCH_DOUBLE))
        return DoubleStop;
    return NoStop;
}

bool controlsMade()
{
    if (controlsReady == 0 || button == nullptr)
        return false;
    for (XYPad* pad : pads)
        if (pad == nullptr)
            return false;
    return true;
}

uint32_t modifiersNow()
{
    return GetKeyState(VK_SHIFT) < 0 ? ShiftHeld : 0;
}

// Draws one stop as the view shows it now.
void redrawStop(int32_t stop)
{
    acquireControlDc();
    if (controlDc != nullptr) {
        Win32Canvas canvas(controlDc, buttonDc);
        drawStop(canvas, pads, *button, dialogRects, dialogView, stop);
    }
    releaseControlDc();
}

// The swatch pressed from the keyboard: the background choice opens over the swatch, with the
// current background selected.
void openBackgroundChoice()
{
    const Box& swatch = dialogRects.swatchRect;
    popupAnchor = POINT{(swatch.left + swatch.right) / 2, (swatch.top + swatch.bottom) / 2};
    ClientToScreen(dialogWindow, &popupAnchor);
    popupByKeyboard = 1;
    chooseBackground(dialogWindow, dialogContext != nullptr ? dialogContext->record : nullptr);
    popupByKeyboard = 0;
}

// A key press for `stop`. `inRender`: it comes from the preview render's poll, which redraws
// and restarts by itself and never opens the background choice. Returns what dialogKeyDown said.
int32_t stopKeyDown(int32_t stop, uint32_t key, uint32_t modifiers, bool inRender)
{
    if (!controlsMade() || stop == NoStop || stop == DoubleStop)
        return KeyIgnored;
    dialogView.focus = stop;
    int32_t result = KeyIgnored;
    acquireControlDc();
    if (controlDc != nullptr) {
        Win32Canvas canvas(controlDc, buttonDc);
        result = dialogKeyDown(dialogView, pads, *button, canvas, key, modifiers);
        // The marker at its new place, or the caption, is drawn at once: a pass after a stopped
        // render redraws only the cell-size pads and the button.
        if (result == KeyChanged || result == KeyRedrawStop)
            drawStop(canvas, pads, *button, dialogRects, dialogView, stop);
    }
    releaseControlDc();
    if (result == KeyChanged && !inRender)
        noteControlChange(dialogWindow);
    if (result == KeyOpensBackground && !inRender)
        openBackgroundChoice();
    if (result == KeyOpensLink && !inRender)
        launchHomePage();
    return result;
}

void stopChar(int32_t stop, char c)
{
    if (!controlsMade() || stop != dialogView.focus)
        return;
    if (dialogKeyChar(dialogView, pads, c) == KeyRedrawStop)
        redrawStop(stop);
}

// The focus went to `window` (any window, or null): the old stop loses its mark (and what was
// typed into it is taken), the new one gets its mark.
void focusArrives(HWND window)
{
    const int32_t stop = stopOf(window);
    if (stop == dialogView.focus)
        return;
    const int32_t previous = dialogView.focus;
    if (!controlsMade()) {
        dialogView.focus = stop;
        clearPadEntry(dialogView.entry);
        return;
    }
    int32_t result = KeyRedrawStop;
    acquireControlDc();
    if (controlDc != nullptr) {
        Win32Canvas canvas(controlDc, buttonDc);
        result = dialogFocusMoves(dialogView, pads, canvas, stop);
        drawStop(canvas, pads, *button, dialogRects, dialogView, previous);
        drawStop(canvas, pads, *button, dialogRects, dialogView, stop);
    } else {
        dialogView.focus = stop;
    }
    releaseControlDc();
    if (result == KeyChanged)
        noteControlChange(dialogWindow);
}

// The keys a focus window takes from the dialog's keyboard handling: the arrows and characters
// always, Return and Escape where the stop uses them.
LRESULT dialogCode(HWND window, const MSG* message)
{
    LRESULT code = DLGC_WANTARROWS | DLGC_WANTCHARS;
    if (message != nullptr && message->message == WM_KEYDOWN) {
        DialogView view = dialogView;
        view.focus = stopOf(window);
        if (stopTakesKey(view, static_cast<uint32_t>(message->wParam)))
            code |= DLGC_WANTMESSAGE;
    }
    return code;
}

LRESULT CALLBACK stopProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETDLGCODE:
        return dialogCode(window, reinterpret_cast<const MSG*>(lParam));
    case WM_KEYDOWN:
        stopKeyDown(stopOf(window), static_cast<uint32_t>(wParam), modifiersNow(), false);
        return 0;
    case WM_CHAR:
        stopChar(stopOf(window), static_cast<char>(wParam));
        return 0;
    case WM_SETFOCUS:
        focusArrives(window);
        return 0;
    case WM_KILLFOCUS:
        focusArrives(reinterpret_cast<HWND>(wParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The "x2" box draws no visible focus of its own (it has no caption): the dialog draws its mark.
LRESULT CALLBACK doubleBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETFOCUS)
        focusArrives(window);
    else if (message == WM_KILLFOCUS)
        focusArrives(reinterpret_cast<HWND>(wParam));
    return CallWindowProcA(doubleBoxProcedure, window, message, wParam, lParam);
}

// During a preview render: at most one key message waiting for the focused pad or button. Keys
// the dialog itself handles (Tab, Return and Escape that the stop leaves alone, Alt keys) stay in
// the queue with everything after them, for the dialog's own loop once the paint has ended.
int32_t pollFocusedKeys()
{
    const int32_t stop = dialogView.focus;
    // The swatch and the link open something: their keys wait for the dialog's own loop.
    if (!controlsMade() || stop < 0 || stop == SwatchStop || stop == LinkStop ||
        stop >= StopWindows)
        return 0;
    HWND window = stopWindows[stop];
    MSG message;
    if (window == nullptr || !PeekMessageA(&message, window, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE))
        return 0;
    if (message.message == WM_SYSKEYDOWN || message.message == WM_SYSCHAR)
        return 0;
    if (message.message == WM_KEYDOWN) {
        const uint32_t key = static_cast<uint32_t>(message.wParam);
        if (key == VK_TAB)
            return 0;
        if ((key == VK_RETURN || key == VK_ESCAPE) && !stopTakesKey(dialogView, key))
            return 0;
    }
    if (!PeekMessageA(&message, window, message.message, message.message, PM_REMOVE))
        return 0;
    if (message.message == WM_KEYDOWN) {
        // The characters of a typed number come as WM_CHAR, made from the key press.
        TranslateMessage(&message);
        return stopKeyDown(stop, static_cast<uint32_t>(message.wParam), modifiersNow(), true) ==
                       KeyChanged
                   ? 1
                   : 0;
    }
    if (message.message == WM_CHAR)
        stopChar(stop, static_cast<char>(message.wParam));
    return 0;
}

HWND place(HWND window, HWND after)
{
    if (window == nullptr)
        return after;
    SetWindowPos(window, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return window;
}

} // namespace

int createFocusStops(HWND dialog)
{
    HINSTANCE instance = static_cast<HINSTANCE>(moduleInstance);
    if (stopClass == 0) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = stopProcedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = StopClass;
        stopClass = RegisterClassA(&windowClass);
    }
    dialogView = DialogView{};
    int failed = 0;
    for (int32_t i = 0; i < StopWindows; ++i) {
        if (StopNames[i] == nullptr)
            continue;
        // No size: the control is drawn by the dialog, and the mouse goes to the dialog as ever.
        stopWindows[i] =
            stopClass == 0 ? nullptr
                           : CreateWindowExA(0, StopClass, StopNames[i],
                                             WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, dialog,
                                             reinterpret_cast<HMENU>(
                                                 static_cast<INT_PTR>(IDC_FOCUS_STOP_FIRST + i)),
                                             instance, nullptr);
        failed |= stopWindows[i] == nullptr ? 1 : 0;
    }
    HWND doubleBox = GetDlgItem(dialog, IDC_STRETCH_DOUBLE);
    if (doubleBox != nullptr) {
        const WNDPROC previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(doubleBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(doubleBoxProc)));
        if (previous != doubleBoxProc)
            doubleBoxProcedure = previous;
    }

    // The tab order is the order of the windows: every tab stop goes to the top, as the dialog
    // reads, ahead of the frames and texts.
    const HWND order[] = {stopWindows[1],
                          stopWindows[0],
                          stopWindows[LinkStop],
                          stopWindows[5],
                          doubleBox,
                          stopWindows[4],
                          stopWindows[2],
                          stopWindows[3],
                          stopWindows[ButtonStop],
                          stopWindows[SwatchStop],
                          stopWindows[7],
                          stopWindows[6],
                          GetDlgItem(dialog, IDC_PRESET_LIST),
                          GetDlgItem(dialog, IDC_ANTIALIAS),
                          GetDlgItem(dialog, IDC_CANCEL),
                          GetDlgItem(dialog, IDC_APPLY)};
    HWND after = HWND_TOP;
    for (HWND window : order)
        after = place(window, after);
    keyboardPoll = pollFocusedKeys;
    return failed;
}

void releaseFocusStops()
{
    keyboardPoll = nullptr;
    for (HWND& window : stopWindows)
        window = nullptr;
    doubleBoxProcedure = nullptr;
    dialogView = DialogView{};
    if (stopClass != 0 && UnregisterClassA(StopClass, static_cast<HINSTANCE>(moduleInstance)))
        stopClass = 0;
}

void setFocusLook()
{
    // The mark grows with the dialog's display scale, like everything else it draws.
    dialogView.markWidth = focusMarkWidth(displayScale);
    dialogView.markColour = GetSysColor(COLOR_HIGHLIGHT);
}

} // namespace oryn
