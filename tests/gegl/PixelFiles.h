// Shared by the front-end tests: PNG pixels read back with libvips, compared sample by sample,
// and commands run through the shell.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <vips/vips.h>

namespace oryn_test {

namespace fs = std::filesystem;

struct Pixels {
    int width = 0, height = 0, bands = 0;
    std::vector<uint8_t> data;
};

// Decodes a PNG to 8-bit samples. gegl writes 16-bit PNGs; a 16-bit sample that is not an
// exact widening of an 8-bit one (v = 257 x b) fails the read, so no rounding hides a change.
inline ::testing::AssertionResult readPixels(const fs::path& file, Pixels& out)
{
    VipsImage* image = vips_image_new_from_file(file.c_str(), "access", VIPS_ACCESS_SEQUENTIAL,
                                                nullptr);
    if (image == nullptr)
        return ::testing::AssertionFailure() << file << ": " << vips_error_buffer();
    size_t size = 0;
    void* memory = vips_image_write_to_memory(image, &size);
    out.width = image->Xsize;
    out.height = image->Ysize;
    out.bands = image->Bands;
    const VipsBandFormat format = image->BandFmt;
    g_object_unref(image);
    if (memory == nullptr)
        return ::testing::AssertionFailure() << file << ": " << vips_error_buffer();
    const size_t samples = size_t(out.width) * out.height * out.bands;
    out.data.resize(samples);
    bool exact = true;
    if (format == VIPS_FORMAT_UCHAR) {
        std::copy_n(static_cast<uint8_t*>(memory), samples, out.data.begin());
    } else if (format == VIPS_FORMAT_USHORT) {
        const uint16_t* wide = static_cast<uint16_t*>(memory);
        for (size_t i = 0; i < samples; ++i) {
            exact = exact && wide[i] % 257 == 0;
            out.data[i] = static_cast<uint8_t>(wide[i] / 257);
        }
    } else {
        exact = false;
    }
    g_free(memory);
    if (!exact)
        return ::testing::AssertionFailure() << file << ": samples are not 8-bit values";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult samePixels(const fs::path& a, const fs::path& b)
{
    Pixels pa, pb;
    ::testing::AssertionResult ra = readPixels(a, pa);
    if (!ra)
        return ra;
    ::testing::AssertionResult rb = readPixels(b, pb);
    if (!rb)
        return rb;
    if (pa.width != pb.width || pa.height != pb.height || pa.bands != pb.bands)
        return ::testing::AssertionFailure()
               << a.filename() << " is " << pa.width << "x" << pa.height << "x" << pa.bands
               << ", " << b.filename() << " " << pb.width << "x" << pb.height << "x" << pb.bands;
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < pa.data.size(); ++i) {
        if (pa.data[i] != pb.data[i] && differing++ == 0)
            first = i;
    }
    if (differing == 0)
        return ::testing::AssertionSuccess();
    const size_t pixel = first / pa.bands;
    return ::testing::AssertionFailure()
           << differing << " samples differ; the first at x " << pixel % pa.width << ", y "
           << pixel / pa.width << ", band " << first % pa.bands << ": "
           << int(pa.data[first]) << " against " << int(pb.data[first]);
}

// Runs a command line through the shell; returns its exit status.
inline int run(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

inline std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Writes a landscape picture as RGB and the same picture with an alpha plane that runs from 0
// to 255 across it and has a fully transparent hole.
inline ::testing::AssertionResult writeTestImages(const std::string& samplegen, int width,
                                                  int height, const fs::path& rgb,
                                                  const fs::path& rgba)
{
    if (run(samplegen + " " + quoted(rgb) + " " + std::to_string(width) + " " +
            std::to_string(height)) != 0)
        return ::testing::AssertionFailure() << "samplegen failed";
    VipsImage* base = vips_image_new_from_file(rgb.c_str(), nullptr);
    if (base == nullptr)
        return ::testing::AssertionFailure() << vips_error_buffer();
    VipsImage *ramp = nullptr, *x = nullptr, *alpha = nullptr, *joined = nullptr;
    const bool made =
        vips_xyz(&ramp, base->Xsize, base->Ysize, nullptr) == 0 &&
        vips_extract_band(ramp, &x, 0, nullptr) == 0 &&
        vips_linear1(x, &alpha, 255.0 / (base->Xsize > 1 ? base->Xsize - 1 : 1), 0.0, "uchar",
                     TRUE, nullptr) == 0 &&
        vips_bandjoin2(base, alpha, &joined, nullptr) == 0 &&
        vips_draw_rect1(joined, 0.0, base->Xsize * 7 / 16, base->Ysize * 7 / 16,
                        base->Xsize / 8 + 1, base->Ysize / 8 + 1, "fill", TRUE, nullptr) == 0 &&
        vips_image_write_to_file(joined, rgba.c_str(), nullptr) == 0;
    for (VipsImage* image : {base, ramp, x, alpha, joined})
        if (image != nullptr)
            g_object_unref(image);
    if (!made)
        return ::testing::AssertionFailure() << vips_error_buffer();
    return ::testing::AssertionSuccess();
}

} // namespace oryn_test
