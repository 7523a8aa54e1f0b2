// Unit tests of the relief renderer: worked numbers and the behaviour of whole renders.
//
// Per-call constants, cell geometry and shade on worked examples; whole renders for the fill,
// progress, sampling, masks, edges and alpha.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ReferenceEngine.h"
#include "engine/RenderEngine.h"
#include "engine/RenderMath.h"
#include "host/HostApi.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace oryn {
namespace {

// ---------------------------------------------------------------------------------------------
// Per-call constants, geometry and shade.

RenderArgs flatArgs(int32_t right, int32_t bottom)
{
    RenderArgs a;
    std::memset(&a, 0, sizeof a);
    a.cellHeight = 10;
    a.cellWidth = 10;
    a.right = right;
    a.bottom = bottom;
    a.renderFlags = HostOutputFlag;
    a.fillColor = 0xFFC0C0C0u;
    a.bytesPerPixel = 3;
    return a;
}

PixelGeometry geometryAt(const RenderSetup& s, int32_t x, int32_t y)
{
    RowState row;
    row.start(s, y);
    BandIndex columnBand;
    columnBand.n = s.W;
    ColumnGeometry col;
    prepareColumn(s, x, columnBand, col);
    PixelGeometry g;
    mapPixel(s, col, row, g);
    return g;
}

float shadeAt(const RenderSetup& s, int32_t x, int32_t y)
{
    return shadePixel(s, geometryAt(s, x, y));
}

TEST(RenderSetup, SlopesAreSkewTimesTwoHundredthsLimitedJustBelowOne)
{
    RenderArgs a = flatArgs(100, 100);
    RenderSetup s;
    a.skewX = 49;
    a.skewY = -49;
    prepareRender(a, s);
    EXPECT_EQ(s.sx, 0.97999996f);
    EXPECT_EQ(s.sy, -0.97999996f);

    // 50 x 0.02 is 0.99999998 in single precision: above 0.999, so it becomes 0.9999.
    a.skewX = 50;
    a.skewY = -50;
    prepareRender(a, s);
    EXPECT_EQ(s.sx, 0.9999f);
    EXPECT_EQ(s.sy, -0.9999f);
    a.skewX = 4000;
    a.skewY = -4000;
    prepareRender(a, s);
    EXPECT_EQ(s.sx, 0.9999f);
    EXPECT_EQ(s.sy, -0.9999f);
}

TEST(RenderSetup, NoSkewGivesUnitRatioAndZoom)
{
    RenderSetup s;
    prepareRender(flatArgs(57, 31), s);
    EXPECT_EQ(s.k, 0.0f);
    EXPECT_EQ(s.ratio, 1.0f);
    EXPECT_EQ(s.zoom, 1.0f);
}

TEST(RenderSetup, RatioOfEqualSlopes)
{
    RenderArgs a = flatArgs(300, 300);
    a.skewX = 25;
    a.skewY = 25;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_EQ(s.k, 0.25f);
    EXPECT_EQ(s.ratio, 1.6666666f); // 1.25 / 0.75
}

TEST(RenderSetup, CellSidesBelowTwoBecomeTwo)
{
    RenderArgs a = flatArgs(50, 50);
    RenderSetup s;
    for (int32_t side : {-7, 0, 1}) {
        a.cellHeight = side;
        a.cellWidth = side;
        prepareRender(a, s);
        EXPECT_EQ(s.H, 2);
        EXPECT_EQ(s.W, 2);
    }
}

TEST(RenderSetup, ToneTables)
{
    RenderArgs a = flatArgs(10, 10);
    RenderSetup s;
    prepareRender(a, s);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(s.toneTable[i], i) << i;
    }
    a.toneFloor = 100;
    prepareRender(a, s);
    EXPECT_EQ(s.toneTable[0], 100);
    EXPECT_EQ(s.toneTable[255], 255);
    // 128 x (155 x 0.0039215689) + 100 = 177.80...
    EXPECT_EQ(s.toneTable[128], 177);
    a.toneFloor = 20;
    prepareRender(a, s);
    // 128 x (235 x 0.0039215689) + 20 = 137.96...
    EXPECT_EQ(s.toneTable[128], 137);
    for (int i = 1; i < 256; ++i) {
        ASSERT_GE(s.toneTable[i], s.toneTable[i - 1]);
    }
}

