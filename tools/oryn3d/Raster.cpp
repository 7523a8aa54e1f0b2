// Pixel memory mapped from the kernel with a huge-page hint.
#include "tools/oryn3d/Raster.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace oryn {

namespace {

// Transparent huge pages are 2 MiB on x86-64; smaller buffers are not worth the hint.
constexpr size_t HugePage = size_t(2) << 20;

} // namespace

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept
    : bytes(other.bytes), length(other.length), mapped(other.mapped)
{
    other.bytes = nullptr;
    other.length = other.mapped = 0;
}

PixelBuffer& PixelBuffer::operator=(PixelBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        bytes = other.bytes;
        length = other.length;
        mapped = other.mapped;
        other.bytes = nullptr;
        other.length = other.mapped = 0;
    }
    return *this;
}

PixelBuffer::~PixelBuffer()
{
    release();
}

void PixelBuffer::release()
{
    if (bytes != nullptr)
        munmap(bytes, mapped);
    bytes = nullptr;
    length = mapped = 0;
}

int PixelBuffer::allocate(size_t size)
{
    release();
    if (size == 0)
        return 0;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t rounded = (size + page - 1) / page * page;
    const bool huge = rounded >= HugePage;
    // A huge page needs a 2 MiB-aligned range: map a little more and trim both ends.
    const size_t request = huge ? rounded + HugePage : rounded;
    void* memory =
        mmap(nullptr, request, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return 1;
    if (huge) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(memory);
        const uintptr_t aligned = (start + HugePage - 1) / HugePage * HugePage;
        const size_t head = aligned - start;
        if (head != 0)
            munmap(memory, head);
        const size_t tail = request - head - rounded;
        if (tail != 0)
            munmap(reinterpret_cast<void*>(aligned + rounded), tail);
        memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
        // Only a hint: where the kernel has no transparent huge pages nothing changes.
        madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    }
    bytes = static_cast<uint8_t*>(memory);
    length = size;
    mapped = rounded;
    return 0;
}

int Raster::allocate(int32_t columns, int32_t rows, int32_t planes)
{
    width = columns;
    height = rows;
    bands = planes;
    return pixels.allocate(static_cast<size_t>(columns) * static_cast<size_t>(rows) *
                           static_cast<size_t>(planes));
}

int flattenOnto(const Raster& rgba, uint32_t word, Raster& rgb)
{
    if (rgb.allocate(rgba.width, rgba.height, 3) != 0)
        return 1;
    const uint32_t colour[3] = {word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF};
    const size_t pixels = static_cast<size_t>(rgba.width) * static_cast<size_t>(rgba.height);
    const uint8_t* from = rgba.pixels.data();
    uint8_t* to = rgb.pixels.data();
    for (size_t i = 0; i < pixels; ++i, from += 4, to += 3) {
        const uint32_t a = from[3];
        for (int c = 0; c < 3; ++c)
            to[c] = static_cast<uint8_t>((from[c] * a + colour[c] * (255 - a) + 127) / 255);
    }
    return 0;
}

} // namespace oryn
