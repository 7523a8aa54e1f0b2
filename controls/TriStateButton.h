// The G-Shading button: a picture button that cycles its state 0, 1, 2 on each left click.
// Windowless: the owner draws it with the picture strip and feeds it mouse messages.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"

namespace oryn {

class TriStateButton {
public:
    TriStateButton(int32_t x, int32_t y, int32_t width, int32_t height);

    void draw(Canvas& dc);
    // Returns 1 when a click changed the state, else 0. Draws nothing.
    int32_t handleMouse(uint32_t message, uint32_t keyState, uint32_t position);

    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    int32_t state;
};

} // namespace oryn
