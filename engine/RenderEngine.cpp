// The relief renderer (RenderEngine): background fill, then every pixel shaded and sampled.
//
// Each pixel of the rectangle is placed in its cell, shaded and sampled from the source, with
// progress and abort every eight rows. The rows may be shared among threads, a group of eight
// rows at a time.
//
// The callers' side of the contract is stated with the declaration in RenderEngine.h.
#include "engine/RenderEngine.h"
#include "engine/RenderArea.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// 32-bit Windows hosts may call with the stack aligned to 4 bytes only, and a new thread may
// start that way; the pair code keeps 16-byte values on the stack, so the entry and the worker
// realign it.
#if defined(__i386__)
#define ORYN_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define ORYN_ALIGN_STACK
#endif

// The pair code's per-pixel routines are inlined into the row loop, where the per-call
// constants stay put instead of being reloaded on every call.
#define ORYN_INLINE inline __attribute__((always_inline))

#include "engine/RenderMath.h"
#include "engine/WorkerThreads.h"
#include "host/HostApi.h"

namespace oryn {

void prepareRender(const RenderArgs& a, RenderSetup& s)
{
    const int32_t bpp = a.bytesPerPixel;
    s.channels = bpp < 3 ? bpp : 3;

    // (255 - toneFloor) x 1/255 stays in double; out-of-range floors are limited to bytes.
    const double toneStep = (255.0 - double(a.toneFloor)) * double(InvByte);
    for (int i = 0; i < 256; ++i) {
        int32_t value = truncSaturate(double(i) * toneStep + double(a.toneFloor));
        s.toneTable[i] = uint8_t(std::min(std::max(value, 0), 255));
    }

    s.fillAlpha = int32_t(a.fillColor >> 24);
    s.fillMode = 0;
    if (s.fillAlpha == 0 && bpp == 3) {
        s.fillMode = 1;
    } else if (s.fillAlpha == 0 && bpp == 4) {
        s.fillMode = 2;
    }
    s.hostOutput = (a.renderFlags & HostOutputFlag) != 0;
    s.antialiasOn = (a.renderFlags & ~HostOutputFlag) != 0;
    const uint8_t red = uint8_t(a.fillColor);
    const uint8_t green = uint8_t(a.fillColor >> 8);
    const uint8_t blue = uint8_t(a.fillColor >> 16);
    if (s.fillMode != 0) {
        s.fillBytes[0] = s.fillBytes[1] = s.fillBytes[2] = 224;
    } else if (s.hostOutput) {
        s.fillBytes[0] = red, s.fillBytes[1] = green, s.fillBytes[2] = blue;
    } else {
        s.fillBytes[0] = blue, s.fillBytes[1] = green, s.fillBytes[2] = red;
    }
    if (s.hostOutput) {
        s.fillLeft = a.left, s.fillTop = a.top, s.fillRight = a.right, s.fillBottom = a.bottom;
    } else {
        s.fillLeft = 0, s.fillTop = 0, s.fillRight = a.previewSide, s.fillBottom = a.previewSide;
    }

    s.H = std::max(a.cellHeight, 2);
    s.W = std::max(a.cellWidth, 2);
    const double H = s.H;
    const double W = s.W;

    float sx = float(double(a.skewX) * double(Step002));
    float sy = float(double(a.skewY) * double(Step002));
    if (sx > SlopeLimit) {
        sx = SlopeClamp;
    }
    if (sx < -SlopeLimit) {
        sx = -SlopeClamp;
    }
    if (sy > SlopeLimit) {
        sy = SlopeClamp;
    }
    if (sy < -SlopeLimit) {
        sy = -SlopeClamp;
    }
    s.sx = sx;
    s.sy = sy;
    const float k = float(double(sy) * double(sx));
    s.k = k;
    const double kd = k;
    s.ratio = float((kd + 1.0) / (1.0 - kd));

    // Z is the larger of the two quotients and stays in double.
    s.zoomDen[0] = double(a.bottom) - std::fabs(double(sy)) * W;
    s.zoomDen[1] = double(a.right) - std::fabs(double(sx)) * H;
    s.mapsNothing = s.zoomDen[0] == 0.0 || s.zoomDen[1] == 0.0 || a.right <= 0 || a.bottom <= 0;
    s.zoom = 0.0f;
    if (!s.mapsNothing) {
        double z = double(a.bottom) / s.zoomDen[0];
        const double zx = double(a.right) / s.zoomDen[1];
        if (zx > z) {
            z = zx;
        }
        s.zoom = float(((1.0 - kd) / (1.0 + kd) + 1.0) * z * 0.5);
    }

    s.hk1 = float(H * (1.0 + kd));
    s.wk1 = float(W * (1.0 + kd));
    s.hk1m = float(H * (1.0 - kd));
    s.wk1m = float(W * (1.0 - kd));
    s.sxH2 = float(2.0 * double(sx) * H);
    s.syW2 = float(2.0 * double(sy) * W);
    s.H2 = 2.0 * H;
    s.W2 = 2.0 * W;

    s.patternFactor = float(1.0 - double(a.shading) * double(Step001));
    const float pf = s.patternFactor;
    s.factorTL = s.factorTR = s.factorBL = s.factorBR = 1.0f;
    switch (a.faceMode) {
    case 0: // the top row of every quad
        s.factorTR = s.factorTL = pf;
        break;
    case 1: // the right column
        s.factorBR = s.factorTR = pf;
        break;
    case 2: // the rising diagonal: a checkerboard of cells
        s.factorTR = s.factorBL = pf;
        break;
    default:
        break;
    }

    s.lightGainV = float((double(a.lightV) * 1.5) / ((H * (kd + 1.0)) * 50.0));
    s.lightGainH = float((double(a.lightH) * 1.5) / ((W * (kd + 1.0)) * 50.0));
    // The dark part is kept as float after each of its three steps.
    float dark = 0.0f;
    if (a.lightV < 0) {
        dark = float(double(a.lightV) * double(Step003));
    }
    if (a.lightH < 0) {
        dark = float(double(dark) + double(a.lightH) * double(Step003));
    }
    if (a.shading < 0) {
        dark = float(double(dark) + double(a.shading) * double(Step001));
    }
    const double lightSum = std::fabs(double(a.lightV)) + std::fabs(double(a.lightH));
    const float boost =
        float(double(a.brightnessBoost) *
              (std::fabs(double(a.shading)) * double(Step001) + lightSum * double(Step003)) *
              double(Step0005));
    s.shadeOffset = float(double(boost) + double(dark));

    s.bevelBase = float(double(std::min(s.hk1, s.wk1)) * double(a.bevel) * double(Step002));
    s.bevelMain = s.bevelBase < 2.0f ? 2.0f : s.bevelBase;
    s.bevelScaled = float(double(s.bevelBase) / ((1.0 + kd) / (1.0 - kd)));
    if (s.bevelScaled < 2.0f) {
        s.bevelScaled = 2.0f;
    }

    // A ramp v / b + 0.5 is above 1 as a float once v exceeds b (0.5 + 2^-20): the quotient's
    // rounding (2^-53 relative) cannot bring it down to 1 + 2^-24, where float rounding starts
    // to give 1. Inside that distance from both edges the ramp is 1 whatever its quotients.
    const double margin = 0.5 + 1.0 / 1048576.0;
    const float factors[4] = {s.factorTL, s.factorTR, s.factorBL, s.factorBR};
    for (int cell = 0; cell < 4; ++cell) {
        CellParams& cp = s.cells[cell];
        const bool scaled = cell == CellTR || cell == CellBL;
        const bool lower = (cell & 2) != 0;
        const bool right = (cell & 1) != 0;
        cp.scale = scaled ? s.ratio : 1.0f;
        cp.bevel = scaled ? s.bevelScaled : s.bevelMain;
        cp.height = scaled ? s.hk1m : s.hk1;
        cp.width = scaled ? s.wk1m : s.wk1;
        cp.sign1 = lower ? 1.0 : -1.0;
        cp.sign2 = right ? 1.0 : -1.0;
        // Light: TL +V +H, TR +V -H, BL -V +H, BR -V -H.
        cp.gainV = lower ? -double(s.lightGainV) : double(s.lightGainV);
        cp.gainH = right ? -double(s.lightGainH) : double(s.lightGainH);
        cp.own = factors[cell];
        cp.across = factors[cell ^ 1];
        cp.vertical = factors[cell ^ 2];
        cp.diagonal = factors[cell ^ 3];
        cp.sure = double(cp.bevel) * margin;
    }
}

namespace {

// Buffers and the per-call values the pixel loop needs besides RenderSetup.
struct Frame {
    const uint8_t* src;
    ptrdiff_t srcRowBytes;
    uint8_t* dst;
    ptrdiff_t dstRowBytes;
    const uint8_t* mask;
    ptrdiff_t maskRowBytes;
    const uint8_t* previewAlpha;
    int32_t bpp;
    bool previewTransparency;
    int32_t left, top, right, bottom;
    double leftD, topD, rightD, bottomD;
    int64_t colOffset, rowOffset;
    double srcOffsetX, srcOffsetY;
    double tone[256]; // toneTable as doubles
    double fill[3];   // fill bytes as doubles

