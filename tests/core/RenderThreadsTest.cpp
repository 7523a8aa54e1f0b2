// Renders shared among threads: the one-thread bytes for every thread count, progress and cancel
// from the calling thread only, and the final render's thread count.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FakeHost.h"
#include "ReferenceEngine.h"
#include "engine/WorkerThreads.h"
#include "plugin/FinalRender.h"

namespace oryn {
namespace {

const int32_t ThreadCounts[] = {1, 2, 3, 7};

// What the engine's progress calls looked like; cancels on call number cancelOn (1-based).
struct ProgressLog {
    std::mutex lock;
    std::thread::id caller;
    std::vector<int32_t> rows;
    bool otherThread = false;
    size_t cancelOn = 0;
    unsigned int mode = 0;
    // When set: the finished render, against which every row above a reported row must already
    // stand in `dst` (rows from `top`, bytes `begin` to `end` of each row).
    const std::vector<uint8_t>* expected = nullptr;
    const uint8_t* dst = nullptr;
    int32_t top = 0, rowBytes = 0, begin = 0, end = 0;
    bool rowsAboveFinal = true;
} progressLog;

int32_t logProgress(const ParamContext*, int32_t row, int32_t)
{
    std::lock_guard<std::mutex> hold(progressLog.lock);
    progressLog.otherThread |= std::this_thread::get_id() != progressLog.caller;
    progressLog.rows.push_back(row);
    if (progressLog.expected != nullptr)
        for (int32_t y = progressLog.top; y < row; ++y) {
            const size_t at = size_t(y) * size_t(progressLog.rowBytes);
            progressLog.rowsAboveFinal &=
                std::equal(progressLog.dst + at + progressLog.begin, progressLog.dst + at + progressLog.end,
                           progressLog.expected->begin() + long(at) + progressLog.begin);
        }
#if defined(__SSE2__)
    progressLog.mode = _mm_getcsr();
#endif
    return progressLog.rows.size() == progressLog.cancelOn ? userCanceledErr : 0;
}

// One random render: buffers and arguments, in and beyond the usual shapes.
struct Job {
    FilterRecord record{};
    ParamContext context{nullptr, &record};
    std::vector<uint8_t> src, dstStart, mask, alpha, dst;
    EngineCall call;

    // A rectangle of `rows` rows from row 0 when rows > 0, else of any size and place.
    Job(TestRandom& rnd, bool hostOutput, int32_t rows = 0)
    {
        const int32_t bpp = rnd.range(0, 2) == 0 ? 4 : 3;
        const int32_t width = rnd.range(1, 70), height = rows > 0 ? rows : rnd.range(1, 70);
        call.left = rnd.range(0, 4);
        call.top = rows > 0 ? 0 : rnd.range(0, 12); // every phase of the 8-row groups
        call.right = call.left + width;
        call.bottom = call.top + height;
        const int32_t columns = hostOutput ? call.right : std::max(call.right, PreviewSize);
        const int32_t lines = hostOutput ? call.bottom : std::max(call.bottom, PreviewSize);
        call.srcRowBytes = call.dstRowBytes = columns * bpp + rnd.range(0, 3);
        call.maskRowBytes = columns + rnd.range(0, 2);
        src.resize(size_t(lines) * call.srcRowBytes);
        dstStart.resize(src.size());
        mask.resize(size_t(lines) * call.maskRowBytes);
        alpha.resize(mask.size());
        for (auto* v : {&src, &dstStart, &mask, &alpha})
            for (uint8_t& b : *v)
                b = rnd.range(0, 3) == 0 ? 255 : rnd.byte();
        record.planes = int16_t(bpp == 4 || rnd.range(0, 1) ? 4 : 3);
        record.haveMask = Boolean(rnd.range(0, 1));
        call.context = &context;
        call.cellHeight = rnd.range(0, 40);
        call.cellWidth = rnd.range(0, 40);
        call.skewX = rnd.range(-50, 50);
        call.skewY = rnd.range(-50, 50);
        call.lightV = rnd.range(-25, 25);
        call.lightH = rnd.range(-25, 25);
        call.shading = rnd.range(-50, 50);
        call.toneFloor = rnd.range(0, 100);
        call.brightnessBoost = rnd.range(0, 100);
        call.bevel = float(rnd.range(0, 50));
        call.faceMode = rnd.range(0, 3);
        call.rowOffset = rnd.range(0, 30);
        call.colOffset = rnd.range(0, 30);
        call.renderFlags = (hostOutput ? HostOutputFlag : 0) | rnd.range(0, 1);
        call.fillColor = rnd.next() | (rnd.range(0, 1) ? 0xFF000000u : 0u);
        call.fillColor &= rnd.range(0, 1) ? 0xFFFFFFFFu : 0x00FFFFFFu;
        call.bytesPerPixel = bpp;
        call.src = src.data();
        call.mask = mask.data();
        call.previewAlpha = alpha.data();
        call.progress = logProgress;
    }

