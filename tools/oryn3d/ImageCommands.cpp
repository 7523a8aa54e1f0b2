// `oryn3d render` and `oryn3d preview`: the plan of which file goes where, the settings shared by
// every input, and the run of one input from file to file through the substitute host. A batch
// runs the same plan and settings for each input, goes on past a bad file, and ends with a
// summary; a render is remembered as the user preset "Last Used".
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <vips/vips.h>

#include "host/HostApi.h"
#include "params/ParamBlock.h"
#include "params/PresetApply.h"
#include "params/PresetStore.h"
#include "params/SamplePresets.h"
#include "plugin/FinalRender.h"
#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ControlOptions.h"
#include "tools/oryn3d/ImageIo.h"
#include "tools/oryn3d/OutputFile.h"
#include "tools/oryn3d/PresetDatabase.h"
#include "tools/oryn3d/RecordReport.h"
#include "tools/oryn3d/StreamRender.h"
#include "tools/oryn3d/ToolHost.h"
#include "tools/oryn3d/UserPresets.h"

namespace oryn {

namespace {

namespace fs = std::filesystem;

// One input and where its result goes.
struct Job {
    std::string input;
    std::string output;
    ImageFormat format = ImageFormat::Png;
};

// What every input of the run shares: the record to start from, the preset, the store, the mask.
struct RunShared {
    ParamBlock block = defaultParamBlock();
    bool haveRecord = false; // `block` is a record to render as stored (--block, "Last Used")
    bool presetGiven = false;
    PresetChoice preset;
    PresetDatabase store;
    bool remember = false; // store "Last Used" after each success
    bool maskRead = false;
    Raster mask;
};

bool isFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool transparentRequested(const Invocation& q)
{
    return q.controls.overrides.background && q.controls.overrides.background->mode == Transparent;
}

// The collisions a run of several outputs must not have: an input given twice, two inputs
// written to one file, an input or the mask replaced by a result. Compared as files. Returns 0,
// or 1 after reporting the first.
int checkJobs(const Invocation& q, const std::vector<Job>& jobs, const std::string& hint)
{
    for (size_t i = 0; i < jobs.size(); ++i) {
        const Job& job = jobs[i];
        const std::string& input = job.input;
        for (size_t k = 0; k < i; ++k) {
            const Job& earlier = jobs[k];
            if (sameFile(earlier.input, input)) {
                reportError(shownName(input) + " is given twice" +
                            (earlier.input == input ? std::string()
                                                    : " (also as " + shownName(earlier.input) + ")") +
                            "; give each input once" + hint);
                return 1;
            }
            if (sameFile(earlier.output, job.output)) {
                reportError(shownName(earlier.input) + " and " + shownName(input) +
                            " would both be written to " + shownName(job.output) + hint);
                return 1;
            }
        }
        for (const Job& other : jobs) {
            if (sameFile(other.input, job.output)) {
                reportError(&other == &job ? shownName(input) +
                                                 " would be replaced by its own result; write "
                                                 "into another folder or name" + hint
                                           : shownName(other.input) +
                                                 " would be replaced by the result of " +
                                                 shownName(input) + "; write elsewhere" + hint);
                return 1;
            }
        }
        if (!q.mask.empty() && sameFile(q.mask, job.output)) {
            reportError("the mask " + shownName(q.mask) + " would be replaced by the result of " +
                        shownName(input) + "; write elsewhere" + hint);
            return 1;
        }
    }
    return 0;
}

// -o with %s (the input's name without its extension) and %e (its extension), %% for a
// percent sign: one output for each input, in the input's folder unless the pattern has a folder
// of its own. Returns 0, or 1 after reporting a usage error.
int planPatternJobs(const Invocation& q, const std::string& hint, std::vector<Job>& jobs)
{
    for (const std::string& input : q.inputs) {
        if (input == "-") {
            reportError("standard input has no name for -o " + shownName(q.output) +
                        " to make one from; give -o a file name or -" + hint);
            return 1;
        }
        const std::string name = baseName(input);
        const size_t dot = name.find_last_of('.');
        const bool hasExtension = dot != std::string::npos && dot > 0;
        const std::string stem = hasExtension ? name.substr(0, dot) : name;
        const std::string extension = hasExtension ? name.substr(dot + 1) : std::string();
        std::string output;
        for (size_t i = 0; i < q.output.size(); ++i) {
            const char c = q.output[i];
            const char next = i + 1 < q.output.size() ? q.output[i + 1] : '\0';
            if (c == '%' && (next == 's' || next == 'e' || next == '%')) {
                output += next == 's' ? stem : next == 'e' ? extension : std::string("%");
                ++i;
            } else {
                output += c;
            }
        }
        if (q.output.find('/') == std::string::npos && input.find('/') != std::string::npos)
            output = input.substr(0, input.find_last_of('/') + 1) + output;
        Job job{input, output, ImageFormat::Png};
        ImageFormat named = ImageFormat::Png;
        const bool known = formatForPath(output, named) == 0;
        if (q.format) {
            job.format = *q.format;
        } else if (known) {
            job.format = named;
        } else {
            reportError("-o " + shownName(q.output) + " gives " + shownName(output) + " for " +
                        shownName(input) +
                        ", which names no format the tool writes; use .png, .jpg, .tif or "
                        ".webp, or give --format" +
                        hint);
            return 1;
        }
        jobs.push_back(job);
    }
    return checkJobs(q, jobs, hint);
}

// Decides every output name and format before anything is read. Returns 0, or 1 after
// reporting a usage error.
int planJobs(const Invocation& q, const char* command, std::vector<Job>& jobs)
{
    const std::string hint = "; see 'oryn3d " + std::string(command) + " --help'";
    if (q.output.find("%s") != std::string::npos || q.output.find("%e") != std::string::npos)
        return planPatternJobs(q, hint, jobs);
    const bool toFolder = q.inputs.size() > 1 ||
                          (!q.output.empty() && (q.output.back() == '/' || isFolder(q.output)));
    if (!toFolder) {
        Job job{q.inputs[0], q.output, ImageFormat::Png};
        const std::string outputName = baseName(q.output);
        ImageFormat named = ImageFormat::Png;
        if (outputName.size() > 1 && outputName[0] == '.' &&
            formatForPath(outputName, named) == 0 && outputName.find('.', 1) == std::string::npos) {
            reportError("-o " + shownName(q.output) + " would be a hidden file with no name; for " +
                        "standard output give -o - --format " + formatName(named) + hint);
            return 1;
        }
        if (q.format) {
            job.format = *q.format;
            if (q.output != "-" && formatForPath(q.output, named) == 0 && named != job.format)
                reportWarning("-o " + shownName(q.output) + ": writing " +
                              formatName(job.format) + " under a ." + extensionOf(named) +
                              " name, as --format says");
        } else if (q.output == "-") {
            reportError("writing to standard output needs --format png, jpeg, tiff or webp" + hint);
            return 1;
        } else if (!q.output.empty() && formatForPath(q.output, job.format) != 0) {
            reportError("-o " + shownName(q.output) +
                        ": unknown image format; use .png, .jpg, .tif or .webp, or give --format" +
                        hint);
            return 1;
        }
        // Compared as files, not as spellings: ./a/../a/x.jpg and a link to x.jpg are x.jpg.
        if (!q.output.empty() && q.output != "-" && job.input != "-" &&
            sameFile(job.input, q.output)) {
            reportError("-o " + shownName(q.output) + " is the input (" + shownName(job.input) +
                        "); write the result to another file" + hint);
            return 1;
        }
        if (!q.output.empty() && q.output != "-" && !q.mask.empty() && sameFile(q.mask, q.output)) {
            reportError("-o " + shownName(q.output) + " is the mask (" + shownName(q.mask) +
                        "); write the result to another file" + hint);
            return 1;
        }
        jobs.push_back(job);
        return 0;
    }
    if (q.output == "-") {
        reportError("several inputs cannot all go to standard output; give a folder as -o" + hint);
        return 1;
    }
    if (!q.output.empty() && !isFolder(q.output)) {
        ImageFormat named = ImageFormat::Png;
        const bool looksLikeFile = q.output.back() != '/' && formatForPath(q.output, named) == 0;
        reportError("-o " + shownName(q.output) +
                    (fs::exists(q.output) || looksLikeFile
                         ? ": several inputs need a folder to write into, and this is a file " +
                               std::string(fs::exists(q.output) ? "" : "name ") +
                               "(render one input at a time to name its output)"
                         : ": no such folder; create it first") +
                    hint);
        return 1;
    }
    const std::string folder =
        q.output.empty() || q.output.back() == '/' ? q.output : q.output + "/";
    for (const std::string& input : q.inputs) {
        if (input == "-") {
            reportError(q.inputs.size() > 1
                            ? "standard input (-) can only be the single input" + hint
                            : "standard input has no name to write under in a folder; give -o a "
                              "file name or -" + hint);
            return 1;
        }
        // The input's name, with the extension of the format written: the input's own format
        // where it is one the tool writes, else --format, else PNG.
        std::string name = baseName(input);
        ImageFormat format = ImageFormat::Png;
        const bool writable = formatForPath(name, format) == 0;
        if (q.format)
            format = *q.format;
        if (q.format || !writable) {
            const size_t dot = name.find_last_of('.');
            if (dot != std::string::npos && dot > 0)
                name.erase(dot);
            ImageFormat same = format;
            const bool keepExtension =
                writable && formatForPath(baseName(input), same) == 0 && same == format;
            if (keepExtension)
                name = baseName(input);
            else
                name += std::string(".") + extensionOf(format);
        }
        jobs.push_back(Job{input, folder + name, format});
    }
    return checkJobs(q, jobs, hint);
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
        reportWarning(subject + ": " + warning);
}

// Looks --preset up and opens the store where the run needs it: for a user preset, and for a
// render that is remembered as "Last Used". A store that cannot be used only costs the
// remembering when the preset does not come from it. Returns 0, 1 (failed) or 2 (usage).
int prepareShared(const Invocation& q, RunShared& shared)
{
    if (!q.blockFile.empty()) {
        if (loadBlock(q.blockFile, shared.block) != 0)
            return 1;
        shared.haveRecord = true;
    }
    PresetName name;
    shared.presetGiven = q.controls.preset.has_value();
    if (shared.presetGiven &&
        takePresetName("--preset " + *q.controls.preset, *q.controls.preset, name) != 0)
        return 2;
    const bool userPreset = shared.presetGiven && (name.userMarked || findSample(name.name) == 0);
    shared.remember = q.remember && !q.dryRun;
    if (shared.remember || userPreset) {
        std::string error;
        if (openPresetStore(shared.store, error) != 0) {
            if (userPreset) {
                reportError(error);
                return 1;
            }
            reportWarning(error + "; the settings will not be stored as 'Last Used'");
            shared.remember = false;
        }
    }
    if (shared.presetGiven) {
        const int found =
            lookUpPresetName("--preset " + *q.controls.preset, name, shared.store, shared.preset);
        if (found != 0)
            return found;
    }
    // The last-used record is where the plug-in starts from, background and Antialiasing
    // included, and a repeat renders it as stored. Given together with --block, or when it is
    // damaged, it is applied like any other user preset.
    if (shared.presetGiven && !shared.haveRecord &&
        shared.preset.kind == PresetChoice::Kind::User &&
        isLastUsedName(shared.preset.stored.name) && checksumOk(shared.preset.stored.block)) {
        shared.block = shared.preset.stored.block;
        shared.haveRecord = true;
        shared.presetGiven = false;
    }
    return 0;
}

// The record rendered for an image of `planesUsed` planes, and the controls it came from.
void settingsFor(const Invocation& q, const RunShared& shared, int32_t planesUsed,
                 ParamBlock& block, ControlState& controls)
{
    // Without a record the controls start as the dialog opens; a record given as it is stays
    // byte for byte what is rendered, and one with a preset or options is packed again.
    block = shared.block;
    const ControlOverrides& overrides = q.controls.overrides;
    controls = shared.haveRecord ? controlsFromBlock(block) : defaultControls();
    if (shared.presetGiven && applyPresetChoice(shared.preset, controls, planesUsed,
                                                q.controls.foreWord, q.controls.backWord) != 0)
        reportWarning("user preset '" + shared.preset.stored.name +
                      "' fails its checksum; applying Orystone with light boost " +
                      std::to_string(DefaultLightBoost) + " and brightness ratio " +
                      std::to_string(DefaultBrightnessRatio) + " instead");
    if (!shared.haveRecord || shared.presetGiven || hasOverrides(overrides)) {
        applyOverrides(overrides, controls);
        packAsApplied(controls, block);
    }
}

std::string threadsText(int threads)
{
    return threads == 0 ? std::string("every core") : std::to_string(threads);
}

std::string encodeText(const Invocation& q, ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return "jpeg, quality " + std::to_string(q.encode.quality);
    case ImageFormat::WebP:
        return q.encode.lossless ? std::string("webp, lossless")
                                 : "webp, quality " + std::to_string(q.encode.quality);
    case ImageFormat::Png:
        return "png, level " + std::to_string(q.encode.pngLevel);
    case ImageFormat::Tiff: {
        const char* const names[] = {"none", "lzw", "deflate", "zstd", "jpeg"};
        return std::string("tiff, compression ") + names[static_cast<int>(q.encode.tiff)];
    }
    }
    return std::string();
}

// The encoder settings a file of `format` is written with, as JSON members after a comma.
std::string encodeJson(const Invocation& q, ImageFormat format)
{
    const std::string quality = ", \"quality\": " + std::to_string(q.encode.quality);
    switch (format) {
    case ImageFormat::Jpeg:
        return quality;
    case ImageFormat::WebP:
        return std::string(", \"lossless\": ") + (q.encode.lossless ? "true" : "false") +
               (q.encode.lossless ? std::string() : quality);
    case ImageFormat::Png:
        return ", \"png-level\": " + std::to_string(q.encode.pngLevel);
    case ImageFormat::Tiff: {
        const char* const names[] = {"none", "lzw", "deflate", "zstd", "jpeg"};
        return ", \"compression\": " + jsonString(names[static_cast<int>(q.encode.tiff)]) +
               (q.encode.tiff == TiffCompression::Jpeg ? quality : std::string());
    }
    }
    return std::string();
}

// --dry-run: the settings and the files, without reading or writing any. The record is the one
// an RGB image gets (RGBA with --background transparent).
int printDryRun(const Invocation& q, const RunShared& shared, const std::vector<Job>& jobs,
                bool preview)
{
    ParamBlock block{};
    ControlState controls{};
    settingsFor(q, shared, transparentRequested(q) ? 4 : 3, block, controls);
    const std::string source = shared.presetGiven     ? *q.controls.preset
                               : !q.blockFile.empty() ? q.blockFile
                               : shared.haveRecord    ? std::string(LastUsedName)
                                                      : std::string("Orystone");
    RecordTitle title{source, "settings", false, ""};
    ReportLines text;
    ReportLines json;
    std::string files = "[";
    for (const Job& job : jobs) {
        text.push_back({"File", job.input + " -> " + (job.output.empty() ? "?" : job.output) +
                                    " (" + encodeText(q, job.format) + ")"});
        files += std::string(files.size() > 1 ? ", " : "") +
                 "{\"input\": " + jsonString(job.input) +
                 ", \"output\": " + jsonString(job.output) +
                 ", \"format\": " + jsonString(formatName(job.format)) +
                 encodeJson(q, job.format) + "}";
    }
    json.push_back({"command", jsonString(preview ? "preview" : "render")});
    json.push_back({"files", files + "]"});
    if (q.cellSizePx) {
        const std::string size =
            std::to_string(q.cellSizePx->x) + " x " + std::to_string(q.cellSizePx->y);
        text.push_back({"Cell size", size + " image pixels, set on each image as the nearest "
                                            "preview cell size"});
        json.push_back({"cell-size-px", "[" + std::to_string(q.cellSizePx->x) + ", " +
                                            std::to_string(q.cellSizePx->y) + "]"});
    }
    text.push_back({"Threads", threadsText(q.threads)});
    json.push_back({"threads", std::to_string(q.threads)});
    char fore[8];
    char back[8];
    std::snprintf(fore, sizeof fore, "%02X%02X%02X", q.controls.foreWord & 0xFF,
                  (q.controls.foreWord >> 8) & 0xFF, (q.controls.foreWord >> 16) & 0xFF);
    std::snprintf(back, sizeof back, "%02X%02X%02X", q.controls.backWord & 0xFF,
                  (q.controls.backWord >> 8) & 0xFF, (q.controls.backWord >> 16) & 0xFF);
    text.push_back({"Host colours",
                    std::string("--foreground-color ") + fore + " --background-color " + back});
    json.push_back({"foreground-color", jsonString(fore)});
    json.push_back({"background-color", jsonString(back)});
    text.push_back({"Last Used", q.remember ? "stored after each success" : "not stored"});
    json.push_back({"remember", q.remember ? "true" : "false"});
    const std::string report =
        q.json ? recordJson(title, block, json) : recordText(title, block, text);
    std::fputs(report.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

// Reads the mask once for the whole run. Returns 0, or 1 after reporting the problem.
int readMask(const Invocation& q, RunShared& shared)
{
    if (q.mask.empty() || shared.maskRead)
        return 0;
    InputImage input;
    std::vector<std::string> warnings;
    std::string error;
    if (openInput(q.mask, q.keepOrientation, input, warnings, error) != 0 ||
        decodeInput(input, 1, shared.mask, error) != 0) {
        reportError("--mask " + shownName(q.mask) + ": " + error);
        return 1;
    }
    reportWarnings("--mask " + q.mask, warnings);
    shared.maskRead = true;
    return 0;
}

// The command line with --cell-size-px turned into the preview cell sizes that come nearest on
// this image, noting when the image's scale cannot give the size exactly. Returns `copy`.
const Invocation& cellsInPixels(const Invocation& q, const Job& job, int32_t width,
                                int32_t height, Invocation& copy)
{
    copy = q;
    const float scale = computeImageScale(width, height);
    const int32_t padX = previewCellSizeFor(q.cellSizePx->x, scale, CellSizeMax);
    const int32_t padY = previewCellSizeFor(q.cellSizePx->y, scale, CellSizeMax);
    copy.controls.overrides.cellWidth = padX;
    copy.controls.overrides.cellHeight = padY;
    const int32_t gotWidth = finalCellSize(padX, scale);
    const int32_t gotHeight = finalCellSize(padY, scale);
    if (gotWidth != q.cellSizePx->x || gotHeight != q.cellSizePx->y) {
        char step[32];
        std::snprintf(step, sizeof step, "%.4g", double(scale));
        reportWarning(shownName(job.input) + ": --cell-size-px " +
                      std::to_string(q.cellSizePx->x) + "," + std::to_string(q.cellSizePx->y) +
                      " gives cells of " + std::to_string(gotWidth) + " x " +
                      std::to_string(gotHeight) + " pixels on this image (cell sizes go in " +
                      "steps of " + step + " pixels here, up to " +
                      std::to_string(finalCellSize(CellSizeMax, scale)) + ")");
    }
    return copy;
}

enum class Outcome { Written, Failed, Cancelled };

// Owns one reference to a libvips image.
struct ImageRef {
    VipsImage* image = nullptr;
    ImageRef() = default;
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    ~ImageRef()
    {
        if (image != nullptr)
            g_object_unref(image);
    }
};

// Opens --mask for a streamed render: a one-band pipeline read as the render goes. Its notes
// are reported for the first input only. Returns 0, or 1 after reporting the problem.
int openStreamMask(const Invocation& q, RunShared& shared, InputImage& mask, ImageRef& prepared)
{
    if (q.mask.empty())
        return 0;
    std::vector<std::string> warnings;
    std::string error;
    if (openInput(q.mask, q.keepOrientation, mask, warnings, error) != 0 ||
        prepareChannels(mask, 1, &prepared.image, error) != 0) {
        reportError("--mask " + q.mask + ": " + error);
        return 1;
    }
    if (!shared.maskRead)
        reportWarnings("--mask " + q.mask, warnings);
    shared.maskRead = true;
    return 0;
}

// The final render of one input, streamed from the source pipeline into the encoder (for
// standard output, into memory first: nothing is written there before the render is complete).
// With `flatten` the RGBA render is assembled in memory and flattened onto the background
// colour, for a format without alpha.
Outcome streamRender(const Invocation& q, const Job& job, const HostImage& host, VipsImage* source,
                     VipsImage* mask, ParamBlock& block, const MetadataRef& metadata,
                     const std::string& target, bool flatten)
{
    const std::string out = job.output == "-" ? std::string("standard output") : shownName(job.output);
    // libvips' thread pool renders the strips: --threads sets its size.
    vips_concurrency_set(renderThreadCount(q.threads));
    ImageRef rendered;
    std::shared_ptr<StreamOutcome> outcome;
    const int16_t status = startStreamRender(host, source, mask, block, &rendered.image, outcome);
    if (status == memFullErr) {
        reportError(shownName(job.input) + ": not enough memory for this image");
        return Outcome::Failed;
    }
    if (status != noErr) {
        reportError(shownName(job.input) + ": the filter failed with error " + std::to_string(status));
        return Outcome::Failed;
    }
    std::string error;
    int written = 0;
    if (job.output == "-" || flatten) {
        Raster result;
        written = readImagePixels(rendered.image, result, error);
        endRenderProgress();
        if (written == 0 && flatten) {
            Raster flat;
            if (flattenOnto(result, q.controls.backWord, flat) != 0) {
                reportError(shownName(job.input) + ": not enough memory for this image");
                return Outcome::Failed;
            }
            result = std::move(flat);
        }
        if (written == 0)
            written = writeImage(target, job.format, q.encode, result, metadata.get(), error);
    } else {
        written = writeImage(target, job.format, q.encode, rendered.image, metadata.get(), error);
        endRenderProgress();
    }
    // A signal during the write (SIGPIPE from a closed pipe, for one) is a stop, not a fault.
    if (outcome->cancelled || cancelRequested())
        return Outcome::Cancelled;
    if (written == 0)
        return Outcome::Written;
    if (outcome->sourceFailed)
        reportError(shownName(job.input) + ": the image data is damaged or incomplete (" + outcome->reason +
                    ")");
    else if (!outcome->reason.empty())
        reportError(shownName(job.input) + ": " + outcome->reason);
    else
        reportError(out + ": " + error);
    return Outcome::Failed;
}

// One input from file to file. Every check comes before the render, so that a long render is not
// wasted on a mistake found afterwards.
Outcome runJob(const Invocation& q, const Job& job, bool preview, RunShared& shared,
               const std::string& label)
{
    const std::string out = job.output == "-" ? std::string("standard output") : shownName(job.output);
    InputImage input;
    std::vector<std::string> warnings;
    std::string error;
    if (openInput(job.input, q.keepOrientation, input, warnings, error) != 0) {
        if (cancelRequested())
            return Outcome::Cancelled;
        reportError((job.input == "-" ? std::string("standard input") : shownName(job.input)) + ": " + error);
        return Outcome::Failed;
    }
    reportWarnings(shownName(job.input), warnings);

    // Grey becomes RGB and grey with alpha RGBA; an RGB image gets an alpha channel for a
    // transparent background, where the output can hold one.
    const int32_t have = input.bands();
    int32_t bands = have == 2 || have == 4 ? 4 : 3;
    if (!preview && bands == 3 && transparentRequested(q)) {
        if (!formatKeepsAlpha(job.format)) {
            reportError(out + ": JPEG cannot hold the transparent background that "
                              "--background transparent gives; write .png, .tif or .webp, or "
                              "choose another background");
            return Outcome::Failed;
        }
        bands = 4;
    }
    // The preview is always written as RGB. An image with alpha written as JPEG, which has
    // none, is rendered with its alpha and then flattened onto the background colour.
    const bool flatten = !preview && bands == 4 && !formatKeepsAlpha(job.format);
    // The preview reduces the whole image, so it decodes the image and the mask whole; the
    // render reads both as it goes (streamed), never holding either whole.
    InputImage maskInput;
    ImageRef maskImage;
    if (preview && readMask(q, shared) != 0)
        return Outcome::Failed;
    if (!preview && openStreamMask(q, shared, maskInput, maskImage) != 0)
        return Outcome::Failed;
    bool haveMask = false;
    int32_t maskWidth = 0, maskHeight = 0;
    if (preview && shared.maskRead) {
        haveMask = true;
        maskWidth = shared.mask.width;
        maskHeight = shared.mask.height;
    } else if (!preview && maskImage.image != nullptr) {
        haveMask = true;
        maskWidth = maskInput.width();
        maskHeight = maskInput.height();
    }
    if (haveMask && (maskWidth != input.width() || maskHeight != input.height())) {
        reportError(shownName(job.input) + ": the image is " + std::to_string(input.width()) + " x " +
                    std::to_string(input.height()) + " pixels, the mask " + q.mask + " " +
                    std::to_string(maskWidth) + " x " + std::to_string(maskHeight));
        return Outcome::Failed;
    }
    if (cancelRequested())
        return Outcome::Cancelled;

    Raster raster;
    ImageRef source;
    if (preview ? decodeInput(input, bands, raster, error) != 0
                : prepareChannels(input, bands, &source.image, error) != 0) {
        if (cancelRequested())
            return Outcome::Cancelled;
        reportError(shownName(job.input) + ": " + error);
        return Outcome::Failed;
    }
    const int32_t imageWidth = input.width();
    const int32_t imageHeight = input.height();
    const MetadataRef metadata = q.encode.strip ? strippedMetadata(input.metadata) : input.metadata;
    // The decoded pixels are all the preview needs from the pipeline; its buffers go now.
    if (preview)
        input.close();

    HostImage host;
    host.image = &raster;
    host.mask = shared.maskRead ? &shared.mask : nullptr;
    host.foreColor = q.controls.foreWord;
    host.backColor = q.controls.backWord;
    host.showProgress = !q.quiet && isatty(STDERR_FILENO) != 0;
    host.progressLabel = label;
    host.threads = q.threads;
    const int32_t planesUsed = bands > 4 ? 4 : bands;
    ParamBlock block{};
    ControlState controls{};
    Invocation withCells;
    settingsFor(q.cellSizePx ? cellsInPixels(q, job, imageWidth, imageHeight, withCells) : q, shared, planesUsed,
                block, controls);

    OutputFile imageFile;
    OutputFile blockFile;
    if (job.output != "-" && imageFile.create(job.output, error) != 0) {
        reportError("-o " + shownName(job.output) + ": " + error);
        return Outcome::Failed;
    }
    if (!q.saveBlockFile.empty() && blockFile.create(q.saveBlockFile, error) != 0) {
        reportError("--save-block " + q.saveBlockFile + ": " + error);
        return Outcome::Failed;
    }

    const std::string target = job.output == "-" ? job.output : imageFile.temporary();
    if (preview) {
        Raster result;
        const int16_t status = renderPreview(host, block, controls, result, q.dpi);
        if (status == userCanceledErr || cancelRequested())
            return Outcome::Cancelled;
        if (status == memFullErr) {
            reportError(shownName(job.input) + ": not enough memory for this image");
            return Outcome::Failed;
        }
        if (status != noErr) {
            reportError(shownName(job.input) + ": the filter failed with error " + std::to_string(status));
            return Outcome::Failed;
        }
        const int written = writeImage(target, job.format, q.encode, result, metadata.get(), error);
        // A signal during the write (SIGPIPE from a closed pipe, for one) is a stop, not a fault.
        if (written != 0 && cancelRequested())
            return Outcome::Cancelled;
        if (written != 0) {
            reportError(out + ": " + error);
            return Outcome::Failed;
        }
    } else {
        const Outcome rendered = streamRender(q, job, host, source.image, maskImage.image, block,
                                              metadata, target, flatten);
        if (rendered != Outcome::Written)
            return rendered;
    }
    if (!q.saveBlockFile.empty() &&
        writeFileBytes(blockFile.temporary(), &block, sizeof block, error) != 0) {
        reportError("--save-block " + q.saveBlockFile + ": " + error);
        return Outcome::Failed;
    }
    if (cancelRequested())
        return Outcome::Cancelled;
    if (job.output != "-" && imageFile.commit(error) != 0) {
        reportError("-o " + shownName(job.output) + ": " + error);
        return Outcome::Failed;
    }
    if (!q.saveBlockFile.empty() && blockFile.commit(error) != 0) {
        reportError("--save-block " + q.saveBlockFile + ": " + error);
        return Outcome::Failed;
    }

    // Only a render that reached its output is remembered, as the plug-in stores the record
    // only when the user confirmed it. The image is what was asked for: a store that cannot be
    // written costs a warning, not the run.
    if (shared.remember &&
        shared.store.write(LastUsedName, lastUsedRecord(block, planesUsed), error) != 0) {
        reportWarning(error + "; the image was written, but its settings were not stored as "
                              "'Last Used'");
        shared.remember = false;
    }
    return Outcome::Written;
}

// The files the run must never overwrite with the record: the inputs, the mask, the outputs.
int checkSaveBlock(const Invocation& q, const std::vector<Job>& jobs)
{
    if (q.saveBlockFile.empty())
        return 0;
    std::vector<std::pair<std::string, std::string>> guarded;
    for (const Job& job : jobs) {
        if (job.input != "-")
            guarded.push_back({"the input", job.input});
        if (job.output != "-" && !job.output.empty())
            guarded.push_back({"the output", job.output});
    }
    if (!q.mask.empty())
        guarded.push_back({"the mask", q.mask});
    if (q.saveBlockFile == "-") {
        reportError("--save-block needs a file; standard output is not one here");
        return 1;
    }
    for (const auto& file : guarded) {
        if (sameFile(q.saveBlockFile, file.second)) {
            reportError("--save-block " + q.saveBlockFile + " is " + file.first + " (" +
                        file.second + "); the record goes to a file of its own, such as " +
                        "settings.oryn");
            return 1;
        }
    }
    return 0;
}

// Refuses what the command line contradicts, whatever the files turn out to hold, so that a dry
// run fails where the run would. Warns of encoding options no output uses. Returns 0, or 1 after
// reporting a usage error.
int checkPlan(const Invocation& q, const std::vector<Job>& jobs, bool preview)
{
    for (const Job& job : jobs) {
        if (job.output == "-" && isatty(STDOUT_FILENO) != 0 && !q.dryRun) {
            reportError("standard output is a terminal; redirect it to a file or a program "
                        "(-o - ... > relief.png), or give -o FILE");
            return 1;
        }
        if (!preview && transparentRequested(q) && !formatKeepsAlpha(job.format)) {
            reportError((job.output == "-" ? std::string("standard output")
                                           : shownName(job.output)) +
                        ": JPEG cannot hold the transparent background that --background "
                        "transparent gives; write .png, .tif or .webp, or choose another "
                        "background");
            return 1;
        }
    }
    // An encoding option matters when some output is written in a format it applies to (the
    // preview is a render too, written the same way).
    auto used = [&](const std::string& option) {
        for (const Job& job : jobs) {
            const ImageFormat f = job.format;
            if (option == "quality" &&
                (f == ImageFormat::Jpeg || (f == ImageFormat::WebP && !q.encode.lossless) ||
                 (f == ImageFormat::Tiff && q.encode.tiff == TiffCompression::Jpeg)))
                return true;
            if (option == "lossless" && f == ImageFormat::WebP)
                return true;
            if (option == "png-level" && f == ImageFormat::Png)
                return true;
            if (option == "compression" && f == ImageFormat::Tiff)
                return true;
        }
        return false;
    };
    for (const std::string& option : q.encodeGiven) {
        if (used(option))
            continue;
        const char* applies = option == "quality"       ? "JPEG, lossy WebP and JPEG-compressed TIFF"
                              : option == "lossless"    ? "WebP"
                              : option == "png-level"   ? "PNG"
                                                        : "TIFF";
        reportWarning("--" + option + " has no effect here: it applies to " + applies +
                      " output only");
    }
    return 0;
}

// A dry run checks that the files it would read are there and readable. Returns 0, or 1 after
// reporting the first that is not.
int checkReadable(const Invocation& q, const std::vector<Job>& jobs)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const Job& job : jobs) {
        if (job.input != "-")
            files.push_back({"", job.input});
    }
    if (!q.mask.empty())
        files.push_back({"--mask ", q.mask});
    if (!q.blockFile.empty())
        files.push_back({"--block ", q.blockFile});
    for (const auto& file : files) {
        if (access(file.second.c_str(), R_OK) != 0) {
            reportError(file.first + shownName(file.second) + ": " + std::strerror(errno));
            return 1;
        }
        if (isFolder(file.second)) {
            reportError(file.first + shownName(file.second) + ": is a folder, not an image");
            return 1;
        }
    }
    return 0;
}

} // namespace

