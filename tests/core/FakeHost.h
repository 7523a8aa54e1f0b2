// A substitute host for tests of the code that talks to a host: one image in memory, served by
// advanceState, with abortProc and progressProc that record what they are asked.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "host/HostApi.h"

namespace oryn {

struct FakeHost {
    FilterRecord record;
    int32_t columns, rows, planes;
    std::vector<uint8_t> in, out, mask; // filled by the test
    bool giveIn = true, giveOut = true, giveMask = true;
    int advanceCalls = 0;
    Rect requestedIn{}, requestedOut{}, requestedMask{};
    int abortCalls = 0;
    int cancelOnCall = 0; // abortProc answers 1 on this call (1-based); 0 never
    std::vector<std::pair<int32_t, int32_t>> reports;

    // The callbacks take no context: the most recently made host answers them.
    static inline FakeHost* active = nullptr;

    // Buffers of exactly rows x columns x min(planes, 4) bytes, and rows x columns for the mask,
    // so that an address sanitizer sees any access past them. The output starts as outFill.
    FakeHost(int32_t columns, int32_t rows, int32_t planes, bool haveMask, uint8_t outFill)
        : columns(columns), rows(rows), planes(planes)
    {
        std::memset(&record, 0, sizeof record);
        record.imageSize.h = static_cast<int16_t>(columns);
        record.imageSize.v = static_cast<int16_t>(rows);
        record.planes = static_cast<int16_t>(planes);
        record.haveMask = haveMask ? 1 : 0;
        record.advanceState = &advance;
        record.abortProc = &abort;
        record.progressProc = &progress;
        const int32_t used = planes > 4 ? 4 : planes;
        const size_t pixels = columns > 0 && rows > 0 ? size_t(columns) * size_t(rows) : 0;
        in.resize(pixels * size_t(used > 0 ? used : 0));
        out.assign(in.size(), outFill);
        mask.resize(haveMask ? pixels : 0);
        active = this;
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;
    ~FakeHost() { active = nullptr; }

    static OSErr advance()
    {
        FakeHost& h = *active;
        FilterRecord& r = h.record;
        ++h.advanceCalls;
        h.requestedIn = r.inRect;
        h.requestedOut = r.outRect;
        h.requestedMask = r.maskRect;
        const int32_t bpp = r.inHiPlane - r.inLoPlane + 1;
        r.inData = h.giveIn && !h.in.empty() ? h.in.data() : nullptr;
        r.outData = h.giveOut && !h.out.empty() ? h.out.data() : nullptr;
        r.inRowBytes = r.outRowBytes = h.columns * bpp;
        const bool maskWanted = r.maskRect.right > r.maskRect.left;
        r.maskData = maskWanted && h.giveMask && !h.mask.empty() ? h.mask.data() : nullptr;
        r.maskRowBytes = h.columns;
        return noErr;
    }
    static Boolean abort()
    {
        FakeHost& h = *active;
        ++h.abortCalls;
        return h.abortCalls == h.cancelOnCall ? 1 : 0;
    }
    static void progress(int32_t done, int32_t total) { active->reports.emplace_back(done, total); }
};

} // namespace oryn