    int32_t render(int32_t threads, size_t cancelOn = 0, bool watchRows = false)
    {
        progressLog.caller = std::this_thread::get_id();
        progressLog.rows.clear();
        progressLog.otherThread = false;
        progressLog.cancelOn = cancelOn;
        dst = dstStart;
        call.dst = dst.data();
        if (watchRows)
            progressLog.dst = dst.data();
        call.threads = threads;
        return runEngine(call);
    }
};

// Threads of this process, where the system shows them (Linux); -1 elsewhere.
int threadsRunning()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 8, "Threads:") == 0)
            return std::atoi(line.c_str() + 8);
    return -1;
}

TEST(RenderThreads, EveryThreadCountGivesTheOneThreadBytes)
{
    TestRandom rnd(1010);
    for (int iteration = 0; iteration < 60; ++iteration) {
        Job job(rnd, iteration % 4 != 3);
        ASSERT_EQ(job.render(1), 0);
        const std::vector<uint8_t> one = job.dst;
        const std::vector<int32_t> oneRows = progressLog.rows;
        for (int32_t threads : ThreadCounts) {
            // A host may write out every row above the reported one while the render goes on.
            if (job.call.renderFlags & HostOutputFlag) {
                progressLog.expected = &one;
                progressLog.top = job.call.top;
                progressLog.rowBytes = job.call.dstRowBytes;
                progressLog.begin = job.call.left * job.call.bytesPerPixel;
                progressLog.end = job.call.right * job.call.bytesPerPixel;
                progressLog.rowsAboveFinal = true;
            }
            const int32_t result = job.render(threads, 0, progressLog.expected != nullptr);
            progressLog.expected = nullptr;
            ASSERT_EQ(result, 0) << iteration;
            EXPECT_TRUE(progressLog.rowsAboveFinal) << "iteration " << iteration << ", threads " << threads;
            ASSERT_TRUE(job.dst == one) << "iteration " << iteration << ", threads " << threads;
            EXPECT_FALSE(progressLog.otherThread) << iteration;
            if (threads == 1) {
                EXPECT_EQ(progressLog.rows, oneRows);
            }
            for (size_t i = 0; i < progressLog.rows.size(); ++i) {
                EXPECT_GE(progressLog.rows[i], i > 0 ? progressLog.rows[i - 1] : job.call.top);
                EXPECT_LE(progressLog.rows[i], job.call.bottom);
            }
        }
    }
}

TEST(RenderThreads, CancelStopsEveryThreadAndLeavesWholeGroups)
{
    TestRandom rnd(2020);
    Job job(rnd, true, 61);
    // No skew: every pixel maps inside, so a rendered row never looks like the fill.
    job.call.skewX = job.call.skewY = job.call.rowOffset = job.call.colOffset = 0;
    job.record.haveMask = 0;
    job.call.fillColor = 0xFF336699u;
    ASSERT_EQ(job.render(1), 0);
    const std::vector<uint8_t> full = job.dst;
    const int32_t bpp = job.call.bytesPerPixel, R = job.call.dstRowBytes;
    auto rowIs = [&](const std::vector<uint8_t>& image, int32_t y, bool fill) {
        for (int32_t x = job.call.left; x < job.call.right; ++x) {
            const uint8_t* p = job.dst.data() + y * R + x * bpp;
            const uint8_t* q = image.data() + y * R + x * bpp;
            const uint8_t want[4] = {0x99, 0x66, 0x33, 0xFF};
            if (std::memcmp(p, fill ? want : q, size_t(bpp)) != 0)
                return false;
        }
        return true;
    };
    const int before = threadsRunning();
    for (int32_t threads : ThreadCounts) {
        for (size_t cancelOn : {1u, 2u, 5u}) {
            const int32_t result = job.render(threads, cancelOn);
            EXPECT_FALSE(progressLog.otherThread);
            // With workers, the calling thread may find every group taken before its n-th call;
            // its first call comes before it takes any.
            if (result == 0 && threads > 1 && cancelOn > 1) {
                EXPECT_LT(progressLog.rows.size(), cancelOn);
                EXPECT_TRUE(job.dst == full);
                continue;
            }
            ASSERT_EQ(result, userCanceledErr) << threads << " threads, cancel " << cancelOn;
            EXPECT_EQ(progressLog.rows.size(), cancelOn) << "no call after the cancel";
            EXPECT_EQ(threadsRunning(), before) << "a worker outlived the render";
            // Groups: rows 0-6, then 8 rows from every row numbered 7 mod 8.
            for (int32_t g0 = 0; g0 < job.call.bottom; g0 = g0 == 0 ? 7 : g0 + 8) {
                const int32_t g1 = std::min(g0 == 0 ? 7 : g0 + 8, job.call.bottom);
                const bool rendered = rowIs(full, g0, false);
                const bool oneThreadRenders = g1 <= 7 + 8 * int32_t(cancelOn - 1);
                if (threads == 1) {
                    EXPECT_EQ(rendered, oneThreadRenders) << "row " << g0;
                }
                for (int32_t y = g0; y < g1; ++y)
                    ASSERT_TRUE(rendered ? rowIs(full, y, false) : rowIs(full, y, true))
                        << "threads " << threads << ", cancel " << cancelOn << ", row " << y;
            }
        }
    }
}

