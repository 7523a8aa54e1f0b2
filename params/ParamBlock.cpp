// The 64-byte parameter record: defaults, checksum and packing of the control state.
#include "params/ParamBlock.h"

#include <cstring>

namespace oryn {

ParamBlock defaultParamBlock()
{
    ParamBlock block;
    std::memset(&block, 0, sizeof block);
    block.backgroundColor = DefaultBackgroundColor;
    block.backgroundMode = Picker;
    return block;
}

int32_t padChecksum(const ParamBlock& block)
{
    // Unsigned arithmetic wraps like the 32-bit sum it stands for, without overflow.
    uint32_t sum = 0;
    for (int i = 0; i < PadCount; ++i) {
        sum += static_cast<uint32_t>(static_cast<int32_t>(block.padX[i]));
        sum += static_cast<uint32_t>(static_cast<int32_t>(block.padY[i]));
    }
    return static_cast<int32_t>(sum);
}

bool checksumOk(const ParamBlock& block) { return padChecksum(block) == block.checksum; }

void packParams(ParamBlock& block, const ControlState& state, int colourSource)
{
    block.presetFlags = static_cast<uint8_t>(state.currentFlags);
    block.backgroundMode = static_cast<uint8_t>(state.currentMode);
    for (int i = 0; i < PadCount; ++i) {
        block.padX[i] = static_cast<int16_t>(state.padX[i]);
        block.padY[i] = static_cast<int16_t>(state.padY[i]);
    }
    block.antialias = static_cast<uint8_t>(state.antialias);
    block.modeBits = static_cast<uint8_t>((state.stretchDouble << 2) | state.faceMode);
    // The checksum covers the controls' full 32-bit values: a value that did not fit its 16-bit
    // field makes the stored block fail its check instead of replaying a different setting.
    uint32_t sum = 0;
    for (int i = 0; i < PadCount; ++i)
        sum += static_cast<uint32_t>(state.padY[i]) + static_cast<uint32_t>(state.padX[i]);
    block.checksum = static_cast<int32_t>(sum);
    block.backgroundColor = colourSource == 0 ? state.resolvedColor : state.pickerColor;
}

int readParamBlock(const void* bytes, size_t size, ParamBlock& block)
{
    if (bytes == nullptr || size != ParamBlockSize)
        return 1;
    std::memcpy(&block, bytes, ParamBlockSize);
    return 0;
}

} // namespace oryn
