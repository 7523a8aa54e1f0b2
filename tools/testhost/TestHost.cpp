// oryn-testhost: a small Windows host for filter modules (.8bf). It lists a module's property
// lists and drives its entry point the way image editors do, with images from files, logging
// every call and its result in a stable form that scripts can check.
#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/HostApi.h"
#include "tools/testhost/ImageFile.h"
#include "tools/testhost/PiplReader.h"

namespace oryn {

namespace {

// Functions that a module or Windows calls into: on 32-bit Windows the caller may keep only
// 4-byte stack alignment (as MSVC-built code does), so realign before any SSE spill.
#if defined(__i386__)
#define ORYN_CALLED_BACK __attribute__((force_align_arg_pointer))
#else
#define ORYN_CALLED_BACK
#endif

// Value written into the result slot before each call: a selector that answers nothing leaves it.
constexpr int16_t ResultSentinel = 0x7777;
// Bytes of guard after the record and the about record, to catch writes past their end.
constexpr size_t GuardBytes = 64;
constexpr uint8_t GuardFill = 0xA5;

// Process exit codes.
enum ExitCode {
    ExitOk = 0,
    ExitSelectorFailed = 1, // some selector answered other than noErr, or the run was cut short
    ExitUsage = 2,
    ExitModule = 3, // module not loadable, no usable PiPL, entry point not exported
    ExitImage = 4,  // an image file could not be read or written
    ExitCrash = 5,  // the module raised an exception the host did not expect
    ExitCheck = 6,  // the output failed --compare or --expect-rows
};

struct Options {
    std::string plugin;
    std::string in;
    std::string out;
    std::string mask;
    bool info = false;
    bool about = false;
    bool hasSelector = false;
    int16_t selector = 0;
    bool dialog = false;
    bool parent = false;
    bool noPlatformData = false;
    bool log = false;
    bool keepPartial = false;
    int32_t width = 64; // generated image when there is no --in
    int32_t height = 48;
    int32_t planes = 0; // 0: as many as the input has
    int32_t fill = 255; // value of planes the input does not have
    uint32_t fore = 0x000000;
    uint32_t back = 0xFFFFFF;
    bool hasPick = false;
    uint32_t pick = 0;
    int32_t cancelAtRow = -1;
    bool cancelAlways = false;
    int32_t maxSpace = 1 << 30;
    int32_t loopLimit = 100000;
    int32_t autoCloseMs = -1;
    std::string windowMap; // --window-map FILE
    uint32_t hostSig = fourCharCode("8BIM");
    std::string storeRecord; // file whose bytes become the stored "Last Used" value
    bool clearStore = false;
    bool showStore = false;
    std::string writeInput;       // write the source image to this file and stop
    std::string compare;          // image the output must equal, byte for byte
    int32_t compareFirstRow = 0;  // rows compared: [first, last)
    int32_t compareLastRow = INT32_MAX;
    bool hasExpectRows = false;   // rows that must all hold one colour
    int32_t expectFirstRow = 0;
    int32_t expectLastRow = 0;
    std::vector<uint8_t> expectColor;
};

// One buffer handed to the module by advanceState; kept so that its contents can be committed
// to the output image before the next request.
struct ServedBuffer {
    bool active = false;
    Rect rect = {};
    int16_t loPlane = 0;
    int16_t hiPlane = -1;
    int32_t rowBytes = 0;
    std::vector<uint8_t> bytes;
};

// The record the module sees, followed by guard bytes.
struct RecordBlock {
    FilterRecord record;
    uint8_t guard[GuardBytes];
};

struct AboutBlock {
    AboutRecord record;
    uint8_t guard[GuardBytes];
};

// State of one run, reached by the host callbacks (which receive no context of their own).
struct HostRun {
    const Options* options = nullptr;
    Image source; // options' plane count, interleaved
    Image output; // starts as a copy of source; committed buffers land here
    Image mask;   // one channel, or empty
    FilterRecord* record = nullptr;
    ServedBuffer in;
    ServedBuffer out;
    ServedBuffer maskBuffer;
    int32_t advanceCalls = 0;
    int32_t advanceErrors = 0;
    int32_t progressCalls = 0;
    int32_t progressBackwards = 0;
    int32_t firstDone = 0, firstTotal = 0, lastDone = 0, lastTotal = 0;
    bool cancelRowSeen = false;
    int32_t abortCalls = 0;
    int32_t abortYes = 0;
    int32_t colorCalls = 0;
};

HostRun* activeRun = nullptr;
CRITICAL_SECTION printLock;
const char* currentCall = "load";
HWND parentWindow = nullptr;

// Every line of output goes through here: whole lines, flushed, from either thread.
void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

void say(const char* format, ...)
{
    EnterCriticalSection(&printLock);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    LeaveCriticalSection(&printLock);
}

// Text in double quotes with control characters, quotes and backslashes escaped.
std::string quoted(const std::string& text)
{
    std::string result = "\"";
    for (unsigned char c : text) {
        if (c == '\n') {
            result += "\\n";
        } else if (c == '\r') {
            result += "\\r";
        } else if (c == '\t') {
            result += "\\t";
        } else if (c == '"' || c == '\\') {
            result += '\\';
            result += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            result += hex;
        } else {
            result += char(c);
        }
    }
    return result + "\"";
}

std::string rectText(const Rect& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d,%d,%d)", r.top, r.left, r.bottom, r.right);
    return text;
}

bool rectEmpty(const Rect& r)
{
    return !(r.left < r.right && r.top < r.bottom);
}

// ---------------------------------------------------------------------------------------------
// Command line

const char HelpText[] =
    "usage: oryn-testhost --plugin FILE.8bf [what] [options]\n"
    "\n"
    "Loads a filter module, lists every PiPL it carries and calls the entry point that the first\n"
    "well-formed filter PiPL names for this host's bitness (wx86 in a 32-bit host, 8664 in a\n"
    "64-bit one).\n"
    "\n"
    "What to do (one of; default: a filter run):\n"
    "  --info             only list the PiPL resources and check the entry point\n"
    "  --about            call the about selector (0) with an AboutRecord\n"
    "  --selector N       call selector N once with a filled FilterRecord and report\n"
    "  (default)          a filter run: [parameters] prepare start {continue} finish\n"
    "\n"
    "Run options:\n"
    "  --in FILE          input image (anything stb_image reads: PNG, BMP, JPEG, ...)\n"
    "  --size WxH         without --in: a generated image, sample = (x*7 + y*13 + plane*61)\n"
    "  --write-input FILE write the source image (generated or read, with --planes planes) to\n"
    "                     FILE (.png or .bmp) and stop; no module is needed\n"
    "                     mod 256; default 64x48\n"
    "  --out FILE         output image, .png or .bmp; written only when the run succeeds\n"
    "  --keep-partial     write the output even when a selector failed\n"
    "  --mask FILE        selection mask (read as grey, 255 = selected); sets haveMask\n"
    "  --planes N         planes passed to the module (1..32); default 3, or 4 for RGBA input;\n"
    "                     planes the input lacks are filled with --fill V (default 255)\n"
    "  --dialog           call the parameters selector first, as a host showing the dialog\n"
    "  --fore RRGGBB      foreground colour (default 000000)\n"
    "  --back RRGGBB      background colour (default FFFFFF)\n"
    "  --pick RRGGBB      colour the colour picker answers; without it the picker cancels\n"
    "  --cancel-at-row N  abortProc answers 1 once progress (done) has reached N\n"
    "  --cancel-always    abortProc always answers 1\n"
    "  --max-space N      maxSpace offered before prepare (default 1073741824)\n"
    "  --loop-limit N     most continue calls before the run is cut short (default 100000)\n"
    "  --host-sig CODE    four-character host signature (default 8BIM)\n"
    "  --log              print every progress, abort and host call\n"
    "\n"
    "Stored parameters (the filter's registry key, this bitness's view):\n"
    "  --clear-store      delete the filter's stored presets and last-used record first\n"
    "  --store-last-used HEX|@FILE  store these bytes (hex, or a file's) as the \"Last Used\"\n"
    "                     record before loading the module\n"
    "  --show-store       after the run, print the stored \"Last Used\" record in hex\n"
    "\n"
    "Checks of the output image (printed as 'compare ...' and 'expect ...' lines; a failed check\n"
    "makes the exit status 6):\n"
    "  --compare FILE     the output must equal FILE's pixels byte for byte\n"
    "  --compare-rows A:B compare only rows A to B-1\n"
    "  --expect-rows A:B COLOUR  rows A to B-1 must all hold COLOUR (RRGGBB or RRGGBBAA)\n"
    "\n"
    "Windows:\n"
    "  --parent           pass a real top-level window as platformData->hwnd (default 0)\n"
    "  --no-platform-data pass a null platformData\n"
    "  --window-map FILE  append to FILE, for every dialog or message box of this process that\n"
    "                     appears, its screen client origin and size and each child control's\n"
    "                     id, class and client rectangle, then 'end'; for an opened combo box\n"
    "                     list its screen rectangle ('droplist'); 'closed' when either goes.\n"
    "                     Scripts that drive the dialogs with real input read it.\n"
    "  --auto-close-ms N  N ms after a dialog or message box of this process appears, report\n"
    "                     its caption, owner and text and press its default button\n"
    "\n"
    "Output: one line per event, e.g. 'call start -> -128'; 'changed <call>: <fields>' names\n"
    "the FilterRecord fields whose bytes differ after the call. A selector that writes no\n"
    "result shows the sentinel 30583 and 'untouched'.\n"
    "Exit status: 0 every selector answered noErr, 1 a selector failed, 2 usage, 3 module or\n"
    "PiPL unusable, 4 image file error, 5 the module raised an exception.\n";

int parseInt(const char* text, long low, long high, int32_t& value)
{
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < low || parsed > high)
        return 1;
    value = int32_t(parsed);
    return 0;
}

