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
#include <vector>

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

// Quads along one axis tried one by one; beyond this many, the ones between the first and the
// last are taken together.
constexpr int ExactQuads = 64;

// The range of e (or u) in one quad, or in a run of quads taken together (index NaN).
struct QuadRange {
    Range range;
    double index; // q (or p), or NaN for several
};

// The ranges of e (or u) in the quads that [lo, hi] (a range of Y, or X) and a zigzag shift in
// [shiftLo, shiftHi] reach: e = Y - 2Hq where 2Hq <= Y + shift < 2Hq + 2H (q = -1 for every
// negative Y + shift). Each quad gives its own range, up to ExactQuads of them; in a longer run
// the first and the last do, and every quad between them fits in the whole quad's range.
int quadRanges(double lo, double hi, double shiftLo, double shiftHi, double n2, double eps,
               std::vector<QuadRange>& out)
{
    out.clear();
    const double first = bandOf(lo + shiftLo - eps, n2);
    const double last = bandOf(hi + shiftHi + eps, n2);
    auto add = [&](double qLo, double qHi, double index) {
        Range r;
        r.lo = lo - n2 * qHi;
        r.hi = hi - n2 * qLo;
        if (qLo >= 0.0)
            r.lo = std::max(r.lo, -shiftHi - eps);
        r.hi = std::min(r.hi, n2 - shiftLo + eps);
        if (!r.empty())
            out.push_back({r, index});
    };
    if (last - first < double(ExactQuads)) {
        for (double q = first; q <= last; q += 1.0)
            add(q, q, q);
    } else {
        add(first, first, first);
        add(last, last, last);
        add(first + 1.0, last - 1.0, std::nan(""));
    }
    return int(out.size());
}

// A convex polygon in the (e, u) plane.
struct Polygon {
    static constexpr int Capacity = 32;
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

// Keeps the part of `p` where the source position lies inside the source (within the margin):
// top <= srcY < bottom and left <= srcX < right. Pixels outside it are skipped, never read.
void clipToSource(Polygon& p, const Linear& posY, const Linear& posX, const RenderCall& call,
                  double margin)
{
    clip(p, -posY.fe, -posY.fu, double(call.top) - margin - posY.f0);
    clip(p, posY.fe, posY.fu, posY.f0 - double(call.bottom) - margin);
    clip(p, -posX.fe, -posX.fu, double(call.left) - margin - posX.f0);
    clip(p, posX.fe, posX.fu, posX.f0 - double(call.right) - margin);
}

// One cell's polygon in one quad (q, p), where Y = e + 2Hq and X = u + 2Wp are known: split by
// the row bands r and column bands c it crosses, in each of which the zigzag shifts are linear,
// so that the quad's own tests (0 <= Y + lift - 2Hq < 2H, 0 <= X + shift - 2Wp < 2W) cut it
// exactly; then cut to the source and measured. Returns false, measuring nothing, when the
// cell crosses too many bands for that to be worth it (cells far wider than high, or the
// reverse).
bool evaluateBands(const Polygon& cell, double q, double p, double H, double W, double sx,
                   double sy, double eps, const Linear& posY, const Linear& posX,
                   const RenderCall& call, double margin, Range& srcY, Range& srcX)
{
    Range er, ur;
    for (int i = 0; i < cell.count; ++i) {
        er.add(cell.e[i]);
        ur.add(cell.u[i]);
    }
    const double rFirst = bandOf(er.lo + 2.0 * H * q - eps, H);
    const double rLast = bandOf(er.hi + 2.0 * H * q + eps, H);
    const double cFirst = bandOf(ur.lo + 2.0 * W * p - eps, W);
    const double cLast = bandOf(ur.hi + 2.0 * W * p + eps, W);
    if ((rLast - rFirst + 1.0) * (cLast - cFirst + 1.0) > 64.0)
        return false;
    for (double r = rFirst; r <= rLast; r += 1.0) {
        // Row band r: its e range and the horizontal shift sx tri(Y) = Su e + S0 in it.
        double eLo, eHi, Su, S0;
        if (r < 0.0) {
            eLo = -HUGE_VAL, eHi = -2.0 * H * q;
            Su = -sx, S0 = -sx * 2.0 * H * q;
        } else {
            eLo = r * H - 2.0 * H * q, eHi = (r + 1.0) * H - 2.0 * H * q;
            if (std::fmod(r, 2.0) == 0.0)
                Su = sx, S0 = sx * (2.0 * H * q - r * H);
            else
                Su = -sx, S0 = sx * ((r + 1.0) * H - 2.0 * H * q);
        }
        for (double c = cFirst; c <= cLast; c += 1.0) {
            double uLo, uHi, Lu, L0;
            if (c < 0.0) {
                uLo = -HUGE_VAL, uHi = -2.0 * W * p;
                Lu = sy, L0 = sy * 2.0 * W * p;
            } else {
                uLo = c * W - 2.0 * W * p, uHi = (c + 1.0) * W - 2.0 * W * p;
                if (std::fmod(c, 2.0) == 0.0)
                    Lu = -sy, L0 = -sy * (2.0 * W * p - c * W);
                else
                    Lu = sy, L0 = sy * (2.0 * W * p - (c + 1.0) * W);
            }
            Polygon piece = cell;
            if (eLo > -HUGE_VAL)
                clip(piece, -1.0, 0.0, eLo - eps);
            clip(piece, 1.0, 0.0, -eHi - eps);
            if (uLo > -HUGE_VAL)
                clip(piece, 0.0, -1.0, uLo - eps);
            clip(piece, 0.0, 1.0, -uHi - eps);
            // The quad: e + lift in [0, 2H) (no lower end for q = -1), u + shift in [0, 2W).
            if (q >= 0.0)
                clip(piece, -1.0, -Lu, -L0 - eps);
            clip(piece, 1.0, Lu, L0 - 2.0 * H - eps);
            if (p >= 0.0)
                clip(piece, -Su, -1.0, -S0 - eps);
            clip(piece, Su, 1.0, S0 - 2.0 * W - eps);
            if (piece.count == 0)
                continue;
            clipToSource(piece, posY, posX, call, margin);
            for (int i = 0; i < piece.count; ++i) {
                srcY.add(posY.at(piece.e[i], piece.u[i]));
                srcX.add(posX.at(piece.e[i], piece.u[i]));
            }
        }
    }
    return true;
}

} // namespace

