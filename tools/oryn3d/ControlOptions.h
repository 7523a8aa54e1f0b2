// How oryn3d's command-line options become the dialog's control state and the 64-byte record
// that the final render and the preview use. No image or terminal code here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "params/ParamBlock.h"
#include "params/PresetApply.h"

namespace oryn {

// Ranges of the controls, in the controls' own units (cell sizes are preview pixels).
constexpr int32_t CellSizeMax = 300;
constexpr int32_t BevelMax = 50;
constexpr int32_t ShadingMax = 100; // 50 = no shading
constexpr int32_t PadAxisMax = 50;  // light and stretch pads, 25 = centre
constexpr int32_t FaceModeMax = 2;
constexpr int32_t LightCorrectionMax = 100; // light boost and brightness ratio

// The host's two colours when the options do not name them: black and white.
constexpr uint32_t DefaultForegroundWord = 0xFF000000u;
constexpr uint32_t DefaultBackgroundWord = 0xFFFFFFFFu;

// Both axes of a two-axis pad.
struct PadPoint {
    int32_t x;
    int32_t y;
};

// The background choice: a mode, and for Picker the colour word.
struct BackgroundChoice {
    int32_t mode;
    uint32_t pickerColor;
};

// Control values the user gave explicitly; an empty field leaves its control alone. A preset is
// applied before them.
struct ControlOverrides {
    std::optional<int32_t> cellWidth, cellHeight, bevel, shading, faceMode;
    std::optional<int32_t> lightBoost, brightnessRatio;
    std::optional<PadPoint> light, stretch;
    std::optional<bool> stretchDouble, antialias;
    std::optional<BackgroundChoice> background;
};

// The controls as the dialog opens without a last-used record: "Orystone", Light Boosting 30,
// Brightness Ratio 20, Antialiasing on, background Picker with 0xFFC0C0C0.
ControlState defaultControls();

// The controls as the dialog holds them after applying a record as its last-used settings:
// pads, G-Shading state, "x2", Antialiasing, background mode and colour.
ControlState controlsFromBlock(const ParamBlock& block);

// True when any control value is given.
bool hasOverrides(const ControlOverrides& overrides);

// Applies every given value to its control.
void applyOverrides(const ControlOverrides& overrides, ControlState& controls);

// Packs the controls into `block` the way the dialog stores them after Apply: flags
// LastUsedRecord, plus BackgroundSaved in Picker mode, and the picker colour. Reserved bytes of
// `block` are kept.
void packAsApplied(ControlState controls, ParamBlock& block);

// The sample's name as the preset list shows it, trailing blanks removed; empty when k is out of
// range.
std::string sampleName(int k);

// The 1-based sample whose name matches `name` without regard to case; 0 when none does.
int findSample(const std::string& name);

// Every sample name in the dialog's order, separated by ", ".
std::string sampleNameList();

// Parses "RRGGBB" (an optional leading '#' is accepted) into a colour word with the opaque
// marker. Returns 0, or 1 when the text is not six hexadecimal digits.
int parseColorWord(const std::string& text, uint32_t& word);

// Parses a whole decimal number in lo..hi (digits only). Returns 0, or 1.
int parseNumberInRange(const std::string& text, int32_t lo, int32_t hi, int32_t& value);

// Parses "X,Y" with both values in lo..hi. Returns 0, or 1 with a one-line reason in `error`.
int parsePadPoint(const std::string& text, int32_t lo, int32_t hi, PadPoint& point,
                  std::string& error);

// Parses foreground|background|transparent (any case) or a picker colour "RRGGBB".
// Returns 0, or 1 with a one-line reason in `error`.
int parseBackground(const std::string& text, BackgroundChoice& choice, std::string& error);

} // namespace oryn
