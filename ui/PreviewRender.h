// The preview: the host image reduced once into fixed 300 x 300 buffers, and the engine run in
// preview mode over them. Portable; the dialog shows the result, the command-line tool saves it.
#pragma once

#include <cstdint>

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

// (0, 0, trunc(columns / imageScale), trunc(rows / imageScale)), divisions in double precision.
PreviewArea previewArea(int32_t columns, int32_t rows, float imageScale);

constexpr int32_t PreviewRowBytes = PreviewSize * 3;

// The four preview buffers (720 000 bytes). Pixels are blue, green, red, the screen's order.
struct PreviewBuffers {
    uint8_t previewSource[PreviewSize * PreviewRowBytes]; // reduced image, engine src
    uint8_t previewImage[PreviewSize * PreviewRowBytes];  // engine dst, the screen bitmap's bits
    uint8_t previewMask[PreviewSize * PreviewSize];       // reduced selection, when there is one
    uint8_t previewAlpha[PreviewSize * PreviewSize];      // reduced fourth plane of 4-plane images
};

// Requests the whole image (planesUsed planes and the mask) and reduces it by imageScale into the
// buffers, using the image's own pixels of the host's outData as scratch (never the padding
// between its rows). Returns noErr, the request's error code, or memFullErr for rows too short
// for their pixels.
int16_t previewTransfer(FilterRecord* record, int32_t planesUsed, float imageScale,
                        PreviewBuffers& buffers, PreviewArea& area);

// Renders the preview for the control values into buffers.previewImage. `planesUsed` is not read
// here: the engine takes planes and haveMask from context->record.
// Returns the engine's result: 0, or the non-zero code from `progress` that stopped it.
int32_t previewRender(const ParamContext* context, const ControlState& controls,
                      const PreviewArea& area, PreviewBuffers& buffers, RenderProgress progress);

} // namespace oryn
