// The G-Shading button: a picture button that cycles its state 0, 1, 2 on each left click.
// Windowless: the owner draws it with the picture strip and feeds it mouse messages.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"

namespace oryn {

// Cells of the picture strip, one per state, side by side.
constexpr int32_t StripCells = 3;

class TriStateButton {
public:
    // x and y in client pixels; width and height are a picture cell's, in the strip's pixels.
    // The button is drawn at scale.px of that size.
    TriStateButton(int32_t x, int32_t y, int32_t width, int32_t height,
                   DisplayScale scale = DisplayScale());

    // Copies the state's cell from the strip (enlarged to the scale) and paints the top row and
    // left column light grey, as thick as the strip's frame comes out.
    // A state without a cell (3, from a stored record) shows a plain face in that frame.
    void draw(Canvas& dc);
    // Returns 1 when a click changed the state, else 0. Draws nothing. The hit square is 17 x 17
    // pixels at 100%, scaled like the picture.
    int32_t handleMouse(uint32_t message, uint32_t keyState, uint32_t position);
    // Space and Return advance the state as a click does. Returns 1 when the state changed.
    int32_t handleKey(uint32_t key);

    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    int32_t state;
    DisplayScale scale;

private:
    // The next state: 0, 1, 2, then 0 again (a stored 3 also goes to 0).
    void advance();
};

} // namespace oryn
