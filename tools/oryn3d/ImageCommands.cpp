// `oryn3d render` and `oryn3d preview`: options, checks, and the run from input file to output
// file through the substitute host; a render is remembered as the user preset "Last Used".
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "params/ParamBlock.h"
#include "params/PresetApply.h"
#include "params/PresetStore.h"
#include "host/HostApi.h"
#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ControlArguments.h"
#include "tools/oryn3d/ControlOptions.h"
#include "tools/oryn3d/ImageIo.h"
#include "tools/oryn3d/OutputFile.h"
#include "tools/oryn3d/PresetDatabase.h"
#include "tools/oryn3d/ToolHost.h"
#include "tools/oryn3d/UserPresets.h"

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
    bool noRemember = false;
    ControlArguments controls;
};

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
    if (!q.preview)
        command.add_flag("--no-remember", q.noRemember,
                         "Do not store these settings as the user preset 'Last Used' (a "
                         "successful render stores them, so that --preset 'Last Used' repeats it)");
    command.add_flag("-q,--quiet", q.quiet, "No progress bar");
    addControlOptions(command, q.controls);
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

// What --preset names.
struct PresetStart {
    bool given = false;
    PresetChoice choice;
};

// Looks --preset up before the image is read, opening `store` when the command needs it: for a
// name that is not a sample, and for a render that is remembered as "Last Used". Returns 0, or 1
// after reporting the problem.
int lookUpPreset(const ImageRequest& q, PresetDatabase& store, PresetStart& start)
{
    const bool remember = !q.preview && !q.noRemember;
    PresetName name;
    start.given = presetGiven(q.controls);
    if (start.given &&
        takePresetName("--preset " + q.controls.preset, q.controls.preset, name) != 0)
        return 1;
    const bool userPreset = start.given && (name.userMarked || findSample(name.name) == 0);
    if (remember || userPreset) {
        std::string error;
        if (openPresetStore(store, error) != 0) {
            const bool withoutStore = remember && !userPreset;
            reportError(error + (withoutStore ? "; --no-remember renders without the store" : ""));
            return 1;
        }
    }
    std::string error;
    if (start.given && findPreset(name, store, start.choice, error) != 0) {
        reportError("--preset " + q.controls.preset + ": " + error);
        return 1;
    }
    return 0;
}

void warnDamagedPreset(const PresetChoice& choice)
{
    reportWarning("user preset '" + choice.stored.name +
                  "' fails its checksum; applying Orystone with light boost " +
                  std::to_string(DefaultLightBoost) + " and brightness ratio " +
                  std::to_string(DefaultBrightnessRatio) + " instead");
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

    PresetDatabase store;
    PresetStart preset;
    if (lookUpPreset(q, store, preset) != 0)
        return ExitFailure;
    // The last-used record is where the plug-in starts from, background and Antialiasing
    // included, and a repeat renders it as stored. Given together with --block, or when it is
    // damaged, it is applied like any other user preset.
    bool haveRecord = haveBlock;
    if (preset.given && !haveBlock && preset.choice.kind == PresetChoice::Kind::User &&
        isLastUsedName(preset.choice.stored.name) && checksumOk(preset.choice.stored.block)) {
        block = preset.choice.stored.block;
        haveRecord = true;
        preset.given = false;
    }

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

    // Without a record the controls start as the dialog opens; a record given as it is stays
    // byte for byte what is rendered, and one with a preset or options is packed again.
    HostImage host;
    host.image = &raster;
    host.mask = q.mask.empty() ? nullptr : &mask;
    host.foreColor = foregroundWord(q.controls);
    host.backColor = backgroundWord(q.controls);
    host.showProgress = !q.quiet && isatty(STDERR_FILENO) != 0;
    const int32_t planesUsed = raster.bands > 4 ? 4 : raster.bands;

    const ControlOverrides overrides = overridesOf(q.controls);
    ControlState controls = haveRecord ? controlsFromBlock(block) : defaultControls();
    if (preset.given &&
        applyPresetChoice(preset.choice, controls, planesUsed, host.foreColor, host.backColor) != 0)
        warnDamagedPreset(preset.choice);
    if (!haveRecord || preset.given || hasOverrides(overrides)) {
        applyOverrides(overrides, controls);
        packAsApplied(controls, block);
    }

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

    // Only a render that reached its output is remembered, as the plug-in stores the record
    // only when the user confirmed it.
    if (!q.preview && !q.noRemember &&
        store.write(LastUsedName, lastUsedRecord(block, planesUsed), error) != 0) {
        reportError(error + "; the image was written but not stored as 'Last Used'");
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
