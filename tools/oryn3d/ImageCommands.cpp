// `oryn3d render` and `oryn3d preview`: options, checks, and the run from input file to output
// file through the substitute host.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "params/ParamBlock.h"
#include "plugin/HostApi.h"
#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ControlOptions.h"
#include "tools/oryn3d/ImageIo.h"
#include "tools/oryn3d/OutputFile.h"
#include "tools/oryn3d/ToolHost.h"

namespace oryn {

namespace {

// Everything one render or preview command line says.
struct ImageRequest {
    bool preview = false;
    std::string input;
    std::string output;
    std::string mask;
    std::string blockFile;
    std::string saveBlockFile;
    bool quiet = false;

    std::string preset;
    int32_t cellWidth = 0, cellHeight = 0, bevel = 0, shading = 0, faceMode = 0;
    int32_t lightBoost = 0, brightnessRatio = 0;
    std::string light, stretch, background;
    std::string foregroundColor = "000000";
    std::string backgroundColor = "FFFFFF";

    // The control options, to tell which ones were given.
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

CLI::Validator presetName()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (findSample(text) != 0)
                return std::string();
            return "unknown preset '" + text + "'; the presets are " + sampleNameList();
        },
        "NAME");
}

void addControlOptions(CLI::App& command, ImageRequest& q)
{
    const std::string group =
        "Controls (unless given: the dialog's opening state, that is preset Orystone, light "
        "boost 30, brightness ratio 20, antialiasing on, background C0C0C0)";
    q.presetOption = command
                         .add_option("--preset", q.preset,
                                     "Sample preset to start from (see 'oryn3d presets list'); "
                                     "default Orystone")
                         ->check(presetName())
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

void addCommonOptions(CLI::App& command, ImageRequest& q)
{
    command
        .add_option("INPUT", q.input, "Image to filter: PNG, JPEG, TIFF or WebP; RGB, RGBA or grey")
        ->type_name("FILE")
        ->required();
    command
        .add_option("-o,--output", q.output,
                    "File to write; its extension sets the format (.png, .jpg, .tif, .webp)")
        ->type_name("FILE")
        ->required();
    command.add_option("--mask", q.mask, "Selection: an 8-bit grey image of the same size")
        ->type_name("FILE");
    command
        .add_option("--block", q.blockFile,
                    "64-byte parameter record, rendered as stored; control options given too "
                    "override its fields")
        ->type_name("FILE");
    command.add_option("--save-block", q.saveBlockFile, "Write the 64-byte record that was used")
        ->type_name("FILE");
    command.add_flag("-q,--quiet", q.quiet, "No progress bar");
    addControlOptions(command, q);
}

// The values of the control options that were given.
ControlOverrides overridesOf(const ImageRequest& q)
{
    ControlOverrides o;
    std::string unused;
    if (given(q.presetOption))
        o.sample = findSample(q.preset);
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

// Reads a record file: exactly 64 bytes with a matching checksum. Returns 0, or 1 after
// reporting the problem.
int loadBlock(const std::string& path, ParamBlock& block)
{
    std::string bytes;
    std::string error;
    const std::string subject = "--block " + path + ": ";
    if (readFileBytes(path, ParamBlockSize, bytes, error) != 0) {
        reportError(subject + error);
        return 1;
    }
    if (readParamBlock(bytes.data(), bytes.size(), block) != 0) {
        const std::string size = bytes.size() > ParamBlockSize
                                     ? std::string("is longer")
                                     : "has " + std::to_string(bytes.size()) + " bytes";
        reportError(subject + "a parameter record is " + std::to_string(ParamBlockSize) +
                    " bytes; this file " + size);
        return 1;
    }
    if (!checksumOk(block)) {
        reportError(subject + "the record's checksum does not match its values");
        return 1;
    }
    return 0;
}

void reportWarnings(const std::string& subject, const std::vector<std::string>& warnings)
{
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "oryn3d: warning: %s: %s\n", subject.c_str(), warning.c_str());
}

int reportCancel()
{
    reportError("cancelled; nothing was written");
    return CancelExitStatus;
}

// The run itself, with libvips started. Every check comes before the render, so that a long
// render is not wasted on a mistake found afterwards.
int runImageCommand(const ImageRequest& q)
{
    ImageFormat format{};
    if (formatForPath(q.output, format) != 0) {
        reportError("-o " + q.output + ": unknown image format; use .png, .jpg, .tif or .webp");
        return ExitFailure;
    }

    ParamBlock block = defaultParamBlock();
    const bool haveBlock = !q.blockFile.empty();
    if (haveBlock && loadBlock(q.blockFile, block) != 0)
        return ExitFailure;

    LoadedImage image;
    std::vector<std::string> warnings;
    std::string error;
    if (readColorImage(q.input, image, warnings, error) != 0) {
        reportError(q.input + ": " + error);
        return ExitFailure;
    }
    reportWarnings(q.input, warnings);
    const Raster& raster = image.raster;
    // The preview is always written as RGB.
    if (!q.preview && raster.bands == 4 && !formatKeepsAlpha(format)) {
        reportError("-o " + q.output + ": JPEG has no alpha channel for this RGBA image; use " +
                    ".png, .tif or .webp");
        return ExitFailure;
    }

    Raster mask;
    if (!q.mask.empty()) {
        warnings.clear();
        if (readMaskImage(q.mask, mask, warnings, error) != 0) {
            reportError("--mask " + q.mask + ": " + error);
            return ExitFailure;
        }
        reportWarnings("--mask " + q.mask, warnings);
        if (mask.width != raster.width || mask.height != raster.height) {
            reportError("--mask " + q.mask + ": the mask is " + std::to_string(mask.width) + " x " +
                        std::to_string(mask.height) + " pixels, the image " +
                        std::to_string(raster.width) + " x " + std::to_string(raster.height));
            return ExitFailure;
        }
    }
    if (cancelRequested())
        return reportCancel();

    // Without --block the controls start as the dialog opens; with it, a record given as it is
    // stays byte for byte what is rendered, and one with overrides is packed again.
    const ControlOverrides overrides = overridesOf(q);
    ControlState controls = haveBlock ? controlsFromBlock(block) : defaultControls();
    if (!haveBlock || hasOverrides(overrides)) {
        applyOverrides(overrides, controls);
        packAsApplied(controls, block);
    }

    HostImage host;
    host.image = &raster;
    host.mask = q.mask.empty() ? nullptr : &mask;
    parseColorWord(q.foregroundColor, host.foreColor);
    parseColorWord(q.backgroundColor, host.backColor);
    host.showProgress = !q.quiet && isatty(STDERR_FILENO) != 0;

    OutputFile imageFile;
    OutputFile blockFile;
    if (imageFile.create(q.output, error) != 0) {
        reportError("-o " + q.output + ": " + error);
        return ExitFailure;
    }
    if (!q.saveBlockFile.empty() && blockFile.create(q.saveBlockFile, error) != 0) {
        reportError("--save-block " + q.saveBlockFile + ": " + error);
        return ExitFailure;
    }

    Raster result;
    const int16_t status =
        q.preview ? renderPreview(host, block, controls, result) : renderImage(host, block, result);
    if (status == userCanceledErr || cancelRequested())
        return reportCancel();
    if (status != noErr) {
        reportError(q.input + ": the filter failed with error " + std::to_string(status));
        return ExitFailure;
    }

    if (writeImage(imageFile.temporary(), format, result, image.metadata.get(), error) != 0) {
        reportError("-o " + q.output + ": " + error);
        return ExitFailure;
    }
    if (!q.saveBlockFile.empty() &&
        writeFileBytes(blockFile.temporary(), &block, sizeof block, error) != 0) {
        reportError("--save-block " + q.saveBlockFile + ": " + error);
        return ExitFailure;
    }
    if (cancelRequested())
        return reportCancel();
    if (imageFile.commit(error) != 0) {
        reportError("-o " + q.output + ": " + error);
        return ExitFailure;
    }
    if (!q.saveBlockFile.empty() && blockFile.commit(error) != 0) {
        reportError("--save-block " + q.saveBlockFile + ": " + error);
        return ExitFailure;
    }
    return 0;
}

int runWithImageLibrary(const ImageRequest& q, const char* programName)
{
    if (startImageLibrary(programName) != 0) {
        reportError("cannot start the image library");
        return ExitFailure;
    }
    const int status = runImageCommand(q);
    stopImageLibrary();
    return status;
}

void addImageCommand(CLI::App& app, const std::shared_ptr<ImageRequest>& q,
                     std::function<int()>& run, const char* name, const char* description,
                     const char* example)
{
    CLI::App* command = app.add_subcommand(name, description);
    addCommonOptions(*command, *q);
    command->footer(example);
    command->callback([q, &run, name = app.get_name()] {
        run = [q, name] { return runWithImageLibrary(*q, name.c_str()); };
    });
}

} // namespace

void addImageCommands(CLI::App& app, std::function<int()>& run)
{
    auto render = std::make_shared<ImageRequest>();
    addImageCommand(app, render, run, "render",
                    "Filter the whole image and write the result (RGB stays RGB, RGBA stays RGBA)",
                    "Examples:\n"
                    "  oryn3d render photo.jpg -o relief.jpg --preset Roof\n"
                    "  oryn3d render photo.png -o relief.png --cell-width 20 --cell-height 20 "
                    "--bevel 10 --light 40,10 --background 203040");
    auto preview = std::make_shared<ImageRequest>();
    preview->preview = true;
    addImageCommand(app, preview, run, "preview",
                    "Write the 300 x 300 preview the dialog shows for these settings, as RGB",
                    "Example:\n"
                    "  oryn3d preview photo.jpg -o preview.png --preset Jalousie --x2");
}

} // namespace oryn
