// The operation's property values against oryn3d's options: the same record for the same
// settings, and the render over memory for the sizes and plane counts it takes or refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gegl/ReliefSettings.h"
#include "host/HostApi.h"
#include "params/SamplePresets.h"
#include "tools/oryn3d/ControlOptions.h"

namespace oryn {
namespace {

// The record oryn3d renders for a sample (0 = none) and its options.
ParamBlock oryn3dBlock(int sample, const ControlOverrides& overrides)
{
    ControlState controls = defaultControls();
    if (sample != 0)
        applySample(sample, controls);
    applyOverrides(overrides, controls);
    ParamBlock block = defaultParamBlock();
    packAsApplied(controls, block);
    return block;
}

::testing::AssertionResult sameBytes(const ParamBlock& a, const ParamBlock& b)
{
    if (std::memcmp(&a, &b, sizeof a) == 0)
        return ::testing::AssertionSuccess();
    const uint8_t* pa = reinterpret_cast<const uint8_t*>(&a);
    const uint8_t* pb = reinterpret_cast<const uint8_t*>(&b);
    size_t i = 0;
    while (pa[i] == pb[i])
        ++i;
    return ::testing::AssertionFailure()
           << "records differ at byte " << i << ": " << int(pa[i]) << " against " << int(pb[i]);
}

TEST(ReliefSettings, DefaultsAreTheDialogsOpeningState)
{
    EXPECT_TRUE(sameBytes(reliefBlock(ReliefSettings()), oryn3dBlock(0, ControlOverrides())));
    // The defaults are the default sample's shape.
    ReliefSettings orystone;
    orystone.sample = DefaultSample;
    EXPECT_TRUE(sameBytes(reliefBlock(orystone), reliefBlock(ReliefSettings())));
}

TEST(ReliefSettings, SampleSetsTheShapeAndKeepsLightCorrectionBackgroundAndAntialias)
{
    for (int k = 1; k <= sampleCount(0); ++k) {
        ReliefSettings s;
        s.sample = k;
        // Shape values that the sample replaces.
        s.cellWidth = 299;
        s.bevel = 49;
        s.face = 1;
        s.stretchDouble = true;
        s.lightBoost = 77;
        s.brightnessRatio = 5;
        s.antialias = false;
        s.backgroundColor = 0xFF204080u;
        ControlOverrides o;
        o.lightBoost = 77;
        o.brightnessRatio = 5;
        o.antialias = false;
        o.background = BackgroundChoice{Picker, 0xFF204080u};
        EXPECT_TRUE(sameBytes(reliefBlock(s), oryn3dBlock(k, o))) << "sample " << k;
    }
}

TEST(ReliefSettings, EveryControlMapsAsTheToolsOption)
{
    ReliefSettings s;
    s.cellWidth = 0;
    s.cellHeight = 300;
    s.bevel = 50;
    s.shading = 100;
    s.lightX = 0;
    s.lightY = 50;
    s.stretchX = 3;
    s.stretchY = 47;
    s.face = 2;
    s.stretchDouble = true;
    s.lightBoost = 100;
    s.brightnessRatio = 0;
    s.antialias = false;
    s.transparent = true;
    ControlOverrides o;
    o.cellWidth = 0;
    o.cellHeight = 300;
    o.bevel = 50;
    o.shading = 100;
    o.light = PadPoint{0, 50};
    o.stretch = PadPoint{3, 47};
    o.faceMode = 2;
    o.stretchDouble = true;
    o.lightBoost = 100;
    o.brightnessRatio = 0;
    o.antialias = false;
    o.background = BackgroundChoice{Transparent, 0};
    EXPECT_TRUE(sameBytes(reliefBlock(s), oryn3dBlock(0, o)));
}

TEST(ReliefSettings, AlphaWhenTheInputHasOneOrTheBackgroundIsTransparent)
{
    ReliefSettings s;
    EXPECT_FALSE(reliefNeedsAlpha(false, s));
    EXPECT_TRUE(reliefNeedsAlpha(true, s));
    s.transparent = true;
    EXPECT_TRUE(reliefNeedsAlpha(false, s));
}

// A varied picture, so that a wrong mapping changes bytes.
std::vector<uint8_t> picture(int columns, int rows, int planes)
{
    std::vector<uint8_t> pixels(size_t(columns) * rows * planes);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>((i * 37 + (i / planes) * 11) ^ (i >> 5));
    return pixels;
}

TEST(ReliefSettings, RenderGivesTheSameBytesOnAnyNumberOfThreads)
{
    const int columns = 211, rows = 157, planes = 4;
    const std::vector<uint8_t> src = picture(columns, rows, planes);
    ReliefSettings s;
    s.sample = 2;
    s.transparent = true;
    const ParamBlock block = reliefBlock(s);
    std::vector<uint8_t> one(src.size(), 1), four(src.size(), 2);
    ASSERT_EQ(renderRelief(block, columns, rows, planes, src.data(), one.data(), columns * planes,
                           1, nullptr, nullptr),
              noErr);
    ASSERT_EQ(renderRelief(block, columns, rows, planes, src.data(), four.data(),
                           columns * planes, 4, nullptr, nullptr),
              noErr);
    EXPECT_EQ(one, four);
    EXPECT_NE(one, src);
}

void countProgress(void* data, int32_t done, int32_t total)
{
    auto* calls = static_cast<std::vector<std::pair<int32_t, int32_t>>*>(data);
    calls->push_back({done, total});
}

TEST(ReliefSettings, RenderReportsProgressOnTheCallingThread)
{
    const int columns = 40, rows = 64, planes = 3;
    const std::vector<uint8_t> src = picture(columns, rows, planes);
    std::vector<uint8_t> dst(src.size());
    std::vector<std::pair<int32_t, int32_t>> calls;
    ASSERT_EQ(renderRelief(reliefBlock(ReliefSettings()), columns, rows, planes, src.data(),
                           dst.data(), columns * planes, 1, countProgress, &calls),
              noErr);
    ASSERT_FALSE(calls.empty());
    for (const auto& call : calls) {
        EXPECT_EQ(call.second, rows);
        EXPECT_GE(call.first, 0);
        EXPECT_LE(call.first, rows);
    }
}

TEST(ReliefSettings, RenderTakesTinyImagesAndRefusesWhatTheFilterCannotDescribe)
{
    const ParamBlock block = reliefBlock(ReliefSettings());
    uint8_t src[4] = {10, 200, 30, 255};
    uint8_t dst[4] = {0, 0, 0, 0};
    EXPECT_EQ(renderRelief(block, 1, 1, 4, src, dst, 4, 0, nullptr, nullptr), noErr);
    EXPECT_EQ(renderRelief(block, 1, 1, 3, src, dst, 3, 0, nullptr, nullptr), noErr);
    // Nothing to render: no pixel is touched, not even through null buffers.
    EXPECT_EQ(renderRelief(block, 0, 5, 4, nullptr, nullptr, 0, 0, nullptr, nullptr), noErr);
    EXPECT_EQ(renderRelief(block, 5, 0, 4, nullptr, nullptr, 0, 0, nullptr, nullptr), noErr);
    EXPECT_EQ(renderRelief(block, 32768, 1, 4, src, dst, 4, 0, nullptr, nullptr), filterBadMode);
    EXPECT_EQ(renderRelief(block, 1, 32768, 4, src, dst, 4, 0, nullptr, nullptr), filterBadMode);
    EXPECT_EQ(renderRelief(block, 1, 1, 2, src, dst, 2, 0, nullptr, nullptr), filterBadMode);
    EXPECT_EQ(renderRelief(block, 2, 1, 4, src, dst, 4, 0, nullptr, nullptr), memFullErr);
}

} // namespace
} // namespace oryn
