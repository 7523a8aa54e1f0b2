// The main dialog's windowless controls as a whole: where the eight pads and the G-Shading button
// sit, how every paint pass draws them (the cell-size sliders that follow the skew, the stretch
// figure, the light cross-hair and their captions), and the values they hand to the renderer and
// the parameter record. Portable: it paints through a Canvas, so native tests can check it.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"
#include "controls/TriStateButton.h"
#include "controls/XYPad.h"
#include "params/ParamBlock.h"

namespace oryn {

// Client rectangles the controls are placed by, read from the dialog's template controls, and the
// display scale every length drawn from them is scaled by. shadingFrame and stretchFrame are
// stored already adjusted (see adjustFrames).
struct DialogRects {
    Box previewFrame; // 1017
    Box shadingFrame; // 1019, left and top moved in by 24
    Box stretchFrame; // 1018, left moved in by 34 and top by 36
    Box swatchRect;   // 1021
    Box linkRect;     // 4000
    DisplayScale scale;
};

// Moves the frames' top-left corners to where the pads inside them start (by lengths scaled with
// rects.scale).
void adjustFrames(DialogRects& rects);

// Makes the eight pads and the button for the rectangles at their scale, replacing (and
// deleting) any made before. Returns 0, or 1 when one could not be allocated; nothing is then left half made.
int createDialogControls(const DialogRects& rects, XYPad* (&pads)[PadCount],
                         TriStateButton*& button);

// Deletes the pads and the button and sets the pointers to null.
void releaseDialogControls(XYPad* (&pads)[PadCount], TriStateButton*& button);

// One pass of drawing: pads 0 and 1 (moved with the skew), their captions and the button always;
// the other pads, the stretch figure and the light cross-hair on a full redraw or while grabbed.
void drawDialogControls(Canvas& dc, XYPad* const (&pads)[PadCount], TriStateButton& button,
                        const DialogRects& rects, int fullRedraw);

// True when the packed mouse position (x low 16 bits, y high 16 bits, both unsigned) lies strictly
// inside the rectangle on all four sides.
bool mouseInRect(uint32_t position, const Box& rect);

} // namespace oryn
