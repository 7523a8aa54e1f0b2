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
// Without it the engine works in preview mode (BGR fill bytes, a previewSide x previewSide fill,
// 300 x 300 unless a preview at a display scale asks for more).
constexpr int32_t HostOutputFlag = 2;

// Edge length of the preview square that preview mode fills at 100% display scale.
constexpr int32_t PreviewSize = 300;

// Renders the rectangle [left, right) x [top, bottom) of dst from src. Reads only haveMask and
// planes of context->record. Allocates nothing and keeps no state.
//
// Contract beyond the argument list (both callers keep it; the fuzz test checks the rest):
// - src, dst, mask and previewAlpha cover every pixel of the rectangle at their row distances,
//   and in preview mode dst also holds the previewSide x previewSide square; src and dst do not overlap.
// - Nothing else is assumed about the arguments. A bytesPerPixel below 1 renders nothing and
//   returns 0. A null context or record means no mask and 3 planes or fewer; a null mask or
//   previewAlpha is never read. A null progress is never called.
// - Where the arithmetic leaves the integer range (huge offsets or cells, a shade near zero) the
//   conversions saturate instead of being undefined, and a NaN source position is skipped like
//   any position outside the rectangle.
// - When a zoom denominator is zero (cells as large as the rectangle) or the rectangle lies at
//   negative coordinates only, no pixel maps into the source: pass 2 skips every pixel.
// - The render runs in the default floating-point mode (round to nearest, no flushing) whatever
//   the caller's; the caller's mode is back for every progress call and on return.
//
// Returns 0, or the non-zero code from `progress` that stopped the render.
int32_t RenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                     int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH, int32_t shading,
                     int32_t toneFloor, int32_t brightnessBoost, float bevel, int32_t faceMode,
                     int32_t left, int32_t top, int32_t right, int32_t bottom, const uint8_t* src,
                     int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, const uint8_t* mask,
                     int32_t maskRowBytes, const uint8_t* previewAlpha, int32_t rowOffset,
                     float srcOffsetY, int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                     uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress);

// The same render with its rows shared among `threads` threads: the calling thread and up to
// threads - 1 workers (at most MaxRenderThreads in all, and no more than there are groups of
// rows). Every byte it writes is the one-thread render's byte. A group is 8 rows from a row
// numbered 7 mod 8 (the first group runs from `top` to the first such row).
// - With threads <= 1 this is the call above: the same progress calls, one per group, in order.
// - With more threads, only the calling thread calls `progress`: before each group it takes,
//   with the first row not yet known finished (every row above it is final; the number never
//   falls) and `bottom`.
//   A non-zero result stops every thread before its next group. Groups rendered by then stay
//   rendered; every other row of the rectangle gets the background, as in a one-thread stop.
// - The workers run in the default floating-point mode and are all joined before the return;
//   this is the only case in which the engine allocates (the threads and one flag per group of
//   rows; without that memory it renders on the calling thread alone). A thread that cannot be
//   started leaves its share to the others.
// - `previewSide` is the edge of the square that preview mode fills (dst holds that square).
// Returns 0, or the non-zero code from `progress` that stopped the render.
int32_t RenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                     int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH, int32_t shading,
                     int32_t toneFloor, int32_t brightnessBoost, float bevel, int32_t faceMode,
                     int32_t left, int32_t top, int32_t right, int32_t bottom, const uint8_t* src,
                     int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, const uint8_t* mask,
                     int32_t maskRowBytes, const uint8_t* previewAlpha, int32_t rowOffset,
                     float srcOffsetY, int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                     uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress,
                     int32_t threads, int32_t previewSide = PreviewSize);

} // namespace oryn
