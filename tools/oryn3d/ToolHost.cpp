// The substitute host behind oryn3d: whole-image buffers served through advanceState, Ctrl-C as
// the host's cancel, a terminal progress bar, and the preview run over them.
#include "tools/oryn3d/ToolHost.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "plugin/FinalRender.h"
#include "host/HostApi.h"
#include "ui/PreviewRender.h"

namespace oryn {

namespace {

// The host's answers for the run in progress. The callbacks carry no user data, so the one run
// the tool makes at a time lives here.
struct HostState {
    FilterRecord* record = nullptr;
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t planes = 0;
    uint8_t* in = nullptr;   // the source image, rows x columns x planes
    uint8_t* out = nullptr;  // receives the result; the render writes every byte of it
    uint8_t* mask = nullptr; // rows x columns, or null
    bool showProgress = false;
    const char* progressLabel = "";
    int drawnPercent = -1; // last percentage drawn, -1 before the first
};
HostState hostState;

// Cancel state, shared with the signal handler: the number of the first termination signal.
volatile sig_atomic_t cancelFlag = 0;
constexpr int TemporarySlots = 2;
constexpr size_t TemporaryPathSize = 4096;
char temporaryPaths[TemporarySlots][TemporaryPathSize];
volatile sig_atomic_t temporaryPathSet[TemporarySlots];

constexpr int16_t RgbImageMode = 3;
constexpr OSType HostSignature = 0x4F523344; // "OR3D"
constexpr Fixed Resolution72 = 72 << 16;
constexpr int ProgressBarWidth = 40;

// Filter cases as hosts number them: flat image, or a layer with transparency, each with or
// without a selection.
int16_t filterCaseFor(int32_t planes, bool haveMask)
{
    if (planes >= 4)
        return haveMask ? 5 : 4;
    return haveMask ? 2 : 1;
}

void onTerminationSignal(int signal)
{
    if (cancelFlag != 0) {
        // Asked twice: stop now. unlink and _exit are safe in a signal handler.
        for (int i = 0; i < TemporarySlots; ++i) {
            if (temporaryPathSet[i] != 0)
                unlink(temporaryPaths[i]);
        }
        _exit(128 + cancelFlag);
    }
    cancelFlag = signal;
}

bool wholeRequestInside(const Rect& rect)
{
    return rect.top >= 0 && rect.left >= 0 && rect.top < rect.bottom && rect.left < rect.right &&
           rect.bottom <= hostState.rows && rect.right <= hostState.columns;
}

// A pointer into a whole-image buffer for a requested rectangle; null when the request is empty,
// outside the image, or for planes other than all of the image's (the filter asks for all).
uint8_t* serveRequest(uint8_t* buffer, int32_t bytesPerPixel, const Rect& rect, int32_t& rowBytes)
{
    rowBytes = hostState.columns * bytesPerPixel;
    if (buffer == nullptr || !wholeRequestInside(rect))
        return nullptr;
    return buffer + static_cast<size_t>(rect.top) * static_cast<size_t>(rowBytes) +
           static_cast<size_t>(rect.left) * static_cast<size_t>(bytesPerPixel);
}

bool allPlanes(int16_t lo, int16_t hi)
{
    return lo == 0 && hi == hostState.planes - 1;
}

OSErr advanceState()
{
    FilterRecord& r = *hostState.record;
    r.inData = allPlanes(r.inLoPlane, r.inHiPlane)
                   ? serveRequest(hostState.in, hostState.planes, r.inRect, r.inRowBytes)
                   : nullptr;
    r.outData = allPlanes(r.outLoPlane, r.outHiPlane)
                    ? serveRequest(hostState.out, hostState.planes, r.outRect, r.outRowBytes)
                    : nullptr;
    r.maskData = serveRequest(hostState.mask, 1, r.maskRect, r.maskRowBytes);
    return noErr;
}

Boolean abortProc()
{
    return cancelFlag != 0 ? 1 : 0;
}

// The terminal's width in columns (80 when it does not say).
int terminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

size_t displayColumns(const std::string& text)
{
    size_t columns = 0;
    for (const char c : text)
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return columns;
}

// `text` cut to at most `columns` columns by taking out its middle, at character boundaries.
std::string shortenMiddle(const std::string& text, size_t columns)
{
    if (displayColumns(text) <= columns)
        return text;
    if (columns < 4)
        return std::string();
    std::vector<std::string> characters;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 || characters.empty())
            characters.emplace_back(1, c);
        else
            characters.back() += c;
    }
    const size_t keep = columns - 3;
    const size_t head = (keep + 1) / 2;
    const size_t tail = keep - head;
    std::string out;
    for (size_t i = 0; i < head; ++i)
        out += characters[i];
    out += "...";
    for (size_t i = characters.size() - tail; i < characters.size(); ++i)
        out += characters[i];
    return out;
}

} // namespace

