// The command and option table, the parser that turns arguments into an Invocation, and the
// texts made from the same table: help pages, the man page and shell completions.
#include "tools/oryn3d/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

#include "Version.h"
#include "controls/DisplayScale.h"
#include "tools/oryn3d/UserPresets.h"

namespace oryn {

const char* const ToolVersion = ORYN_VERSION_TEXT;

namespace {

// Commands as bits, so that an option can belong to several.
enum CommandBit : unsigned {
    RenderBit = 1u << 0,
    PreviewBit = 1u << 1,
    ListBit = 1u << 2,
    ShowBit = 1u << 3,
    SaveBit = 1u << 4,
    DeleteBit = 1u << 5,
    ExportBit = 1u << 6,
    ImportBit = 1u << 7,
    TopBit = 1u << 8,
    RenameBit = 1u << 9,
    SheetBit = 1u << 10,
};
constexpr unsigned ImageBits = RenderBit | PreviewBit;
constexpr unsigned ControlBits = RenderBit | PreviewBit | SaveBit;

struct CommandDef {
    const char* path; // "render", "presets save"
    unsigned bit;
    Command command;
    const char* arguments; // positional arguments as the usage line shows them
    int minArguments;
    int maxArguments; // -1: any number
    const char* summary;
    const char* details; // extra paragraphs of the help page, or null
    const char* examples;
};

const CommandDef Commands[] = {
    {"render", RenderBit, Command::Render, "INPUT... -o OUTPUT", 1, -1,
     "Filter whole images and write the results.",
     "INPUT is any image libvips reads (PNG, JPEG, TIFF, WebP, GIF, PPM/PGM, HEIF/AVIF where "
     "installed, ...), or - for standard input. With one input, OUTPUT is a file (its extension, "
     "or "
     "--format, picks the format) or - for standard output (with --format). With several inputs, "
     "or "
     "when OUTPUT is a folder or ends in '/', every output goes into that folder under its input's "
     "name; a bad input is reported and skipped, and the exit status is 1 if any failed. Every "
     "file is written under a temporary name and renamed when complete.",
     "oryn3d render photo.jpg -o relief.jpg --preset Roof\n"
     "oryn3d render *.jpg -o reliefs/ --preset \"Front Bricks\" --quality 90\n"
     "cat photo.png | oryn3d render - -o - --format png > relief.png"},
    {"preview", PreviewBit, Command::Preview, "INPUT... -o OUTPUT", 1, -1,
     "Write the 300 x 300 preview the dialog shows for these settings, as RGB.", nullptr,
     "oryn3d preview photo.jpg -o preview.png --preset Jalousie --x2"},
    {"presets list", ListBit, Command::PresetsList, "", 0, 0,
     "List the presets, one a line: the kind ('user' or 'sample') padded with blanks to 8 "
     "columns, then the name from column 9 on (cut -c9- gives the names). User "
     "presets come first, in the order they were first saved (at most 20 unless --all), then the "
     "samples in the dialog's order.",
     nullptr, "oryn3d presets list\noryn3d presets list | sed -n 's/^sample  //p'"},
    {"presets show", ShowBit, Command::PresetsShow, "NAME|FILE", 1, 1,
     "Show a preset's values with the option that sets each, its flags and checksum.",
     "An argument that contains '/' or ends in .oryn is read as a record file (for example from "
     "--save-block or presets export) without importing it.",
     "oryn3d presets show Roof\noryn3d presets show \"Last Used\" --json\n"
     "oryn3d presets show ./saved.oryn"},
    {"presets save", SaveBit, Command::PresetsSave, "NAME", 1, 1,
     "Save the controls as a user preset, replacing one of the same name in its place.",
     "Antialiasing is never part of a preset. The name \"Last Used\" belongs to the record a "
     "render stores; --force replaces it.",
     "oryn3d presets save \"Warm Bricks\" --preset \"Front Bricks\" --background 804020 "
     "--with-background"},
    {"presets delete", DeleteBit, Command::PresetsDelete, "NAME", 1, 1, "Delete a user preset.",
     nullptr, "oryn3d presets delete Mine"},
    {"presets export", ExportBit, Command::PresetsExport, "NAME FILE", 2, 2,
     "Write a preset's 64-byte record to FILE, or to standard output with -.", nullptr,
     "oryn3d presets export Mine mine.oryn\noryn3d presets export Mine - | xxd"},
    {"presets rename", RenameBit, Command::PresetsRename, "OLD NEW", 2, 2,
     "Give a user preset a new name, keeping its place in the list and its record.",
     "OLD is looked up as for delete ('>NAME' for a user preset a sample hides). NEW follows the "
     "rules of presets save; a name another user preset has is refused.",
     "oryn3d presets rename Mine \"Warm Bricks\""},
    {"presets sheet", SheetBit, Command::PresetsSheet, "IMAGE -o OUTPUT", 1, 1,
     "Write one picture of IMAGE as the dialog previews it with every preset, each labelled "
     "with its name: the user presets first, then the samples.",
     "Each preview is the dialog's 300 x 300 square, four to a row.",
     "oryn3d presets sheet photo.jpg -o sheet.png"},
    {"presets import", ImportBit, Command::PresetsImport, "FILE [NAME]", 1, 2,
     "Store a 64-byte record file (- for standard input) as a user preset; the default name is "
     "the file's name without its extension.",
     nullptr, "oryn3d presets import mine.oryn \"Mine Again\""},
};

using Setter = int (*)(Invocation&, const std::string&, std::string&);

struct OptionDef {
    const char* name;      // long name without "--"
    char shortName;        // 0 for none
    const char* valueName; // null for a flag
    unsigned commands;
    const char* group;
    const char* help;
    const char* choices; // completion words for the value, space separated; null: files
    Setter set;
};

const char* const IoGroup = "Input and output";
const char* const EncodeGroup = "Encoding";
const char* const ControlGroup =
    "Controls (unless given: the dialog's opening state, that is preset Orystone, light boost 30, "
    "brightness ratio 20, antialiasing on, background C0C0C0)";
const char* const RunGroup = "Run";
const char* const PresetGroup = "Preset";

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int setNumber(const std::string& text, int32_t lo, int32_t hi, int32_t& value, std::string& error)
{
    if (parseNumberInRange(text, lo, hi, value) == 0)
        return 0;
    error =
        "'" + text + "' is not a whole number in " + std::to_string(lo) + ".." + std::to_string(hi);
    return 1;
}

template <std::optional<int32_t> ControlOverrides::*Field, int32_t Lo, int32_t Hi>
int setControl(Invocation& q, const std::string& text, std::string& error)
{
    int32_t value = 0;
    if (setNumber(text, Lo, Hi, value, error) != 0)
        return 1;
    q.controls.overrides.*Field = value;
    return 0;
}

template <std::optional<PadPoint> ControlOverrides::*Field>
int setPad(Invocation& q, const std::string& text, std::string& error)
{
    PadPoint point{};
    if (parsePadPoint(text, 0, PadAxisMax, point, error) != 0)
        return 1;
    q.controls.overrides.*Field = point;
    return 0;
}

template <uint32_t ControlSettings::*Field>
int setColour(Invocation& q, const std::string& text, std::string& error)
{
    if (parseColorWord(text, q.controls.*Field) == 0)
        return 0;
    error = "'" + text + "' is not a colour RRGGBB (six hexadecimal digits)";
    return 1;
}

template <bool Invocation::*Field, bool Value>
int setFlag(Invocation& q, const std::string&, std::string&)
{
    q.*Field = Value;
    return 0;
}

template <std::string Invocation::*Field>
int setText(Invocation& q, const std::string& text, std::string& error)
{
    if (text.empty()) {
        error = "an empty name is not a file";
        return 1;
    }
    q.*Field = text;
    return 0;
}

int setFormat(Invocation& q, const std::string& text, std::string& error)
{
    const std::string name = lowerCase(text);
    if (name == "png")
        q.format = ImageFormat::Png;
    else if (name == "jpeg" || name == "jpg")
        q.format = ImageFormat::Jpeg;
    else if (name == "tiff" || name == "tif")
        q.format = ImageFormat::Tiff;
    else if (name == "webp")
        q.format = ImageFormat::WebP;
    else {
        error = "'" + text + "' is not png, jpeg, tiff or webp";
        return 1;
    }
    return 0;
}

int setCompression(Invocation& q, const std::string& text, std::string& error)
{
    const std::string name = lowerCase(text);
    if (name == "none")
        q.encode.tiff = TiffCompression::None;
    else if (name == "lzw")
        q.encode.tiff = TiffCompression::Lzw;
    else if (name == "deflate")
        q.encode.tiff = TiffCompression::Deflate;
    else if (name == "zstd")
        q.encode.tiff = TiffCompression::Zstd;
    else if (name == "jpeg")
        q.encode.tiff = TiffCompression::Jpeg;
    else {
        error = "'" + text + "' is not none, lzw, deflate, zstd or jpeg";
        return 1;
    }
    return 0;
}

int setQuality(Invocation& q, const std::string& text, std::string& error)
{
    int32_t value = 0;
    if (setNumber(text, 1, 100, value, error) != 0)
        return 1;
    q.encode.quality = value;
    return 0;
}

int setPngLevel(Invocation& q, const std::string& text, std::string& error)
{
    int32_t value = 0;
    if (setNumber(text, 0, 9, value, error) != 0)
        return 1;
    q.encode.pngLevel = value;
    return 0;
}

int setThreads(Invocation& q, const std::string& text, std::string& error)
{
    int32_t value = 0;
    if (setNumber(text, 0, 1024, value, error) != 0)
        return 1;
    q.threads = value;
    return 0;
}

int setDpi(Invocation& q, const std::string& text, std::string& error)
{
    return setNumber(text, MinDpi, MaxDpi, q.dpi, error);
}

int setLossless(Invocation& q, const std::string&, std::string&)
{
    q.encode.lossless = true;
    return 0;
}

int setCellSizePx(Invocation& q, const std::string& text, std::string& error)
{
    PadPoint point{};
    if (parsePadPoint(text, 1, 32767, point, error) != 0)
        return 1;
    q.cellSizePx = point;
    return 0;
}

int setStrip(Invocation& q, const std::string&, std::string&)
{
    q.encode.strip = true;
    return 0;
}

int setNoRemember(Invocation& q, const std::string&, std::string&)
{
    q.remember = false;
    return 0;
}

int setPreset(Invocation& q, const std::string& text, std::string& error)
{
    PresetName name;
    if (presetNameFrom(text, name, error) != 0)
        return 1;
    q.controls.preset = text;
    return 0;
}

int setBackground(Invocation& q, const std::string& text, std::string& error)
{
    BackgroundChoice choice{};
    if (parseBackground(text, choice, error) != 0)
        return 1;
    q.controls.overrides.background = choice;
    return 0;
}

template <std::optional<bool> ControlOverrides::*Field, bool Value>
int setSwitch(Invocation& q, const std::string&, std::string&)
{
    q.controls.overrides.*Field = Value;
    return 0;
}

int setHelp(Invocation& q, const std::string&, std::string&)
{
    q.command = Command::Help;
    return 0;
}

const OptionDef Options[] = {
    {"output", 'o', "OUTPUT", ImageBits | SheetBit, IoGroup,
     "File to write, '-' for standard output, or with several inputs the folder to write into; "
     "or a name pattern for each input, in the input's folder unless it names one: %s the "
     "input's name without its extension, %e its extension, %% a percent sign",
     nullptr, setText<&Invocation::output>},
    {"format", 0, "FORMAT", ImageBits | SheetBit, IoGroup,
     "Output format: png, jpeg, tiff or webp. Default: the output's extension; into a folder, the "
     "input's format where it can be written, else png",
     "png jpeg tiff webp", setFormat},
    {"mask", 0, "FILE", ImageBits, IoGroup, "Selection: a grey image with one channel, of the same size (0 not selected, 255 selected); "
     "where cells sample outside it, the background is written, not the original pixels",
     nullptr,
     setText<&Invocation::mask>},
    {"block", 0, "FILE", ImageBits, IoGroup,
     "64-byte parameter record, rendered as stored; control options given too override its "
     "fields",
     nullptr, setText<&Invocation::blockFile>},
    {"save-block", 0, "FILE", ImageBits, IoGroup,
     "Write the 64-byte record that was used (never over the input, the mask or the output)",
     nullptr, setText<&Invocation::saveBlockFile>},
    {"keep-orientation", 0, nullptr, ImageBits, IoGroup,
     "Filter the pixels as stored; by default an EXIF orientation is applied first and the output "
     "is written upright",
     nullptr, setFlag<&Invocation::keepOrientation, true>},
    {"strip", 0, nullptr, ImageBits, IoGroup,
     "Write no colour profile, EXIF, XMP or IPTC metadata (the resolution stays); by default the "
     "output keeps the input's",
     nullptr, setStrip},
    {"quality", 0, "N", ImageBits | SheetBit, EncodeGroup, "JPEG, lossy WebP and jpeg-compressed TIFF quality, 1..100 (default 92)",
     nullptr, setQuality},
    {"lossless", 0, nullptr, ImageBits | SheetBit, EncodeGroup, "Lossless WebP", nullptr, setLossless},
    {"png-level", 0, "N", ImageBits | SheetBit, EncodeGroup,
     "PNG compression level, 0 (fastest, largest) .. 9 (default 6)", nullptr, setPngLevel},
    {"compression", 0, "METHOD", ImageBits | SheetBit, EncodeGroup,
     "TIFF compression: none, lzw, deflate, zstd or jpeg (default lzw)",
     "none lzw deflate zstd jpeg", setCompression},
    {"preset", 0, "NAME", ControlBits, ControlGroup,
     "Preset to start from, as 'oryn3d presets list' shows it (default Orystone). A sample's name "
     "picks the sample, any other name the user preset; '>NAME' always picks the user preset. "
     "'Last Used' starts from the settings of the last render, exactly as stored",
     nullptr, setPreset},
    {"cell-width", 0, "N", ControlBits, ControlGroup,
     "Cell width in preview pixels (scaled to the image), 0..300", nullptr,
     setControl<&ControlOverrides::cellWidth, 0, CellSizeMax>},
    {"cell-height", 0, "N", ControlBits, ControlGroup,
     "Cell height in preview pixels (scaled to the image), 0..300", nullptr,
     setControl<&ControlOverrides::cellHeight, 0, CellSizeMax>},
    {"cell-size-px", 0, "W,H", ImageBits, ControlGroup,
     "Cell width and height in the image's own pixels, 1..32767 each: the cell size is set to "
     "the preview value that comes nearest on each image (not with --cell-width or "
     "--cell-height)",
     nullptr, setCellSizePx},
    {"bevel", 0, "N", ControlBits, ControlGroup, "Bevel width, 0..50", nullptr,
     setControl<&ControlOverrides::bevel, 0, BevelMax>},
    {"shading", 0, "N", ControlBits, ControlGroup, "Shading strength, 0..100, 50 = none", nullptr,
     setControl<&ControlOverrides::shading, 0, ShadingMax>},
    {"light", 0, "X,Y", ControlBits, ControlGroup,
     "Light direction pad, X,Y each 0..50, 25,25 = centre; X grows to the right, Y downwards",
     nullptr, setPad<&ControlOverrides::light>},
    {"stretch", 0, "X,Y", ControlBits, ControlGroup,
     "Stretch pad, X,Y each 0..50, 25,25 = none; X grows to the right, Y downwards", nullptr,
     setPad<&ControlOverrides::stretch>},
    {"face", 0, "N", ControlBits, ControlGroup, "G-Shading button state, 0..2", nullptr,
     setControl<&ControlOverrides::faceMode, 0, FaceModeMax>},
    {"x2", 0, nullptr, ControlBits, ControlGroup, "Double the stretch (the \"x2\" box)", nullptr,
     setSwitch<&ControlOverrides::stretchDouble, true>},
    {"no-x2", 0, nullptr, ControlBits, ControlGroup, "Single stretch", nullptr,
     setSwitch<&ControlOverrides::stretchDouble, false>},
    {"light-boost", 0, "N", ControlBits, ControlGroup, "Light Boosting, 0..100", nullptr,
     setControl<&ControlOverrides::lightBoost, 0, LightCorrectionMax>},
    {"brightness-ratio", 0, "N", ControlBits, ControlGroup, "Brightness Ratio, 0..100", nullptr,
     setControl<&ControlOverrides::brightnessRatio, 0, LightCorrectionMax>},
    {"antialias", 0, nullptr, ImageBits, ControlGroup,
     "Antialias selection and image edges (default)", nullptr,
     setSwitch<&ControlOverrides::antialias, true>},
    {"no-antialias", 0, nullptr, ImageBits, ControlGroup, "No antialiasing", nullptr,
     setSwitch<&ControlOverrides::antialias, false>},
    {"background", 0, "B", ControlBits, ControlGroup,
     "Background where no cell covers the image: foreground, background (the host's two "
     "colours), transparent (adds an alpha channel to an RGB image; not with JPEG) or RRGGBB",
     "foreground background transparent", setBackground},
    {"foreground-color", 0, "RRGGBB", ControlBits | SheetBit, ControlGroup,
     "The host's foreground colour (default 000000)", "", setColour<&ControlSettings::foreWord>},
    {"background-color", 0, "RRGGBB", ControlBits | SheetBit, ControlGroup,
     "The host's background colour (default FFFFFF)", "", setColour<&ControlSettings::backWord>},
    {"with-background", 0, nullptr, SaveBit, PresetGroup,
     "Save the background colour (\"Save Background Color\"): applying the preset then sets the "
     "background to the colour the mode gives now",
     nullptr, setFlag<&Invocation::withBackground, true>},
    {"with-light", 0, nullptr, SaveBit, PresetGroup,
     "Save the light correction (\"Save Light Correction\"): applying the preset then sets light "
     "boost and brightness ratio",
     nullptr, setFlag<&Invocation::withLight, true>},
    {"force", 0, nullptr, SaveBit | ImportBit, PresetGroup,
     "Allow the name \"Last Used\", replacing the record the last render stored", nullptr,
     setFlag<&Invocation::force, true>},
    {"all", 0, nullptr, ListBit, PresetGroup, "List every stored user preset, beyond the first 20",
     nullptr, setFlag<&Invocation::all, true>},
    {"json", 0, nullptr, ListBit | ShowBit | ImageBits, RunGroup,
     "Print as JSON (presets list and show; render and preview with --dry-run)", nullptr,
     setFlag<&Invocation::json, true>},
    {"dry-run", 0, nullptr, ImageBits, RunGroup,
     "Print the effective settings and the files that would be written; read and write nothing",
     nullptr, setFlag<&Invocation::dryRun, true>},
    {"threads", 0, "N", ImageBits, RunGroup,
     "Threads that render, 0 = every core (default; ORYN_THREADS sets it too): the size of "
     "libvips' thread pool, which renders the strips while the file is read and written. The "
     "output is the same bytes whatever this says",
     nullptr, setThreads},
    {"dpi", 0, "N", PreviewBit, RunGroup,
     "Display DPI the dialog runs at, 96..480 (default 96): the preview is the one the dialog "
     "shows there, 300 x 300 at 96 and larger above (450 x 450 at 144)",
     nullptr, setDpi},
    {"no-remember", 0, nullptr, ImageBits, RunGroup,
     "Do not store these settings as the user preset \"Last Used\" (a successful render stores "
     "them; a preview never does)",
     nullptr, setNoRemember},
    {"quiet", 'q', nullptr, ImageBits, RunGroup, "No progress on the terminal", nullptr,
     setFlag<&Invocation::quiet, true>},
    {"help", 'h', nullptr, ~0u, RunGroup, "Show this help", nullptr, setHelp},
};

// Flags that say the opposite of each other.
const char* const Opposites[][2] = {{"x2", "no-x2"}, {"antialias", "no-antialias"}};

const OptionDef* findOption(const std::string& name)
{
    for (const OptionDef& option : Options) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

const OptionDef* findShort(char letter)
{
    for (const OptionDef& option : Options) {
        if (option.shortName != 0 && option.shortName == letter)
            return &option;
    }
    return nullptr;
}

const CommandDef* findCommand(const std::string& path)
{
    for (const CommandDef& command : Commands) {
        if (path == command.path)
            return &command;
    }
    return nullptr;
}

std::vector<std::string> optionNames(unsigned bit)
{
    std::vector<std::string> names;
    for (const OptionDef& option : Options) {
        if ((option.commands & bit) != 0)
            names.push_back(std::string("--") + option.name);
    }
    return names;
}

std::string didYouMean(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string near = nearestWord(word, candidates);
    return near.empty() ? std::string() : " (did you mean '" + near + "'?)";
}

std::string optionLabel(const OptionDef& option)
{
    return std::string("--") + option.name;
}

// The command words of the top level and under "presets".
const std::vector<std::string> TopWords = {"render", "preview", "presets", "help"};
const std::vector<std::string> PresetWords = {"list",   "show",   "save",   "delete",
                                               "rename", "export", "import", "sheet"};

// Parses the options and arguments of one command.
int parseCommand(const CommandDef& command, const std::vector<std::string>& args, size_t at,
                 Invocation& q, std::string& error)
{
    const std::string hint = helpHint(command.path);
    std::vector<std::string> positional;
    std::vector<const OptionDef*> seen;
    bool optionsEnded = false;
    bool threadsGiven = false;
    for (; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionDef* option = nullptr;
        std::string shown;
        std::string value;
        bool valueAttached = false;
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            shown = "--" + name;
            option = findOption(name);
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                valueAttached = true;
            }
        } else {
            shown = arg.substr(0, 2);
            option = findShort(arg[1]);
            if (arg.size() > 2) {
                value = arg.substr(2);
                valueAttached = true;
            }
        }
        if (option == nullptr) {
            error = "unknown option '" + shown + "'" + didYouMean(shown, optionNames(command.bit)) +
                    "; " + hint;
            return 1;
        }
        if ((option->commands & command.bit) == 0) {
            const std::string name = option->name;
            if (command.bit == SaveBit && (name == "antialias" || name == "no-antialias"))
                error = shown +
                        " cannot be saved: antialiasing is never part of a preset (give it "
                        "to 'oryn3d render' instead); " +
                        hint;
            else
                error = shown + " is not an option of 'oryn3d " + command.path + "'" +
                        didYouMean(shown, optionNames(command.bit)) + "; " + hint;
            return 1;
        }
        if (option->valueName == nullptr && valueAttached) {
            error = shown + " takes no value, but was given '" + value + "'; " + hint;
            return 1;
        }
        if (option->valueName != nullptr && !valueAttached) {
            if (at + 1 >= args.size()) {
                error = shown + " needs a value (" + option->valueName + "); " + hint;
                return 1;
            }
            value = args[++at];
        }
        if (option->valueName != nullptr &&
            std::find(seen.begin(), seen.end(), option) != seen.end()) {
            error = shown + " is given more than once (give it once); " + hint;
            return 1;
        }
        seen.push_back(option);
        if (option->group == EncodeGroup)
            q.encodeGiven.push_back(option->name);
        if (option->set(q, value, error) != 0) {
            error = shown + ": " + error + "; " + hint;
            return 1;
        }
        if (option->set == setHelp) {
            q.helpTopic = command.path;
            return 0;
        }
        threadsGiven = threadsGiven || std::strcmp(option->name, "threads") == 0;
    }
    if (q.cellSizePx && (q.controls.overrides.cellWidth || q.controls.overrides.cellHeight)) {
        error = "--cell-size-px and --cell-width or --cell-height set the same cells; give one; " +
                hint;
        return 1;
    }
    for (const auto& pair : Opposites) {
        const bool first = std::find(seen.begin(), seen.end(), findOption(pair[0])) != seen.end();
        const bool second = std::find(seen.begin(), seen.end(), findOption(pair[1])) != seen.end();
        if (first && second) {
            error = std::string("--") + pair[0] + " and --" + pair[1] +
                    " contradict each other; give one; " + hint;
            return 1;
        }
    }

