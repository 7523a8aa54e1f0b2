// The preview: one reduction of the host image into the preview buffers, and the engine's
// preview-mode render over them, at a display scale.
#include "ui/PreviewRender.h"

#include <cstring>
#include <new>
#include <utility>

#include "host/RunSetup.h"
#include "ui/PreviewReduce.h"

namespace oryn {

namespace {

// trunc(length / scale) in double precision, kept inside 0..side so that the area is always a
// valid rectangle of the preview buffers (a scale from previewImageScale never needs the upper
// bound).
int32_t previewExtent(int32_t length, float scale, int32_t side)
{
    double q = length / static_cast<double>(scale);
    if (!(q > 0.0))
        return 0;
    if (q >= side)
        return side;
    return static_cast<int32_t>(q);
}

// a x b / 50 in integers, in pixels at the display scale (a x b x dpi / (50 x 96)), truncating;
// at 96 DPI exactly a x b / 50. Saturates where pad values far outside the controls' ranges would
// overflow 32 bits.
int32_t scaledOffset(int32_t a, int32_t b, const DisplayScale& scale)
{
    int64_t v = static_cast<int64_t>(a) * b * scale.dpi / (50 * BaseDpi);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Enlarges one plane by 1 / scale (scale below 1) into one channel of dst, each preview pixel
// taking the source pixel under its centre: trunc((c + 0.5) x scale) in double precision.
void enlargePlane(float scale, const uint8_t* src, int32_t srcRowBytes, int32_t srcStride,
                  uint8_t* dst, int32_t dstStride, int32_t dstRowBytes, int32_t width,
                  int32_t height, const PreviewArea& area, int32_t srcOffset, int32_t dstOffset)
{
    const double s = scale;
    for (int32_t i = 0; i < area.bottom; ++i) {
        int32_t r = static_cast<int32_t>((i + 0.5) * s);
        if (r >= height)
            r = height - 1;
        const uint8_t* row = src + srcOffset + static_cast<ptrdiff_t>(r) * srcRowBytes;
        uint8_t* out = dst + dstOffset + static_cast<ptrdiff_t>(i) * dstRowBytes;
        for (int32_t c = 0; c < area.right; ++c) {
            int32_t j = static_cast<int32_t>((c + 0.5) * s);
            if (j >= width)
                j = width - 1;
            out[static_cast<ptrdiff_t>(c) * dstStride] = row[static_cast<ptrdiff_t>(j) * srcStride];
        }
    }
}

// One plane into one channel of the buffers: reduced by an area average at an imageScale of 1
// and more (through scratch rows at scratchRowBytes), enlarged below 1 (no scratch).
void transferPlane(float imageScale, const uint8_t* src, uint8_t* scratch, int32_t srcRowBytes,
                   int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t columns,
                   int32_t rows, int32_t side, const PreviewArea& area, int32_t srcOffset,
                   int32_t dstOffset, int32_t scratchRowBytes)
{
    if (imageScale >= 1.0f)
        reducePlane(imageScale, src, scratch, srcRowBytes, srcStride, dst, dstStride, columns,
                    rows, side, side, srcOffset, dstOffset, scratchRowBytes);
    else
        enlargePlane(imageScale, src, srcRowBytes, srcStride, dst, dstStride, side * dstStride,
                     columns, rows, area, srcOffset, dstOffset);
}

// The smallest image scale a preview of `side` may use: an image 32 times smaller than the
// square is not enlarged further, which keeps the enlargement inside the buffers for any image.
constexpr float MinImageScale = 1.0f / 32.0f;

} // namespace

int32_t previewSide(const DisplayScale& scale)
{
    return scale.isBase() ? PreviewSize : scale.px(PreviewSize);
}

float previewImageScale(int32_t columns, int32_t rows, const DisplayScale& scale)
{
    const float base = computeImageScale(columns, rows);
    if (scale.isBase())
        return base;
    const float scaled = static_cast<float>(static_cast<double>(base) * BaseDpi / scale.dpi);
    return scaled < MinImageScale ? MinImageScale : scaled;
}

PreviewArea previewArea(int32_t columns, int32_t rows, float imageScale, int32_t side)
{
    return PreviewArea{0, 0, previewExtent(columns, imageScale, side),
                       previewExtent(rows, imageScale, side)};
}

PreviewBuffers::PreviewBuffers(DisplayScale scale) { reset(scale); }

int PreviewBuffers::reset(DisplayScale newScale)
{
    const int32_t wanted = previewSide(newScale);
    scale = newScale;
    const size_t bytes = size_t(wanted) * size_t(wanted) * 8; // 3 + 3 + 1 + 1 per pixel
    if (storage != nullptr && wanted == side) {
        std::memset(storage.get(), 0, bytes);
        return 0;
    }
    storage.reset();
    storage.reset(new (std::nothrow) uint8_t[bytes]());
    side = storage != nullptr ? wanted : 0;
    place();
    return storage != nullptr ? 0 : 1;
}

PreviewBuffers::PreviewBuffers(const PreviewBuffers& other) : scale(other.scale)
{
    if (other.ready()) {
        const size_t bytes = other.planeBytes() * 8;
        storage.reset(new (std::nothrow) uint8_t[bytes]);
        if (storage != nullptr) {
            side = other.side;
            std::memcpy(storage.get(), other.storage.get(), bytes);
        }
    }
    place();
}

void PreviewBuffers::swap(PreviewBuffers& other)
{
    std::swap(scale, other.scale);
    std::swap(side, other.side);
    storage.swap(other.storage);
    place();
    other.place();
}

void PreviewBuffers::place()
{
    if (storage == nullptr) {
        side = 0;
        previewSource = previewImage = previewMask = previewAlpha = nullptr;
        return;
    }
    previewSource = storage.get();
    previewImage = previewSource + imageBytes();
    previewMask = previewImage + imageBytes();
    previewAlpha = previewMask + planeBytes();
}

int16_t previewTransfer(FilterRecord* record, int32_t planesUsed, float imageScale,
                        PreviewBuffers& buffers, PreviewArea& area)
{
    if (record == nullptr || !buffers.ready())
        return memFullErr;
    const int32_t side = buffers.side;
    const int32_t planes = planesUsed > 4 ? 4 : planesUsed;
    if (planes < 1)
        return filterBadMode;
    const int32_t columns = record->imageSize.h;
    const int32_t rows = record->imageSize.v;
    // A scale that would make the image more than `side` pixels a side would write past the
    // preview buffers; previewImageScale never gives one.
    if (!(imageScale >= MinImageScale) || columns / static_cast<double>(imageScale) >= side + 1 ||
        rows / static_cast<double>(imageScale) >= side + 1)
        return paramErr;

    int16_t result = requestWholeImage(record, planes);
    if (result != noErr)
        return result;
    area = previewArea(columns, rows, imageScale, side);
    if (columns <= 0 || rows <= 0)
        return noErr;

    // outData is the scratch area, at its own row pitch: scratch row r takes at most `columns`
    // bytes at the start of the image's row r, so only the image's own pixels are written, never
    // the padding a host may leave between rows. The final render writes every one of those
    // pixels again. Rows too short for their pixels are refused rather than overrun.
    const int32_t inRowBytes = record->inRowBytes;
    const int32_t maskRowBytes = record->maskRowBytes;
    const int32_t outRowBytes = record->outRowBytes;
    if (inRowBytes < columns * planes || outRowBytes < columns * planes)
        return memFullErr;
    if (record->haveMask && maskRowBytes < columns)
        return memFullErr;

    const uint8_t* in = static_cast<const uint8_t*>(record->inData);
    uint8_t* scratch = static_cast<uint8_t*>(record->outData);
    if (planes >= 3) {
        // Host planes red, green, blue land in bytes 2, 1, 0: the screen bitmap's order.
        for (int32_t k = 0; k < 3; ++k)
            transferPlane(imageScale, in, scratch, inRowBytes, planes, buffers.previewSource, 3,
                          columns, rows, side, area, 2 - k, k, outRowBytes);
    } else {
        // One or two planes (an unusual host: only RGB is offered) are shown as grey from the
        // first plane, so that nothing is read beyond a pixel.
        for (int32_t k = 0; k < 3; ++k)
            transferPlane(imageScale, in, scratch, inRowBytes, planes, buffers.previewSource, 3,
                          columns, rows, side, area, 0, k, outRowBytes);
    }
    if (planes == 4)
        transferPlane(imageScale, in, scratch, inRowBytes, planes, buffers.previewAlpha, 1,
                      columns, rows, side, area, 3, 0, outRowBytes);
    if (record->haveMask)
        transferPlane(imageScale, static_cast<const uint8_t*>(record->maskData), scratch,
                      maskRowBytes, 1, buffers.previewMask, 1, columns, rows, side, area, 0, 0,
                      outRowBytes);
    return noErr;
}

int32_t previewRender(const ParamContext* context, const ControlState& controls,
                      const PreviewArea& area, PreviewBuffers& buffers, RenderProgress progress)
{
    const int32_t k = controls.stretchDouble + 1;
    const int32_t skewX = (25 - controls.padX[4]) * k;
    const int32_t skewY = (controls.padY[4] - 25) * k;
    // Offsets and cell sizes are in preview pixels of the display scale here; the final render
    // scales the 100% values to the image instead. Skew, light and shading have no length.
    const DisplayScale& scale = buffers.scale;
    const int32_t rowOffset = scaledOffset(negativePart(skewY), controls.padX[1], scale);
    const int32_t colOffset = scaledOffset(clampNonNegative(skewX), controls.padY[0], scale);
    const int32_t cellHeight = scale.truncated(controls.padY[0]);
    const int32_t cellWidth = scale.truncated(controls.padX[1]);
    // Never host output: the engine fills the whole square and writes blue, green, red.
    const int32_t renderFlags = controls.antialias & ~HostOutputFlag;
    if (!buffers.ready())
        return memFullErr;
    return RenderEngine(context, cellHeight, cellWidth, skewX, skewY, controls.padY[5] - 25,
                        controls.padX[5] - 25, controls.padX[3] - 50, controls.padX[7],
                        controls.padX[6], static_cast<float>(controls.padX[2]), controls.faceMode,
                        area.left, area.top, area.right, area.bottom, buffers.previewSource,
                        buffers.rowBytes(), buffers.previewImage, buffers.rowBytes(),
                        buffers.previewMask, buffers.side, buffers.previewAlpha, rowOffset, 0.0f,
                        colOffset, 0.0f, renderFlags, controls.resolvedColor, 3, progress, 1,
                        buffers.side);
}

} // namespace oryn
