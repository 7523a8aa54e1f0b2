// Tests of the preview reduction: worked values, truncation counts, constant and random planes,
// and that nothing outside the given buffers or channel is touched (buffers are sized exactly, so
// the sanitizer build catches any overrun).
#include "ui/PreviewReduce.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace oryn {
namespace {

constexpr uint8_t Untouched = 0xA5;

// Deterministic pseudo-random bytes, the same on every platform.
struct ByteSource {
    uint32_t state;
    uint8_t next()
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state >> 24);
    }
};

// One interleaved source image and the buffers of a reduction of one of its channels.
struct Reduction {
    int32_t width, height, srcStride, srcOffset;
    int32_t dstWidth, dstRows, dstStride, dstOffset;
    std::vector<uint8_t> src, scratch, dst;

    Reduction(int32_t width, int32_t height, int32_t srcStride, int32_t srcOffset, int32_t dstWidth,
              int32_t dstRows, int32_t dstStride, int32_t dstOffset)
        : width(width), height(height), srcStride(srcStride), srcOffset(srcOffset),
          dstWidth(dstWidth), dstRows(dstRows), dstStride(dstStride), dstOffset(dstOffset),
          src(static_cast<size_t>(width) * srcStride * height, 0),
          scratch(static_cast<size_t>(width) * srcStride * height, Untouched),
          dst(static_cast<size_t>(dstWidth) * dstStride * dstRows, Untouched)
    {
    }
    int32_t rowBytes() const { return width * srcStride; }
    uint8_t& at(int32_t x, int32_t y)
    {
        return src[static_cast<size_t>(y) * rowBytes() + x * srcStride + srcOffset];
    }
    uint8_t out(int32_t c, int32_t r) const
    {
        return dst[static_cast<size_t>(r) * dstWidth * dstStride + c * dstStride + dstOffset];
    }
    uint8_t scratchAt(int32_t i, int32_t r) const
    {
        return scratch[static_cast<size_t>(r) * rowBytes() + i];
    }
    void run(float scale)
    {
        reducePlane(scale, src.data(), scratch.data(), rowBytes(), srcStride, dst.data(),
                    dstStride, width, height, dstWidth, dstRows, srcOffset, dstOffset);
    }
};

TEST(PreviewReduceTest, ScaleOneCopiesTheChannel)
{
    Reduction r(7, 5, 3, 1, 7, 5, 2, 1);
    ByteSource bytes{7};
    for (uint8_t& b : r.src)
        b = bytes.next();
    r.run(1.0f);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            EXPECT_EQ(r.out(x, y), r.at(x, y)) << x << "," << y;
            // The other byte of each destination pixel is left alone.
            EXPECT_EQ(r.dst[static_cast<size_t>(y) * 14 + x * 2], Untouched);
        }
    }
}

TEST(PreviewReduceTest, FractionalScaleWeighsTheStraddlingPixel)
{
    // Rows of 30, 60, 90 at scale 1.5: (30 + 0.5 x 60) / 1.5 = 40 and (0.5 x 60 + 90) / 1.5 = 80.
    Reduction r(3, 3, 1, 0, 2, 2, 1, 0);
    for (int32_t y = 0; y < 3; ++y) {
        r.at(0, y) = 30;
        r.at(1, y) = 60;
        r.at(2, y) = 90;
    }
    r.run(1.5f);
    EXPECT_EQ(r.scratchAt(0, 0), 40);
    EXPECT_EQ(r.scratchAt(1, 0), 80);
    EXPECT_EQ(r.scratchAt(2, 0), Untouched);
    for (int32_t y = 0; y < 2; ++y) {
        EXPECT_EQ(r.out(0, y), 40);
        EXPECT_EQ(r.out(1, y), 80);
    }
}

TEST(PreviewReduceTest, IntegerScaleTruncatesInBothPasses)
{
    Reduction r(2, 2, 1, 0, 1, 1, 1, 0);
    r.at(0, 0) = 10;
    r.at(1, 0) = 11;
    r.at(0, 1) = 12;
    r.at(1, 1) = 13;
    r.run(2.0f);
    EXPECT_EQ(r.scratchAt(0, 0), 10);
    EXPECT_EQ(r.scratchAt(0, 1), 12);
    EXPECT_EQ(r.out(0, 0), 11);
}

