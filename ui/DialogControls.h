// The main dialog's windowless controls as a whole: where the eight pads and the G-Shading button
// sit, how every paint pass draws them (the cell-size sliders that follow the skew, the stretch
// figure, the light cross-hair and their captions), and the values they hand to the renderer and
// the parameter record. Portable: it paints through a Canvas, so native tests can check it.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"
#include "controls/PadKeys.h"
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
    Box doubleBox;    // 1027, the "x2" check box
    DisplayScale scale;
};

// Where the keyboard focus is among the controls the dialog draws itself: the pads by index, the
// G-Shading button, the background swatch, the "x2" box (a real check box without a caption,
// whose focus mark the dialog draws) and the home page link.
constexpr int32_t NoStop = -1;
constexpr int32_t ButtonStop = PadCount;
constexpr int32_t SwatchStop = PadCount + 1;
constexpr int32_t DoubleStop = PadCount + 2;
constexpr int32_t LinkStop = PadCount + 3;

// What the drawing shows beyond the values: the focus mark and a number being typed.
struct DialogView {
    int32_t focus = NoStop;
    PadEntry entry;
    // Thickness of the focus mark's lines in pixels, and the gap they keep: 1 at 96 dpi, grown
    // with the display scale.
    int32_t markWidth = 1;
    // The focus mark and a typed number are drawn in this colour (the system highlight).
    uint32_t markColour = rgb(0, 0, 128);
};

// The focus mark's thickness at a display scale: 1 up to 120 DPI (so 1 at 100%), 2 from 144,
// growing by one for every further 96.
int32_t focusMarkWidth(const DisplayScale& scale);

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
// The focused control gets its mark: the triangle markers are filled, the sprite markers, the
// button, the swatch, the "x2" box and the link get a frame; a pad being typed into shows the
// typed text as its caption. The frames of the swatch, the "x2" box and the link are drawn on a
// full redraw.
void drawDialogControls(Canvas& dc, XYPad* const (&pads)[PadCount], TriStateButton& button,
                        const DialogRects& rects, int fullRedraw,
                        const DialogView& view = DialogView{});

// Draws one stop again as `view` shows it now, its focus mark included or removed: what the
// dialog draws when the focus arrives or leaves and when a typed caption changes. Pads 0 and 1
// are drawn together, as they are on every pass.
void drawStop(Canvas& dc, XYPad* const (&pads)[PadCount], TriStateButton& button,
              const DialogRects& rects, const DialogView& view, int32_t stop);

// The box a frame-shaped focus mark goes around: a sprite marker, the button, the swatch, the
// "x2" box or the link. Empty for the other stops.
Box focusFrameTarget(XYPad* const (&pads)[PadCount], const TriStateButton& button,
                     const DialogRects& rects, int32_t stop);
// The frame around `target`: lines `width` thick, `width` away from it.
Box focusFrameOuter(const Box& target, int32_t width);

// True when the packed mouse position (x low 16 bits, y high 16 bits, both unsigned) lies strictly
// inside the rectangle on all four sides.
bool mouseInRect(uint32_t position, const Box& rect);

} // namespace oryn