TEST(RenderSetup, ToneFloorOutsideTheControlStaysWithinBytes)
{
    RenderArgs a = flatArgs(10, 10);
    RenderSetup s;
    a.toneFloor = -60;
    prepareRender(a, s);
    EXPECT_EQ(s.toneTable[0], 0); // -60 would wrap round to 196 as a byte
    EXPECT_EQ(s.toneTable[255], 255);
    a.toneFloor = 400;
    prepareRender(a, s);
    EXPECT_EQ(s.toneTable[0], 255);
    a.toneFloor = std::numeric_limits<int32_t>::min();
    prepareRender(a, s);
    EXPECT_EQ(s.toneTable[0], 0);
}

TEST(CellGeometry, HorizontalZigzagAndZoomExample)
{
    // sx = 0.5, sy = 0, 10 x 10 cells, right 105, bottom 100.
    RenderArgs a = flatArgs(105, 100);
    a.skewX = 25;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_EQ(s.sx, 0.5f);
    EXPECT_EQ(s.zoom, 1.05f); // Z = max(100 / 100, 105 / 100)

    // Pixel (0, 5): band 0, TL cell of quad (0, 0); its source column equals X' = 3.25.
    const PixelGeometry g = geometryAt(s, 0, 5);
    EXPECT_EQ(g.quadColumn, 0);
    EXPECT_EQ(g.quadRow, 0);
    EXPECT_EQ(g.cell, CellTL);
    EXPECT_EQ(g.A, -4.5f);
    EXPECT_EQ(g.C, -6.75f);
    EXPECT_EQ(g.Xu, 3.25f);
    EXPECT_EQ(g.Yu, 5.5f);
    EXPECT_EQ(sourcePosition(s.zoom, g.Xu, 0.0f), 3.4125f);
    // float(1.05) x 5.5 in double, then single precision: not the float nearest 5.775.
    EXPECT_EQ(sourcePosition(s.zoom, g.Yu, 0.0f), 5.7749996f);
    EXPECT_NE(5.7749996f, 5.775f);

    // Pixel (0, 15): band 1 runs back, X' = 0.5 + (20 - 15.5) x 0.5 = 2.75 (a BL cell).
    const PixelGeometry h = geometryAt(s, 0, 15);
    EXPECT_EQ(h.cell, CellBL);
    EXPECT_EQ(h.Xu, 2.75f);
}

TEST(CellGeometry, NegativeRowsFallInBandMinusOne)
{
    RenderArgs a = flatArgs(100, 100);
    a.skewX = 25;
    RenderSetup s;
    prepareRender(a, s);
    RowGeometry row;
    prepareRow(s, -3, row); // y - rowOffset < 0
    EXPECT_EQ(row.band, -1);
    // Band -1 is odd: X' = X - (Y - 0 x H) sx, with Y = -2.5.
    EXPECT_EQ(row.shift, -(-2.5 * 0.5));
    prepareRow(s, -1000000, row);
    EXPECT_EQ(row.band, -1);
}

TEST(CellGeometry, BandIndexIsTheExactQuotientWhereverItIsRemembered)
{
    // Values walked up and down across band borders, one float step at a time and in jumps:
    // the remembered interval must always give what the division gives.
    TestRandom rnd(5);
    for (int32_t n : {2, 3, 7, 10, 20, 64, 466, 1466, 99999}) {
        BandIndex band;
        band.n = n;
        float v = 0.0f;
        for (int step = 0; step < 20000; ++step) {
            switch (rnd.range(0, 3)) {
            case 0:
                v = std::nextafter(v, 1e30f);
                break;
            case 1:
                v = std::nextafter(v, -1e30f);
                break;
            case 2:
                v = float(rnd.range(-3, 40)) * float(n) + float(rnd.range(-2, 2)) * 0.5f;
                break;
            default:
                v += 0.5f;
                break;
            }
            const int32_t want = v >= 0.0f ? truncSaturate(double(v) / double(n)) : -1;
            ASSERT_EQ(band.of(v), want) << "v = " << v << ", n = " << n;
        }
    }
}

TEST(Shade, FlatWithoutShadingOrLight)
{
    RenderArgs a = flatArgs(40, 40);
    a.brightnessBoost = 100; // nothing to compensate: the boost part is 0
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_EQ(s.shadeOffset, 0.0f);
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            ASSERT_EQ(shadeAt(s, x, y), 1.0f) << x << "," << y;
        }
    }
}

