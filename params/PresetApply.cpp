// Preset application by flag rules: shared by the dialog and the command-line tool.
#include "params/PresetApply.h"

#include "params/SamplePresets.h"
#include "host/RunSetup.h"

namespace oryn {

namespace {

// A saved background comes back as the colour it resolved to when it was saved, shown as Picker;
// Transparent comes back only where the image can show it.
void restoreBackground(const ParamBlock& block, ControlState& controls, int32_t planesUsed,
                       const FilterRecord& host)
{
    if (block.backgroundMode != Transparent) {
        controls.pickerColor = block.backgroundColor;
        controls.currentMode = Picker;
    } else if (planesUsed >= 4) {
        controls.currentMode = Transparent;
    } else if (controls.currentMode == Transparent) {
        controls.currentMode = Picker;
    }
    controls.resolvedColor = resolveBackgroundColor(controls.currentMode, planesUsed, host,
                                                    controls.pickerColor, controls.resolvedColor);
}

} // namespace

void applyParamBlock(const ParamBlock& block, ControlState& controls, int32_t planesUsed,
                     const FilterRecord& host)
{
    const bool lastUsed = (block.presetFlags & LastUsedRecord) != 0;
    controls.currentFlags = block.presetFlags;
    if (!lastUsed && (block.presetFlags & BackgroundSaved) != 0)
        restoreBackground(block, controls, planesUsed, host);

    const int32_t lightBoost = controls.padX[LightBoostPad];
    const int32_t brightnessRatio = controls.padX[BrightnessRatioPad];
    for (int i = 0; i < PadCount; ++i) {
        controls.padX[i] = block.padX[i];
        controls.padY[i] = block.padY[i];
    }
    if (!lastUsed && (block.presetFlags & LightSaved) == 0) {
        controls.padX[LightBoostPad] = lightBoost;
        controls.padX[BrightnessRatioPad] = brightnessRatio;
    }
    controls.faceMode = faceModeOf(block);
    controls.stretchDouble = stretchDoubleOf(block);
    if (lastUsed)
        controls.currentFlags = LastUsedRecord;
}

int applyUserPreset(const ParamBlock& block, ControlState& controls, int32_t planesUsed,
                    const FilterRecord& host)
{
    if (checksumOk(block)) {
        applyParamBlock(block, controls, planesUsed, host);
        return 0;
    }
    applyDamagedPreset(controls);
    return 1;
}

void applyDamagedPreset(ControlState& controls)
{
    controls.padX[LightBoostPad] = DefaultLightBoost;
    controls.padX[BrightnessRatioPad] = DefaultBrightnessRatio;
    applySample(DefaultSample, controls);
}

} // namespace oryn
