// Reading and writing image files with libvips, converting to and from the 8-bit interleaved
// rasters that the filter works on, and carrying metadata from input to output.
#include "tools/oryn3d/ImageIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <vips/vips.h>

namespace oryn {

struct ImageMetadata {
    VipsImage* source = nullptr; // the input file's image, kept for its metadata fields
    std::vector<std::string> fields;
    double xres = 1.0; // pixels per millimetre, as libvips keeps them
    double yres = 1.0;

    ~ImageMetadata()
    {
        if (source != nullptr)
            g_object_unref(source);
    }
};

namespace {

// Owns one reference to a libvips image.
struct ImageRef {
    VipsImage* image = nullptr;
    ImageRef() = default;
    explicit ImageRef(VipsImage* image) : image(image) {}
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    ~ImageRef()
    {
        if (image != nullptr)
            g_object_unref(image);
    }
};

// Owns memory that libvips allocated with g_malloc.
struct GMemory {
    void* data = nullptr;
    explicit GMemory(void* data) : data(data) {}
    GMemory(const GMemory&) = delete;
    GMemory& operator=(const GMemory&) = delete;
    ~GMemory() { g_free(data); }
};

enum class Role { Color, Mask };

// The first line of libvips' error buffer, without the operation's name when it has one, so that
// the message fits on the caller's single error line. Clears the buffer.
std::string vipsReason(const char* fallback)
{
    std::string text = vips_error_buffer();
    vips_error_clear();
    const size_t newline = text.find('\n');
    if (newline != std::string::npos)
        text.erase(newline);
    const size_t colon = text.find(": ");
    if (colon != std::string::npos && text.compare(0, 4, "Vips") == 0)
        text.erase(0, colon + 2);
    return text.empty() ? std::string(fallback) : text;
}

// Warnings that libvips and its format libraries print on their own would break the one-line
// error contract; failures reach the user through vipsReason instead.
void dropLibraryMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

bool loaderIsSupported(const char* loader)
{
    static const char* const Supported[] = {"VipsForeignLoadPng", "VipsForeignLoadJpeg",
                                            "VipsForeignLoadTiff", "VipsForeignLoadWebp"};
    for (const char* prefix : Supported) {
        if (std::strncmp(loader, prefix, std::strlen(prefix)) == 0)
            return true;
    }
    return false;
}

bool isColourSpaceWeCannotRead(VipsInterpretation interpretation)
{
    switch (interpretation) {
    case VIPS_INTERPRETATION_CMYK:
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABQ:
    case VIPS_INTERPRETATION_LABS:
    case VIPS_INTERPRETATION_LCH:
    case VIPS_INTERPRETATION_CMC:
    case VIPS_INTERPRETATION_XYZ:
    case VIPS_INTERPRETATION_YXY:
    case VIPS_INTERPRETATION_HSV:
        return true;
    default:
        return false;
    }
}

// True when an ICC profile describes RGB data (colour space signature at bytes 16-19), so that
// it still fits an image written as RGB.
bool isRgbProfile(VipsImage* image)
{
    const void* data = nullptr;
    size_t size = 0;
    if (vips_image_get_blob(image, VIPS_META_ICC_NAME, &data, &size) != 0 || size < 20)
        return false;
    return std::memcmp(static_cast<const char*>(data) + 16, "RGB ", 4) == 0;
}

// The fields an output keeps: colour profile, EXIF (the blob and the tag fields libvips rebuilds
// it from on saving), XMP, IPTC and orientation. Format-specific loader fields are left behind.
bool isCarriedField(const std::string& name)
{
    return name == VIPS_META_ICC_NAME || name == VIPS_META_EXIF_NAME ||
           name.compare(0, 5, "exif-") == 0 || name == VIPS_META_XMP_NAME ||
           name == VIPS_META_IPTC_NAME || name == VIPS_META_ORIENTATION ||
           name == VIPS_META_RESOLUTION_UNIT;
}

// Opens and checks an image file: readable, a supported format, a size the host record can
// hold, 8- or 16-bit samples of a grey or RGB image. Returns 0, or 1 with a reason.
int openImage(const std::string& path, ImageRef& image, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return 1;
    }
    std::fclose(file);

