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

// Well-formed UTF-8: lead bytes followed by the right number of continuation bytes, no overlong
// forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const std::string& text)
{
    size_t at = 0;
    while (at < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = 0;
        uint32_t point = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (at + length > text.size())
            return false;
        for (size_t i = 1; i < length; ++i) {
            if (!isContinuationByte(text[at + i]))
                return false;
            point = point << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
        }
        if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) ||
            (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
        at += length;
    }
    return true;
}

// True when well-formed UTF-8 holds a character that breaks a line or reorders the text around
// it on a terminal: C1 controls (U+0080..U+009F), the line and paragraph separators
// (U+2028, U+2029) and the bidirectional embeddings, overrides and isolates (U+202A..U+202E,
// U+2066..U+2069).
bool hasInvisibleControl(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length && at + i < text.size(); ++i)
            point = point << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
        if ((point >= 0x80 && point <= 0x9F) || point == 0x2028 || point == 0x2029 ||
            (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069))
            return true;
        at += length;
    }
    return false;
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
    // Blanks go at both ends, so that " Last Used" is the reserved name it looks like.
    trimTrailingBlanks(made.name);
    made.name.erase(0, made.name.find_first_not_of(' ') == std::string::npos
                           ? made.name.size()
                           : made.name.find_first_not_of(' '));
    if (!made.name.empty() && made.name[0] == '>') {
        // ">x" would be listed as ">>x", and typing that back picks the user preset "x".
        error = "a preset name cannot begin with '>', which marks user presets in the list";
        return 1;
    }
    for (char c : made.name) {
        if (std::iscntrl(static_cast<unsigned char>(c))) {
            error = "a preset name cannot hold control characters such as tabs or line breaks";
            return 1;
        }
    }
    if (!isValidUtf8(made.name)) {
        error = "a preset name must be UTF-8 text";
        return 1;
    }
    if (hasInvisibleControl(made.name)) {
        error = "a preset name cannot hold control characters, line or paragraph separators or "
                "direction overrides";
        return 1;
    }
    // The limit counts characters, so the cut falls between two of them.
    size_t characters = 0;
    for (size_t at = 0; at < made.name.size(); ++at) {
        if (isContinuationByte(made.name[at]))
            continue;
        if (characters == PresetNameMax) {
            made.name.resize(at);
            made.cut = true;
            trimTrailingBlanks(made.name);
            break;
        }
        ++characters;
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

StoreResult findPreset(const PresetName& name, PresetDatabase& store, PresetChoice& choice,
                       std::string& error)
{
    if (!name.userMarked) {
        const int sample = findSample(name.name);
        if (sample != 0) {
            choice = PresetChoice();
            choice.sample = sample;
            return StoreResult::Ok;
        }
    }
    StoredPreset stored;
    const StoreResult result = store.read(name.name, stored, error);
    if (result == StoreResult::Ok) {
        choice = PresetChoice();
        choice.kind = PresetChoice::Kind::User;
        choice.stored = stored;
    }
    return result;
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
