// advanceState, progress, abort and colour services of the test host, and the record it fills.
#include "tools/testhost/HostCallbacks.h"

#include <cstring>
#include <string>

#include "tools/testhost/HostSupport.h"
#include "tools/testhost/HostWindows.h"

namespace oryn {

HostRun* activeRun = nullptr;

namespace {

bool planesValid(int16_t lo, int16_t hi, int32_t planes)
{
    return lo >= 0 && lo <= hi && hi < planes;
}

bool rectInside(const Rect& r, const Image& image)
{
    return r.top >= 0 && r.left >= 0 && r.bottom <= image.height && r.right <= image.width;
}

// Copies the rectangle and planes of `image` into a fresh interleaved buffer whose rows are
// followed by `padding` bytes of PaddingFill.
void serve(ServedBuffer& buffer, const Image& image, const Rect& rect, int16_t lo, int16_t hi,
           int32_t padding)
{
    int32_t width = rect.right - rect.left;
    int32_t height = rect.bottom - rect.top;
    int32_t n = hi - lo + 1;
    buffer.active = true;
    buffer.rect = rect;
    buffer.loPlane = lo;
    buffer.hiPlane = hi;
    buffer.padding = padding;
    buffer.rowBytes = width * n + padding;
    buffer.bytes.assign(size_t(buffer.rowBytes) * size_t(height), PaddingFill);
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

} // namespace

void commit(ServedBuffer& buffer, Image& image)
{
    if (!buffer.active)
        return;
    const Rect& rect = buffer.rect;
    int32_t width = rect.right - rect.left;
    int32_t height = rect.bottom - rect.top;
    int32_t n = buffer.hiPlane - buffer.loPlane + 1;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* pad =
            buffer.bytes.data() + size_t(y) * size_t(buffer.rowBytes) + size_t(width * n);
        for (int32_t i = 0; i < buffer.padding; ++i)
            if (pad[i] != PaddingFill && activeRun != nullptr)
                ++activeRun->paddingWritten;
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

namespace {

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

} // namespace

ORYN_CALLED_BACK OSErr hostAdvanceState()
{
    HostRun& run = *activeRun;
    FilterRecord& record = *run.record;
    ++run.advanceCalls;
    if (run.advanceCalls == 1 && !run.options->holdAdvance.empty()) {
        // A script looks at the screen meanwhile: what the module shows before the transfer. The
        // active window (the module's dialog, if it shows one) is named by its client origin.
        POINT origin{0, 0};
        HWND active = GetActiveWindow();
        if (active != nullptr && ClientToScreen(active, &origin))
            say("advance holding window %ld %ld", long(origin.x), long(origin.y));
        else
            say("advance holding");
        for (int i = 0; i < 12000 && GetFileAttributesA(run.options->holdAdvance.c_str()) ==
                                         INVALID_FILE_ATTRIBUTES;
             ++i)
            Sleep(10);
    }
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
        serve(run.in, run.source, record.inRect, record.inLoPlane, record.inHiPlane,
              run.options->rowPadding);
        record.inData = run.in.bytes.data();
        record.inRowBytes = run.in.rowBytes;
    }
    if (wantOut) {
        // The output starts as the destination as it stands: a copy of the source, plus
        // whatever earlier requests committed.
        serve(run.out, run.output, record.outRect, record.outLoPlane, record.outHiPlane,
              run.options->rowPadding);
        record.outData = run.out.bytes.data();
        record.outRowBytes = run.out.rowBytes;
    }
    if (wantMask) {
        serve(run.maskBuffer, run.mask, record.maskRect, 0, 0, run.options->rowPadding);
        record.maskData = run.maskBuffer.bytes.data();
        record.maskRowBytes = run.maskBuffer.rowBytes;
    }
    say("%s%s -> 0", line.c_str(),
        !rectEmpty(record.maskRect) && !record.haveMask ? " (no mask: not served)" : "");
    return noErr;
}

namespace {

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
    if (run.options->progressDelayMs > 0)
        Sleep(DWORD(run.options->progressDelayMs));
    if (run.options->progressPump) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
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
        if (run.options->pickerBox) {
            // A picker of the host's own, modal to the host's window, as image editors show it.
            say("color picker open");
            MessageBoxA(parentWindow, "Pick a colour", "Color Picker", MB_OK);
            say("color picker closed");
        }
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

} // namespace

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

} // namespace oryn
