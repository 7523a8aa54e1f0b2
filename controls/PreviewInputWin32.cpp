// Mouse input for the controls during and outside a preview render.
#include "controls/PreviewInput.h"

#include <windows.h>

#include "controls/ControlsStateWin32.h"
#include "controls/Win32Canvas.h"
#include "host/HostApi.h"

namespace oryn {

namespace {

constexpr uint32_t FirstMouseMessage = 0x200; // WM_MOUSEMOVE
constexpr uint32_t LastMouseMessage = 0x209;  // WM_MBUTTONDBLCLK

// While a pad holds its marker the dialog holds the mouse capture, so that the button-up ends the
// drag wherever it happens, as with any slider; the capture goes once no pad is held.
void followGrab()
{
    if (dialogWindow == nullptr)
        return;
    bool held = false;
    for (const XYPad* pad : pads)
        held = held || (pad != nullptr && pad->grabbed != 0);
    if (held && GetCapture() != dialogWindow)
        SetCapture(dialogWindow);
    else if (!held && GetCapture() == dialogWindow)
        ReleaseCapture();
}

// Takes the first pending mouse message from the queue if it is addressed to the dialog window
// itself. The window filter of PeekMessage also matches the dialog's child windows; their input
// (a click on Apply, a check box, the preset list) stays queued, in order, for normal dispatch.
bool takeDialogMouse(MSG& message)
{
    if (dialogWindow == nullptr ||
        !PeekMessageA(&message, dialogWindow, FirstMouseMessage, LastMouseMessage, PM_NOREMOVE) ||
        message.hwnd != dialogWindow)
        return false;
    return PeekMessageA(&message, dialogWindow, message.message, message.message, PM_REMOVE) != 0;
}

} // namespace

void releaseControlGrabs()
{
    for (XYPad* pad : pads)
        if (pad != nullptr)
            pad->grabbed = 0;
}

void acquireControlDc()
{
    controlDc = dialogWindow != nullptr ? GetDC(dialogWindow) : nullptr;
    if (controlDc == nullptr)
        return;
    SetBkColor(controlDc, GetSysColor(COLOR_BTNFACE));
    if (dialogFont != nullptr)
        SelectObject(controlDc, dialogFont);
}

void releaseControlDc()
{
    if (controlDc != nullptr)
        ReleaseDC(dialogWindow, controlDc);
    controlDc = nullptr;
}

int32_t dispatchControlMouse(uint32_t message, uint32_t keyState, uint32_t position)
{
    const uint32_t code = message & 0xFFFF;
    if (code < FirstMouseMessage || code > LastMouseMessage)
        return 0;
    acquireControlDc();
    Win32Canvas canvas(controlDc);
    for (XYPad* pad : pads) {
        if (pad != nullptr && pad->handleMouse(canvas, message, keyState, position) != 0) {
            releaseControlDc();
            followGrab();
            return 1;
        }
    }
    const int32_t handled =
        button != nullptr && button->handleMouse(message, keyState, position) != 0 ? 1 : 0;
    releaseControlDc();
    followGrab();
    return handled;
}

int32_t previewProgress(const ParamContext* context, int32_t row, int32_t total)
{
    if (context != nullptr && context->record != nullptr &&
        context->record->progressProc != nullptr)
        context->record->progressProc(row, total);
    MSG message;
    if (takeDialogMouse(message) &&
        dispatchControlMouse(message.message, static_cast<uint32_t>(message.wParam),
                             static_cast<uint32_t>(message.lParam)) != 0)
        return 1;
    // Keys go to the focused control's own window, which the mouse poll does not look at.
    if (keyboardPoll != nullptr && keyboardPoll() != 0)
        return 1;
    if (restartCount > 1) {
        --restartCount;
        return 1;
    }
    return 0;
}

} // namespace oryn
