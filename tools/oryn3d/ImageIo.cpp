// Reading and writing image files with libvips. Inputs become one libvips pipeline that ends in
// 8-bit samples and is decoded straight into the raster the filter reads; outputs are encoded
// from the raster or the libvips image the filter wrote. Metadata is copied from input to output.
#include "tools/oryn3d/ImageIo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libexif/exif-data.h>
#include <vips/vips.h>

#include "tools/oryn3d/ToolHost.h"

namespace oryn {

// The fields an output keeps, as copies of the input's values.
struct ImageMetadata {
    std::vector<std::pair<std::string, GValue>> fields;
    double xres = 1.0; // pixels per millimetre, as libvips keeps them
    double yres = 1.0;

    ImageMetadata() = default;
    ImageMetadata(const ImageMetadata&) = delete;
    ImageMetadata& operator=(const ImageMetadata&) = delete;
    ~ImageMetadata()
    {
        for (auto& field : fields)
            g_value_unset(&field.second);
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
    // Replaces the image with the result of an operation on it.
    void replace(VipsImage* next)
    {
        if (image != nullptr)
            g_object_unref(image);
        image = next;
    }
};

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
    if (colon != std::string::npos && colon < 24 && text.find(' ') > colon)
        text.erase(0, colon + 2);
    return text.empty() ? std::string(fallback) : text;
}

// `text` with every mention of `path` (a temporary name the user never chose) and its
// folder-less form taken out.
std::string withoutPath(std::string text, const std::string& path)
{
    for (const std::string& name : {path, path.substr(path.find_last_of('/') + 1)}) {
        if (name.empty())
            continue;
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
            size_t end = at + name.size();
            if (end + 1 < text.size() && text[end] == ':' && text[end + 1] == ' ')
                end += 2;
            text.erase(at, end - at);
        }
    }
    return text;
}

