// Definitions of the controls' module-wide state, with their values at load.
#include "controls/ControlsStateWin32.h"

#include "controls/RunState.h"

namespace oryn {

HWND dialogWindow = nullptr;
HDC controlDc = nullptr;
HFONT dialogFont = nullptr;
XYPad* pads[PadCount] = {};
TriStateButton* button = nullptr;
int32_t restartCount = 0;
int32_t popupResult = 0;
Box popupRows[4] = {};
FilterRecord* popupRecord = nullptr;
DisplayScale displayScale;

DisplayScale windowDisplayScale(HWND window)
{
    // GetDpiForWindow exists from Windows 10 (1607) on; earlier systems scale per system only,
    // which the screen context tells.
    typedef UINT(WINAPI * DpiForWindow)(HWND);
    HMODULE user = GetModuleHandleA("user32.dll");
    auto dpiForWindow = user != nullptr ? reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(
                                              GetProcAddress(user, "GetDpiForWindow")))
                                        : nullptr;
    int dpi = 0;
    if (dpiForWindow != nullptr && window != nullptr)
        dpi = static_cast<int>(dpiForWindow(window));
    if (dpi <= 0) {
        HDC dc = GetDC(window);
        if (dc != nullptr) {
            dpi = GetDeviceCaps(dc, LOGPIXELSY);
            ReleaseDC(window, dc);
        }
    }
    return displayScaleForDpi(dpi);
}

int32_t popupByKeyboard = 0;
POINT popupAnchor = {0, 0};
int32_t (*keyboardPoll)() = nullptr;

ControlState dialogControlState()
{
    ControlState state{};
    if (button != nullptr)
        state.faceMode = button->state;
    for (int i = 0; i < PadCount; ++i) {
        if (pads[i] == nullptr)
            continue;
        state.padX[i] = pads[i]->x;
        state.padY[i] = pads[i]->y;
    }
    state.stretchDouble = stretchDouble;
    state.antialias = antialias;
    state.currentMode = currentMode;
    state.currentFlags = currentFlags;
    state.resolvedColor = resolvedColor;
    state.pickerColor = pickerColor;
    return state;
}

} // namespace oryn
