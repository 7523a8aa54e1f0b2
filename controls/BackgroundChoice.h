// The background choice without the windows: the swatch painting, which popup row a click picks,
// the host's colour picker request, and what an answer of the popup does to the background state.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"
#include "host/HostApi.h"

namespace oryn {

// Answers of the background popup besides the rows 0..3 (BackgroundMode values).
constexpr int32_t PopupBelowRows = 4;  // a click below the last row
constexpr int32_t PopupDismissed = 10; // a right click

// Paints a swatch of a colour word inside `rect` (right and bottom exclusive), leaving a two-pixel
// margin on every side for the control's frame: the colour's red, green and blue, or, for a
// transparent colour (top byte 0), a checkerboard of 4 x 4 squares in white and silver aligned to
// the canvas origin. At a display scale the margin and the squares are scaled lengths, the
// squares' edges on multiples of scale.px(4).
void drawSwatch(Canvas& dc, const Box& rect, uint32_t colour, DisplayScale scale = DisplayScale());

// The popup row of a click at client row y: the first of the four rows whose bottom edge lies
// below y (a click in the gap above a row belongs to it), or PopupBelowRows.
int32_t popupRowAt(const Box rows[4], uint32_t y);

// The background state that the choice reads and changes.
struct BackgroundChoice {
    int32_t planesUsed;
    int32_t currentMode;
    uint32_t pickerColor;
    uint32_t resolvedColor;
};

// Asks the host's colour picker for a colour, starting from pickerColor. On noErr the chosen red,
// green and blue replace those of pickerColor (its marker byte stays). A record without the
// callback answers errPlugInHostInsufficient. Returns the host's result.
int16_t pickColour(FilterRecord* record, uint32_t& pickerColor);

// Applies the popup's answer: Transparent only with four planes, Picker through the host's picker
// (a failed pick changes nothing), a dismissal or a click below the rows changes nothing, and the
// mode already current changes nothing unless a colour was just picked. A new mode resolves the
// background colour for the renderer.
// Returns 1 when the mode or colour changed and the owner must repaint, else 0.
int32_t applyBackgroundAnswer(int32_t answer, FilterRecord* record, BackgroundChoice& state);

} // namespace oryn