    vips_error_clear();
    const char* loader = vips_foreign_find_load(path.c_str());
    if (loader == nullptr || !loaderIsSupported(loader)) {
        vips_error_clear();
        error = "not a PNG, JPEG, TIFF or WebP image";
        return 1;
    }
    // A damaged file is refused rather than rendered with grey where its data ends.
    image.image = vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL,
                                           "fail_on", VIPS_FAIL_ON_ERROR, nullptr);
    if (image.image == nullptr) {
        error = "cannot read the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    VipsImage* im = image.image;
    const int width = vips_image_get_width(im);
    const int height = vips_image_get_height(im);
    if (width > MaxImageSide || height > MaxImageSide) {
        error = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels; at most " + std::to_string(MaxImageSide) +
                " pixels a side can be filtered";
        return 1;
    }
    if (im->Coding != VIPS_CODING_NONE ||
        isColourSpaceWeCannotRead(vips_image_get_interpretation(im))) {
        error = std::string("the image is in the ") +
                vips_enum_nick(VIPS_TYPE_INTERPRETATION, vips_image_get_interpretation(im)) +
                " colour space; only RGB and grey images can be filtered";
        return 1;
    }
    const VipsBandFormat format = vips_image_get_format(im);
    if (format != VIPS_FORMAT_UCHAR && format != VIPS_FORMAT_USHORT) {
        error = std::string("samples of type ") + vips_enum_nick(VIPS_TYPE_BAND_FORMAT, format) +
                " are not supported; 8 or 16 bits per channel are";
        return 1;
    }
    return 0;
}

// Decodes the pixels into `raster` with `outBands` bands, replicating a grey band into red,
// green and blue when the file has fewer colour bands than wanted. Returns 0, or 1 with a reason.
int decodePixels(VipsImage* im, int32_t outBands, Raster& raster, std::string& error)
{
    const int32_t width = vips_image_get_width(im);
    const int32_t height = vips_image_get_height(im);
    const int32_t inBands = vips_image_get_bands(im);
    const bool wide = vips_image_get_format(im) == VIPS_FORMAT_USHORT;
    size_t size = 0;
    GMemory memory(vips_image_write_to_memory(im, &size));
    const size_t pixelCount = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (memory.data == nullptr ||
        size != pixelCount * static_cast<size_t>(inBands) * (wide ? 2u : 1u)) {
        error = "the image data is damaged or incomplete (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    raster.width = width;
    raster.height = height;
    raster.bands = outBands;
    raster.pixels.resize(pixelCount * static_cast<size_t>(outBands));

    // Output band b takes input band sourceBand[b]: grey feeds red, green and blue, and a grey
    // image's alpha (band 1) becomes the fourth band.
    int32_t sourceBand[4];
    const bool grey = inBands < 3 && outBands >= 3;
    for (int32_t b = 0; b < outBands; ++b)
        sourceBand[b] = grey ? (b < 3 ? 0 : 1) : b;

    const uint8_t* bytes = static_cast<const uint8_t*>(memory.data);
    const uint16_t* words = static_cast<const uint16_t*>(memory.data);
    uint8_t* out = raster.pixels.data();
    for (size_t p = 0; p < pixelCount; ++p) {
        const size_t in = p * static_cast<size_t>(inBands);
        for (int32_t b = 0; b < outBands; ++b) {
            const size_t at = in + static_cast<size_t>(sourceBand[b]);
            // 16-bit samples keep their high byte: 65535 maps to 255 and 0 to 0.
            *out++ = wide ? static_cast<uint8_t>(words[at] >> 8) : bytes[at];
        }
    }
    return 0;
}

} // namespace

int startImageLibrary(const char* argv0)
{
    if (VIPS_INIT(argv0) != 0)
        return 1;
    g_log_set_handler("VIPS",
                      static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                  G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                      dropLibraryMessage, nullptr);
    // Every image is read once and written once; cached operations would only keep whole
    // images alive until exit.
    vips_cache_set_max(0);
    return 0;
}

void stopImageLibrary()
{
    vips_shutdown();
}

int readColorImage(const std::string& path, LoadedImage& image, std::vector<std::string>& warnings,
                   std::string& error)
{
    ImageRef file;
    if (openImage(path, file, error) != 0)
        return 1;
    VipsImage* im = file.image;
    const int32_t bands = vips_image_get_bands(im);
    if (bands > 4) {
        error = "the image has " + std::to_string(bands) +
                " channels; RGB, RGB with alpha, grey or grey with alpha is needed";
        return 1;
    }
    // Grey (1 band) and grey with alpha (2) become RGB and RGBA.
    const int32_t outBands = bands == 1 || bands == 3 ? 3 : 4;
    if (vips_image_get_format(im) == VIPS_FORMAT_USHORT)
        warnings.push_back("16-bit samples converted to 8 bits per channel");

    auto metadata = std::make_shared<ImageMetadata>();
    metadata->xres = im->Xres;
    metadata->yres = im->Yres;
    gchar** names = vips_image_get_fields(im);
    for (int i = 0; names[i] != nullptr; ++i) {
        const std::string name = names[i];
        if (!isCarriedField(name))
            continue;
        if (name == VIPS_META_ICC_NAME && !isRgbProfile(im)) {
            warnings.push_back("its colour profile is not an RGB profile and is not kept");
            continue;
        }
        metadata->fields.push_back(name);
    }
    g_strfreev(names);

    if (decodePixels(im, outBands, image.raster, error) != 0)
        return 1;
    g_object_ref(im);
    metadata->source = im;
    image.metadata = metadata;
    return 0;
}

int readMaskImage(const std::string& path, Raster& mask, std::vector<std::string>& warnings,
                  std::string& error)
{
    ImageRef file;
    if (openImage(path, file, error) != 0)
        return 1;
    VipsImage* im = file.image;
    const int32_t bands = vips_image_get_bands(im);
    if (bands != 1) {
        error =
            "a mask must be a grey image with one channel; this one has " + std::to_string(bands);
        return 1;
    }
    if (vips_image_get_format(im) == VIPS_FORMAT_USHORT)
        warnings.push_back("16-bit samples converted to 8 bits");
    return decodePixels(im, 1, mask, error);
}

int formatForPath(const std::string& path, ImageFormat& format)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return 1;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(g_ascii_tolower(c));
    if (ext == "png")
        format = ImageFormat::Png;
    else if (ext == "jpg" || ext == "jpeg")
        format = ImageFormat::Jpeg;
    else if (ext == "tif" || ext == "tiff")
        format = ImageFormat::Tiff;
    else if (ext == "webp")
        format = ImageFormat::WebP;
    else
        return 1;
    return 0;
}

