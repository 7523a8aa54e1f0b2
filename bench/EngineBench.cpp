// Benchmark of the render engine against a plain bilinear resample in the same binary.
//
// The final render of a 4000 x 3000 RGB image with each sample preset (antialiasing on, with
// and without a selection mask), the 300 x 300 preview render, and as a yardstick a plain
// bilinear resample of the same image through a fixed affine map. Every figure is reported in
// megapixels per second and, at the end, as a ratio to the yardstick.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/RenderEngine.h"
#include "params/SamplePresets.h"
#include "host/HostApi.h"

namespace {

constexpr int32_t ImageWidth = 4000;
constexpr int32_t ImageHeight = 3000;

// A sample preset as the dialog leaves it: the nine values of the sample, with Light Boosting 30
// and Brightness Ratio 20 as the dialog opens.
struct Sample {
    std::string name;
    int32_t width, height, bevel, shading, lightX, lightY, stretchX, stretchY, faceMode, x2;
};

// Sample k (1-based) as the module's string table defines it.
Sample sampleOf(int k)
{
    oryn::ControlState c{};
    oryn::applySample(k, c);
    char name[oryn::PresetStringSize];
    oryn::sampleDisplayName(k, name, sizeof name);
    std::string trimmed = name;
    while (!trimmed.empty() && trimmed.back() == ' ')
        trimmed.pop_back();
    return {trimmed,   c.padX[1], c.padY[0], c.padX[2],  c.padX[3],      c.padX[5],
            c.padY[5], c.padX[4], c.padY[4], c.faceMode, c.stretchDouble};
}

const std::vector<Sample> Samples = [] {
    std::vector<Sample> samples;
    for (int k = 1; k <= 9; ++k)
        samples.push_back(sampleOf(k));
    return samples;
}();
constexpr int32_t LightBoosting = 30;
constexpr int32_t BrightnessRatio = 20;

// Engine arguments that differ between renders.
struct Settings {
    int32_t cellHeight, cellWidth, skewX, skewY, lightV, lightH, shading, toneFloor, boost;
    float bevel;
    int32_t faceMode, rowOffset, colOffset;
};

// The final render's mapping of the controls onto the engine, for a given imageScale.
Settings finalSettings(const Sample& p, float imageScale)
{
    const int32_t k = p.x2 + 1;
    const int32_t skewX = (25 - p.stretchX) * k;
    const int32_t skewY = (p.stretchY - 25) * k;
    const double scale = imageScale;
    Settings s;
    s.cellHeight = int32_t(double(p.height) * scale);
    s.cellWidth = int32_t(double(p.width) * scale);
    s.skewX = skewX;
    s.skewY = skewY;
    s.lightV = p.lightY - 25;
    s.lightH = p.lightX - 25;
    s.shading = p.shading - 50;
    s.toneFloor = BrightnessRatio;
    s.boost = LightBoosting;
    s.bevel = float(p.bevel);
    s.faceMode = p.faceMode;
    const double negSkewY = skewY < 0 ? -skewY : 0;
    const double posSkewX = skewX > 0 ? skewX : 0;
    s.rowOffset = int32_t(negSkewY * scale * double(p.width) * double(0.02f));
    s.colOffset = int32_t(posSkewX * double(p.height) * scale * double(0.02f));
    return s;
}

// The preview's mapping (cell sizes in preview pixels, integer offsets).
Settings previewSettings(const Sample& p)
{
    Settings s = finalSettings(p, 1.0f);
    s.rowOffset = (s.skewY < 0 ? -s.skewY : 0) * p.width / 50;
    s.colOffset = (s.skewX > 0 ? s.skewX : 0) * p.height / 50;
    return s;
}

// A photograph-like test image: smooth colour fields, edges and a little noise.
struct Image {
    int32_t width, height, bpp, rowBytes;
    std::vector<uint8_t> pixels;
};

Image makeImage(int32_t width, int32_t height, int32_t bpp)
{
    Image img{width, height, bpp, width * bpp, {}};
    img.pixels.resize(size_t(img.rowBytes) * height);
    uint32_t noise = 12345;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint8_t* px = &img.pixels[size_t(y) * img.rowBytes + size_t(x) * bpp];
            const double u = double(x) / width, v = double(y) / height;
            const int n = int(noise >> 28) - 8;
            const int band = ((x / 97 + y / 61) & 1) * 40;
            px[0] = uint8_t(std::min(255.0, std::max(0.0, 200.0 * u + band + n)));
            px[1] = uint8_t(std::min(255.0, std::max(0.0, 180.0 * v + 30.0 + n)));
            px[2] =
                uint8_t(std::min(255.0, std::max(0.0, 120.0 + 100.0 * std::sin(8.0 * u * v) + n)));
            if (bpp == 4) {
                px[3] = 255;
            }
        }
    }
    return img;
}

