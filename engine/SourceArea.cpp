// Which source pixels a part of the output reads (sourceAreaFor).
//
// Write e = Y - 2Hq and u = X - 2Wp for a pixel's place in its quad (Y, X its row and column
// values, q, p its quad). The split distances are linear in (e, u):
//   A = e - sy u - H(1 + k)            B = e + sy u - 2 sy W - H(1 - k)
//   C = u + sx e - W(1 + k)            D = u - sx e + 2 sx H - W(1 - k)
// and so is the unscaled source position, minus Y(1 + k) and X(1 + k):
//   TL  Yu - Y(1 + k) = -k e - sy u                   Xu - X(1 + k) = -k u + sx e
//   BR                  -k e + 2Hk - 2 sy W + sy u                   -k u + 2Wk - sx e + 2 sx H
//   TR                  ratio (k e - 2 sy W + sy u)                  ratio (k u - 2kW + sx e)
//   BL                  ratio (k e - 2kH - sy u)                     ratio (k u - sx e + 2 sx H)
// The quads a part's pixels can lie in follow from the ranges of the zigzag shifts over the
// part's rows and columns, and each quad bounds e and u to a box. In each box the cell tests
// (TL: A < 0 and C < 0; BL: A >= 0 and D < 0; TR: B < 0 and neither; BR: the rest) cut out
// convex polygons, and a linear function is extreme at their corners. Every test and bound is
// widened by a margin that covers the renderer's roundings to single precision.
#include "engine/RenderArea.h"

#include <algorithm>
#include <cmath>

#include "engine/RenderEngine.h"
#include "engine/RenderMath.h"

namespace oryn {

namespace {

struct Range {
    double lo = HUGE_VAL, hi = -HUGE_VAL;