    // The part rendered and where the buffers start. A whole render has the rectangle for all of
    // them; a render of one area (renderArea) holds only a window of the source and of the mask,
    // and only the area of the destination.
    int32_t areaLeft, areaRight; // columns rendered
    int32_t dstLeft, dstTop;     // the pixel at dst
    ptrdiff_t srcBias;           // offset of the window's first pixel from the source's (0, 0)
    ptrdiff_t maskBias;          // the same for the mask (and previewAlpha)
    bool windowed;               // only the window's pixels may be read
    int32_t winLeft, winTop, winRight, winBottom;
    bool* outsideWindow; // set when a pixel would read beyond the window; it is not rendered
};

// True when the samples of a pixel whose source position truncates to (ix, iy) lie in the window;
// the last row and column of the rectangle repeat themselves, as the sampler reads them.
inline bool samplesInWindow(const Frame& f, int32_t ix, int32_t iy)
{
    const int32_t ix1 = ix <= f.right - 2 ? ix + 1 : ix;
    const int32_t iy1 = iy <= f.bottom - 2 ? iy + 1 : iy;
    return ix >= f.winLeft && iy >= f.winTop && ix1 < f.winRight && iy1 < f.winBottom;
}

// Pass 1: the background, over the rows [y0, y1) of the fill rectangle. A row's bytes depend on
// the row only through the checkerboard, whose rows repeat every 8 rows and are alike in runs of
// 4, so a row is a copy of an earlier row of the same range when the fill writes every byte of
// a pixel (up to 4 bytes).
void fillBackground(const RenderSetup& s, const Frame& f, int32_t y0, int32_t y1)
{
    const int32_t begin = std::max(y0, s.fillTop);
    const int32_t end = std::min(y1, s.fillBottom);
    if (s.fillLeft >= s.fillRight || begin >= end) {
        return;
    }
    const int32_t bpp = f.bpp;
    const int32_t channels = s.channels;
    const size_t rowLength = size_t(int64_t(s.fillRight) - s.fillLeft) * size_t(bpp);
    for (int32_t y = begin; y < end; ++y) {
        uint8_t* px = f.dst + ptrdiff_t(y - f.dstTop) * f.dstRowBytes +
                      ptrdiff_t(s.fillLeft - f.dstLeft) * bpp;
        const int64_t above = int64_t(y) - begin; // rows of the range above this one
        int64_t back = 0;                         // distance to a row with the same bytes
        if (bpp <= 4 && s.fillMode != 1) {
            back = above >= 1 ? 1 : 0;
        } else if (bpp <= 4) {
            back = above >= 8 ? 8 : (above >= 1 && (y & 3) != 0 ? 1 : 0);
        }
        if (back != 0) {
            std::memmove(px, px - ptrdiff_t(back) * f.dstRowBytes, rowLength);
            continue;
        }
        if (s.fillMode == 1) {
            for (int32_t x = s.fillLeft; x < s.fillRight; ++x, px += bpp) {
                const uint8_t g = uint8_t(checkerShade(x, y));
                px[0] = g, px[1] = g, px[2] = g;
            }
            continue;
        }
        const uint8_t b0 = s.fillBytes[0], b1 = s.fillBytes[1], b2 = s.fillBytes[2];
        const uint8_t alpha = uint8_t(s.fillAlpha);
        for (int32_t x = s.fillLeft; x < s.fillRight; ++x, px += bpp) {
            px[0] = b0;
            if (channels > 1) {
                px[1] = b1;
            }
            if (channels > 2) {
                px[2] = b2;
            }
            if (bpp == 4) {
                px[3] = alpha;
            }
        }
    }
}

// A sample blended with the background: trunc(c m + (O (1 - m)) / S). With S = 0 the pixel's
// colour is 0 whatever the sample, so no quotient is formed.
inline double blendSample(double c, double m, double o, double S)
{
    if (S == 0.0) {
        return 0.0;
    }
    return double(truncSaturate(c * m + (o * (1.0 - m)) / S));
}

// Pixels handled per stage: the positions and shades of a batch are worked out first, then its
// pixels are sampled. Each stage's iterations are independent, so the processor overlaps many
// pixels instead of waiting on one pixel's long chain of roundings. Even, for pairs.
constexpr int32_t BatchSize = 64;

// Rows between two progress calls: a group starts at the rectangle's top or at a row numbered
// 7 mod 8 and holds at most this many rows.
constexpr int32_t GroupRows = 8;

// Column values of a batch, shared by every row of a group.
struct ColumnBatch {
    alignas(16) double X[BatchSize];
    alignas(16) double Xsy[BatchSize];
    alignas(16) double lift[BatchSize];
};

// Where the pixels of a batch sample the source, and their shades; `order` lists the batch
// positions of the pixels that map inside the source rectangle.
struct MappedBatch {
    alignas(16) double srcX[BatchSize];
    alignas(16) double srcY[BatchSize];
    alignas(16) double shade[BatchSize];
    uint8_t order[BatchSize];
    uint8_t blend[BatchSize]; // with a mask: the pixel blends its samples with the background
    int32_t count;
};

// What the selection mask says about a pixel whose source position truncates to (ix, iy): 0 it
// is not rendered, 1 it is rendered, 2 it is rendered and blends its samples with the
// background (a soft edge, with antialiasing on). The clamping is the sampler's.
template <bool Antialias> inline int32_t maskVerdict(const Frame& f, int32_t ix, int32_t iy)
{
    const ptrdiff_t MR = f.maskRowBytes;
    const ptrdiff_t q00 = ptrdiff_t(iy) * MR + ix - f.maskBias;
    const ptrdiff_t q01 = q00 + (ix <= f.right - 2 ? 1 : 0);
    const ptrdiff_t q10 = q00 + (iy <= f.bottom - 2 ? MR : 0);
    const ptrdiff_t q11 = q10 + (q01 - q00);
    const int32_t M00 = f.mask[q00];
    const int32_t sum = M00 + f.mask[q01] + f.mask[q10] + f.mask[q11];
    if (sum == 0 || (!Antialias && M00 < 128)) {
        return 0;
    }
    return Antialias && sum != 1020 ? 2 : 1;
}

// Samples, blends and writes one pixel at column x of row y.
template <int Bpp, bool Masked, bool Antialias>
void renderPixel(const RenderSetup& s, const Frame& f, int32_t y, uint8_t* dstRow, int32_t x,
                 float srcX, float srcY, double S)
{
    const ptrdiff_t P = Bpp != 0 ? Bpp : f.bpp;
    const ptrdiff_t R = f.srcRowBytes;
    const ptrdiff_t MR = f.maskRowBytes;
    const int32_t channels = Bpp != 0 ? 3 : s.channels;
    const int32_t ix = int32_t(srcX);
    const int32_t iy = int32_t(srcY);
    // srcX - trunc(srcX) is exact in float, so no rounding is needed here.
    const double fx = double(srcX) - double(ix);
    const double fy = double(srcY) - double(iy);

    // The last row and column repeat themselves instead of reading past the rectangle.
    const bool stepX = ix <= f.right - 2;
    const bool stepY = iy <= f.bottom - 2;
    const ptrdiff_t o00 = ptrdiff_t(iy) * R + ptrdiff_t(ix) * P - f.srcBias;
    const ptrdiff_t o01 = o00 + (stepX ? P : 0);
    const ptrdiff_t o10 = o00 + (stepY ? R : 0);
    const ptrdiff_t o11 = o10 + (stepX ? P : 0);

    int32_t maskSum = 1;
    double m00 = 0.0, m01 = 0.0, m10 = 0.0, m11 = 0.0;
    int32_t edgeFlags = 0;
    ptrdiff_t q00 = 0, q01 = 0, q10 = 0, q11 = 0;
    if (Masked || f.previewTransparency) {
        q00 = ptrdiff_t(iy) * MR + ix - f.maskBias;
        q01 = q00 + (stepX ? 1 : 0);
        q10 = q00 + (stepY ? MR : 0);
        q11 = q10 + (stepX ? 1 : 0);
    }
    if (Masked) {
        const int32_t M00 = f.mask[q00], M01 = f.mask[q01];
        const int32_t M10 = f.mask[q10], M11 = f.mask[q11];
        maskSum = M00 + M01 + M10 + M11;
        if (maskSum == 0) {
            return;
        }
        if (Antialias) {
            edgeFlags = 15;
            if (maskSum != 1020) {
                m00 = float(double(M00) * double(InvByte));
                m01 = float(double(M01) * double(InvByte));
                m10 = float(double(M10) * double(InvByte));
                m11 = float(double(M11) * double(InvByte));
            }
        } else if (M00 < 128) {
            return;
        }
    }
    if (Antialias) {
        // Samples beyond the image border are blended with the background (bitwise OR: a
        // corner flags three samples).
        if (double(srcY) < f.topD + 1.0) {
            edgeFlags |= 3;
        }
        if (double(srcX) < f.leftD + 1.0) {
            edgeFlags |= 5;
        }
        if (double(srcY) > f.bottomD - 1.0) {
            edgeFlags |= 12;
        }
        if (double(srcX) > f.rightD - 1.0) {
            edgeFlags |= 10;
        }
    }

    const double w00 = float((1.0 - fx) * (1.0 - fy));
    const double w01 = float(fx * (1.0 - fy));
    const double w10 = float((1.0 - fx) * fy);
    const double w11 = float(fx * fy);

    const uint8_t* const s00 = f.src + o00;
    const uint8_t* const s01 = f.src + o01;
    const uint8_t* const s10 = f.src + o10;
    const uint8_t* const s11 = f.src + o11;
    uint8_t* const out = dstRow + ptrdiff_t(x - f.dstLeft) * P;
    const bool blend = edgeFlags != 0 && maskSum != 1020;

    if (blend && s.fillMode < 2) {
        double fill[3] = {f.fill[0], f.fill[1], f.fill[2]};
        if (s.fillMode == 1) {
            fill[0] = fill[1] = fill[2] = checkerShade(x, y);
        }
        for (int32_t j = 0; j < channels; ++j) {
            double c00 = f.tone[s00[j]], c01 = f.tone[s01[j]];
            double c10 = f.tone[s10[j]], c11 = f.tone[s11[j]];
            if (edgeFlags & 1) {
                c00 = blendSample(c00, m00, fill[j], S);
            }
            if (edgeFlags & 2) {
                c01 = blendSample(c01, m01, fill[j], S);
            }
            if (edgeFlags & 4) {
                c10 = blendSample(c10, m10, fill[j], S);
            }
            if (edgeFlags & 8) {
                c11 = blendSample(c11, m11, fill[j], S);
            }
            const double sum = ((c01 * w01 + c00 * w00) + c10 * w10) + c11 * w11;
            out[j] = truncByte(sum * S);
        }
    } else {
        for (int32_t j = 0; j < channels; ++j) {
            const double sum =
                ((f.tone[s01[j]] * w01 + f.tone[s00[j]] * w00) + f.tone[s10[j]] * w10) +
                f.tone[s11[j]] * w11;
            out[j] = truncByte(sum * S);
        }
    }

    if (Bpp != 4 && f.previewTransparency) {
        // The layer's transparency over the checkerboard, as the preview shows it.
        double a00 = f.previewAlpha[q00], a01 = f.previewAlpha[q01];
        double a10 = f.previewAlpha[q10], a11 = f.previewAlpha[q11];
        if (blend) {
            const double fa = s.fillAlpha;
            if (edgeFlags & 1) {
                a00 = float(a00 * m00 + (1.0 - m00) * fa);
            }
            if (edgeFlags & 2) {
                a01 = float(a01 * m01 + (1.0 - m01) * fa);
            }
            if (edgeFlags & 4) {
                a10 = float(a10 * m10 + (1.0 - m10) * fa);
            }
            if (edgeFlags & 8) {
                a11 = float(a11 * m11 + (1.0 - m11) * fa);
            }
        }
        const int32_t a = truncByte(((a10 * w10 + a11 * w11) + a00 * w00) + a01 * w01);
        const double gray = checkerShade(x, y);
        const double a1 = float(double(a) * double(InvByte));
        // d a' + (1 - a') g stays within -0.0001..255.0001 for bytes d and g.
        for (int32_t j = 0; j < 3; ++j) {
            out[j] = uint8_t(int32_t(double(out[j]) * a1 + (1.0 - a1) * gray));
        }
    }

    if (Bpp == 4) {
        if (Antialias) {
            double a00 = s00[3], a01 = s01[3], a10 = s10[3], a11 = s11[3];
            if (blend) {
                const double fa = s.fillAlpha;
                if (edgeFlags & 1) {
                    a00 = truncSaturate((1.0 - m00) * fa + a00 * m00);
                }
                if (edgeFlags & 2) {
                    a01 = truncSaturate((1.0 - m01) * fa + a01 * m01);
                }
                if (edgeFlags & 4) {
                    a10 = truncSaturate((1.0 - m10) * fa + a10 * m10);
                }
                if (edgeFlags & 8) {
                    a11 = truncSaturate((1.0 - m11) * fa + a11 * m11);
                }
            }
            out[3] = truncByte(((a00 * w00 + a01 * w01) + a10 * w10) + a11 * w11);
        } else {
            out[3] = s00[3];
        }
    }
}

// Maps pixel i of a batch on one row: source position, shade and whether it is rendered (it
// maps inside and, with a mask, the mask lets it through).
template <bool Masked, bool Antialias>
inline void mapOne(const RenderSetup& s, const Frame& f, const ColumnBatch& cols, RowState& rs,
                   int32_t i, MappedBatch& mb, bool& inside)
{
    const ColumnGeometry col = {cols.X[i], cols.Xsy[i], cols.lift[i]};
    PixelGeometry g;
    mapPixel(s, col, rs, g);
    const float srcY = sourcePosition(s.zoom, g.Yu, float(f.srcOffsetY));
    const float srcX = sourcePosition(s.zoom, g.Xu, float(f.srcOffsetX));
    // Rendered only inside [top, bottom) x [left, right); NaN fails every test.
    inside = (double(srcY) >= f.topD) & (double(srcY) < f.bottomD) & (double(srcX) >= f.leftD) &
             (double(srcX) < f.rightD);
    mb.srcX[i] = srcX;
    mb.srcY[i] = srcY;
    if (Masked && inside && f.windowed && !samplesInWindow(f, int32_t(srcX), int32_t(srcY))) {
        *f.outsideWindow = true;
        inside = false;
    }
    if (Masked && inside) {
        const int32_t verdict = maskVerdict<Antialias>(f, int32_t(srcX), int32_t(srcY));
        inside = verdict != 0;
        mb.blend[i] = uint8_t(verdict == 2);
    }
    mb.shade[i] = inside ? shadePixel(s, g) : 0.0f;
}

#if defined(__SSE2__)

// Two pixels at a time in the two lanes of SSE2 registers. Every lane operation is the same
// IEEE double operation as in the scalar code, and float rounding is a round trip through
// single precision, so each lane gives exactly the scalar result; where a pixel needs a rare
// case (a cell edge, a border blend, a mask edge) the pair falls back to the scalar code.

inline __m128d roundToFloat(__m128d v)
{
    return _mm_cvtps_pd(_mm_cvtpd_ps(v));
}

inline __m128d select(__m128d mask, __m128d a, __m128d b)
{
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

// A cell's constants (CellParams) in both lanes, or, for two pixels in different cells, each
// lane's own. flip1 and flip2 are the signs of the ramp distances as sign bits.
struct CellPair {
    __m128d scale, bevel, sure, height, width, flip1, flip2, gainV, gainH;
    __m128d own, across, vertical, diagonal;

    void set(const CellParams& c)
    {
        scale = _mm_set1_pd(c.scale);
        bevel = _mm_set1_pd(c.bevel);
        sure = _mm_set1_pd(c.sure);
        height = _mm_set1_pd(c.height);
        width = _mm_set1_pd(c.width);
        flip1 = _mm_set1_pd(c.sign1 < 0.0 ? -0.0 : 0.0);
        flip2 = _mm_set1_pd(c.sign2 < 0.0 ? -0.0 : 0.0);
        gainV = _mm_set1_pd(c.gainV);
        gainH = _mm_set1_pd(c.gainH);
        own = _mm_set1_pd(c.own);
        across = _mm_set1_pd(c.across);
        vertical = _mm_set1_pd(c.vertical);
        diagonal = _mm_set1_pd(c.diagonal);
    }

    // Lane 0 from a, lane 1 from b.
    void mix(const CellPair& a, const CellPair& b)
    {
        const __m128d* from0 = &a.scale;
        const __m128d* from1 = &b.scale;
        __m128d* to = &scale;
        for (int n = 0; n < 13; ++n) {
            to[n] = _mm_move_sd(from1[n], from0[n]);
        }
    }
};

// Per-call constants as register pairs.
struct PairConstants {
    CellPair cells[4];
    __m128d zero, one, byteMax;
    __m128d zoom, offX, offY;
    __m128d left, top, right, bottom, leftIn, topIn, rightIn, bottomIn;
    __m128d sxH2, shadeOffset;
    __m128 zoomFloat;
    bool noOffset; // both source offsets are 0

    PairConstants(const RenderSetup& s, const Frame& f)
    {
        zero = _mm_setzero_pd();
        one = _mm_set1_pd(1.0);
        byteMax = _mm_set1_pd(255.0);
        zoom = _mm_set1_pd(s.zoom);
        zoomFloat = _mm_set1_ps(s.zoom);
        noOffset = f.srcOffsetX == 0.0 && f.srcOffsetY == 0.0;
        offX = _mm_set1_pd(f.srcOffsetX);
        offY = _mm_set1_pd(f.srcOffsetY);
        left = _mm_set1_pd(f.leftD);
        top = _mm_set1_pd(f.topD);
        right = _mm_set1_pd(f.rightD);
        bottom = _mm_set1_pd(f.bottomD);
        leftIn = _mm_set1_pd(f.leftD + 1.0);
        topIn = _mm_set1_pd(f.topD + 1.0);
        rightIn = _mm_set1_pd(f.rightD - 1.0);
        bottomIn = _mm_set1_pd(f.bottomD - 1.0);
        sxH2 = _mm_set1_pd(s.sxH2);
        shadeOffset = _mm_set1_pd(s.shadeOffset);
        for (int cell = 0; cell < 4; ++cell) {
            cells[cell].set(s.cells[cell]);
        }
    }
};

// The row values as register pairs, the intervals of the row's two band indices in both lanes,
// and the current quad's terms in both lanes.
struct PairRow {
    __m128d Y, shift, Ysx, YsubSyW2;
    __m128d columnLo, columnHi, rowLo, rowHi;
    int32_t p = 0, q = 0;
    bool valid = false;
    __m128d a, b, c, d, cx, cy;

    void start(const RowGeometry& g)
    {
        Y = _mm_set1_pd(g.Y);
        shift = _mm_set1_pd(g.shift);
        Ysx = _mm_set1_pd(g.Ysx);
        YsubSyW2 = _mm_set1_pd(g.YsubSyW2);
        columnLo = rowLo = _mm_set1_pd(1.0); // empty until the first use
        columnHi = rowHi = _mm_setzero_pd();
        valid = false;
    }

    // Takes the band intervals from the row's state after a pixel was mapped without the pair.
    void follow(const RowState& rs)
    {
        columnLo = _mm_set1_pd(rs.quadColumn.lo);
        columnHi = _mm_set1_pd(rs.quadColumn.hi);
        rowLo = _mm_set1_pd(rs.quadRow.lo);
        rowHi = _mm_set1_pd(rs.quadRow.hi);
    }
};

// Band indices of both lanes: the remembered interval (kept in both lanes in lo and hi) when
// both lie in it, else one at a time.
inline void bandPair(BandIndex& band, __m128d& lo, __m128d& hi, __m128d v, int32_t& i0, int32_t& i1)
{
    const __m128d in = _mm_and_pd(_mm_cmpge_pd(v, lo), _mm_cmplt_pd(v, hi));
    if (_mm_movemask_pd(in) == 3) {
        i0 = i1 = band.q;
        return;
    }
    i0 = band.of(_mm_cvtsd_f64(v));
    i1 = band.of(_mm_cvtsd_f64(_mm_unpackhi_pd(v, v)));
    lo = _mm_set1_pd(band.lo);
    hi = _mm_set1_pd(band.hi);
}

// Maps pixels i and i + 1 of a batch on one row (the pair counterpart of mapOne).
template <bool Masked, bool Antialias>
ORYN_INLINE void mapPair(const RenderSetup& s, const Frame& f, const PairConstants& k,
                         const ColumnBatch& cols, RowState& rs, PairRow& pr, int32_t i,
                         MappedBatch& mb, int& insideBits)
{
    const __m128d X = _mm_load_pd(cols.X + i);
    const __m128d Xsy = _mm_load_pd(cols.Xsy + i);
    const __m128d lift = _mm_load_pd(cols.lift + i);
    const __m128d Xp = roundToFloat(_mm_add_pd(X, pr.shift));
    const __m128d Yp = roundToFloat(_mm_add_pd(pr.Y, lift));
    int32_t p0, p1, q0, q1;
    bandPair(rs.quadColumn, pr.columnLo, pr.columnHi, Xp, p0, p1);
    bandPair(rs.quadRow, pr.rowLo, pr.rowHi, Yp, q0, q1);

    __m128d ta, tb, tc, td, tcx, tcy;
    if (p0 == p1 && q0 == q1) {
        if (!pr.valid || pr.p != p0 || pr.q != q0) {
            QuadTerms t;
            t.set(s, p0, q0);
            pr.valid = true;
            pr.p = p0;
            pr.q = q0;
            pr.a = _mm_set1_pd(t.a);
            pr.b = _mm_set1_pd(t.b);
            pr.c = _mm_set1_pd(t.c);
            pr.d = _mm_set1_pd(t.d);
            pr.cx = _mm_set1_pd(t.cx);
            pr.cy = _mm_set1_pd(t.cy);
        }
        ta = pr.a, tb = pr.b, tc = pr.c, td = pr.d, tcx = pr.cx, tcy = pr.cy;
    } else {
        QuadTerms t0, t1;
        t0.set(s, p0, q0);
        t1.set(s, p1, q1);
        ta = _mm_set_pd(t1.a, t0.a);
        tb = _mm_set_pd(t1.b, t0.b);
        tc = _mm_set_pd(t1.c, t0.c);
        td = _mm_set_pd(t1.d, t0.d);
        tcx = _mm_set_pd(t1.cx, t0.cx);
        tcy = _mm_set_pd(t1.cy, t0.cy);
    }

    const __m128d A = roundToFloat(_mm_sub_pd(_mm_sub_pd(pr.Y, Xsy), ta));
    const __m128d B = roundToFloat(_mm_sub_pd(_mm_add_pd(pr.YsubSyW2, Xsy), tb));
    const __m128d C = roundToFloat(_mm_sub_pd(_mm_add_pd(X, pr.Ysx), tc));
    const __m128d D = roundToFloat(_mm_sub_pd(_mm_add_pd(_mm_sub_pd(X, pr.Ysx), k.sxH2), td));

    // The cell, as in mapPixel: TL, else BL, else TR or BR.
    const __m128d aNeg = _mm_cmplt_pd(A, k.zero);
    const __m128d tl = _mm_and_pd(aNeg, _mm_cmplt_pd(C, k.zero));
    const __m128d bl =
        _mm_andnot_pd(tl, _mm_and_pd(_mm_cmpge_pd(A, k.zero), _mm_cmplt_pd(D, k.zero)));
    const __m128d right = _mm_andnot_pd(_mm_or_pd(tl, bl), _mm_cmpeq_pd(k.zero, k.zero));
    const __m128d bNeg = _mm_cmplt_pd(B, k.zero);
    const __m128d br = _mm_andnot_pd(bNeg, right);
    const __m128d lower = _mm_or_pd(bl, br);
    const __m128d vy = select(right, B, A);
    const __m128d vx = select(lower, D, C);
    // The cells' constants: shared when both pixels lie in the same cell, as they mostly do.
    const int lowerBits = _mm_movemask_pd(lower), rightBits = _mm_movemask_pd(right);
    const int cell0 = ((lowerBits & 1) << 1) | (rightBits & 1);
    const int cell1 = (lowerBits & 2) | (rightBits >> 1);
    CellPair mixed;
    const CellPair* cp = &k.cells[cell0];
    if (cell0 != cell1) {
        mixed.mix(k.cells[cell0], k.cells[cell1]);
        cp = &mixed;
    }
    const __m128d scale = cp->scale;
    const __m128 Xu = _mm_cvtpd_ps(_mm_add_pd(tcx, _mm_mul_pd(vx, scale)));
    const __m128 Yu = _mm_cvtpd_ps(_mm_add_pd(tcy, _mm_mul_pd(vy, scale)));
    __m128d srcX, srcY;
    if (k.noOffset) {
        // zoom x Yu is exact in double (two floats), so its rounding to float is the single-
        // precision product; adding an offset of 0 changes at most the sign of a zero.
        srcY = _mm_cvtps_pd(_mm_mul_ps(k.zoomFloat, Yu));
        srcX = _mm_cvtps_pd(_mm_mul_ps(k.zoomFloat, Xu));
    } else {
        srcY = roundToFloat(_mm_add_pd(_mm_mul_pd(k.zoom, _mm_cvtps_pd(Yu)), k.offY));
        srcX = roundToFloat(_mm_add_pd(_mm_mul_pd(k.zoom, _mm_cvtps_pd(Xu)), k.offX));
    }
    const __m128d inside =
        _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(srcY, k.top), _mm_cmplt_pd(srcY, k.bottom)),
                   _mm_and_pd(_mm_cmpge_pd(srcX, k.left), _mm_cmplt_pd(srcX, k.right)));
    insideBits = _mm_movemask_pd(inside);
    _mm_store_pd(mb.srcX + i, srcX);
    _mm_store_pd(mb.srcY + i, srcY);
    if (Masked && insideBits != 0) {
        // Pixels the mask keeps out are neither shaded nor sampled.
        alignas(16) int32_t ij[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(ij),
                        _mm_unpacklo_epi64(_mm_cvttpd_epi32(srcX), _mm_cvttpd_epi32(srcY)));
        for (int lane = 0; lane < 2; ++lane) {
            if (((insideBits >> lane) & 1) && f.windowed &&
                !samplesInWindow(f, ij[lane], ij[2 + lane])) {
                *f.outsideWindow = true;
                insideBits &= ~(1 << lane);
            }
            if ((insideBits >> lane) & 1) {
                const int32_t verdict = maskVerdict<Antialias>(f, ij[lane], ij[2 + lane]);
                insideBits &= verdict != 0 ? 3 : ~(1 << lane);
                mb.blend[i + lane] = uint8_t(verdict == 2);
            }
        }
    }
    if (insideBits == 0) {
        return;
    }

