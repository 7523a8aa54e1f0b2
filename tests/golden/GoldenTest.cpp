// Golden renders: generated images rendered with the sample presets, compared by hash.
//
// Small images generated in code, rendered with the nine sample presets and a few
// hand-picked settings, compared by hash with expected.txt. The same hashes must come out of the
// native build and of both Windows builds. Both the production renderer and the reference
// renderer are checked against the file.
//
// expected.txt is written by the reference renderer, never by the production one. To write it
// again (after a deliberate change of the rules), run the test with ORYN_GOLDEN_WRITE naming the
// file, for example from the source tree:
//   ORYN_GOLDEN_WRITE=tests/golden/expected.txt build/native/tests/golden/GoldenTest
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ReferenceEngine.h"
#include "engine/RenderEngine.h"
#include "host/HostApi.h"

namespace oryn {
namespace {

// The nine samples as the dialog shows them: cell width, cell height, bevel, shading, G-Shading
// pad x and y, Stretch pad x and y, G-Shading button state and "x2".
struct Sample {
    const char* name;
    int32_t width, height, bevel, shading, lightX, lightY, stretchX, stretchY, faceMode, x2;
};

const Sample Samples[] = {
    {"Jalousie", 150, 10, 5, 35, 25, 45, 50, 25, 0, 0},
    {"HerringBone", 12, 30, 10, 99, 25, 25, 0, 50, 2, 1},
    {"Orystone", 35, 55, 0, 50, 45, 32, 50, 0, 0, 0},
    {"FrontBricks", 15, 15, 40, 30, 40, 40, 50, 50, 2, 1},
    {"Roof", 10, 130, 40, 40, 45, 30, 40, 0, 2, 0},
    {"EmbossedWrapper", 30, 10, 50, 100, 25, 25, 25, 25, 2, 0},
    {"Jabot", 35, 39, 0, 50, 15, 45, 0, 50, 0, 0},
    {"Gutters", 30, 60, 50, 99, 25, 40, 45, 45, 1, 1},
    {"Cellulary", 10, 10, 10, 55, 15, 35, 5, 5, 1, 0},
};

// Light Boosting and Brightness Ratio as the dialog opens.
constexpr int32_t LightBoosting = 30;
constexpr int32_t BrightnessRatio = 20;

const Sample& sample(const char* name)
{
    for (const Sample& s : Samples) {
        if (std::strcmp(s.name, name) == 0) {
            return s;
        }
    }
    return Samples[2];
}

// The final render's arguments for a sample with imageScale 1: skews from the Stretch pad (times
// 2 with "x2"), light and shading centred, offsets from the single-precision 0.02.
void applyFinal(const Sample& p, EngineCall& call)
{
    const int32_t k = p.x2 + 1;
    call.cellHeight = p.height;
    call.cellWidth = p.width;
    call.skewX = (25 - p.stretchX) * k;
    call.skewY = (p.stretchY - 25) * k;
    call.lightV = p.lightY - 25;
    call.lightH = p.lightX - 25;
    call.shading = p.shading - 50;
    call.toneFloor = BrightnessRatio;
    call.brightnessBoost = LightBoosting;
    call.bevel = float(p.bevel);
    call.faceMode = p.faceMode;
    const double negSkewY = call.skewY < 0 ? -call.skewY : 0;
    const double posSkewX = call.skewX > 0 ? call.skewX : 0;
    call.rowOffset = int32_t(negSkewY * 1.0 * double(p.width) * double(0.02f));
    call.colOffset = int32_t(posSkewX * double(p.height) * 1.0 * double(0.02f));
}

// The preview's arguments: the same controls, with the preview's whole-number offsets.
void applyPreview(const Sample& p, EngineCall& call)
{
    applyFinal(p, call);
    call.rowOffset = (call.skewY < 0 ? -call.skewY : 0) * p.width / 50;
    call.colOffset = (call.skewX > 0 ? call.skewX : 0) * p.height / 50;
}

// A generated image: bytes per pixel and rows packed without padding.
struct Image {
    int32_t width, height, bpp;
    std::vector<uint8_t> pixels;
};

// Smooth colour ramps with a little noise and a few hard edges, like a photograph.
Image gradientImage(int32_t width, int32_t height, int32_t bpp, uint64_t seed)
{
    Image img{width, height, bpp, std::vector<uint8_t>(size_t(width) * height * bpp)};
    TestRandom rnd(seed);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* px = &img.pixels[(size_t(y) * width + x) * bpp];
            const int32_t noise = rnd.range(-6, 6);
            const int32_t edge = ((x / 23 + y / 17) % 3) * 30;
            const int32_t v[4] = {x * 255 / width + noise, y * 200 / height + edge + noise,
                                  (x + y) * 127 / (width + height) + 64 - noise,
                                  rnd.range(0, 4) == 0 ? rnd.range(0, 255) : 255};
            for (int32_t j = 0; j < bpp; ++j) {
                px[j] = uint8_t(std::min(255, std::max(0, v[j])));
            }
        }
    }
    return img;
}