TEST(PreviewReduceTest, ConstantPlanesKeepTheirValue)
{
    struct Case {
        float scale;
        int32_t width, height, outW, outH;
    };
    // Output counts: the whole steps of the scale that fit. 300 x 3.3333335 lies beyond 1000, so
    // the 300th value of a 1000-pixel row is a partial one and is dropped.
    const Case cases[] = {
        {3.3333335f, 1000, 500, 299, 149},
        {2.1333334f, 640, 480, 299, 224},
        {1.5f, 31, 20, 20, 13},
        {2.0f, 31, 9, 15, 4},
    };
    for (const Case& c : cases) {
        for (uint8_t value : {uint8_t(255), uint8_t(1), uint8_t(128)}) {
            Reduction r(c.width, c.height, 3, 2, 300, c.outH + 1, 3, 0);
            for (int32_t y = 0; y < c.height; ++y)
                for (int32_t x = 0; x < c.width; ++x)
                    r.at(x, y) = value;
            r.run(c.scale);
            for (int32_t y = 0; y <= c.outH; ++y) {
                for (int32_t x = 0; x < 300; ++x) {
                    uint8_t expected = (x < c.outW && y < c.outH) ? value : Untouched;
                    ASSERT_EQ(r.out(x, y), expected)
                        << "scale " << c.scale << " value " << int(value) << " at " << x << ","
                        << y;
                }
            }
        }
    }
}

// Part of source pixel j inside the output interval [i x scale, (i + 1) x scale).
double overlap(int32_t j, int32_t i, double scale)
{
    double lo = j > i * scale ? j : i * scale;
    double hi = j + 1 < (i + 1) * scale ? j + 1 : (i + 1) * scale;
    return hi > lo ? hi - lo : 0.0;
}

TEST(PreviewReduceTest, RandomPlanesStayWithinTwoTruncationsOfTheAreaMean)
{
    // Reference: the exact mean over each output's square of side `scale`. Each pass truncates
    // once, so a value lies in (mean - 2, mean], up to the single-precision weights.
    for (float scale : {3.3333335f, 2.1333334f, 1.5f, 1.0033334f}) {
        Reduction r(301, 250, 1, 0, 301, 250, 1, 0);
        ByteSource bytes{static_cast<uint32_t>(scale * 1000)};
        for (uint8_t& b : r.src)
            b = bytes.next();
        r.run(scale);
        const double s = scale;
        const int32_t outW = static_cast<int32_t>(301 / s);
        const int32_t outH = static_cast<int32_t>(250 / s);
        double lossSum = 0.0;
        for (int32_t cy = 0; cy < outH; ++cy) {
            for (int32_t cx = 0; cx < outW; ++cx) {
                double sum = 0.0;
                for (int32_t y = static_cast<int32_t>(cy * s); y < (cy + 1) * s; ++y)
                    for (int32_t x = static_cast<int32_t>(cx * s); x < (cx + 1) * s; ++x)
                        sum += overlap(x, cx, s) * overlap(y, cy, s) * r.at(x, y);
                const double mean = sum / (s * s);
                const int32_t value = r.out(cx, cy);
                ASSERT_LE(value, mean + 1e-4) << "scale " << s << " at " << cx << "," << cy;
                ASSERT_GT(value, mean - 2.0 - 1e-4) << "scale " << s << " at " << cx << "," << cy;
                lossSum += mean - value;
            }
        }
        // Truncation of evenly spread fractions loses about half a level per pass on average.
        const double loss = lossSum / (outW * outH);
        EXPECT_GT(loss, 0.25) << "scale " << s;
        EXPECT_LT(loss, 1.5) << "scale " << s;
    }
}

TEST(PreviewReduceTest, NarrowImagesReadOnlyTheirOwnScratchColumns)
{
    // The scratch area is exactly height rows of 7 bytes: a vertical pass over more than the 3
    // written columns would read past it, and write past column 3 of the destination.
    Reduction r(7, 6, 1, 0, 300, 3, 1, 0);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 7; ++x)
            r.at(x, y) = static_cast<uint8_t>(10 * x + y);
    r.run(2.0f);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            int32_t top = (r.at(2 * x, 2 * y) + r.at(2 * x + 1, 2 * y)) / 2;
            int32_t bottom = (r.at(2 * x, 2 * y + 1) + r.at(2 * x + 1, 2 * y + 1)) / 2;
            EXPECT_EQ(r.out(x, y), (top + bottom) / 2);
        }
        for (int32_t x = 3; x < 300; ++x)
            ASSERT_EQ(r.out(x, y), Untouched) << x;
    }
    for (int32_t y = 0; y < 6; ++y)
        EXPECT_EQ(r.scratchAt(3, y), Untouched);
}

TEST(PreviewReduceTest, EmptyPlanesAndScalesBelowOneWriteNothing)
{
    // Below 1 a source pixel would feed several values; such a scale is refused outright.
    for (float scale : {0.5f, 0.0f, std::numeric_limits<float>::quiet_NaN(), 1.0f}) {
        Reduction r(5, 4, 1, 0, 5, 4, 1, 0);
        if (scale == 1.0f)
            r.width = 0; // and at scale 1, a plane without columns
        r.run(scale);
        r.width = 5;
        r.height = -3;
        r.run(1.0f);
        for (uint8_t b : r.dst)
            ASSERT_EQ(b, Untouched) << scale;
        for (uint8_t b : r.scratch)
            ASSERT_EQ(b, Untouched) << scale;
    }
}

} // namespace
} // namespace oryn
