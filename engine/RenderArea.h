// A render made one part at a time, for callers that never hold the whole image: which source
// pixels a part of the output reads, and the render of that part from a window of the source.
// Every byte a part gets is the byte the whole render gives that pixel.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"

namespace oryn {

// A rectangle of pixels; right and bottom are exclusive.
struct PixelArea {
    int32_t left = 0, top = 0, right = 0, bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
};

// RenderEngine's arguments besides the context, the buffers and progress, by the same names.
// left, top, right and bottom are the whole render's rectangle: they set the zoom, the valid
// source area and the sampler's clamping, whatever part is rendered.
struct RenderCall {
    int32_t cellHeight = 0, cellWidth = 0;
    int32_t skewX = 0, skewY = 0;
    int32_t lightV = 0, lightH = 0;
    int32_t shading = 0, toneFloor = 0, brightnessBoost = 0;
    float bevel = 0.0f;
    int32_t faceMode = 0;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t rowOffset = 0;
    float srcOffsetY = 0.0f;
    int32_t colOffset = 0;
    float srcOffsetX = 0.0f;
    int32_t renderFlags = 0;
    uint32_t fillColor = 0;
    int32_t bytesPerPixel = 0;
};

// The source pixels (and mask pixels, which are read at the same positions) that rendering
// `area` of the output can read: a rectangle inside the render's rectangle that holds both
// samples of every pixel of `area` in each direction. Empty when no pixel of `area` maps into
// the source. Worked out from the cell geometry with a margin for the renderer's roundings; it
// grows with the skew and the cell size, up to the whole rectangle when the cells' source scale
// is extreme or the cells are as large as the image.
PixelArea sourceAreaFor(const RenderCall& call, const PixelArea& area);

// renderArea's result when some pixel of the area would have read source pixels outside the
// window it was given: those pixels keep the background, so the area is not what the whole
// render gives. Its low 16 bits are non-zero, like an engine result that stopped a render.
constexpr int32_t AreaOutsideWindow = 0x7F01;

// Renders the pixels of `area` (inside the render's rectangle) as the whole render with host
// output does (fill colour bytes in RGB order, the background under the area only), whatever
// renderFlags says of host output.
// - src holds the source pixels of `window` (src points at its top-left pixel), mask the mask
//   pixels of the same window, or is null for no selection (context's haveMask is read as the
//   engine reads it). sourceAreaFor(call, area) gives the window that always suffices.
// - dst receives the area: dst points at its top-left pixel.
// Only the window is read, whatever the window: a pixel that would read beyond it keeps the
// background and the result says so. Runs on the calling thread, allocates nothing.
// Returns 0, or AreaOutsideWindow.
int32_t renderArea(const ParamContext* context, const RenderCall& call, const PixelArea& area,
                   const uint8_t* src, int32_t srcRowBytes, const uint8_t* mask,
                   int32_t maskRowBytes, const PixelArea& window, uint8_t* dst,
                   int32_t dstRowBytes);

} // namespace oryn