int runImageCommand(const Invocation& q, const char* programName)
{
    const bool preview = q.command == Command::Preview;
    const char* command = preview ? "preview" : "render";
    std::vector<Job> jobs;
    if (planJobs(q, command, jobs) != 0 || checkSaveBlock(q, jobs) != 0 ||
        checkPlan(q, jobs, preview) != 0)
        return ExitUsage;
    if (q.dryRun && checkReadable(q, jobs) != 0)
        return ExitFailure;
    RunShared shared;
    const int prepared = prepareShared(q, shared);
    if (prepared != 0)
        return prepared == 2 ? ExitUsage : ExitFailure;
    if (q.dryRun)
        return printDryRun(q, shared, jobs, preview);

    // libvips starts only here, for the commands that read or write images.
    if (startImageLibrary(programName) != 0) {
        reportError("cannot start the image library");
        return ExitFailure;
    }
    const bool batch = jobs.size() > 1;
    const bool onTerminal = !q.quiet && isatty(STDERR_FILENO) != 0;
    size_t written = 0;
    std::vector<std::string> failed;
    bool cancelled = false;
    for (size_t i = 0; i < jobs.size() && !cancelled; ++i) {
        if (cancelRequested()) {
            cancelled = true;
            break;
        }
        const std::string label = batch ? "[" + std::to_string(i + 1) + "/" +
                                              std::to_string(jobs.size()) + "] " +
                                              shownName(baseName(jobs[i].input)) + " "
                                        : std::string();
        switch (runJob(q, jobs[i], preview, shared, label)) {
        case Outcome::Written:
            ++written;
            break;
        case Outcome::Failed:
            failed.push_back(jobs[i].input);
            break;
        case Outcome::Cancelled:
            cancelled = true;
            break;
        }
    }
    stopImageLibrary();

    if (cancelled) {
        reportError(batch ? "stopped; " + std::to_string(written) + " of " +
                                std::to_string(jobs.size()) +
                                " images were written, the one in progress was not"
                          : std::string("stopped; nothing was written"));
        return cancelExitStatus();
    }
    if (batch && (!failed.empty() || onTerminal)) {
        std::string summary =
            std::to_string(written) + " of " + std::to_string(jobs.size()) + " images written";
        if (!failed.empty())
            summary += "; " + std::to_string(failed.size()) + " failed (" + failed.front() +
                       (failed.size() > 1 ? ", ..." : "") + ")";
        std::fprintf(stderr, "oryn3d: %s\n", summary.c_str());
    }
    return failed.empty() ? 0 : ExitFailure;
}

