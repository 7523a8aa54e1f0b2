// What the GEGL operation's properties mean to the filter: the controls they set, the record the
// final render takes, and the final render itself over an image held in memory. Free of GEGL, so
// native tests can check it against the command-line tool's mapping.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"

namespace oryn {

// The operation's property values, in the dialog's units. Without a sample (`sample` 0) the shape
// comes from the fields below; with sample k (1..9) the sample sets the shape, as choosing it in
// the dialog's preset list does, and the shape fields are not read.
struct ReliefSettings {
    int32_t sample = 0;
    int32_t cellWidth = 35;  // preview pixels, 0..300
    int32_t cellHeight = 55; // preview pixels, 0..300
    int32_t bevel = 0;       // 0..50
    int32_t shading = 50;    // 0..100, 50 = none
    int32_t lightX = 45;     // light pad, 0..50 each, 25 = centre
    int32_t lightY = 32;
    int32_t stretchX = 50; // stretch pad, 0..50 each, 25 = centre
    int32_t stretchY = 0;
    int32_t face = 0;            // G-Shading state 0..2
    bool stretchDouble = false;  // "x2"
    int32_t lightBoost = 30;     // 0..100
    int32_t brightnessRatio = 20; // 0..100
    bool antialias = true;
    bool transparent = false;           // transparent background instead of backgroundColor
    uint32_t backgroundColor = DefaultBackgroundColor; // colour word (red in byte 0)
};

// The controls these settings put in the dialog: its opening state with the sample (if any) and
// every value applied.
ControlState reliefControls(const ReliefSettings& settings);

// The record the dialog stores after Apply with these controls, which the final render takes.
ParamBlock reliefBlock(const ReliefSettings& settings);

// True when an image with these settings needs an alpha plane: it has one, or the background is
// transparent (an RGB image then gets an opaque alpha plane added before the render).
bool reliefNeedsAlpha(bool inputHasAlpha, const ReliefSettings& settings);

// Called on the rendering thread with the rows finished so far and the image's rows.
typedef void (*ReliefProgress)(void* data, int32_t done, int32_t total);

// The final render of `block` over a whole image of columns x rows pixels with `planes` (3 or 4)
// interleaved bytes each, `src` and `dst` of rowBytes each, on `threads` threads (see
// renderThreadCount). Images wider or taller than 32767 pixels cannot be described to the filter.
// Returns noErr, filterBadMode for a size or plane count it cannot render, or the engine's code.
int16_t renderRelief(const ParamBlock& block, int32_t columns, int32_t rows, int32_t planes,
                     const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t threads,
                     ReliefProgress progress, void* progressData);

} // namespace oryn
