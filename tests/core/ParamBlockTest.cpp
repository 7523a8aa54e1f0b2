// The 64-byte parameter record: byte layout, checksum rules, packing of the controls, reading.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "params/ParamBlock.h"

using namespace oryn;

namespace {

std::array<uint8_t, 64> bytesOf(const ParamBlock& block)
{
    std::array<uint8_t, 64> bytes;
    std::memcpy(bytes.data(), &block, 64);
    return bytes;
}

ControlState sampleControls()
{
    ControlState state{};
    for (int i = 0; i < PadCount; ++i) {
        state.padX[i] = 10 + i;
        state.padY[i] = 20 + i;
    }
    state.faceMode = 2;
    state.stretchDouble = 1;
    state.antialias = 1;
    state.currentMode = Picker;
    state.currentFlags = BackgroundSaved | LastUsedRecord;
    state.resolvedColor = 0xFF123456u;
    state.pickerColor = 0xFF654321u;
    return state;
}

} // namespace

TEST(ParamBlock, BytesAreLittleEndianAtFixedOffsets)
{
    ParamBlock block = defaultParamBlock();
    block.padX[0] = 0x0102;
    block.padY[7] = -2;
    block.modeBits = 6;
    block.antialias = 1;
    block.backgroundMode = 3;
    block.checksum = 0x11223344;
    block.backgroundColor = 0xAABBCCDDu;
    block.presetFlags = 10;
    const std::array<uint8_t, 64> bytes = bytesOf(block);
    EXPECT_EQ(bytes[0], 0x02);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(bytes[30], 0xFE);
    EXPECT_EQ(bytes[31], 0xFF);
    EXPECT_EQ(bytes[32], 6);
    EXPECT_EQ(bytes[33], 1);
    EXPECT_EQ(bytes[34], 3);
    EXPECT_EQ(bytes[36], 0x44);
    EXPECT_EQ(bytes[39], 0x11);
    EXPECT_EQ(bytes[40], 0xDD); // red
    EXPECT_EQ(bytes[43], 0xAA); // alpha marker
    EXPECT_EQ(bytes[44], 10);
}

TEST(ParamBlock, DefaultsArePickerLightGreyAndValid)
{
    const ParamBlock block = defaultParamBlock();
    EXPECT_EQ(block.backgroundColor, 0xFFC0C0C0u);
    EXPECT_EQ(block.backgroundMode, 2);
    EXPECT_EQ(block.checksum, 0);
    EXPECT_TRUE(checksumOk(block)) << "all pads 0 give checksum 0, a valid block";
    const std::array<uint8_t, 64> bytes = bytesOf(block);
    for (int i : {35, 45, 50, 63})
        EXPECT_EQ(bytes[i], 0) << "reserved byte " << i << " starts at zero";
}

TEST(ParamBlock, ChecksumSignExtendsNegativePads)
{
    ParamBlock block = defaultParamBlock();
    block.padX[4] = -30;
    block.padY[5] = 7;
    block.padX[1] = -32768;
    block.checksum = -30 + 7 - 32768;
    EXPECT_TRUE(checksumOk(block));
    block.checksum = static_cast<int32_t>(uint16_t(-30)) + 7 + 32768; // zero-extended sum
    EXPECT_FALSE(checksumOk(block));
}

TEST(ParamBlock, OnlyPadBytesAreCoveredByTheChecksum)
{
    ControlState state = sampleControls();
    ParamBlock original = defaultParamBlock();
    packParams(original, state, 0);
    ASSERT_TRUE(checksumOk(original));
    for (size_t offset = 0; offset < 64; ++offset) {
        if (offset >= 36 && offset < 40)
            continue; // the checksum itself
        ParamBlock changed = original;
        reinterpret_cast<uint8_t*>(&changed)[offset] ^= 0x5A;
        EXPECT_EQ(checksumOk(changed), offset >= 32) << "byte " << offset;
    }
}

TEST(ParamBlock, PackParamsStoresControlsAndChecksum)
{
    ControlState state = sampleControls();
    ParamBlock block = defaultParamBlock();
    block.reserved35 = 0x99;
    block.reserved[18] = 0x77;
    packParams(block, state, 0);
    for (int i = 0; i < PadCount; ++i) {
        EXPECT_EQ(block.padX[i], 10 + i);
        EXPECT_EQ(block.padY[i], 20 + i);
    }
    EXPECT_EQ(block.modeBits, (1 << 2) | 2);
    EXPECT_EQ(faceModeOf(block), 2);
    EXPECT_EQ(stretchDoubleOf(block), 1);
    EXPECT_EQ(block.antialias, 1);
    EXPECT_EQ(block.backgroundMode, Picker);
    EXPECT_EQ(block.presetFlags, BackgroundSaved | LastUsedRecord);
    EXPECT_EQ(block.checksum, (10 + 11 + 12 + 13 + 14 + 15 + 16 + 17) + (20 + 21 + 22 + 23 + 24 + 25 + 26 + 27));
    EXPECT_TRUE(checksumOk(block));
    EXPECT_EQ(block.reserved35, 0x99) << "reserved bytes are left untouched";
    EXPECT_EQ(block.reserved[18], 0x77);
}

TEST(ParamBlock, ColourSourceChoosesResolvedOrPickerColour)
{
    ControlState state = sampleControls();
    ParamBlock block = defaultParamBlock();
    packParams(block, state, 0);
    EXPECT_EQ(block.backgroundColor, state.resolvedColor);
    packParams(block, state, 8);
    EXPECT_EQ(block.backgroundColor, state.pickerColor);
}

TEST(ParamBlock, LastUsedFlagsFollowTheMode)
{
    // The start selector stores 10 with the Picker mode and 8 otherwise.
    ControlState state = sampleControls();
    ParamBlock block = defaultParamBlock();
    for (int mode : {Foreground, Background, Picker, Transparent}) {
        state.currentMode = mode;
        state.currentFlags = mode == Picker ? (LastUsedRecord | BackgroundSaved) : LastUsedRecord;
        packParams(block, state, 8);
        EXPECT_EQ(block.presetFlags, mode == Picker ? 10 : 8);
        EXPECT_EQ(block.backgroundMode, mode);
    }
}

TEST(ParamBlock, OutOfRangeControlValueFailsTheCheck)
{
    // A value that does not fit 16 bits is stored truncated, but the checksum is of the full value:
    // such a block is refused rather than replayed as a different setting.
    ControlState state = sampleControls();
    state.padX[3] = 70000;
    ParamBlock block = defaultParamBlock();
    packParams(block, state, 0);
    EXPECT_EQ(block.padX[3], static_cast<int16_t>(70000 - 65536));
    EXPECT_FALSE(checksumOk(block));
}

TEST(ParamBlock, ReadAcceptsExactlySixtyFourBytes)
{
    ParamBlock source = defaultParamBlock();
    packParams(source, sampleControls(), 0);
    uint8_t bytes[65];
    std::memcpy(bytes, &source, 64);
    bytes[64] = 0xEE;

    ParamBlock block = defaultParamBlock();
    const std::array<uint8_t, 64> untouched = bytesOf(block);
    EXPECT_EQ(readParamBlock(bytes, 65, block), 1);
    EXPECT_EQ(readParamBlock(bytes, 63, block), 1);
    EXPECT_EQ(readParamBlock(nullptr, 64, block), 1);
    EXPECT_EQ(bytesOf(block), untouched) << "a record of the wrong size is never read";
    EXPECT_EQ(readParamBlock(bytes, 64, block), 0);
    EXPECT_EQ(bytesOf(block), bytesOf(source));
}