    void add(double v)
    {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    bool empty() const { return !(lo <= hi); }
};

// The triangle wave of the zigzag shifts, tri(v) = v - cn (c = trunc(v / n) even) or
// (c + 1) n - v (c odd), and -v for negative v: its range over [lo, hi].
Range triangleRange(double lo, double hi, double n)
{
    Range r;
    if (lo < 0.0) {
        r.add(-lo);
        r.add(-std::min(hi, 0.0));
    }
    if (hi >= 0.0) {
        const double a = std::max(lo, 0.0);
        if (hi - a >= 2.0 * n) {
            r.add(0.0);
            r.add(n);
        } else {
            auto tri = [n](double v) {
                const double c = std::floor(v / n);
                const double t = v - c * n;
                return std::fmod(c, 2.0) == 0.0 ? t : n - t;
            };
            r.add(tri(a));
            r.add(tri(hi));
            // The wave's corners between a and hi: 0 at even multiples of n, n at odd ones.
            for (double m = std::floor(a / n) + 1.0; m * n <= hi; m += 1.0) {
                r.add(std::fmod(m, 2.0) == 0.0 ? 0.0 : n);
            }
        }
    }
    return r;
}

// The band index of the renderer: trunc(v / n) for v >= 0, -1 below.
double bandOf(double v, double n)
{
    return v >= 0.0 ? std::floor(v / n) : -1.0;
}

// The ranges of e (or u) in the quads that [lo, hi] (a range of Y, or X) and a zigzag shift in
// [shiftLo, shiftHi] reach: e = Y - 2Hq where 2Hq <= Y + shift < 2Hq + 2H (q = -1 for every
// negative Y + shift). The first and the last quad each give a range of their own; every quad
// between them fits in the whole quad's range. At most three ranges.
int quadRanges(double lo, double hi, double shiftLo, double shiftHi, double n2, double eps,
               Range out[3])
{
    const double first = bandOf(lo + shiftLo - eps, n2);
    const double last = bandOf(hi + shiftHi + eps, n2);
    auto rangeFor = [&](double qLo, double qHi) {
        Range r;
        r.lo = lo - n2 * qHi;
        r.hi = hi - n2 * qLo;
        if (qLo >= 0.0)
            r.lo = std::max(r.lo, -shiftHi - eps);
        r.hi = std::min(r.hi, n2 - shiftLo + eps);
        return r;
    };
    int count = 0;
    out[count++] = rangeFor(first, first);
    if (last > first)
        out[count++] = rangeFor(last, last);
    if (last - first >= 2.0)
        out[count++] = rangeFor(first + 1.0, last - 1.0);
    return count;
}

// A convex polygon in the (e, u) plane.
struct Polygon {
    static constexpr int Capacity = 16;
    double e[Capacity], u[Capacity];
    int count = 0;
};

// Keeps the part of `p` where a e + b u + c <= 0.
void clip(Polygon& p, double a, double b, double c)
{
    Polygon out;
    for (int i = 0; i < p.count; ++i) {
        const int j = (i + 1) % p.count;
        const double vi = a * p.e[i] + b * p.u[i] + c;
        const double vj = a * p.e[j] + b * p.u[j] + c;
        if (vi <= 0.0 && out.count < Polygon::Capacity) {
            out.e[out.count] = p.e[i];
            out.u[out.count++] = p.u[i];
        }
        if ((vi < 0.0 && vj > 0.0) || (vi > 0.0 && vj < 0.0)) {
            const double t = vi / (vi - vj);
            if (out.count < Polygon::Capacity) {
                out.e[out.count] = p.e[i] + t * (p.e[j] - p.e[i]);
                out.u[out.count++] = p.u[i] + t * (p.u[j] - p.u[i]);
            }
        }
    }
    p = out;
}

// A linear function f(e, u) = fe e + fu u + f0.
struct Linear {
    double fe, fu, f0;
    double at(double e, double u) const { return fe * e + fu * u + f0; }
};

// A half-plane a e + b u + c <= 0.
struct HalfPlane {
    double a, b, c;
};

PixelArea wholeRectangle(const RenderCall& call)
{
    PixelArea r;
    r.left = call.left, r.top = call.top, r.right = call.right, r.bottom = call.bottom;
    return r;
}

// The pixels [first, last] of one axis whose samples a position range [lo, hi] reaches, within
// [begin, end): trunc of the position and the next pixel, unless that is past the last.
bool pixelsFor(double lo, double hi, int32_t begin, int32_t end, int32_t& from, int32_t& to)
{
    const double b = begin, e = end;
    lo = std::max(lo, b);
    hi = std::min(hi, e);
    if (!(lo <= hi) || lo >= e)
        return false;
    const double first = std::trunc(lo);
    const double last = std::trunc(hi);
    from = std::max(begin, int32_t(first));
    to = int32_t(std::min(int64_t(end), int64_t(last) + 2));
    return to > from;
}

} // namespace

PixelArea sourceAreaFor(const RenderCall& call, const PixelArea& area)
{
    PixelArea none;
    const int32_t x0 = std::max(area.left, call.left), x1 = std::min(area.right, call.right);
    const int32_t y0 = std::max(area.top, call.top), y1 = std::min(area.bottom, call.bottom);
    if (x0 >= x1 || y0 >= y1 || call.bytesPerPixel < 1)
        return none;
    const RenderArgs args = {call.cellHeight, call.cellWidth, call.skewX, call.skewY,
                             call.lightV, call.lightH, call.shading, call.toneFloor,
                             call.brightnessBoost, call.bevel, call.faceMode, call.left,
                             call.top, call.right, call.bottom,
                             call.renderFlags | HostOutputFlag, call.fillColor,
                             call.bytesPerPixel};
    RenderSetup s;
    prepareRender(args, s);
    if (s.mapsNothing)
        return none;

    const double H = s.H, W = s.W;
    const double sx = s.sx, sy = s.sy, k = s.k, ratio = s.ratio, zoom = s.zoom;
    // Row and column values of the part's first and last pixels, as the renderer forms them.
    const double Ylo = float(double(int64_t(y0) - call.rowOffset) + 0.5);
    const double Yhi = float(double(int64_t(y1) - 1 - call.rowOffset) + 0.5);
    const double Xlo = float(double(int64_t(x0) - call.colOffset) + 0.5);
    const double Xhi = float(double(int64_t(x1) - 1 - call.colOffset) + 0.5);
    // Every quantity of the mapping is at most about this large; the renderer's roundings to
    // single precision move each by at most 2^-24 of it, a few times over.
    const double M = std::max({std::fabs(Ylo), std::fabs(Yhi), std::fabs(Xlo), std::fabs(Xhi)}) +
                     4.0 * (H + W);
    const double eps = M * (1.0 / 65536.0) + 1e-3;

    // The vertical shift of the zigzag depends on the column, the horizontal one on the row.
    const Range triW = triangleRange(Xlo, Xhi, W);
    const Range triH = triangleRange(Ylo, Yhi, H);
    const double liftLo = std::min(-sy * triW.lo, -sy * triW.hi);
    const double liftHi = std::max(-sy * triW.lo, -sy * triW.hi);
    const double shiftLo = std::min(sx * triH.lo, sx * triH.hi);
    const double shiftHi = std::max(sx * triH.lo, sx * triH.hi);
    Range eRanges[3], uRanges[3];
    const int eCount = quadRanges(Ylo, Yhi, liftLo, liftHi, 2.0 * H, eps, eRanges);
    const int uCount = quadRanges(Xlo, Xhi, shiftLo, shiftHi, 2.0 * W, eps, uRanges);

    const HalfPlane aNeg = {1.0, -sy, -H * (1.0 + k) - eps};            // A < 0
    const HalfPlane aPos = {-1.0, sy, H * (1.0 + k) - eps};             // A >= 0
    const HalfPlane bNeg = {1.0, sy, -2.0 * sy * W - H * (1.0 - k) - eps};
    const HalfPlane bPos = {-1.0, -sy, 2.0 * sy * W + H * (1.0 - k) - eps};
    const HalfPlane cNeg = {sx, 1.0, -W * (1.0 + k) - eps};
    const HalfPlane cPos = {-sx, -1.0, W * (1.0 + k) - eps};
    const HalfPlane dNeg = {-sx, 1.0, 2.0 * sx * H - W * (1.0 - k) - eps};
    const HalfPlane dPos = {sx, -1.0, -2.0 * sx * H + W * (1.0 - k) - eps};
    struct Piece {
        Linear g, h;
        HalfPlane planes[3];
        int planeCount;
    };
    const Linear gTL = {-k, -sy, 0.0}, hTL = {sx, -k, 0.0};
    const Linear gBR = {-k, sy, 2.0 * H * k - 2.0 * sy * W};
    const Linear hBR = {-sx, -k, 2.0 * W * k + 2.0 * sx * H};
    const Linear gTR = {ratio * k, ratio * sy, -ratio * 2.0 * sy * W};
    const Linear hTR = {ratio * sx, ratio * k, -ratio * 2.0 * k * W};
    const Linear gBL = {ratio * k, -ratio * sy, -ratio * 2.0 * k * H};
    const Linear hBL = {-ratio * sx, ratio * k, ratio * 2.0 * sx * H};
    const Piece pieces[6] = {
        {gTL, hTL, {aNeg, cNeg, cNeg}, 2}, {gBL, hBL, {aPos, dNeg, dNeg}, 2},
        {gTR, hTR, {bNeg, aPos, dPos}, 3}, {gTR, hTR, {bNeg, aNeg, cPos}, 3},
        {gBR, hBR, {bPos, aPos, dPos}, 3}, {gBR, hBR, {bPos, aNeg, cPos}, 3},
    };

    Range g, h;
    for (int ie = 0; ie < eCount; ++ie) {
        const Range& er = eRanges[ie];
        if (er.empty())
            continue;
        for (int iu = 0; iu < uCount; ++iu) {
            const Range& ur = uRanges[iu];
            if (ur.empty())
                continue;
            for (const Piece& piece : pieces) {
                Polygon p;
                p.count = 4;
                p.e[0] = er.lo, p.u[0] = ur.lo;
                p.e[1] = er.hi, p.u[1] = ur.lo;
                p.e[2] = er.hi, p.u[2] = ur.hi;
                p.e[3] = er.lo, p.u[3] = ur.hi;
                for (int i = 0; i < piece.planeCount && p.count > 0; ++i)
                    clip(p, piece.planes[i].a, piece.planes[i].b, piece.planes[i].c);
                for (int i = 0; i < p.count; ++i) {
                    g.add(piece.g.at(p.e[i], p.u[i]));
                    h.add(piece.h.at(p.e[i], p.u[i]));
                }
            }
        }
    }
    if (g.empty() || h.empty())
        return none;

    const double scaleMargin = 1.0 + ratio + 1.0 / ratio;
    auto positions = [&](double lo, double hi, double offset, Range& out) {
        const double a = zoom * lo + offset, b = zoom * hi + offset;
        const double size = std::max(std::fabs(a), std::fabs(b)) + std::fabs(zoom) * scaleMargin * M;
        const double margin = size * (1.0 / 65536.0) + 0.01;
        out.lo = std::min(a, b) - margin;
        out.hi = std::max(a, b) + margin;
    };
    Range srcY, srcX;
    positions((1.0 + k) * Ylo + g.lo, (1.0 + k) * Yhi + g.hi, call.srcOffsetY, srcY);
    positions((1.0 + k) * Xlo + h.lo, (1.0 + k) * Xhi + h.hi, call.srcOffsetX, srcX);
    if (!std::isfinite(srcY.lo) || !std::isfinite(srcY.hi) || !std::isfinite(srcX.lo) ||
        !std::isfinite(srcX.hi))
        return wholeRectangle(call);

    PixelArea r;
    if (!pixelsFor(srcY.lo, srcY.hi, call.top, call.bottom, r.top, r.bottom) ||
        !pixelsFor(srcX.lo, srcX.hi, call.left, call.right, r.left, r.right))
        return none;
    return r;
}

} // namespace oryn
