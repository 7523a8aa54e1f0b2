// Helpers for tests that draw into and click on real windows under Wine: a test window, reading
// its pixels back, PNG screenshots, the built module's resources and real mouse input.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controls/Canvas.h"

namespace oryn::test {

// A visible, captionless top-level window with the button-face background at a screen position,
// shown and painted before it is returned.
HWND makeTestWindow(const char* title, int x, int y, int width, int height,
                    WNDPROC procedure = DefWindowProcA);

// Dispatches every message waiting in this thread's queue.
void pump();

// The pixels of a client-area box of a window, row by row, as COLORREF values (0x00BBGGRR).
struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> values;
    uint32_t at(int32_t x, int32_t y) const
    {
        return values[size_t(y) * size_t(width) + size_t(x)];
    }
};
Pixels capture(HWND window, const Box& box);
// The whole window, frame included.
Pixels captureWindow(HWND window);

// True when neither the window nor any of its children waits for a paint.
bool fullyPainted(HWND window);

// Writes the pixels as a PNG under the build tree's shots folder; returns its Unix path.
std::string saveShot(const Pixels& pixels, const char* name);

// The built filter module, loaded once for its resources.
HMODULE builtModule();

// The dialog font: "ms sans serif", 13 pixels high, variable pitch, Swiss family.
HFONT makeDialogFont();

// Real mouse input through the window system: moves the pointer to a screen point and presses
// and releases a button there (left or right).
void moveMouse(int x, int y);
void click(int x, int y, bool right = false);
// A key press and release.
void pressKey(WORD key, WORD modifier = 0);

// Waits (at most about 30 s) until `done` holds, pumping this thread's messages. Returns whether it held.
template <class Condition> bool waitFor(Condition done, int rounds = 3000)
{
    for (int i = 0; i < rounds; ++i) {
        pump();
        if (done())
            return true;
        Sleep(10);
    }
    return done();
}

} // namespace oryn::test