int runSheetCommand(const Invocation& q, const char* programName)
{
    const std::string hint = "; see 'oryn3d presets sheet --help'";
    ImageFormat format = ImageFormat::Png;
    if (q.format) {
        format = *q.format;
    } else if (q.output == "-") {
        reportError("writing to standard output needs --format png, jpeg, tiff or webp" + hint);
        return ExitUsage;
    } else if (formatForPath(q.output, format) != 0) {
        reportError("-o " + shownName(q.output) +
                    ": unknown image format; use .png, .jpg, .tif or .webp, or give --format" +
                    hint);
        return ExitUsage;
    }
    const std::string& source = q.inputs[0];
    if (q.output != "-" && source != "-" && sameFile(source, q.output)) {
        reportError("-o " + shownName(q.output) + " is the input; write the sheet to another file" +
                    hint);
        return ExitUsage;
    }
    if (q.output == "-" && isatty(STDOUT_FILENO) != 0) {
        reportError("standard output is a terminal; redirect it to a file, or give -o FILE");
        return ExitUsage;
    }

    // The presets as the dialog lists them: the user presets (when the store can be read),
    // then the samples.
    std::vector<PresetChoice> choices;
    std::vector<std::string> labels;
    PresetDatabase store;
    std::vector<StoredPreset> stored;
    std::string error;
    if (openPresetStore(store, error) != 0 || store.list(stored, error) != 0) {
        reportWarning(error + "; the sheet shows the samples only");
        stored.clear();
    }
    for (const StoredPreset& preset : stored) {
        PresetChoice choice;
        choice.kind = PresetChoice::Kind::User;
        choice.stored = preset;
        choices.push_back(choice);
        labels.push_back(">" + preset.name);
    }
    for (int k = 1; k <= sampleCount(0); ++k) {
        PresetChoice choice;
        choice.sample = k;
        choices.push_back(choice);
        labels.push_back(sampleName(k));
    }

    if (startImageLibrary(programName) != 0) {
        reportError("cannot start the image library");
        return ExitFailure;
    }
    struct Stop {
        ~Stop() { stopImageLibrary(); }
    } stop;
    InputImage input;
    std::vector<std::string> warnings;
    const std::string shown = source == "-" ? std::string("standard input") : shownName(source);
    if (openInput(source, q.keepOrientation, input, warnings, error) != 0) {
        if (cancelRequested())
            return cancelExitStatus();
        reportError(shown + ": " + error);
        return ExitFailure;
    }
    reportWarnings(shown, warnings);
    Raster raster;
    const int32_t bands = input.bands() == 2 || input.bands() == 4 ? 4 : 3;
    if (decodeInput(input, bands, raster, error) != 0) {
        if (cancelRequested())
            return cancelExitStatus();
        reportError(shown + ": " + error);
        return ExitFailure;
    }
    input.close();

    HostImage host;
    host.image = &raster;
    host.foreColor = q.controls.foreWord;
    host.backColor = q.controls.backWord;
    const int32_t planesUsed = raster.bands > 4 ? 4 : raster.bands;
    std::vector<Raster> tiles(choices.size());
    for (size_t i = 0; i < choices.size(); ++i) {
        // As the dialog applies a preset chosen in its list; "Last Used" is its record itself.
        ControlState controls = defaultControls();
        ParamBlock block = defaultParamBlock();
        const PresetChoice& choice = choices[i];
        if (choice.kind == PresetChoice::Kind::User && isLastUsedName(choice.stored.name) &&
            checksumOk(choice.stored.block)) {
            block = choice.stored.block;
            controls = controlsFromBlock(block);
        } else {
            applyPresetChoice(choice, controls, planesUsed, host.foreColor, host.backColor);
            packAsApplied(controls, block);
        }
        const int16_t status = renderPreview(host, block, controls, tiles[i]);
        if (status == userCanceledErr || cancelRequested()) {
            reportError("stopped; nothing was written");
            return cancelExitStatus();
        }
        if (status != noErr) {
            reportError(shown + ": the preview with '" + labels[i] + "' failed with error " +
                        std::to_string(status));
            return ExitFailure;
        }
    }
    Raster sheet;
    if (composeSheet(tiles, labels, 4, sheet, error) != 0) {
        reportError(error);
        return ExitFailure;
    }
    tiles.clear();
    OutputFile file;
    if (q.output != "-" && file.create(q.output, error) != 0) {
        reportError("-o " + shownName(q.output) + ": " + error);
        return ExitFailure;
    }
    const std::string out = q.output == "-" ? std::string("standard output") : shownName(q.output);
    if (writeImage(q.output == "-" ? q.output : file.temporary(), format, q.encode, sheet,
                   nullptr, error) != 0) {
        if (cancelRequested())
            return cancelExitStatus();
        reportError(out + ": " + error);
        return ExitFailure;
    }
    if (cancelRequested()) {
        reportError("stopped; nothing was written");
        return cancelExitStatus();
    }
    if (q.output != "-" && file.commit(error) != 0) {
        reportError("-o " + shownName(q.output) + ": " + error);
        return ExitFailure;
    }
    return 0;
}

} // namespace oryn
