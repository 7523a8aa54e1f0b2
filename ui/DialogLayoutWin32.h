// Lays the main dialog's template controls out at a display scale. Win32 only.
#pragma once

#include <windows.h>

#include "controls/DisplayScale.h"

namespace oryn {

// Moves and sizes the template's controls and the dialog's client area to their dialog units at
// `scale` (see ui/DialogLayout.h). The dialog keeps its centre, or takes `window` (screen
// coordinates, the whole window) when one is given. Controls the dialog made itself after the
// template's are not moved. False, with nothing moved, when the template cannot be read or the
// dialog's first children are not the template's controls.
bool layOutDialog(HWND dialog, const char* templateName, const DisplayScale& scale,
                  const RECT* window = nullptr);

} // namespace oryn
