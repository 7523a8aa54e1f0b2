// The 64-byte parameter record: unit of storage for presets and the last-used settings, and the
// source of the final render's arguments.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/ColorWord.h"

struct FilterRecord;

namespace oryn {

// presetFlags bits.
constexpr uint8_t BackgroundSaved = 2; // restore background colour and mode when applied
constexpr uint8_t LightSaved = 4;      // restore pads 6 and 7 (light correction) when applied
constexpr uint8_t LastUsedRecord = 8;  // written by the start selector as "Last Used"

constexpr int PadCount = 8;
// What each pad sets, by its index (x and y, or the one value a slider gives in x).
constexpr int CellHeightPad = 0; // y
constexpr int CellWidthPad = 1;  // x
constexpr int BevelPad = 2;
constexpr int ShadingPad = 3;
constexpr int StretchPad = 4;
constexpr int LightPad = 5;
constexpr int LightBoostPad = 6;
constexpr int BrightnessRatioPad = 7;
constexpr size_t ParamBlockSize = 64;

// Little-endian, no padding:
//   0-15  padX[0..7]      int16  pad x values
//  16-31  padY[0..7]      int16  pad y values
//  32     modeBits        uint8  bits 0-1 faceMode, bit 2 stretchDouble ("x2"), bits 3-7 zero
//  33     antialias       uint8  0 or 1
//  34     backgroundMode  uint8  a BackgroundMode
//  35     reserved35      uint8  not interpreted
//  36-39  checksum        int32  sum of the sixteen pad values
//  40-43  backgroundColor uint32 colour word
//  44     presetFlags     uint8  BackgroundSaved | LightSaved | LastUsedRecord
//  45-63  reserved        19 bytes, not interpreted
struct ParamBlock {
    int16_t padX[PadCount];
    int16_t padY[PadCount];
    uint8_t modeBits;
    uint8_t antialias;
    uint8_t backgroundMode;
    uint8_t reserved35;
    int32_t checksum;
    uint32_t backgroundColor;
    uint8_t presetFlags;
    uint8_t reserved[19];
};
static_assert(sizeof(ParamBlock) == ParamBlockSize, "ParamBlock is 64 bytes");
static_assert(offsetof(ParamBlock, padX) == 0, "padX offset");
static_assert(offsetof(ParamBlock, padY) == 16, "padY offset");
static_assert(offsetof(ParamBlock, modeBits) == 32, "modeBits offset");
static_assert(offsetof(ParamBlock, antialias) == 33, "antialias offset");
static_assert(offsetof(ParamBlock, backgroundMode) == 34, "backgroundMode offset");
static_assert(offsetof(ParamBlock, reserved35) == 35, "reserved35 offset");
static_assert(offsetof(ParamBlock, checksum) == 36, "checksum offset");
static_assert(offsetof(ParamBlock, backgroundColor) == 40, "backgroundColor offset");
static_assert(offsetof(ParamBlock, presetFlags) == 44, "presetFlags offset");
static_assert(offsetof(ParamBlock, reserved) == 45, "reserved offset");

// The pair handed to the main dialog and to the render engine.
struct ParamContext {
    ParamBlock* block;
    FilterRecord* record;
};

// The control state that packParams stores: pad values as the controls hold them (32-bit), the
// G-Shading button state, the "x2" and Antialiasing check boxes, the background mode and flags.
struct ControlState {
    int32_t padX[PadCount];
    int32_t padY[PadCount];
    int32_t faceMode;      // G-Shading button state, 0..2
    int32_t stretchDouble; // "x2" check box, 0 or 1
    int32_t antialias;     // Antialiasing check box, 0 or 1
    int32_t currentMode;   // BackgroundMode
    int32_t currentFlags;  // presetFlags of what the controls hold
    uint32_t resolvedColor;
    uint32_t pickerColor;
};

// A zeroed block with the default background (Picker, 0xFFC0C0C0).
ParamBlock defaultParamBlock();

// Sum of the sixteen pad values, each sign-extended, in 32-bit arithmetic (wrapping).
int32_t padChecksum(const ParamBlock& block);

// Returns true when the stored checksum matches the pads.
bool checksumOk(const ParamBlock& block);

// Writes the control state into the block. colourSource 0 stores resolvedColor, any other value
// pickerColor. Reserved bytes are left as they are.
void packParams(ParamBlock& block, const ControlState& state, int colourSource);

// Copies a stored record into a block. Returns 0, or 1 (block untouched) when size is not 64.
int readParamBlock(const void* bytes, size_t size, ParamBlock& block);

// The faceMode and stretchDouble fields of modeBits.
inline int32_t faceModeOf(const ParamBlock& block) { return block.modeBits & 3; }
inline int32_t stretchDoubleOf(const ParamBlock& block) { return (block.modeBits >> 2) & 1; }

} // namespace oryn
