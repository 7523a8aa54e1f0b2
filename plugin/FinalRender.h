// The final render over the host's whole image: run set-up from a parameter record, the host
// image request, the mapping of the record onto the engine's arguments, and host progress.
// Portable: the plug-in's start selector and the command-line host run the same code.
#pragma once

#include <cstdint>

#include "plugin/HostApi.h"
#include "params/ParamBlock.h"

namespace oryn {

// v when v >= 0, else 0.
int32_t clampNonNegative(int32_t v);
// -v when v < 0, else 0.
int32_t negativePart(int32_t v);

// Factor from preview pixels to image pixels: the larger of columns and rows times the
// single-precision 0.0033333334, stored as float, at least 1.0.
float computeImageScale(int32_t columns, int32_t rows);

// The host's foreColor or backColor as a colour word, alpha marker forced to 0xFF.
uint32_t hostColorWord(const FilterColor& color);

// The background colour the engine gets for a mode and plane count. Returns `previous` for a mode
// outside 0..3 (the colour is then left as it was).
uint32_t resolveBackgroundColor(int32_t mode, int32_t planes, const FilterRecord& record,
                                uint32_t pickerColor, uint32_t previous);

// Asks the host for the whole image (planes 0..planes-1 in and out, and the whole mask when the
// host has one) through advanceState. Returns noErr, or memFullErr when a buffer is missing.
int16_t requestWholeImage(FilterRecord* record, int32_t planes);

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

// Renders the block over the whole image already obtained with requestWholeImage, then empties
// the host's in, out and mask rectangles. Returns the engine's 16-bit result: 0, or the code
// from finalProgress that stopped it.
int16_t renderFinal(const ParamContext& context, const RunSetup& setup);

// The silent replay of a record that passed checksumOk: set-up, one whole-image request, the
// final render. Returns noErr, memFullErr when the host gave no data, or the render's result.
int16_t replayBlock(FilterRecord* record, ParamBlock& block);

} // namespace oryn
