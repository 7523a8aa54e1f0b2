// Randomized safety run of the renderer: no access outside the buffers, no undefined behaviour.
//
// Arguments inside and far beyond their ranges (extreme integers, NaN and infinite reals, odd
// pixel sizes, empty, inverted and negative rectangles) and small random images, in buffers
// allocated exactly to what the contract requires. Under the sanitizer build every byte outside
// the rectangle is poisoned, so any read or write outside it fails the run; otherwise the
// destination's bytes outside are checked afterwards. Both renderers run on every case and must
// agree, so their guards for unusual input agree too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "ReferenceEngine.h"
#include "engine/RenderEngine.h"
#include "host/HostApi.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ORYN_POISON(addr, size) __asan_poison_memory_region((addr), (size))
#define ORYN_UNPOISON(addr, size) __asan_unpoison_memory_region((addr), (size))
#else
#define ORYN_POISON(addr, size) ((void)(addr), (void)(size))
#define ORYN_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

namespace oryn {
namespace {

constexpr int32_t IntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t IntMax = std::numeric_limits<int32_t>::max();

// A pixel rectangle, right and bottom exclusive.
struct Box {
    int32_t left, top, right, bottom;
    bool empty() const { return left >= right || top >= bottom; }
};

// An image buffer holding exactly the rows and columns of `area` at `rowBytes` (the last row
// ends with the area's last pixel), addressed from pixel (0, 0) as the renderer addresses it.
// `area` starts at or before (0, 0), so the base pointer lies inside the allocation. Bytes of
// pixels outside the `allowed` boxes are poisoned.
class PixelBuffer {
public:
    PixelBuffer(const Box& area, int32_t pixelBytes, int32_t pad, TestRandom& rnd)
        : box(area), bpp(pixelBytes)
    {
        if (box.empty()) {
            return;
        }
        rowBytes = (box.right - box.left) * bpp + pad;
        const size_t size =
            size_t(box.bottom - box.top - 1) * rowBytes + size_t(box.right - box.left) * bpp;
        bytes.reset(new uint8_t[size]);
        length = size;
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = rnd.byte();
        }
        origin = size_t(-int64_t(box.top) * rowBytes - int64_t(box.left) * bpp);
    }
    ~PixelBuffer() { ORYN_UNPOISON(bytes.get(), length); }
    PixelBuffer(const PixelBuffer&) = delete;

    uint8_t* base() { return bytes ? bytes.get() + origin : nullptr; }

    // Calls visit(offset, length, allowed) for consecutive runs of the allocation, in order:
    // per row, stretches of pixels inside one of the boxes or outside all of them, then the
    // row's padding (outside).
    template <typename Visit> void runs(const Box* allowed, int count, Visit visit) const
    {
        std::vector<uint8_t> inRow(size_t(box.right - box.left) + 1);
        for (int32_t y = box.top; y < box.bottom; ++y) {
            const size_t rowStart = size_t(y - box.top) * size_t(rowBytes);
            std::fill(inRow.begin(), inRow.end(), uint8_t(0));
            for (int i = 0; i < count; ++i) {
                const Box& b = allowed[i];
                if (y >= b.top && y < b.bottom) {
                    for (int32_t x = std::max(b.left, box.left); x < std::min(b.right, box.right);
                         ++x) {
                        inRow[size_t(x - box.left)] = 1;
                    }
                }
            }
            int32_t x = box.left;
            while (x < box.right) {
                const uint8_t inside = inRow[size_t(x - box.left)];
                int32_t end = x + 1;
                while (end < box.right && inRow[size_t(end - box.left)] == inside) {
                    ++end;
                }
                visit(rowStart + size_t(x - box.left) * bpp, size_t(end - x) * bpp, inside != 0);
                x = end;
            }
            const size_t used = size_t(box.right - box.left) * bpp;
            if (y + 1 < box.bottom && size_t(rowBytes) > used) {
                visit(rowStart + used, size_t(rowBytes) - used, false);
            }
        }
    }
    // Poisons every byte outside the allowed boxes (ASan works in 8-byte granules, so bytes
    // that share a granule with an allowed byte stay readable).
    void poisonOutside(const Box* allowed, int count)
    {
        runs(allowed, count, [this](size_t offset, size_t size, bool inside) {
            if (!inside) {
                ORYN_POISON(bytes.get() + offset, size);
            }
        });
    }
    void unpoison() { ORYN_UNPOISON(bytes.get(), length); }

