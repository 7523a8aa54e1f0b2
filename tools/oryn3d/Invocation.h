// Everything one oryn3d command line asks for, as typed values. The command line is parsed once
// into an Invocation; the commands read only this value, and a batch repeats the run for each
// input without looking at the arguments again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/oryn3d/ControlOptions.h"

namespace oryn {

enum class Command {
    Help,       // print the help of `helpTopic`
    Version,    // print the version
    ManPage,    // print the man page (troff)
    Completion, // print a shell completion script
    Render,
    Preview,
    PresetsList,
    PresetsShow,
    PresetsSave,
    PresetsDelete,
    PresetsRename,
    PresetsExport,
    PresetsImport,
    PresetsSheet,
};

// Formats the tool writes.
enum class ImageFormat { Png, Jpeg, Tiff, WebP };

enum class TiffCompression { None, Lzw, Deflate, Zstd, Jpeg };

// How the output is encoded; the defaults are the tool's long-standing ones.
struct EncodeOptions {
    int quality = 92;      // JPEG and lossy WebP, 1..100
    bool lossless = false; // WebP
    int pngLevel = 6;      // PNG deflate level, 0..9
    TiffCompression tiff = TiffCompression::Lzw;
    bool strip = false; // --strip: no profile, EXIF, XMP or IPTC in the file
};

// The control options: a preset to start from, the values given, the host's two colours.
struct ControlSettings {
    std::optional<std::string> preset; // as typed
    ControlOverrides overrides;
    uint32_t foreWord = DefaultForegroundWord;
    uint32_t backWord = DefaultBackgroundWord;
};

struct Invocation {
    Command command = Command::Help;
    std::string helpTopic; // "", "render", "presets", "presets save", ...
    std::string shell;     // Completion: bash, zsh or fish

    // render and preview
    std::vector<std::string> inputs; // "-" is standard input
    std::string output;              // a file, a folder (several inputs), or "-" for stdout
    std::optional<ImageFormat> format;
    EncodeOptions encode;
    std::vector<std::string> encodeGiven; // the encoding options given, as named ("quality")
    std::string mask;
    std::string blockFile;
    std::string saveBlockFile;
    bool quiet = false;
    bool remember = true; // store the settings as "Last Used" (render only)
    bool dryRun = false;
    bool keepOrientation = false;
    int threads = 0; // 0: every core
    int32_t dpi = 96; // preview: the display DPI of the dialog whose preview is written
    ControlSettings controls;
    std::optional<PadPoint> cellSizePx; // --cell-size-px: cell width, height in image pixels

    // presets
    std::string name;
    bool nameGiven = false;
    std::string newName; // presets rename
    std::string file;
    bool all = false;
    bool json = false; // presets list and show, render --dry-run
    bool withBackground = false;
    bool withLight = false;
    bool force = false;
};

} // namespace oryn