PixelArea sourceAreaFor(const RenderCall& call, const PixelArea& area)
{
    PixelArea none;
    const int32_t x0 = std::max(area.left, call.left), x1 = std::min(area.right, call.right);
    const int32_t y0 = std::max(area.top, call.top), y1 = std::min(area.bottom, call.bottom);
    if (x0 >= x1 || y0 >= y1 || call.bytesPerPixel < 1)
        return none;
    const RenderArgs args = hostRenderArgs(call);
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
    const double M =
        std::max({std::fabs(Ylo), std::fabs(Yhi), std::fabs(Xlo), std::fabs(Xhi)}) + 4.0 * (H + W);
    // Each kept value is rounded once, at most 2^-24 of M off; a split distance or zigzag value
    // goes through a few of them. The margins allow eight times more than that.
    const double eps = M * (1.0 / 524288.0) + 1e-3;

    // The vertical shift of the zigzag depends on the column, the horizontal one on the row.
    const Range triW = triangleRange(Xlo, Xhi, W);
    const Range triH = triangleRange(Ylo, Yhi, H);
    const double liftLo = std::min(-sy * triW.lo, -sy * triW.hi);
    const double liftHi = std::max(-sy * triW.lo, -sy * triW.hi);
    const double shiftLo = std::min(sx * triH.lo, sx * triH.hi);
    const double shiftHi = std::max(sx * triH.lo, sx * triH.hi);
    std::vector<QuadRange> eRanges, uRanges;
    quadRanges(Ylo, Yhi, liftLo, liftHi, 2.0 * H, eps, eRanges);
    quadRanges(Xlo, Xhi, shiftLo, shiftHi, 2.0 * W, eps, uRanges);

    const HalfPlane aNeg = {1.0, -sy, -H * (1.0 + k) - eps}; // A < 0
    const HalfPlane aPos = {-1.0, sy, H * (1.0 + k) - eps};  // A >= 0
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

    // The margin of a source position: the roundings of the zoom product and of everything
    // before it, the source scale included (a large zoom multiplies them too).
    const double scaleMargin = 1.0 + ratio;
    const double reach =
        std::fabs(zoom) * scaleMargin * M +
        std::max(std::fabs(double(call.srcOffsetX)), std::fabs(double(call.srcOffsetY))) +
        std::max({std::fabs(double(call.left)), std::fabs(double(call.right)),
                  std::fabs(double(call.top)), std::fabs(double(call.bottom))});
    const double margin = reach * (1.0 / 262144.0) + 0.01;

    // In one quad (q, p) the row and column values are Y = e + 2Hq and X = u + 2Wp, so the
    // source position is linear in (e, u) too, and the pixels it puts outside the source (which
    // are skipped, never read) are cut away as well. For quads taken together, the position is
    // the linear part plus the range of Y(1 + k) or X(1 + k).
    Range srcY, srcX;
    for (const QuadRange& qr : eRanges) {
        const Range& er = qr.range;
        const bool exactQ = !std::isnan(qr.index);
        for (const QuadRange& pr : uRanges) {
            const Range& ur = pr.range;
            const bool exactP = !std::isnan(pr.index);
            for (const Piece& piece : pieces) {
                // zoom (Y(1 + k) + g) + offset, with Y = e + 2Hq when q is known.
                Linear posY = {zoom * piece.g.fe, zoom * piece.g.fu,
                               zoom * piece.g.f0 + double(call.srcOffsetY)};
                Linear posX = {zoom * piece.h.fe, zoom * piece.h.fu,
                               zoom * piece.h.f0 + double(call.srcOffsetX)};
                if (exactQ) {
                    posY.fe += zoom * (1.0 + k);
                    posY.f0 += zoom * (1.0 + k) * 2.0 * H * qr.index;
                }
                if (exactP) {
                    posX.fu += zoom * (1.0 + k);
                    posX.f0 += zoom * (1.0 + k) * 2.0 * W * pr.index;
                }
                Polygon p;
                p.count = 4;
                p.e[0] = er.lo, p.u[0] = ur.lo;
                p.e[1] = er.hi, p.u[1] = ur.lo;
                p.e[2] = er.hi, p.u[2] = ur.hi;
                p.e[3] = er.lo, p.u[3] = ur.hi;
                for (int i = 0; i < piece.planeCount && p.count > 0; ++i)
                    clip(p, piece.planes[i].a, piece.planes[i].b, piece.planes[i].c);
                if (exactQ && exactP && p.count > 0 &&
                    evaluateBands(p, qr.index, pr.index, H, W, sx, sy, eps, posY, posX, call,
                                  margin, srcY, srcX))
                    continue;
                // Inside the source: top <= srcY < bottom, left <= srcX < right.
                if (exactQ && p.count > 0) {
                    clip(p, -posY.fe, -posY.fu, double(call.top) - margin - posY.f0);
                    clip(p, posY.fe, posY.fu, posY.f0 - double(call.bottom) - margin);
                }
                if (exactP && p.count > 0) {
                    clip(p, -posX.fe, -posX.fu, double(call.left) - margin - posX.f0);
                    clip(p, posX.fe, posX.fu, posX.f0 - double(call.right) - margin);
                }
                for (int i = 0; i < p.count; ++i) {
                    const double py = posY.at(p.e[i], p.u[i]);
                    const double px = posX.at(p.e[i], p.u[i]);
                    if (exactQ) {
                        srcY.add(py);
                    } else {
                        srcY.add(py + zoom * (1.0 + k) * Ylo);
                        srcY.add(py + zoom * (1.0 + k) * Yhi);
                    }
                    if (exactP) {
                        srcX.add(px);
                    } else {
                        srcX.add(px + zoom * (1.0 + k) * Xlo);
                        srcX.add(px + zoom * (1.0 + k) * Xhi);
                    }
                }
            }
        }
    }
    if (srcY.empty() || srcX.empty())
        return none;
    srcY.lo -= margin, srcY.hi += margin;
    srcX.lo -= margin, srcX.hi += margin;
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
