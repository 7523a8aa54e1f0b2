// Image files for the test host: any format stb_image decodes in, PNG or BMP out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oryn {

// 8-bit samples, rows top to bottom, channels interleaved (1 grey, 2 grey+alpha, 3 RGB, 4 RGBA),
// rows packed without padding.
struct Image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    std::vector<uint8_t> pixels;
};

enum class ImageFormat { Unknown, Png, Bmp };

// The output format named by a path's extension (.png or .bmp, any case).
ImageFormat imageFormatFor(const std::string& path);

// Reads `path`. `wantChannels` 1 gives grey (a mask), 3 RGB, 4 RGBA; 0 gives RGBA when the
// file has alpha, else RGB. Returns 0, or 1 with the reason in `error`.
int readImage(const std::string& path, int wantChannels, Image& image, std::string& error);

// Writes `image` (1 to 4 channels) to `path` in `format`; BMP keeps no alpha below 4 channels.
// Returns 0, or 1 with the reason in `error`.
int writeImage(const std::string& path, ImageFormat format, const Image& image,
               std::string& error);

} // namespace oryn
