// The control options on oryn3d's command line, shared by render, preview and presets save:
// their definitions with ranges and help, and their values as control overrides.
#pragma once

#include <cstdint>
#include <string>

#include "tools/oryn3d/ControlOptions.h"

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace oryn {

// What the control options of one command line say.
struct ControlArguments {
    std::string preset;
    int32_t cellWidth = 0, cellHeight = 0, bevel = 0, shading = 0, faceMode = 0;
    int32_t lightBoost = 0, brightnessRatio = 0;
    std::string light, stretch, background;
    std::string foregroundColor = "000000";
    std::string backgroundColor = "FFFFFF";

    // The options, to tell which ones were given.
    CLI::Option* presetOption = nullptr;
    CLI::Option* cellWidthOption = nullptr;
    CLI::Option* cellHeightOption = nullptr;
    CLI::Option* bevelOption = nullptr;
    CLI::Option* shadingOption = nullptr;
    CLI::Option* lightOption = nullptr;
    CLI::Option* stretchOption = nullptr;
    CLI::Option* faceOption = nullptr;
    CLI::Option* stretchDoubleOption = nullptr;
    CLI::Option* noStretchDoubleOption = nullptr;
    CLI::Option* lightBoostOption = nullptr;
    CLI::Option* brightnessRatioOption = nullptr;
    CLI::Option* antialiasOption = nullptr;
    CLI::Option* noAntialiasOption = nullptr;
    CLI::Option* backgroundOption = nullptr;
};

// Adds the control options to `command`, under a group heading that states the starting state.
void addControlOptions(CLI::App& command, ControlArguments& arguments);

// True when --preset was given.
bool presetGiven(const ControlArguments& arguments);

// The values of the control options that were given, --preset aside.
ControlOverrides overridesOf(const ControlArguments& arguments);

// The host's two colours as colour words.
uint32_t foregroundWord(const ControlArguments& arguments);
uint32_t backgroundWord(const ControlArguments& arguments);

} // namespace oryn
