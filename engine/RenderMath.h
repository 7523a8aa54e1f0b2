// Per-call constants and per-pixel arithmetic of the relief renderer, shared with its tests.
//
// Cell placement, zigzag, source mapping and shade. RenderEngine.cpp runs its loops over these;
// tests read them directly.
//
// Number rules: quantities that the renderer keeps are float; every product, sum and quotient
// is formed in double from those floats and rounded to float only where a quantity is kept.
// Conversions to integers truncate toward zero. Each expression below is written out with
// explicit double operands for that reason; changing an operand's type changes output bytes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace oryn {

// Single-precision constants of the renderer (the float nearest each decimal; InvByte is the
// float the renderer uses for 1/255, slightly above it).
constexpr float Step002 = 0.02f;
constexpr float Step003 = 0.03f;
constexpr float Step001 = 0.01f;
constexpr float Step0005 = 0.005f;
constexpr float SlopeLimit = 0.999f;
constexpr float SlopeClamp = 0.9999f;
constexpr float InvByte = 0.0039215689f;

// Truncation toward zero into int32. Out-of-range values give the nearer end of the range and
// NaN gives INT32_MIN, so no conversion is undefined. For in-range values this is plain trunc.
inline int32_t truncSaturate(double v)
{
    // std::max(lo, NaN) is lo: the comparison with NaN is false.
    double c = std::min(std::max(-2147483648.0, v), 2147483647.0);
    return static_cast<int32_t>(c);
}

// trunc(v) limited to 0..255 (NaN gives 0): the byte written for a colour or alpha value.
inline uint8_t truncByte(double v)
{
    double c = std::min(std::max(0.0, v), 255.0);
    return static_cast<uint8_t>(static_cast<int32_t>(c));
}

// Grey of the transparency checkerboard at absolute destination pixel (x, y): 4 x 4 squares,
// 192 in the square at the origin, 255 in its neighbours.
inline int32_t checkerShade(int32_t x, int32_t y)
{
    return (((x & 7) < 4) == ((y & 7) < 4)) ? 192 : 255;
}

// The scalar arguments of RenderEngine, in its order.
struct RenderArgs {
    int32_t cellHeight;
    int32_t cellWidth;
    int32_t skewX;
    int32_t skewY;
    int32_t lightV;
    int32_t lightH;
    int32_t shading;
    int32_t toneFloor;
    int32_t brightnessBoost;
    float bevel;
    int32_t faceMode;
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    int32_t renderFlags;
    uint32_t fillColor;
    int32_t bytesPerPixel;
    int32_t previewSide; // edge of the square preview mode fills
};

struct RenderCall;

// The scalar arguments of a render given as a RenderCall, as a host-output render takes them.
RenderArgs hostRenderArgs(const RenderCall& call);

// Cells of a 2 x 2 quad.
enum Cell : int32_t { CellTL = 0, CellTR = 1, CellBL = 2, CellBR = 3 };

// What differs between the four cells once the split distances are known. The ramp, source and
// light formulas of the four cells are one formula with these signs, widths and neighbours:
// a sign of -1 turns "v / b + 0.5" into "0.5 - v / b", and a scale of 1 leaves a value as it is.
struct CellParams {
    float scale;     // 1 for TL and BR, ratio for TR and BL
    float bevel;     // bevelMain for TL and BR, bevelScaled for TR and BL
    float height;    // H(1 + k) or H(1 - k): the far edge of the vertical ramp
    float width;     // W(1 + k) or W(1 - k): the far edge of the horizontal ramp
    double sign1;    // -1 for the upper cells, +1 for the lower: direction of ramp t1
    double sign2;    // -1 for the left cells, +1 for the right: direction of ramp t2
    double gainV;    // lightGainV with the cell's sign
    double gainH;    // lightGainH with the cell's sign
    double own;      // the cell's pattern factor and its three neighbours'
    double across;   // horizontal neighbour
    double vertical; // vertical neighbour
    double diagonal; // diagonal neighbour
    double sure;     // ramp distance beyond which both ramp formulas are sure to exceed 1
};

// Everything formed once per call.
struct RenderSetup {
    int32_t channels;     // colour bytes per pixel, at most 3
    int32_t fillMode;     // 0 opaque colour, 1 checkerboard (3 bytes), 2 transparent (4 bytes)
    int32_t fillAlpha;    // byte 3 of fillColor
    uint8_t fillBytes[3]; // background bytes in output order (RGB to the host, BGR in preview)
    bool hostOutput;
    bool antialiasOn;
    int32_t fillLeft, fillTop, fillRight, fillBottom;
    uint8_t toneTable[256];

    int32_t H, W;
    float sx, sy, k, ratio, zoom;
    double zoomDen[2]; // bottom - |sy| W and right - |sx| H
    bool mapsNothing;  // no pixel can map into the source rectangle (see RenderEngine.cpp)