// Warnings that libvips and its format libraries print on their own would break the one-line
// error contract; failures reach the user through vipsReason instead.
void dropLibraryMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// Colour spaces libvips converts to sRGB by formula.
bool isConvertibleColourSpace(VipsInterpretation interpretation)
{
    switch (interpretation) {
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABQ:
    case VIPS_INTERPRETATION_LABS:
    case VIPS_INTERPRETATION_LCH:
    case VIPS_INTERPRETATION_CMC:
    case VIPS_INTERPRETATION_XYZ:
    case VIPS_INTERPRETATION_YXY:
    case VIPS_INTERPRETATION_HSV:
    case VIPS_INTERPRETATION_scRGB:
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

// The fields an output keeps: EXIF (the blob and the tag fields libvips rebuilds it from on
// saving, without the thumbnail's directory), XMP, IPTC and the resolution unit. The profile and
// the orientation are decided separately.
bool isCarriedField(const std::string& name)
{
    if (name.compare(0, 10, "exif-ifd1-") == 0)
        return false;
    return name == VIPS_META_EXIF_NAME || name.compare(0, 5, "exif-") == 0 ||
           name == VIPS_META_XMP_NAME || name == VIPS_META_IPTC_NAME ||
           name == VIPS_META_RESOLUTION_UNIT;
}

// The EXIF block without its thumbnail (which would show the unfiltered photo in file managers)
// and, when the pixels were turned upright, with orientation 1. Empty when libexif cannot read
// the block: it is then dropped rather than carried with a stale thumbnail.
std::string cleanExif(const void* data, size_t size, bool upright)
{
    ExifData* exif = exif_data_new_from_data(static_cast<const unsigned char*>(data),
                                             static_cast<unsigned int>(size));
    if (exif == nullptr)
        return std::string();
    // libexif allocates with malloc by default, so the thumbnail is freed the same way.
    std::free(exif->data);
    exif->data = nullptr;
    exif->size = 0;
    ExifContent* thumbnailIfd = exif->ifd[EXIF_IFD_1];
    while (thumbnailIfd->count > 0)
        exif_content_remove_entry(thumbnailIfd, thumbnailIfd->entries[0]);
    if (upright) {
        ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        if (entry != nullptr && entry->format == EXIF_FORMAT_SHORT && entry->size >= 2)
            exif_set_short(entry->data, exif_data_get_byte_order(exif), 1);
    }
    unsigned char* saved = nullptr;
    unsigned int savedSize = 0;
    exif_data_save_data(exif, &saved, &savedSize);
    std::string result;
    if (saved != nullptr)
        result.assign(reinterpret_cast<const char*>(saved), savedSize);
    std::free(saved);
    exif_data_unref(exif);
    return result;
}

int freeBlob(void* data, void*)
{
    g_free(data);
    return 0;
}

void addBlobField(ImageMetadata& metadata, const char* name, const std::string& bytes)
{
    GValue value = G_VALUE_INIT;
    g_value_init(&value, VIPS_TYPE_BLOB);
    void* copy = g_memdup2(bytes.data(), bytes.size());
    vips_value_set_blob(&value, freeBlob, copy, bytes.size());
    metadata.fields.emplace_back(name, value);
}

// Copies the fields the output keeps. `loaded` is the file as read (its EXIF and other
// fields), `converted` the pipeline (its profile, which a CMYK conversion replaced).
MetadataRef collectMetadata(VipsImage* loaded, VipsImage* converted, bool upright,
                            std::vector<std::string>& warnings)
{
    auto metadata = std::make_shared<ImageMetadata>();
    metadata->xres = converted->Xres;
    metadata->yres = converted->Yres;
    gchar** names = vips_image_get_fields(loaded);
    for (int i = 0; names[i] != nullptr; ++i) {
        const std::string name = names[i];
        if (!isCarriedField(name) || (upright && name == "exif-ifd0-Orientation"))
            continue;
        if (name == VIPS_META_EXIF_NAME) {
            const void* data = nullptr;
            size_t size = 0;
            if (vips_image_get_blob(loaded, name.c_str(), &data, &size) == 0) {
                const std::string cleaned = cleanExif(data, size, upright);
                if (!cleaned.empty())
                    addBlobField(*metadata, VIPS_META_EXIF_NAME, cleaned);
            }
            continue;
        }
        GValue value = G_VALUE_INIT;
        if (vips_image_get(loaded, name.c_str(), &value) == 0)
            metadata->fields.emplace_back(name, value);
    }
    g_strfreev(names);
    if (vips_image_get_typeof(converted, VIPS_META_ICC_NAME) != 0) {
        if (isRgbProfile(converted)) {
            GValue value = G_VALUE_INIT;
            if (vips_image_get(converted, VIPS_META_ICC_NAME, &value) == 0)
                metadata->fields.emplace_back(VIPS_META_ICC_NAME, value);
        } else if (vips_image_get_bands(converted) >= 3) {
            warnings.push_back("its colour profile is not an RGB profile and is not kept");
        }
    }
    // Without turning, the output keeps the stored orientation, so viewers still show it as the
    // input was shown.
    if (!upright && vips_image_get_typeof(loaded, VIPS_META_ORIENTATION) != 0) {
        GValue value = G_VALUE_INIT;
        if (vips_image_get(loaded, VIPS_META_ORIENTATION, &value) == 0)
            metadata->fields.emplace_back(VIPS_META_ORIENTATION, value);
    }
    return metadata;
}

// Reads standard input to its end, at most MaxInputStreamBytes.
int readStandardInput(std::string& bytes, std::string& error)
{
    return readStream(STDIN_FILENO, MaxInputStreamBytes, bytes, error);
}

// Called by libvips as it computes an image: a termination signal stops the computation at the
// next tile instead of after the whole image is decoded or encoded.
void stopOnCancel(VipsImage* image, VipsProgress*, void*)
{
    if (cancelRequested())
        vips_image_set_kill(image, TRUE);
}

void watchForCancel(VipsImage* image)
{
    vips_image_set_progress(image, TRUE);
    g_signal_connect(image, "eval", G_CALLBACK(stopOnCancel), nullptr);
}

// Loads the file or the buffer, refusing a damaged one rather than rendering grey where its
// data ends.
VipsImage* load(const std::string& path, const std::string& buffer, VipsAccess access)
{
    if (path == "-")
        return vips_image_new_from_buffer(buffer.data(), buffer.size(), "", "access", access,
                                          "fail_on", VIPS_FAIL_ON_ERROR, nullptr);
    return vips_image_new_from_file(path.c_str(), "access", access, "fail_on", VIPS_FAIL_ON_ERROR,
                                    nullptr);
}

} // namespace

MetadataRef strippedMetadata(const MetadataRef& metadata)
{
    auto stripped = std::make_shared<ImageMetadata>();
    if (metadata != nullptr) {
        stripped->xres = metadata->xres;
        stripped->yres = metadata->yres;
    }
    return stripped;
}

InputImage::~InputImage()
{
    if (image != nullptr)
        g_object_unref(image);
}

void InputImage::close()
{
    if (image != nullptr)
        g_object_unref(image);
    image = nullptr;
    std::string().swap(buffer);
}

int32_t InputImage::width() const
{
    return vips_image_get_width(image);
}

int32_t InputImage::height() const
{
    return vips_image_get_height(image);
}

int32_t InputImage::bands() const
{
    return vips_image_get_bands(image);
}

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

int openInput(const std::string& path, bool keepOrientation, InputImage& input,
              std::vector<std::string>& warnings, std::string& error)
{
    vips_error_clear();
    const char* loader = nullptr;
    if (path == "-") {
        if (readStandardInput(input.buffer, error) != 0)
            return 1;
        loader = vips_foreign_find_load_buffer(input.buffer.data(), input.buffer.size());
    } else {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            error = std::strerror(errno);
            return 1;
        }
        if (S_ISDIR(info.st_mode)) {
            error = "is a folder, not an image";
            return 1;
        }
        if (access(path.c_str(), R_OK) != 0) {
            error = std::strerror(errno);
            return 1;
        }
        loader = vips_foreign_find_load(path.c_str());
    }
    if (loader == nullptr) {
        vips_error_clear();
        error = "not an image format that this system's libvips reads";
        return 1;
    }

    ImageRef loaded(load(path, input.buffer, VIPS_ACCESS_SEQUENTIAL));
    if (loaded.image == nullptr) {
        error = "cannot read the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    // Only the first frame of an animation or the first page of a document is filtered.
    const int pages = vips_image_get_n_pages(loaded.image);
    if (pages > 1)
        warnings.push_back("it has " + std::to_string(pages) +
                           " frames or pages; only the first is filtered (split it first, for "
                           "example with 'vips copy \"IN[page=N]\" OUT.png')");
    // Turning needs the rows out of order, so a turned image is read with random access.
    const bool upright = !keepOrientation && vips_image_get_orientation(loaded.image) > 1;
    if (upright) {
        loaded.replace(load(path, input.buffer, VIPS_ACCESS_RANDOM));
        if (loaded.image == nullptr) {
            error = "cannot read the image (" + vipsReason("unknown reason") + ")";
            return 1;
        }
    }
    g_object_ref(loaded.image);
    ImageRef pipe(loaded.image);
    if (upright) {
        VipsImage* turned = nullptr;
        if (vips_autorot(pipe.image, &turned, nullptr) != 0) {
            error = "cannot turn the image upright (" + vipsReason("unknown reason") + ")";
            return 1;
        }
        pipe.replace(turned);
    }

    const int width = vips_image_get_width(pipe.image);
    const int height = vips_image_get_height(pipe.image);
    if (width > MaxImageSide || height > MaxImageSide) {
        error = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels; at most " + std::to_string(MaxImageSide) +
                " pixels a side can be filtered";
        return 1;
    }

    VipsImage* next = nullptr;
    if (pipe.image->Coding != VIPS_CODING_NONE) {
        if (vips_image_decode(pipe.image, &next) != 0) {
            error = "cannot decode the image (" + vipsReason("unknown reason") + ")";
            return 1;
        }
        pipe.replace(next);
    }
    const VipsInterpretation kind = vips_image_get_interpretation(pipe.image);
    if (kind == VIPS_INTERPRETATION_CMYK) {
        const bool hasProfile = vips_image_get_typeof(pipe.image, VIPS_META_ICC_NAME) != 0;
        // Through the image's own profile, or libvips' CMYK profile when it has none.
        if (vips_icc_transform(pipe.image, &next, "srgb", "embedded", TRUE, "depth", 8, nullptr) !=
            0) {
            error = "cannot convert its CMYK colours to sRGB (" + vipsReason("unknown reason") +
                    "); convert the image to RGB first";
            return 1;
        }
        pipe.replace(next);
        warnings.push_back(hasProfile ? "CMYK converted to sRGB through its colour profile"
                                      : "CMYK converted to sRGB; it has no colour profile, so "
                                        "a generic CMYK profile was assumed");
    } else if (isConvertibleColourSpace(kind)) {
        if (vips_colourspace(pipe.image, &next, VIPS_INTERPRETATION_sRGB, nullptr) != 0 ||
            (pipe.replace(next), vips_cast_uchar(pipe.image, &next, nullptr)) != 0) {
            error = std::string("cannot convert its ") +
                    vips_enum_nick(VIPS_TYPE_INTERPRETATION, kind) + " colours to sRGB (" +
                    vipsReason("unknown reason") + ")";
            return 1;
        }
        pipe.replace(next);
        warnings.push_back(std::string(vips_enum_nick(VIPS_TYPE_INTERPRETATION, kind)) +
                           " colours converted to sRGB");
    }

    const int bands = vips_image_get_bands(pipe.image);
    if (bands > 4) {
        error = "the image has " + std::to_string(bands) +
                " channels; RGB, RGB with alpha, grey or grey with alpha can be filtered (pick "
                "three channels first, for example with 'vips extract_band')";
        return 1;
    }
    const VipsBandFormat format = vips_image_get_format(pipe.image);
    if (format == VIPS_FORMAT_USHORT) {
        // The filter works on 8-bit samples; the high byte keeps 65535 as 255 and 0 as 0.
        if (vips_rshift_const1(pipe.image, &next, 8.0, nullptr) != 0 ||
            (pipe.replace(next), vips_cast_uchar(pipe.image, &next, nullptr)) != 0) {
            error = "cannot reduce its 16-bit samples (" + vipsReason("unknown reason") + ")";
            return 1;
        }
        pipe.replace(next);
        warnings.push_back("16-bit samples converted to 8 bits per channel, as the filter works "
                           "on 8-bit images");
    } else if (format != VIPS_FORMAT_UCHAR) {
        error = std::string("samples of type ") + vips_enum_nick(VIPS_TYPE_BAND_FORMAT, format) +
                " cannot be filtered; convert the image to 8 or 16 bits per channel first (for "
                "example with 'vips cast IN OUT.tif uchar')";
        return 1;
    }

    input.metadata = collectMetadata(loaded.image, pipe.image, upright, warnings);
    input.image = pipe.image;
    pipe.image = nullptr;
    return 0;
}

int prepareChannels(InputImage& input, int32_t bands, VipsImage** prepared, std::string& error)
{
    const int32_t have = input.bands();
    if (bands == 1 && have != 1) {
        error =
            "a mask must be a grey image with one channel; this one has " + std::to_string(have);
        return 1;
    }
    g_object_ref(input.image);
    ImageRef pipe(input.image);
    VipsImage* next = nullptr;
    int failed = 0;
    if (bands >= 3 && have < 3) {
        // Grey feeds red, green and blue; a grey image's alpha stays the fourth band.
        VipsImage* grey = nullptr;
        failed = vips_extract_band(pipe.image, &grey, 0, nullptr);
        if (failed == 0) {
            VipsImage* parts[4] = {grey, grey, grey, pipe.image};
            VipsImage* alpha = nullptr;
            int count = 3;
            if (have == 2 && bands == 4) {
                failed = vips_extract_band(pipe.image, &alpha, 1, nullptr);
                parts[3] = alpha;
                count = 4;
            }
            if (failed == 0)
                failed = vips_bandjoin(parts, &next, count, nullptr);
            if (alpha != nullptr)
                g_object_unref(alpha);
            g_object_unref(grey);
            if (failed == 0)
                pipe.replace(next);
        }
    }
    if (failed == 0 && bands == 4 && vips_image_get_bands(pipe.image) == 3) {
        failed = vips_bandjoin_const1(pipe.image, &next, 255.0, nullptr);
        if (failed == 0)
            pipe.replace(next);
    }
    if (failed != 0 || vips_image_get_bands(pipe.image) != bands) {
        error = "cannot prepare the image's channels (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    *prepared = pipe.image;
    pipe.image = nullptr;
    return 0;
}

int decodeInput(InputImage& input, int32_t bands, Raster& raster, std::string& error)
{
    VipsImage* prepared = nullptr;
    if (prepareChannels(input, bands, &prepared, error) != 0)
        return 1;
    ImageRef pipe(prepared);
    if (raster.allocate(input.width(), input.height(), bands) != 0) {
        error = "not enough memory for this image";
        return 1;
    }
    // libvips decodes straight into the raster: no intermediate image.
    ImageRef target(vips_image_new_from_memory(raster.pixels.data(), raster.pixels.size(),
                                               raster.width, raster.height, bands,
                                               VIPS_FORMAT_UCHAR));
    if (target.image != nullptr)
        watchForCancel(target.image);
    if (target.image == nullptr || vips_image_write(pipe.image, target.image) != 0) {
        const std::string reason = vipsReason("unknown reason");
        // libvips reports a thread or a buffer it could not get as a failed read; that is the
        // system's limits, not the file.
        if (reason.find("thread") != std::string::npos ||
            reason.find("memory") != std::string::npos ||
            reason.find("alloc") != std::string::npos)
            error = "the system refused the memory or threads needed to decode the image (" +
                    reason + ")";
        else
            error = "the image data is damaged or incomplete (" + reason + ")";
        return 1;
    }
    return 0;
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

const char* extensionOf(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return "png";
    case ImageFormat::Jpeg:
        return "jpg";
    case ImageFormat::Tiff:
        return "tif";
    case ImageFormat::WebP:
        return "webp";
    }
    return "png";
}

const char* formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return "png";
    case ImageFormat::Jpeg:
        return "jpeg";
    case ImageFormat::Tiff:
        return "tiff";
    case ImageFormat::WebP:
        return "webp";
    }
    return "png";
}

