// The built-in sample presets: string lookup, the decimal reader and application of a sample
// text to the control state.
#include "params/SamplePresets.h"

namespace oryn {

namespace {

// Strings 1 to 11, indexed by id - 1: the count, the nine samples and the save entry.
const char* const TableTexts[] = {
    TEXT_SAMPLE_COUNT, TEXT_SAMPLE_1, TEXT_SAMPLE_2, TEXT_SAMPLE_3,
    TEXT_SAMPLE_4,     TEXT_SAMPLE_5, TEXT_SAMPLE_6, TEXT_SAMPLE_7,
    TEXT_SAMPLE_8,     TEXT_SAMPLE_9, TEXT_SAVE_ENTRY,
};
constexpr int TableCount = sizeof TableTexts / sizeof TableTexts[0];
// Samples are strings 2 .. SampleTexts + 1.
constexpr int SampleTexts = 9;

// A non-digit run longer than this before a number is not a preset text.
constexpr int MaxSkipped = 19;
// A number has at most this many digits.
constexpr int MaxDigits = 4;
// A value written as this leaves its target as it was.
constexpr int32_t KeepValue = 9999;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Index of the first "#" within the first PresetStringSize characters, or -1.
int findMarker(const char* text)
{
    for (int i = 0; i < PresetStringSize && text[i] != '\0'; ++i) {
        if (text[i] == '#')
            return i;
    }
    return -1;
}

} // namespace

const char* presetString(int id)
{
    if (id >= 1 && id <= TableCount)
        return TableTexts[id - 1];
    if (id == IDS_DELETE_FAILED)
        return TEXT_DELETE_FAILED;
    return nullptr;
}

int loadPresetString(int id, char* buf, int size)
{
    if (buf == nullptr || size <= 0)
        return 0;
    const char* text = presetString(id);
    int n = 0;
    if (text != nullptr) {
        while (n < size - 1 && text[n] != '\0') {
            buf[n] = text[n];
            ++n;
        }
    }
    buf[n] = '\0';
    return n;
}

int parsePresetNumber(int32_t& target, const char* text, int& position)
{
    if (text == nullptr || position < 0)
        return 1;
    // The terminator ends a text: neither the skip nor a later call reads past it.
    int skipped = 0;
    while (!isDigit(text[position])) {
        if (text[position] == '\0')
            return 1;
        ++position;
        if (++skipped > MaxSkipped)
            return 1;
    }
    char digits[12];
    int count = 0;
    while (isDigit(text[position])) {
        if (count == MaxDigits) {
            ++position;
            return 1;
        }
        digits[count++] = text[position++];
    }
    // The character that ended the number is consumed, unless it is the terminator.
    if (text[position] != '\0')
        ++position;
    int32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (digits[i] - '0');
    if (value != KeepValue)
        target = value;
    return 0;
}

int32_t sampleCount(int32_t fallback)
{
    const char* text = presetString(IDS_SAMPLE_COUNT);
    int position = findMarker(text);
    if (position < 0)
        return fallback;
    int32_t count = fallback;
    parsePresetNumber(count, text, position);
    return count;
}

int sampleDisplayName(int k, char* buf, int size)
{
    if (k < 1 || k > SampleTexts || buf == nullptr || size <= 0)
        return 1;
    char text[PresetStringSize];
    loadPresetString(k + 1, text, PresetStringSize);
    // The name ends one character before the "#" (a blank in every sample).
    int marker = findMarker(text);
    if (marker >= 0)
        text[marker > 0 ? marker - 1 : 0] = '\0';
    int n = 0;
    while (n < size - 1 && text[n] != '\0') {
        buf[n] = text[n];
        ++n;
    }
    buf[n] = '\0';
    return 0;
}

int applySampleText(const char* text, ControlState& controls)
{
    if (text == nullptr)
        return 1;
    int position = findMarker(text);
    if (position < 0)
        return 1;
    // Each read runs whatever the previous one returned; a failed read leaves its target alone.
    int32_t* const targets[] = {
        &controls.padX[1], &controls.padY[0], &controls.padX[2], &controls.padX[3],
        &controls.padX[5], &controls.padY[5], &controls.padX[4], &controls.padY[4],
        &controls.faceMode,
    };
    for (int32_t* target : targets)
        parsePresetNumber(*target, text, position);
    // The last number carries the button state in bits 0-1 and "x2" in bit 2.
    controls.stretchDouble = (controls.faceMode >> 2) & 1;
    controls.faceMode &= 3;
    controls.currentFlags = 0;
    return 0;
}

int applySample(int k, ControlState& controls)
{
    if (k < 1 || k > SampleTexts)
        return 1;
    char text[PresetStringSize];
    loadPresetString(k + 1, text, PresetStringSize);
    return applySampleText(text, controls);
}

} // namespace oryn
