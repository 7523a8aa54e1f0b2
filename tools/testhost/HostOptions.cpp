// Parsing the test host's command line.
#include "tools/testhost/HostOptions.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/testhost/HostSupport.h"
#include "tools/testhost/ImageFile.h"

namespace oryn {

extern const char HelpText[];
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
    "  --progress-delay-ms N  progressProc sleeps N ms on every call (a slow host)\n"
    "  --progress-pump    progressProc dispatches every pending message of the thread\n"
    "  --picker-box       the colour picker first shows a box \"Color Picker\" of its own, owned\n"
    "                     by the parent window, and answers when it is closed\n"
    "  --row-padding N    every served row is followed by N padding bytes; after the run, print\n"
    "                     how many padding bytes of the output buffers the module changed\n"
    "  --hold-advance FILE  the first advanceState prints 'advance holding' (with 'window X Y',\n"
    "                     the active window's client origin, if there is one) and waits (at\n"
    "                     most 120 s) until FILE exists\n"
    "\n"
    "Stored parameters (the filter's registry key, this bitness's view):\n"
    "  --clear-store      delete the filter's stored presets and last-used record first\n"
    "  --store-last-used HEX|@FILE  store these bytes (hex, or a file's) as the \"Last Used\"\n"
    "                     record before loading the module\n"
    "  --show-store       after the run, print the stored \"Last Used\" record in hex\n"
    "  --store-value NAME HEX  store these bytes under NAME as well (repeatable)\n"
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
    "                     Scripts that drive the dialogs with real input read it. Creating\n"
    "                     FILE.again asks for every window to be written again as it is now.\n"
    "  --auto-close-ms N  N ms after a dialog or message box of this process appears, report\n"
    "                     its caption, owner and text and press its default button\n"
    "\n"
    "Output: one line per event, e.g. 'call start -> -128'; 'changed <call>: <fields>' names\n"
    "the FilterRecord fields whose bytes differ after the call. A selector that writes no\n"
    "result shows the sentinel 30583 and 'untouched'.\n"
    "Exit status: 0 every selector answered noErr, 1 a selector failed, 2 usage, 3 module or\n"
    "PiPL unusable, 4 image file error, 5 the module raised an exception.\n";

namespace {

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

} // namespace

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
        } else if (arg == "--progress-delay-ms") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, 10000, options.progressDelayMs))
                return bad();
        } else if (arg == "--progress-pump") {
            options.progressPump = true;
        } else if (arg == "--picker-box") {
            options.pickerBox = true;
        } else if (arg == "--row-padding") {
            if (!needValue())
                return 1;
            if (parseInt(next, 0, 64, options.rowPadding))
                return bad();
        } else if (arg == "--hold-advance") {
            if (!needValue())
                return 1;
            options.holdAdvance = next;
        } else if (arg == "--store-value") {
            if (i + 2 >= argc) {
                say("error: --store-value needs a name and the bytes in hex");
                return 1;
            }
            options.storeValues.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
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

} // namespace oryn
