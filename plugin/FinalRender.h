// The final render over the host's whole image: run set-up from a parameter record, the host
// image request, the mapping of the record onto the engine's arguments, and host progress.
// Portable: the plug-in's start selector and the command-line host run the same code.
#pragma once

#include <cstdint>

#include "engine/RenderArea.h"
#include "host/HostApi.h"
#include "host/RunSetup.h"
#include "params/ParamBlock.h"

namespace oryn {

// Engine progress callback of the final render: asks the host's abortProc, then reports to its
// progressProc. Returns 0, or userCanceledErr when the host reports a cancel.
int32_t finalProgress(const ParamContext* context, int32_t done, int32_t total);

// What a run derives from the host record and the parameter record before rendering.
struct RunSetup {
    int32_t planesUsed;     // the host's planes, at most 4
    int32_t currentMode;    // the block's backgroundMode, lowered to planesUsed - 1
    uint32_t pickerColor;   // the block's backgroundColor
    uint32_t resolvedColor; // from resolveBackgroundColor
    float imageScale;       // from computeImageScale
};

// Derives the run set-up. `previousColor` is what resolveBackgroundColor keeps for an unknown mode.
RunSetup setupRun(const FilterRecord& record, const ParamBlock& block, uint32_t previousColor);

// The cell size in image pixels that the final render gives a cell size of `pad` preview pixels
// on an image of `imageScale`: trunc(pad x imageScale), the product in double precision.
int32_t finalCellSize(int32_t pad, float imageScale);

// The preview cell size 0..`maxPad` whose final cell size is nearest `pixels` image pixels (the
// smaller one on a tie).
int32_t previewCellSizeFor(int32_t pixels, float imageScale, int32_t maxPad);

// Threads for a final render asked to use `requested` threads: that many when it is 1 or more
// (at most MaxRenderThreads); for 0 or less, the number in the environment variable ORYN_THREADS
// when it holds a whole number from 1 on, else every processor the system reports. Returns 1 to
// MaxRenderThreads.
int32_t renderThreadCount(int32_t requested);

// The engine's arguments for the final render of `block` over an image of columns x rows with
// `planes` planes (the host record's count): the one mapping of a record onto the engine, shared
// by every front end. Returns noErr, or filterBadMode for plane counts the render refuses.
int16_t finalRenderCall(const ParamBlock& block, const RunSetup& setup, int32_t columns,
                        int32_t rows, int16_t planes, RenderCall& call);

// Renders the block over the whole image already obtained with requestWholeImage, then empties
// the host's in, out and mask rectangles. The rows are shared among renderThreadCount(threads)
// threads; with one thread the host sees the one-thread progress and abort calls, row by row.
// Returns the engine's 16-bit result: 0, or the code from finalProgress that stopped it.
int16_t renderFinal(const ParamContext& context, const RunSetup& setup, int32_t threads = 0);

// The silent replay of a record that passed checksumOk: set-up, one whole-image request, the
// final render with `threads` as renderFinal takes it. Returns noErr, memFullErr when the host
// gave no data, or the render's result.
int16_t replayBlock(FilterRecord* record, ParamBlock& block, int32_t threads = 0);

} // namespace oryn
