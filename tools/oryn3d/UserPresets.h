// User presets in oryn3d: names as the save dialog takes them, what a preset name on the command
// line means, applying it to the controls by its flags, and the records the tool stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "params/ParamBlock.h"
#include "tools/oryn3d/PresetDatabase.h"

namespace oryn {

// The longest preset name the save dialog takes.
constexpr size_t PresetNameMax = 19;

// A store name made from typed text.
struct PresetName {
    std::string name;        // what is stored or looked up
    bool userMarked = false; // the text began with ">", as the preset list shows user presets
    bool cut = false;        // the text was longer than PresetNameMax and was cut
};

// Removes a leading ">" and blanks at both ends, cuts the rest to PresetNameMax characters (UTF-8
// code points, so never inside one) and removes blanks the cut leaves at the end. Returns 0, or 1
// with a reason when nothing is left, the rest begins with ">" again, or the text holds a control
// character (C0, C1, a line separator, a direction override) or is not UTF-8.
int presetNameFrom(const std::string& text, PresetName& result, std::string& error);

// True for the name of the last-used record, "Last Used" in any case.
bool isLastUsedName(const std::string& name);

// What a preset name on the command line stands for.
struct PresetChoice {
    enum class Kind { Sample, User } kind = Kind::Sample;
    int sample = 0;      // Sample: 1-based
    StoredPreset stored; // User: the stored name and record
};

// Looks a name up as the preset list shows it: ">NAME" is the user preset NAME; a bare name is the
// sample of that name, else the user preset of that name (so a user preset named like a sample
// needs the ">"). Names compare without regard to ASCII case. Returns Ok, NotFound, or Failed with
// a reason naming the store.
StoreResult findPreset(const PresetName& name, PresetDatabase& store, PresetChoice& choice,
                       std::string& error);

// Applies a preset to the controls as the dialog's preset list does: a sample sets the cell
// shape; a user preset is applied by its flags, with the background resolved for an image of
// `planesUsed` planes and the host colours `foreWord` and `backWord`. Returns 0, or 1 when a user
// preset failed its checksum and the default sample with light correction 30 and 20 replaced it.
int applyPresetChoice(const PresetChoice& choice, ControlState& controls, int32_t planesUsed,
                      uint32_t foreWord, uint32_t backWord);

// The record the save dialog stores for these controls: the given flags (LightSaved,
// BackgroundSaved) and the colour the background mode resolves to with the host colours given.
// Modes are resolved as for an image with an alpha plane, so a saved Transparent stays one.
ParamBlock userPresetRecord(ControlState controls, uint8_t flags, uint32_t foreWord,
                            uint32_t backWord);

// The last-used record the plug-in stores after Apply for a render of `rendered` on an image with
// `planesUsed` planes: the same controls with the background mode lowered to what the image can
// show, the picker colour, and flags LastUsedRecord (plus BackgroundSaved for Picker).
ParamBlock lastUsedRecord(const ParamBlock& rendered, int32_t planesUsed);

} // namespace oryn
