// An 8-bit interleaved image in memory: what oryn3d reads from files, hands to the filter as the
// host's buffers, and writes back.
#pragma once

#include <cstdint>
#include <vector>

namespace oryn {

struct Raster {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bands = 0;           // 1 grey (masks), 3 RGB, 4 RGBA
    std::vector<uint8_t> pixels; // rows top first, width x bands bytes each, no padding

    int32_t rowBytes() const { return width * bands; }
};

} // namespace oryn
