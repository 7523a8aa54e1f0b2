// The keyboard focus of the controls the main dialog draws itself: a small focus window for each
// pad, the G-Shading button, the background swatch and the home page link, placed in the dialog's
// tab order with the template's controls, and the keys those windows get, also while a preview
// render runs.
// Win32 only.
#pragma once

#include <windows.h>

#include "ui/DialogControls.h"

namespace oryn {

// The focused stop, the number being typed and the look of the focus mark, for the drawing.
extern DialogView dialogView;

// Makes the focus windows (once per dialog) and orders every tab stop of the dialog as it reads:
// cell width, cell height, the home page link under the preview, light direction, "x2", stretch, S-Bevel width, S-Shading, G-Shading
// button, background swatch, Brightness Ratio, Light Boosting, the preset list, Antialiasing,
// Cancel, Apply. Installs the keyboard poll of the preview render. Returns 0, or 1 when a focus
// window could not be made (the dialog then works without it).
int createFocusStops(HWND dialog);

// After the dialog's windows are gone: the focus windows' class is unregistered, so that a
// module unloaded by the host leaves no class behind that points into it.
void releaseFocusStops();

// The focus mark's width, from the dialog's display scale, and its colour.
void setFocusLook();

} // namespace oryn
