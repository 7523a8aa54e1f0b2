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

} // namespace

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
            return 1;
        }
    }
    const int32_t handled =
        button != nullptr && button->handleMouse(message, keyState, position) != 0 ? 1 : 0;
    releaseControlDc();
    return handled;
}

int32_t previewProgress(const ParamContext* context, int32_t row, int32_t total)
{
    if (context != nullptr && context->record != nullptr &&
        context->record->progressProc != nullptr)
        context->record->progressProc(row, total);
    MSG message;
    // Without a dialog window the filter would take mouse input of every window of the thread.
    if (dialogWindow != nullptr &&
        PeekMessageA(&message, dialogWindow, FirstMouseMessage, LastMouseMessage, PM_REMOVE) &&
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