int parseColor(const char* text, uint32_t& value)
{
    if (std::strlen(text) != 6)
        return 1;
    for (int i = 0; i < 6; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return 1;
    value = uint32_t(std::strtoul(text, nullptr, 16));
    return 0;
}

int parseSize(const char* text, int32_t& width, int32_t& height)
{
    const char* x = std::strchr(text, 'x');
    if (x == nullptr)
        return 1;
    std::string w(text, x);
    return parseInt(w.c_str(), 1, 32767, width) || parseInt(x + 1, 1, 32767, height);
}

// Returns 0 when the arguments make a valid request, else 1 after saying why.
int parseOptions(int argc, char** argv, Options& options, bool& help)
{
    help = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() {
            if (next == nullptr) {
                say("error: %s needs a value", arg.c_str());
                return false;
            }
            ++i;
            return true;
        };
        auto bad = [&]() {
            say("error: bad value for %s: %s", arg.c_str(), next);
            return 1;
        };
        int32_t number = 0;
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--plugin") {
            if (!needValue())
                return 1;
            options.plugin = next;
        } else if (arg == "--in") {
            if (!needValue())
                return 1;
            options.in = next;
        } else if (arg == "--out") {
            if (!needValue())
                return 1;
            options.out = next;
            if (imageFormatFor(options.out) == ImageFormat::Unknown) {
                say("error: --out must end in .png or .bmp: %s", next);
                return 1;
            }
        } else if (arg == "--mask") {
            if (!needValue())
                return 1;
            options.mask = next;
        } else if (arg == "--info") {
            options.info = true;
        } else if (arg == "--about") {
            options.about = true;
        } else if (arg == "--selector") {
            if (!needValue())
                return 1;
            if (parseInt(next, INT16_MIN, INT16_MAX, number))
                return bad();
            options.hasSelector = true;
            options.selector = int16_t(number);
        } else if (arg == "--dialog") {
            options.dialog = true;
        } else if (arg == "--parent") {
            options.parent = true;
        } else if (arg == "--no-platform-data") {
            options.noPlatformData = true;
        } else if (arg == "--log") {
            options.log = true;
        } else if (arg == "--keep-partial") {
            options.keepPartial = true;
        } else if (arg == "--size") {
            if (!needValue())
                return 1;
            if (parseSize(next, options.width, options.height))
                return bad();
        } else if (arg == "--planes") {
            if (!needValue())
                return 1;
            if (parseInt(next, 1, 32, options.planes))
                return bad();
        } else if (arg == "--fill") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, 255, options.fill))
                return bad();
        } else if (arg == "--fore" || arg == "--back" || arg == "--pick") {
            if (!needValue())
                return 1;
            uint32_t color = 0;
            if (parseColor(next, color))
                return bad();
            if (arg == "--fore") {
                options.fore = color;
            } else if (arg == "--back") {
                options.back = color;
            } else {
                options.pick = color;
                options.hasPick = true;
            }
        } else if (arg == "--cancel-at-row") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, INT32_MAX, options.cancelAtRow))
                return bad();
        } else if (arg == "--cancel-always") {
            options.cancelAlways = true;
        } else if (arg == "--max-space") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, INT32_MAX, options.maxSpace))
                return bad();
        } else if (arg == "--loop-limit") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, INT32_MAX, options.loopLimit))
                return bad();
        } else if (arg == "--auto-close-ms") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, 600000, options.autoCloseMs))
                return bad();
        } else if (arg == "--store-last-used") {
            if (!needValue())
                return 1;
            options.storeRecord = next;
        } else if (arg == "--write-input") {
            if (!needValue())
                return 1;
            options.writeInput = next;
        } else if (arg == "--compare") {
            if (!needValue())
                return 1;
            options.compare = next;
        } else if (arg == "--compare-rows" || arg == "--expect-rows") {
            if (!needValue())
                return 1;
            int first = 0;
            int last = 0;
            if (std::sscanf(next, "%d:%d", &first, &last) != 2 || first < 0 || last < first)
                return bad();
            if (arg == "--compare-rows") {
                options.compareFirstRow = first;
                options.compareLastRow = last;
            } else {
                const char* colour = i + 1 < argc ? argv[i + 1] : nullptr;
                size_t length = colour != nullptr ? std::strlen(colour) : 0;
                if (length != 6 && length != 8) {
                    say("error: --expect-rows needs ROWS and a colour RRGGBB or RRGGBBAA");
                    return 1;
                }
                ++i;
                options.expectColor.clear();
                for (size_t k = 0; k < length; k += 2) {
                    char digits[3] = {colour[k], colour[k + 1], 0};
                    char* end = nullptr;
                    long value = std::strtol(digits, &end, 16);
                    if (end != digits + 2) {
                        say("error: bad colour %s", colour);
                        return 1;
                    }
                    options.expectColor.push_back(uint8_t(value));
                }
                options.hasExpectRows = true;
                options.expectFirstRow = first;
                options.expectLastRow = last;
            }
        } else if (arg == "--clear-store") {
            options.clearStore = true;
        } else if (arg == "--window-map") {
            if (!needValue())
                return 1;
            options.windowMap = next;
        } else if (arg == "--show-store") {
            options.showStore = true;
        } else if (arg == "--host-sig") {
            if (!needValue())
                return 1;
            if (std::strlen(next) != 4)
                return bad();
            options.hostSig = uint32_t(uint8_t(next[0])) << 24 | uint32_t(uint8_t(next[1])) << 16 |
                              uint32_t(uint8_t(next[2])) << 8 | uint32_t(uint8_t(next[3]));
        } else {
            say("error: unknown argument %s (try --help)", arg.c_str());
            return 1;
        }
    }
    if (help)
        return 0;
    if (options.plugin.empty() && options.writeInput.empty()) {
        say("error: --plugin is required (try --help)");
        return 1;
    }
    if (int(options.info) + int(options.about) + int(options.hasSelector) > 1) {
        say("error: --info, --about and --selector exclude each other");
        return 1;
    }
    if (options.parent && options.noPlatformData) {
        say("error: --parent and --no-platform-data exclude each other");
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// PiPL listing

const char* const ModeNames[] = {
    "Bitmap",  "Grayscale", "Indexed", "RGB",   "CMYK",   "HSL",    "HSB",
    "Multichannel", "Duotone", "Lab", "Gray16", "RGB48", "Lab48", "CMYK64",
    "DeepMultichannel", "Duotone16", "RGB96", "Gray32",
};

const char* const CaseNames[PiplCaseCount] = {
    "flat",
    "flat+selection",
    "floating",
    "editable-transparency",
    "editable-transparency+selection",
    "protected-transparency",
    "protected-transparency+selection",
};

std::string resourceName(const char* name)
{
    if (IS_INTRESOURCE(name))
        return std::to_string(unsigned(reinterpret_cast<uintptr_t>(name)));
    return quoted(name);
}

void printPipl(const PiplInfo& info)
{
    say("  header prelude %d version %d count %d", info.prelude, int(info.version),
        int(info.count));
    for (size_t i = 0; i < info.properties.size(); ++i) {
        const PiplProperty& p = info.properties[i];
        say("  property %u offset %u vendor %s key %s id %d length %d", unsigned(i),
            unsigned(p.offset), fourCharText(p.vendor).c_str(), fourCharText(p.key).c_str(),
            int(p.id), int(p.length));
    }
    if (info.hasKind)
        say("  kind %s", fourCharText(info.kind).c_str());
    if (info.hasName)
        say("  name %s", quoted(info.name).c_str());
    if (info.hasCategory)
        say("  category %s", quoted(info.category).c_str());
    if (info.hasVersion)
        say("  version %d.%d (0x%08x)", int(info.interfaceVersion >> 16),
            int(info.interfaceVersion & 0xFFFF), unsigned(info.interfaceVersion));
    for (const PiplEntryPoint& entry : info.entryPoints)
        say("  entry %s %s", fourCharText(entry.key).c_str(), quoted(entry.name).c_str());
    if (info.hasModes) {
        std::string bytes;
        std::string names;
        for (size_t i = 0; i < info.modes.size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", info.modes[i]);
            bytes += (i ? " " : "") + std::string(hex);
            for (int bit = 0; bit < 8; ++bit) {
                size_t mode = i * 8 + size_t(bit);
                if (info.modes[i] & (0x80 >> bit))
                    names += " " + (mode < sizeof ModeNames / sizeof ModeNames[0]
                                        ? std::string(ModeNames[mode])
                                        : "mode" + std::to_string(mode));
            }
        }
        say("  modes %s:%s", bytes.c_str(), names.c_str());
    }
    if (info.hasEnable)
        say("  enable %s", quoted(info.enableExpression).c_str());
    if (info.hasCases) {
        for (int c = 0; c < PiplCaseCount; ++c) {
            const PiplFilterCase& fc = info.cases[c];
            say("  case %d %s: input %d output %d flags %02x %02x", c + 1, CaseNames[c],
                fc.inputHandling, fc.outputHandling, fc.flags1, fc.flags2);
        }
    }
    for (const std::string& error : info.errors)
        say("  error: %s", error.c_str());
    say("  decoded %s", info.errors.empty() ? "ok" : "with errors");
}

struct FoundPipl {
    std::string label; // resource name and language
    PiplInfo info;
};

ORYN_CALLED_BACK BOOL CALLBACK collectLanguage(HMODULE module, LPCSTR type, LPCSTR name,
                                               WORD language, LONG_PTR context)
{
    auto* found = reinterpret_cast<std::vector<FoundPipl>*>(context);
    FoundPipl entry;
    entry.label = resourceName(name) + " language " + std::to_string(language);
    HRSRC resource = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(module, resource) : 0;
    say("pipl %s bytes %lu", entry.label.c_str(), static_cast<unsigned long>(size));
    readPipl(static_cast<const uint8_t*>(bytes), bytes != nullptr ? size : 0, entry.info);
    printPipl(entry.info);
    found->push_back(entry);
    return TRUE;
}

ORYN_CALLED_BACK BOOL CALLBACK collectName(HMODULE module, LPCSTR type, LPSTR name,
                                           LONG_PTR context)
{
    EnumResourceLanguagesA(module, type, name, collectLanguage, context);
    return TRUE;
}

// Lists every PiPL of the module and picks the first well-formed filter PiPL that names an entry
// point for this bitness. Returns the entry, or null after saying why there is none.
PluginEntryProc findEntry(HMODULE module)
{
    std::vector<FoundPipl> found;
    EnumResourceNamesA(module, "PIPL", collectName, reinterpret_cast<LONG_PTR>(&found));
    if (found.empty()) {
        say("error: the module has no PIPL resource");
        return nullptr;
    }
    const uint32_t key = sizeof(void*) == 8 ? PiplKeyEntryX64 : PiplKeyEntryX86;
    for (const FoundPipl& pipl : found) {
        const PiplEntryPoint* entry = findEntryPoint(pipl.info, key);
        if (!pipl.info.errors.empty() || !pipl.info.hasKind ||
            pipl.info.kind != PiplKindFilter || entry == nullptr)
            continue;
        say("using pipl %s entry %s %s", pipl.label.c_str(), fourCharText(key).c_str(),
            quoted(entry->name).c_str());
        FARPROC proc = GetProcAddress(module, entry->name.c_str());
        if (proc == nullptr) {
            say("error: entry point %s is not exported", quoted(entry->name).c_str());
            return nullptr;
        }
        return reinterpret_cast<PluginEntryProc>(reinterpret_cast<void*>(proc));
    }
    say("error: no well-formed filter PiPL names an entry point under %s",
        fourCharText(key).c_str());
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Images

uint8_t patternSample(int32_t x, int32_t y, int32_t plane)
{
    return uint8_t((x * 7 + y * 13 + plane * 61) & 255);
}

// Builds the source image with `planes` planes from a file or the generated pattern.
// Returns 0, or 1 after saying why.
int loadSource(const Options& options, Image& source)
{
    if (options.in.empty()) {
        int32_t planes = options.planes ? options.planes : 3;
        source.width = options.width;
        source.height = options.height;
        source.channels = planes;
        source.pixels.resize(size_t(source.width) * size_t(source.height) * size_t(planes));
        size_t i = 0;
        for (int32_t y = 0; y < source.height; ++y)
            for (int32_t x = 0; x < source.width; ++x)
                for (int32_t p = 0; p < planes; ++p)
                    source.pixels[i++] = patternSample(x, y, p);
        say("image generated %dx%d planes %d", int(source.width), int(source.height),
            int(planes));
        return 0;
    }
    Image file;
    std::string error;
    if (readImage(options.in, 0, file, error)) {
        say("error: %s", error.c_str());
        return 1;
    }
    if (file.width > 32767 || file.height > 32767) {
        say("error: %s is %dx%d; the record holds at most 32767 rows and columns",
            options.in.c_str(), int(file.width), int(file.height));
        return 1;
    }
    int32_t planes = options.planes ? options.planes : file.channels;
    source.width = file.width;
    source.height = file.height;
    source.channels = planes;
    source.pixels.resize(size_t(source.width) * size_t(source.height) * size_t(planes));
    size_t pixelCount = size_t(file.width) * size_t(file.height);
    for (size_t i = 0; i < pixelCount; ++i)
        for (int32_t p = 0; p < planes; ++p)
            source.pixels[i * planes + p] =
                p < file.channels ? file.pixels[i * file.channels + p] : uint8_t(options.fill);
    say("image %s %dx%d channels %d planes %d", options.in.c_str(), int(file.width),
        int(file.height), int(file.channels), int(planes));
    return 0;
}

int loadMask(const Options& options, const Image& source, Image& mask)
{
    std::string error;
    if (readImage(options.mask, 1, mask, error)) {
        say("error: %s", error.c_str());
        return 1;
    }
    if (mask.width != source.width || mask.height != source.height) {
        say("error: mask %s is %dx%d, the image %dx%d", options.mask.c_str(), int(mask.width),
            int(mask.height), int(source.width), int(source.height));
        return 1;
    }
    say("mask %s %dx%d", options.mask.c_str(), int(mask.width), int(mask.height));
    return 0;
}

// Writes the first (at most 4) planes of the output: to a temporary name, then renamed, so that
// a failed write never leaves a partial file under the requested name.
// Compares the output with --compare and checks --expect-rows. Returns 0 when every check holds.
int checkOutput(const Options& options, const Image& output)
{
    int failed = 0;
    const size_t channels = size_t(output.channels < 4 ? output.channels : 4);
    auto sample = [&](const Image& image, int32_t x, int32_t y, size_t p) {
        return image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * size_t(image.channels) + p];
    };
    if (!options.compare.empty()) {
        Image expected;
        std::string error;
        if (readImage(options.compare, int(channels), expected, error)) {
            say("compare error: %s", error.c_str());
            return 1;
        }
        if (expected.width != output.width || expected.height != output.height) {
            say("compare differs: size %dx%d, expected %dx%d", int(output.width),
                int(output.height), int(expected.width), int(expected.height));
            return 1;
        }
        int32_t last = options.compareLastRow < output.height ? options.compareLastRow : output.height;
        size_t differing = 0;
        for (int32_t y = options.compareFirstRow; y < last; ++y)
            for (int32_t x = 0; x < output.width; ++x)
                for (size_t p = 0; p < channels; ++p)
                    if (sample(output, x, y, p) != sample(expected, x, y, p)) {
                        if (differing == 0)
                            say("compare first difference at (%d, %d) plane %d: %d, expected %d",
                                int(x), int(y), int(p), int(sample(output, x, y, p)),
                                int(sample(expected, x, y, p)));
                        ++differing;
                    }
        if (differing != 0) {
            say("compare differs: %lu bytes", static_cast<unsigned long>(differing));
            failed = 1;
        } else {
            say("compare identical rows %d to %d", int(options.compareFirstRow), int(last - 1));
        }
    }
    if (options.hasExpectRows) {
        int32_t last = options.expectLastRow < output.height ? options.expectLastRow : output.height;
        size_t differing = 0;
        for (int32_t y = options.expectFirstRow; y < last; ++y)
            for (int32_t x = 0; x < output.width; ++x)
                for (size_t p = 0; p < channels && p < options.expectColor.size(); ++p)
                    if (sample(output, x, y, p) != options.expectColor[p])
                        ++differing;
        if (differing != 0 || last <= options.expectFirstRow) {
            say("expect rows differ: %lu bytes", static_cast<unsigned long>(differing));
            failed = 1;
        } else {
            say("expect rows %d to %d hold the colour", int(options.expectFirstRow), int(last - 1));
        }
    }
    return failed;
}

int writeOutput(const Options& options, const Image& output)
{
    Image file;
    file.width = output.width;
    file.height = output.height;
    file.channels = output.channels < 4 ? output.channels : 4;
    size_t pixelCount = size_t(output.width) * size_t(output.height);
    file.pixels.resize(pixelCount * size_t(file.channels));
    for (size_t i = 0; i < pixelCount; ++i)
        for (int32_t p = 0; p < file.channels; ++p)
            file.pixels[i * file.channels + p] = output.pixels[i * output.channels + p];

    std::string temporary = options.out + ".part";
    std::string error;
    if (writeImage(temporary, imageFormatFor(options.out), file, error)) {
        DeleteFileA(temporary.c_str());
        say("error: %s", error.c_str());
        return 1;
    }
    if (!MoveFileExA(temporary.c_str(), options.out.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        unsigned long code = GetLastError();
        DeleteFileA(temporary.c_str());
        say("error: cannot rename %s to %s (error %lu)", temporary.c_str(), options.out.c_str(),
            code);
        return 1;
    }
    say("output %s %dx%d channels %d", options.out.c_str(), int(file.width), int(file.height),
        int(file.channels));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Host callbacks

bool planesValid(int16_t lo, int16_t hi, int32_t planes)
{
    return lo >= 0 && lo <= hi && hi < planes;
}

bool rectInside(const Rect& r, const Image& image)
{
    return r.top >= 0 && r.left >= 0 && r.bottom <= image.height && r.right <= image.width;
}

// Copies the rectangle and planes of `image` into a fresh interleaved buffer.
void serve(ServedBuffer& buffer, const Image& image, const Rect& rect, int16_t lo, int16_t hi)
{
    int32_t width = rect.right - rect.left;
    int32_t height = rect.bottom - rect.top;
    int32_t n = hi - lo + 1;
    buffer.active = true;
    buffer.rect = rect;
    buffer.loPlane = lo;
    buffer.hiPlane = hi;
    buffer.rowBytes = width * n;
    buffer.bytes.assign(size_t(buffer.rowBytes) * size_t(height), 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = image.pixels.data() +
                             (size_t(rect.top + y) * size_t(image.width) + size_t(rect.left)) *
                                 size_t(image.channels);
        uint8_t* target = buffer.bytes.data() + size_t(y) * size_t(buffer.rowBytes);
        for (int32_t x = 0; x < width; ++x)
            for (int32_t p = 0; p < n; ++p)
                target[x * n + p] = row[size_t(x) * size_t(image.channels) + size_t(lo + p)];
    }
}

// Writes the output buffer the module had back into the output image.
void commit(ServedBuffer& buffer, Image& image)
{
    if (!buffer.active)
        return;
    const Rect& rect = buffer.rect;
    int32_t width = rect.right - rect.left;
    int32_t height = rect.bottom - rect.top;
    int32_t n = buffer.hiPlane - buffer.loPlane + 1;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image.pixels.data() +
                       (size_t(rect.top + y) * size_t(image.width) + size_t(rect.left)) *
                           size_t(image.channels);
        const uint8_t* from = buffer.bytes.data() + size_t(y) * size_t(buffer.rowBytes);
        for (int32_t x = 0; x < width; ++x)
            for (int32_t p = 0; p < n; ++p)
                row[size_t(x) * size_t(image.channels) + size_t(buffer.loPlane + p)] =
                    from[x * n + p];
    }
}

void release(ServedBuffer& buffer)
{
    buffer = ServedBuffer();
}

std::string requestText(const Rect& rect, int16_t lo, int16_t hi)
{
    if (rectEmpty(rect))
        return "empty";
    return rectText(rect) + " planes " + std::to_string(lo) + ".." + std::to_string(hi);
}

// advanceState: commits the previous output buffer, then serves the requested rectangles and
// planes as interleaved buffers (rowBytes = width x planes). An empty rectangle gets a null
// pointer; a request outside the image or its planes is not served and answers paramErr.
ORYN_CALLED_BACK OSErr hostAdvanceState()
{
    HostRun& run = *activeRun;
    FilterRecord& record = *run.record;
    ++run.advanceCalls;
    commit(run.out, run.output);
    release(run.in);
    release(run.out);
    release(run.maskBuffer);
    record.inData = nullptr;
    record.outData = nullptr;
    record.maskData = nullptr;
    record.inRowBytes = 0;
    record.outRowBytes = 0;
    record.maskRowBytes = 0;

    const int32_t planes = run.source.channels;
    const bool wantIn = !rectEmpty(record.inRect);
    const bool wantOut = !rectEmpty(record.outRect);
    const bool wantMask = !rectEmpty(record.maskRect) && record.haveMask;
    const char* problem = nullptr;
    if (wantIn && !rectInside(record.inRect, run.source))
        problem = "inRect outside the image";
    else if (wantIn && !planesValid(record.inLoPlane, record.inHiPlane, planes))
        problem = "in planes outside the image";
    else if (wantOut && !rectInside(record.outRect, run.source))
        problem = "outRect outside the image";
    else if (wantOut && !planesValid(record.outLoPlane, record.outHiPlane, planes))
        problem = "out planes outside the image";
    else if (wantMask && !rectInside(record.maskRect, run.source))
        problem = "maskRect outside the image";

    std::string line =
        "advance " + std::to_string(run.advanceCalls) + " in " +
        requestText(record.inRect, record.inLoPlane, record.inHiPlane) + " out " +
        requestText(record.outRect, record.outLoPlane, record.outHiPlane) + " mask " +
        (rectEmpty(record.maskRect) ? std::string("empty") : rectText(record.maskRect));
    if (problem != nullptr) {
        ++run.advanceErrors;
        say("%s -> %d (%s)", line.c_str(), paramErr, problem);
        return paramErr;
    }
    if (wantIn) {
        serve(run.in, run.source, record.inRect, record.inLoPlane, record.inHiPlane);
        record.inData = run.in.bytes.data();
        record.inRowBytes = run.in.rowBytes;
    }
    if (wantOut) {
        // The output starts as the destination as it stands: a copy of the source, plus
        // whatever earlier requests committed.
        serve(run.out, run.output, record.outRect, record.outLoPlane, record.outHiPlane);
        record.outData = run.out.bytes.data();
        record.outRowBytes = run.out.rowBytes;
    }
    if (wantMask) {
        serve(run.maskBuffer, run.mask, record.maskRect, 0, 0);
        record.maskData = run.maskBuffer.bytes.data();
        record.maskRowBytes = run.maskBuffer.rowBytes;
    }
    say("%s%s -> 0", line.c_str(),
        !rectEmpty(record.maskRect) && !record.haveMask ? " (no mask: not served)" : "");
    return noErr;
}

ORYN_CALLED_BACK void hostProgress(int32_t done, int32_t total)
{
    HostRun& run = *activeRun;
    if (run.progressCalls == 0) {
        run.firstDone = done;
        run.firstTotal = total;
    } else if (done < run.lastDone) {
        ++run.progressBackwards;
    }
    ++run.progressCalls;
    run.lastDone = done;
    run.lastTotal = total;
    if (run.options->cancelAtRow >= 0 && done >= run.options->cancelAtRow)
        run.cancelRowSeen = true;
    if (run.options->log)
        say("progress %d %d", int(done), int(total));
}

ORYN_CALLED_BACK Boolean hostAbort()
{
    HostRun& run = *activeRun;
    ++run.abortCalls;
    bool cancel = run.options->cancelAlways || run.cancelRowSeen;
    if (cancel)
        ++run.abortYes;
    if (run.options->log)
        say("abort -> %d", cancel ? 1 : 0);
    return cancel ? 1 : 0;
}

ORYN_CALLED_BACK OSErr hostColorServices(ColorServicesInfo* request)
{
    HostRun& run = *activeRun;
    ++run.colorCalls;
    ColorServicesInfo* info = request;
    if (info == nullptr) {
        say("color null -> %d", paramErr);
        return paramErr;
    }
    if (info->infoSize < int32_t(sizeof(ColorServicesInfo))) {
        say("color infoSize %d below %u -> %d", int(info->infoSize),
            unsigned(sizeof(ColorServicesInfo)), errPlugInHostInsufficient);
        return errPlugInHostInsufficient;
    }
    if (info->reservedSourceSpaceInfo != nullptr || info->reservedResultSpaceInfo != nullptr ||
        info->reserved != nullptr) {
        say("color reserved pointer set -> %d", paramErr);
        return paramErr;
    }
    const bool rgbResult = info->resultSpace == -1 || info->resultSpace == 0;
    auto answer = [&](uint32_t color, const char* what) {
        info->resultSpace = 0;
        info->colorComponents[0] = int16_t(color >> 16 & 0xFF);
        info->colorComponents[1] = int16_t(color >> 8 & 0xFF);
        info->colorComponents[2] = int16_t(color & 0xFF);
        info->colorComponents[3] = 0;
        info->resultGamutInfoValid = 0;
        say("color %s %06X -> 0", what, unsigned(color));
        return noErr;
    };
    switch (info->selector) {
    case 0: // choose a colour
        if (!rgbResult)
            break;
        if (!run.options->hasPick) {
            say("color choose (%d,%d,%d) -> %d", info->colorComponents[0],
                info->colorComponents[1], info->colorComponents[2], userCanceledErr);
            return userCanceledErr;
        }
        return answer(run.options->pick, "choose");
    case 1: // convert: only between RGB and RGB
        if (info->sourceSpace != 0 || !rgbResult)
            break;
        info->resultSpace = 0;
        say("color convert rgb -> 0");
        return noErr;
    case 3: // the foreground or background colour
        if (!rgbResult || (info->selectorParameter.specialColorID != 0 &&
                           info->selectorParameter.specialColorID != 1))
            break;
        return answer(info->selectorParameter.specialColorID == 0 ? run.options->fore
                                                                  : run.options->back,
                      info->selectorParameter.specialColorID == 0 ? "foreground"
                                                                  : "background");
    default:
        break;
    }
    say("color selector %d source %d result %d -> %d", info->selector, info->sourceSpace,
        info->resultSpace, errPlugInHostInsufficient);
    return errPlugInHostInsufficient;
}

ORYN_CALLED_BACK void hostProc(int16_t selector, intptr_t*)
{
    if (activeRun->options->log)
        say("hostProc %d", selector);
}

ORYN_CALLED_BACK void hostProcessEvent(void*)
{
}

// ---------------------------------------------------------------------------------------------
// The record and the calls

void fillRecord(const Options& options, HostRun& run, PlatformData* platform, FilterRecord& r)
{
    std::memset(&r, 0, sizeof r);
    const int16_t rows = int16_t(run.source.height);
    const int16_t columns = int16_t(run.source.width);
    const int16_t planes = int16_t(run.source.channels);
    const bool haveMask = !run.mask.pixels.empty();
    auto rgb16 = [](RGBColor& c, uint32_t color) {
        c.red = uint16_t((color >> 16 & 0xFF) * 257);
        c.green = uint16_t((color >> 8 & 0xFF) * 257);
        c.blue = uint16_t((color & 0xFF) * 257);
    };
    auto rgb8 = [](FilterColor& c, uint32_t color) {
        c[0] = uint8_t(color >> 16);
        c[1] = uint8_t(color >> 8);
        c[2] = uint8_t(color);
        c[3] = 0xFF;
    };

    r.serialNumber = 0;
    r.abortProc = hostAbort;
    r.progressProc = hostProgress;
    r.parameters = nullptr;
    r.imageSize = {rows, columns};
    r.planes = planes;
    r.filterRect = {0, 0, rows, columns};
    rgb16(r.background, options.back);
    rgb16(r.foreground, options.fore);
    r.maxSpace = options.maxSpace;
    r.haveMask = haveMask ? 1 : 0;
    rgb8(r.backColor, options.back);
    rgb8(r.foreColor, options.fore);
    r.hostSig = options.hostSig;
    r.hostProc = hostProc;
    r.imageMode = 3; // RGB
    r.imageHRes = 72 << 16;
    r.imageVRes = 72 << 16;
    r.wholeSize = r.imageSize;
    r.platformData = platform;
    r.processEvent = hostProcessEvent;
    r.filterCase = int16_t(planes >= 4 ? (haveMask ? 5 : 4) : (haveMask ? 2 : 1));
    r.advanceState = hostAdvanceState;
    r.inputRate = 1 << 16;
    r.maskRate = 1 << 16;
    r.colorServices = hostColorServices;
    if (planes >= 4) {
        r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = 3;
        r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = 1;
        r.inNonLayerPlanes = r.outNonLayerPlanes = r.absNonLayerPlanes = int16_t(planes - 4);
    } else {
        r.inNonLayerPlanes = r.outNonLayerPlanes = r.absNonLayerPlanes = planes;
    }
    r.depth = 8;
    r.maxSpace64 = options.maxSpace;
}

struct FieldInfo {
    const char* name;
    size_t offset;
    size_t size;
};

#define ORYN_FIELD(name) {#name, offsetof(FilterRecord, name), sizeof(FilterRecord::name)}
const FieldInfo RecordFields[] = {
    ORYN_FIELD(serialNumber), ORYN_FIELD(abortProc), ORYN_FIELD(progressProc),
    ORYN_FIELD(parameters), ORYN_FIELD(imageSize), ORYN_FIELD(planes), ORYN_FIELD(filterRect),
    ORYN_FIELD(background), ORYN_FIELD(foreground), ORYN_FIELD(maxSpace),
    ORYN_FIELD(bufferSpace), ORYN_FIELD(inRect), ORYN_FIELD(inLoPlane), ORYN_FIELD(inHiPlane),
    ORYN_FIELD(outRect), ORYN_FIELD(outLoPlane), ORYN_FIELD(outHiPlane), ORYN_FIELD(inData),
    ORYN_FIELD(inRowBytes), ORYN_FIELD(outData), ORYN_FIELD(outRowBytes),
    ORYN_FIELD(isFloating), ORYN_FIELD(haveMask), ORYN_FIELD(autoMask), ORYN_FIELD(maskRect),
    ORYN_FIELD(maskData), ORYN_FIELD(maskRowBytes), ORYN_FIELD(backColor),
    ORYN_FIELD(foreColor), ORYN_FIELD(hostSig), ORYN_FIELD(hostProc), ORYN_FIELD(imageMode),
    ORYN_FIELD(imageHRes), ORYN_FIELD(imageVRes), ORYN_FIELD(floatCoord),
    ORYN_FIELD(wholeSize), ORYN_FIELD(monitor), ORYN_FIELD(platformData),
    ORYN_FIELD(bufferProcs), ORYN_FIELD(resourceProcs), ORYN_FIELD(processEvent),
    ORYN_FIELD(displayPixels), ORYN_FIELD(handleProcs), ORYN_FIELD(supportsDummyChannels),
    ORYN_FIELD(supportsAlternateLayouts), ORYN_FIELD(wantLayout), ORYN_FIELD(filterCase),
    ORYN_FIELD(dummyPlaneValue), ORYN_FIELD(premiereHook), ORYN_FIELD(advanceState),
    ORYN_FIELD(supportsAbsolute), ORYN_FIELD(wantsAbsolute), ORYN_FIELD(getPropertyObsolete),
    ORYN_FIELD(cannotUndo), ORYN_FIELD(supportsPadding), ORYN_FIELD(inputPadding),
    ORYN_FIELD(outputPadding), ORYN_FIELD(maskPadding), ORYN_FIELD(samplingSupport),
    ORYN_FIELD(reservedByte), ORYN_FIELD(inputRate), ORYN_FIELD(maskRate),
    ORYN_FIELD(colorServices), ORYN_FIELD(inLayerPlanes), ORYN_FIELD(inTransparencyMask),
    ORYN_FIELD(inLayerMasks), ORYN_FIELD(inInvertedLayerMasks), ORYN_FIELD(inNonLayerPlanes),
    ORYN_FIELD(outLayerPlanes), ORYN_FIELD(outTransparencyMask), ORYN_FIELD(outLayerMasks),
    ORYN_FIELD(outInvertedLayerMasks), ORYN_FIELD(outNonLayerPlanes),
    ORYN_FIELD(absLayerPlanes), ORYN_FIELD(absTransparencyMask), ORYN_FIELD(absLayerMasks),
    ORYN_FIELD(absInvertedLayerMasks), ORYN_FIELD(absNonLayerPlanes),
    ORYN_FIELD(inPreDummyPlanes), ORYN_FIELD(inPostDummyPlanes),
    ORYN_FIELD(outPreDummyPlanes), ORYN_FIELD(outPostDummyPlanes), ORYN_FIELD(inColumnBytes),
    ORYN_FIELD(inPlaneBytes), ORYN_FIELD(outColumnBytes), ORYN_FIELD(outPlaneBytes),
    ORYN_FIELD(imageServicesProcs), ORYN_FIELD(propertyProcs), ORYN_FIELD(inTileHeight),
    ORYN_FIELD(inTileWidth), ORYN_FIELD(inTileOrigin), ORYN_FIELD(absTileHeight),
    ORYN_FIELD(absTileWidth), ORYN_FIELD(absTileOrigin), ORYN_FIELD(outTileHeight),
    ORYN_FIELD(outTileWidth), ORYN_FIELD(outTileOrigin), ORYN_FIELD(maskTileHeight),
    ORYN_FIELD(maskTileWidth), ORYN_FIELD(maskTileOrigin), ORYN_FIELD(descriptorParameters),
    ORYN_FIELD(errorString), ORYN_FIELD(channelPortProcs), ORYN_FIELD(documentInfo),
    ORYN_FIELD(sSPBasic), ORYN_FIELD(plugInRef), ORYN_FIELD(depth), ORYN_FIELD(iCCprofileData),
    ORYN_FIELD(iCCprofileSize), ORYN_FIELD(canUseICCProfiles), ORYN_FIELD(hasImageScrap),
    ORYN_FIELD(bigDocumentData), ORYN_FIELD(input3DScene), ORYN_FIELD(output3DScene),
    ORYN_FIELD(createNewLayer), ORYN_FIELD(iCCWorkingProfileData),
    ORYN_FIELD(iCCWorkingProfileSize), ORYN_FIELD(bufferSpace64), ORYN_FIELD(maxSpace64),
    ORYN_FIELD(allowOverrangeColors), ORYN_FIELD(reserved),
};
#undef ORYN_FIELD

// Names of the record fields whose bytes differ between two snapshots; bytes that belong to no
// field (alignment padding) are named by offset.
std::string changedFields(const uint8_t* before, const uint8_t* after)
{
    std::vector<bool> covered(sizeof(FilterRecord), false);
    std::string names;
    for (const FieldInfo& field : RecordFields) {
        for (size_t i = 0; i < field.size; ++i)
            covered[field.offset + i] = true;
        if (std::memcmp(before + field.offset, after + field.offset, field.size) != 0)
            names += std::string(names.empty() ? "" : " ") + field.name;
    }
    for (size_t i = 0; i < sizeof(FilterRecord); ++i) {
        if (!covered[i] && before[i] != after[i])
            names += std::string(names.empty() ? "" : " ") + "pad@" + std::to_string(i);
    }
    return names.empty() ? "none" : names;
}

bool guardIntact(const uint8_t* guard)
{
    for (size_t i = 0; i < GuardBytes; ++i)
        if (guard[i] != GuardFill)
            return false;
    return true;
}

ORYN_CALLED_BACK LONG WINAPI reportCrash(EXCEPTION_POINTERS* exception)
{
    unsigned long code = exception != nullptr && exception->ExceptionRecord != nullptr
                             ? exception->ExceptionRecord->ExceptionCode
                             : 0;
    say("crash in %s: exception 0x%08lx", currentCall, code);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), ExitCrash);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Calls the entry point once. Returns the result, or the sentinel when the module wrote none.
struct Caller {
    PluginEntryProc entry = nullptr;
    intptr_t data = 0; // the module's data slot, kept for the whole run as hosts do
    bool allOk = true;
    std::string results;

    int16_t call(const char* label, int16_t selector, void* record)
    {
        int16_t result = ResultSentinel;
        currentCall = label;
        entry(selector, record, &data, &result);
        currentCall = "host";
        bool untouched = result == ResultSentinel;
        say("call %s -> %d%s", label, result, untouched ? " untouched" : "");
        if (result != noErr)
            allOk = false;
        results += std::string(results.empty() ? "" : " ") + label + " " + std::to_string(result);
        return result;
    }

    // A filter selector, with the record's changes and any write past its end reported.
    int16_t callFilter(const char* label, int16_t selector, RecordBlock& block)
    {
        RecordBlock before;
        std::memcpy(&before, &block, sizeof block);
        intptr_t dataBefore = data;
        int16_t result = call(label, selector, &block.record);
        std::string changed = changedFields(reinterpret_cast<const uint8_t*>(&before.record),
                                            reinterpret_cast<const uint8_t*>(&block.record));
        if (data != dataBefore)
            changed = (changed == "none" ? "" : changed + " ") + "dataSlot";
        say("changed %s: %s", label, changed.c_str());
        if (!guardIntact(block.guard)) {
            say("error: %s wrote past the end of the FilterRecord", label);
            allOk = false;
        }
        return result;
    }
};

// ---------------------------------------------------------------------------------------------
// Windows: parent window and the dialog closer

HWND makeParentWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "OrynTestHostFrame";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "oryn-testhost",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                                  nullptr, nullptr, instance, nullptr);
    if (window != nullptr) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    return window;
}

