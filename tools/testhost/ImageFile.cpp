// Image files for the test host, through the stb_image and stb_image_write single-file libraries.
#include "tools/testhost/ImageFile.h"

#include <cctype>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb_image.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace oryn {

ImageFormat imageFormatFor(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return ImageFormat::Unknown;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "png")
        return ImageFormat::Png;
    if (ext == "bmp")
        return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

int readImage(const std::string& path, int wantChannels, Image& image, std::string& error)
{
    int width = 0;
    int height = 0;
    int fileChannels = 0;
    if (!stbi_info(path.c_str(), &width, &height, &fileChannels)) {
        error = path + ": " + stbi_failure_reason();
        return 1;
    }
    int channels = wantChannels;
    if (channels == 0)
        channels = fileChannels == 2 || fileChannels == 4 ? 4 : 3;
    if (channels < 1 || channels > 4) {
        error = path + ": cannot convert to " + std::to_string(channels) + " channels";
        return 1;
    }
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &fileChannels, channels);
    if (pixels == nullptr) {
        error = path + ": " + stbi_failure_reason();
        return 1;
    }
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.pixels.assign(pixels, pixels + size_t(width) * size_t(height) * size_t(channels));
    stbi_image_free(pixels);
    return 0;
}

int writeImage(const std::string& path, ImageFormat format, const Image& image,
               std::string& error)
{
    if (image.width <= 0 || image.height <= 0 || image.channels < 1 || image.channels > 4 ||
        image.pixels.size() !=
            size_t(image.width) * size_t(image.height) * size_t(image.channels)) {
        error = path + ": no image to write";
        return 1;
    }
    int written = 0;
    switch (format) {
    case ImageFormat::Png:
        written = stbi_write_png(path.c_str(), image.width, image.height, image.channels,
                                 image.pixels.data(), image.width * image.channels);
        break;
    case ImageFormat::Bmp:
        written = stbi_write_bmp(path.c_str(), image.width, image.height, image.channels,
                                 image.pixels.data());
        break;
    case ImageFormat::Unknown:
        error = path + ": output must end in .png or .bmp";
        return 1;
    }
    if (!written) {
        error = path + ": cannot write the file";
        return 1;
    }
    return 0;
}

} // namespace oryn
