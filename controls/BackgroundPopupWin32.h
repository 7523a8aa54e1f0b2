// The background popup "BACK" and the main dialog's side of the background choice, plus the two
// helpers the main dialog's layout and swatch use.
#pragma once

#include <windows.h>

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"
#include "host/HostApi.h"

namespace oryn {

// A control's window rectangle in its dialog's client coordinates (right and bottom exclusive).
Box controlClientRect(HWND dialog, int id);

// Paints a swatch of a colour word into a window's context (see the portable drawSwatch).
void drawSwatch(HDC dc, const Box& rect, uint32_t colour, DisplayScale scale = DisplayScale());

// The dialog procedure of "BACK". Opens at the mouse pointer (over the swatch when opened from
// the keyboard), paints the four swatches, and ends the popup on a mouse click with its answer in
// popupResult (the dialog's own result is always 0). Keys pressed while it is open never reach
// the main dialog: the arrows select a row (shown in the highlight colours), Return takes it,
// Escape closes the popup without a change, other keys do nothing (see chooseBackground).
INT_PTR CALLBACK backgroundPopupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the main dialog does when its swatch is clicked (its WM_COMMAND 1026): opens the popup
// over `dialog` for images of 3 planes or more, applies the answer to currentMode, pickerColor
// and resolvedColor (the Picker row asks the host's colour picker through the record), and posts
// WM_PAINT (0, 10) to the dialog when the background changed.
// The dialog stays disabled while the host's picker is open, and a second call while the popup or
// the picker is open does nothing. Returns 1 when it posted the paint, else 0.
int32_t chooseBackground(HWND dialog, FilterRecord* record);

// True from the swatch click until the popup and the host's picker have returned: the main
// dialog acts on no command meanwhile.
bool backgroundChoiceOpen();

} // namespace oryn
