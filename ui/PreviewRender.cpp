// The preview: one reduction of the host image into the 300 x 300 buffers, and the engine's
// preview-mode render over them.
#include "ui/PreviewRender.h"

#include "host/RunSetup.h"
#include "ui/PreviewReduce.h"

namespace oryn {

namespace {

// trunc(length / scale) in double precision, kept inside 0..PreviewSize so that the area is
// always a valid rectangle of the preview buffers (a scale from computeImageScale never needs the
// upper bound).
int32_t previewExtent(int32_t length, float scale)
{
    double q = length / static_cast<double>(scale);
    if (!(q > 0.0))
        return 0;
    if (q >= PreviewSize)
        return PreviewSize;
    return static_cast<int32_t>(q);
}

// a x b / 50 in integers, truncating; saturates where pad values far outside the controls' ranges
// would overflow 32 bits.
int32_t scaledOffset(int32_t a, int32_t b)
{
    int64_t v = static_cast<int64_t>(a) * b / 50;
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

} // namespace

PreviewArea previewArea(int32_t columns, int32_t rows, float imageScale)
{
    return PreviewArea{0, 0, previewExtent(columns, imageScale), previewExtent(rows, imageScale)};
}

int16_t previewTransfer(FilterRecord* record, int32_t planesUsed, float imageScale,
                        PreviewBuffers& buffers, PreviewArea& area)
{
    if (record == nullptr)
        return memFullErr;
    const int32_t planes = planesUsed > 4 ? 4 : planesUsed;
    if (planes < 1)
        return filterBadMode;
    const int32_t columns = record->imageSize.h;
    const int32_t rows = record->imageSize.v;
    // A scale that would reduce the image to more than 300 pixels a side would write past the
    // preview buffers; computeImageScale never gives one.
    if (!(imageScale >= 1.0f) || columns / static_cast<double>(imageScale) >= PreviewSize + 1 ||
        rows / static_cast<double>(imageScale) >= PreviewSize + 1)
        return paramErr;

    int16_t result = requestWholeImage(record, planes);
    if (result != noErr)
        return result;
    area = previewArea(columns, rows, imageScale);
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
            reducePlane(imageScale, in, scratch, inRowBytes, planes, buffers.previewSource, 3,
                        columns, rows, PreviewSize, PreviewSize, 2 - k, k, outRowBytes);
    } else {
        // One or two planes (an unusual host: only RGB is offered) are shown as grey from the
        // first plane, so that nothing is read beyond a pixel.
        for (int32_t k = 0; k < 3; ++k)
            reducePlane(imageScale, in, scratch, inRowBytes, planes, buffers.previewSource, 3,
                        columns, rows, PreviewSize, PreviewSize, 0, k, outRowBytes);
    }
    if (planes == 4)
        reducePlane(imageScale, in, scratch, inRowBytes, planes, buffers.previewAlpha, 1, columns,
                    rows, PreviewSize, PreviewSize, 3, 0, outRowBytes);
    if (record->haveMask)
        reducePlane(imageScale, static_cast<const uint8_t*>(record->maskData), scratch,
                    maskRowBytes, 1, buffers.previewMask, 1, columns, rows, PreviewSize,
                    PreviewSize, 0, 0, outRowBytes);
    return noErr;
}

int32_t previewRender(const ParamContext* context, const ControlState& controls,
                      const PreviewArea& area, PreviewBuffers& buffers, RenderProgress progress)
{
    const int32_t k = controls.stretchDouble + 1;
    const int32_t skewX = (25 - controls.padX[4]) * k;
    const int32_t skewY = (controls.padY[4] - 25) * k;
    // Offsets and cell sizes are in preview pixels here; the final render scales them.
    const int32_t rowOffset = scaledOffset(negativePart(skewY), controls.padX[1]);
    const int32_t colOffset = scaledOffset(clampNonNegative(skewX), controls.padY[0]);
    // Never host output: the engine fills the whole 300 x 300 square and writes blue, green, red.
    const int32_t renderFlags = controls.antialias & ~HostOutputFlag;
    return RenderEngine(context, controls.padY[0], controls.padX[1], skewX, skewY,
                        controls.padY[5] - 25, controls.padX[5] - 25, controls.padX[3] - 50,
                        controls.padX[7], controls.padX[6], static_cast<float>(controls.padX[2]),
                        controls.faceMode, area.left, area.top, area.right, area.bottom,
                        buffers.previewSource, PreviewRowBytes, buffers.previewImage,
                        PreviewRowBytes, buffers.previewMask, PreviewSize, buffers.previewAlpha,
                        rowOffset, 0.0f, colOffset, 0.0f, renderFlags, controls.resolvedColor, 3,
                        progress);
}

} // namespace oryn
