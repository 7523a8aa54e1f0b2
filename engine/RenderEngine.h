// The relief renderer: turns a source RGB(A) image and one parameter set into the pleated,
// shaded cell image, for the host's whole image and for the 300 x 300 preview alike.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"

namespace oryn {

// Progress and abort test, called before every row whose number AND 7 is 7 with that row and the
// render's bottom. A result whose low 16 bits are non-zero stops the render; the engine returns it.
// The context is the one handed to RenderEngine, so a callback can reach the host record.
typedef int32_t (*RenderProgress)(const ParamContext* context, int32_t row, int32_t bottom);

// renderFlags bit: output goes to the host (RGB byte order, fill limited to the rectangle).
// Without it the engine works in preview mode (BGR fill bytes, 300 x 300 fill).
constexpr int32_t HostOutputFlag = 2;

// Edge length of the preview square that preview mode fills.
constexpr int32_t PreviewSize = 300;

// Renders the rectangle [left, right) x [top, bottom) of dst from src. Reads only haveMask and
// planes of context->record. Allocates nothing and keeps no state.
// Returns 0, or the non-zero code from `progress` that stopped the render.
int32_t RenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                     int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH, int32_t shading,
                     int32_t toneFloor, int32_t brightnessBoost, float bevel, int32_t faceMode,
                     int32_t left, int32_t top, int32_t right, int32_t bottom, const uint8_t* src,
                     int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, const uint8_t* mask,
                     int32_t maskRowBytes, const uint8_t* previewAlpha, int32_t rowOffset,
                     float srcOffsetY, int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                     uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress);

} // namespace oryn