TEST(Shade, BevelExample)
{
    // 10 x 10 cells, bevel 20 (b1 = b2 = 4), faceMode 0, shading 50.
    RenderArgs a = flatArgs(40, 40);
    a.bevel = 20.0f;
    a.shading = 50;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_EQ(s.bevelMain, 4.0f);
    EXPECT_EQ(s.bevelScaled, 4.0f);
    EXPECT_EQ(s.patternFactor, 0.5f);
    EXPECT_EQ(shadeAt(s, 2, 2), 0.5f);
    const PixelGeometry g = geometryAt(s, 2, 9);
    EXPECT_EQ(g.cell, CellTL);
    EXPECT_EQ(g.A, -0.5f);
    EXPECT_EQ(shadeAt(s, 2, 9), 0.6875f); // 0.5 x 0.625 + 1 x 0.375
    // Across the TL/BL edge: (2, 10) is BL with A = 0.5, 1 x 0.625 + 0.5 x 0.375; the two
    // pixels either side of the edge average to the edge value 0.75.
    EXPECT_EQ(geometryAt(s, 2, 10).cell, CellBL);
    EXPECT_EQ(shadeAt(s, 2, 10), 0.8125f);
    // Lower cells are untouched by the pattern.
    EXPECT_EQ(shadeAt(s, 3, 15), 1.0f);
    EXPECT_EQ(shadeAt(s, 15, 15), 1.0f);
    EXPECT_EQ(shadeAt(s, 15, 3), 0.5f);
}

TEST(Shade, ZeroBevelStillRampsOverTwoPixels)
{
    RenderArgs a = flatArgs(40, 40);
    a.shading = 50;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_EQ(s.bevelMain, 2.0f);
    EXPECT_EQ(s.bevelScaled, 2.0f);
    // (2, 9): A = -0.5, t1 = 0.75: 0.5 x 0.75 + 1 x 0.25.
    EXPECT_EQ(shadeAt(s, 2, 9), 0.625f);
    EXPECT_EQ(shadeAt(s, 2, 8), 0.5f);
}

TEST(Shade, NegativeShadingCheckerboard)
{
    // shading -50, faceMode 2, no light, no boost: TR and BL interiors F = 1.5, shadeOffset -0.5.
    RenderArgs a = flatArgs(40, 40);
    a.shading = -50;
    a.faceMode = 2;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_EQ(s.patternFactor, 1.5f);
    EXPECT_EQ(s.shadeOffset, -0.5f);
    EXPECT_EQ(geometryAt(s, 15, 5).cell, CellTR);
    EXPECT_EQ(shadeAt(s, 15, 5), 1.0f);
    EXPECT_EQ(shadeAt(s, 5, 15), 1.0f);  // BL
    EXPECT_EQ(shadeAt(s, 5, 5), 0.5f);   // TL
    EXPECT_EQ(shadeAt(s, 15, 15), 0.5f); // BR
}

TEST(Shade, LightRampWithBoost)
{
    // lightV 25, boost 100: boost part 100 x 0.75 x 0.005; across a TL cell the light term
    // runs from -0.75 at its top edge to 0 at its bottom edge.
    RenderArgs a = flatArgs(40, 40);
    a.lightV = 25;
    a.brightnessBoost = 100;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_FLOAT_EQ(s.shadeOffset, 0.375f);
    EXPECT_NEAR(shadeAt(s, 5, 0), 1.0 - 0.075 * 9.5 + 0.375, 1e-6);
    EXPECT_NEAR(shadeAt(s, 5, 9), 1.0 - 0.075 * 0.5 + 0.375, 1e-6);
    // The lower cell mirrors the ramp: darkest again at the quad's bottom edge.
    EXPECT_NEAR(shadeAt(s, 5, 10), shadeAt(s, 5, 9), 1e-6);
    EXPECT_NEAR(shadeAt(s, 5, 19), shadeAt(s, 5, 0), 1e-6);
}

TEST(Shade, NegativeLightDarkPart)
{
    RenderArgs a = flatArgs(40, 40);
    a.lightV = -25;
    RenderSetup s;
    prepareRender(a, s);
    EXPECT_FLOAT_EQ(s.shadeOffset, -0.75f);
    // Brightest at the quad's top edge, falling towards the middle.
    EXPECT_NEAR(shadeAt(s, 5, 0), 1.0 + 0.075 * 9.5 - 0.75, 1e-6);
    EXPECT_GT(shadeAt(s, 5, 0), shadeAt(s, 5, 9));
}

TEST(Shade, DarkPartIsRoundedAfterEachStep)
{
    // -25 x 0.03, then -20 x 0.03 added, then -50 x 0.01 added, each kept as float.
    RenderArgs a = flatArgs(40, 40);
    a.lightV = -25;
    a.lightH = -20;
    a.shading = -50;
    RenderSetup s;
    prepareRender(a, s);
    // Rounded once at the end the sum would be -1.8499999.
    EXPECT_EQ(s.shadeOffset, -1.85000002f);
}

