// Module-wide state of the main dialog's windowless controls and of the input handling during a
// preview render, alive from load to unload. The main dialog creates the pads and the button,
// creates the font and stores its window here; the routines of PreviewInput.h and
// BackgroundPopupWin32.h use them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"
#include "controls/TriStateButton.h"
#include "controls/XYPad.h"
#include "host/HostApi.h"
#include "params/ParamBlock.h"

namespace oryn {

// The main dialog's window, stored by its procedure at the start of every message; the window
// whose mouse input the preview poll takes and whose client area controlDc covers.
extern HWND dialogWindow;
// The dialog's client-area context between acquireControlDc and releaseControlDc; null outside.
extern HDC controlDc;
// The dialog's text font, selected into controlDc once the dialog has made it; null before.
extern HFONT dialogFont;

// The display scale of the main dialog, set when it opens and again when the DPI of its monitor
// changes; everything the dialog and its popup draw themselves is scaled by it. 96 DPI before.
extern DisplayScale displayScale;
// The scale of a window: its DPI where the system gives one per window (per-monitor aware hosts
// get their monitor's), else the DPI of its screen context; 96 for a host the system scales.
DisplayScale windowDisplayScale(HWND window);

// The eight pads (index order is the dispatch order) and the G-Shading button, made on the main
// dialog's first paint and kept; null until then.
extern XYPad* pads[PadCount];
extern TriStateButton* button;

// Mouse messages the controls handled outside a render since the last completed paint; the
// paint loop restarts its render while this is above 1 and sets it to 0 when a render completes.
extern int32_t restartCount;

// The background popup's answer: a row 0..3, 4 below the rows, 10 for a right click. Set to the
// current mode before the popup opens, so a popup that never opened changes nothing.
extern int32_t popupResult;
// The popup's four swatch frames in its client coordinates, refreshed on every paint of it.
extern Box popupRows[4];
// The host record whose colours the popup shows, for as long as the popup is open.
extern FilterRecord* popupRecord;
// 1 while the popup was opened from the keyboard: it then opens over popupAnchor (a screen
// point) with the current row selected, instead of under the mouse without a selection.
extern int32_t popupByKeyboard;
extern POINT popupAnchor;

// The owner's keyboard poll during a preview render: handles at most one key waiting for the
// focused control, and returns 1 when that changed a value (the render must stop), else 0.
// Null while no dialog has installed one.
extern int32_t (*keyboardPoll)();

// The controls as the dialog shows them, for packParams and the preview render: the pads, the
// G-Shading state, "x2", Antialiasing, the background mode and colours and the preset flags. The
// pad fields stay 0 before the pads exist.
ControlState dialogControlState();

} // namespace oryn