std::string progressLine(const std::string& label, int percent, int columns)
{
    // Three columns stay free: a line that fills the last one wraps on many terminals, and each
    // redraw would then start a new line; and the terminal's echo of Ctrl-C ("^C") must not
    // wrap either, or its second half would stay behind when the line is cleared.
    const int room = columns - 3;
    const std::string tail = std::string("] ") + (percent < 10 ? "  " : percent < 100 ? " " : "") +
                             std::to_string(percent) + "%";
    const std::string word = "rendering [";
    const int fixed = static_cast<int>(word.size() + tail.size());
    int bar = ProgressBarWidth;
    int labelRoom = room - fixed - bar;
    const int labelWanted = static_cast<int>(displayColumns(label));
    if (labelRoom < labelWanted) {
        // The bar gives way down to 10 columns before the name is shortened.
        const int shrink = std::min(bar - 10, labelWanted - labelRoom);
        bar -= shrink > 0 ? shrink : 0;
        labelRoom = room - fixed - bar;
    }
    if (labelRoom < 0) {
        bar += labelRoom;
        labelRoom = 0;
    }
    if (bar < 4)
        return percent < 10 ? "  " + std::to_string(percent) + "%"
                            : (percent < 100 ? " " : "") + std::to_string(percent) + "%";
    std::string shownLabel = label;
    if (labelWanted > labelRoom) {
        std::string name = label;
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        shownLabel = labelRoom >= 5 ? shortenMiddle(name, static_cast<size_t>(labelRoom - 1)) + " "
                                    : std::string();
    }
    const int filled = percent * bar / 100;
    return shownLabel + word + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(bar - filled), '.') + tail;
}

namespace {

void progressProc(int32_t done, int32_t total)
{
    if (!hostState.showProgress || total <= 0)
        return;
    int64_t percent = static_cast<int64_t>(done) * 100 / total;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (percent == hostState.drawnPercent)
        return;
    hostState.drawnPercent = static_cast<int>(percent);
    // The width is asked each time, so that a resized terminal gets a line that fits.
    const std::string line =
        progressLine(hostState.progressLabel, static_cast<int>(percent), terminalColumns());
    // Erasing to the end of the line removes what a longer line, or the terminal's echo of ^C,
    // left there.
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
}

void clearProgress()
{
    if (hostState.drawnPercent >= 0) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    hostState.drawnPercent = -1;
}

// The preview has no host progress; it only stops for Ctrl-C.
int32_t previewProgress(const ParamContext*, int32_t, int32_t)
{
    return cancelFlag != 0 ? userCanceledErr : 0;
}

void setColor(FilterColor& color, RGBColor& wide, uint32_t word)
{
    for (int i = 0; i < 3; ++i)
        color[i] = static_cast<uint8_t>(word >> (8 * i));
    color[3] = 0xFF;
    wide.red = static_cast<uint16_t>(color[0] * 257);
    wide.green = static_cast<uint16_t>(color[1] * 257);
    wide.blue = static_cast<uint16_t>(color[2] * 257);
}

// A zeroed full-size record describing the image, with the host's callbacks, and the host state
// pointing at the image, the output buffer and the mask.
std::unique_ptr<FilterRecord> makeRecord(const HostImage& host, uint8_t* out)
{
    std::unique_ptr<FilterRecord> record(new FilterRecord());
    FilterRecord& r = *record;
    const Raster& image = *host.image;
    r.abortProc = abortProc;
    r.progressProc = progressProc;
    r.imageSize.v = static_cast<int16_t>(image.height);
    r.imageSize.h = static_cast<int16_t>(image.width);
    r.planes = static_cast<int16_t>(image.bands);
    r.filterRect = Rect{0, 0, r.imageSize.v, r.imageSize.h};
    setColor(r.foreColor, r.foreground, host.foreColor);
    setColor(r.backColor, r.background, host.backColor);
    r.maxSpace = INT32_MAX;
    r.bufferSpace = INT32_MAX;
    r.haveMask = host.mask != nullptr ? 1 : 0;
    r.hostSig = HostSignature;
    r.imageMode = RgbImageMode;
    r.imageHRes = Resolution72;
    r.imageVRes = Resolution72;
    r.wholeSize = r.imageSize;
    r.advanceState = advanceState;
    r.filterCase = filterCaseFor(image.bands, host.mask != nullptr);
    r.depth = 8;

    hostState = HostState();
    hostState.record = record.get();
    hostState.columns = image.width;
    hostState.rows = image.height;
    hostState.planes = image.bands;
    // The filter only reads the source and the mask; the record's pointers are not const.
    hostState.in = const_cast<uint8_t*>(image.pixels.data());
    hostState.out = out;
    hostState.mask =
        host.mask != nullptr ? const_cast<uint8_t*>(host.mask->pixels.data()) : nullptr;
    hostState.showProgress = host.showProgress;
    hostState.progressLabel = host.progressLabel.c_str();
    return record;
}

} // namespace

