// Area-average reduction of one image plane for the preview: a horizontal pass into scratch rows,
// then a vertical pass into the destination channel.
#include "ui/PreviewReduce.h"

#include <cstddef>

namespace oryn {

namespace {

// The number of whole output values that fit in `length` source pixels: the count of i >= 0 with
// (i + 1) x scale <= length. A partial value at the end is dropped.
int32_t wholeValues(int32_t length, double scale)
{
    if (length <= 0)
        return 0;
    int32_t n = static_cast<int32_t>(length / scale);
    while ((n + 1.0) * scale <= length)
        ++n;
    while (n > 0 && n * scale > length)
        --n;
    return n;
}

// Weight of the source pixel at `index` in the output value whose far edge is `edge`: 1 when the
// pixel lies wholly inside, otherwise the part inside, stored in single precision.
float edgeWeight(double edge, int32_t index)
{
    double d = edge - index;
    return d > 1.0 ? 1.0f : static_cast<float>(d);
}

uint8_t averageOf(double acc, double scale)
{
    // The weights of one value add up to scale (up to their single-precision rounding), so the
    // quotient stays within 0..255; the bound only keeps a stray rounding from wrapping.
    int32_t value = static_cast<int32_t>(acc / scale);
    return static_cast<uint8_t>(value > 255 ? 255 : value);
}

} // namespace

void reducePlane(float scale, const uint8_t* src, uint8_t* scratch, int32_t srcRowBytes,
                 int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t width, int32_t height,
                 int32_t dstWidth, int32_t dstHeight, int32_t srcOffset, int32_t dstOffset)
{
    reducePlane(scale, src, scratch, srcRowBytes, srcStride, dst, dstStride, width, height,
                dstWidth, dstHeight, srcOffset, dstOffset, srcRowBytes);
}

void reducePlane(float scale, const uint8_t* src, uint8_t* scratch, int32_t srcRowBytes,
                 int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t width, int32_t height,
                 int32_t dstWidth, int32_t dstHeight, int32_t srcOffset, int32_t dstOffset,
                 int32_t scratchRowBytes)
{
    (void)dstHeight;
    // Below 1 (or NaN) a source pixel would have to feed several output values, which the passes
    // do not do: the counts below would then run past the values written.
    if (!(scale >= 1.0f))
        return;
    const double s = scale;

    // Horizontal pass: every source row into `outWidth` scratch values at the scratch pitch.
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t* row = src + srcOffset + static_cast<ptrdiff_t>(r) * srcRowBytes;
        uint8_t* out = scratch + static_cast<ptrdiff_t>(r) * scratchRowBytes;
        double acc = 0.0;
        int32_t i = 0;
        for (int32_t j = 0; j < width; ++j) {
            double edge = (i + 1) * s;
            float w = edgeWeight(edge, j);
            double v = row[static_cast<ptrdiff_t>(j) * srcStride];
            acc += v * w;
            if (edge <= j + 1) {
                out[i] = averageOf(acc, s);
                ++i;
                // What is left of pixel j starts the next value.
                acc = (1.0 - w) * v;
            }
        }
    }

    // Vertical pass: the scratch columns into the destination channel.
    // Callers size the destination for every whole value; a row never runs into the next one.
    int32_t outWidth = wholeValues(width, s);
    if (outWidth > dstWidth)
        outWidth = dstWidth;
    int32_t outHeight = height > 0 ? static_cast<int32_t>(height / s) : 0;
    const ptrdiff_t dstRowBytes = static_cast<ptrdiff_t>(dstWidth) * dstStride;
    for (int32_t c = 0; c < outWidth; ++c) {
        uint8_t* out = dst + dstOffset + static_cast<ptrdiff_t>(c) * dstStride;
        double acc = 0.0;
        int32_t i = 0;
        for (int32_t j = 0; i < outHeight && j < height; ++j) {
            double edge = (i + 1) * s;
            float w = edgeWeight(edge, j);
            double v = scratch[static_cast<ptrdiff_t>(j) * scratchRowBytes + c];
            acc += v * w;
            if (edge <= j + 1) {
                out[i * dstRowBytes] = averageOf(acc, s);
                ++i;
                acc = (1.0 - w) * v;
            }
        }
    }
}

} // namespace oryn