    // Shade. Away from every edge both ramps are 1 and the factor blend is the own factor.
    const __m128d sd1 = _mm_xor_pd(vy, cp->flip1);
    const __m128d sd2 = _mm_xor_pd(vx, cp->flip2);
    const __m128d sure = cp->sure;
    const __m128d far1 = cp->height;
    const __m128d far2 = cp->width;
    const __m128d flat =
        _mm_and_pd(_mm_and_pd(_mm_cmpgt_pd(sd1, sure), _mm_cmpgt_pd(_mm_sub_pd(far1, sd1), sure)),
                   _mm_and_pd(_mm_cmpgt_pd(sd2, sure), _mm_cmpgt_pd(_mm_sub_pd(far2, sd2), sure)));
    const __m128d own = cp->own;
    const __m128d light =
        _mm_mul_pd(_mm_add_pd(_mm_mul_pd(cp->gainV, vy), _mm_mul_pd(cp->gainH, vx)), scale);
    __m128d blended = own;
    if ((_mm_movemask_pd(flat) & insideBits) != insideBits) {
        // Near an edge: the ramps, limited to 0..1 (NaN passes through, as in bevelRamp); then
        // the blend. The first formula cannot exceed 1 at a distance of at most half the width,
        // and surely exceeds it beyond `sure`, so there each lane knows its formula and divides
        // once per ramp. Only a distance in between (or NaN) needs both formulas.
        const __m128d width = cp->bevel;
        const __m128d half = _mm_set1_pd(0.5);
        const __m128d halfWidth = _mm_mul_pd(width, half);
        const __m128d over1 = _mm_cmpgt_pd(sd1, sure);
        const __m128d over2 = _mm_cmpgt_pd(sd2, sure);
        const __m128d known = _mm_and_pd(_mm_or_pd(over1, _mm_cmple_pd(sd1, halfWidth)),
                                         _mm_or_pd(over2, _mm_cmple_pd(sd2, halfWidth)));
        __m128d t1, t2;
        if (_mm_movemask_pd(known) == 3) {
            const __m128d n1 = select(over1, _mm_sub_pd(far1, sd1), sd1);
            const __m128d n2 = select(over2, _mm_sub_pd(far2, sd2), sd2);
            t1 = roundToFloat(_mm_add_pd(_mm_div_pd(n1, width), half));
            t2 = roundToFloat(_mm_add_pd(_mm_div_pd(n2, width), half));
            t1 = _mm_min_pd(k.one, _mm_max_pd(k.zero, t1));
            t2 = _mm_min_pd(k.one, _mm_max_pd(k.zero, t2));
        } else {
            const __m128d r1a = roundToFloat(_mm_add_pd(_mm_div_pd(sd1, width), half));
            const __m128d r1b =
                roundToFloat(_mm_add_pd(_mm_div_pd(_mm_sub_pd(far1, sd1), width), half));
            const __m128d r2a = roundToFloat(_mm_add_pd(_mm_div_pd(sd2, width), half));
            const __m128d r2b =
                roundToFloat(_mm_add_pd(_mm_div_pd(_mm_sub_pd(far2, sd2), width), half));
            t1 = _mm_min_pd(k.one, _mm_max_pd(k.zero, select(_mm_cmpgt_pd(r1a, k.one), r1b, r1a)));
            t2 = _mm_min_pd(k.one, _mm_max_pd(k.zero, select(_mm_cmpgt_pd(r2a, k.one), r2b, r2a)));
        }
        const __m128d u = roundToFloat(_mm_sub_pd(k.one, t1));
        const __m128d v = roundToFloat(_mm_sub_pd(k.one, t2));
        const __m128d across = cp->across;
        const __m128d vertical = cp->vertical;
        const __m128d diagonal = cp->diagonal;
        blended = _mm_mul_pd(_mm_mul_pd(own, t1), t2);
        blended = _mm_add_pd(blended, _mm_mul_pd(_mm_mul_pd(across, t1), v));
        blended = _mm_add_pd(blended, _mm_mul_pd(_mm_mul_pd(vertical, u), t2));
        blended = _mm_add_pd(blended, _mm_mul_pd(_mm_mul_pd(diagonal, u), v));
    }
    _mm_store_pd(mb.shade + i, roundToFloat(_mm_add_pd(_mm_add_pd(blended, light), k.shadeOffset)));
}

// Samples two mapped pixels together when neither needs a blend with the background, else
// one at a time. The colour sum, shade product, limits and truncation are lane by lane the
// scalar expressions.
template <int Bpp, bool Masked, bool Antialias>
inline void renderPixelPair(const RenderSetup& s, const Frame& f, const PairConstants& k, int32_t y,
                            uint8_t* dstRow, int32_t x0, int32_t x1, const MappedBatch& mb,
                            int32_t i0, int32_t i1)
{
    // Two neighbours from an even position (every pixel of the batch row is rendered) are
    // loaded together.
    const bool adjacent = i1 == i0 + 1 && (i0 & 1) == 0;
    const __m128d srcX = adjacent ? _mm_load_pd(mb.srcX + i0)
                                  : _mm_loadh_pd(_mm_load_sd(mb.srcX + i0), mb.srcX + i1);
    const __m128d srcY = adjacent ? _mm_load_pd(mb.srcY + i0)
                                  : _mm_loadh_pd(_mm_load_sd(mb.srcY + i0), mb.srcY + i1);
    const __m128d S = adjacent ? _mm_load_pd(mb.shade + i0)
                               : _mm_loadh_pd(_mm_load_sd(mb.shade + i0), mb.shade + i1);
    bool scalar = f.previewTransparency || Bpp == 0;
    if (Antialias && !Masked) {
        // Without a mask, a sample beyond the image border is blended.
        const __m128d edge =
            _mm_or_pd(_mm_or_pd(_mm_cmplt_pd(srcY, k.topIn), _mm_cmplt_pd(srcX, k.leftIn)),
                      _mm_or_pd(_mm_cmpgt_pd(srcY, k.bottomIn), _mm_cmpgt_pd(srcX, k.rightIn)));
        scalar = scalar || _mm_movemask_pd(edge) != 0;
    }
    const __m128i ixy = _mm_unpacklo_epi64(_mm_cvttpd_epi32(srcX), _mm_cvttpd_epi32(srcY));
    alignas(16) int32_t ij[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ij), ixy);
    const int32_t ix[2] = {ij[0], ij[1]};
    const int32_t iy[2] = {ij[2], ij[3]};
    const ptrdiff_t P = Bpp != 0 ? Bpp : f.bpp;
    const ptrdiff_t R = f.srcRowBytes;
    if (Masked && Antialias && (mb.blend[i0] | mb.blend[i1]) != 0) {
        // A soft edge of the selection: the samples are blended with the background.
        scalar = true;
    }
    if (scalar) {
        renderPixel<Bpp, Masked, Antialias>(s, f, y, dstRow, x0, float(mb.srcX[i0]),
                                            float(mb.srcY[i0]), mb.shade[i0]);
        renderPixel<Bpp, Masked, Antialias>(s, f, y, dstRow, x1, float(mb.srcX[i1]),
                                            float(mb.srcY[i1]), mb.shade[i1]);
        return;
    }