struct SeenWindow {
    HWND window;
    DWORD firstSeen;
    bool reported;
};

struct Closer {
    int32_t delayMs = 0;
    HANDLE stop = nullptr;
    std::vector<SeenWindow> seen;
};

ORYN_CALLED_BACK BOOL CALLBACK collectStaticText(HWND child, LPARAM context)
{
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0) {
        char text[1024] = {};
        GetWindowTextA(child, text, sizeof text);
        auto* all = reinterpret_cast<std::string*>(context);
        if (text[0] != '\0')
            *all += std::string(all->empty() ? "" : "|") + text;
    }
    return TRUE;
}

// A visible dialog or message box of this process.
bool isOwnDialog(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    return process == GetCurrentProcessId() && IsWindowVisible(window) &&
           std::strcmp(className, "#32770") == 0;
}

ORYN_CALLED_BACK BOOL CALLBACK visitTopWindow(HWND window, LPARAM context)
{
    auto& closer = *reinterpret_cast<Closer*>(context);
    if (!isOwnDialog(window))
        return TRUE;

    DWORD now = GetTickCount();
    for (SeenWindow& seen : closer.seen) {
        if (seen.window != window)
            continue;
        if (now - seen.firstSeen < DWORD(closer.delayMs))
            return TRUE;
        if (!seen.reported) {
            char caption[512] = {};
            GetWindowTextA(window, caption, sizeof caption);
            std::string text;
            EnumChildWindows(window, collectStaticText, reinterpret_cast<LPARAM>(&text));
            HWND owner = GetWindow(window, GW_OWNER);
            const char* ownerText = owner == nullptr          ? "none"
                                    : owner == parentWindow ? "parent"
                                                            : "other";
            say("box %s owner %s text %s", quoted(caption).c_str(), ownerText,
                quoted(text).c_str());
            seen.reported = true;
        }
        DWORD_PTR answer = 0;
        UINT button = IDOK;
        if (SendMessageTimeoutA(window, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) &&
            HIWORD(answer) == DC_HASDEFID)
            button = LOWORD(answer);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, int(button))));
        seen.firstSeen = now; // press again after another delay if it is still there
        return TRUE;
    }
    closer.seen.push_back({window, now, false});
    return TRUE;
}