    const int count = static_cast<int>(positional.size());
    if (count < command.minArguments) {
        std::vector<std::string> words;
        const std::string arguments = command.arguments;
        for (size_t from = 0; from < arguments.size();) {
            size_t end = arguments.find(' ', from);
            end = end == std::string::npos ? arguments.size() : end;
            words.push_back(arguments.substr(from, end - from));
            from = end + 1;
        }
        std::string missing = words[static_cast<size_t>(count)];
        if (missing.size() > 3 && missing.compare(missing.size() - 3, 3, "...") == 0)
            missing.resize(missing.size() - 3);
        error = "'oryn3d " + std::string(command.path) + "' needs " + missing + " (usage: oryn3d " +
                command.path + " " + arguments + "); " + hint;
        return 1;
    }
    if (command.maxArguments >= 0 && count > command.maxArguments) {
        error = "'" + positional[static_cast<size_t>(command.maxArguments)] +
                "' is one argument too many for 'oryn3d " + command.path + " " + command.arguments +
                "'; " + hint;
        return 1;
    }

    q.command = command.command;
    if (command.bit & (ImageBits | SheetBit)) {
        q.inputs = positional;
        if (q.output.empty() && !q.dryRun) {
            error = "'oryn3d " + std::string(command.path) +
                    "' needs -o OUTPUT (a file, a folder or -); " + hint;
            return 1;
        }
        if (q.json && !q.dryRun) {
            error = "--json goes with --dry-run, which prints the settings instead of rendering; " +
                    hint;
            return 1;
        }
        if (!threadsGiven) {
            // The option wins; the environment sets the default for users and hosts that want
            // one thread everywhere.
            // A value that is not a count is refused rather than taken as every core.
            const char* env = std::getenv("ORYN_THREADS");
            int32_t threads = 0;
            if (env != nullptr && *env != '\0' && parseNumberInRange(env, 0, 1024, threads) != 0) {
                error = "ORYN_THREADS=" + std::string(env) +
                        " is not a number of threads 0..1024 (0 = every core); set it to one, "
                        "unset it or give --threads; " +
                        hint;
                return 1;
            }
            q.threads = threads;
        }
        if (q.command == Command::Preview || q.command == Command::PresetsSheet)
            q.remember = false;
        return 0;
    }
    if (!positional.empty()) {
        if (command.bit == ImportBit) {
            q.file = positional[0];
            if (positional.size() > 1) {
                q.name = positional[1];
                q.nameGiven = true;
            }
        } else {
            q.name = positional[0];
            q.nameGiven = true;
            if (positional.size() > 1 && command.bit == RenameBit)
                q.newName = positional[1];
            else if (positional.size() > 1)
                q.file = positional[1];
        }
    }
    return 0;
}

// Words and paragraphs broken into lines of at most `width` columns, each indented by `indent`
// (the first by `firstIndent`, which may already be filled by the caller).
std::string wrap(const std::string& text, size_t width, size_t indent, size_t firstColumn)
{
    std::string out;
    size_t column = firstColumn;
    size_t at = 0;
    bool lineStart = true;
    while (at < text.size()) {
        if (text[at] == '\n') {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            lineStart = true;
            ++at;
            continue;
        }
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\n')
            ++end;
        const size_t length = end - at;
        if (!lineStart && column + 1 + length > width) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            lineStart = true;
        }
        if (!lineStart) {
            out += ' ';
            ++column;
        }
        out.append(text, at, length);
        column += length;
        lineStart = false;
        at = end;
    }
    return out;
}

