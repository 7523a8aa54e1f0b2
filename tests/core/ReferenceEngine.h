// The reference renderer for tests: a slow, literal transcription of the rendering rules.
//
// It is kept apart from the production engine so that the two can be compared byte for byte, and
// so that golden hashes have a source that no optimisation touches. Also here: a record of one
// call's arguments, so that tests can run either renderer on the same inputs, and the small
// deterministic generator the tests share.
#pragma once

#include <cstdint>

#include "engine/RenderEngine.h"

namespace oryn {

// Same arguments, contract and result as RenderEngine; computes every pixel from scratch.
// Returns 0, or the non-zero code from `progress` that stopped the render.
int32_t referenceRenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                              int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH,
                              int32_t shading, int32_t toneFloor, int32_t brightnessBoost,
                              float bevel, int32_t faceMode, int32_t left, int32_t top,
                              int32_t right, int32_t bottom, const uint8_t* src,
                              int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes,
                              const uint8_t* mask, int32_t maskRowBytes,
                              const uint8_t* previewAlpha, int32_t rowOffset, float srcOffsetY,
                              int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                              uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress);

// The arguments of one render. Defaults: flat 10 x 10 cells over an empty rectangle.
struct EngineCall {
    const ParamContext* context = nullptr;
    int32_t cellHeight = 10;
    int32_t cellWidth = 10;
    int32_t skewX = 0;
    int32_t skewY = 0;
    int32_t lightV = 0;
    int32_t lightH = 0;
    int32_t shading = 0;
    int32_t toneFloor = 0;
    int32_t brightnessBoost = 0;
    float bevel = 0.0f;
    int32_t faceMode = 0;
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    const uint8_t* src = nullptr;
    int32_t srcRowBytes = 0;
    uint8_t* dst = nullptr;
    int32_t dstRowBytes = 0;
    const uint8_t* mask = nullptr;
    int32_t maskRowBytes = 0;
    const uint8_t* previewAlpha = nullptr;
    int32_t rowOffset = 0;
    float srcOffsetY = 0.0f;
    int32_t colOffset = 0;
    float srcOffsetX = 0.0f;
    int32_t renderFlags = HostOutputFlag;
    uint32_t fillColor = 0xFFC0C0C0u;
    int32_t bytesPerPixel = 3;
    RenderProgress progress = nullptr;
    int32_t threads = 1; // runEngine only
};

// Runs RenderEngine, or the reference, with the recorded arguments. Returns its result.
int32_t runEngine(const EngineCall& call);
int32_t runReference(const EngineCall& call);

// A 64-bit linear congruential generator (Knuth's MMIX constants): the same numbers on every
// platform, so generated images and parameter sets are the same in every build.
class TestRandom {
public:
    explicit TestRandom(uint64_t seed) : state(seed * 2862933555777941757ull + 3037000493ull) {}
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 32);
    }
    // Uniform in lo..hi, both included (hi - lo below 2^32).
    int32_t range(int32_t lo, int32_t hi)
    {
        uint64_t span = uint64_t(int64_t(hi) - int64_t(lo)) + 1;
        return int32_t(int64_t(lo) + int64_t(next() % span));
    }
    uint8_t byte() { return uint8_t(next() >> 24); }

private:
    uint64_t state;
};

} // namespace oryn