    const __m128d fx = _mm_sub_pd(srcX, _mm_cvtepi32_pd(_mm_cvttpd_epi32(srcX)));
    const __m128d fy = _mm_sub_pd(srcY, _mm_cvtepi32_pd(_mm_cvttpd_epi32(srcY)));
    const __m128d gx = _mm_sub_pd(k.one, fx);
    const __m128d gy = _mm_sub_pd(k.one, fy);
    const __m128d w00 = roundToFloat(_mm_mul_pd(gx, gy));
    const __m128d w01 = roundToFloat(_mm_mul_pd(fx, gy));
    const __m128d w10 = roundToFloat(_mm_mul_pd(gx, fy));
    const __m128d w11 = roundToFloat(_mm_mul_pd(fx, fy));

    const uint8_t* s00[2];
    const uint8_t* s01[2];
    const uint8_t* s10[2];
    const uint8_t* s11[2];
    for (int lane = 0; lane < 2; ++lane) {
        const ptrdiff_t o00 = ptrdiff_t(iy[lane]) * R + ptrdiff_t(ix[lane]) * P - f.srcBias;
        const ptrdiff_t dx = ix[lane] <= f.right - 2 ? P : 0;
        const ptrdiff_t dy = iy[lane] <= f.bottom - 2 ? R : 0;
        s00[lane] = f.src + o00;
        s01[lane] = s00[lane] + dx;
        s10[lane] = s00[lane] + dy;
        s11[lane] = s10[lane] + dx;
    }
    uint8_t* const out0 = dstRow + ptrdiff_t(x0 - f.dstLeft) * P;
    uint8_t* const out1 = dstRow + ptrdiff_t(x1 - f.dstLeft) * P;
    const double* const tone = f.tone;
    alignas(16) double values[6];
    for (int32_t j = 0; j < 3; ++j) {
        const __m128d c00 = _mm_loadh_pd(_mm_load_sd(tone + s00[0][j]), tone + s00[1][j]);
        const __m128d c01 = _mm_loadh_pd(_mm_load_sd(tone + s01[0][j]), tone + s01[1][j]);
        const __m128d c10 = _mm_loadh_pd(_mm_load_sd(tone + s10[0][j]), tone + s10[1][j]);
        const __m128d c11 = _mm_loadh_pd(_mm_load_sd(tone + s11[0][j]), tone + s11[1][j]);
        const __m128d sum =
            _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(c01, w01), _mm_mul_pd(c00, w00)),
                                  _mm_mul_pd(c10, w10)),
                       _mm_mul_pd(c11, w11));
        // max(v, 0) gives 0 for NaN, then min(v, 255): truncByte in both lanes.
        _mm_store_pd(values + 2 * j, _mm_min_pd(_mm_max_pd(_mm_mul_pd(sum, S), k.zero), k.byteMax));
    }
    // Each lane truncated from memory: no shuffle to reach the upper lane.
    for (int32_t j = 0; j < 3; ++j) {
        out0[j] = uint8_t(int32_t(values[2 * j]));
        out1[j] = uint8_t(int32_t(values[2 * j + 1]));
    }
    if (Bpp == 4) {
        for (int lane = 0; lane < 2; ++lane) {
            uint8_t* const out = lane == 0 ? out0 : out1;
            if (Antialias) {
                const double wa00 =
                    lane == 0 ? _mm_cvtsd_f64(w00) : _mm_cvtsd_f64(_mm_unpackhi_pd(w00, w00));
                const double wa01 =
                    lane == 0 ? _mm_cvtsd_f64(w01) : _mm_cvtsd_f64(_mm_unpackhi_pd(w01, w01));
                const double wa10 =
                    lane == 0 ? _mm_cvtsd_f64(w10) : _mm_cvtsd_f64(_mm_unpackhi_pd(w10, w10));
                const double wa11 =
                    lane == 0 ? _mm_cvtsd_f64(w11) : _mm_cvtsd_f64(_mm_unpackhi_pd(w11, w11));
                out[3] = truncByte(((double(s00[lane][3]) * wa00 + double(s01[lane][3]) * wa01) +
                                    double(s10[lane][3]) * wa10) +
                                   double(s11[lane][3]) * wa11);
            } else {
                out[3] = s00[lane][3];
            }
        }
    }
}

