// Control options: CLI11 definitions, validators that name the accepted range, and their values.
#include "tools/oryn3d/ControlArguments.h"

#include <CLI/CLI.hpp>

#include "tools/oryn3d/UserPresets.h"

namespace oryn {

namespace {

bool given(const CLI::Option* option)
{
    return option != nullptr && option->count() > 0;
}

// A whole number in lo..hi. The description is what --help shows as the value's range.
CLI::Validator inRange(int32_t lo, int32_t hi)
{
    const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    return CLI::Validator(
        [lo, hi, range](std::string& text) -> std::string {
            int32_t value = 0;
            if (parseNumberInRange(text, lo, hi, value) == 0)
                return std::string();
            return "'" + text + "' is not a whole number in " + range;
        },
        range);
}

CLI::Validator padPoint()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            PadPoint point{};
            std::string error;
            return parsePadPoint(text, 0, PadAxisMax, point, error) == 0 ? std::string() : error;
        },
        "X,Y each 0.." + std::to_string(PadAxisMax));
}

CLI::Validator colorWord()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            uint32_t word = 0;
            if (parseColorWord(text, word) == 0)
                return std::string();
            return "'" + text + "' is not a colour RRGGBB (six hexadecimal digits)";
        },
        "RRGGBB");
}

CLI::Validator backgroundChoice()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            BackgroundChoice choice{};
            std::string error;
            return parseBackground(text, choice, error) == 0 ? std::string() : error;
        },
        "foreground|background|transparent|RRGGBB");
}

// Only the form of the name is checked here; whether it names a preset is known once the store
// has been read.
CLI::Validator presetNameForm()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            PresetName name;
            std::string error;
            return presetNameFrom(text, name, error) == 0 ? std::string() : error;
        },
        "NAME");
}

} // namespace

void addControlOptions(CLI::App& command, ControlArguments& q)
{
    const std::string group =
        "Controls (unless given: the dialog's opening state, that is preset Orystone, light "
        "boost 30, brightness ratio 20, antialiasing on, background C0C0C0)";
    q.presetOption =
        command
            .add_option("--preset", q.preset,
                        "Preset to start from, as 'oryn3d presets list' shows it; default "
                        "Orystone. A sample is named as listed; a user preset by its name or as "
                        "'>NAME', which also picks a user preset named like a sample. A user "
                        "preset changes the light correction and the background only if it was "
                        "saved with them. 'Last Used' starts from the settings of the last "
                        "render, exactly as stored (the repeat of a host's filter menu)")
            ->check(presetNameForm())
            ->group(group);
    q.cellWidthOption = command
                            .add_option("--cell-width", q.cellWidth,
                                        "Cell width in preview pixels (scaled to the image)")
                            ->check(inRange(0, CellSizeMax))
                            ->group(group);
    q.cellHeightOption = command
                             .add_option("--cell-height", q.cellHeight,
                                         "Cell height in preview pixels (scaled to the image)")
                             ->check(inRange(0, CellSizeMax))
                             ->group(group);
    q.bevelOption = command.add_option("--bevel", q.bevel, "Bevel width")
                        ->check(inRange(0, BevelMax))
                        ->group(group);
    q.shadingOption = command.add_option("--shading", q.shading, "Shading strength, 50 = none")
                          ->check(inRange(0, ShadingMax))
                          ->group(group);
    q.lightOption = command.add_option("--light", q.light, "Light direction pad, 25,25 = centre")
                        ->check(padPoint())
                        ->group(group);
    q.stretchOption = command.add_option("--stretch", q.stretch, "Stretch pad, 25,25 = centre")
                          ->check(padPoint())
                          ->group(group);
    q.faceOption = command.add_option("--face", q.faceMode, "G-Shading button state")
                       ->check(inRange(0, FaceModeMax))
                       ->group(group);
    q.stretchDoubleOption =
        command.add_flag("--x2", "Double the stretch (the \"x2\" box)")->group(group);
    q.noStretchDoubleOption = command.add_flag("--no-x2", "Single stretch")
                                  ->excludes(q.stretchDoubleOption)
                                  ->group(group);
    q.lightBoostOption = command.add_option("--light-boost", q.lightBoost, "Light Boosting")
                             ->check(inRange(0, LightCorrectionMax))
                             ->group(group);
    q.brightnessRatioOption =
        command.add_option("--brightness-ratio", q.brightnessRatio, "Brightness Ratio")
            ->check(inRange(0, LightCorrectionMax))
            ->group(group);
    q.antialiasOption =
        command.add_flag("--antialias", "Antialias selection and image edges (default)")
            ->group(group);
    q.noAntialiasOption = command.add_flag("--no-antialias", "No antialiasing")
                              ->excludes(q.antialiasOption)
                              ->group(group);
    q.backgroundOption =
        command
            .add_option("--background", q.background,
                        "Background where no cell covers the image: the host's foreground or "
                        "background colour, transparency (RGBA images), or a colour")
            ->check(backgroundChoice())
            ->group(group);
    command.add_option("--foreground-color", q.foregroundColor, "The host's foreground colour")
        ->check(colorWord())
        ->capture_default_str()
        ->group(group);
    command.add_option("--background-color", q.backgroundColor, "The host's background colour")
        ->check(colorWord())
        ->capture_default_str()
        ->group(group);
}

bool presetGiven(const ControlArguments& q)
{
    return given(q.presetOption);
}

ControlOverrides overridesOf(const ControlArguments& q)
{
    ControlOverrides o;
    std::string unused;
    if (given(q.cellWidthOption))
        o.cellWidth = q.cellWidth;
    if (given(q.cellHeightOption))
        o.cellHeight = q.cellHeight;
    if (given(q.bevelOption))
        o.bevel = q.bevel;
    if (given(q.shadingOption))
        o.shading = q.shading;
    PadPoint point{};
    if (given(q.lightOption) && parsePadPoint(q.light, 0, PadAxisMax, point, unused) == 0)
        o.light = point;
    if (given(q.stretchOption) && parsePadPoint(q.stretch, 0, PadAxisMax, point, unused) == 0)
        o.stretch = point;
    if (given(q.faceOption))
        o.faceMode = q.faceMode;
    if (given(q.stretchDoubleOption) || given(q.noStretchDoubleOption))
        o.stretchDouble = given(q.stretchDoubleOption);
    if (given(q.lightBoostOption))
        o.lightBoost = q.lightBoost;
    if (given(q.brightnessRatioOption))
        o.brightnessRatio = q.brightnessRatio;
    if (given(q.antialiasOption) || given(q.noAntialiasOption))
        o.antialias = given(q.antialiasOption);
    BackgroundChoice choice{};
    if (given(q.backgroundOption) && parseBackground(q.background, choice, unused) == 0)
        o.background = choice;
    return o;
}

uint32_t foregroundWord(const ControlArguments& q)
{
    uint32_t word = DefaultForegroundWord;
    parseColorWord(q.foregroundColor, word);
    return word;
}

uint32_t backgroundWord(const ControlArguments& q)
{
    uint32_t word = DefaultBackgroundWord;
    parseColorWord(q.backgroundColor, word);
    return word;
}

} // namespace oryn