TEST(Shade, FaceModeOutsideTheButtonShadesNothing)
{
    RenderArgs a = flatArgs(40, 40);
    a.shading = 50;
    a.faceMode = 3;
    RenderSetup s;
    prepareRender(a, s);
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            ASSERT_EQ(shadeAt(s, x, y), 1.0f) << x << "," << y;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Whole renders.

// A source image, a destination and a host record, with an engine call set up over them:
// flat 10 x 10 cells, the whole image, output to the host, antialiasing off.
class Scene {
public:
    Scene(int32_t w, int32_t h, int32_t pixelBytes, bool preview = false)
        : width(w), height(h), bpp(pixelBytes)
    {
        src.resize(size_t(w) * h * bpp);
        TestRandom rnd(uint64_t(w * 1000 + h));
        for (uint8_t& b : src) {
            b = rnd.byte();
        }
        const int32_t dw = preview ? std::max(w, PreviewSize) : w;
        const int32_t dh = preview ? std::max(h, PreviewSize) : h;
        dstRowBytes = dw * bpp;
        dst.assign(size_t(dh) * dstRowBytes, 0x5A);
        mask.assign(size_t(w) * h, 255);
        alpha.assign(size_t(w) * h, 255);
        std::memset(&record, 0, sizeof record);
        record.planes = int16_t(bpp);
        context = {nullptr, &record};
        call.context = &context;
        call.right = w;
        call.bottom = h;
        call.src = src.data();
        call.srcRowBytes = w * bpp;
        call.dst = dst.data();
        call.dstRowBytes = dstRowBytes;
        call.mask = mask.data();
        call.maskRowBytes = w;
        call.previewAlpha = alpha.data();
        call.renderFlags = preview ? 0 : HostOutputFlag;
        call.bytesPerPixel = bpp;
    }
    Scene(const Scene&) = delete;

    uint8_t srcAt(int32_t x, int32_t y, int32_t j) const
    {
        return src[(size_t(y) * width + x) * bpp + j];
    }
    uint8_t& srcAt(int32_t x, int32_t y, int32_t j)
    {
        return src[(size_t(y) * width + x) * bpp + j];
    }
    uint8_t dstAt(int32_t x, int32_t y, int32_t j) const
    {
        return dst[size_t(y) * dstRowBytes + size_t(x) * bpp + j];
    }
    int32_t render() { return runEngine(call); }

    int32_t width, height, bpp, dstRowBytes;
    std::vector<uint8_t> src, dst, mask, alpha;
    FilterRecord record;
    ParamContext context;
    EngineCall call;
};

// What the flat settings give at (x, y): the 2 x 2 block at the pixel, through the tone table,
// averaged and truncated; the last row and column repeat their own samples.
int32_t flatAverage(const Scene& sc, const uint8_t* tone, int32_t x, int32_t y, int32_t j)
{
    const int32_t x1 = std::min(x + 1, sc.width - 1);
    const int32_t y1 = std::min(y + 1, sc.height - 1);
    const int32_t sum = tone[sc.srcAt(x, y, j)] + tone[sc.srcAt(x1, y, j)] +
                        tone[sc.srcAt(x, y1, j)] + tone[sc.srcAt(x1, y1, j)];
    return sum / 4;
}

TEST(RenderEngine, FlatSettingsAverageTwoByTwoBlocks)
{
    Scene sc(23, 17, 3);
    ASSERT_EQ(sc.render(), 0);
    uint8_t identity[256];
    for (int i = 0; i < 256; ++i) {
        identity[i] = uint8_t(i);
    }
    for (int32_t y = 0; y < sc.height; ++y) {
        for (int32_t x = 0; x < sc.width; ++x) {
            for (int32_t j = 0; j < 3; ++j) {
                ASSERT_EQ(sc.dstAt(x, y, j), flatAverage(sc, identity, x, y, j))
                    << x << "," << y << "," << j;
            }
        }
    }
}

TEST(RenderEngine, ToneFloorLiftsTheDarkEnd)
{
    Scene sc(8, 8, 3);
    std::fill(sc.src.begin(), sc.src.end(), uint8_t(0));
    sc.call.toneFloor = 100;
    sc.render();
    EXPECT_EQ(sc.dstAt(3, 3, 0), 100);
    std::fill(sc.src.begin(), sc.src.end(), uint8_t(255));
    sc.render();
    EXPECT_EQ(sc.dstAt(3, 3, 0), 255);
}

struct ProgressLog {
    std::vector<int32_t> rows;
    std::vector<int32_t> bottoms;
    const ParamContext* context = nullptr;
    int32_t stopRow = -1;
    int32_t stopCode = 0;
    int32_t otherCode = 0;
};
ProgressLog* progressLog = nullptr;

int32_t logProgress(const ParamContext* context, int32_t row, int32_t bottom)
{
    progressLog->rows.push_back(row);
    progressLog->bottoms.push_back(bottom);
    progressLog->context = context;
    return row == progressLog->stopRow ? progressLog->stopCode : progressLog->otherCode;
}

TEST(RenderEngine, ProgressBeforeRowsSevenModEight)
{
    Scene sc(12, 40, 3);
    ProgressLog log;
    progressLog = &log;
    sc.call.top = 5;
    sc.call.bottom = 25;
    sc.call.progress = logProgress;
    EXPECT_EQ(sc.render(), 0);
    EXPECT_EQ(log.rows, (std::vector<int32_t>{7, 15, 23}));
    EXPECT_EQ(log.bottoms, (std::vector<int32_t>{25, 25, 25}));
    EXPECT_EQ(log.context, &sc.context);
    progressLog = nullptr;
}

TEST(RenderEngine, ProgressResultCountsInItsLowSixteenBitsOnly)
{
    Scene sc(12, 30, 3);
    sc.call.skewX = 20;
    sc.call.shading = 30;
    sc.render();
    const std::vector<uint8_t> whole = sc.dst;

    ProgressLog log;
    progressLog = &log;
    log.otherCode = 0x10000;
    std::fill(sc.dst.begin(), sc.dst.end(), uint8_t(0x5A));
    sc.call.progress = logProgress;
    EXPECT_EQ(sc.render(), 0);
    EXPECT_EQ(sc.dst, whole);
    EXPECT_EQ(log.rows, (std::vector<int32_t>{7, 15, 23}));
    progressLog = nullptr;
}

TEST(RenderEngine, ProgressStopsTheRenderAtItsRow)
{
    Scene sc(12, 30, 3);
    sc.call.skewY = -20;
    sc.call.lightH = 10;
    sc.call.fillColor = 0xFF112233u;
    sc.render();
    const std::vector<uint8_t> whole = sc.dst;

    for (int32_t code : {1, -128, 0x12340001}) {
        ProgressLog log;
        progressLog = &log;
        log.stopRow = 15;
        log.stopCode = code;
        std::fill(sc.dst.begin(), sc.dst.end(), uint8_t(0x5A));
        sc.call.progress = logProgress;
        EXPECT_EQ(sc.render(), code);
        EXPECT_EQ(log.rows, (std::vector<int32_t>{7, 15}));
        for (int32_t y = 0; y < sc.height; ++y) {
            for (int32_t x = 0; x < sc.width; ++x) {
                for (int32_t j = 0; j < 3; ++j) {
                    const uint8_t fill[3] = {0x33, 0x22, 0x11};
                    const uint8_t want =
                        y < 15 ? whole[size_t(y) * sc.dstRowBytes + x * 3 + j] : fill[j];
                    ASSERT_EQ(sc.dstAt(x, y, j), want) << x << "," << y;
                }
            }
        }
        progressLog = nullptr;
    }
}

TEST(RenderEngine, EmptyRectangleOnlyFills)
{
    Scene sc(10, 10, 3);
    ProgressLog log;
    progressLog = &log;
    sc.call.progress = logProgress;
    sc.call.top = 9;
    sc.call.bottom = 9;
    EXPECT_EQ(sc.render(), 0);
    EXPECT_TRUE(log.rows.empty());
    // The host fill covers the (empty) rectangle only.
    EXPECT_EQ(std::count(sc.dst.begin(), sc.dst.end(), uint8_t(0x5A)), long(sc.dst.size()));
    progressLog = nullptr;
}

TEST(RenderEngine, CellSidesBelowTwoRenderAsTwo)
{
    Scene sc(30, 30, 3);
    sc.call.skewX = 30;
    sc.call.shading = 40;
    sc.call.lightV = 12;
    sc.call.cellWidth = 7;
    sc.call.cellHeight = 2;
    sc.render();
    const std::vector<uint8_t> two = sc.dst;
    for (int32_t side : {1, 0, -5}) {
        sc.call.cellHeight = side;
        sc.render();
        EXPECT_EQ(sc.dst, two) << side;
    }
    sc.call.cellHeight = 3;
    sc.render();
    EXPECT_NE(sc.dst, two);
}

bool isCheckerboard(const Scene& sc, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const bool sameHalf = ((x % 8) < 4) == ((y % 8) < 4);
            const uint8_t want = sameHalf ? 192 : 255;
            for (int32_t j = 0; j < 3; ++j) {
                if (sc.dstAt(x, y, j) != want) {
                    return false;
                }
            }
        }
    }
    return true;
}

