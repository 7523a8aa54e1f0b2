// Applying a stored parameter record to the controls as a preset, with the rules of its flags:
// what a user preset, a last-used record or a damaged record changes and what it leaves alone.
// Portable: the dialog and the command-line tool apply presets through the same code.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"
#include "host/HostApi.h"

namespace oryn {

// The light correction's values when a dialog opens without a record.
constexpr int32_t DefaultLightBoost = 30;
constexpr int32_t DefaultBrightnessRatio = 20;
// The sample applied by default and in place of a damaged record ("Orystone").
constexpr int DefaultSample = 3;

// Applies a record that passed checksumOk: the pads, the G-Shading state and "x2"; pads 6 and 7
// only with LightSaved or LastUsedRecord; the background (as Picker with the stored colour, or
// Transparent where the image has 4 planes) only with BackgroundSaved and without
// LastUsedRecord. controls.currentFlags becomes the record's flags (8 for a last-used record).
// Antialiasing is never changed.
void applyParamBlock(const ParamBlock& block, ControlState& controls, int32_t planesUsed,
                     const FilterRecord& host);

// Applies a user preset read from the store: a valid record as above; one that fails its checksum
// is replaced by the default sample with pads 6 and 7 at 30 and 20.
// Returns 0 when the record was applied, 1 when the fallback was.
int applyUserPreset(const ParamBlock& block, ControlState& controls, int32_t planesUsed,
                    const FilterRecord& host);

// What stands in for a damaged user preset: the default sample with pads 6 and 7 at 30 and 20.
void applyDamagedPreset(ControlState& controls);

} // namespace oryn
