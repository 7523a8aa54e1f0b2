// `oryn3d presets ...`: the preset list, one preset's values, and saving, deleting, exporting and
// importing user presets in the tool's store.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "params/PresetApply.h"
#include "params/PresetStore.h"
#include "params/SamplePresets.h"
#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ControlArguments.h"
#include "tools/oryn3d/ControlOptions.h"
#include "tools/oryn3d/OutputFile.h"
#include "tools/oryn3d/PresetDatabase.h"
#include "tools/oryn3d/UserPresets.h"

namespace oryn {

namespace {

// String table entry of the message shown when a user preset to delete is not in the store.
constexpr int MissingPresetString = 40;

// Everything one `presets` command line says; only the chosen subcommand's fields are used.
struct PresetRequest {
    bool all = false;
    std::string name;
    std::string file;
    bool withBackground = false;
    bool withLight = false;
    ControlArguments controls;
};

std::string hexColour(uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X", word & 0xFF, (word >> 8) & 0xFF,
                  (word >> 16) & 0xFF);
    return text;
}

std::string colourWordText(uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

const char* modeName(int mode)
{
    switch (mode) {
    case Foreground:
        return "Foreground";
    case Background:
        return "Background";
    case Picker:
        return "Picker";
    case Transparent:
        return "Transparent";
    default:
        return nullptr;
    }
}

std::string flagsText(uint8_t flags)
{
    if (flags == 0)
        return "0 (none)";
    std::string names;
    auto add = [&](uint8_t bit, const char* name) {
        if ((flags & bit) != 0)
            names += (names.empty() ? "" : ", ") + std::string(name);
    };
    add(BackgroundSaved, "BackgroundSaved");
    add(LightSaved, "LightSaved");
    add(LastUsedRecord, "LastUsedRecord");
    const uint8_t others = flags & ~(BackgroundSaved | LightSaved | LastUsedRecord);
    if (others != 0)
        names += (names.empty() ? "" : ", ") + std::string("other bits ") +
                 std::to_string(static_cast<int>(others));
    return std::to_string(static_cast<int>(flags)) + ": " + names;
}

void printLine(const char* label, const std::string& value)
{
    std::printf("%-20s %s\n", (std::string(label) + ":").c_str(), value.c_str());
}

std::string pair(int32_t x, int32_t y)
{
    return std::to_string(x) + "," + std::to_string(y);
}

// What applying the record with --preset changes besides the cell shape.
std::string effectOf(const StoredPreset& preset)
{
    if (!checksumOk(preset.block))
        return "applies Orystone with light boost " + std::to_string(DefaultLightBoost) +
               " and brightness ratio " + std::to_string(DefaultBrightnessRatio) +
               ", as the record is damaged";
    if (isLastUsedName(preset.name))
        return "renders this record as stored";
    const uint8_t flags = preset.block.presetFlags;
    if ((flags & LastUsedRecord) != 0)
        return "sets the cell shape and the light correction, not the background";
    const bool light = (flags & LightSaved) != 0;
    const bool background = (flags & BackgroundSaved) != 0;
    std::string text = "sets the cell shape";
    if (light && background)
        text += ", the light correction and the background";
    else if (light)
        text += " and the light correction";
    else if (background)
        text += " and the background";
    if (background && preset.block.backgroundMode == Transparent)
        text += " (transparency on RGBA images only)";
    return text;
}

// The values of a record, labelled as the dialog labels its controls. A sample sets only the cell
// shape, so the other controls are shown as not set.
void printPreset(const std::string& title, const ParamBlock& b, bool sample,
                 const std::string& effect)
{
    const std::string notSet = "not set by a sample";
    printLine("Preset", title);
    printLine("Cell width", std::to_string(b.padX[1]));
    printLine("Cell height", std::to_string(b.padY[0]));
    printLine("S-Bevel width", std::to_string(b.padX[2]));
    printLine("S-Shading", std::to_string(b.padX[3]) + " (50 = none)");
    printLine("G-Shading pad", pair(b.padX[5], b.padY[5]));
    printLine("Stretch pad", pair(b.padX[4], b.padY[4]));
    printLine("G-Shading button", std::to_string(faceModeOf(b)));
    printLine("x2", stretchDoubleOf(b) != 0 ? "on" : "off");
    printLine("Light Boosting", sample ? notSet : std::to_string(b.padX[6]));
    printLine("Brightness Ratio", sample ? notSet : std::to_string(b.padX[7]));
    if (sample) {
        printLine("Antialiasing", notSet);
        printLine("Background", notSet);
        printLine("Flags", flagsText(0));
        printLine("Checksum", "none (a sample is text)");
    } else {
        printLine("Antialiasing", b.antialias == 0 ? "off"
                                  : b.antialias == 1
                                      ? "on"
                                      : "on (stored as " + std::to_string(b.antialias) + ")");
        const char* mode = modeName(b.backgroundMode);
        printLine("Background",
                  (mode != nullptr ? std::string(mode)
                                   : "unknown mode " + std::to_string(b.backgroundMode)) +
                      ", colour " + hexColour(b.backgroundColor) + " (word " +
                      colourWordText(b.backgroundColor) + ")");
        printLine("Other pad values",
                  "padX[0] " + std::to_string(b.padX[0]) + ", padY[1] " +
                      std::to_string(b.padY[1]) + ", padY[2] " + std::to_string(b.padY[2]) +
                      ", padY[3] " + std::to_string(b.padY[3]) + ", padY[6] " +
                      std::to_string(b.padY[6]) + ", padY[7] " + std::to_string(b.padY[7]));
        printLine("Flags", flagsText(b.presetFlags));
        printLine("Checksum", std::to_string(b.checksum) +
                                  (checksumOk(b) ? ", valid"
                                                 : ", INVALID: the pads sum to " +
                                                       std::to_string(padChecksum(b))));
    }
    printLine("With --preset", effect);
}

int finishOutput()
{
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

// User presets in store order, as the dialog's list shows them (at most 20 unless `all`), then
// the samples.
int listPresets(const PresetRequest& q)
{
    PresetDatabase store;
    std::vector<StoredPreset> presets;
    std::string error;
    if (openPresetStore(store, error) != 0 || store.list(presets, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    const size_t limit = static_cast<size_t>(PresetListLimit);
    const size_t shown = q.all || presets.size() <= limit ? presets.size() : limit;
    for (size_t i = 0; i < shown; ++i)
        std::printf(">%s\n", presets[i].name.c_str());
    // On stderr, so that the list itself stays one preset name a line for scripts.
    if (shown < presets.size())
        std::fprintf(stderr,
                     "oryn3d: %zu more user presets are stored but not listed, as the dialog "
                     "lists %zu; 'oryn3d presets list --all' shows them\n",
                     presets.size() - shown, limit);
    const int count = sampleCount(0);
    for (int k = 1; k <= count; ++k)
        std::printf("%s\n", sampleName(k).c_str());
    return finishOutput();
}

// Opens the store only when `name` needs it: a sample shown or applied needs no store.
int openStoreFor(const PresetName& name, PresetDatabase& store)
{
    if (!name.userMarked && findSample(name.name) != 0)
        return 0;
    std::string error;
    if (openPresetStore(store, error) != 0) {
        reportError(error);
        return 1;
    }
    return 0;
}

int showPreset(const PresetRequest& q)
{
    PresetName name;
    if (takePresetName("presets show", q.name, name) != 0)
        return ExitUsage;
    PresetDatabase store;
    PresetChoice choice;
    std::string error;
    if (openStoreFor(name, store) != 0)
        return ExitFailure;
    if (findPreset(name, store, choice, error) != 0) {
        reportError("presets show " + q.name + ": " + error);
        return ExitFailure;
    }
    if (choice.kind == PresetChoice::Kind::Sample) {
        ControlState controls{};
        applySample(choice.sample, controls);
        ParamBlock block = defaultParamBlock();
        packParams(block, controls, 0);
        printPreset(sampleName(choice.sample) + " (sample " + std::to_string(choice.sample) + ")",
                    block, true,
                    "sets the cell shape; the light correction, Antialiasing and the background "
                    "stay as they are");
    } else {
        printPreset(">" + choice.stored.name + " (user preset)", choice.stored.block, false,
                    effectOf(choice.stored));
    }
    return finishOutput();
}

int savePreset(const PresetRequest& q)
{
    PresetName name;
    if (takePresetName("presets save", q.name, name) != 0)
        return ExitUsage;
    PresetDatabase store;
    std::string error;
    if (openPresetStore(store, error) != 0) {
        reportError(error);
        return ExitFailure;
    }

    // The controls start as the dialog opens, or from the preset given, as if it had been chosen
    // in the list before saving; the last-used record is the dialog's own starting point.
    const uint32_t fore = foregroundWord(q.controls);
    const uint32_t back = backgroundWord(q.controls);
    ControlState controls = defaultControls();
    if (presetGiven(q.controls)) {
        PresetName presetName;
        PresetChoice choice;
        if (takePresetName("--preset " + q.controls.preset, q.controls.preset, presetName) != 0)
            return ExitUsage;
        if (findPreset(presetName, store, choice, error) != 0) {
            reportError("--preset " + q.controls.preset + ": " + error);
            return ExitFailure;
        }
        if (choice.kind == PresetChoice::Kind::User && isLastUsedName(choice.stored.name) &&
            checksumOk(choice.stored.block)) {
            controls = controlsFromBlock(choice.stored.block);
        } else if (applyPresetChoice(choice, controls, 4, fore, back) != 0) {
            reportWarning("user preset '" + choice.stored.name +
                          "' fails its checksum; starting from Orystone instead");
        }
    }
    applyOverrides(overridesOf(q.controls), controls);

    const uint8_t flags = static_cast<uint8_t>((q.withLight ? LightSaved : 0) |
                                               (q.withBackground ? BackgroundSaved : 0));
    if (store.write(name.name, userPresetRecord(controls, flags, fore, back), error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    return 0;
}

int deletePreset(const PresetRequest& q)
{
    PresetName name;
    if (takePresetName("presets delete", q.name, name) != 0)
        return ExitUsage;
    PresetDatabase store;
    std::string error;
    if (openPresetStore(store, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    switch (store.remove(name.name, error)) {
    case StoreResult::Ok:
        return 0;
    case StoreResult::NotFound: {
        // The dialog's own message, without the blanks that pad it in its message box.
        std::string message = presetString(MissingPresetString);
        while (!message.empty() && message.back() == ' ')
            message.pop_back();
        reportError(message + ": " + name.name);
        return ExitFailure;
    }
    case StoreResult::Failed:
        break;
    }
    reportError(error);
    return ExitFailure;
}

int exportPreset(const PresetRequest& q)
{
    PresetName name;
    if (takePresetName("presets export", q.name, name) != 0)
        return ExitUsage;
    PresetDatabase store;
    StoredPreset preset;
    std::string error;
    if (openPresetStore(store, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    switch (store.read(name.name, preset, error)) {
    case StoreResult::Ok:
        break;
    case StoreResult::NotFound:
        reportError("presets export: no user preset '" + name.name + "'");
        return ExitFailure;
    case StoreResult::Failed:
        reportError(error);
        return ExitFailure;
    }
    if (!checksumOk(preset.block))
        reportWarning("user preset '" + preset.name +
                      "' fails its checksum; it is exported as stored, but import refuses it");

    OutputFile file;
    if (file.create(q.file, error) != 0 ||
        writeFileBytes(file.temporary(), &preset.block, sizeof preset.block, error) != 0 ||
        file.commit(error) != 0) {
        reportError(q.file + ": " + error);
        return ExitFailure;
    }
    return 0;
}

int importPreset(const PresetRequest& q)
{
    std::string bytes;
    std::string error;
    if (readFileBytes(q.file, ParamBlockSize, bytes, error) != 0) {
        reportError(q.file + ": " + error);
        return ExitFailure;
    }
    ParamBlock block{};
    if (readParamBlock(bytes.data(), bytes.size(), block) != 0) {
        reportError(q.file + ": a parameter record is " + std::to_string(ParamBlockSize) +
                    " bytes; this file " +
                    (bytes.size() > ParamBlockSize ? std::string("is longer")
                                                   : "has " + std::to_string(bytes.size())) +
                    "; nothing was imported");
        return ExitFailure;
    }
    if (!checksumOk(block)) {
        reportError(q.file + ": the record's checksum does not match its values; nothing was "
                             "imported");
        return ExitFailure;
    }

    const std::string text =
        q.name.empty() ? std::filesystem::path(q.file).stem().string() : q.name;
    PresetName name;
    if (takePresetName("presets import " + q.file, text, name) != 0)
        return ExitUsage;
    PresetDatabase store;
    if (openPresetStore(store, error) != 0 || store.write(name.name, block, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    return 0;
}

CLI::Option* addNameArgument(CLI::App& command, std::string& name, const char* help)
{
    return command.add_option("NAME", name, help)->type_name("NAME");
}

} // namespace

int openPresetStore(PresetDatabase& store, std::string& error)
{
    std::string path;
    if (presetDatabasePath(path, error) != 0)
        return 1;
    return store.open(path, error);
}

int takePresetName(const std::string& subject, const std::string& text, PresetName& name)
{
    std::string error;
    if (presetNameFrom(text, name, error) != 0) {
        reportError(subject + ": " + error);
        return 1;
    }
    if (name.cut)
        reportWarning("preset names have at most " + std::to_string(PresetNameMax) +
                      " characters; using '" + name.name + "'");
    return 0;
}

void addPresetCommands(CLI::App& app, std::function<int()>& run)
{
    auto q = std::make_shared<PresetRequest>();
    const char* nameHelp = "User preset name: 1 to 19 characters; a leading '>' (as the list "
                           "shows user presets) and trailing blanks are dropped, a longer name "
                           "is cut to 19 characters. Names compare without regard to case";

    CLI::App* presets = app.add_subcommand(
        "presets", "Sample and user presets for --preset; user presets are kept in "
                   "$XDG_CONFIG_HOME/oryn3d/presets.sqlite3 (default ~/.config/oryn3d)");
    presets->require_subcommand(1);
    presets->footer("Examples:\n"
                    "  oryn3d presets list\n"
                    "  oryn3d presets save Mine --preset Roof --light-boost 60 --with-light\n"
                    "  oryn3d presets show \">Last Used\"");

    CLI::App* list = presets->add_subcommand(
        "list", "List the user presets (marked '>', in the order they were first saved, at most "
                "20 as the dialog lists them), then the sample presets");
    list->add_flag("--all", q->all, "List every stored user preset, beyond the first 20");
    list->footer("Example:\n  oryn3d presets list");
    list->callback([q, &run] { run = [q] { return listPresets(*q); }; });

    CLI::App* show = presets->add_subcommand(
        "show", "Show every control value of a preset, with its flags, background and checksum");
    addNameArgument(*show, q->name,
                    "Preset as the list shows it: a sample, or a user preset (with '>' when it "
                    "is named like a sample)")
        ->required();
    show->footer("Examples:\n  oryn3d presets show Roof\n  oryn3d presets show \">Last Used\"");
    show->callback([q, &run] { run = [q] { return showPreset(*q); }; });

    CLI::App* save = presets->add_subcommand(
        "save", "Save the controls as a user preset, replacing one of the same name in its place");
    addNameArgument(*save, q->name, nameHelp)->required();
    save->add_flag("--with-background", q->withBackground,
                   "Save the background colour (\"Save Background Color\"): applying the preset "
                   "then sets the background to the colour the mode gives now");
    save->add_flag("--with-light", q->withLight,
                   "Save the light correction (\"Save Light Correction\"): applying the preset "
                   "then sets light boost and brightness ratio");
    addControlOptions(*save, q->controls);
    save->footer("Example:\n"
                 "  oryn3d presets save \"Warm Bricks\" --preset \"Front Bricks\" --background "
                 "foreground --foreground-color 804020 --with-background");
    save->callback([q, &run] { run = [q] { return savePreset(*q); }; });

    CLI::App* remove = presets->add_subcommand("delete", "Delete a user preset");
    addNameArgument(*remove, q->name, nameHelp)->required();
    remove->footer("Example:\n  oryn3d presets delete Mine");
    remove->callback([q, &run] { run = [q] { return deletePreset(*q); }; });

    CLI::App* exportCommand =
        presets->add_subcommand("export", "Write a user preset's 64-byte record to a file");
    addNameArgument(*exportCommand, q->name, nameHelp)->required();
    exportCommand->add_option("FILE", q->file, "File to write")->type_name("FILE")->required();
    exportCommand->footer("Example:\n  oryn3d presets export Mine mine.oryn");
    exportCommand->callback([q, &run] { run = [q] { return exportPreset(*q); }; });

    CLI::App* importCommand = presets->add_subcommand(
        "import", "Store a 64-byte record from a file (for example from --save-block or export) "
                  "as a user preset");
    importCommand->add_option("FILE", q->file, "Record file: exactly 64 bytes, valid checksum")
        ->type_name("FILE")
        ->required();
    addNameArgument(*importCommand, q->name,
                    "User preset name; default: the file's name without its extension");
    importCommand->footer("Example:\n  oryn3d presets import mine.oryn \"Mine Again\"");
    importCommand->callback([q, &run] { run = [q] { return importPreset(*q); }; });
}

} // namespace oryn