TEST(RenderEngine, PreviewWithTransparentFillDrawsTheCheckerboard)
{
    Scene sc(20, 20, 3, true);
    sc.call.fillColor = TransparentColor;
    sc.call.bottom = 0;
    EXPECT_EQ(sc.render(), 0);
    EXPECT_TRUE(isCheckerboard(sc, 0, 0, PreviewSize, PreviewSize));
    EXPECT_EQ(sc.dstAt(0, 0, 0), 192);
    EXPECT_EQ(sc.dstAt(4, 0, 1), 255);
    EXPECT_EQ(sc.dstAt(0, 4, 2), 255);
    EXPECT_EQ(sc.dstAt(4, 4, 0), 192);
}

TEST(RenderEngine, SkippedPixelsOfATransparentFourByteRenderAreClearGrey)
{
    Scene sc(16, 12, 4);
    sc.record.haveMask = 1;
    std::fill(sc.mask.begin(), sc.mask.end(), uint8_t(0)); // nothing selected
    sc.call.fillColor = TransparentColor;
    sc.call.renderFlags = HostOutputFlag | 1;
    EXPECT_EQ(sc.render(), 0);
    for (size_t i = 0; i < sc.dst.size(); i += 4) {
        ASSERT_EQ(sc.dst[i], 224);
        ASSERT_EQ(sc.dst[i + 1], 224);
        ASSERT_EQ(sc.dst[i + 2], 224);
        ASSERT_EQ(sc.dst[i + 3], 0);
    }
}

