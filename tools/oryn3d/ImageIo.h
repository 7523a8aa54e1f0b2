// Image files through libvips: PNG, JPEG, TIFF and WebP in and out at 8 bits per channel, with
// the input's colour profile and EXIF/XMP metadata carried over to what is written from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/oryn3d/Raster.h"

namespace oryn {

// The largest side the host record can describe: rows and columns are int16 there.
constexpr int32_t MaxImageSide = 32767;

enum class ImageFormat { Png, Jpeg, Tiff, WebP };

// What an output file keeps from its input file: resolution, colour profile, EXIF, XMP, IPTC.
// Opaque; shared by everything written from one input.
struct ImageMetadata;
using MetadataRef = std::shared_ptr<const ImageMetadata>;

struct LoadedImage {
    Raster raster; // 3 (RGB) or 4 (RGBA) bands
    MetadataRef metadata;
};

// Starts libvips for this process. Returns 0, or 1 when it cannot start.
int startImageLibrary(const char* argv0);
void stopImageLibrary();

// Reads a colour image as RGB or RGBA: grey becomes RGB, grey with alpha RGBA, 16-bit samples
// are scaled to 8 bits (with a note in `warnings`). Returns 0, or 1 with a one-line reason in
// `error` (the caller names the file).
int readColorImage(const std::string& path, LoadedImage& image, std::vector<std::string>& warnings,
                   std::string& error);

// Reads a selection mask: one grey band, 8 bits (16-bit masks are scaled, with a note).
// Returns 0, or 1 with a one-line reason in `error`.
int readMaskImage(const std::string& path, Raster& mask, std::vector<std::string>& warnings,
                  std::string& error);

// The format named by the file's extension (.png, .jpg, .jpeg, .tif, .tiff, .webp, any case).
// Returns 0, or 1 when the extension names none of them.
int formatForPath(const std::string& path, ImageFormat& format);

// JPEG has no alpha channel; the other formats keep RGBA.
bool formatKeepsAlpha(ImageFormat format);

// Writes a 3- or 4-band raster to `path` in `format`, with `metadata` (may be null).
// Returns 0, or 1 with a one-line reason in `error`.
int writeImage(const std::string& path, ImageFormat format, const Raster& raster,
               const ImageMetadata* metadata, std::string& error);

} // namespace oryn
