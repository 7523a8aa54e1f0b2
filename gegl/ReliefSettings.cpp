// Property values to controls and record, and the final render over an image in memory through
// the same run set-up and engine mapping as the plug-in's final render.
#include "gegl/ReliefSettings.h"

#include <memory>
#include <new>

#include "host/HostApi.h"
#include "params/PresetApply.h"
#include "params/SamplePresets.h"
#include "plugin/FinalRender.h"

namespace oryn {

namespace {

constexpr int32_t MaxSide = 32767; // the host record holds sizes as 16-bit numbers

// The progress callback of the render running on this thread. The host's progressProc carries
// no user data; each rendering thread has its own.
struct ProgressTarget {
    ReliefProgress progress;
    void* data;
};
thread_local ProgressTarget progressTarget = {nullptr, nullptr};

void forwardProgress(int32_t done, int32_t total)
{
    if (progressTarget.progress != nullptr)
        progressTarget.progress(progressTarget.data, done, total);
}

// Clears the thread's progress target when the render returns.
struct ProgressScope {
    ProgressScope(ReliefProgress progress, void* data) { progressTarget = {progress, data}; }
    ~ProgressScope() { progressTarget = {nullptr, nullptr}; }
};

} // namespace

ControlState reliefControls(const ReliefSettings& s)
{
    ControlState controls{};
    if (applySample(s.sample, controls) != 0) {
        controls.padX[CellWidthPad] = s.cellWidth;
        controls.padY[CellHeightPad] = s.cellHeight;
        controls.padX[BevelPad] = s.bevel;
        controls.padX[ShadingPad] = s.shading;
        controls.padX[LightPad] = s.lightX;
        controls.padY[LightPad] = s.lightY;
        controls.padX[StretchPad] = s.stretchX;
        controls.padY[StretchPad] = s.stretchY;
        controls.faceMode = s.face;
        controls.stretchDouble = s.stretchDouble ? 1 : 0;
    }
    controls.padX[LightBoostPad] = s.lightBoost;
    controls.padX[BrightnessRatioPad] = s.brightnessRatio;
    controls.antialias = s.antialias ? 1 : 0;
    // A transparent background keeps the colour as the picker's, as the dialog's popup does.
    controls.currentMode = s.transparent ? Transparent : Picker;
    controls.pickerColor = s.backgroundColor | OpaqueMarker;
    controls.resolvedColor = s.transparent ? TransparentColor : controls.pickerColor;
    controls.currentFlags = LastUsedRecord | (s.transparent ? 0 : BackgroundSaved);
    return controls;
}

ParamBlock reliefBlock(const ReliefSettings& settings)
{
    ParamBlock block = defaultParamBlock();
    // After Apply the record holds the picker colour next to the mode.
    packParams(block, reliefControls(settings), 8);
    return block;
}

bool reliefNeedsAlpha(bool inputHasAlpha, const ReliefSettings& settings)
{
    return inputHasAlpha || settings.transparent;
}

int16_t renderRelief(const ParamBlock& block, int32_t columns, int32_t rows, int32_t planes,
                     const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t threads,
                     ReliefProgress progress, void* progressData)
{
    if (columns < 0 || rows < 0 || columns > MaxSide || rows > MaxSide ||
        (planes != 3 && planes != 4))
        return filterBadMode;
    if (columns == 0 || rows == 0)
        return noErr;
    if (src == nullptr || dst == nullptr || rowBytes < columns * planes)
        return memFullErr;

    std::unique_ptr<FilterRecord> record(new (std::nothrow) FilterRecord());
    if (!record)
        return memFullErr;
    FilterRecord& r = *record;
    r.progressProc = forwardProgress;
    r.imageSize.v = static_cast<int16_t>(rows);
    r.imageSize.h = static_cast<int16_t>(columns);
    r.planes = static_cast<int16_t>(planes);
    r.filterRect = Rect{0, 0, r.imageSize.v, r.imageSize.h};
    r.wholeSize = r.imageSize;
    r.depth = 8;
    r.haveMask = 0;
    // The whole image, as requestWholeImage leaves it; the engine only reads the source.
    r.inRect = r.outRect = r.filterRect;
    r.inLoPlane = r.outLoPlane = 0;
    r.inHiPlane = r.outHiPlane = static_cast<int16_t>(planes - 1);
    r.inData = const_cast<uint8_t*>(src);
    r.outData = dst;
    r.inRowBytes = r.outRowBytes = rowBytes;

    ParamBlock rendered = block;
    const RunSetup setup = setupRun(r, rendered, 0);
    ParamContext context{&rendered, &r};
    ProgressScope scope(progress, progressData);
    return renderFinal(context, setup, threads);
}

} // namespace oryn