// A selection: a disc with a soft rim of about 6 pixels, or one alpha plane.
std::vector<uint8_t> discMask(int32_t width, int32_t height)
{
    std::vector<uint8_t> mask(size_t(width) * height);
    const int32_t cx = width / 2, cy = height / 2, r = std::min(width, height) * 2 / 5;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t dx = x - cx, dy = y - cy;
            int32_t d = 0;
            while ((d + 1) * (d + 1) <= dx * dx + dy * dy) {
                ++d;
            }
            const int32_t v = (r - d) * 255 / 6;
            mask[size_t(y) * width + x] = uint8_t(std::min(255, std::max(0, v)));
        }
    }
    return mask;
}

// 64-bit FNV-1a over the destination and the result code.
uint64_t fnv1a(const std::vector<uint8_t>& bytes, int32_t result)
{
    uint64_t h = 14695981039346656037ull;
    for (uint8_t b : bytes) {
        h = (h ^ b) * 1099511628211ull;
    }
    for (int i = 0; i < 4; ++i) {
        h = (h ^ uint8_t(uint32_t(result) >> (8 * i))) * 1099511628211ull;
    }
    return h;
}

// One golden render: its name and everything needed to run it with either renderer.
struct Case {
    std::string name;
    const Image* image;
    bool preview;
    bool masked;
    bool previewAlpha;
    int32_t planes;
    EngineCall call;
};

std::vector<Case> goldenCases(const Image& rgb, const Image& rgba)
{
    std::vector<Case> cases;
    cases.reserve(32); // `add` hands out pointers into the vector
    auto add = [&](const std::string& name, const Image& img, const Sample& p, bool preview) {
        Case c{name, &img, preview, false, false, img.bpp, EngineCall()};
        if (preview) {
            applyPreview(p, c.call);
        } else {
            applyFinal(p, c.call);
        }
        c.call.renderFlags = 1 | (preview ? 0 : HostOutputFlag);
        c.call.fillColor = 0xFFC0C0C0u;
        cases.push_back(c);
        return &cases.back();
    };
    for (const Sample& p : Samples) {
        add(std::string("final-") + p.name, rgb, p, false);
    }
    add("mask-antialias", rgb, sample("Orystone"), false)->masked = true;
    Case* c = add("mask-no-antialias", rgb, sample("Orystone"), false);
    c->masked = true;
    c->call.renderFlags = HostOutputFlag;
    c = add("four-planes", rgba, sample("FrontBricks"), false);
    c->call.fillColor = 0xFF3366CCu;
    c = add("four-planes-transparent", rgba, sample("HerringBone"), false);
    c->call.fillColor = TransparentColor;
    c->masked = true;
    c = add("no-antialias", rgb, sample("Jalousie"), false);
    c->call.renderFlags = HostOutputFlag;
    c = add("preview-transparent-layer", rgb, sample("Cellulary"), true);
    c->call.fillColor = TransparentColor;
    c->planes = 4;
    c->previewAlpha = true;
    c = add("preview-opaque", rgb, sample("Roof"), true);
    c->call.fillColor = 0xFF204080u;
    c = add("controls-at-their-ends", rgb, sample("Gutters"), false);
    c->masked = true;
    c->call.toneFloor = 100;
    c->call.brightnessBoost = 100;
    c->call.lightV = 25;
    c->call.lightH = -25;
    c->call.shading = -50;
    c->call.skewX = -50;
    c->call.skewY = 50;
    return cases;
}

