// oryn-samplegen: writes a synthetic landscape photo (sky, sun, mountains, fields, soft
// out-of-focus discs, grain) so that the main job and the tests have a colourful input without
// shipping image files. The same arguments always give the same pixels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <vips/vips.h>

namespace oryn {

namespace {

constexpr int DefaultWidth = 1600;
constexpr int DefaultHeight = 1066;
constexpr int MaxSide = 20000;

struct Colour {
    double r, g, b;
};

Colour mix(const Colour& a, const Colour& b, double t)
{
    return Colour{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double clamp01(double v)
{
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}

double smoothstep(double edge0, double edge1, double x)
{
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

// Integer hash to [0, 1): the grain and the noise lattice need no random-number state.
double hash01(int32_t x, int32_t y, uint32_t seed)
{
    uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^
                 seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return (h & 0xFFFFFFu) / 16777216.0;
}

// Smoothly interpolated lattice noise in [0, 1).
double valueNoise(double x, double y, uint32_t seed)
{
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int32_t ix = static_cast<int32_t>(fx);
    const int32_t iy = static_cast<int32_t>(fy);
    const double tx = smoothstep(0.0, 1.0, x - fx);
    const double ty = smoothstep(0.0, 1.0, y - fy);
    const double top = hash01(ix, iy, seed) * (1 - tx) + hash01(ix + 1, iy, seed) * tx;
    const double bottom = hash01(ix, iy + 1, seed) * (1 - tx) + hash01(ix + 1, iy + 1, seed) * tx;
    return top * (1 - ty) + bottom * ty;
}

// Four octaves of noise, roughly in [0, 1).
double fractalNoise(double x, double y, uint32_t seed)
{
    double sum = 0.0;
    double amplitude = 0.5;
    for (int octave = 0; octave < 4; ++octave) {
        sum += amplitude * valueNoise(x, y, seed + static_cast<uint32_t>(octave));
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum / 0.9375;
}

struct Disc {
    double x, y, radius; // in units of the image height
    Colour colour;
    double opacity;
};

// Out-of-focus highlights in front of the fields.
const Disc Discs[] = {
    {0.18, 0.80, 0.070, {1.00, 0.55, 0.20}, 0.55}, {0.31, 0.88, 0.045, {0.95, 0.25, 0.45}, 0.50},
    {0.52, 0.83, 0.060, {1.00, 0.85, 0.30}, 0.45}, {0.74, 0.90, 0.080, {0.35, 0.55, 1.00}, 0.40},
    {0.90, 0.78, 0.050, {0.85, 0.35, 0.95}, 0.50}, {1.22, 0.86, 0.065, {0.30, 0.90, 0.60}, 0.45},
    {1.40, 0.80, 0.040, {1.00, 0.40, 0.30}, 0.55},
};

// The picture at (u, v): u across in units of the height, v down from 0 (top) to 1 (bottom).
Colour pixelAt(double u, double v, double aspect, int32_t px, int32_t py)
{
    // Sky: deep blue at the top to a warm haze at the horizon, with a soft sun.
    const Colour zenith{0.10, 0.24, 0.55};
    const Colour horizon{0.98, 0.78, 0.55};
    Colour c = mix(zenith, horizon, std::pow(clamp01(v / 0.55), 1.6));
    const double sunX = 0.72 * aspect;
    const double sunY = 0.30;
    const double sunDistance = std::hypot(u - sunX, v - sunY);
    const double glow = std::exp(-sunDistance * sunDistance / 0.02);
    c = mix(c, Colour{1.0, 0.93, 0.75}, 0.75 * glow);
    c = mix(c, Colour{1.0, 0.99, 0.92}, smoothstep(0.055, 0.045, sunDistance));
    // Clouds: noise thresholded into soft streaks, thinner towards the horizon.
    const double cloud = fractalNoise(u * 3.0, v * 9.0, 11);
    c = mix(c, Colour{0.97, 0.94, 0.92}, 0.6 * smoothstep(0.55, 0.75, cloud) * (1.0 - v / 0.55));

    // Mountains: a ridge of sines with noise, blue-grey and hazier near their foot.
    const double ridge = 0.50 - 0.08 * std::sin(u * 2.3 + 0.4) - 0.04 * std::sin(u * 6.1 + 1.3) -
                         0.03 * fractalNoise(u * 4.0, 0.5, 23);
    if (v > ridge) {
        const double depth = clamp01((v - ridge) / 0.12);
        Colour rock = mix(Colour{0.32, 0.36, 0.50}, Colour{0.55, 0.58, 0.66}, depth);
        rock = mix(rock, Colour{0.20, 0.22, 0.30}, 0.35 * fractalNoise(u * 14.0, v * 14.0, 31));
        c = mix(c, rock, smoothstep(ridge, ridge + 0.004, v));
    }

    // Fields: rolling hills in greens and yellows with furrows and grain.
    const double hill = 0.64 - 0.05 * std::sin(u * 1.7 + 2.0) - 0.025 * std::sin(u * 4.3);
    if (v > hill) {
        const double near = clamp01((v - hill) / (1.0 - hill));
        const double patches = fractalNoise(u * 2.5, v * 5.0, 47);
        Colour field = mix(Colour{0.30, 0.52, 0.18}, Colour{0.80, 0.72, 0.25}, patches);
        field = mix(field, Colour{0.12, 0.30, 0.10}, 0.5 * near);
        const double furrows = 0.5 + 0.5 * std::sin((u * 40.0 + v * 25.0) / (0.3 + near));
        field = mix(field, Colour{0.10, 0.18, 0.06}, 0.18 * furrows * near);
        c = mix(c, field, smoothstep(hill, hill + 0.003, v));
    }

    // Soft discs over everything, like highlights out of focus.
    for (const Disc& d : Discs) {
        const double distance = std::hypot(u - d.x * aspect / 1.5, v - d.y);
        const double inside = smoothstep(d.radius, d.radius * 0.85, distance);
        c = mix(c, d.colour, d.opacity * inside);
    }

    // Vignette and fine grain.
    const double dx = u / aspect - 0.5;
    const double dy = v - 0.5;
    const double vignette = 1.0 - 0.35 * (dx * dx + dy * dy);
    const double grain = (hash01(px, py, 97) - 0.5) * 0.05;
    return Colour{c.r * vignette + grain, c.g * vignette + grain, c.b * vignette + grain};
}

uint8_t toByte(double v)
{
    return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0));
}

int usage()
{
    std::fprintf(stderr,
                 "usage: oryn-samplegen OUTPUT [WIDTH HEIGHT]\n"
                 "  writes a synthetic landscape photo, %d x %d by default; the format "
                 "follows OUTPUT's extension\n",
                 DefaultWidth, DefaultHeight);
    return 2;
}

int parseSide(const char* text, int& side)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > MaxSide)
        return 1;
    side = static_cast<int>(value);
    return 0;
}

} // namespace

} // namespace oryn