bool formatKeepsAlpha(ImageFormat format)
{
    return format != ImageFormat::Jpeg;
}

namespace {

// Sets the metadata fields on the image to be written.
void setMetadata(VipsImage* image, const ImageMetadata* metadata)
{
    if (metadata == nullptr)
        return;
    for (const auto& field : metadata->fields)
        vips_image_set(image, field.first.c_str(), const_cast<GValue*>(&field.second));
}

// A file descriptor as a libvips target: the bytes go through write(2), and the first
// failure's errno is kept, so that the message can give the system's reason ("No space left on
// device") rather than libvips' "write error". Read and seek serve the TIFF writer, which goes
// back to fill in offsets.
struct DescriptorTarget {
    int fd = -1;
    int failure = 0; // errno of the first failed call
};

gint64 targetWrite(VipsTargetCustom*, const void* data, gint64 length, void* user)
{
    auto* target = static_cast<DescriptorTarget*>(user);
    const char* bytes = static_cast<const char*>(data);
    gint64 done = 0;
    while (done < length) {
        const ssize_t wrote = write(target->fd, bytes + done, static_cast<size_t>(length - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (target->failure == 0)
                target->failure = wrote < 0 ? errno : EIO;
            return -1;
        }
        done += wrote;
    }
    return done;
}

gint64 targetRead(VipsTargetCustom*, void* data, gint64 length, void* user)
{
    auto* target = static_cast<DescriptorTarget*>(user);
    ssize_t got;
    do
        got = read(target->fd, data, static_cast<size_t>(length));
    while (got < 0 && errno == EINTR);
    return got;
}

gint64 targetSeek(VipsTargetCustom*, gint64 offset, int whence, void* user)
{
    auto* target = static_cast<DescriptorTarget*>(user);
    return lseek(target->fd, static_cast<off_t>(offset), whence);
}

// Encodes `image` into `target`. Returns 0, or non-zero with libvips' error buffer set.
int encodeInto(VipsImage* image, VipsTarget* target, ImageFormat format,
               const EncodeOptions& encode)
{
    const gboolean strip = encode.strip ? TRUE : FALSE;
    switch (format) {
    case ImageFormat::Png:
        return vips_pngsave_target(image, target, "compression", encode.pngLevel, "strip", strip, nullptr);
    case ImageFormat::Jpeg:
        return vips_jpegsave_target(image, target, "Q", encode.quality, "strip", strip, nullptr);
    case ImageFormat::Tiff: {
        VipsForeignTiffCompression compression = VIPS_FOREIGN_TIFF_COMPRESSION_LZW;
        switch (encode.tiff) {
        case TiffCompression::None:
            compression = VIPS_FOREIGN_TIFF_COMPRESSION_NONE;
            break;
        case TiffCompression::Lzw:
            compression = VIPS_FOREIGN_TIFF_COMPRESSION_LZW;
            break;
        case TiffCompression::Deflate:
            compression = VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE;
            break;
        case TiffCompression::Zstd:
            compression = VIPS_FOREIGN_TIFF_COMPRESSION_ZSTD;
            break;
        case TiffCompression::Jpeg:
            compression = VIPS_FOREIGN_TIFF_COMPRESSION_JPEG;
            break;
        }
        return vips_tiffsave_target(image, target, "compression", compression, "Q",
                                    encode.quality, "strip", strip, nullptr);
    }
    case ImageFormat::WebP:
        return vips_webpsave_target(image, target, "Q", encode.quality, "lossless",
                                    encode.lossless ? TRUE : FALSE, "strip", strip, nullptr);
    }
    return -1;
}

// Writes all of `bytes` to `fd`. Returns 0, or the errno of the failure.
int writeAll(int fd, const unsigned char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = write(fd, bytes + done, size - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return wrote < 0 ? errno : EIO;
        done += static_cast<size_t>(wrote);
    }
    return 0;
}

// Encodes `image` into `path` ("-": standard output). A regular file is written as it is
// encoded; a pipe, terminal or device gets the file only once it is encoded whole, so that a
// failure leaves no partial stream and the TIFF writer, which must seek, works into a pipe too.
// Returns 0, or 1 with a reason that names no temporary file (the caller names the output).
int saveImage(VipsImage* image, const std::string& path, ImageFormat format,
              const EncodeOptions& encode, std::string& error)
{
    const bool standardOutput = path == "-";
    int fd = standardOutput ? STDOUT_FILENO : open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && !standardOutput && (errno == EACCES || errno == EISDIR || errno == EINVAL))
        fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open it for writing: ") + std::strerror(errno);
        return 1;
    }
    struct stat info;
    const bool seekable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (seekable && !standardOutput && ftruncate(fd, 0) != 0) {
        error = std::string("cannot write the image: ") + std::strerror(errno);
        close(fd);
        return 1;
    }
    DescriptorTarget descriptor{fd, 0};
    VipsTarget* target = nullptr;
    VipsTargetCustom* custom = nullptr;
    if (seekable) {
        custom = vips_target_custom_new();
        g_signal_connect(custom, "write", G_CALLBACK(targetWrite), &descriptor);
        g_signal_connect(custom, "read", G_CALLBACK(targetRead), &descriptor);
        g_signal_connect(custom, "seek", G_CALLBACK(targetSeek), &descriptor);
        target = VIPS_TARGET(custom);
    } else {
        target = vips_target_new_to_memory();
    }
    watchForCancel(image);
    int failed = target == nullptr ? 1 : encodeInto(image, target, format, encode);
    if (failed == 0 && vips_target_end(target) != 0)
        failed = 1;
    int reason = descriptor.failure;
    if (failed == 0 && !seekable) {
        VipsBlob* blob = nullptr;
        g_object_get(target, "blob", &blob, nullptr);
        size_t size = 0;
        const auto* bytes =
            blob != nullptr ? static_cast<const unsigned char*>(vips_blob_get(blob, &size))
                            : nullptr;
        reason = bytes != nullptr ? writeAll(fd, bytes, size) : EIO;
        if (blob != nullptr)
            vips_area_unref(VIPS_AREA(blob));
        failed = reason != 0;
    }
    if (target != nullptr)
        g_object_unref(target);
    if (!standardOutput && close(fd) != 0 && failed == 0) {
        reason = errno;
        failed = 1;
    }
    if (failed != 0) {
        const std::string detail = vipsReason("unknown reason");
        error = reason != 0 ? std::string("cannot write the image: ") + std::strerror(reason)
                            : "cannot write the image (" + withoutPath(detail, path) + ")";
        return 1;
    }
    return 0;
}