    float hk1, wk1, hk1m, wk1m; // H(1 + k), W(1 + k), H(1 - k), W(1 - k)
    float sxH2, syW2;           // 2 sx H and 2 sy W
    double H2, W2;              // 2H and 2W

    float patternFactor;
    float factorTL, factorTR, factorBL, factorBR;
    float lightGainV, lightGainH;
    float shadeOffset;
    float bevelBase, bevelMain, bevelScaled;

    CellParams cells[4];
};

// Forms the per-call constants. Allocates nothing.
void prepareRender(const RenderArgs& args, RenderSetup& setup);

// Values of one output row.
struct RowGeometry {
    double Y;        // (y - rowOffset) + 0.5, as kept (float)
    int32_t band;    // r: the row band, -1 above the first
    double Ysx;      // Y x sx, as kept (float)
    double shift;    // added to X to give the zigzag column X'
    double YsubSyW2; // Y - 2 sy W
};

// yRel = y - rowOffset, formed without overflow.
inline void prepareRow(const RenderSetup& s, int64_t yRel, RowGeometry& row)
{
    float Y = float(double(yRel) + 0.5);
    row.Y = Y;
    row.band = Y >= 0.0f ? truncSaturate(double(Y) / double(s.H)) : -1;
    row.Ysx = float(double(Y) * double(s.sx));
    if (row.band & 1) {
        // X - (Y - (r + 1) H) sx, written as X plus the negated product (the same rounding).
        row.shift = -((double(Y) - (double(row.band) + 1.0) * double(s.H)) * double(s.sx));
    } else {
        row.shift = (double(Y) - double(row.band) * double(s.H)) * double(s.sx);
    }
    row.YsubSyW2 = double(Y) - double(s.syW2);
}

// A band index: trunc(v / n) for v >= 0, and -1 for every negative v, where v is held in a
// float and n is a whole number >= 2. It is remembered with the interval on which it holds,
// [q n, (q + 1) n) or [-inf, 0). For such v the double quotient never rounds up to the next whole
// number (v sits at least one float step, 2^-24 v, below it, far above the quotient's 2^-53
// rounding), so trunc of the quotient is the exact floor and the interval test gives the same q
// as the division. The division is made again whenever v leaves the interval.
struct BandIndex {
    double n = 2.0;
    double lo = 1.0, hi = 0.0; // empty until the first use
    int32_t q = 0;

    int32_t of(double v)
    {
        if (v >= lo && v < hi) {
            return q;
        }
        if (!(v >= 0.0)) {
            q = -1;
            lo = -HUGE_VAL;
            hi = 0.0;
            return q;
        }
        q = truncSaturate(v / n);
        lo = double(q) * n;
        hi = (double(q) + 1.0) * n;
        return q;
    }
};

// Values of one output column, the same on every row.
struct ColumnGeometry {
    double X;    // (x - colOffset) + 0.5, as kept (float)
    double Xsy;  // X x sy (not rounded)
    double lift; // added to Y to give the zigzag row Y'
};

inline void prepareColumn(const RenderSetup& s, int64_t xRel, BandIndex& columnBand,
                          ColumnGeometry& col)
{
    float X = float(double(xRel) + 0.5);
    col.X = X;
    int32_t c = columnBand.of(double(X));
    if (c & 1) {
        col.lift = (double(X) - (double(c) + 1.0) * double(s.W)) * double(s.sy);
    } else {
        col.lift = -((double(X) - double(c) * double(s.W)) * double(s.sy));
    }
    col.Xsy = double(X) * double(s.sy);
}

// Where one pixel lies in its quad and where its source is, before the source scale.
struct PixelGeometry {
    int32_t quadColumn, quadRow; // p, q
    int32_t cell;                // a Cell
    float A, B, C, D;            // split distances
    float Xu, Yu;                // unscaled source position
};

// The parts of the split distances and of the quad centre that depend on the quad alone.
struct QuadTerms {
    bool valid = false;
    int32_t p = 0, q = 0;
    double a, b, c, d; // subtracted from the pixel's part of A, B, C and D
    double cx, cy;     // quad centre (2p + 1) W(1 + k), (2q + 1) H(1 + k)

    void set(const RenderSetup& s, int32_t pIndex, int32_t qIndex)
    {
        valid = true;
        p = pIndex;
        q = qIndex;
        const double P = pIndex;
        const double Q = qIndex;
        const double syW2p = double(s.syW2) * P;
        const double sxH2q = double(s.sxH2) * Q;
        const double H2q = s.H2 * Q;
        const double W2p = s.W2 * P;
        a = (H2q + double(s.hk1)) - syW2p;
        b = (H2q + syW2p) + double(s.hk1m);
        c = (W2p + sxH2q) + double(s.wk1);
        d = (W2p + double(s.wk1m)) - sxH2q;
        cx = (2.0 * P + 1.0) * double(s.wk1);
        cy = (2.0 * Q + 1.0) * double(s.hk1);
    }
};