    Box box;
    int32_t bpp;
    int32_t rowBytes = 0;
    std::unique_ptr<uint8_t[]> bytes;
    size_t length = 0;
    size_t origin = 0;
};

int32_t pick(TestRandom& rnd, std::initializer_list<int32_t> values)
{
    const int32_t i = rnd.range(0, int32_t(values.size()) - 1);
    return *(values.begin() + i);
}

// An integer argument: mostly in its range, sometimes anywhere.
int32_t fuzzInt(TestRandom& rnd, int32_t lo, int32_t hi)
{
    switch (rnd.range(0, 9)) {
    case 0:
        return pick(rnd, {IntMin, IntMin + 1, -100000, -1, 0, 1, 2, 100000, IntMax - 1, IntMax});
    case 1:
        return int32_t(rnd.next());
    case 2:
        return rnd.range(lo - 200, hi + 200);
    default:
        return rnd.range(lo, hi);
    }
}

float fuzzFloat(TestRandom& rnd, int32_t lo, int32_t hi)
{
    const float inf = std::numeric_limits<float>::infinity();
    switch (rnd.range(0, 9)) {
    case 0:
        return pick(rnd, {0, 1, 2, 3}) == 0 ? std::numeric_limits<float>::quiet_NaN()
                                            : (rnd.range(0, 1) ? inf : -inf);
    case 1: {
        const float extremes[] = {
            std::numeric_limits<float>::max(), -3.0e38f, 1e-30f, -0.0f, 1e30f, -1e9f, 16777217.0f};
        return extremes[rnd.range(0, 6)];
    }
    default:
        return float(rnd.range(lo, hi)) + float(rnd.range(0, 3)) * 0.25f;
    }
}

int32_t progressCalls = 0;
int32_t fuzzProgress(const ParamContext*, int32_t row, int32_t)
{
    ++progressCalls;
    // Mostly go on, now and then stop, sometimes with a result that only looks non-zero.
    const uint32_t h = uint32_t(row) * 2654435761u;
    if ((h >> 28) == 3) {
        return -128;
    }
    if ((h >> 28) == 5) {
        return 0x70000;
    }
    return 0;
}

void fuzzOnce(TestRandom& rnd, int iteration)
{
    SCOPED_TRACE(iteration);
    const int32_t bpp = pick(rnd, {3, 3, 3, 4, 4, 4, 1, 2, 5, 0, -1});
    const int32_t pixelBytes = bpp < 1 ? 1 : bpp;
    const bool hostOutput = rnd.range(0, 2) != 0;

    Box rect;
    rect.left = rnd.range(-6, 20);
    rect.top = rnd.range(-6, 20);
    rect.right = rect.left + rnd.range(-3, 40);
    rect.bottom = rect.top + rnd.range(-3, 40);
    if (!hostOutput && rnd.range(0, 7) == 0) {
        rect = {0, 0, rnd.range(250, 320), rnd.range(250, 320)};
    }
    // Buffers start at (0, 0) or at the rectangle, whichever is first.
    const Box srcArea =
        rect.empty() ? Box{0, 0, 0, 0}
                     : Box{std::min(rect.left, 0), std::min(rect.top, 0), rect.right, rect.bottom};
    const Box fill = hostOutput ? rect : Box{0, 0, PreviewSize, PreviewSize};
    Box dstArea = fill.empty() ? srcArea
                               : Box{std::min(fill.left, 0), std::min(fill.top, 0),
                                     std::max(fill.right, srcArea.right),
                                     std::max(fill.bottom, srcArea.bottom)};
    if (!rect.empty()) {
        dstArea.left = std::min(dstArea.left, rect.left);
        dstArea.top = std::min(dstArea.top, rect.top);
        dstArea.right = std::max(dstArea.right, rect.right);
        dstArea.bottom = std::max(dstArea.bottom, rect.bottom);
    }

    PixelBuffer src(srcArea, pixelBytes, rnd.range(0, 3), rnd);
    PixelBuffer mask(srcArea, 1, rnd.range(0, 3), rnd);
    PixelBuffer alpha(srcArea, 1, mask.rowBytes - (srcArea.right - srcArea.left), rnd);
    PixelBuffer dstEngine(dstArea, pixelBytes, rnd.range(0, 3), rnd);
    PixelBuffer dstReference(dstArea, pixelBytes,
                             dstEngine.rowBytes - (dstArea.right - dstArea.left) * pixelBytes, rnd);
    if (dstEngine.length != 0) {
        std::memcpy(dstReference.bytes.get(), dstEngine.bytes.get(), dstEngine.length);
    }
    // Masks that are mostly all-or-nothing with soft spots, so every mask branch is reached.
    for (size_t i = 0; i < mask.length; ++i) {
        const uint8_t b = mask.bytes[i];
        mask.bytes[i] = b < 80 ? 0 : (b < 200 ? 255 : b);
    }

    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.haveMask = rnd.range(0, 2) == 0;
    record.planes = int16_t(pick(rnd, {3, 4, 4, 1, 5, -3}));
    ParamContext context = {nullptr, &record};

    EngineCall call;
    call.context = pick(rnd, {0, 0, 0, 0, 1}) ? nullptr : &context;
    call.cellHeight = rnd.range(0, 3) == 0 ? rnd.range(0, 100000) : fuzzInt(rnd, 0, 60);
    call.cellWidth = rnd.range(0, 3) == 0 ? rnd.range(0, 100000) : fuzzInt(rnd, 0, 60);
    call.skewX = fuzzInt(rnd, -50, 50);
    call.skewY = fuzzInt(rnd, -50, 50);
    call.lightV = fuzzInt(rnd, -25, 25);
    call.lightH = fuzzInt(rnd, -25, 25);
    call.shading = fuzzInt(rnd, -50, 50);
    call.toneFloor = fuzzInt(rnd, 0, 100);
    call.brightnessBoost = fuzzInt(rnd, 0, 100);
    call.bevel = fuzzFloat(rnd, 0, 50);
    call.faceMode = fuzzInt(rnd, 0, 2);
    call.left = rect.left;
    call.top = rect.top;
    call.right = rect.right;
    call.bottom = rect.bottom;
    call.src = src.base();
    call.srcRowBytes = src.rowBytes;
    call.mask = rnd.range(0, 9) == 0 ? nullptr : mask.base();
    call.maskRowBytes = mask.rowBytes;
    call.previewAlpha = rnd.range(0, 9) == 0 ? nullptr : alpha.base();
    call.rowOffset = fuzzInt(rnd, -30, 30);
    call.colOffset = fuzzInt(rnd, -30, 30);
    call.srcOffsetY = rnd.range(0, 2) == 0 ? fuzzFloat(rnd, -20, 20) : 0.0f;
    call.srcOffsetX = rnd.range(0, 2) == 0 ? fuzzFloat(rnd, -20, 20) : 0.0f;
    call.renderFlags =
        (rnd.range(0, 5) == 0 ? fuzzInt(rnd, 0, 1) : rnd.range(0, 1)) & ~HostOutputFlag;
    call.renderFlags |= hostOutput ? HostOutputFlag : 0;
    call.fillColor = rnd.range(0, 2) == 0 ? (rnd.next() & 0x00FFFFFFu) : rnd.next();
    call.bytesPerPixel = bpp;
    call.progress = rnd.range(0, 3) == 0 ? nullptr : fuzzProgress;

    // The destination bytes that must not change (checked again without the sanitizer).
    std::vector<uint8_t> before(dstEngine.bytes.get(), dstEngine.bytes.get() + dstEngine.length);
    const Box allowedSrc[1] = {rect};
    const Box allowedDst[2] = {rect, fill};
    src.poisonOutside(allowedSrc, 1);
    mask.poisonOutside(allowedSrc, 1);
    alpha.poisonOutside(allowedSrc, 1);
    dstEngine.poisonOutside(allowedDst, 2);
    dstReference.poisonOutside(allowedDst, 2);

    call.dst = dstEngine.base();
    call.dstRowBytes = dstEngine.rowBytes;
    const int32_t got = runEngine(call);
    call.dst = dstReference.base();
    call.dstRowBytes = dstReference.rowBytes;
    const int32_t want = runReference(call);

    src.unpoison();
    mask.unpoison();
    alpha.unpoison();
    dstEngine.unpoison();
    dstReference.unpoison();
    ASSERT_EQ(got, want);
    size_t covered = 0;
    bool outsideChanged = false;
    dstEngine.runs(allowedDst, 2, [&](size_t offset, size_t size, bool inside) {
        covered += size;
        if (!inside && std::memcmp(&dstEngine.bytes[offset], &before[offset], size) != 0) {
            outsideChanged = true;
        }
    });
    ASSERT_EQ(covered, dstEngine.length);
    EXPECT_FALSE(outsideChanged) << "a byte outside the rectangle and the fill changed";
    if (dstEngine.length != 0) {
        ASSERT_EQ(std::memcmp(dstEngine.bytes.get(), dstReference.bytes.get(), dstEngine.length),
                  0);
    }
}

TEST(EngineFuzz, ArgumentsInsideAndBeyondTheirRangesStayInsideTheBuffers)
{
    TestRandom rnd(31337);
    for (int i = 0; i < 1500; ++i) {
        fuzzOnce(rnd, i);
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GT(progressCalls, 0);
}

} // namespace
} // namespace oryn