TEST(RenderEngine, FillBytesAreRgbForTheHostAndBgrInThePreview)
{
    const uint32_t red = 0xFF0000FFu;
    {
        Scene sc(10, 10, 3);
        sc.record.haveMask = 1;
        std::fill(sc.mask.begin(), sc.mask.end(), uint8_t(0));
        sc.call.fillColor = red;
        sc.render();
        EXPECT_EQ(sc.dstAt(5, 5, 0), 255);
        EXPECT_EQ(sc.dstAt(5, 5, 1), 0);
        EXPECT_EQ(sc.dstAt(5, 5, 2), 0);
    }
    {
        Scene sc(10, 10, 3, true);
        sc.record.haveMask = 1;
        std::fill(sc.mask.begin(), sc.mask.end(), uint8_t(0));
        sc.call.fillColor = red;
        sc.render();
        for (int32_t p : {0, 5, 150, 299}) {
            EXPECT_EQ(sc.dstAt(p, p, 0), 0);
            EXPECT_EQ(sc.dstAt(p, p, 1), 0);
            EXPECT_EQ(sc.dstAt(p, p, 2), 255);
        }
    }
}

TEST(RenderEngine, MaskThresholdWithoutAntialiasing)
{
    Scene plain(12, 12, 3);
    plain.render();

    Scene sc(12, 12, 3);
    sc.record.haveMask = 1;
    sc.call.fillColor = 0xFF000000u;
    sc.mask[5 * 12 + 5] = 127;
    sc.mask[5 * 12 + 8] = 128;
    sc.render();
    // M00 = 127: the background stays.
    EXPECT_EQ(sc.dstAt(5, 5, 0), 0);
    EXPECT_EQ(sc.dstAt(5, 5, 1), 0);
    // M00 = 128, and a neighbour whose M01 is 127: rendered unblended.
    for (int32_t x : {8, 4}) {
        for (int32_t j = 0; j < 3; ++j) {
            EXPECT_EQ(sc.dstAt(x, 5, j), plain.dstAt(x, 5, j)) << x;
        }
    }
}

TEST(RenderEngine, FullySelectedPixelsAreNeverBlended)
{
    // A mask of 255 everywhere: no blending, not even at the image border.
    Scene plain(14, 9, 3);
    plain.render();
    Scene sc(14, 9, 3);
    sc.record.haveMask = 1;
    sc.call.renderFlags = HostOutputFlag | 1;
    sc.render();
    EXPECT_EQ(sc.dst, plain.dst);
    // Without the mask, antialiasing blends the border.
    Scene edge(14, 9, 3);
    edge.call.renderFlags = HostOutputFlag | 1;
    edge.render();
    EXPECT_NE(edge.dst, plain.dst);
}

