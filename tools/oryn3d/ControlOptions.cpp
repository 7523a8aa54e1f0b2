// Option values to control state and record: the dialog's opening state, sample lookup by name,
// per-control overrides, and the record as the dialog stores it after Apply.
#include "tools/oryn3d/ControlOptions.h"

#include <cctype>

#include "params/SamplePresets.h"

namespace oryn {

namespace {

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal integer of at most 9 digits (so it cannot overflow) filling the whole text.
int parseSmallInt(const std::string& text, int32_t& value)
{
    if (text.empty() || text.size() > 9)
        return 1;
    int32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 1;
        v = v * 10 + (c - '0');
    }
    value = v;
    return 0;
}

} // namespace

ControlState defaultControls()
{
    ControlState controls{};
    applySample(DefaultSample, controls);
    controls.padX[LightBoostPad] = DefaultLightBoost;
    controls.padX[BrightnessRatioPad] = DefaultBrightnessRatio;
    controls.antialias = 1;
    controls.currentMode = Picker;
    controls.pickerColor = DefaultBackgroundColor;
    controls.resolvedColor = DefaultBackgroundColor;
    return controls;
}

ControlState controlsFromBlock(const ParamBlock& block)
{
    ControlState controls{};
    for (int i = 0; i < PadCount; ++i) {
        controls.padX[i] = block.padX[i];
        controls.padY[i] = block.padY[i];
    }
    controls.faceMode = faceModeOf(block);
    controls.stretchDouble = stretchDoubleOf(block);
    controls.antialias = block.antialias;
    controls.currentMode = block.backgroundMode;
    controls.pickerColor = block.backgroundColor;
    controls.resolvedColor = block.backgroundColor;
    controls.currentFlags = block.presetFlags;
    return controls;
}

bool hasOverrides(const ControlOverrides& o)
{
    return o.cellWidth || o.cellHeight || o.bevel || o.shading || o.faceMode || o.lightBoost ||
           o.brightnessRatio || o.light || o.stretch || o.stretchDouble || o.antialias ||
           o.background;
}

void applyOverrides(const ControlOverrides& o, ControlState& controls)
{
    if (o.cellWidth)
        controls.padX[CellWidthPad] = *o.cellWidth;
    if (o.cellHeight)
        controls.padY[CellHeightPad] = *o.cellHeight;
    if (o.bevel)
        controls.padX[BevelPad] = *o.bevel;
    if (o.shading)
        controls.padX[ShadingPad] = *o.shading;
    if (o.light) {
        controls.padX[LightPad] = o.light->x;
        controls.padY[LightPad] = o.light->y;
    }
    if (o.stretch) {
        controls.padX[StretchPad] = o.stretch->x;
        controls.padY[StretchPad] = o.stretch->y;
    }
    if (o.faceMode)
        controls.faceMode = *o.faceMode;
    if (o.stretchDouble)
        controls.stretchDouble = *o.stretchDouble ? 1 : 0;
    if (o.lightBoost)
        controls.padX[LightBoostPad] = *o.lightBoost;
    if (o.brightnessRatio)
        controls.padX[BrightnessRatioPad] = *o.brightnessRatio;
    if (o.antialias)
        controls.antialias = *o.antialias ? 1 : 0;
    if (o.background) {
        controls.currentMode = o.background->mode;
        // Only the Picker choice names a colour; the other modes keep the picker colour, as the
        // dialog's background popup does.
        if (o.background->mode == Picker)
            controls.pickerColor = o.background->pickerColor;
    }
}

void packAsApplied(ControlState controls, ParamBlock& block)
{
    controls.currentFlags = LastUsedRecord | (controls.currentMode == Picker ? BackgroundSaved : 0);
    packParams(block, controls, 8);
}

std::string sampleName(int k)
{
    char name[PresetStringSize];
    if (sampleDisplayName(k, name, sizeof name) != 0)
        return std::string();
    std::string text(name);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

int findSample(const std::string& name)
{
    const std::string wanted = lowerCase(name);
    const int count = sampleCount(0);
    for (int k = 1; k <= count; ++k) {
        if (lowerCase(sampleName(k)) == wanted)
            return k;
    }
    return 0;
}

std::string sampleNameList()
{
    std::string list;
    const int count = sampleCount(0);
    for (int k = 1; k <= count; ++k) {
        if (k > 1)
            list += ", ";
        list += sampleName(k);
    }
    return list;
}

int parseColorWord(const std::string& text, uint32_t& word)
{
    std::string hex = text;
    if (!hex.empty() && hex[0] == '#')
        hex.erase(0, 1);
    if (hex.size() != 6)
        return 1;
    uint32_t bytes[3];
    for (int i = 0; i < 3; ++i) {
        int high = hexDigit(hex[2 * i]);
        int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return 1;
        bytes[i] = static_cast<uint32_t>(high * 16 + low);
    }
    // Text order is red, green, blue; the word keeps red in byte 0.
    word = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | OpaqueMarker;
    return 0;
}

int parseNumberInRange(const std::string& text, int32_t lo, int32_t hi, int32_t& value)
{
    int32_t v = 0;
    if (parseSmallInt(text, v) != 0 || v < lo || v > hi)
        return 1;
    value = v;
    return 0;
}

int parsePadPoint(const std::string& text, int32_t lo, int32_t hi, PadPoint& point,
                  std::string& error)
{
    const size_t comma = text.find(',');
    int32_t x = 0;
    int32_t y = 0;
    if (comma == std::string::npos || parseSmallInt(text.substr(0, comma), x) != 0 ||
        parseSmallInt(text.substr(comma + 1), y) != 0) {
        error = "'" + text + "' is not X,Y (two whole numbers, for example 25,25)";
        return 1;
    }
    if (x < lo || x > hi || y < lo || y > hi) {
        error = "'" + text + "' is out of range: X and Y must each be " + std::to_string(lo) +
                ".." + std::to_string(hi);
        return 1;
    }
    point = PadPoint{x, y};
    return 0;
}

int parseBackground(const std::string& text, BackgroundChoice& choice, std::string& error)
{
    const std::string name = lowerCase(text);
    if (name == "foreground") {
        choice = BackgroundChoice{Foreground, 0};
        return 0;
    }
    if (name == "background") {
        choice = BackgroundChoice{Background, 0};
        return 0;
    }
    if (name == "transparent") {
        choice = BackgroundChoice{Transparent, 0};
        return 0;
    }
    uint32_t word = 0;
    if (parseColorWord(text, word) == 0) {
        choice = BackgroundChoice{Picker, word};
        return 0;
    }
    error = "'" + text + "' is not foreground, background, transparent or a colour RRGGBB";
    return 1;
}

} // namespace oryn
