// Tests of the sample presets: the number reader's limits, the decoded samples, what applying a
// sample leaves alone, and the list names.
#include "params/SamplePresets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace oryn {
namespace {

// The text in a heap buffer of exactly its size, so that a read past the terminator is caught by
// the sanitizer build.
std::vector<char> exactText(const char* text)
{
    return std::vector<char>(text, text + std::strlen(text) + 1);
}

TEST(SamplePresetsTest, ReadsNumbersInTurn)
{
    std::vector<char> text = exactText("#150 010");
    int32_t value = -1;
    int position = 0;
    EXPECT_EQ(parsePresetNumber(value, text.data(), position), 0);
    EXPECT_EQ(value, 150);
    EXPECT_EQ(position, 5); // past "#150 ": the blank that ended the number is consumed
    EXPECT_EQ(parsePresetNumber(value, text.data(), position), 0);
    EXPECT_EQ(value, 10);
    // The terminator ends the last number but is not passed: a further read fails at it.
    EXPECT_EQ(position, 8);
    EXPECT_EQ(parsePresetNumber(value, text.data(), position), 1);
    EXPECT_EQ(value, 10);
    EXPECT_EQ(position, 8);
}

TEST(SamplePresetsTest, NumbersHaveOneToFourDigits)
{
    struct Case {
        const char* text;
        int result;
        int32_t value;
        int position;
    };
    const Case cases[] = {
        {"7", 0, 7, 1},        {"x0042y", 0, 42, 6},  {"1234 5", 0, 1234, 5},
        {"9999 1", 0, -5, 5},  // 9999 keeps the target
        {"99999", 1, -5, 5},   // a fifth digit fails after reading it
        {"12345 6", 1, -5, 5}, {"", 1, -5, 0},       {"abc", 1, -5, 3},
    };
    for (const Case& c : cases) {
        std::vector<char> text = exactText(c.text);
        int32_t value = -5;
        int position = 0;
        EXPECT_EQ(parsePresetNumber(value, text.data(), position), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(position, c.position) << c.text;
    }
}

TEST(SamplePresetsTest, AtMostNineteenCharactersBeforeANumber)
{
    std::string nineteen(19, ' ');
    std::vector<char> ok = exactText((nineteen + "37").c_str());
    int32_t value = 0;
    int position = 0;
    EXPECT_EQ(parsePresetNumber(value, ok.data(), position), 0);
    EXPECT_EQ(value, 37);

    std::vector<char> tooFar = exactText((nineteen + "#37").c_str());
    value = 0;
    position = 0;
    EXPECT_EQ(parsePresetNumber(value, tooFar.data(), position), 1);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(position, 20);
}

struct Decoded {
    const char* name;
    int32_t width, height, bevel, shading, gx, gy, sx, sy, faceMode, x2;
};

// What each sample sets, one row per sample in list order, written out by hand.
const Decoded Samples[] = {
    {"Jalousie    ", 150, 10, 5, 35, 25, 45, 50, 25, 0, 0},
    {"Herring-Bone", 12, 30, 10, 99, 25, 25, 0, 50, 2, 1},
    {"Orystone    ", 35, 55, 0, 50, 45, 32, 50, 0, 0, 0},
    {"Front Bricks", 15, 15, 40, 30, 40, 40, 50, 50, 2, 1},
    {"Roof        ", 10, 130, 40, 40, 45, 30, 40, 0, 2, 0},
    {"Embossed Wrapper", 30, 10, 50, 100, 25, 25, 25, 25, 2, 0},
    {"Jabot       ", 35, 39, 0, 50, 15, 45, 0, 50, 0, 0},
    {"Gutters    ", 30, 60, 50, 99, 25, 40, 45, 45, 1, 1},
    {"Cellulary   ", 10, 10, 10, 55, 15, 35, 5, 5, 1, 0},
};

// Distinct values in every field, so that any field a sample should not touch shows a change.
ControlState markedControls()
{
    ControlState c;
    for (int i = 0; i < PadCount; ++i) {
        c.padX[i] = 1000 + i;
        c.padY[i] = 2000 + i;
    }
    c.faceMode = 1;
    c.stretchDouble = 1;
    c.antialias = 1;
    c.currentMode = Transparent;
    c.currentFlags = BackgroundSaved | LightSaved;
    c.resolvedColor = 0x00FFFFFFu;
    c.pickerColor = 0xFF123456u;
    return c;
}

TEST(SamplePresetsTest, EverySampleDecodesAndLeavesTheRestAlone)
{
    ASSERT_EQ(sampleCount(-1), 9);
    for (int k = 1; k <= 9; ++k) {
        const Decoded& d = Samples[k - 1];
        ControlState c = markedControls();
        ASSERT_EQ(applySample(k, c), 0) << k;
        EXPECT_EQ(c.padX[1], d.width) << d.name;
        EXPECT_EQ(c.padY[0], d.height) << d.name;
        EXPECT_EQ(c.padX[2], d.bevel) << d.name;
        EXPECT_EQ(c.padX[3], d.shading) << d.name;
        EXPECT_EQ(c.padX[5], d.gx) << d.name;
        EXPECT_EQ(c.padY[5], d.gy) << d.name;
        EXPECT_EQ(c.padX[4], d.sx) << d.name;
        EXPECT_EQ(c.padY[4], d.sy) << d.name;
        EXPECT_EQ(c.faceMode, d.faceMode) << d.name;
        EXPECT_EQ(c.stretchDouble, d.x2) << d.name;
        EXPECT_EQ(c.currentFlags, 0) << d.name;

        // Light correction, unused axes, background and Antialiasing are untouched.
        const ControlState before = markedControls();
        EXPECT_EQ(c.padX[0], before.padX[0]);
        for (int i : {1, 2, 3, 6, 7})
            EXPECT_EQ(c.padY[i], before.padY[i]) << d.name << " padY " << i;
        EXPECT_EQ(c.padX[6], before.padX[6]);
        EXPECT_EQ(c.padX[7], before.padX[7]);
        EXPECT_EQ(c.antialias, before.antialias);
        EXPECT_EQ(c.currentMode, before.currentMode);
        EXPECT_EQ(c.resolvedColor, before.resolvedColor);
        EXPECT_EQ(c.pickerColor, before.pickerColor);

        char name[PresetStringSize];
        ASSERT_EQ(sampleDisplayName(k, name, sizeof name), 0);
        EXPECT_STREQ(name, d.name);
    }
}

TEST(SamplePresetsTest, OutOfRangeSamplesChangeNothing)
{
    const ControlState marked = markedControls();
    for (int k : {0, 10, -1}) {
        ControlState c = marked;
        EXPECT_EQ(applySample(k, c), 1) << k;
        EXPECT_EQ(std::memcmp(&c, &marked, sizeof c), 0) << k;
        char name[PresetStringSize] = "unchanged";
        EXPECT_EQ(sampleDisplayName(k, name, sizeof name), 1) << k;
        EXPECT_STREQ(name, "unchanged");
    }
}

TEST(SamplePresetsTest, TextsWithoutMarkerOrWithFewNumbers)
{
    const ControlState marked = markedControls();
    ControlState c = marked;
    std::vector<char> noMarker = exactText("Plain 1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(applySampleText(noMarker.data(), c), 1);
    EXPECT_EQ(std::memcmp(&c, &marked, sizeof c), 0);

    // Two numbers: they set width and height; the other reads fail at the end of the text and
    // keep their targets. The button keeps state 1, and "x2" follows its bit 2, which is clear.
    std::vector<char> shortText = exactText("Short #20 30");
    EXPECT_EQ(applySampleText(shortText.data(), c), 0);
    EXPECT_EQ(c.padX[1], 20);
    EXPECT_EQ(c.padY[0], 30);
    EXPECT_EQ(c.padX[2], 1002);
    EXPECT_EQ(c.padY[4], 2004);
    EXPECT_EQ(c.faceMode, 1);
    EXPECT_EQ(c.stretchDouble, 0);
    EXPECT_EQ(c.currentFlags, 0);

    // A 9999 keeps a value; the button's bits above 2 are dropped.
    c = markedControls();
    std::vector<char> keep = exactText("K #9999 5 6 7 8 9 10 11 14");
    EXPECT_EQ(applySampleText(keep.data(), c), 0);
    EXPECT_EQ(c.padX[1], 1001);
    EXPECT_EQ(c.padY[0], 5);
    EXPECT_EQ(c.padY[4], 11);
    EXPECT_EQ(c.faceMode, 2);
    EXPECT_EQ(c.stretchDouble, 1);
}

TEST(SamplePresetsTest, StringTable)
{
    EXPECT_STREQ(presetString(IDS_SAMPLE_COUNT), "#9");
    EXPECT_STREQ(presetString(4), "Orystone     #035 055 00 50 45 32 50 00 0");
    EXPECT_STREQ(presetString(IDS_SAVE_ENTRY), "SAVE USER  PRESET #");
    EXPECT_STREQ(presetString(IDS_DELETE_FAILED), "Unable to locate User Preset      ");
    EXPECT_EQ(presetString(0), nullptr);
    EXPECT_EQ(presetString(12), nullptr);

    char buf[PresetStringSize];
    EXPECT_EQ(loadPresetString(7, buf, sizeof buf), 46);
    EXPECT_STREQ(buf, "Embossed Wrapper #030 010 50 100 25 25 25 25 2");
    char small[6];
    EXPECT_EQ(loadPresetString(2, small, sizeof small), 5);
    EXPECT_STREQ(small, "Jalou");
    EXPECT_EQ(loadPresetString(39, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");

    // A short list buffer cuts the name the same way.
    EXPECT_EQ(sampleDisplayName(6, small, sizeof small), 0);
    EXPECT_STREQ(small, "Embos");
}

} // namespace
} // namespace oryn
