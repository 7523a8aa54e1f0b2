// A filter module that tests the test host from the inside: it checks what the host serves and
// writes what the host must commit. The environment variable ORYN_PROBE picks what start does.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/HostApi.h"

namespace {

constexpr int16_t ProbeMismatch = -1001;  // the host served other samples than expected
constexpr int16_t ProbeHostFault = -1002; // the host broke the protocol in another way
constexpr int16_t ProbeUnknownMode = -1003;

// Tiled run state: the band and plane being processed between start and the continue calls.
constexpr int32_t BandRows = 7;
int32_t tileBand = 0;
int32_t tilePlane = 0;
int32_t endlessCalls = 0;

void report(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

void report(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("probe: ", stdout);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string probeMode()
{
    char text[64] = {};
    DWORD length = GetEnvironmentVariableA("ORYN_PROBE", text, sizeof text);
    return length > 0 && length < sizeof text ? text : "";
}

// The host's generated image.
uint8_t pattern(int32_t x, int32_t y, int32_t plane)
{
    return uint8_t((x * 7 + y * 13 + plane * 61) & 255);
}

enum class Expect { Pattern, Inverted };

// Inverted: the first three planes of the pattern inverted (what "invert" wrote to an RGB
// file), every further plane the host's fill value 255.
uint8_t expected(Expect expect, int32_t x, int32_t y, int32_t plane)
{
    if (expect == Expect::Pattern)
        return pattern(x, y, plane);
    return plane < 3 ? uint8_t(255 - pattern(x, y, plane)) : 255;
}

Rect wholeImage(const FilterRecord& r)
{
    return {0, 0, r.imageSize.v, r.imageSize.h};
}

void clearRequests(FilterRecord& r)
{
    r.inRect = {};
    r.outRect = {};
    r.maskRect = {};
}

// Compares an interleaved buffer with the expected samples of `rect` and planes lo..hi.
// Returns 0, or ProbeMismatch after reporting the first difference.
int16_t checkSamples(const void* data, int32_t rowBytes, const Rect& rect, int16_t lo, int16_t hi,
                     Expect expect)
{
    if (data == nullptr) {
        report("no data served");
        return ProbeHostFault;
    }
    const int32_t n = hi - lo + 1;
    if (rowBytes != (rect.right - rect.left) * n) {
        report("rowBytes %d for %d columns of %d planes", int(rowBytes), rect.right - rect.left,
               int(n));
        return ProbeHostFault;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
        const uint8_t* row = bytes + (y - rect.top) * rowBytes;
        for (int32_t x = rect.left; x < rect.right; ++x) {
            for (int32_t p = 0; p < n; ++p) {
                uint8_t got = row[(x - rect.left) * n + p];
                uint8_t want = expected(expect, x, y, lo + p);
                if (got != want) {
                    report("mismatch at x %d y %d plane %d: got %d want %d", int(x), int(y),
                           int(lo + p), got, want);
                    return ProbeMismatch;
                }
            }
        }
    }
    return noErr;
}

// Writes 255 - input into the output for one served rectangle.
void invertInto(const FilterRecord& r, const Rect& rect, int32_t planes)
{
    const int32_t bytes = (rect.right - rect.left) * planes;
    for (int32_t y = 0; y < rect.bottom - rect.top; ++y) {
        const auto* in = static_cast<const uint8_t*>(r.inData) + y * r.inRowBytes;
        auto* out = static_cast<uint8_t*>(r.outData) + y * r.outRowBytes;
        for (int32_t i = 0; i < bytes; ++i)
            out[i] = uint8_t(255 - in[i]);
    }
}

OSErr requestAll(FilterRecord& r, bool withOut)
{
    r.inRect = wholeImage(r);
    r.inLoPlane = 0;
    r.inHiPlane = int16_t(r.planes - 1);
    r.outRect = withOut ? wholeImage(r) : Rect{};
    r.outLoPlane = 0;
    r.outHiPlane = int16_t(r.planes - 1);
    r.maskRect = {};
    return r.advanceState();
}

int16_t startInvert(FilterRecord& r)
{
    requestAll(r, true);
    if (r.inData == nullptr || r.outData == nullptr)
        return ProbeHostFault;
    invertInto(r, wholeImage(r), r.planes);
    clearRequests(r);
    return noErr;
}

int16_t startCheck(FilterRecord& r, Expect expect)
{
    requestAll(r, false);
    int16_t result = checkSamples(r.inData, r.inRowBytes, r.inRect, 0, int16_t(r.planes - 1),
                                  expect);
    if (result == noErr && r.outData != nullptr) {
        report("outData served for an empty outRect");
        result = ProbeHostFault;
    }
    clearRequests(r);
    return result;
}

// Tiles: one band of rows and one plane per request, through the continue selector.
void requestTile(FilterRecord& r)
{
    int16_t top = int16_t(tileBand * BandRows);
    int16_t bottom = int16_t(top + BandRows < r.imageSize.v ? top + BandRows : r.imageSize.v);
    r.inRect = {top, 0, bottom, r.imageSize.h};
    r.outRect = r.inRect;
    r.inLoPlane = r.inHiPlane = r.outLoPlane = r.outHiPlane = int16_t(tilePlane);
}

int16_t continueTiles(FilterRecord& r)
{
    int16_t result = checkSamples(r.inData, r.inRowBytes, r.inRect, r.inLoPlane, r.inHiPlane,
                                  Expect::Pattern);
    if (result != noErr || r.outData == nullptr) {
        clearRequests(r);
        return result != noErr ? result : ProbeHostFault;
    }
    invertInto(r, r.inRect, 1);
    if (++tilePlane == r.planes) {
        tilePlane = 0;
        ++tileBand;
    }
    if (tileBand * BandRows >= r.imageSize.v)
        clearRequests(r);
    else
        requestTile(r);
    return noErr;
}

int16_t startMask(FilterRecord& r)
{
    if (r.haveMask != 1 || r.filterCase != 2) {
        report("haveMask %d filterCase %d", r.haveMask, r.filterCase);
        return ProbeHostFault;
    }
    r.inRect = wholeImage(r);
    r.inLoPlane = 0;
    r.inHiPlane = int16_t(r.planes - 1);
    r.outRect = {};
    r.maskRect = wholeImage(r);
    r.advanceState();
    // The mask file is the inverted plane 0 of the pattern.
    int16_t result = checkSamples(r.maskData, r.maskRowBytes, r.maskRect, 0, 0, Expect::Inverted);
    clearRequests(r);
    return result;
}

int16_t startProgress(FilterRecord& r)
{
    requestAll(r, true);
    if (r.inData == nullptr || r.outData == nullptr)
        return ProbeHostFault;
    const int32_t rows = r.imageSize.v;
    for (int32_t y = 0; y < rows; ++y) {
        if (r.abortProc() != 0) {
            clearRequests(r);
            return userCanceledErr;
        }
        Rect row = {int16_t(y), 0, int16_t(y + 1), r.imageSize.h};
        const auto* in = static_cast<const uint8_t*>(r.inData) + y * r.inRowBytes;
        auto* out = static_cast<uint8_t*>(r.outData) + y * r.outRowBytes;
        for (int32_t i = 0; i < (row.right - row.left) * r.planes; ++i)
            out[i] = uint8_t(255 - in[i]);
        r.progressProc(y + 1, rows);
    }
    clearRequests(r);
    return noErr;
}

// One request that the host must refuse or serve in a particular way.
struct BoundsCase {
    const char* what;
    Rect inRect;
    int16_t lo;
    int16_t hi; // -1: the image's last plane + 1
    OSErr result;
};

int16_t startBounds(FilterRecord& r)
{
    const int16_t rows = r.imageSize.v;
    const int16_t columns = r.imageSize.h;
    const BoundsCase cases[] = {
        {"one row too many", {0, 0, int16_t(rows + 1), columns}, 0, 0, paramErr},
        {"one column too many", {0, 0, rows, int16_t(columns + 1)}, 0, 0, paramErr},
        {"negative top", {-1, 0, 1, 1}, 0, 0, paramErr},
        {"plane past the last", {0, 0, 1, 1}, 0, -1, paramErr},
        {"negative plane", {0, 0, 1, 1}, -1, 0, paramErr},
        {"planes reversed", {0, 0, 1, 1}, 1, 0, paramErr},
        {"inside", {2, 3, 4, 6}, 1, 2, noErr},
    };
    int16_t verdict = noErr;
    for (const BoundsCase& c : cases) {
        r.inRect = c.inRect;
        r.inLoPlane = c.lo;
        r.inHiPlane = c.hi == -1 ? r.planes : c.hi;
        r.outRect = {};
        r.maskRect = {};
        OSErr result = r.advanceState();
        bool served = r.inData != nullptr;
        bool ok = result == c.result && served == (c.result == noErr) && r.outData == nullptr &&
                  r.maskData == nullptr;
        if (ok && c.result == noErr)
            ok = checkSamples(r.inData, r.inRowBytes, c.inRect, r.inLoPlane, r.inHiPlane,
                              Expect::Pattern) == noErr;
        if (!ok) {
            report("%s: advanceState %d, inData %s", c.what, result, served ? "set" : "null");
            verdict = ProbeHostFault;
        }
    }
    clearRequests(r);
    return verdict;
}

int16_t startPick(FilterRecord& r)
{
    ColorServicesInfo info = {};
    info.infoSize = sizeof info;
    info.selector = 0; // choose a colour
    info.sourceSpace = 0;
    info.resultSpace = 0;
    info.colorComponents[0] = 1;
    info.colorComponents[1] = 2;
    info.colorComponents[2] = 3;
    int dummy = 0;
    info.reserved = &dummy;
    OSErr result = r.colorServices(&info);
    report("pick reserved -> %d", result);
    info.reserved = nullptr;
    result = r.colorServices(&info);
    report("pick -> %d (%d,%d,%d)", result, info.colorComponents[0], info.colorComponents[1],
           info.colorComponents[2]);
    return noErr;
}

int16_t startFields(FilterRecord& r)
{
    char sig[5] = {char(r.hostSig >> 24), char(r.hostSig >> 16), char(r.hostSig >> 8),
                   char(r.hostSig), 0};
    const char* platform = r.platformData == nullptr        ? "null"
                           : r.platformData->hwnd == nullptr ? "hwnd0"
                                                             : "hwnd";
    bool callbacks = r.advanceState != nullptr && r.abortProc != nullptr &&
                     r.progressProc != nullptr && r.colorServices != nullptr;
    report("fields size %dx%d planes %d filterRect (%d,%d,%d,%d) haveMask %d filterCase %d "
           "imageMode %d depth %d serial %d",
           r.imageSize.h, r.imageSize.v, r.planes, r.filterRect.top, r.filterRect.left,
           r.filterRect.bottom, r.filterRect.right, r.haveMask, r.filterCase, r.imageMode,
           int(r.depth), int(r.serialNumber));
    report("colors fore %d,%d,%d,%d back %d,%d,%d,%d foreground %u,%u,%u background %u,%u,%u",
           r.foreColor[0], r.foreColor[1], r.foreColor[2], r.foreColor[3], r.backColor[0],
           r.backColor[1], r.backColor[2], r.backColor[3], r.foreground.red, r.foreground.green,
           r.foreground.blue, r.background.red, r.background.green, r.background.blue);
    report("host sig %s maxSpace %d platform %s callbacks %s", sig, int(r.maxSpace), platform,
           callbacks ? "set" : "missing");
    return noErr;
}

int16_t runStart(FilterRecord& r, const std::string& mode)
{
    if (mode == "invert")
        return startInvert(r);
    if (mode == "check-pattern")
        return startCheck(r, Expect::Pattern);
    if (mode == "check-inverted")
        return startCheck(r, Expect::Inverted);
    if (mode == "tiles") {
        tileBand = 0;
        tilePlane = 0;
        requestTile(r);
        return noErr;
    }
    if (mode == "mask")
        return startMask(r);
    if (mode == "progress")
        return startProgress(r);
    if (mode == "bounds")
        return startBounds(r);
    if (mode == "pick")
        return startPick(r);
    if (mode == "fields")
        return startFields(r);
    if (mode == "endless") {
        endlessCalls = 0;
        r.inRect = {0, 0, 1, 1};
        return noErr;
    }
    if (mode == "crash") {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
        return noErr;
    }
    report("unknown mode '%s'", mode.c_str());
    return ProbeUnknownMode;
}

int16_t dispatch(int16_t selector, void* record)
{
    const std::string mode = probeMode();
    auto* r = static_cast<FilterRecord*>(record);
    switch (selector) {
    case filterSelectorStart:
        return runStart(*r, mode);
    case filterSelectorContinue:
        if (mode == "tiles")
            return continueTiles(*r);
        if (mode == "endless")
            ++endlessCalls; // keeps its request pending for ever
        return noErr;
    default:
        return noErr;
    }
}

} // namespace

#ifdef ORYN_PROBE_WIN64
#define ORYN_PROBE_ENTRY ProbeEntry64
#else
#define ORYN_PROBE_ENTRY ProbeEntry32
#endif

extern "C" __declspec(dllexport) void ORYN_PROBE_ENTRY(int16_t selector, void* record, intptr_t*,
                                                       int16_t* result)
{
    *result = dispatch(selector, record);
}
