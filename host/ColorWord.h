// Colour words and background modes: the shared vocabulary of the host's colours, the parameter
// record, the engine's fill colour and the dialog's swatches.
#pragma once

#include <cstdint>

namespace oryn {

// Colour word: byte 0 red, byte 1 green, byte 2 blue, byte 3 alpha marker (0xFF opaque, 0x00
// transparent); read as a little-endian number it is 0xAABBGGRR.
constexpr uint32_t OpaqueMarker = 0xFF000000u;
constexpr uint32_t TransparentColor = 0x00FFFFFFu;
constexpr uint32_t DefaultBackgroundColor = 0xFFC0C0C0u;

enum BackgroundMode : int32_t {
    Foreground = 0,
    Background = 1,
    Picker = 2,
    Transparent = 3, // offered only for images with 4 planes
};

} // namespace oryn
