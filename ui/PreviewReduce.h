// Area-average reduction of one image plane by a fractional factor, for the preview.
#pragma once

#include <cstdint>

namespace oryn {

// Shrinks one plane of an interleaved image (or a one-byte mask) by `scale` (>= 1.0) into one
// channel of dst: a horizontal pass into scratch rows (pitch srcRowBytes), then a vertical pass.
// Writes trunc(columns / scale)-style counts of values; dstHeight is not used.
void reducePlane(float scale, const uint8_t* src, uint8_t* scratch, int32_t srcRowBytes,
                 int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t width, int32_t height,
                 int32_t dstWidth, int32_t dstHeight, int32_t srcOffset, int32_t dstOffset);

// The same with scratch rows at their own pitch: row r of the horizontal pass goes to scratch +
// r x scratchRowBytes, and takes at most `width` bytes there (scale >= 1).
void reducePlane(float scale, const uint8_t* src, uint8_t* scratch, int32_t srcRowBytes,
                 int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t width, int32_t height,
                 int32_t dstWidth, int32_t dstHeight, int32_t srcOffset, int32_t dstOffset,
                 int32_t scratchRowBytes);

} // namespace oryn