#endif

// Drops the mapped pixels of a batch row whose samples lie beyond the window (and says so).
// Returns how many stay.
inline int32_t keepInWindow(const Frame& f, MappedBatch& mb, int32_t count)
{
    int32_t kept = 0;
    for (int32_t j = 0; j < count; ++j) {
        const int32_t i = mb.order[j];
        if (samplesInWindow(f, int32_t(float(mb.srcX[i])), int32_t(float(mb.srcY[i])))) {
            mb.order[kept++] = uint8_t(i);
        } else {
            *f.outsideWindow = true;
        }
    }
    return kept;
}

// Renders rows y0 .. y1 - 1 (one group), a batch of columns at a time: the column values of a
// batch serve every row of the group. Bpp is 3 or 4, or 0 for any other pixel size.
template <int Bpp, bool Masked, bool Antialias>
void renderGroup(const RenderSetup& s, const Frame& f, int32_t y0, int32_t y1)
{
    RowState rows[GroupRows];
    for (int32_t y = y0; y < y1; ++y) {
        rows[y - y0].start(s, int64_t(y) - f.rowOffset);
    }
#if defined(__SSE2__)
    const PairConstants k(s, f);
    PairRow pairRows[GroupRows];
    for (int32_t y = y0; y < y1; ++y) {
        pairRows[y - y0].start(rows[y - y0].geometry);
    }
#endif
    BandIndex columnBand;
    columnBand.n = double(s.W);
    ColumnBatch cols;
    MappedBatch mb;
    int32_t n = 0; // columns in the current batch

    for (int32_t x0 = f.areaLeft; x0 < f.areaRight; x0 += n) {
        n = int32_t(std::min<int64_t>(int64_t(f.areaRight) - x0, BatchSize));
        for (int32_t i = 0; i < n; ++i) {
            ColumnGeometry col;
            prepareColumn(s, int64_t(x0) + i - f.colOffset, columnBand, col);
            cols.X[i] = col.X;
            cols.Xsy[i] = col.Xsy;
            cols.lift[i] = col.lift;
        }
        for (int32_t y = y0; y < y1; ++y) {
            RowState& rs = rows[y - y0];
            int32_t count = 0;
            int32_t i = 0;
#if defined(__SSE2__)
            PairRow& pr = pairRows[y - y0];
            for (; i + 1 < n; i += 2) {
                int bits;
                mapPair<Masked, Antialias>(s, f, k, cols, rs, pr, i, mb, bits);
                mb.order[count] = uint8_t(i);
                count += bits & 1;
                mb.order[count] = uint8_t(i + 1);
                count += bits >> 1;
            }
#endif
            for (; i < n; ++i) {
                bool inside;
                mapOne<Masked, Antialias>(s, f, cols, rs, i, mb, inside);
                mb.order[count] = uint8_t(i);
                count += inside ? 1 : 0;
#if defined(__SSE2__)
                pr.follow(rs); // mapOne may have moved the band intervals
#endif
            }

            if (!Masked && f.windowed) {
                count = keepInWindow(f, mb, count);
            }
            uint8_t* const dstRow = f.dst + ptrdiff_t(y - f.dstTop) * f.dstRowBytes;
            int32_t j = 0;
#if defined(__SSE2__)
            for (; j + 1 < count; j += 2) {
                const int32_t i0 = mb.order[j], i1 = mb.order[j + 1];
                renderPixelPair<Bpp, Masked, Antialias>(s, f, k, y, dstRow, x0 + i0, x0 + i1, mb,
                                                        i0, i1);
            }
#endif
            for (; j < count; ++j) {
                const int32_t i0 = mb.order[j];
                renderPixel<Bpp, Masked, Antialias>(s, f, y, dstRow, x0 + i0, float(mb.srcX[i0]),
                                                    float(mb.srcY[i0]), mb.shade[i0]);
            }
        }
    }
}

