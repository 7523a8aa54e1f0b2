// A drawing surface in memory, for tests of everything that paints through a Canvas: the controls,
// the swatches and the main dialog's own figures can be checked pixel by pixel without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "controls/Canvas.h"

namespace oryn {

class RasterCanvas : public Canvas {
public:
    // A width x height raster filled with `face`, the colour fillFace and text backgrounds use.
    RasterCanvas(int32_t width, int32_t height, uint32_t face);

    // Text is recorded, not rasterised: each call is appended to `texts`, and its box (the text's
    // width by textHeight rows, from (x, y)) is filled with the face colour, as the opaque text
    // background of a real device context would be; no glyph pixels are drawn. The width is
    // `measure` of the drawn characters when set, else textWidth per character, so a test can
    // give the boxes the extents of a real font.
    struct TextCall {
        int32_t x;
        int32_t y;
        std::string text; // exactly the characters drawn
        Box box;
        uint32_t colour; // the text colour at the call
    };

    void fillFace(const Box& box) override;
    // Lines as a Bresenham walk from each point to the next, each segment without its end point,
    // so the last point is not drawn. GDI draws horizontal, vertical and 45-degree lines with the
    // same pixels; other slopes may differ by a pixel.
    void polyline(const Point* points, int count) override;
    void setPixel(int32_t x, int32_t y, uint32_t colour) override;
    void text(int32_t x, int32_t y, const char* text, int count) override;
    // Copies from `strip`; source pixels outside the strip leave the destination as it was.
    void copyFromStrip(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stripX,
                       int32_t stripY) override;
    // Nearest strip pixel: column c of the drawn block takes strip column c x cellWidth / width.
    void stretchFromStrip(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stripX,
                          int32_t stripY, int32_t cellWidth, int32_t cellHeight) override;
    void fill(const Box& box, uint32_t colour) override;
    uint32_t setTextColour(uint32_t colour) override;

    // The colour at (x, y), or `Outside` for a point beyond the raster.
    uint32_t pixel(int32_t x, int32_t y) const;
    static constexpr uint32_t Outside = 0xFF000000u;

    int32_t width;
    int32_t height;
    uint32_t face;
    std::vector<uint32_t> pixels; // row by row, COLORREF values
    std::vector<TextCall> texts;
    int32_t textWidth = 6;
    int32_t textHeight = 13;
    std::function<int32_t(const char*, int)> measure;
    uint32_t pen = 0; // polyline colour, black like the default pen
    uint32_t textColour = 0; // black like a fresh device context

    // The picture strip that copyFromStrip reads.
    int32_t stripWidth = 0;
    int32_t stripHeight = 0;
    std::vector<uint32_t> strip;
};

} // namespace oryn