bool formatKeepsAlpha(ImageFormat format)
{
    return format != ImageFormat::Jpeg;
}

int writeImage(const std::string& path, ImageFormat format, const Raster& raster,
               const ImageMetadata* metadata, std::string& error)
{
    if ((raster.bands != 3 && raster.bands != 4) ||
        (raster.bands == 4 && !formatKeepsAlpha(format))) {
        error = "this format cannot hold the image's channels";
        return 1;
    }
    vips_error_clear();
    ImageRef memory(vips_image_new_from_memory(raster.pixels.data(), raster.pixels.size(),
                                               raster.width, raster.height, raster.bands,
                                               VIPS_FORMAT_UCHAR));
    if (memory.image == nullptr) {
        error = "cannot prepare the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    ImageRef out;
    const double xres = metadata != nullptr ? metadata->xres : 1.0;
    const double yres = metadata != nullptr ? metadata->yres : 1.0;
    if (vips_copy(memory.image, &out.image, "interpretation", VIPS_INTERPRETATION_sRGB, "xres",
                  xres, "yres", yres, nullptr) != 0) {
        error = "cannot prepare the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    if (metadata != nullptr) {
        for (const std::string& name : metadata->fields) {
            GValue value = G_VALUE_INIT;
            if (vips_image_get(metadata->source, name.c_str(), &value) == 0) {
                vips_image_set(out.image, name.c_str(), &value);
                g_value_unset(&value);
            }
        }
    }

    int failed = 0;
    switch (format) {
    case ImageFormat::Png:
        failed = vips_pngsave(out.image, path.c_str(), nullptr);
        break;
    case ImageFormat::Jpeg:
        failed = vips_jpegsave(out.image, path.c_str(), "Q", 92, nullptr);
        break;
    case ImageFormat::Tiff:
        failed = vips_tiffsave(out.image, path.c_str(), "compression",
                               VIPS_FOREIGN_TIFF_COMPRESSION_LZW, nullptr);
        break;
    case ImageFormat::WebP:
        failed = vips_webpsave(out.image, path.c_str(), "Q", 92, nullptr);
        break;
    }
    if (failed != 0) {
        error = "cannot write the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    return 0;
}

} // namespace oryn