template <int Bpp>
void renderGroupFor(const RenderSetup& s, const Frame& f, bool masked, int32_t y0, int32_t y1)
{
    if (masked) {
        if (s.antialiasOn) {
            renderGroup<Bpp, true, true>(s, f, y0, y1);
        } else {
            renderGroup<Bpp, true, false>(s, f, y0, y1);
        }
    } else if (s.antialiasOn) {
        renderGroup<Bpp, false, true>(s, f, y0, y1);
    } else {
        renderGroup<Bpp, false, false>(s, f, y0, y1);
    }
}

// Renders rows y0 .. y1 - 1 of one group with the instance that fits the call.
void renderRows(const RenderSetup& s, const Frame& f, bool masked, int32_t y0, int32_t y1)
{
    if (s.mapsNothing) {
        return;
    }
    if (f.bpp == 3) {
        renderGroupFor<3>(s, f, masked, y0, y1);
    } else if (f.bpp == 4) {
        renderGroupFor<4>(s, f, masked, y0, y1);
    } else {
        renderGroupFor<0>(s, f, masked, y0, y1);
    }
}

// First row after the group that starts at row y0: the next row numbered 7 mod 8 (y0 + 8 when
// y0 is one).
inline int64_t groupEnd(int64_t y0)
{
    return y0 + 1 + ((6 - (y0 & 7)) & 7);
}