void installCancelHandler()
{
    // Every signal whose default action ends the process, besides the faults (SIGSEGV, ...)
    // that signal a bug rather than a request to stop.
    std::vector<int> signals = {SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,
                                SIGALRM,   SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
                                SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT};
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        signals.push_back(s);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onTerminationSignal;
    sigfillset(&action.sa_mask);
    // Restarted system calls keep file reads and writes of image libraries intact; the work
    // notices the request at its next abortProc or check.
    action.sa_flags = SA_RESTART;
    for (int s : signals) {
        struct sigaction previous;
        // A signal ignored by whoever started us (nohup, a shell's trap '' ...) stays ignored.
        if (sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
}

bool cancelRequested()
{
    return cancelFlag != 0;
}

int readStream(int fd, size_t limit, std::string& bytes, std::string& error)
{
    bytes.clear();
    char chunk[1 << 16];
    for (;;) {
        if (cancelRequested()) {
            error = "stopped while reading standard input";
            return 1;
        }
        pollfd waiting{fd, POLLIN, 0};
        // The timeout only bounds a signal that arrives between the check and the wait.
        const int ready = poll(&waiting, 1, 250);
        if (ready < 0 && errno != EINTR) {
            error = std::string("cannot read standard input: ") + std::strerror(errno);
            return 1;
        }
        if (ready <= 0)
            continue;
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            error = std::string("cannot read standard input: ") + std::strerror(errno);
            return 1;
        }
        if (bytes.size() + static_cast<size_t>(got) > limit) {
            error = "standard input goes on past " + std::to_string(limit >> 20) +
                    " MiB, the most read from a stream; give the image as a file instead";
            std::string().swap(bytes);
            return 1;
        }
        bytes.append(chunk, static_cast<size_t>(got));
    }
    if (bytes.empty()) {
        error = "standard input is empty";
        return 1;
    }
    return 0;
}

int cancelExitStatus()
{
    return 128 + (cancelFlag != 0 ? cancelFlag : SIGINT);
}

int registerTemporaryFile(const char* path)
{
    if (path == nullptr || std::strlen(path) >= TemporaryPathSize)
        return -1;
    for (int i = 0; i < TemporarySlots; ++i) {
        if (temporaryPathSet[i] == 0) {
            std::strcpy(temporaryPaths[i], path);
            temporaryPathSet[i] = 1;
            return i;
        }
    }
    return -1;
}

void unregisterTemporaryFile(int slot)
{
    if (slot >= 0 && slot < TemporarySlots)
        temporaryPathSet[slot] = 0;
}

void reportRenderProgress(const HostImage& host, int32_t done, int32_t total)
{
    hostState.showProgress = host.showProgress;
    hostState.progressLabel = host.progressLabel.c_str();
    progressProc(done, total);
}

void endRenderProgress()
{
    clearProgress();
    hostState = HostState();
}

int16_t renderPreview(const HostImage& host, ParamBlock& block, const ControlState& controls,
                      Raster& result, int32_t dpi)
{
    // The preview's reduction works through an image-sized scratch area in place of the output.
    Raster scratch;
    if (scratch.allocate(host.image->width, host.image->height, host.image->bands) != 0)
        return memFullErr;
    std::unique_ptr<FilterRecord> record = makeRecord(host, scratch.pixels.data());
    FilterRecord& r = *record;
    // The run set-up the dialog starts from: planes capped at 4, a background mode the image
    // cannot show lowered, the background colour resolved for the image.
    const RunSetup setup = setupRun(r, block, 0);
    ControlState shown = controls;
    if (shown.currentMode > setup.planesUsed - 1)
        shown.currentMode = setup.planesUsed - 1;
    shown.resolvedColor =
        resolveBackgroundColor(shown.currentMode, setup.planesUsed, r, shown.pickerColor, 0);

    const DisplayScale scale = displayScaleForDpi(dpi);
    std::unique_ptr<PreviewBuffers> buffers(new PreviewBuffers(scale));
    PreviewArea area{};
    const float imageScale = previewImageScale(r.imageSize.h, r.imageSize.v, scale);
    int16_t status = previewTransfer(&r, setup.planesUsed, imageScale, *buffers, area);
    if (status == noErr) {
        ParamContext context{&block, &r};
        status =
            static_cast<int16_t>(previewRender(&context, shown, area, *buffers, previewProgress));
    }
    hostState = HostState();
    if (status != noErr)
        return status;

    // The preview buffer holds blue, green, red; files hold red, green, blue.
    if (result.allocate(buffers->side, buffers->side, 3) != 0)
        return memFullErr;
    const uint8_t* bgr = buffers->previewImage;
    uint8_t* rgb = result.pixels.data();
    for (size_t i = 0; i < result.pixels.size(); i += 3) {
        rgb[i] = bgr[i + 2];
        rgb[i + 1] = bgr[i + 1];
        rgb[i + 2] = bgr[i];
    }
    return noErr;
}

} // namespace oryn