ORYN_CALLED_BACK DWORD WINAPI runCloser(void* context)
{
    auto& closer = *static_cast<Closer*>(context);
    while (WaitForSingleObject(closer.stop, 20) == WAIT_TIMEOUT)
        EnumWindows(visitTopWindow, reinterpret_cast<LPARAM>(&closer));
    return 0;
}

// --window-map: where each dialog of this process and its controls are on the screen, so that a
// script can send real mouse input to them through the window system.
struct Mapper {
    std::string path;
    HANDLE stop = nullptr;
    std::vector<HWND> mapped;
    std::vector<HWND> alive;
};

void mapLine(FILE* file, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
}

ORYN_CALLED_BACK BOOL CALLBACK mapChild(HWND child, LPARAM context)
{
    FILE* file = reinterpret_cast<FILE*>(context);
    HWND dialog = GetAncestor(child, GA_ROOT);
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    const int id = GetDlgCtrlID(child);
    char text[256] = {};
    GetWindowTextA(child, text, sizeof text);
    mapLine(file, "control %d %s %ld %ld %ld %ld %s %s", id, className, long(rect.left),
            long(rect.top), long(rect.right), long(rect.bottom),
            IsWindowVisible(child) ? "visible" : "hidden", quoted(text).c_str());
    if (lstrcmpiA(className, "ComboBox") == 0) {
        LRESULT item = SendMessageA(child, CB_GETITEMHEIGHT, 0, 0);
        LRESULT count = SendMessageA(child, CB_GETCOUNT, 0, 0);
        mapLine(file, "combo %d itemheight %ld count %ld", id, long(item), long(count));
    }
    return TRUE;
}