std::string optionSynopsis(const OptionDef& option)
{
    std::string text;
    if (option.shortName != 0)
        text = std::string("-") + option.shortName + ", ";
    text += optionLabel(option);
    if (option.valueName != nullptr)
        text += std::string(" ") + option.valueName;
    return text;
}

std::string optionsHelp(unsigned bit, size_t width)
{
    std::string out;
    std::vector<const char*> groups;
    for (const OptionDef& option : Options) {
        if ((option.commands & bit) != 0 &&
            std::find(groups.begin(), groups.end(), option.group) == groups.end())
            groups.push_back(option.group);
    }
    const size_t column = 28;
    for (const char* group : groups) {
        out += "\n" + wrap(std::string(group) + ":", width, 2, 0) + "\n";
        for (const OptionDef& option : Options) {
            if ((option.commands & bit) == 0 || option.group != group)
                continue;
            std::string line = "  " + optionSynopsis(option);
            if (line.size() + 2 > column) {
                out += line + "\n";
                line.assign(column, ' ');
            } else {
                line.resize(column, ' ');
            }
            out += line + wrap(option.help, width, column, column) + "\n";
        }
    }
    return out;
}

std::string indentedLines(const std::string& text, const std::string& indent)
{
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        out += indent + text.substr(at, end == std::string::npos ? std::string::npos : end - at) +
               "\n";
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return out;
}

