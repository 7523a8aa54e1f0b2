// The final render over the host's whole image: run set-up, the whole-image request, the mapping of
// a parameter record onto the engine's arguments, and progress reporting to the host.
#include "plugin/FinalRender.h"

#include <cstdlib>
#include <thread>

#include "engine/RenderArea.h"
#include "engine/RenderEngine.h"
#include "engine/WorkerThreads.h"

namespace oryn {

namespace {

// Single-precision step from pad units to slope; 50 x SkewStep is just below 1.
constexpr float SkewStep = 0.02f;

// Truncates toward zero. Values beyond the int32 range (possible only with pad values far outside
// the controls' ranges, from a hand-made record) saturate instead of being undefined.
int32_t truncToInt32(double v)
{
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

void emptyRect(Rect& rect) { rect.top = rect.left = rect.bottom = rect.right = 0; }

void emptyRequest(FilterRecord& record)
{
    emptyRect(record.inRect);
    emptyRect(record.outRect);
    emptyRect(record.maskRect);
}

int32_t cappedPlanes(int16_t planes) { return planes > 4 ? 4 : planes; }

} // namespace

int32_t finalProgress(const ParamContext* context, int32_t done, int32_t total)
{
    if (context == nullptr || context->record == nullptr)
        return 0;
    const FilterRecord& record = *context->record;
    // Only the low byte of the host's answer is defined.
    if (record.abortProc != nullptr && static_cast<uint8_t>(record.abortProc()) != 0)
        return userCanceledErr;
    if (record.progressProc != nullptr)
        record.progressProc(done, total);
    return 0;
}

int32_t renderThreadCount(int32_t requested)
{
    int32_t count = requested;
    if (count < 1) {
        // A whole number from 1 on, nothing after it; anything else is ignored.
        const char* text = std::getenv("ORYN_THREADS");
        char* end = nullptr;
        const long value = text != nullptr ? std::strtol(text, &end, 10) : 0;
        if (text != nullptr && end != text && *end == '\0' && value >= 1)
            count = value > MaxRenderThreads ? MaxRenderThreads : static_cast<int32_t>(value);
    }
    if (count < 1) {
        // 0 when the system does not say.
        const unsigned processors = std::thread::hardware_concurrency();
        count = processors > unsigned(MaxRenderThreads) ? MaxRenderThreads
                                                        : static_cast<int32_t>(processors);
    }
    if (count < 1)
        count = 1;
    return count > MaxRenderThreads ? MaxRenderThreads : count;
}

RunSetup setupRun(const FilterRecord& record, const ParamBlock& block, uint32_t previousColor)
{
    RunSetup setup;
    setup.planesUsed = cappedPlanes(record.planes);
    // A stored mode the image cannot show (Transparent on three planes) is lowered for this run
    // only; the block keeps its byte.
    setup.currentMode = block.backgroundMode;
    if (setup.currentMode > setup.planesUsed - 1)
        setup.currentMode = setup.planesUsed - 1;
    setup.pickerColor = block.backgroundColor;
    setup.resolvedColor = resolveBackgroundColor(setup.currentMode, setup.planesUsed, record,
                                                 setup.pickerColor, previousColor);
    setup.imageScale = computeImageScale(record.imageSize.h, record.imageSize.v);
    return setup;
}

int32_t finalCellSize(int32_t pad, float imageScale)
{
    return truncToInt32(pad * double(imageScale));
}

int32_t previewCellSizeFor(int32_t pixels, float imageScale, int32_t maxPad)
{
    // The final size grows with the pad, so the nearest is next to the first pad that reaches
    // `pixels`.
    int32_t pad = 0;
    while (pad < maxPad && finalCellSize(pad, imageScale) < pixels)
        ++pad;
    if (pad > 0 && pixels - finalCellSize(pad - 1, imageScale) <=
                       finalCellSize(pad, imageScale) - pixels)
        --pad;
    return pad;
}

int16_t finalRenderCall(const ParamBlock& block, const RunSetup& setup, int32_t columns,
                        int32_t rows, int16_t planes, RenderCall& call)
{
    const int32_t planesUsed = setup.planesUsed > 4 ? 4 : setup.planesUsed;
    // One- and two-plane images (only an unusual host sends them: the module offers RGB) render
    // their planes only, over the default background; an image without planes cannot render.
    // A set-up that passes three bytes per pixel while the record announces a fourth plane is
    // refused too: the engine would look for a preview alpha plane the final render lacks.
    if (planesUsed < 1 || (planesUsed == 3 && planes > 3))
        return filterBadMode;

    const int32_t k = stretchDoubleOf(block) + 1;
    const int32_t skewX = (25 - block.padX[4]) * k;
    const int32_t skewY = (block.padY[4] - 25) * k;
    const double scale = setup.imageScale;
    const double step = SkewStep;
    call = RenderCall();
    call.cellHeight = finalCellSize(block.padY[0], setup.imageScale);
    call.cellWidth = finalCellSize(block.padX[1], setup.imageScale);
    call.skewX = skewX;
    call.skewY = skewY;
    call.lightV = block.padY[5] - 25;
    call.lightH = block.padX[5] - 25;
    call.shading = block.padX[3] - 50;
    call.toneFloor = block.padX[7];
    call.brightnessBoost = block.padX[6];
    call.bevel = static_cast<float>(block.padX[2]);
    call.faceMode = faceModeOf(block);
    call.left = 0;
    call.top = 0;
    call.right = columns;
    call.bottom = rows;
    // Products formed left to right in double from the single-precision operands.
    call.rowOffset = truncToInt32(negativePart(skewY) * scale * block.padX[1] * step);
    call.srcOffsetY = 0.0f;
    call.colOffset = truncToInt32(clampNonNegative(skewX) * double(block.padY[0]) * scale * step);
    call.srcOffsetX = 0.0f;
    call.renderFlags = block.antialias | HostOutputFlag;
    call.fillColor = setup.resolvedColor;
    call.bytesPerPixel = planesUsed;
    return noErr;
}

int16_t renderFinal(const ParamContext& context, const RunSetup& setup, int32_t threads)
{
    if (context.record == nullptr || context.block == nullptr)
        return memFullErr;
    FilterRecord& record = *context.record;
    const ParamBlock& block = *context.block;

    const int32_t columns = record.imageSize.h;
    const int32_t rows = record.imageSize.v;
    RenderCall call;
    if (finalRenderCall(block, setup, columns, rows, record.planes, call) != noErr) {
        emptyRequest(record);
        return filterBadMode;
    }
    if (record.inData == nullptr || record.outData == nullptr ||
        (record.haveMask && record.maskData == nullptr)) {
        emptyRequest(record);
        return memFullErr;
    }

    int16_t result = noErr;
    if (columns > 0 && rows > 0) {
        const int32_t engineResult = RenderEngine(
            &context, call.cellHeight, call.cellWidth, call.skewX, call.skewY, call.lightV,
            call.lightH, call.shading, call.toneFloor, call.brightnessBoost, call.bevel,
            call.faceMode, call.left, call.top, call.right, call.bottom,
            static_cast<const uint8_t*>(record.inData), record.inRowBytes,
            static_cast<uint8_t*>(record.outData), record.outRowBytes,
            static_cast<const uint8_t*>(record.maskData), record.maskRowBytes, nullptr,
            call.rowOffset, call.srcOffsetY, call.colOffset, call.srcOffsetX, call.renderFlags,
            call.fillColor, call.bytesPerPixel, finalProgress, renderThreadCount(threads));
        result = static_cast<int16_t>(engineResult);
    }
    // Nothing stays requested, so the host does not call again for more data.
    emptyRequest(record);
    return result;
}

int16_t replayBlock(FilterRecord* record, ParamBlock& block, int32_t threads)
{
    if (record == nullptr)
        return memFullErr;
    // A freshly loaded module has no earlier colour; 0 is its value at load.
    RunSetup setup = setupRun(*record, block, 0);
    if (setup.planesUsed < 1)
        return filterBadMode;
    if (requestWholeImage(record, setup.planesUsed) != noErr) {
        emptyRequest(*record);
        return memFullErr;
    }
    ParamContext context{&block, record};
    return renderFinal(context, setup, threads);
}

} // namespace oryn
