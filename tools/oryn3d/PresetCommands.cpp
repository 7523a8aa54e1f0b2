// `oryn3d presets ...`: the preset list, one preset's values, and saving, deleting, exporting and
// importing user presets in the tool's store.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "params/PresetApply.h"
#include "params/PresetStore.h"
#include "params/SamplePresets.h"
#include "tools/oryn3d/CommandLine.h"
#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ControlOptions.h"
#include "tools/oryn3d/OutputFile.h"
#include "tools/oryn3d/PresetDatabase.h"
#include "tools/oryn3d/RecordReport.h"
#include "tools/oryn3d/UserPresets.h"

namespace oryn {

namespace {

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
        text += " (transparency on images with alpha)";
    return text;
}

int finishOutput()
{
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

// The kind column of the list: wide enough for both words, so that the names line up and a
// script can cut them at a fixed column.
void printListLine(const char* kind, const std::string& name)
{
    std::printf("%-8s%s\n", kind, name.c_str());
}

// User presets in store order, as the dialog's list shows them (at most 20 unless `all`), then
// the samples. A store that cannot be read still leaves the samples to list.
int listPresets(const Invocation& q)
{
    PresetDatabase store;
    std::vector<StoredPreset> presets;
    std::string error;
    if (openPresetStore(store, error) != 0 || store.list(presets, error) != 0) {
        reportWarning(error + "; listing the samples only");
        presets.clear();
    }
    const size_t limit = static_cast<size_t>(PresetListLimit);
    const size_t shown = q.all || presets.size() <= limit ? presets.size() : limit;
    const int count = sampleCount(0);
    if (q.json) {
        // One object a preset: its kind, its name, and what --preset takes to pick it.
        std::string out = "[";
        for (size_t i = 0; i < shown; ++i) {
            const std::string& name = presets[i].name;
            const std::string pick = findSample(name) != 0 ? ">" + name : name;
            out += std::string(i > 0 ? "," : "") + "\n  {\"kind\": \"user\", \"name\": " +
                   jsonString(name) + ", \"preset\": " + jsonString(pick) + "}";
        }
        for (int k = 1; k <= count; ++k)
            out += std::string(shown > 0 || k > 1 ? "," : "") +
                   "\n  {\"kind\": \"sample\", \"name\": " + jsonString(sampleName(k)) +
                   ", \"preset\": " + jsonString(sampleName(k)) + "}";
        out += "\n]\n";
        std::fputs(out.c_str(), stdout);
    }
    for (size_t i = 0; i < shown && !q.json; ++i)
        printListLine("user", presets[i].name);
    // On stderr, so that the list itself stays one preset a line for scripts.
    if (shown < presets.size())
        std::fprintf(stderr,
                     "oryn3d: %zu more user presets are stored but not listed, as the dialog "
                     "lists %zu; 'oryn3d presets list --all' shows them\n",
                     presets.size() - shown, limit);
    for (int k = 1; k <= count && !q.json; ++k)
        printListLine("sample", sampleName(k));
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

// A record file: exactly 64 bytes with a valid checksum. Returns 0, or 1 after reporting.
int readRecordFile(const std::string& file, ParamBlock& block, const char* consequence)
{
    std::string bytes;
    std::string error;
    const std::string shown = file == "-" ? std::string("standard input") : file;
    if (readFileBytes(file, ParamBlockSize, bytes, error) != 0) {
        reportError(shown + ": " + error);
        return 1;
    }
    if (readParamBlock(bytes.data(), bytes.size(), block) != 0) {
        reportError(shown + ": a parameter record is " + std::to_string(ParamBlockSize) +
                    " bytes; this file " +
                    (bytes.size() > ParamBlockSize ? std::string("is longer")
                                                   : "has " + std::to_string(bytes.size())) +
                    consequence);
        return 1;
    }
    return 0;
}

// An argument of `presets show` that names a record file rather than a preset.
bool namesRecordFile(const std::string& text)
{
    if (text.find('/') != std::string::npos)
        return true;
    const std::string suffix = ".oryn";
    if (text.size() <= suffix.size())
        return false;
    std::string end = text.substr(text.size() - suffix.size());
    for (char& c : end)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == suffix;
}

int showPreset(const Invocation& q)
{
    RecordTitle title;
    ParamBlock block{};
    if (namesRecordFile(q.name)) {
        if (readRecordFile(q.name, block, "") != 0)
            return ExitFailure;
        title = RecordTitle{q.name, "file", false,
                            effectOf(StoredPreset{std::filesystem::path(q.name).stem(), block})};
    } else {
        PresetName name;
        if (takePresetName("presets show", q.name, name) != 0)
            return ExitUsage;
        PresetDatabase store;
        PresetChoice choice;
        if (openStoreFor(name, store) != 0)
            return ExitFailure;
        const int found = lookUpPresetName("presets show", name, store, choice);
        if (found != 0)
            return found == 2 ? ExitUsage : ExitFailure;
        if (choice.kind == PresetChoice::Kind::Sample) {
            ControlState controls{};
            applySample(choice.sample, controls);
            block = defaultParamBlock();
            packParams(block, controls, 0);
            title = RecordTitle{sampleName(choice.sample), "sample", true,
                                "sets the cell shape; the light correction, antialiasing and "
                                "the background stay as they are"};
        } else {
            block = choice.stored.block;
            title = RecordTitle{choice.stored.name, "user", false, effectOf(choice.stored)};
        }
    }
    const std::string text = q.json ? recordJson(title, block) : recordText(title, block);
    std::fputs(text.c_str(), stdout);
    return finishOutput();
}

// The checks a name to be stored passes: "Last Used" is the tool's own record unless forced,
// and a name that a sample hides gets a warning that says how to pick it. Returns 0, or 1 after
// reporting.
int checkNewName(const std::string& command, const PresetName& name, bool force)
{
    if (isLastUsedName(name.name) && !force) {
        reportError(command + ": '" + LastUsedName +
                    "' is the record the last render stored; choose another name, or give "
                    "--force to replace it; " +
                    helpHint(command));
        return 1;
    }
    const int sample = findSample(name.name);
    if (sample != 0)
        reportWarning("the sample '" + sampleName(sample) +
                      "' hides this name: pick this preset "
                      "with --preset '>" +
                      name.name + "'");
    return 0;
}

int savePreset(const Invocation& q)
{
    PresetName name;
    if (takePresetName("presets save", q.name, name) != 0)
        return ExitUsage;
    if (checkNewName("presets save", name, q.force) != 0)
        return ExitUsage;
    PresetDatabase store;
    std::string error;
    if (openPresetStore(store, error) != 0) {
        reportError(error);
        return ExitFailure;
    }

    // The controls start as the dialog opens, or from the preset given, as if it had been chosen
    // in the list before saving; the last-used record is the dialog's own starting point.
    const uint32_t fore = q.controls.foreWord;
    const uint32_t back = q.controls.backWord;
    ControlState controls = defaultControls();
    if (q.controls.preset) {
        PresetName presetName;
        PresetChoice choice;
        const std::string subject = "--preset " + *q.controls.preset;
        if (takePresetName(subject, *q.controls.preset, presetName) != 0)
            return ExitUsage;
        const int found = lookUpPresetName(subject, presetName, store, choice);
        if (found != 0)
            return found == 2 ? ExitUsage : ExitFailure;
        if (choice.kind == PresetChoice::Kind::User && isLastUsedName(choice.stored.name) &&
            checksumOk(choice.stored.block)) {
            controls = controlsFromBlock(choice.stored.block);
        } else if (applyPresetChoice(choice, controls, 4, fore, back) != 0) {
            reportWarning("user preset '" + choice.stored.name +
                          "' fails its checksum; starting from Orystone instead");
        }
    }
    applyOverrides(q.controls.overrides, controls);

    const uint8_t flags = static_cast<uint8_t>((q.withLight ? LightSaved : 0) |
                                               (q.withBackground ? BackgroundSaved : 0));
    if (store.write(name.name, userPresetRecord(controls, flags, fore, back), error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    return 0;
}

// The names stored, for suggestions; empty when the store cannot be read.
std::vector<std::string> storedNames(PresetDatabase& store)
{
    std::vector<StoredPreset> presets;
    std::string ignored;
    std::vector<std::string> names;
    if (store.list(presets, ignored) == 0) {
        for (const StoredPreset& preset : presets)
            names.push_back(preset.name);
    }
    return names;
}

std::string suggestion(const std::string& name, const std::vector<std::string>& names)
{
    const std::string near = nearestWord(name, names);
    return near.empty() ? std::string() : " (did you mean '" + near + "'?)";
}

// The usage error of a command naming a user preset the store does not hold, with the nearest
// stored name when one is close.
int noUserPreset(const char* command, const std::string& name, PresetDatabase& store)
{
    reportError(std::string(command) + ": no user preset '" + name + "'" +
                suggestion(name, storedNames(store)) + "; 'oryn3d presets list' shows them");
    return ExitUsage;
}

int deletePreset(const Invocation& q)
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
    // A bare sample name means the sample here too, as for show and --preset.
    if (!name.userMarked && findSample(name.name) != 0) {
        StoredPreset hidden;
        const bool userToo = store.read(name.name, hidden, error) == StoreResult::Ok;
        reportError("presets delete: '" + name.name + "' is a sample, and samples cannot be " +
                    "deleted" +
                    (userToo ? "; '>" + hidden.name + "' names your user preset of that name"
                             : std::string()));
        return ExitUsage;
    }
    switch (store.remove(name.name, error)) {
    case StoreResult::Ok:
        return 0;
    case StoreResult::NotFound:
        return noUserPreset("presets delete", name.name, store);
    case StoreResult::Failed:
        break;
    }
    reportError(error);
    return ExitFailure;
}

int renamePreset(const Invocation& q)
{
    PresetName from;
    PresetName to;
    if (takePresetName("presets rename", q.name, from) != 0 ||
        takePresetName("presets rename", q.newName, to) != 0)
        return ExitUsage;
    if (!from.userMarked && findSample(from.name) != 0) {
        reportError("presets rename: '" + from.name + "' is a sample, and samples cannot be " +
                    "renamed; '>" + from.name + "' names a user preset of that name");
        return ExitUsage;
    }
    if (isLastUsedName(to.name)) {
        reportError("presets rename: '" + std::string(LastUsedName) +
                    "' is the record the last render stores; choose another name");
        return ExitUsage;
    }
    if (checkNewName("presets rename", to, false) != 0)
        return ExitUsage;
    PresetDatabase store;
    std::string error;
    if (openPresetStore(store, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    switch (store.rename(from.name, to.name, error)) {
    case StoreResult::Ok:
        return 0;
    case StoreResult::NotFound:
        return noUserPreset("presets rename", from.name, store);
    case StoreResult::Failed:
        break;
    }
    reportError("presets rename: " + error);
    return error.find("exists already") != std::string::npos ? ExitUsage : ExitFailure;
}

int exportPreset(const Invocation& q)
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
        return noUserPreset("presets export", name.name, store);
    case StoreResult::Failed:
        reportError(error);
        return ExitFailure;
    }
    if (!checksumOk(preset.block))
        reportWarning("user preset '" + preset.name +
                      "' fails its checksum; it is exported as stored, but import refuses it");

    if (q.file == "-") {
        if (writeFileBytes("-", &preset.block, sizeof preset.block, error) != 0) {
            reportError(error);
            return ExitFailure;
        }
        return 0;
    }
    OutputFile file;
    if (file.create(q.file, error) != 0 ||
        writeFileBytes(file.temporary(), &preset.block, sizeof preset.block, error) != 0 ||
        file.commit(error) != 0) {
        reportError(q.file + ": " + error);
        return ExitFailure;
    }
    return 0;
}

int importPreset(const Invocation& q)
{
    // A name given is checked before the file is read: an empty one is refused as save does.
    PresetName given;
    if (q.nameGiven && takePresetName("presets import", q.name, given) != 0)
        return ExitUsage;
    ParamBlock block{};
    if (readRecordFile(q.file, block, "; nothing was imported") != 0)
        return ExitFailure;
    const std::string shown = q.file == "-" ? std::string("standard input") : q.file;
    if (!checksumOk(block)) {
        reportError(shown + ": the record's checksum does not match its values; nothing was "
                            "imported");
        return ExitFailure;
    }
    if (!q.nameGiven && q.file == "-") {
        reportError("presets import: a record from standard input needs a NAME; " +
                    helpHint("presets import"));
        return ExitUsage;
    }
    const std::string text = q.nameGiven ? q.name : std::filesystem::path(q.file).stem().string();
    PresetName name;
    if (takePresetName("presets import " + q.file, text, name) != 0)
        return ExitUsage;
    if (checkNewName("presets import", name, q.force) != 0)
        return ExitUsage;
    PresetDatabase store;
    std::string error;
    if (openPresetStore(store, error) != 0 || store.write(name.name, block, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    return 0;
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

int lookUpPresetName(const std::string& subject, const PresetName& name, PresetDatabase& store,
                     PresetChoice& choice)
{
    std::string error;
    switch (findPreset(name, store, choice, error)) {
    case StoreResult::Ok:
        return 0;
    case StoreResult::Failed:
        reportError(subject + ": " + error);
        return 1;
    case StoreResult::NotFound:
        break;
    }
    std::vector<std::string> names = storedNames(store);
    if (!name.userMarked) {
        const int count = sampleCount(0);
        for (int k = 1; k <= count; ++k)
            names.push_back(sampleName(k));
    }
    reportError(subject + ": " + (name.userMarked ? "no user preset '" : "no preset '") +
                name.name + "'" + suggestion(name.name, names) +
                "; 'oryn3d presets list' shows them");
    return 2;
}

int runPresetCommand(const Invocation& q)
{
    switch (q.command) {
    case Command::PresetsList:
        return listPresets(q);
    case Command::PresetsShow:
        return showPreset(q);
    case Command::PresetsSave:
        return savePreset(q);
    case Command::PresetsDelete:
        return deletePreset(q);
    case Command::PresetsRename:
        return renamePreset(q);
    case Command::PresetsExport:
        return exportPreset(q);
    case Command::PresetsImport:
        return importPreset(q);
    default:
        return ExitUsage;
    }
}

} // namespace oryn
