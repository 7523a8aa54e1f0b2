// The keyboard of the main dialog's own controls: what a key or a typed character does to the
// focused pad, the G-Shading button or the background swatch, and which keys those controls take
// from the dialog. Portable: it changes the controls and reports what the owner must redraw.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"
#include "ui/DialogControls.h"

namespace oryn {

// What a key did, for the owner.
constexpr int32_t KeyIgnored = 0;         // nothing
constexpr int32_t KeyRedrawStop = 1;      // only what the focused stop shows (a typed caption)
constexpr int32_t KeyChanged = 2;         // a value changed: repaint and render the preview again
constexpr int32_t KeyOpensBackground = 3; // the swatch was pressed: open the background choice
constexpr int32_t KeyOpensLink = 4;       // the link was pressed: open the home page

// A key press for the focused stop of `view`. On a pad: Return takes a typed number and Escape
// drops it; a moving key (PadKeys.h) first takes a typed number, then moves the marker. On the
// button: Space and Return advance it. On the swatch: Space and Return open the choice. On the
// link: Space and Return open the home page, as a click does.
int32_t dialogKeyDown(DialogView& view, XYPad* const (&pads)[PadCount], TriStateButton& button,
                      Canvas& dc, uint32_t key, uint32_t modifiers);

// A typed character for the focused stop: on a pad it goes into the typed number.
int32_t dialogKeyChar(DialogView& view, XYPad* const (&pads)[PadCount], char c);

// True when the focused stop takes `key` itself rather than leaving it to the dialog: Return and
// Escape while a number is typed, Return on the button, the swatch and the link. Otherwise Return
// applies and Escape cancels, wherever the focus is.
bool stopTakesKey(const DialogView& view, uint32_t key);

// The focus goes to `stop`: a number typed into the stop it leaves is taken first.
// Returns KeyChanged when that changed a value, else KeyRedrawStop.
int32_t dialogFocusMoves(DialogView& view, XYPad* const (&pads)[PadCount], Canvas& dc,
                         int32_t stop);

} // namespace oryn