#if defined(__SSE2__)
TEST(RenderThreads, WorkersUseTheDefaultFloatingPointMode)
{
    TestRandom rnd(3030);
    Job job(rnd, true, 70);
    ASSERT_EQ(job.render(1), 0);
    const std::vector<uint8_t> normal = job.dst;
    const unsigned int saved = _mm_getcsr();
    const unsigned int hostMode = saved | 0x6000u | 0x8040u; // toward zero, FTZ, DAZ
    _mm_setcsr(hostMode);
    const int32_t result = job.render(7);
    const unsigned int after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(job.dst == normal);
    EXPECT_EQ(after, hostMode);
    EXPECT_EQ(progressLog.mode, hostMode);
}
#endif

void setThreadsVariable(const char* value)
{
#if defined(_WIN32)
    _putenv((std::string("ORYN_THREADS=") + value).c_str()); // an empty value removes it
#else
    if (*value != '\0')
        setenv("ORYN_THREADS", value, 1);
    else
        unsetenv("ORYN_THREADS");
#endif
}

TEST(RenderThreads, FinalRenderThreadCount)
{
    setThreadsVariable("");
    const int32_t all = renderThreadCount(0);
    EXPECT_GE(all, 1);
    EXPECT_LE(all, MaxRenderThreads);
    const struct {
        int32_t requested;
        const char* variable;
        int32_t threads;
    } cases[] = {{0, "1", 1},     {0, "3", 3},    {0, "999", MaxRenderThreads},
                 {0, "0", all},   {0, "-2", all}, {0, "2x", all},
                 {0, "abc", all}, {5, "1", 5},    {40, "", MaxRenderThreads},
                 {1, "", 1},      {-1, "", all}};
    for (const auto& c : cases) {
        setThreadsVariable(c.variable);
        EXPECT_EQ(renderThreadCount(c.requested), c.threads) << c.requested << " " << c.variable;
    }

    // ORYN_THREADS=1: the default final render makes the one-thread calls to the host. Every
    // count gives the same bytes, with and without a mask and with four planes.
    for (int32_t planes : {3, 4}) {
        FakeHost host(45, 67, planes, planes == 4, 0x5A);
        TestRandom rnd{uint64_t(planes)};
        for (auto* v : {&host.in, &host.mask})
            for (uint8_t& b : *v)
                b = rnd.range(0, 3) == 0 ? 255 : rnd.byte();
        ParamBlock block = defaultParamBlock();
        RunSetup setup = setupRun(host.record, block, 0);
        ParamContext context{&block, &host.record};
        std::vector<uint8_t> one;
        std::vector<std::pair<int32_t, int32_t>> oneReports;
        for (int32_t threads : {1, 0, 2, 3, 7}) {
            setThreadsVariable(threads == 0 ? "1" : "");
            host.out.assign(host.out.size(), 0x5A);
            host.reports.clear();
            ASSERT_EQ(requestWholeImage(&host.record, setup.planesUsed), noErr);
            ASSERT_EQ(renderFinal(context, setup, threads), noErr);
            if (threads == 1) {
                one = host.out, oneReports = host.reports;
                continue;
            }
            EXPECT_TRUE(host.out == one) << planes << " planes, " << threads << " threads";
            if (threads == 0) {
                EXPECT_EQ(host.reports, oneReports);
            }
        }
        // A cancel at the first check reaches the host as userCanceledErr from every count.
        for (int32_t threads : ThreadCounts) {
            host.abortCalls = 0;
            host.cancelOnCall = 1;
            ASSERT_EQ(requestWholeImage(&host.record, setup.planesUsed), noErr);
            EXPECT_EQ(renderFinal(context, setup, threads), userCanceledErr) << threads;
            EXPECT_EQ(host.abortCalls, 1);
        }
    }
    setThreadsVariable("");
}

} // namespace
} // namespace oryn
