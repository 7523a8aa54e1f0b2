// The streamed render's libvips operation driven directly: output regions of any shape, asked
// for one by one or computed by libvips' own threads, give the whole render's bytes.
#include "CliTestSupport.h"

#include <cstring>
#include <memory>

#include "host/HostApi.h"
#include "tools/oryn3d/StreamRender.h"

namespace oryn {
namespace {

// A source image in memory that libvips reads like any other.
struct MemorySource {
    Pixels pixels;
    ImageRef image;
    explicit MemorySource(const Pixels& p) : pixels(p)
    {
        image.image =
            vips_image_new_from_memory(pixels.data.data(), pixels.data.size(), pixels.width,
                                       pixels.height, pixels.bands, VIPS_FORMAT_UCHAR);
    }
};

ParamBlock blockFor(int padX4, int padY4, uint8_t modeBits, int cellWidth, int cellHeight)
{
    ParamBlock block = defaultParamBlock();
    block.padX[4] = int16_t(padX4);
    block.padY[4] = int16_t(padY4);
    block.padX[1] = int16_t(cellWidth);
    block.padY[0] = int16_t(cellHeight);
    block.modeBits = modeBits;
    block.antialias = 1;
    return block;
}

// The operation's output for `block`, made region by region in raster order with regions of
// `width` x `height` pixels.
Pixels renderInRegions(const MemorySource& source, const MemorySource* mask, ParamBlock block,
                       int width, int height)
{
    HostImage host;
    host.foreColor = Black;
    host.backColor = White;
    ImageRef out;
    std::shared_ptr<StreamOutcome> outcome;
    EXPECT_EQ(startStreamRender(host, source.image.image, mask ? mask->image.image : nullptr, block,
                                &out.image, outcome),
              noErr);
    Pixels result{source.pixels.width, source.pixels.height, source.pixels.bands,
                  std::vector<uint8_t>(source.pixels.data.size())};
    if (out.image == nullptr)
        return result;
    VipsRegion* region = vips_region_new(out.image);
    const size_t pixel = size_t(result.bands);
    for (int top = 0; top < result.height; top += height)
        for (int left = 0; left < result.width; left += width) {
            VipsRect rect = {left, top, std::min(width, result.width - left),
                             std::min(height, result.height - top)};
            EXPECT_EQ(vips_region_prepare(region, &rect), 0) << outcome->reason;
            for (int y = rect.top; y < rect.top + rect.height; ++y)
                std::memcpy(result.data.data() + (size_t(y) * result.width + rect.left) * pixel,
                            VIPS_REGION_ADDR(region, rect.left, y), size_t(rect.width) * pixel);
        }
    g_object_unref(region);
    return result;
}

// The operation's output computed by libvips' thread pool with `threads` threads.
Pixels renderThreaded(const MemorySource& source, ParamBlock block, int threads)
{
    vips_concurrency_set(threads);
    HostImage host;
    host.foreColor = Black;
    host.backColor = White;
    ImageRef out;
    std::shared_ptr<StreamOutcome> outcome;
    EXPECT_EQ(startStreamRender(host, source.image.image, nullptr, block, &out.image, outcome),
              noErr);
    Pixels result{source.pixels.width, source.pixels.height, source.pixels.bands, {}};
    size_t size = 0;
    void* bytes = out.image != nullptr ? vips_image_write_to_memory(out.image, &size) : nullptr;
    EXPECT_NE(bytes, nullptr) << outcome->reason;
    if (bytes != nullptr) {
        const uint8_t* b = static_cast<const uint8_t*>(bytes);
        result.data.assign(b, b + size);
        g_free(bytes);
    }
    vips_concurrency_set(0);
    return result;
}

TEST(StreamRenderTest, RegionsOfAnyShapeGiveTheWholeRender)
{
    const MemorySource rgb(pattern(301, 457, 3));
    const MemorySource rgba(pattern(173, 229, 4));
    Pixels maskPixels = pattern(301, 457, 1);
    for (size_t i = 0; i < maskPixels.data.size(); ++i)
        maskPixels.data[i] = uint8_t(i % 700 < 300 ? 255 : i % 700 < 450 ? maskPixels.data[i] : 0);
    const MemorySource mask(maskPixels);
    const ParamBlock blocks[] = {
        blockFor(25, 25, 0, 35, 55),  // no stretch
        blockFor(45, 32, 0, 35, 55),  // Orystone's
        blockFor(0, 50, 4, 40, 30),   // largest source scale, doubled
        blockFor(50, 50, 4, 12, 20),  // smallest
        blockFor(10, 40, 5, 300, 300) // cells larger than the image
    };
    for (const ParamBlock& block : blocks) {
        const Pixels whole = directRender(rgb.pixels, block);
        for (const auto& shape : {std::pair<int, int>{301, 16}, {64, 64}, {17, 9}, {301, 1}})
            EXPECT_EQ(renderInRegions(rgb, nullptr, block, shape.first, shape.second), whole)
                << "pad " << block.padX[4] << "," << block.padY[4] << ", regions " << shape.first
                << " x " << shape.second;
        EXPECT_EQ(renderInRegions(rgb, &mask, block, 50, 40),
                  directRender(rgb.pixels, block, &maskPixels))
            << "with a mask, pad " << block.padX[4] << "," << block.padY[4];
        EXPECT_EQ(renderInRegions(rgba, nullptr, block, 173, 16), directRender(rgba.pixels, block))
            << "four bands, pad " << block.padX[4] << "," << block.padY[4];
        for (int threads : {1, 3})
            EXPECT_EQ(renderThreaded(rgb, block, threads), whole)
                << threads << " threads, pad " << block.padX[4] << "," << block.padY[4];
    }
}

} // namespace
} // namespace oryn