ORYN_CALLED_BACK BOOL CALLBACK mapTopWindow(HWND window, LPARAM context)
{
    auto& mapper = *reinterpret_cast<Mapper*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    // The list a drop-down combo box shows while it is open: a window of its own.
    const bool dropList = process == GetCurrentProcessId() && IsWindowVisible(window) &&
                          lstrcmpiA(className, "ComboLBox") == 0;
    if (!dropList && !isOwnDialog(window))
        return TRUE;
    mapper.alive.push_back(window);
    for (HWND seen : mapper.mapped)
        if (seen == window)
            return TRUE;
    mapper.mapped.push_back(window);
    FILE* file = std::fopen(mapper.path.c_str(), "a");
    if (file == nullptr)
        return TRUE;
    if (dropList) {
        RECT rect;
        GetWindowRect(window, &rect);
        mapLine(file, "droplist %p screen %ld %ld %ld %ld", static_cast<void*>(window),
                long(rect.left), long(rect.top), long(rect.right), long(rect.bottom));
        std::fclose(file);
        return TRUE;
    }
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    RECT client;
    GetClientRect(window, &client);
    mapLine(file, "window %p caption %s client %ld %ld %ld %ld", static_cast<void*>(window),
            quoted(caption).c_str(), long(origin.x), long(origin.y), long(client.right),
            long(client.bottom));
    EnumChildWindows(window, mapChild, reinterpret_cast<LPARAM>(file));
    mapLine(file, "end");
    std::fclose(file);
    return TRUE;
}

