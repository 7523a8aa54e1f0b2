// The preview: the host image reduced once into the preview buffers, and the engine run in
// preview mode over them. The preview is a square of 300 x 300 pixels at 96 DPI and grows with
// the display scale (450 x 450 at 144 DPI), rendered at that size. Portable; the dialog shows the
// result, the command-line tool saves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "controls/DisplayScale.h"
#include "engine/RenderEngine.h"
#include "params/ParamBlock.h"
#include "host/HostApi.h"

namespace oryn {

// Left, top, right, bottom of the part of the preview buffers that holds image data.
struct PreviewArea {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The preview square's side at a display scale: 300 pixels at 100%, scale.px(300) above.
int32_t previewSide(const DisplayScale& scale);

// Image pixels per preview pixel at a display scale: computeImageScale at 96 DPI; above, that
// factor x 96 / dpi in single precision, which falls below 1 for images smaller than the square
// (they are then enlarged, as the 300 x 300 preview shows them bigger on a bigger screen).
float previewImageScale(int32_t columns, int32_t rows, const DisplayScale& scale);

// (0, 0, trunc(columns / imageScale), trunc(rows / imageScale)), divisions in double precision,
// each at most `side`.
PreviewArea previewArea(int32_t columns, int32_t rows, float imageScale,
                        int32_t side = PreviewSize);

constexpr int32_t PreviewRowBytes = PreviewSize * 3;

// The four preview buffers for one display scale, zero when made: side x side pixels each.
// Pixels are blue, green, red, the screen's order. 720 000 bytes at 96 DPI.
class PreviewBuffers {
public:
    // Buffers for the preview at `scale`. When the memory cannot be had, ready() is false and
    // every pointer null; previewTransfer then refuses them.
    explicit PreviewBuffers(DisplayScale scale = DisplayScale());
    // No buffers until reset(): for storage that lives as long as the module.
    explicit PreviewBuffers(std::nullptr_t) {}
    PreviewBuffers(const PreviewBuffers& other);
    PreviewBuffers& operator=(const PreviewBuffers&) = delete;
    // Zeroes the buffers for the preview at `scale`, making them anew when the side changes.
    // Returns 0, or 1 when the memory cannot be had (the buffers are then not ready).
    int reset(DisplayScale scale);
    // Exchanges the buffers, their scale and side with `other`'s: a preview made at a new scale
    // takes the place of the shown one only once it is complete.
    void swap(PreviewBuffers& other);

    bool ready() const { return storage != nullptr; }
    int32_t rowBytes() const { return side * 3; }
    size_t imageBytes() const { return size_t(side) * size_t(side) * 3; }
    size_t planeBytes() const { return size_t(side) * size_t(side); }

    DisplayScale scale;
    int32_t side = 0;
    uint8_t* previewSource = nullptr; // reduced image, engine src
    uint8_t* previewImage = nullptr;  // engine dst, the screen bitmap's bits
    uint8_t* previewMask = nullptr;   // reduced selection, when there is one
    uint8_t* previewAlpha = nullptr;  // reduced fourth plane of 4-plane images

private:
    void place();
    std::unique_ptr<uint8_t[]> storage;
};

// Requests the whole image (planesUsed planes and the mask) and reduces it by imageScale (from
// previewImageScale for the buffers' scale) into the buffers, using the image's own pixels of the
// host's outData as scratch (never the padding between its rows); an imageScale below 1 enlarges
// instead. Returns noErr, the request's error code, or memFullErr for buffers that are not ready
// or rows too short for their pixels.
int16_t previewTransfer(FilterRecord* record, int32_t planesUsed, float imageScale,
                        PreviewBuffers& buffers, PreviewArea& area);

// Renders the preview for the control values into buffers.previewImage, at the buffers' display
// scale: cell sizes and offsets, which the controls give in 100% preview pixels, become
// value x dpi / 96 pixels (truncated), so the scaled preview shows what the 100% one shows,
// sharper. `planesUsed` is not read here: the engine takes planes and haveMask from
// context->record.
// Returns the engine's result: 0, or the non-zero code from `progress` that stopped it.
int32_t previewRender(const ParamContext* context, const ControlState& controls,
                      const PreviewArea& area, PreviewBuffers& buffers, RenderProgress progress);

} // namespace oryn
