// An 8-bit interleaved image in memory: what oryn3d reads from files, hands to the filter as the
// host's buffers, and writes back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oryn {

// Whole-image pixel memory straight from the kernel: pages are not touched until written (no
// zero fill, no copy), and large buffers are offered to transparent huge pages, which cuts the
// page faults of a full-size image by a factor of 512.
class PixelBuffer {
public:
    PixelBuffer() = default;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    PixelBuffer(PixelBuffer&& other) noexcept;
    PixelBuffer& operator=(PixelBuffer&& other) noexcept;
    ~PixelBuffer();

    // Replaces the buffer with `size` bytes of unspecified content. Returns 0, or 1 when the
    // memory cannot be had.
    int allocate(size_t size);

    uint8_t* data() { return bytes; }
    const uint8_t* data() const { return bytes; }
    size_t size() const { return length; }

private:
    void release();

    uint8_t* bytes = nullptr;
    size_t length = 0;
    size_t mapped = 0;
};

struct Raster {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bands = 0;  // 1 grey (masks), 3 RGB, 4 RGBA
    PixelBuffer pixels; // rows top first, width x bands bytes each, no padding

    int32_t rowBytes() const { return width * bands; }

    // Sets the size and allocates the pixels. Returns 0, or 1 when memory is short.
    int allocate(int32_t columns, int32_t rows, int32_t planes);
};

// `rgba` composited over the opaque colour `word` (byte 0 red, 1 green, 2 blue) into the RGB
// raster `rgb`: each channel c * a + colour * (255 - a), divided by 255 and rounded. Returns 0, or
// 1 when memory is short.
int flattenOnto(const Raster& rgba, uint32_t word, Raster& rgb);

} // namespace oryn