ORYN_CALLED_BACK DWORD WINAPI runMapper(void* context)
{
    auto& mapper = *static_cast<Mapper*>(context);
    while (WaitForSingleObject(mapper.stop, 20) == WAIT_TIMEOUT) {
        mapper.alive.clear();
        EnumWindows(mapTopWindow, reinterpret_cast<LPARAM>(&mapper));
        for (size_t i = 0; i < mapper.mapped.size();) {
            HWND window = mapper.mapped[i];
            bool present = false;
            for (HWND alive : mapper.alive)
                present = present || alive == window;
            if (present) {
                ++i;
                continue;
            }
            if (FILE* file = std::fopen(mapper.path.c_str(), "a")) {
                mapLine(file, "closed %p", static_cast<void*>(window));
                std::fclose(file);
            }
            mapper.mapped.erase(mapper.mapped.begin() + long(i));
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Runs

void printRunSummary(const HostRun& run)
{
    say("advance calls %d errors %d", int(run.advanceCalls), int(run.advanceErrors));
    if (run.progressCalls > 0)
        say("progress calls %d first %d/%d last %d/%d backwards %d", int(run.progressCalls),
            int(run.firstDone), int(run.firstTotal), int(run.lastDone), int(run.lastTotal),
            int(run.progressBackwards));
    else
        say("progress calls 0");
    say("abort calls %d cancelled %d", int(run.abortCalls), int(run.abortYes));
}

int runAbout(Caller& caller, PlatformData* platform)
{
    AboutBlock block;
    std::memset(&block.record, 0, sizeof block.record);
    std::memset(block.guard, GuardFill, GuardBytes);
    block.record.platformData = platform;
    AboutBlock before;
    std::memcpy(&before, &block, sizeof block);
    caller.call("about", filterSelectorAbout, &block.record);
    int changedBytes = 0;
    const auto* a = reinterpret_cast<const uint8_t*>(&before.record);
    const auto* b = reinterpret_cast<const uint8_t*>(&block.record);
    for (size_t i = 0; i < sizeof(AboutRecord); ++i)
        changedBytes += a[i] != b[i];
    if (changedBytes == 0)
        say("changed about: none");
    else
        say("changed about: %d bytes", changedBytes);
    if (!guardIntact(block.guard)) {
        say("error: about wrote past the end of the AboutRecord");
        caller.allOk = false;
    }
    return caller.allOk ? ExitOk : ExitSelectorFailed;
}

int runFilter(const Options& options, Caller& caller, PlatformData* platform)
{
    HostRun run;
    run.options = &options;
    if (loadSource(options, run.source))
        return ExitImage;
    if (!options.mask.empty() && loadMask(options, run.source, run.mask))
        return ExitImage;
    run.output = run.source;

    RecordBlock block;
    fillRecord(options, run, platform, block.record);
    std::memset(block.guard, GuardFill, GuardBytes);
    run.record = &block.record;
    activeRun = &run;

    if (options.hasSelector) {
        std::string label = "selector " + std::to_string(options.selector);
        caller.callFilter(label.c_str(), options.selector, block);
        activeRun = nullptr;
        return caller.allOk ? ExitOk : ExitSelectorFailed;
    }

    if (options.dialog)
        caller.callFilter("parameters", filterSelectorParameters, block);
    int32_t offered = block.record.maxSpace;
    caller.callFilter("prepare", filterSelectorPrepare, block);
    say("prepare maxSpace %d -> %d", int(offered), int(block.record.maxSpace));

    bool runOk = false;
    int16_t start = caller.callFilter("start", filterSelectorStart, block);
    if (start == noErr) {
        runOk = true;
        FilterRecord& r = block.record;
        int32_t continues = 0;
        while (!rectEmpty(r.inRect) || !rectEmpty(r.outRect) || !rectEmpty(r.maskRect)) {
            if (continues == options.loopLimit) {
                say("error: still requesting after %d continue calls", int(continues));
                caller.allOk = false;
                runOk = false;
                break;
            }
            ++continues;
            hostAdvanceState();
            if (caller.callFilter("continue", filterSelectorContinue, block) != noErr) {
                runOk = false;
                break;
            }
        }
        // The last output buffer is committed by one more advanceState, as hosts do.
        hostAdvanceState();
        if (caller.callFilter("finish", filterSelectorFinish, block) != noErr)
            runOk = false;
    } else {
        commit(run.out, run.output);
    }
    printRunSummary(run);
    activeRun = nullptr;

    if (!options.out.empty()) {
        if (runOk || options.keepPartial) {
            if (writeOutput(options, run.output))
                return ExitImage;
            if (checkOutput(options, run.output))
                return ExitCheck;
        } else {
            say("output not written");
        }
    }
    return caller.allOk ? ExitOk : ExitSelectorFailed;
}

// The filter keeps its parameters in the registry; a host does not, but a test host sets them
// up and reads them back to test silent replay.
const char StoreKey[] = "Software\\Oryn 3D\\User Defined";
const char LastUsedValue[] = "Last Used";

int prepareStore(const Options& options)
{
    if (options.clearStore) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, StoreKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, StoreKey);
        say("store cleared");
    }
    if (options.storeRecord.empty())
        return 0;
    // The record is given in hex, or as @FILE for a file holding its bytes.
    std::vector<uint8_t> bytes;
    const std::string& record = options.storeRecord;
    bool readable = true;
    if (record[0] == '@') {
        FILE* file = std::fopen(record.c_str() + 1, "rb");
        readable = file != nullptr;
        if (file != nullptr) {
            uint8_t buffer[4096];
            size_t count;
            while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                bytes.insert(bytes.end(), buffer, buffer + count);
            std::fclose(file);
        }
    } else {
        readable = record.size() % 2 == 0;
        for (size_t k = 0; readable && k < record.size(); k += 2) {
            if (!std::isxdigit(uint8_t(record[k])) || !std::isxdigit(uint8_t(record[k + 1])))
                readable = false;
            else
                bytes.push_back(uint8_t(std::strtol(record.substr(k, 2).c_str(), nullptr, 16)));
        }
    }
    if (!readable || bytes.empty()) {
        say("error: bad record %s", record.c_str());
        return 1;
    }
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, StoreKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, LastUsedValue, 0, REG_BINARY, bytes.data(), DWORD(bytes.size()));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        say("error: cannot store the record (error %ld)", long(status));
        return 1;
    }
    say("stored Last Used %u bytes", unsigned(bytes.size()));
    return 0;
}

