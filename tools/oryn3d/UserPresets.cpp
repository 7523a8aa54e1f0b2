// User preset names, lookup, application by flags, and the records the tool stores.
#include "tools/oryn3d/UserPresets.h"

#include <cctype>
#include <memory>

#include "params/PresetApply.h"
#include "params/PresetStore.h"
#include "params/SamplePresets.h"
#include "plugin/FinalRender.h"
#include "host/HostApi.h"
#include "tools/oryn3d/ControlOptions.h"

namespace oryn {

namespace {

// A host record carrying only the two colours that background resolution reads.
std::unique_ptr<FilterRecord> colourRecord(uint32_t foreWord, uint32_t backWord)
{
    std::unique_ptr<FilterRecord> record(new FilterRecord());
    for (int i = 0; i < 3; ++i) {
        record->foreColor[i] = static_cast<uint8_t>(foreWord >> (8 * i));
        record->backColor[i] = static_cast<uint8_t>(backWord >> (8 * i));
    }
    record->foreColor[3] = 0xFF;
    record->backColor[3] = 0xFF;
    return record;
}

void trimTrailingBlanks(std::string& text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

int presetNameFrom(const std::string& text, PresetName& result, std::string& error)
{
    PresetName made;
    made.name = text;
    if (!made.name.empty() && made.name[0] == '>') {
        made.name.erase(0, 1);
        made.userMarked = true;
    }
    trimTrailingBlanks(made.name);
    for (char c : made.name) {
        if (std::iscntrl(static_cast<unsigned char>(c))) {
            error = "a preset name cannot hold control characters such as tabs or line breaks";
            return 1;
        }
    }
    if (made.name.size() > PresetNameMax) {
        size_t length = PresetNameMax;
        while (length > 0 && isContinuationByte(made.name[length]))
            --length;
        made.name.resize(length);
        made.cut = true;
        trimTrailingBlanks(made.name);
    }
    if (made.name.empty()) {
        error = "a preset name needs at least one character besides a leading '>' and blanks";
        return 1;
    }
    result = made;
    return 0;
}

bool isLastUsedName(const std::string& name)
{
    const std::string lastUsed = LastUsedName;
    if (name.size() != lastUsed.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(lastUsed[i])))
            return false;
    }
    return true;
}

int findPreset(const PresetName& name, PresetDatabase& store, PresetChoice& choice,
               std::string& error)
{
    if (!name.userMarked) {
        const int sample = findSample(name.name);
        if (sample != 0) {
            choice = PresetChoice();
            choice.sample = sample;
            return 0;
        }
    }
    StoredPreset stored;
    switch (store.read(name.name, stored, error)) {
    case StoreResult::Ok:
        choice = PresetChoice();
        choice.kind = PresetChoice::Kind::User;
        choice.stored = stored;
        return 0;
    case StoreResult::NotFound:
        error = (name.userMarked ? "no user preset '" : "no sample or user preset '") + name.name +
                "'; 'oryn3d presets list' shows them";
        return 1;
    case StoreResult::Failed:
        break;
    }
    return 1;
}

int applyPresetChoice(const PresetChoice& choice, ControlState& controls, int32_t planesUsed,
                      uint32_t foreWord, uint32_t backWord)
{
    if (choice.kind == PresetChoice::Kind::Sample) {
        applySample(choice.sample, controls);
        return 0;
    }
    const std::unique_ptr<FilterRecord> host = colourRecord(foreWord, backWord);
    return applyUserPreset(choice.stored.block, controls, planesUsed, *host);
}

ParamBlock userPresetRecord(ControlState controls, uint8_t flags, uint32_t foreWord,
                            uint32_t backWord)
{
    const std::unique_ptr<FilterRecord> host = colourRecord(foreWord, backWord);
    controls.currentFlags = flags;
    controls.resolvedColor = resolveBackgroundColor(controls.currentMode, 4, *host,
                                                    controls.pickerColor, controls.resolvedColor);
    ParamBlock block = defaultParamBlock();
    packParams(block, controls, 0);
    return block;
}

ParamBlock lastUsedRecord(const ParamBlock& rendered, int32_t planesUsed)
{
    ControlState controls = controlsFromBlock(rendered);
    if (controls.currentMode > planesUsed - 1)
        controls.currentMode = planesUsed - 1;
    ParamBlock record = rendered;
    packAsApplied(controls, record);
    return record;
}

} // namespace oryn