// Levenshtein distance, without regard to ASCII case.
size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Roff text with its special characters escaped.
std::string roff(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string joined(const std::vector<std::string>& words, const char* separator)
{
    std::string out;
    for (const std::string& word : words)
        out += (out.empty() ? "" : separator) + word;
    return out;
}

} // namespace

std::string nearestWord(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string best;
    size_t bestDistance = 0;
    const std::string lowered = lowerCase(word);
    for (const std::string& candidate : candidates) {
        const std::string other = lowerCase(candidate);
        // A prefix that is long enough is as good as a typo ("--bev" for "--bevel").
        const bool prefix = lowered.size() >= 4 && other.rfind(lowered, 0) == 0;
        const size_t distance = prefix ? 1 : editDistance(lowered, other);
        const size_t allowed = std::max<size_t>(1, std::min(word.size(), candidate.size()) / 3);
        if (distance <= allowed && (best.empty() || distance < bestDistance)) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

std::string helpHint(const std::string& topic)
{
    return "see 'oryn3d " + (topic.empty() ? std::string() : topic + " ") + "--help'";
}

int parseCommandLine(const std::vector<std::string>& args, Invocation& q, std::string& error)
{
    q = Invocation();
    size_t at = 0;
    // Options before the command: help, version, the man page and completions.
    for (; at < args.size() && args[at].size() > 1 && args[at][0] == '-'; ++at) {
        const std::string& arg = args[at];
        if (arg == "-h" || arg == "--help") {
            q.command = Command::Help;
            return 0;
        }
        if (arg == "--version" || arg == "-V") {
            q.command = Command::Version;
            return 0;
        }
        if (arg == "--man-page") {
            q.command = Command::ManPage;
            return 0;
        }
        if (arg == "--completion" || arg.rfind("--completion=", 0) == 0) {
            q.shell = arg.size() > 13 ? arg.substr(13) : at + 1 < args.size() ? args[++at] : "";
            if (q.shell != "bash" && q.shell != "zsh" && q.shell != "fish") {
                error = "--completion needs bash, zsh or fish" +
                        (q.shell.empty() ? std::string() : ", not '" + q.shell + "'") + "; " +
                        helpHint("");
                return 1;
            }
            q.command = Command::Completion;
            return 0;
        }
        std::vector<std::string> known = {"--help", "--version", "--man-page", "--completion"};
        // An option of a command given before the command.
        const std::string name = arg.substr(0, arg.find('='));
        if (name.size() > 2 && findOption(name.substr(2)) != nullptr) {
            error = name + " belongs after a command, as in 'oryn3d render INPUT -o OUTPUT " +
                    name + " ...'; " + helpHint("");
            return 1;
        }
        error = "unknown option '" + name + "'" + didYouMean(name, known) + "; " + helpHint("");
        return 1;
    }
    if (at >= args.size()) {
        error = "a command is needed: render, preview or presets; " + helpHint("");
        return 1;
    }
    std::string word = args[at++];
    if (word == "help") {
        q.command = Command::Help;
        for (; at < args.size(); ++at)
            q.helpTopic += (q.helpTopic.empty() ? "" : " ") + args[at];
        if (!q.helpTopic.empty() && q.helpTopic != "presets" &&
            findCommand(q.helpTopic) == nullptr) {
            error = "no help on '" + q.helpTopic + "'" + didYouMean(q.helpTopic, TopWords) + "; " +
                    helpHint("");
            return 1;
        }
        return 0;
    }
    if (word == "presets") {
        if (at >= args.size() || args[at] == "-h" || args[at] == "--help") {
            if (at < args.size()) {
                q.command = Command::Help;
                q.helpTopic = "presets";
                return 0;
            }
            error =
                "'oryn3d presets' needs a command: list, show, save, delete, rename, export, "
                "import or sheet; " +
                helpHint("presets");
            return 1;
        }
        const std::string sub = args[at++];
        const CommandDef* command = findCommand("presets " + sub);
        if (command == nullptr) {
            error = "'" + sub + "' is not a presets command" + didYouMean(sub, PresetWords) +
                    "; the commands are list, show, save, delete, rename, export, import and sheet; " +
                    helpHint("presets");
            return 1;
        }
        return parseCommand(*command, args, at, q, error);
    }
    const CommandDef* command = findCommand(word);
    if (command == nullptr) {
        std::string near = nearestWord(word, TopWords);
        if (near.empty() && nearestWord(word, PresetWords) != "")
            near = "presets " + nearestWord(word, PresetWords);
        error = "'" + word + "' is not a command" +
                (near.empty() ? std::string() : " (did you mean '" + near + "'?)") +
                "; the commands are render, preview and presets; " + helpHint("");
        return 1;
    }
    return parseCommand(*command, args, at, q, error);
}

int helpWidth()
{
    struct winsize size {};
    int width = 0;
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
        width = size.ws_col;
    if (width <= 0) {
        const char* columns = std::getenv("COLUMNS");
        width = columns != nullptr ? std::atoi(columns) : 0;
    }
    if (width <= 0)
        width = 80;
    return std::max(40, std::min(width, 200));
}

std::string helpText(const std::string& topic, int columns)
{
    const size_t width = static_cast<size_t>(columns);
    std::string out;
    if (topic.empty()) {
        out = wrap("oryn3d " + std::string(ToolVersion) +
                       ": turns RGB images into a relief of pleated, shaded cells.",
                   width, 0, 0) +
              "\n\nUsage: oryn3d COMMAND [options] [arguments]\n\nCommands:\n";
        for (const CommandDef& command : Commands) {
            std::string line = "  " + std::string(command.path);
            line.resize(18, ' ');
            out += line + wrap(command.summary, width, 18, 18) + "\n";
        }
        out += "\nOptions:\n";
        const char* const top[][2] = {
            {"-h, --help", "Show this help; 'oryn3d COMMAND --help' shows a command's options"},
            {"-V, --version", "Show the version"},
            {"--man-page", "Print the man page (troff)"},
            {"--completion SHELL", "Print the completion script for bash, zsh or fish"}};
        for (const auto& entry : top) {
            std::string line = std::string("  ") + entry[0];
            line.resize(24, ' ');
            out += line + wrap(entry[1], width, 24, 24) + "\n";
        }
        out += "\nExamples:\n" +
               indentedLines("oryn3d render photo.jpg -o relief.jpg --preset Roof\n"
                             "oryn3d render *.jpg -o reliefs/ --quality 90\n"
                             "oryn3d presets save Mine --preset Roof --bevel 20 --with-light",
                             "  ") +
               "\n" +
               wrap("Exit status: 0 success, 1 a file or the filter failed, 2 a wrong command "
                    "line, 128 + N stopped by signal N (130 for Ctrl-C).",
                    width, 0, 0) +
               "\n";
        return out;
    }
    if (topic == "presets") {
        out = wrap("Sample and user presets for --preset. User presets are kept in "
                   "$XDG_CONFIG_HOME/oryn3d/presets.sqlite3 (default ~/.config/oryn3d).",
                   width, 0, 0) +
              "\n\nUsage: oryn3d presets COMMAND [arguments]\n\nCommands:\n";
        for (const CommandDef& command : Commands) {
            if (std::strncmp(command.path, "presets ", 8) != 0)
                continue;
            std::string line = "  " + std::string(command.path + 8) + " " + command.arguments;
            line.resize(22, ' ');
            out += line + wrap(command.summary, width, 22, 22) + "\n";
        }
        return out + "\n" +
               wrap("Run 'oryn3d presets COMMAND --help' for a command's options.", width, 0, 0) +
               "\n";
    }
    const CommandDef* command = findCommand(topic);
    if (command == nullptr)
        return helpText("", columns);
    out = "Usage: oryn3d " + std::string(command->path) + " " + command->arguments +
          " [options]\n\n" + wrap(command->summary, width, 0, 0) + "\n";
    if (command->details != nullptr)
        out += "\n" + wrap(command->details, width, 0, 0) + "\n";
    out += optionsHelp(command->bit, width);
    out += "\nExamples:\n" + indentedLines(command->examples, "  ");
    return out;
}

namespace {

// A man page section of plain paragraphs.
std::string roffSection(const char* title, const std::vector<std::string>& paragraphs)
{
    std::string out = std::string(".SH ") + title + "\n";
    for (size_t i = 0; i < paragraphs.size(); ++i)
        out += (i > 0 ? ".PP\n" : "") + roff(paragraphs[i]) + "\n";
    return out;
}

} // namespace

std::string manPage()
{
    std::string out = ".TH ORYN3D 1 \"\" \"oryn3d " + std::string(ToolVersion) +
                      "\" \"User Commands\"\n"
                      ".SH NAME\noryn3d \\- turn images into a relief of pleated, shaded cells\n"
                      ".SH SYNOPSIS\n";
    for (const CommandDef& command : Commands)
        out += ".B oryn3d " + roff(command.path) + "\n.RI [ options ] \" " +
               roff(command.arguments) + "\"\n.br\n";
    out += ".B oryn3d\n[\\-\\-help] [\\-\\-version] [\\-\\-man\\-page] [\\-\\-completion "
           "\\fISHELL\\fP]\n"
           ".SH DESCRIPTION\n"
           "oryn3d applies the Oryn 3D relief filter to image files, with the same render code as "
           "the filter module. Every option sets one control of the filter's dialog, in the "
           "control's own units.\n"
           ".SH COMMANDS\n";
    for (const CommandDef& command : Commands) {
        out += ".SS \"oryn3d " + roff(command.path) + " " + roff(command.arguments) + "\"\n" +
               roff(command.summary) + "\n";
        if (command.details != nullptr)
            out += ".PP\n" + roff(command.details) + "\n";
        for (const OptionDef& option : Options) {
            if ((option.commands & command.bit) == 0 || std::strcmp(option.name, "help") == 0)
                continue;
            out += ".TP\n.B " + roff(optionSynopsis(option)) + "\n" + roff(option.help) + "\n";
        }
        out += ".PP\nExample:\n.nf\n" + roff(command.examples) + "\n.fi\n";
    }
    out += ".SH EXIT STATUS\n0 success; 1 a file or the filter failed (in a batch: any input); 2 a "
           "wrong command line; 128 + N when stopped by signal N (130 for Ctrl\\-C), with nothing "
           "left behind.\n"
           ".SH ENVIRONMENT\n.TP\n.B XDG_CONFIG_HOME\nWhere the preset store lives "
           "(oryn3d/presets.sqlite3; default ~/.config).\n.TP\n.B ORYN_THREADS\nDefault for "
           "\\-\\-threads.\n"
           ".SH FILES\n.TP\n.I ~/.config/oryn3d/presets.sqlite3\nUser presets and the \"Last "
           "Used\" record.\n";
    out += roffSection("IMAGES", {
        "Inputs are anything the installed libvips reads, or - for standard input (read up to 1 "
        "GiB). Grey becomes RGB, grey with alpha RGBA; CMYK and other colour spaces are "
        "converted to sRGB and 16-bit samples reduced to 8 bits, each with a note. Images are at "
        "most 32767 pixels a side. Only the first frame or page of a many-frame file is "
        "filtered, with a note.",
        "Outputs are PNG, JPEG, TIFF or WebP, by the extension or --format. RGB stays RGB and "
        "RGBA stays RGBA; --background transparent adds an alpha channel, which JPEG cannot "
        "hold. The output keeps the input's colour profile, EXIF (without its thumbnail) and "
        "XMP, and is written upright unless --keep-orientation. --quality also sets the quality "
        "of TIFF's jpeg compression.",
        "Every file is written under a hidden temporary name (.NAME.oryn3d-XXXXXX) in its folder "
        "and renamed when complete; one left by a killed run is removed by the next run into "
        "that folder. A device or pipe (/dev/null, /dev/stdout) is written directly, and only "
        "once the file is complete. A render never replaces its own input or mask.",
    });
    out += roffSection("MASKS", {
        "--mask takes a grey image with one channel, the input's size: 0 not selected, 255 "
        "selected. As in the filter module, where a cell samples the image outside the "
        "selection the output gets the background (--background), not the original pixel. To "
        "keep the original outside the selection, combine afterwards, for example: vips "
        "ifthenelse mask.png relief.png photo.jpg result.png --blend",
    });
    out += roffSection("PRESETS", {
        "User presets live in $XDG_CONFIG_HOME/oryn3d/presets.sqlite3 (by default "
        "~/.config/oryn3d), each the 64-byte record the filter module stores; export, import, "
        "--block and --save-block use the same record as a file.",
        "Names have 1 to 19 characters; blanks at both ends and a leading '>' are dropped; case "
        "does not matter for A-Z. A name that begins with '>' again or holds a control "
        "character, a line separator or a direction override is refused. A sample's name "
        "picks the sample (also for presets show and delete; samples cannot be deleted); "
        "'>NAME' picks the user preset NAME.",
        "A successful render stores its settings as \"Last Used\"; --preset \"Last Used\" "
        "renders them exactly as stored. Runs wait up to 10 seconds for each other. A store that "
        "fails the integrity check, or a file in its place that is not one, is never written "
        "to.",
    });
    out += ".SH SEE ALSO\n.BR vips (1),\n.BR vipsthumbnail (1),\n.BR magick (1),\n.BR gimp (1),\n"
           ".BR sqlite3 (1)\n";
    return out;
}

// An awk program that turns 'oryn3d presets list --all' into the names to offer for a preset
// that start with `cur` in any case: the samples, and the user presets, with the '>' that picks
// one whose name a sample has.
const char* const PresetNamesAwk =
    "awk -v cur=\"$cur\" '{k=substr($0,1,8); n=substr($0,9); if (k ~ /^user/) u[++nu]=n; else "
    "{s[tolower(n)]=1; o[++no]=n}} END {for (i=1;i<=nu;i++) {m=(tolower(u[i]) in s) ? \">\" "
    "u[i] : u[i]; o[++no]=m} for (i=1;i<=no;i++) if (tolower(substr(o[i],1,length(cur))) == "
    "tolower(cur)) print o[i]}'";

std::string completionScript(const std::string& shell)
{
    // Per command: its options, and for options with fixed values those values.
    struct Entry {
        std::string path;
        std::vector<std::string> options;
    };
    std::vector<Entry> entries;
    for (const CommandDef& command : Commands)
        entries.push_back({command.path, optionNames(command.bit)});

    // Options whose value is a file, a preset name, one of fixed words, or anything else (a
    // number, a colour, a pair), which gets no file names.
    std::vector<std::string> fileValued;
    std::vector<std::string> otherValued;
    std::vector<std::pair<std::string, std::string>> choices;
    for (const OptionDef& option : Options) {
        if (option.valueName == nullptr)
            continue;
        std::vector<std::string> spellings = {std::string("--") + option.name};
        if (option.shortName != 0)
            spellings.push_back(std::string("-") + option.shortName);
        const std::string value = option.valueName;
        if (option.choices != nullptr && option.choices[0] != '\0')
            choices.push_back({std::string("--") + option.name, option.choices});
        else if (value == "FILE" || value == "OUTPUT")
            fileValued.insert(fileValued.end(), spellings.begin(), spellings.end());
        else if (value != "NAME")
            otherValued.insert(otherValued.end(), spellings.begin(), spellings.end());
    }

    if (shell == "bash" || shell == "zsh") {
        std::string out;
        // In zsh, _oryn3d is the completion file itself, so the bash-style function is renamed.
        const std::string function = shell == "zsh" ? "_oryn3d_words" : "_oryn3d";
        if (shell == "zsh")
            out += "#compdef oryn3d\nautoload -U +X bashcompinit && bashcompinit\n";
        out += "# oryn3d completion, made by 'oryn3d --completion " + shell +
               "'\n"
               "_oryn3d_presets() {\n"
               "    local IFS=$'\\n'\n"
               "    COMPREPLY=($(oryn3d presets list --all 2>/dev/null | " +
               PresetNamesAwk +
               "))\n"
               "}\n" +
               function +
               "() {\n"
               "    local cur prev words cword\n"
               "    cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "    local command=${COMP_WORDS[1]} sub=${COMP_WORDS[2]}\n"
               "    if [ \"$prev\" = --completion ]; then\n"
               "        COMPREPLY=($(compgen -W 'bash zsh fish' -- \"$cur\")); return\n"
               "    fi\n"
               "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
               "        COMPREPLY=($(compgen -W 'render preview presets help --help --version "
               "--man-page --completion' -- \"$cur\")); return\n"
               "    fi\n"
               "    if [ \"$command\" = presets ] && [ \"$COMP_CWORD\" -eq 2 ]; then\n"
               "        COMPREPLY=($(compgen -W '" +
               joined(PresetWords, " ") +
               "' -- \"$cur\")); return\n"
               "    fi\n"
               "    case \"$prev\" in\n";
        for (const auto& choice : choices)
            out += "        " + choice.first + ") COMPREPLY=($(compgen -W '" + choice.second +
                   "' -- \"$cur\")); return;;\n";
        out += "        --preset) _oryn3d_presets; return;;\n"
               "        " +
               joined(fileValued, "|") +
               ") COMPREPLY=($(compgen -f -- \"$cur\")); return;;\n"
               "        " +
               joined(otherValued, "|") +
               ") COMPREPLY=(); return;;\n"
               "    esac\n"
               "    local key=$command\n"
               "    [ \"$command\" = presets ] && key=\"presets $sub\"\n"
               "    local options=''\n"
               "    case \"$key\" in\n";
        for (const Entry& entry : entries)
            out += "        " + shellQuote(entry.path) + ") options='" +
                   joined(entry.options, " ") + "';;\n";
        out += "    esac\n"
               "    if [[ \"$cur\" == -* ]]; then\n"
               "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
               "    elif [ \"$command\" = presets ] && [ \"$COMP_CWORD\" -eq 3 ] &&\n"
               "         [[ \"$sub\" == @(show|delete|export) ]] && [[ \"$cur\" != */* ]]; then\n"
               "        _oryn3d_presets\n"
               "    elif [ \"$command\" = presets ] && [[ \"$sub\" == @(list|save|delete) ]]; then\n"
               "        COMPREPLY=()\n"
               "    else\n"
               "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
               "    fi\n"
               "}\n"
               "complete -o filenames -F " +
               function + " oryn3d\n";
        // zsh runs this file as the completion function itself: after defining the bash-style
        // function, complete the words now.
        if (shell == "zsh")
            out += "_bash_complete -o filenames -F " + function + " \"$@\"\n";
        return out;
    }
    if (shell == "fish") {
        std::string out = "# oryn3d completion, made by 'oryn3d --completion fish'\n"
                          "function __oryn3d_presets\n"
                          "    set -l cur (commandline -ct)\n"
                          "    oryn3d presets list --all 2>/dev/null | " +
                          std::string(PresetNamesAwk) +
                          "\n"
                          "end\n"
                          "complete -c oryn3d -f\n"
                          "complete -c oryn3d -n __fish_use_subcommand -a 'render preview "
                          "presets help'\n"
                          "complete -c oryn3d -n __fish_use_subcommand -l completion -x -a "
                          "'bash zsh fish' -d 'Print a shell completion script'\n"
                          "complete -c oryn3d -n '__fish_seen_subcommand_from presets; and not "
                          "__fish_seen_subcommand_from " +
                          joined(PresetWords, " ") + "' -a '" + joined(PresetWords, " ") +
                          "'\n"
                          "complete -c oryn3d -n '__fish_seen_subcommand_from presets; and "
                          "__fish_seen_subcommand_from show delete export' -x -a "
                          "'(__oryn3d_presets)'\n";
        for (const CommandDef& command : Commands) {
            const std::string path = command.path;
            const std::string last = path.substr(path.rfind(' ') + 1);
            const std::string condition =
                path.find(' ') == std::string::npos
                    ? "__fish_seen_subcommand_from " + path
                    : "__fish_seen_subcommand_from presets; and __fish_seen_subcommand_from " +
                          last;
            for (const OptionDef& option : Options) {
                if ((option.commands & command.bit) == 0)
                    continue;
                out += "complete -c oryn3d -n " + shellQuote(condition) + " -l " + option.name;
                if (option.shortName != 0)
                    out += std::string(" -s ") + option.shortName;
                if (option.valueName != nullptr) {
                    const std::string value = option.valueName;
                    if (option.choices != nullptr && option.choices[0] != '\0')
                        out += " -x -a " + shellQuote(option.choices);
                    else if (value == "NAME")
                        out += " -x -a '(__oryn3d_presets)'";
                    else if (value == "FILE" || value == "OUTPUT")
                        out += " -r -F";
                    else
                        out += " -x";
                }
                std::string help = option.help;
                size_t stop = std::min(help.find(". "), help.find_first_of(";("));
                stop = std::min(stop, help.find(", 0"));
                out += " -d " + shellQuote(help.substr(0, stop)) + "\n";
            }
            if (command.bit & (ImageBits | ShowBit | ExportBit | ImportBit | SheetBit))
                out += "complete -c oryn3d -n " + shellQuote(condition) + " -F\n";
        }
        return out;
    }
    return std::string();
}

} // namespace oryn