TEST(RenderEngine, UnselectedPixelsKeepTheBackgroundInEveryMode)
{
    for (int32_t flags : {HostOutputFlag, HostOutputFlag | 1}) {
        Scene sc(10, 10, 3);
        sc.record.haveMask = 1;
        std::fill(sc.mask.begin(), sc.mask.end(), uint8_t(0));
        sc.call.renderFlags = flags;
        sc.call.fillColor = 0xFF0A0B0Cu;
        sc.render();
        for (size_t i = 0; i < sc.dst.size(); i += 3) {
            ASSERT_EQ(sc.dst[i], 0x0C);
            ASSERT_EQ(sc.dst[i + 1], 0x0B);
            ASSERT_EQ(sc.dst[i + 2], 0x0A);
        }
    }
}

TEST(RenderEngine, AntialiasingBlendsTheImageBorderWithTheBackground)
{
    // Flat settings (S = 1, samples at +0.5): at column 0 the left samples lie beyond the
    // border and are replaced by the background byte; at the corner three samples are (the
    // border flags are OR-ed: 3 | 5 = 7).
    Scene sc(10, 8, 3);
    sc.call.renderFlags = HostOutputFlag | 1;
    sc.call.fillColor = 0xFFC8C8C8u; // 200 in every channel
    sc.render();
    for (int32_t j = 0; j < 3; ++j) {
        const int32_t left = (sc.srcAt(1, 3, j) + 200 + 200 + sc.srcAt(1, 4, j)) / 4;
        EXPECT_EQ(sc.dstAt(0, 3, j), left);
        const int32_t corner = (200 * 3 + sc.srcAt(1, 1, j)) / 4;
        EXPECT_EQ(sc.dstAt(0, 0, j), corner);
        const int32_t right = (200 + sc.srcAt(9, 3, j) + sc.srcAt(9, 4, j) + 200) / 4;
        EXPECT_EQ(sc.dstAt(9, 3, j), right);
        const int32_t inner =
            (sc.srcAt(4, 4, j) + sc.srcAt(5, 4, j) + sc.srcAt(4, 5, j) + sc.srcAt(5, 5, j)) / 4;
        EXPECT_EQ(sc.dstAt(4, 4, j), inner);
    }
}

TEST(RenderEngine, AlphaByteOfFourBytePixels)
{
    Scene sc(10, 10, 4);
    sc.render();
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            ASSERT_EQ(sc.dstAt(x, y, 3), sc.srcAt(x, y, 3)) << x << "," << y;
        }
    }
    sc.call.renderFlags = HostOutputFlag | 1;
    sc.render();
    const int32_t inner =
        (sc.srcAt(4, 4, 3) + sc.srcAt(5, 4, 3) + sc.srcAt(4, 5, 3) + sc.srcAt(5, 5, 3)) / 4;
    EXPECT_EQ(sc.dstAt(4, 4, 3), inner);
}

TEST(RenderEngine, TransparentPreviewLayerShowsTheCheckerboard)
{
    Scene sc(40, 40, 3, true);
    sc.record.planes = 4;
    std::fill(sc.alpha.begin(), sc.alpha.end(), uint8_t(0));
    sc.render();
    EXPECT_TRUE(isCheckerboard(sc, 0, 0, 40, 40));
    // Outside the layer the fill shows (an opaque grey here).
    EXPECT_EQ(sc.dstAt(100, 100, 0), 0xC0);
}

TEST(RenderEngine, ZeroShadeGivesBlackEvenWhereSamplesAreBlended)
{
    // shading -100 (beyond the control) with faceMode 3: every factor 1 and shadeOffset
    // exactly -1, so S = 0 everywhere. At the image border antialiasing would divide the
    // background by S. The colour is black; the alpha byte is not shaded.
    Scene sc(20, 20, 4);
    std::fill(sc.src.begin(), sc.src.end(), uint8_t(200));
    sc.call.shading = -100;
    sc.call.faceMode = 3;
    sc.call.renderFlags = HostOutputFlag | 1;
    sc.call.fillColor = 0xFF808080u;
    RenderArgs a = flatArgs(20, 20);
    a.shading = -100;
    a.faceMode = 3;
    RenderSetup s;
    prepareRender(a, s);
    ASSERT_EQ(s.shadeOffset, -1.0f);

    ASSERT_EQ(sc.render(), 0);
    for (int32_t x : {0, 5, 19}) {
        EXPECT_EQ(sc.dstAt(x, 3, 0), 0);
        EXPECT_EQ(sc.dstAt(x, 3, 1), 0);
        EXPECT_EQ(sc.dstAt(x, 3, 2), 0);
    }
    // Column 0: the two left samples take the background's alpha, 255.
    EXPECT_EQ(sc.dstAt(0, 3, 3), (255 + 200 + 255 + 200) / 4);
    EXPECT_EQ(sc.dstAt(5, 3, 3), 200);
}