int main(int argc, char** argv)
{
    using namespace oryn;
    if (argc != 2 && argc != 4)
        return usage();
    int width = DefaultWidth;
    int height = DefaultHeight;
    if (argc == 4 && (parseSide(argv[2], width) != 0 || parseSide(argv[3], height) != 0))
        return usage();
    if (VIPS_INIT(argv[0]) != 0) {
        std::fprintf(stderr, "oryn-samplegen: cannot start libvips\n");
        return 1;
    }

    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    const double aspect = static_cast<double>(width) / height;
    size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = pixelAt((x + 0.5) / height, (y + 0.5) / height, aspect, x, y);
            pixels[at++] = toByte(c.r);
            pixels[at++] = toByte(c.g);
            pixels[at++] = toByte(c.b);
        }
    }

    VipsImage* image = vips_image_new_from_memory(pixels.data(), pixels.size(), width, height, 3,
                                                  VIPS_FORMAT_UCHAR);
    const int failed = image == nullptr || vips_image_write_to_file(image, argv[1], nullptr) != 0;
    if (failed) {
        std::fprintf(stderr, "oryn-samplegen: %s: cannot write: %s", argv[1], vips_error_buffer());
        vips_error_clear();
    }
    if (image != nullptr)
        g_object_unref(image);
    vips_shutdown();
    return failed ? 1 : 0;
}
