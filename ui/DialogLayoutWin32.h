// Lays the main dialog's template controls out at a display scale. Win32 only.
#pragma once

#include <windows.h>

#include "controls/DisplayScale.h"
#include "ui/DialogLayout.h"

namespace oryn {

// A dialog's template controls in template order. The dialog manager makes them in that order,
// each after the last, so they are found by their order before anything reorders the dialog's
// children (the tab order is their z-order, which the dialog changes).
struct TemplateControls {
    int32_t count = 0;
    HWND items[MaxTemplateItems] = {};
};
// Finds them: false, with `controls` empty, when the template cannot be read or the dialog has
// fewer children than it.
bool findTemplateControls(HWND dialog, const char* templateName, TemplateControls& controls);

// Moves and sizes the template's controls and the dialog's client area to their dialog units at
// `scale` (see ui/DialogLayout.h). With a `font`, every template control is given it first (as
// the dialog manager gives them the template's font), so that each control measures itself with
// the font it will draw. The dialog keeps its centre, or takes the top-left corner of `window`
// (screen coordinates, the whole window) when one is given; either way the client area comes out
// at the layout's size, whatever the frame measures at the new scale. Controls the dialog made
// itself are not moved. False, with nothing moved, when the template cannot be read or
// `controls` are not its controls.
bool layOutDialog(HWND dialog, const char* templateName, const TemplateControls& controls,
                  const DisplayScale& scale, const RECT* window = nullptr, HFONT font = nullptr);

// The template's own font made at `scale` (its point size at the scale's DPI), or null when the
// template names none or it cannot be made. The caller deletes it.
HFONT makeTemplateFont(const char* templateName, const DisplayScale& scale);

// The whole window's size that the dialog will take at `scale`: the layout's client area and the
// frame the system gives a window of this style at that DPI. What a per-monitor aware window
// answers when the system asks for its size at a coming DPI.
SIZE scaledWindowSize(HWND dialog, const char* templateName, const DisplayScale& scale);

} // namespace oryn