// The renderer's roundings assume the default floating-point mode: round to nearest, no
// flushing of tiny values to zero, exceptions masked. A host may run with another one, so the
// render runs in the default mode and the host's mode is back for every callback and on return.
class FloatMode {
public:
#if defined(__SSE2__)
    FloatMode() : host(_mm_getcsr())
    {
        useDefault();
    }
    ~FloatMode()
    {
        useHost();
    }
    void useDefault()
    {
        _mm_setcsr(0x1F80);
    }
    void useHost()
    {
        _mm_setcsr(host);
    }

private:
    unsigned int host;
#else
    void useDefault() {}
    void useHost() {}
#endif
};

// A render whose pass 2 is shared among threads. Rows are handed out a group at a time, in
// order, to whichever thread asks next; each group's rows get their background just before they
// are rendered, by the same thread. Only the calling thread calls progress: before each group it
// takes, with the first row not yet known finished. Every row above it is final (groups finish
// out of order, so rows below it may be final too), and the number only rises: a host may write
// out the rows above it while the render goes on.
// A non-zero result stops every thread before its next group; the groups nobody took then get
// their background, and the render returns the result.
struct SharedRender {
    const RenderSetup* s;
    const Frame* f;
    bool masked;
    bool fillEach;    // each group gets its background from the thread that renders it
    int64_t firstEnd; // end of group 0; group g >= 1 starts at firstEnd + 8 (g - 1)
    int64_t groups;
    std::atomic<int64_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<uint8_t>* finished = nullptr; // one flag per group, set when its rows are final
    int64_t finishedPrefix = 0;               // groups 0 .. finishedPrefix - 1 are final

    // The first row of the rectangle not yet known final; called by the calling thread only.
    int32_t finalRowsEnd()
    {
        while (finishedPrefix < groups && finished[finishedPrefix].load(std::memory_order_acquire))
            ++finishedPrefix;
        return finishedPrefix == 0 ? f->top : groupBottom(finishedPrefix - 1);
    }

    int32_t groupTop(int64_t g) const { return g == 0 ? f->top : int32_t(firstEnd + 8 * (g - 1)); }
    int32_t groupBottom(int64_t g) const
    {
        return int32_t(std::min<int64_t>(firstEnd + 8 * g, f->bottom));
    }

    // Takes and renders one group. Returns false when none is left.
    bool renderNext()
    {
        const int64_t g = next.fetch_add(1);
        if (g >= groups) {
            return false;
        }
        const int32_t y0 = groupTop(g), y1 = groupBottom(g);
        if (fillEach) {
            fillBackground(*s, *f, y0, y1);
        }
        renderRows(*s, *f, masked, y0, y1);
        finished[g].store(1, std::memory_order_release);
        return true;
    }

    // The groups that no thread took, after a stop.
    void fillUntaken()
    {
        if (!fillEach) {
            return;
        }
        for (int64_t g = std::min(next.load(), groups); g < groups; ++g) {
            fillBackground(*s, *f, groupTop(g), groupBottom(g));
        }
    }
};

// The frame of a whole render: the rectangle is rendered, and every buffer starts at its
// (0, 0).
void startFrame(const RenderSetup& s, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                int32_t dstRowBytes, const uint8_t* mask, int32_t maskRowBytes,
                const uint8_t* previewAlpha, int32_t planes, int32_t bytesPerPixel, int32_t left,
                int32_t top, int32_t right, int32_t bottom, int32_t rowOffset, float srcOffsetY,
                int32_t colOffset, float srcOffsetX, Frame& f)
{
    f.src = src;
    f.srcRowBytes = srcRowBytes;
    f.dst = dst;
    f.dstRowBytes = dstRowBytes;
    f.mask = mask;
    f.maskRowBytes = maskRowBytes;
    f.previewAlpha = previewAlpha;
    f.bpp = bytesPerPixel;
    f.previewTransparency = planes > 3 && bytesPerPixel == 3 && previewAlpha != nullptr;
    f.left = left, f.top = top, f.right = right, f.bottom = bottom;
    f.leftD = left, f.topD = top, f.rightD = right, f.bottomD = bottom;
    f.colOffset = colOffset;
    f.rowOffset = rowOffset;
    f.srcOffsetX = srcOffsetX;
    f.srcOffsetY = srcOffsetY;
    for (int i = 0; i < 256; ++i) {
        f.tone[i] = s.toneTable[i];
    }
    for (int j = 0; j < 3; ++j) {
        f.fill[j] = s.fillBytes[j];
    }
    f.areaLeft = left, f.areaRight = right;
    f.dstLeft = 0, f.dstTop = 0;
    f.srcBias = 0, f.maskBias = 0;
    f.windowed = false;
    f.winLeft = left, f.winTop = top, f.winRight = right, f.winBottom = bottom;
    f.outsideWindow = nullptr;
}

// A worker's whole life: the default floating-point mode, then groups until none is left or the
// calling thread says stop.
ORYN_ALIGN_STACK
void renderWorker(void* arg, int32_t)
{
    SharedRender& shared = *static_cast<SharedRender*>(arg);
    FloatMode floatMode;
    while (!shared.stop.load(std::memory_order_relaxed) && shared.renderNext()) {
    }
}

} // namespace

ORYN_ALIGN_STACK
int32_t RenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                     int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH, int32_t shading,
                     int32_t toneFloor, int32_t brightnessBoost, float bevel, int32_t faceMode,
                     int32_t left, int32_t top, int32_t right, int32_t bottom, const uint8_t* src,
                     int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, const uint8_t* mask,
                     int32_t maskRowBytes, const uint8_t* previewAlpha, int32_t rowOffset,
                     float srcOffsetY, int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                     uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress)
{
    return RenderEngine(context, cellHeight, cellWidth, skewX, skewY, lightV, lightH, shading,
                        toneFloor, brightnessBoost, bevel, faceMode, left, top, right, bottom, src,
                        srcRowBytes, dst, dstRowBytes, mask, maskRowBytes, previewAlpha, rowOffset,
                        srcOffsetY, colOffset, srcOffsetX, renderFlags, fillColor, bytesPerPixel,
                        progress, 1);
}

