// The final render as a libvips operation: the output is made in strips on demand, each from
// the source rows it needs, on libvips' thread pool, so that decoding, rendering and encoding
// run together and the memory held does not grow with the image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "params/ParamBlock.h"
#include "tools/oryn3d/ToolHost.h"

typedef struct _VipsImage VipsImage;

namespace oryn {

// How a streamed render went, for the caller to report once the output is written or failed.
struct StreamOutcome {
    bool sourceFailed = false; // the source (or the mask) could not be read
    bool cancelled = false;    // a termination signal stopped it
    std::string reason;        // libvips' reason when the source failed, or the render's own
};

// Starts the final render of `block` over `source` (3 or 4 bands of 8 bits, the planes the host
// gives; at most MaxImageSide pixels a side) with `mask` (1 band of the same size, or null), as
// the plug-in's silent replay renders it: the same set-up and engine arguments, the same bytes.
// `out` gets the rendered image, whose pixels are computed as it is written; `outcome` is filled
// in while that runs. Only the host's colours, progress choice and label are read from `host`;
// threads come from vips_concurrency_set, which the caller sets.
// Returns noErr, filterBadMode for a plane count the render refuses, or memFullErr when the
// operation cannot be made.
int16_t startStreamRender(const HostImage& host, VipsImage* source, VipsImage* mask,
                          ParamBlock& block, VipsImage** out,
                          std::shared_ptr<StreamOutcome>& outcome);

} // namespace oryn
