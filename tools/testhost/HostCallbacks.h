// The host side of a filter run: the record the module sees, the buffers advanceState serves, and
// the callbacks (progress, abort, colour services) it reaches through the record.
#pragma once

#include <cstdint>
#include <vector>

#include "host/HostApi.h"
#include "tools/testhost/HostOptions.h"
#include "tools/testhost/HostSupport.h"
#include "tools/testhost/ImageFile.h"

namespace oryn {

// One buffer handed to the module by advanceState; kept so that its contents can be committed
// to the output image before the next request.
struct ServedBuffer {
    bool active = false;
    Rect rect = {};
    int16_t loPlane = 0;
    int16_t hiPlane = -1;
    int32_t rowBytes = 0;
    int32_t padding = 0; // bytes after each row's pixels, filled with PaddingFill
    std::vector<uint8_t> bytes;
};

// State of one run, reached by the host callbacks (which receive no context of their own).
struct HostRun {
    const Options* options = nullptr;
    Image source; // options' plane count, interleaved
    Image output; // starts as a copy of source; committed buffers land here
    Image mask;   // one channel, or empty
    FilterRecord* record = nullptr;
    ServedBuffer in;
    ServedBuffer out;
    ServedBuffer maskBuffer;
    int32_t advanceCalls = 0;
    int32_t advanceErrors = 0;
    int32_t progressCalls = 0;
    int32_t progressBackwards = 0;
    int32_t firstDone = 0, firstTotal = 0, lastDone = 0, lastTotal = 0;
    bool cancelRowSeen = false;
    int32_t abortCalls = 0;
    int32_t abortYes = 0;
    int32_t colorCalls = 0;
    int32_t paddingWritten = 0; // padding bytes of output buffers the module changed
};

// What the padding after served rows holds (--row-padding).
constexpr uint8_t PaddingFill = 0xCD;

// The run the callbacks serve (they receive no context of their own); null between runs.
extern HostRun* activeRun;

// Writes the output buffer the module had back into the output image, counting the padding bytes
// the module changed into activeRun->paddingWritten.
void commit(ServedBuffer& buffer, Image& image);

// advanceState: commits the previous output buffer, then serves the requested rectangles and
// planes as interleaved buffers (rowBytes = width x planes + --row-padding). An empty rectangle
// gets a null pointer; a request outside the image or its planes is not served and answers
// paramErr. With --hold-advance the first call waits for the file first.
ORYN_CALLED_BACK OSErr hostAdvanceState();

// Fills the record as an image editor does for an RGB(A) document with the run's images.
void fillRecord(const Options& options, HostRun& run, PlatformData* platform, FilterRecord& r);

} // namespace oryn
