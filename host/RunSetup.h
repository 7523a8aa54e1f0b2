// What every run derives from the host record, shared by the final render, the dialog's preview
// and the preset code: the preview scale, the background colour of a mode, the whole-image request
// and two small integer helpers. Portable; depends only on the host declarations.
#pragma once

#include <cstdint>

#include "host/ColorWord.h"
#include "host/HostApi.h"

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

} // namespace oryn
