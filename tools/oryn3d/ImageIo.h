// Image files through libvips: every format the installed libvips reads, turned into the 8-bit
// RGB, RGBA or grey rasters the filter works on; PNG, JPEG, TIFF and WebP written, with the
// input's colour profile and metadata carried over.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/oryn3d/Invocation.h"
#include "tools/oryn3d/Raster.h"

typedef struct _VipsImage VipsImage;

namespace oryn {

// The largest side the host record can describe: rows and columns are int16 there.
constexpr int32_t MaxImageSide = 32767;

// The most read from standard input (1 GiB): an image file larger than that is given by name,
// and an endless stream ends with a message instead of exhausting memory.
constexpr size_t MaxInputStreamBytes = size_t(1) << 30;

// What an output file keeps from its input file: resolution, colour profile, EXIF (without its
// thumbnail), XMP, IPTC. Opaque; shared by everything written from one input.
struct ImageMetadata;
using MetadataRef = std::shared_ptr<const ImageMetadata>;

// What an output keeps under --strip: the resolution only (no profile, EXIF, XMP, IPTC or
// orientation).
MetadataRef strippedMetadata(const MetadataRef& metadata);

// An opened input, ready to be decoded: its pixels are not read yet.
class InputImage {
public:
    InputImage() = default;
    InputImage(const InputImage&) = delete;
    InputImage& operator=(const InputImage&) = delete;
    ~InputImage();

    int32_t width() const;
    int32_t height() const;
    // 1 (grey), 2 (grey and alpha), 3 (RGB) or 4 (RGBA), after any colour conversion.
    int32_t bands() const;

    // Lets go of the pipeline and the encoded bytes once the pixels are decoded, so that what
    // the loader holds (a whole decoded image, for one that was turned upright) is freed
    // before the render. The metadata stays.
    void close();

    VipsImage* image = nullptr; // the pipeline up to 8-bit samples
    std::string buffer;         // the encoded file when it came from standard input
    MetadataRef metadata;
};

// Starts libvips for this process. Returns 0, or 1 when it cannot start.
int startImageLibrary(const char* argv0);
void stopImageLibrary();

// Opens `path` ("-" reads standard input): checks its size and samples, converts CMYK (through
// its profile) and other colour spaces to sRGB, 16-bit samples to 8 bits, and, unless
// `keepOrientation`, turns it upright by its EXIF orientation. Notes go to `warnings`.
// Returns 0, or 1 with a one-line reason in `error` (the caller names the file).
int openInput(const std::string& path, bool keepOrientation, InputImage& input,
              std::vector<std::string>& warnings, std::string& error);

// The opened input's pipeline with `bands` bands, as decodeInput decodes it, without decoding
// anything: pixels are read as the caller asks for them. `prepared` gets a new reference.
// Returns 0, or 1 with a reason.
int prepareChannels(InputImage& input, int32_t bands, VipsImage** prepared, std::string& error);

// Decodes the opened input into `raster` with `bands` bands: 3 or 4 for a colour image (grey is
// copied into red, green and blue; a missing alpha is added as opaque), 1 for a mask (which must
// be grey). Returns 0, or 1 with a reason.
int decodeInput(InputImage& input, int32_t bands, Raster& raster, std::string& error);

// The format named by the file's extension (.png, .jpg, .jpeg, .tif, .tiff, .webp, any case).
// Returns 0, or 1 when the extension names none of them.
int formatForPath(const std::string& path, ImageFormat& format);

// The usual extension of a format, without the dot.
const char* extensionOf(ImageFormat format);

const char* formatName(ImageFormat format);

// JPEG has no alpha channel; the other formats keep RGBA.
bool formatKeepsAlpha(ImageFormat format);

// Writes a 3- or 4-band raster to `path` ("-" for standard output) in `format` with the encode
// options and `metadata` (may be null). Returns 0, or 1 with a one-line reason in `error`.
int writeImage(const std::string& path, ImageFormat format, const EncodeOptions& encode,
               const Raster& raster, const ImageMetadata* metadata, std::string& error);

// Lays RGB `tiles` of one size out in rows of `columns`, each with its label in black on white
// below it, on a white sheet with a margin. Returns 0, or 1 with a reason.
int composeSheet(const std::vector<Raster>& tiles, const std::vector<std::string>& labels,
                 int columns, Raster& sheet, std::string& error);

// Writes a 3- or 4-band 8-bit libvips image the same way: its pixels are made while they are
// encoded. Returns 0, or 1 with a reason.
int writeImage(const std::string& path, ImageFormat format, const EncodeOptions& encode,
               VipsImage* image, const ImageMetadata* metadata, std::string& error);

// Computes every pixel of an 8-bit libvips image into `raster`. Returns 0, or 1 with libvips'
// reason.
int readImagePixels(VipsImage* image, Raster& raster, std::string& error);

} // namespace oryn
