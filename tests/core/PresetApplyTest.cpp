// Applying stored records as presets: which flags restore the light correction and background.
#include <gtest/gtest.h>

#include <cstring>

#include "params/PresetApply.h"
#include "params/SamplePresets.h"

using namespace oryn;

namespace {

FilterRecord hostWithColours()
{
    FilterRecord host;
    std::memset(&host, 0, sizeof host);
    host.foreColor[0] = 0x11; // red
    host.foreColor[1] = 0x22;
    host.foreColor[2] = 0x33;
    host.backColor[0] = 0xAA;
    host.backColor[1] = 0xBB;
    host.backColor[2] = 0xCC;
    return host;
}

// Controls as a dialog holds them before a preset is applied.
ControlState currentControls()
{
    ControlState controls{};
    applySample(1, controls);
    controls.padX[LightBoostPad] = 61;
    controls.padX[BrightnessRatioPad] = 62;
    controls.antialias = 0;
    controls.currentMode = Background;
    controls.pickerColor = 0xFF010203u;
    controls.resolvedColor = 0xFFCCBBAAu;
    controls.currentFlags = 0;
    return controls;
}

// A stored record whose pads all differ from currentControls().
ParamBlock storedRecord(uint8_t flags, uint8_t mode, uint32_t colour)
{
    ControlState saved{};
    for (int i = 0; i < PadCount; ++i) {
        saved.padX[i] = 3 + i;
        saved.padY[i] = 40 - i;
    }
    saved.faceMode = 1;
    saved.stretchDouble = 1;
    saved.antialias = 1;
    saved.currentMode = mode;
    saved.currentFlags = flags;
    saved.resolvedColor = colour;
    ParamBlock block = defaultParamBlock();
    packParams(block, saved, 0);
    return block;
}

} // namespace

TEST(PresetApply, LastUsedRecordRestoresLightButNotBackground)
{
    FilterRecord host = hostWithColours();
    ControlState controls = currentControls();
    ParamBlock block = storedRecord(LastUsedRecord | BackgroundSaved, Foreground, 0xFF0000FFu);
    applyParamBlock(block, controls, 3, host);
    EXPECT_EQ(controls.padX[LightBoostPad], 3 + 6);
    EXPECT_EQ(controls.padX[BrightnessRatioPad], 3 + 7);
    EXPECT_EQ(controls.padY[0], 40);
    EXPECT_EQ(controls.faceMode, 1);
    EXPECT_EQ(controls.stretchDouble, 1);
    EXPECT_EQ(controls.currentMode, Background) << "a last-used record leaves the background";
    EXPECT_EQ(controls.resolvedColor, 0xFFCCBBAAu);
    EXPECT_EQ(controls.currentFlags, LastUsedRecord);
    EXPECT_EQ(controls.antialias, 0) << "presets never change Antialiasing";
}

TEST(PresetApply, PresetWithoutFlagsKeepsLightAndBackground)
{
    FilterRecord host = hostWithColours();
    ControlState controls = currentControls();
    applyParamBlock(storedRecord(0, Foreground, 0xFF0000FFu), controls, 3, host);
    EXPECT_EQ(controls.padX[1], 4) << "the cell width comes from the preset";
    EXPECT_EQ(controls.padX[LightBoostPad], 61);
    EXPECT_EQ(controls.padX[BrightnessRatioPad], 62);
    EXPECT_EQ(controls.currentMode, Background);
    EXPECT_EQ(controls.pickerColor, 0xFF010203u);
    EXPECT_EQ(controls.currentFlags, 0);
}

TEST(PresetApply, LightSavedRestoresTheLightCorrection)
{
    FilterRecord host = hostWithColours();
    ControlState controls = currentControls();
    applyParamBlock(storedRecord(LightSaved, Foreground, 0xFF0000FFu), controls, 3, host);
    EXPECT_EQ(controls.padX[LightBoostPad], 9);
    EXPECT_EQ(controls.padX[BrightnessRatioPad], 10);
    EXPECT_EQ(controls.currentMode, Background);
    EXPECT_EQ(controls.currentFlags, LightSaved);
}

TEST(PresetApply, SavedForegroundComesBackAsPickerWithItsColour)
{
    FilterRecord host = hostWithColours();
    ControlState controls = currentControls();
    // Saved while the foreground was pure red: the stored colour is what the mode resolved to.
    applyParamBlock(storedRecord(BackgroundSaved, Foreground, 0xFF0000FFu), controls, 3, host);
    EXPECT_EQ(controls.currentMode, Picker);
    EXPECT_EQ(controls.pickerColor, 0xFF0000FFu);
    EXPECT_EQ(controls.resolvedColor, 0xFF0000FFu);
    EXPECT_EQ(controls.padX[LightBoostPad], 61);
}

TEST(PresetApply, SavedTransparencyNeedsFourPlanes)
{
    FilterRecord host = hostWithColours();
    ParamBlock block = storedRecord(BackgroundSaved, Transparent, TransparentColor);

    ControlState controls = currentControls();
    applyParamBlock(block, controls, 4, host);
    EXPECT_EQ(controls.currentMode, Transparent);
    EXPECT_EQ(controls.resolvedColor, TransparentColor);

    controls = currentControls();
    applyParamBlock(block, controls, 3, host);
    EXPECT_EQ(controls.currentMode, Background) << "the current mode stays on three planes";
    EXPECT_EQ(controls.resolvedColor, 0xFFCCBBAAu) << "resolved again from the host colour";

    controls = currentControls();
    controls.currentMode = Transparent;
    applyParamBlock(block, controls, 3, host);
    EXPECT_EQ(controls.currentMode, Picker);
    EXPECT_EQ(controls.resolvedColor, 0xFF010203u);
}

TEST(PresetApply, DamagedUserPresetFallsBackToTheDefaultSample)
{
    FilterRecord host = hostWithColours();
    ControlState controls = currentControls();
    ParamBlock block = storedRecord(LightSaved | BackgroundSaved, Foreground, 0xFF0000FFu);
    block.padX[2] += 1; // not reflected in the checksum
    EXPECT_EQ(applyUserPreset(block, controls, 3, host), 1);

    ControlState orystone = currentControls();
    applySample(DefaultSample, orystone);
    orystone.padX[LightBoostPad] = 30;
    orystone.padX[BrightnessRatioPad] = 20;
    for (int i = 0; i < PadCount; ++i) {
        EXPECT_EQ(controls.padX[i], orystone.padX[i]) << "pad " << i;
        EXPECT_EQ(controls.padY[i], orystone.padY[i]) << "pad " << i;
    }
    EXPECT_EQ(controls.padX[1], 35);
    EXPECT_EQ(controls.padY[0], 55);
    EXPECT_EQ(controls.currentMode, Background) << "the damaged record's background is ignored";
    EXPECT_EQ(controls.currentFlags, 0);

    ControlState valid = currentControls();
    block.padX[2] -= 1;
    EXPECT_EQ(applyUserPreset(block, valid, 3, host), 0);
    EXPECT_EQ(valid.padX[2], 5);
}
