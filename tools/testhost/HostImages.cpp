// Source, mask and output images of a test host run.
#include "tools/testhost/HostImages.h"

#include <windows.h>

#include <cstddef>

#include "tools/testhost/HostSupport.h"

namespace oryn {

namespace {

uint8_t patternSample(int32_t x, int32_t y, int32_t plane)
{
    return uint8_t((x * 7 + y * 13 + plane * 61) & 255);
}

} // namespace

int loadSource(const Options& options, Image& source)
{
    if (options.in.empty()) {
        int32_t planes = options.planes ? options.planes : 3;
        source.width = options.width;
        source.height = options.height;
        source.channels = planes;
        source.pixels.resize(size_t(source.width) * size_t(source.height) * size_t(planes));
        size_t i = 0;
        for (int32_t y = 0; y < source.height; ++y)
            for (int32_t x = 0; x < source.width; ++x)
                for (int32_t p = 0; p < planes; ++p)
                    source.pixels[i++] = patternSample(x, y, p);
        say("image generated %dx%d planes %d", int(source.width), int(source.height),
            int(planes));
        return 0;
    }
    Image file;
    std::string error;
    if (readImage(options.in, 0, file, error)) {
        say("error: %s", error.c_str());
        return 1;
    }
    if (file.width > 32767 || file.height > 32767) {
        say("error: %s is %dx%d; the record holds at most 32767 rows and columns",
            options.in.c_str(), int(file.width), int(file.height));
        return 1;
    }
    int32_t planes = options.planes ? options.planes : file.channels;
    source.width = file.width;
    source.height = file.height;
    source.channels = planes;
    source.pixels.resize(size_t(source.width) * size_t(source.height) * size_t(planes));
    size_t pixelCount = size_t(file.width) * size_t(file.height);
    for (size_t i = 0; i < pixelCount; ++i)
        for (int32_t p = 0; p < planes; ++p)
            source.pixels[i * planes + p] =
                p < file.channels ? file.pixels[i * file.channels + p] : uint8_t(options.fill);
    say("image %s %dx%d channels %d planes %d", options.in.c_str(), int(file.width),
        int(file.height), int(file.channels), int(planes));
    return 0;
}

int loadMask(const Options& options, const Image& source, Image& mask)
{
    std::string error;
    if (readImage(options.mask, 1, mask, error)) {
        say("error: %s", error.c_str());
        return 1;
    }
    if (mask.width != source.width || mask.height != source.height) {
        say("error: mask %s is %dx%d, the image %dx%d", options.mask.c_str(), int(mask.width),
            int(mask.height), int(source.width), int(source.height));
        return 1;
    }
    say("mask %s %dx%d", options.mask.c_str(), int(mask.width), int(mask.height));
    return 0;
}

int checkOutput(const Options& options, const Image& output)
{
    int failed = 0;
    const size_t channels = size_t(output.channels < 4 ? output.channels : 4);
    auto sample = [&](const Image& image, int32_t x, int32_t y, size_t p) {
        return image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * size_t(image.channels) + p];
    };
    if (!options.compare.empty()) {
        Image expected;
        std::string error;
        if (readImage(options.compare, int(channels), expected, error)) {
            say("compare error: %s", error.c_str());
            return 1;
        }
        if (expected.width != output.width || expected.height != output.height) {
            say("compare differs: size %dx%d, expected %dx%d", int(output.width),
                int(output.height), int(expected.width), int(expected.height));
            return 1;
        }
        int32_t last = options.compareLastRow < output.height ? options.compareLastRow : output.height;
        size_t differing = 0;
        for (int32_t y = options.compareFirstRow; y < last; ++y)
            for (int32_t x = 0; x < output.width; ++x)
                for (size_t p = 0; p < channels; ++p)
                    if (sample(output, x, y, p) != sample(expected, x, y, p)) {
                        if (differing == 0)
                            say("compare first difference at (%d, %d) plane %d: %d, expected %d",
                                int(x), int(y), int(p), int(sample(output, x, y, p)),
                                int(sample(expected, x, y, p)));
                        ++differing;
                    }
        if (differing != 0) {
            say("compare differs: %lu bytes", static_cast<unsigned long>(differing));
            failed = 1;
        } else {
            say("compare identical rows %d to %d", int(options.compareFirstRow), int(last - 1));
        }
    }
    if (options.hasExpectRows) {
        int32_t last = options.expectLastRow < output.height ? options.expectLastRow : output.height;
        size_t differing = 0;
        for (int32_t y = options.expectFirstRow; y < last; ++y)
            for (int32_t x = 0; x < output.width; ++x)
                for (size_t p = 0; p < channels && p < options.expectColor.size(); ++p)
                    if (sample(output, x, y, p) != options.expectColor[p])
                        ++differing;
        if (differing != 0 || last <= options.expectFirstRow) {
            say("expect rows differ: %lu bytes", static_cast<unsigned long>(differing));
            failed = 1;
        } else {
            say("expect rows %d to %d hold the colour", int(options.expectFirstRow), int(last - 1));
        }
    }
    return failed;
}

int writeOutput(const Options& options, const Image& output)
{
    Image file;
    file.width = output.width;
    file.height = output.height;
    file.channels = output.channels < 4 ? output.channels : 4;
    size_t pixelCount = size_t(output.width) * size_t(output.height);
    file.pixels.resize(pixelCount * size_t(file.channels));
    for (size_t i = 0; i < pixelCount; ++i)
        for (int32_t p = 0; p < file.channels; ++p)
            file.pixels[i * file.channels + p] = output.pixels[i * output.channels + p];

    std::string temporary = options.out + ".part";
    std::string error;
    if (writeImage(temporary, imageFormatFor(options.out), file, error)) {
        DeleteFileA(temporary.c_str());
        say("error: %s", error.c_str());
        return 1;
    }
    if (!MoveFileExA(temporary.c_str(), options.out.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        unsigned long code = GetLastError();
        DeleteFileA(temporary.c_str());
        say("error: cannot rename %s to %s (error %lu)", temporary.c_str(), options.out.c_str(),
            code);
        return 1;
    }
    say("output %s %dx%d channels %d", options.out.c_str(), int(file.width), int(file.height),
        int(file.channels));
    return 0;
}

} // namespace oryn