void showStore()
{
    uint8_t bytes[512];
    DWORD size = sizeof bytes;
    DWORD type = 0;
    LSTATUS status = RegGetValueA(HKEY_CURRENT_USER, StoreKey, LastUsedValue, RRF_RT_ANY, &type,
                                  bytes, &size);
    if (status != ERROR_SUCCESS) {
        size = sizeof bytes;
        status = RegGetValueA(HKEY_LOCAL_MACHINE, StoreKey, LastUsedValue, RRF_RT_ANY, &type, bytes,
                              &size);
    }
    if (status != ERROR_SUCCESS) {
        say("store Last Used absent");
        return;
    }
    std::string hex;
    for (DWORD i = 0; i < size; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        hex += digits;
    }
    say("store Last Used type %lu bytes %lu %s", static_cast<unsigned long>(type),
        static_cast<unsigned long>(size), hex.c_str());
}

int runHost(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (parseOptions(argc, argv, options, help))
        return ExitUsage;
    if (help) {
        std::fputs(HelpText, stdout);
        return ExitOk;
    }

    if (!options.writeInput.empty()) {
        Image source;
        Options writing = options;
        writing.out = options.writeInput;
        if (loadSource(options, source) || writeOutput(writing, source))
            return ExitImage;
        return ExitOk;
    }
    if (prepareStore(options))
        return ExitUsage;
    SetUnhandledExceptionFilter(reportCrash);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    say("host %d-bit", int(sizeof(void*) * 8));
    HMODULE module = LoadLibraryA(options.plugin.c_str());
    if (module == nullptr) {
        say("error: cannot load %s (error %lu)", options.plugin.c_str(),
            static_cast<unsigned long>(GetLastError()));
        return ExitModule;
    }
    say("loaded %s", options.plugin.c_str());
    Caller caller;
    caller.entry = findEntry(module);
    if (caller.entry == nullptr) {
        FreeLibrary(module);
        return ExitModule;
    }
    if (options.info) {
        FreeLibrary(module);
        return ExitOk;
    }

    if (options.parent) {
        parentWindow = makeParentWindow();
        if (parentWindow == nullptr) {
            say("error: cannot create the parent window (error %lu); is there a display?",
                static_cast<unsigned long>(GetLastError()));
            FreeLibrary(module);
            return ExitUsage;
        }
        say("parent window created");
    }
    PlatformData platform = {parentWindow};
    PlatformData* platformPointer = options.noPlatformData ? nullptr : &platform;

    Closer closer;
    HANDLE closerThread = nullptr;
    if (options.autoCloseMs >= 0) {
        closer.delayMs = options.autoCloseMs;
        closer.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        closerThread = CreateThread(nullptr, 0, runCloser, &closer, 0, nullptr);
    }

    Mapper mapper;
    HANDLE mapperThread = nullptr;
    if (!options.windowMap.empty()) {
        mapper.path = options.windowMap;
        mapper.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        mapperThread = CreateThread(nullptr, 0, runMapper, &mapper, 0, nullptr);
    }

    int code = options.about ? runAbout(caller, platformPointer)
                             : runFilter(options, caller, platformPointer);

    if (mapperThread != nullptr) {
        SetEvent(mapper.stop);
        WaitForSingleObject(mapperThread, INFINITE);
        CloseHandle(mapperThread);
        CloseHandle(mapper.stop);
    }

    if (closerThread != nullptr) {
        SetEvent(closer.stop);
        WaitForSingleObject(closerThread, INFINITE);
        CloseHandle(closerThread);
        CloseHandle(closer.stop);
    }
    if (parentWindow != nullptr)
        DestroyWindow(parentWindow);
    FreeLibrary(module);
    if (options.showStore)
        showStore();
    if (!caller.results.empty())
        say("results: %s", caller.results.c_str());
    return code;
}

} // namespace

} // namespace oryn

int main(int argc, char** argv)
{
    InitializeCriticalSection(&oryn::printLock);
    int code = oryn::runHost(argc, argv);
    oryn::say("exit %d", code);
    return code;
}