// An elliptic selection with a soft rim of about 16 pixels.
std::vector<uint8_t> makeMask(int32_t width, int32_t height)
{
    std::vector<uint8_t> mask(size_t(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const double dx = (x - width * 0.5) / (width * 0.45);
            const double dy = (y - height * 0.5) / (height * 0.45);
            const double d = (1.0 - std::sqrt(dx * dx + dy * dy)) * 0.45 * height / 16.0;
            mask[size_t(y) * width + x] = uint8_t(std::min(1.0, std::max(0.0, d)) * 255.0);
        }
    }
    return mask;
}

const Image& bigImage()
{
    static const Image img = makeImage(ImageWidth, ImageHeight, 3);
    return img;
}

const std::vector<uint8_t>& bigMask()
{
    static const std::vector<uint8_t> mask = makeMask(ImageWidth, ImageHeight);
    return mask;
}

int32_t noProgress(const oryn::ParamContext*, int32_t, int32_t)
{
    return 0;
}

void setRate(benchmark::State& state, int64_t pixelsPerIteration)
{
    state.counters["MP/s"] = benchmark::Counter(double(pixelsPerIteration) * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// The final render of one sample over the whole 4000 x 3000 image, on `threads` threads.
void finalRender(benchmark::State& state, int sampleIndex, bool withMask, int32_t threads)
{
    const Image& img = bigImage();
    std::vector<uint8_t> out(img.pixels.size());
    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.planes = 3;
    record.haveMask = withMask ? 1 : 0;
    oryn::ParamContext context = {nullptr, &record};
    // imageScale of a 4000 x 3000 image: 4000 x 0.0033333334 in single precision.
    const float imageScale = float(double(ImageWidth) * double(0.0033333334f));
    const Settings s = finalSettings(Samples[sampleIndex], imageScale);
    const uint8_t* mask = withMask ? bigMask().data() : nullptr;
    for (auto _ : state) {
        int32_t result = oryn::RenderEngine(
            &context, s.cellHeight, s.cellWidth, s.skewX, s.skewY, s.lightV, s.lightH, s.shading,
            s.toneFloor, s.boost, s.bevel, s.faceMode, 0, 0, img.width, img.height,
            img.pixels.data(), img.rowBytes, out.data(), img.rowBytes, mask, img.width, nullptr,
            s.rowOffset, 0.0f, s.colOffset, 0.0f, 1 | oryn::HostOutputFlag, 0xFFC0C0C0u, 3,
            noProgress, threads);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    setRate(state, int64_t(img.width) * img.height);
}

// The preview render of one sample over a 300 x 300 reduction.
void previewRender(benchmark::State& state, int sampleIndex)
{
    static const Image img = makeImage(oryn::PreviewSize, oryn::PreviewSize, 3);
    std::vector<uint8_t> out(img.pixels.size());
    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.planes = 3;
    oryn::ParamContext context = {nullptr, &record};
    const Settings s = previewSettings(Samples[sampleIndex]);
    for (auto _ : state) {
        int32_t result = oryn::RenderEngine(
            &context, s.cellHeight, s.cellWidth, s.skewX, s.skewY, s.lightV, s.lightH, s.shading,
            s.toneFloor, s.boost, s.bevel, s.faceMode, 0, 0, img.width, img.height,
            img.pixels.data(), img.rowBytes, out.data(), img.rowBytes, nullptr, img.width, nullptr,
            s.rowOffset, 0.0f, s.colOffset, 0.0f, 1, 0xFFC0C0C0u, 3, noProgress);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    setRate(state, int64_t(img.width) * img.height);
}

// The yardstick: every output pixel sampled bilinearly through a fixed affine map (a small
// rotation and scale), computed in double precision, with the last row and column clamped and
// positions outside the image skipped. The least per-pixel work any such filter does.
void bilinearBaseline(benchmark::State& state)
{
    const Image& img = bigImage();
    std::vector<uint8_t> out(img.pixels.size());
    const double a = 0.95 * std::cos(0.05), b = 0.95 * std::sin(0.05);
    for (auto _ : state) {
        for (int32_t y = 0; y < img.height; ++y) {
            uint8_t* row = out.data() + size_t(y) * img.rowBytes;
            const double rowX = -b * y + 60.0;
            const double rowY = a * y + 40.0;
            for (int32_t x = 0; x < img.width; ++x) {
                const double sx = a * x + rowX;
                const double sy = b * x + rowY;
                if (!(sx >= 0.0 && sx < img.width && sy >= 0.0 && sy < img.height)) {
                    continue;
                }
                const int32_t ix = int32_t(sx), iy = int32_t(sy);
                const double fx = sx - ix, fy = sy - iy;
                const size_t o00 = size_t(iy) * img.rowBytes + size_t(ix) * 3;
                const size_t o01 = o00 + (ix < img.width - 1 ? 3 : 0);
                const size_t o10 = o00 + (iy < img.height - 1 ? img.rowBytes : 0);
                const size_t o11 = o10 + (o01 - o00);
                const double w00 = (1 - fx) * (1 - fy), w01 = fx * (1 - fy);
                const double w10 = (1 - fx) * fy, w11 = fx * fy;
                const uint8_t* p = img.pixels.data();
                for (int j = 0; j < 3; ++j) {
                    row[size_t(x) * 3 + j] = uint8_t(p[o00 + j] * w00 + p[o01 + j] * w01 +
                                                     p[o10 + j] * w10 + p[o11 + j] * w11);
                }
            }
        }
        benchmark::ClobberMemory();
    }
    setRate(state, int64_t(img.width) * img.height);
}

// Console output plus, at the end, each benchmark's rate as a ratio to the yardstick's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With --benchmark_repetitions the median of the repetitions stands for the benchmark.
        for (const Run& run : runs) {
            auto it = run.counters.find("MP/s");
            if (it == run.counters.end()) {
                continue;
            }
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (single || median) {
                rates.emplace_back(run.run_name.function_name, double(it->second));
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        double base = 0.0;
        for (const auto& r : rates) {
            if (r.first.find("Baseline") != std::string::npos) {
                base = r.second;
            }
        }
        if (base <= 0.0) {
            return;
        }
        std::printf("\n%-44s %10s %8s\n", "benchmark", "MP/s", "ratio");
        for (const auto& r : rates) {
            std::printf("%-44s %10.1f %8.2f\n", r.first.c_str(), r.second, r.second / base);
        }
    }

private:
    std::vector<std::pair<std::string, double>> rates;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("Baseline/bilinear", bilinearBaseline)
        ->Unit(benchmark::kMillisecond);
    // Every processor, for the renders shared among threads (timed by the clock on the wall,
    // since the calling thread's processor time leaves out the workers').
    const int32_t allThreads =
        int32_t(std::min(16u, std::max(1u, std::thread::hardware_concurrency())));
    std::vector<int32_t> threadCounts = {1};
    if (allThreads > 1) {
        threadCounts.push_back(allThreads);
    }
    for (int32_t threads : threadCounts) {
        for (int i = 0; i < 9; ++i) {
            for (int masked = 0; masked < 2; ++masked) {
                std::string name =
                    std::string("Final/") + Samples[i].name + (masked ? "/mask" : "");
                if (threads > 1) {
                    name += "/" + std::to_string(threads) + "-threads";
                }
                for (char& ch : name) {
                    if (ch == ' ') {
                        ch = '_';
                    }
                }
                auto* b = benchmark::RegisterBenchmark(name.c_str(), finalRender, i, masked != 0,
                                                       threads);
                b->Unit(benchmark::kMillisecond);
                if (threads > 1) {
                    b->UseRealTime();
                }
            }
        }
    }
    for (int i = 0; i < 9; ++i) {
        std::string name = std::string("Preview/") + Samples[i].name;
        for (char& ch : name) {
            if (ch == ' ') {
                ch = '_';
            }
        }
        benchmark::RegisterBenchmark(name.c_str(), previewRender, i)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