// What a row remembers from pixel to pixel: its geometry, the quad indices with the intervals on
// which they hold, and the current quad's terms.
struct RowState {
    RowGeometry geometry;
    BandIndex quadColumn, quadRow;
    QuadTerms quad;

    // yRel = y - rowOffset, formed without overflow.
    void start(const RenderSetup& s, int64_t yRel)
    {
        prepareRow(s, yRel, geometry);
        quadColumn = BandIndex();
        quadColumn.n = s.W2;
        quadRow = BandIndex();
        quadRow.n = s.H2;
        quad.valid = false;
    }
};

inline void mapPixel(const RenderSetup& s, const ColumnGeometry& col, RowState& rs,
                     PixelGeometry& g)
{
    const RowGeometry& row = rs.geometry;
    float Xp = float(col.X + row.shift);
    float Yp = float(row.Y + col.lift);
    int32_t p = rs.quadColumn.of(double(Xp));
    int32_t q = rs.quadRow.of(double(Yp));
    if (!rs.quad.valid || p != rs.quad.p || q != rs.quad.q) {
        rs.quad.set(s, p, q);
    }
    const QuadTerms& t = rs.quad;
    float A = float((row.Y - col.Xsy) - t.a);
    float B = float((row.YsubSyW2 + col.Xsy) - t.b);
    float C = float((col.X + row.Ysx) - t.c);
    float D = float(((col.X - row.Ysx) + double(s.sxH2)) - t.d);

    // TL when A < 0 and C < 0; else BL when A >= 0 and D < 0; else TR when B < 0; else BR.
    // Worked out without branches: the cell changes at every cell border.
    const int32_t tl = (A < 0.0f) & (C < 0.0f);
    const int32_t bl = (1 - tl) & (A >= 0.0f) & (D < 0.0f);
    const int32_t right = (1 - tl) & (1 - bl);
    const int32_t cell = (bl << 1) | (right * (B < 0.0f ? CellTR : CellBR));
    // Left cells measure from the TL/BL split (A), right ones from TR/BR (B); upper cells from
    // the TL/TR split (C), lower ones from BL/BR (D).
    double vy = (cell & 1) ? double(B) : double(A);
    double vx = (cell & 2) ? double(D) : double(C);
    double scale = s.cells[cell].scale;
    g.quadColumn = p;
    g.quadRow = q;
    g.cell = cell;
    g.A = A;
    g.B = B;
    g.C = C;
    g.D = D;
    g.Xu = float(t.cx + vx * scale);
    g.Yu = float(t.cy + vy * scale);
}

// The source position along one axis: zoom x the unscaled position, plus the caller's offset.
inline float sourcePosition(float zoom, float unscaled, float offset)
{
    return float(double(zoom) * double(unscaled) + double(offset));
}

// A bevel ramp: v / b + 0.5 with the cell's sign, or, when that exceeds 1, the ramp measured
// from the cell's far edge, limited to 0..1.
inline float bevelRamp(double signedDistance, double farEdge, double width, double sure)
{
    // Deep inside a cell both formulas exceed 1 by far more than any rounding, so the result
    // is 1 without forming either quotient (see prepareRender for the margin).
    if (signedDistance > sure && farEdge - signedDistance > sure) {
        return 1.0f;
    }
    float t = float(signedDistance / width + 0.5);
    if (t > 1.0f) {
        t = float((farEdge - signedDistance) / width + 0.5);
    }
    return std::min(std::max(t, 0.0f), 1.0f);
}

// The shade S of a mapped pixel: pattern factors blended across the bevels, plus the light
// ramp, plus shadeOffset.
inline float shadePixel(const RenderSetup& s, const PixelGeometry& g)
{
    const CellParams& cp = s.cells[g.cell];
    double vy = (g.cell & 1) ? double(g.B) : double(g.A);
    double vx = (g.cell & 2) ? double(g.D) : double(g.C);
    float t1 = bevelRamp(cp.sign1 * vy, double(cp.height), double(cp.bevel), cp.sure);
    float t2 = bevelRamp(cp.sign2 * vx, double(cp.width), double(cp.bevel), cp.sure);
    double f = cp.own;
    // With both ramps at 1 the three neighbour products are zeros and the sum is the own
    // factor exactly; inside a cell that is the common case.
    if (t1 != 1.0f || t2 != 1.0f) {
        double u = float(1.0 - double(t1));
        double v = float(1.0 - double(t2));
        f = cp.own * double(t1) * double(t2);
        f = f + cp.across * double(t1) * v;
        f = f + cp.vertical * u * double(t2);
        f = f + cp.diagonal * u * v;
    }
    double light = (cp.gainV * vy + cp.gainH * vx) * double(cp.scale);
    return float((f + light) + double(s.shadeOffset));
}

} // namespace oryn