ORYN_ALIGN_STACK
int32_t RenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                     int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH, int32_t shading,
                     int32_t toneFloor, int32_t brightnessBoost, float bevel, int32_t faceMode,
                     int32_t left, int32_t top, int32_t right, int32_t bottom, const uint8_t* src,
                     int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, const uint8_t* mask,
                     int32_t maskRowBytes, const uint8_t* previewAlpha, int32_t rowOffset,
                     float srcOffsetY, int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                     uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress,
                     int32_t threads, int32_t previewSide)
{
    if (bytesPerPixel < 1) {
        return 0;
    }
    FloatMode floatMode;
    const RenderArgs args = {cellHeight,  cellWidth, skewX,        skewY,           lightV,
                             lightH,      shading,   toneFloor,    brightnessBoost, bevel,
                             faceMode,    left,      top,          right,           bottom,
                             renderFlags, fillColor, bytesPerPixel, previewSide};
    RenderSetup s;
    prepareRender(args, s);

    bool haveMask = false;
    int32_t planes = 0;
    if (context != nullptr && context->record != nullptr) {
        haveMask = context->record->haveMask != 0;
        planes = context->record->planes;
    }

    Frame f;
    startFrame(s, src, srcRowBytes, dst, dstRowBytes, mask, maskRowBytes, previewAlpha, planes,
               bytesPerPixel, left, top, right, bottom, rowOffset, srcOffsetY, colOffset,
               srcOffsetX, f);
    const bool masked = haveMask && mask != nullptr;

    // Rows in groups: group 0 runs from the top to the first row numbered 7 mod 8, every later
    // group holds 8 rows from such a row on.
    const int64_t firstEnd = groupEnd(top);
    const int64_t groups =
        top >= bottom ? 0 : (firstEnd >= bottom ? 1 : 1 + (int64_t(bottom) - firstEnd + 7) / 8);
    if (threads > MaxRenderThreads) {
        threads = MaxRenderThreads;
    }
    if (int64_t(threads) > groups) {
        threads = int32_t(groups);
    }

    if (threads <= 1 || s.mapsNothing) {
        fillBackground(s, f, s.fillTop, s.fillBottom);
        // Pass 2, a group of rows at a time; progress is asked before each row numbered 7 mod 8.
        int32_t y0 = top;
        while (y0 < bottom) {
            if ((y0 & 7) == 7 && progress != nullptr) {
                floatMode.useHost();
                const int32_t result = progress(context, y0, bottom);
                floatMode.useDefault();
                if ((result & 0xFFFF) != 0) {
                    return result;
                }
            }
            const int64_t next = groupEnd(y0);
            const int32_t y1 = next < int64_t(bottom) ? int32_t(next) : bottom;
            renderRows(s, f, masked, y0, y1);
            y0 = y1;
        }
        return 0;
    }

    // One flag per group tells the calling thread which rows are final. Without the memory for
    // them the render runs on this thread alone.
    std::unique_ptr<std::atomic<uint8_t>[]> finished(new (std::nothrow) std::atomic<uint8_t>[size_t(groups)]);
    if (!finished) {
        return RenderEngine(context, cellHeight, cellWidth, skewX, skewY, lightV, lightH, shading,
                            toneFloor, brightnessBoost, bevel, faceMode, left, top, right, bottom,
                            src, srcRowBytes, dst, dstRowBytes, mask, maskRowBytes, previewAlpha,
                            rowOffset, srcOffsetY, colOffset, srcOffsetX, renderFlags, fillColor,
                            bytesPerPixel, progress, 1, previewSide);
    }
    for (int64_t g = 0; g < groups; ++g)
        finished[g].store(0, std::memory_order_relaxed);

    SharedRender shared;
    shared.finished = finished.get();
    shared.s = &s;
    shared.f = &f;
    shared.masked = masked;
    // The host's fill rectangle is the render rectangle, whose groups cover it; the preview's
    // square is filled whole first.
    shared.fillEach = s.hostOutput;
    shared.firstEnd = firstEnd;
    shared.groups = groups;
    if (!shared.fillEach) {
        fillBackground(s, f, s.fillTop, s.fillBottom);
    }
    int32_t result = 0;
    {
        WorkerThreads workers;
        workers.start(threads - 1, renderWorker, &shared);
        for (;;) {
            if (progress != nullptr) {
                const int32_t done = shared.finalRowsEnd();
                floatMode.useHost();
                result = progress(context, done, bottom);
                floatMode.useDefault();
                if ((result & 0xFFFF) != 0) {
                    shared.stop.store(true);
                    break;
                }
                result = 0;
            }
            if (!shared.renderNext()) {
                break;
            }
        }
        workers.joinAll();
    }
    shared.fillUntaken();
    return result;
}

RenderArgs hostRenderArgs(const RenderCall& call)
{
    RenderArgs a;
    a.cellHeight = call.cellHeight;
    a.cellWidth = call.cellWidth;
    a.skewX = call.skewX;
    a.skewY = call.skewY;
    a.lightV = call.lightV;
    a.lightH = call.lightH;
    a.shading = call.shading;
    a.toneFloor = call.toneFloor;
    a.brightnessBoost = call.brightnessBoost;
    a.bevel = call.bevel;
    a.faceMode = call.faceMode;
    a.left = call.left;
    a.top = call.top;
    a.right = call.right;
    a.bottom = call.bottom;
    a.renderFlags = call.renderFlags | HostOutputFlag;
    a.fillColor = call.fillColor;
    a.bytesPerPixel = call.bytesPerPixel;
    return a;
}

ORYN_ALIGN_STACK
int32_t renderArea(const ParamContext* context, const RenderCall& call, const PixelArea& area,
                   const uint8_t* src, int32_t srcRowBytes, const uint8_t* mask,
                   int32_t maskRowBytes, const PixelArea& window, uint8_t* dst, int32_t dstRowBytes)
{
    const int32_t bpp = call.bytesPerPixel;
    // Only the part of the area inside the rectangle is rendered.
    const int32_t x0 = std::max(area.left, call.left), x1 = std::min(area.right, call.right);
    const int32_t y0 = std::max(area.top, call.top), y1 = std::min(area.bottom, call.bottom);
    if (bpp < 1 || x0 >= x1 || y0 >= y1) {
        return 0;
    }
    FloatMode floatMode;
    const RenderArgs args = hostRenderArgs(call);
    RenderSetup s;
    prepareRender(args, s);
    s.fillLeft = x0, s.fillTop = y0, s.fillRight = x1, s.fillBottom = y1;

    bool haveMask = false;
    int32_t planes = 0;
    if (context != nullptr && context->record != nullptr) {
        haveMask = context->record->haveMask != 0;
        planes = context->record->planes;
    }
    Frame f;
    startFrame(s, src, srcRowBytes, dst, dstRowBytes, mask, maskRowBytes, nullptr, planes, bpp,
               call.left, call.top, call.right, call.bottom, call.rowOffset, call.srcOffsetY,
               call.colOffset, call.srcOffsetX, f);
    f.areaLeft = x0, f.areaRight = x1;
    f.dstLeft = area.left, f.dstTop = area.top;
    f.srcBias = ptrdiff_t(window.top) * srcRowBytes + ptrdiff_t(window.left) * bpp;
    f.maskBias = ptrdiff_t(window.top) * maskRowBytes + window.left;
    f.windowed = true;
    f.winLeft = window.left, f.winTop = window.top;
    f.winRight = window.right, f.winBottom = window.bottom;
    bool outside = false;
    f.outsideWindow = &outside;

    fillBackground(s, f, y0, y1);
    const bool masked = haveMask && mask != nullptr;
    for (int32_t top = y0; top < y1;) {
        const int64_t next = groupEnd(top);
        const int32_t bottom = next < int64_t(y1) ? int32_t(next) : y1;
        renderRows(s, f, masked, top, bottom);
        top = bottom;
    }
    return outside ? AreaOutsideWindow : 0;
}

} // namespace oryn
