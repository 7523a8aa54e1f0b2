// The built-in sample presets: the texts of the module's string table, the number reader, and
// application of a sample to the control state.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"
#include "params/SamplePresetText.h"

namespace oryn {

// Capacity of a loaded string: at most 59 characters and the terminator.
constexpr int PresetStringSize = 60;

// The text of string table entry `id` (1..11 or 40), as the resources hold it; nullptr otherwise.
const char* presetString(int id);

// Copies string `id` into buf (at most size - 1 characters, always terminated) the way a string
// resource is loaded. Returns the number of characters copied (0 for an unknown id).
int loadPresetString(int id, char* buf, int size);

// Reads the next decimal number (1 to 4 digits) after at most 19 non-digits. A value of 9999
// leaves target unchanged. Returns 0 on success, 1 on failure (target unchanged).
int parsePresetNumber(int32_t& target, const char* text, int& position);

// The number of samples, from string 1 ("#9"); `fallback` when it has no "#" or number.
int32_t sampleCount(int32_t fallback);

// The list text of sample k (1-based): the text before the "#" less the character before it.
// Returns 0, or 1 when k is out of range.
int sampleDisplayName(int k, char* buf, int size);

// Applies a sample text ("Name #n n n n n n n n n") to the controls: the cell size, bevel,
// shading, G-Shading and Stretch pads, the button state and "x2"; sets currentFlags to 0.
// Pads 6 and 7, the background and Antialiasing are left alone. Returns 0, or 1 without a "#".
int applySampleText(const char* text, ControlState& controls);

// applySampleText on sample k (1-based). Returns 0, or 1 when k is out of range.
int applySample(int k, ControlState& controls);

} // namespace oryn
