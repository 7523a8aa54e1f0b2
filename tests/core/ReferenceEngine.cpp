// The reference renderer: every rule written out once per pixel, with no shortcuts.
//
// The rules appear in the order they are applied, with no hoisting. Speed is of no concern
// here; being easy to check is.
#include "ReferenceEngine.h"

#include <cmath>

#include "host/HostApi.h"

namespace oryn {
namespace {

// Truncation toward zero into 32 bits; values beyond the range give the nearest end, NaN the
// lowest value (what an x86 conversion gives, but without undefined behaviour).
int32_t truncate32(double v)
{
    if (std::isnan(v)) {
        return INT32_MIN;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(v);
}

// trunc(v) limited to 0..255; NaN gives 0.
int32_t truncateByte(double v)
{
    if (!(v > 0.0)) {
        return 0;
    }
    if (v >= 255.0) {
        return 255;
    }
    return static_cast<int32_t>(v);
}

int32_t checkerShade(int32_t x, int32_t y)
{
    bool a = (x & 7) < 4;
    bool b = (y & 7) < 4;
    return a == b ? 192 : 255;
}

} // namespace

int32_t referenceRenderEngine(const ParamContext* context, int32_t cellHeight, int32_t cellWidth,
                              int32_t skewX, int32_t skewY, int32_t lightV, int32_t lightH,
                              int32_t shading, int32_t toneFloor, int32_t brightnessBoost,
                              float bevel, int32_t faceMode, int32_t left, int32_t top,
                              int32_t right, int32_t bottom, const uint8_t* src,
                              int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes,
                              const uint8_t* mask, int32_t maskRowBytes,
                              const uint8_t* previewAlpha, int32_t rowOffset, float srcOffsetY,
                              int32_t colOffset, float srcOffsetX, int32_t renderFlags,
                              uint32_t fillColor, int32_t bytesPerPixel, RenderProgress progress)
{
    const float c002 = 0.02f;
    const float c003 = 0.03f;
    const float c001 = 0.01f;
    const float c0005 = 0.005f;
    const float c0999 = 0.999f;
    const float c09999 = 0.9999f;
    const float inv255 = 0.0039215689f;

    if (bytesPerPixel < 1) {
        return 0;
    }

    int32_t haveMask = 0;
    int32_t planes = 0;
    if (context != nullptr && context->record != nullptr) {
        haveMask = context->record->haveMask;
        planes = context->record->planes;
    }
    if (mask == nullptr) {
        haveMask = 0;
    }

    // Set-up.
    int32_t channels = bytesPerPixel < 3 ? bytesPerPixel : 3;

    int32_t toneTable[256];
    for (int i = 0; i < 256; ++i) {
        double factor = (255.0 - double(toneFloor)) * double(inv255);
        int32_t value = truncate32(double(i) * factor + double(toneFloor));
        if (value > 255) {
            value = 255;
        }
        if (value < 0) {
            value = 0;
        }
        toneTable[i] = value;
    }

    int32_t fillAlpha = int32_t(fillColor >> 24);
    int32_t fillMode = 0;
    if (bytesPerPixel == 3 && fillAlpha == 0) {
        fillMode = 1;
    }
    if (bytesPerPixel == 4 && fillAlpha == 0) {
        fillMode = 2;
    }

    bool hostOutput = (renderFlags & 2) != 0;
    int32_t fillLeft = 0, fillTop = 0, fillRight = PreviewSize, fillBottom = PreviewSize;
    if (hostOutput) {
        renderFlags &= ~2;
        fillLeft = left;
        fillTop = top;
        fillRight = right;
        fillBottom = bottom;
    }
    bool antialiasOn = renderFlags != 0;

    int32_t fillBytes[3];
    if (hostOutput) {
        fillBytes[0] = int32_t(fillColor & 0xFF);
        fillBytes[1] = int32_t((fillColor >> 8) & 0xFF);
        fillBytes[2] = int32_t((fillColor >> 16) & 0xFF);
    } else {
        fillBytes[0] = int32_t((fillColor >> 16) & 0xFF);
        fillBytes[1] = int32_t((fillColor >> 8) & 0xFF);
        fillBytes[2] = int32_t(fillColor & 0xFF);
    }
    if (fillMode == 1 || fillMode == 2) {
        fillBytes[0] = fillBytes[1] = fillBytes[2] = 224;
    }

    int32_t H = cellHeight < 2 ? 2 : cellHeight;
    int32_t W = cellWidth < 2 ? 2 : cellWidth;

    float sx = float(double(skewX) * double(c002));
    float sy = float(double(skewY) * double(c002));
    if (sx > c0999) {
        sx = c09999;
    }
    if (sx < -c0999) {
        sx = -c09999;
    }
    if (sy > c0999) {
        sy = c09999;
    }
    if (sy < -c0999) {
        sy = -c09999;
    }
    float k = float(double(sy) * double(sx));
    float ratio = float((double(k) + 1.0) / (1.0 - double(k)));

    // Shading constants.
    float s = float(1.0 - double(shading) * double(c001));
    float factorTL = 1.0f, factorTR = 1.0f, factorBL = 1.0f, factorBR = 1.0f;
    if (faceMode == 0) {
        factorTR = s;
        factorTL = s;
    } else if (faceMode == 1) {
        factorBR = s;
        factorTR = s;
    } else if (faceMode == 2) {
        factorTR = s;
        factorBL = s;
    }
    float lightGainV = float((double(lightV) * 1.5) / ((double(H) * (double(k) + 1.0)) * 50.0));
    float lightGainH = float((double(lightH) * 1.5) / ((double(W) * (double(k) + 1.0)) * 50.0));
    float dark = 0.0f;
    if (lightV < 0) {
        dark = float(double(lightV) * double(c003));
    }
    if (lightH < 0) {
        dark = float(double(dark) + double(lightH) * double(c003));
    }
    if (shading < 0) {
        dark = float(double(dark) + double(shading) * double(c001));
    }
    float boost = float(double(brightnessBoost) *
                        (std::fabs(double(shading)) * double(c001) +
                         (std::fabs(double(lightV)) + std::fabs(double(lightH))) * double(c003)) *
                        double(c0005));
    float shadeOffset = float(double(boost) + double(dark));

    // Products formed once per call.
    float hk1 = float(double(H) * (1.0 + double(k)));
    float wk1 = float(double(W) * (1.0 + double(k)));
    float hk1m = float(double(H) * (1.0 - double(k)));
    float wk1m = float(double(W) * (1.0 - double(k)));
    float sxH2 = float(2.0 * double(sx) * double(H));
    float syW2 = float(2.0 * double(sy) * double(W));

    float bevelBase = float(double(hk1 < wk1 ? hk1 : wk1) * double(bevel) * double(c002));
    float b1 = bevelBase;
    if (b1 < 2.0f) {
        b1 = 2.0f;
    }
    float b2 = float(double(bevelBase) / ((1.0 + double(k)) / (1.0 - double(k))));
    if (b2 < 2.0f) {
        b2 = 2.0f;
    }

    // The source scale. A zero denominator (cells as large as the rectangle) maps nothing, and so
    // does a rectangle lying wholly at negative coordinates.
    double denY = double(bottom) - std::fabs(double(sy)) * double(W);
    double denX = double(right) - std::fabs(double(sx)) * double(H);
    bool mapsNothing = denY == 0.0 || denX == 0.0 || right <= 0 || bottom <= 0;
    float zoom = 0.0f;
    if (!mapsNothing) {
        double zy = double(bottom) / denY;
        double zx = double(right) / denX;
        double Z = zy;
        if (zx > zy) {
            Z = zx;
        }
        zoom = float(((1.0 - double(k)) / (1.0 + double(k)) + 1.0) * Z * 0.5);
    }

    // Pass 1.
    for (int32_t y = fillTop; y < fillBottom; ++y) {
        for (int32_t x = fillLeft; x < fillRight; ++x) {
            uint8_t* px = dst + int64_t(y) * dstRowBytes + int64_t(x) * bytesPerPixel;
            for (int j = 0; j < channels; ++j) {
                px[j] = uint8_t(fillMode == 1 ? checkerShade(x, y) : fillBytes[j]);
            }
            if (bytesPerPixel == 4) {
                px[3] = uint8_t(fillAlpha);
            }
        }
    }

    // Pass 2.
    for (int32_t y = top; y < bottom; ++y) {
        if ((y & 7) == 7 && progress != nullptr) {
            int32_t result = progress(context, y, bottom);
            if ((result & 0xFFFF) != 0) {
                return result;
            }
        }
        if (mapsNothing) {
            continue;
        }
        float Y = float(double(int64_t(y) - int64_t(rowOffset)) + 0.5);
        int32_t r = Y >= 0.0f ? truncate32(double(Y) / double(H)) : -1;
        float Ysx = float(double(Y) * double(sx));

        for (int32_t x = left; x < right; ++x) {
            float X = float(double(int64_t(x) - int64_t(colOffset)) + 0.5);
            int32_t c = X >= 0.0f ? truncate32(double(X) / double(W)) : -1;

            float Xp;
            if (r & 1) {
                Xp = float(double(X) - (double(Y) - (double(r) + 1.0) * double(H)) * double(sx));
            } else {
                Xp = float((double(Y) - double(r) * double(H)) * double(sx) + double(X));
            }
            int32_t p = Xp >= 0.0f ? truncate32(double(Xp) / (2.0 * double(W))) : -1;

            float Yp;
            if (c & 1) {
                Yp = float((double(X) - (double(c) + 1.0) * double(W)) * double(sy) + double(Y));
            } else {
                Yp = float(double(Y) - (double(X) - double(c) * double(W)) * double(sy));
            }
            int32_t q = Yp >= 0.0f ? truncate32(double(Yp) / (2.0 * double(H))) : -1;

            double Xsy = double(X) * double(sy);
            double P = double(p);
            double Q = double(q);
            float A =
                float((double(Y) - Xsy) - ((2.0 * double(H) * Q + double(hk1)) - double(syW2) * P));
            float B = float(((double(Y) - double(syW2)) + Xsy) -
                            ((2.0 * double(H) * Q + double(syW2) * P) + double(hk1m)));
            float C = float((double(X) + double(Ysx)) -
                            ((2.0 * double(W) * P + double(sxH2) * Q) + double(wk1)));
            float D = float(((double(X) - double(Ysx)) + double(sxH2)) -
                            ((2.0 * double(W) * P + double(wk1m)) - double(sxH2) * Q));

            enum { TL, TR, BL, BR } cell;
            if (A < 0.0f && C < 0.0f) {
                cell = TL;
            } else if (A >= 0.0f && D < 0.0f) {
                cell = BL;
            } else if (B < 0.0f) {
                cell = TR;
            } else {
                cell = BR;
            }

            double Cx = (2.0 * P + 1.0) * double(wk1);
            double Cy = (2.0 * Q + 1.0) * double(hk1);
            float Xu, Yu;
            float t1, t2;
            float own, hn, vn, dn;
            double light;
            switch (cell) {
            case TL:
                Xu = float(Cx + double(C));
                Yu = float(Cy + double(A));
                t1 = float(0.5 - double(A) / double(b1));
                if (t1 > 1.0f) {
                    t1 = float((double(A) + double(hk1)) / double(b1) + 0.5);
                }
                t2 = float(0.5 - double(C) / double(b1));
                if (t2 > 1.0f) {
                    t2 = float((double(C) + double(wk1)) / double(b1) + 0.5);
                }
                own = factorTL, hn = factorTR, vn = factorBL, dn = factorBR;
                light = double(lightGainH) * double(C) + double(lightGainV) * double(A);
                break;
            case TR:
                Xu = float(Cx + double(C) * double(ratio));
                Yu = float(Cy + double(B) * double(ratio));
                t1 = float(0.5 - double(B) / double(b2));
                if (t1 > 1.0f) {
                    t1 = float((double(B) + double(hk1m)) / double(b2) + 0.5);
                }
                t2 = float(double(C) / double(b2) + 0.5);
                if (t2 > 1.0f) {
                    t2 = float(0.5 - (double(C) - double(wk1m)) / double(b2));
                }
                own = factorTR, hn = factorTL, vn = factorBR, dn = factorBL;
                light = (double(lightGainV) * double(B) - double(lightGainH) * double(C)) *
                        double(ratio);
                break;
            case BL:
                Xu = float(Cx + double(D) * double(ratio));
                Yu = float(Cy + double(A) * double(ratio));
                t1 = float(double(A) / double(b2) + 0.5);
                if (t1 > 1.0f) {
                    t1 = float(0.5 - (double(A) - double(hk1m)) / double(b2));
                }
                t2 = float(0.5 - double(D) / double(b2));
                if (t2 > 1.0f) {
                    t2 = float((double(D) + double(wk1m)) / double(b2) + 0.5);
                }
                own = factorBL, hn = factorBR, vn = factorTL, dn = factorTR;
                light = -(double(lightGainV) * double(A) - double(lightGainH) * double(D)) *
                        double(ratio);
                break;
            default:
                Xu = float(Cx + double(D));
                Yu = float(Cy + double(B));
                t1 = float(double(B) / double(b1) + 0.5);
                if (t1 > 1.0f) {
                    t1 = float(0.5 - (double(B) - double(hk1)) / double(b1));
                }
                t2 = float(double(D) / double(b1) + 0.5);
                if (t2 > 1.0f) {
                    t2 = float(0.5 - (double(D) - double(wk1)) / double(b1));
                }
                own = factorBR, hn = factorBL, vn = factorTR, dn = factorTL;
                light = -double(lightGainV) * double(B) - double(lightGainH) * double(D);
                break;
            }
            if (t1 > 1.0f) {
                t1 = 1.0f;
            }
            if (t1 < 0.0f) {
                t1 = 0.0f;
            }
            if (t2 > 1.0f) {
                t2 = 1.0f;
            }
            if (t2 < 0.0f) {
                t2 = 0.0f;
            }
            float u = float(1.0 - double(t1));
            float v = float(1.0 - double(t2));
            double F = double(own) * double(t1) * double(t2);
            F = F + double(hn) * double(t1) * double(v);
            F = F + double(vn) * double(u) * double(t2);
            F = F + double(dn) * double(u) * double(v);
            float S = float((F + light) + double(shadeOffset));

            float srcY = float(double(zoom) * double(Yu) + double(srcOffsetY));
            if (!(double(srcY) >= double(top) && double(srcY) < double(bottom))) {
                continue;
            }
            float srcX = float(double(zoom) * double(Xu) + double(srcOffsetX));
            if (!(double(srcX) >= double(left) && double(srcX) < double(right))) {
                continue;
            }
            int32_t ix = truncate32(double(srcX));
            int32_t iy = truncate32(double(srcY));
            float fx = float(double(srcX) - double(ix));
            float fy = float(double(srcY) - double(iy));

            // Sampling, mask, border flags, colour, preview transparency, alpha.
            float w00 = float((1.0 - double(fx)) * (1.0 - double(fy)));
            float w01 = float(double(fx) * (1.0 - double(fy)));
            float w10 = float((1.0 - double(fx)) * double(fy));
            float w11 = float(double(fx) * double(fy));

            auto offsets = [&](int64_t R, int64_t P, int64_t o[4]) {
                o[0] = int64_t(iy) * R + int64_t(ix) * P;
                o[2] = iy <= bottom - 2 ? o[0] + R : o[0];
                if (ix > right - 2) {
                    o[1] = o[0];
                    o[3] = o[2];
                } else {
                    o[1] = o[0] + P;
                    o[3] = o[2] + P;
                }
            };
            int64_t so[4];
            offsets(srcRowBytes, bytesPerPixel, so);
            int64_t mo[4];
            offsets(maskRowBytes, 1, mo);

            int32_t maskSum = 1;
            float m[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            int32_t edgeFlags = 0;
            if (haveMask) {
                int32_t M[4];
                for (int n = 0; n < 4; ++n) {
                    M[n] = mask[mo[n]];
                }
                maskSum = M[0] + M[1] + M[2] + M[3];
                if (maskSum == 0) {
                    continue;
                }
                if (antialiasOn) {
                    edgeFlags = 15;
                    if (maskSum != 1020) {
                        for (int n = 0; n < 4; ++n) {
                            m[n] = float(double(M[n]) * double(inv255));
                        }
                    }
                } else if (M[0] < 128) {
                    continue;
                }
            }
            if (antialiasOn) {
                if (double(srcY) < double(top) + 1.0) {
                    edgeFlags |= 3;
                }
                if (double(srcX) < double(left) + 1.0) {
                    edgeFlags |= 5;
                }
                if (double(srcY) > double(bottom) - 1.0) {
                    edgeFlags |= 12;
                }
                if (double(srcX) > double(right) - 1.0) {
                    edgeFlags |= 10;
                }
            } else {
                edgeFlags = 0;
            }

            int32_t O[3] = {fillBytes[0], fillBytes[1], fillBytes[2]};
            if (fillMode == 1) {
                O[0] = O[1] = O[2] = checkerShade(x, y);
            }

            uint8_t* out = dst + int64_t(y) * dstRowBytes + int64_t(x) * bytesPerPixel;
            for (int j = channels - 1; j >= 0; --j) {
                int32_t cs[4];
                for (int n = 0; n < 4; ++n) {
                    cs[n] = toneTable[src[so[n] + j]];
                }
                if (edgeFlags != 0 && fillMode < 2 && maskSum != 1020) {
                    for (int n = 0; n < 4; ++n) {
                        if (edgeFlags & (1 << n)) {
                            if (S == 0.0f) {
                                cs[n] = 0; // multiplied by S = 0 below whatever it is
                            } else {
                                cs[n] =
                                    truncate32(double(cs[n]) * double(m[n]) +
                                               (double(O[j]) * (1.0 - double(m[n]))) / double(S));
                            }
                        }
                    }
                }
                double sum = double(cs[1]) * double(w01) + double(cs[0]) * double(w00);
                sum = sum + double(cs[2]) * double(w10);
                sum = sum + double(cs[3]) * double(w11);
                out[j] = uint8_t(truncateByte(sum * double(S)));
            }

            if (planes > 3 && bytesPerPixel == 3 && previewAlpha != nullptr) {
                float As[4];
                for (int n = 0; n < 4; ++n) {
                    As[n] = float(previewAlpha[mo[n]]);
                }
                if (edgeFlags != 0 && maskSum != 1020) {
                    for (int n = 0; n < 4; ++n) {
                        if (edgeFlags & (1 << n)) {
                            As[n] = float(double(As[n]) * double(m[n]) +
                                          (1.0 - double(m[n])) * double(fillAlpha));
                        }
                    }
                }
                double asum = double(As[2]) * double(w10) + double(As[3]) * double(w11);
                asum = asum + double(As[0]) * double(w00);
                asum = asum + double(As[1]) * double(w01);
                int32_t a = truncateByte(asum);
                int32_t g = checkerShade(x, y);
                float a1 = float(double(a) * double(inv255));
                for (int j = 0; j < 3; ++j) {
                    double d = double(out[j]);
                    out[j] = uint8_t(truncate32(d * double(a1) + (1.0 - double(a1)) * double(g)));
                }
            }

            if (bytesPerPixel == 4) {
                int32_t alpha;
                if (antialiasOn) {
                    int32_t as[4];
                    for (int n = 0; n < 4; ++n) {
                        as[n] = src[so[n] + 3];
                    }
                    if (edgeFlags != 0 && maskSum != 1020) {
                        for (int n = 0; n < 4; ++n) {
                            if (edgeFlags & (1 << n)) {
                                as[n] = truncate32((1.0 - double(m[n])) * double(fillAlpha) +
                                                   double(as[n]) * double(m[n]));
                            }
                        }
                    }
                    double asum = double(as[0]) * double(w00) + double(as[1]) * double(w01);
                    asum = asum + double(as[2]) * double(w10);
                    asum = asum + double(as[3]) * double(w11);
                    alpha = truncateByte(asum);
                } else {
                    alpha = src[so[0] + 3];
                }
                out[3] = uint8_t(alpha);
            }
        }
    }
    return 0;
}

int32_t runEngine(const EngineCall& c)
{
    return RenderEngine(c.context, c.cellHeight, c.cellWidth, c.skewX, c.skewY, c.lightV, c.lightH,
                        c.shading, c.toneFloor, c.brightnessBoost, c.bevel, c.faceMode, c.left,
                        c.top, c.right, c.bottom, c.src, c.srcRowBytes, c.dst, c.dstRowBytes,
                        c.mask, c.maskRowBytes, c.previewAlpha, c.rowOffset, c.srcOffsetY,
                        c.colOffset, c.srcOffsetX, c.renderFlags, c.fillColor, c.bytesPerPixel,
                        c.progress, c.threads);
}

int32_t runReference(const EngineCall& c)
{
    return referenceRenderEngine(c.context, c.cellHeight, c.cellWidth, c.skewX, c.skewY, c.lightV,
                                 c.lightH, c.shading, c.toneFloor, c.brightnessBoost, c.bevel,
                                 c.faceMode, c.left, c.top, c.right, c.bottom, c.src, c.srcRowBytes,
                                 c.dst, c.dstRowBytes, c.mask, c.maskRowBytes, c.previewAlpha,
                                 c.rowOffset, c.srcOffsetY, c.colOffset, c.srcOffsetX,
                                 c.renderFlags, c.fillColor, c.bytesPerPixel, c.progress);
}

} // namespace oryn