// Renders a case with the production renderer or the reference. Returns the hash.
uint64_t renderCase(const Case& c, bool reference)
{
    const Image& img = *c.image;
    const int32_t dstWidth = c.preview ? std::max(img.width, PreviewSize) : img.width;
    const int32_t dstHeight = c.preview ? std::max(img.height, PreviewSize) : img.height;
    std::vector<uint8_t> dst(size_t(dstWidth) * dstHeight * img.bpp, 0x6D);
    const std::vector<uint8_t> mask = discMask(img.width, img.height);
    std::vector<uint8_t> alpha = discMask(img.width, img.height);
    for (size_t i = 0; i < alpha.size(); ++i) {
        alpha[i] = uint8_t(255 - alpha[i] / 2);
    }
    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.planes = int16_t(c.planes);
    record.haveMask = c.masked ? 1 : 0;
    ParamContext context = {nullptr, &record};

    EngineCall call = c.call;
    call.context = &context;
    call.left = 0;
    call.top = 0;
    call.right = img.width;
    call.bottom = img.height;
    call.src = img.pixels.data();
    call.srcRowBytes = img.width * img.bpp;
    call.dst = dst.data();
    call.dstRowBytes = dstWidth * img.bpp;
    call.mask = mask.data();
    call.maskRowBytes = img.width;
    call.previewAlpha = c.previewAlpha ? alpha.data() : nullptr;
    call.bytesPerPixel = img.bpp;
    const int32_t result = reference ? runReference(call) : runEngine(call);
    return fnv1a(dst, result);
}

std::string hex(uint64_t v)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

// Reads "name hash" lines; blank lines and lines starting with '#' are comments.
std::map<std::string, std::string> readExpected(const char* path)
{
    std::map<std::string, std::string> expected;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return expected;
    }
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        char name[128], hash[64];
        if (line[0] != '#' && std::sscanf(line, "%127s %63s", name, hash) == 2) {
            expected[name] = hash;
        }
    }
    std::fclose(file);
    return expected;
}

TEST(Golden, RendersMatchTheReferenceHashes)
{
    const Image rgb = gradientImage(160, 120, 3, 1);
    const Image rgba = gradientImage(96, 72, 4, 2);
    const std::vector<Case> cases = goldenCases(rgb, rgba);

    const char* writePath = std::getenv("ORYN_GOLDEN_WRITE");
    if (writePath != nullptr && writePath[0] != '\0') {
        FILE* file = std::fopen(writePath, "w");
        ASSERT_NE(file, nullptr) << writePath;
        std::fprintf(file, "# Golden render hashes (FNV-1a 64 of the destination and the result),\n"
                           "# written from the reference renderer by GoldenTest.\n");
        for (const Case& c : cases) {
            std::fprintf(file, "%s %s\n", c.name.c_str(), hex(renderCase(c, true)).c_str());
        }
        std::fclose(file);
        std::printf("wrote %zu hashes to %s\n", cases.size(), writePath);
        return;
    }

    const std::map<std::string, std::string> expected = readExpected(ORYN_GOLDEN_FILE);
    ASSERT_EQ(expected.size(), cases.size()) << "cannot read " << ORYN_GOLDEN_FILE;
    for (const Case& c : cases) {
        auto it = expected.find(c.name);
        ASSERT_NE(it, expected.end()) << c.name;
        EXPECT_EQ(hex(renderCase(c, false)), it->second) << c.name << " (engine)";
        EXPECT_EQ(hex(renderCase(c, true)), it->second) << c.name << " (reference)";
    }
}

TEST(Golden, CasesAreDistinct)
{
    // Every case must change the picture: equal hashes would mean a setting has no effect.
    const Image rgb = gradientImage(160, 120, 3, 1);
    const Image rgba = gradientImage(96, 72, 4, 2);
    std::map<std::string, std::string> seen;
    for (const Case& c : goldenCases(rgb, rgba)) {
        const std::string h = hex(renderCase(c, false));
        EXPECT_TRUE(seen.emplace(h, c.name).second) << c.name << " renders like " << seen[h];
    }
}

} // namespace
} // namespace oryn
