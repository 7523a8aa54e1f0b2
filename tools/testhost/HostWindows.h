// The test host's windows: the parent window it can hand the module, and the two watchers that
// run on threads of their own beside the module's dialogs (the closer presses a dialog's default
// button after a delay; the mapper writes where each dialog and its controls are on the screen).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace oryn {

// The window passed as platformData->hwnd with --parent, else null.
extern HWND parentWindow;

// A visible top-level frame window, or null when none can be made (no display).
HWND makeParentWindow();

struct SeenWindow {
    HWND window;
    DWORD firstSeen;
    bool reported;
};

// --auto-close-ms: reports each dialog or message box of this process `delayMs` after it appears
// and presses its default button, until `stop` is set.
struct Closer {
    int32_t delayMs = 0;
    HANDLE stop = nullptr;
    std::vector<SeenWindow> seen;
};
DWORD WINAPI runCloser(void* context);

// --window-map: where each dialog of this process and its controls are on the screen, so that a
// script can send real mouse input to them through the window system. A script that creates
// FILE.again has every window written again; one that writes a number N into FILE.dpi has the
// enabled dialog told that its display's DPI is now N (WM_DPICHANGED, as a per-monitor aware
// host's window gets it), then every window written again. Both files are removed once taken.
struct Mapper {
    std::string path;
    int32_t dpi = 0; // the DPI last reported to a dialog; 0 until then
    HANDLE stop = nullptr;
    std::vector<HWND> mapped;
    std::vector<HWND> alive;
};
DWORD WINAPI runMapper(void* context);

} // namespace oryn