bool channelsFit(const Raster& raster, ImageFormat format, std::string& error)
{
    if ((raster.bands != 3 && raster.bands != 4) ||
        (raster.bands == 4 && !formatKeepsAlpha(format))) {
        error = "this format cannot hold the image's channels";
        return false;
    }
    return true;
}

} // namespace

int writeImage(const std::string& path, ImageFormat format, const EncodeOptions& encode,
               const Raster& raster, const ImageMetadata* metadata, std::string& error)
{
    if (!channelsFit(raster, format, error))
        return 1;
    vips_error_clear();
    ImageRef memory(vips_image_new_from_memory(raster.pixels.data(), raster.pixels.size(),
                                               raster.width, raster.height, raster.bands,
                                               VIPS_FORMAT_UCHAR));
    if (memory.image == nullptr) {
        error = "cannot prepare the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    return writeImage(path, format, encode, memory.image, metadata, error);
}

int writeImage(const std::string& path, ImageFormat format, const EncodeOptions& encode,
               VipsImage* image, const ImageMetadata* metadata, std::string& error)
{
    ImageRef out;
    const double xres = metadata != nullptr ? metadata->xres : 1.0;
    const double yres = metadata != nullptr ? metadata->yres : 1.0;
    if (vips_copy(image, &out.image, "interpretation", VIPS_INTERPRETATION_sRGB, "xres", xres,
                  "yres", yres, nullptr) != 0) {
        error = "cannot prepare the image (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    setMetadata(out.image, metadata);
    return saveImage(out.image, path, format, encode, error);
}

int composeSheet(const std::vector<Raster>& tiles, const std::vector<std::string>& labels,
                 int columns, Raster& sheet, std::string& error)
{
    constexpr int LabelHeight = 28;
    constexpr int Gap = 12;
    vips_error_clear();
    std::vector<VipsImage*> cells;
    int failed = 0;
    for (size_t i = 0; i < tiles.size() && failed == 0; ++i) {
        const Raster& tile = tiles[i];
        ImageRef picture(vips_image_new_from_memory(tile.pixels.data(), tile.pixels.size(),
                                                    tile.width, tile.height, 3,
                                                    VIPS_FORMAT_UCHAR));
        // The text as coverage (0..255), turned into black on white. libvips reads Pango
        // markup, so the name is escaped to be shown as typed.
        ImageRef text;
        ImageRef ink;
        ImageRef label;
        ImageRef cell;
        double white[3] = {255, 255, 255};
        VipsArrayDouble* background = vips_array_double_new(white, 3);
        gchar* escaped = g_markup_escape_text(labels[i].c_str(), -1);
        failed = picture.image == nullptr ||
                 vips_text(&text.image, escaped, "width", tile.width - 8, "font", "sans 12",
                           nullptr) != 0;
        g_free(escaped);
        if (failed == 0)
            failed = vips_invert(text.image, &ink.image, nullptr);
        if (failed == 0) {
            VipsImage* three[3] = {ink.image, ink.image, ink.image};
            failed = vips_bandjoin(three, &label.image, 3, nullptr);
        }
        if (failed == 0) {
            VipsImage* framed = nullptr;
            failed = vips_embed(label.image, &framed, 4,
                                (LabelHeight - vips_image_get_height(label.image)) / 2,
                                tile.width, LabelHeight, "extend", VIPS_EXTEND_BACKGROUND,
                                "background", background, nullptr);
            label.replace(framed);
        }
        if (failed == 0) {
            failed = vips_join(picture.image, label.image, &cell.image, VIPS_DIRECTION_VERTICAL,
                               nullptr);
        }
        vips_area_unref(VIPS_AREA(background));
        if (failed == 0) {
            cells.push_back(cell.image);
            cell.image = nullptr;
        }
    }
    ImageRef joined;
    ImageRef framed;
    if (failed == 0) {
        double white[3] = {255, 255, 255};
        VipsArrayDouble* background = vips_array_double_new(white, 3);
        failed = vips_arrayjoin(cells.data(), &joined.image, static_cast<int>(cells.size()),
                                "across", columns, "shim", Gap, "background", background,
                                nullptr);
        if (failed == 0)
            failed = vips_embed(joined.image, &framed.image, Gap, Gap,
                                vips_image_get_width(joined.image) + 2 * Gap,
                                vips_image_get_height(joined.image) + 2 * Gap, "extend",
                                VIPS_EXTEND_BACKGROUND, "background", background, nullptr);
        vips_area_unref(VIPS_AREA(background));
    }
    for (VipsImage* cell : cells)
        g_object_unref(cell);
    if (failed != 0) {
        error = "cannot lay out the sheet (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    if (sheet.allocate(vips_image_get_width(framed.image), vips_image_get_height(framed.image),
                       3) != 0) {
        error = "not enough memory for the sheet";
        return 1;
    }
    ImageRef target(vips_image_new_from_memory(sheet.pixels.data(), sheet.pixels.size(),
                                               sheet.width, sheet.height, 3, VIPS_FORMAT_UCHAR));
    if (target.image == nullptr || vips_image_write(framed.image, target.image) != 0) {
        error = "cannot lay out the sheet (" + vipsReason("unknown reason") + ")";
        return 1;
    }
    return 0;
}

int readImagePixels(VipsImage* image, Raster& raster, std::string& error)
{
    if (raster.allocate(vips_image_get_width(image), vips_image_get_height(image),
                        vips_image_get_bands(image)) != 0) {
        error = "not enough memory for this image";
        return 1;
    }
    ImageRef target(vips_image_new_from_memory(raster.pixels.data(), raster.pixels.size(),
                                               raster.width, raster.height, raster.bands,
                                               VIPS_FORMAT_UCHAR));
    if (target.image == nullptr || vips_image_write(image, target.image) != 0) {
        error = vipsReason("unknown reason");
        return 1;
    }
    return 0;
}

} // namespace oryn