TEST(RenderEngine, SourceEdgesOfTheValidArea)
{
    // Flat settings put the source at x + 0.5 + srcOffsetX: an offset of 0.5 maps the last
    // column exactly onto `right`, which is skipped; -0.5 maps the top row onto `top`, which is
    // rendered.
    Scene sc(10, 10, 3);
    sc.call.fillColor = 0xFF000000u;
    sc.call.srcOffsetX = 0.5f;
    sc.render();
    EXPECT_EQ(sc.dstAt(9, 4, 0), 0);
    // srcX = 9.0: column 9 alone, half from row 4 and half from row 5.
    EXPECT_EQ(sc.dstAt(8, 4, 0), (sc.srcAt(9, 4, 0) + sc.srcAt(9, 5, 0)) / 2);
    sc.call.srcOffsetX = 0.0f;
    sc.call.srcOffsetY = -0.5f;
    sc.call.top = 2;
    sc.render();
    EXPECT_EQ(sc.dstAt(4, 2, 1), (sc.srcAt(4, 2, 1) + sc.srcAt(5, 2, 1)) / 2);
}

TEST(RenderEngine, NanSourceOffsetRendersNothingAndReadsNothing)
{
    Scene sc(10, 10, 3);
    sc.call.fillColor = 0xFF010203u;
    sc.call.srcOffsetX = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(sc.render(), 0);
    for (size_t i = 0; i < sc.dst.size(); i += 3) {
        ASSERT_EQ(sc.dst[i], 3);
    }
}

TEST(RenderEngine, ZeroZoomDenominatorRendersNothing)
{
    // bottom - |sy| W = 20 - 0.5 x 40 = 0: no pixel maps into the source; progress still runs.
    Scene sc(30, 20, 3);
    ProgressLog log;
    progressLog = &log;
    sc.call.progress = logProgress;
    sc.call.skewY = 25;
    sc.call.cellWidth = 40;
    sc.call.fillColor = 0xFF010203u;
    EXPECT_EQ(sc.render(), 0);
    EXPECT_EQ(log.rows, (std::vector<int32_t>{7, 15}));
    for (size_t i = 0; i < sc.dst.size(); i += 3) {
        ASSERT_EQ(sc.dst[i], 3);
    }
    progressLog = nullptr;
}

TEST(RenderEngine, PixelSizeBelowOneRendersNothing)
{
    Scene sc(10, 10, 3);
    sc.call.bytesPerPixel = 0;
    EXPECT_EQ(sc.render(), 0);
    EXPECT_EQ(std::count(sc.dst.begin(), sc.dst.end(), uint8_t(0x5A)), long(sc.dst.size()));
}

#if defined(__SSE2__)
unsigned int modeSeenByProgress = 0;
int32_t recordMode(const ParamContext*, int32_t, int32_t)
{
    modeSeenByProgress = _mm_getcsr();
    return 0;
}

TEST(RenderEngine, HostFloatingPointModeChangesNoByte)
{
    // A host running with rounding toward zero and tiny values flushed to zero gets the same
    // bytes, sees its own mode in the progress callback and has it back afterwards.
    Scene sc(120, 120, 3);
    sc.call.skewX = 17;
    sc.call.skewY = -23;
    sc.call.shading = 31;
    sc.call.lightV = 9;
    sc.call.lightH = -14;
    sc.call.bevel = 33.0f;
    sc.call.brightnessBoost = 57;
    sc.call.renderFlags = HostOutputFlag | 1;
    sc.call.progress = recordMode;
    sc.render();
    const std::vector<uint8_t> normal = sc.dst;
    runReference(sc.call);
    const std::vector<uint8_t> referenceNormal = sc.dst;

    const unsigned int saved = _mm_getcsr();
    const unsigned int hostMode = (saved & ~0x6000u) | 0x6000u | 0x8040u; // toward zero, FTZ, DAZ
    _mm_setcsr(hostMode);
    sc.render();
    const unsigned int after = _mm_getcsr();
    runReference(sc.call); // no guard: shows that the mode matters
    const std::vector<uint8_t> referenceTruncating = sc.dst;
    _mm_setcsr(hostMode);
    sc.render();
    _mm_setcsr(saved);

    EXPECT_EQ(after, hostMode);
    EXPECT_EQ(modeSeenByProgress, hostMode);
    EXPECT_EQ(sc.dst, normal);
    EXPECT_EQ(referenceNormal, normal);
    EXPECT_NE(referenceTruncating, normal);
}
#endif

} // namespace
} // namespace oryn
