// The drawing surface that the windowless controls and the main dialog paint into. The Win32 side
// wraps the dialog's client-area device context (and the G-Shading strip's memory context); tests
// use a plain pixel raster, so every look of every control can be checked natively.
#pragma once

#include <cstdint>

namespace oryn {

struct Point {
    int32_t x;
    int32_t y;
};

// Left and top included, right and bottom excluded.
struct Box {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Colours are COLORREF values: 0x00BBGGRR.
constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

class Canvas {
public:
    virtual ~Canvas() = default;
    // Fills the box with the system button-face colour.
    virtual void fillFace(const Box& box) = 0;
    // Draws a polyline through the points with the current pen (one pixel, black by default);
    // like GDI, the last point itself is not drawn.
    virtual void polyline(const Point* points, int count) = 0;
    virtual void setPixel(int32_t x, int32_t y, uint32_t colour) = 0;
    // Draws `count` characters of `text` with the selected font, its top-left corner at (x, y),
    // in the current text colour on the opaque button-face background.
    virtual void text(int32_t x, int32_t y, const char* text, int count) = 0;
    // Copies a width x height block from the G-Shading picture strip at (stripX, stripY) to (x, y).
    virtual void copyFromStrip(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stripX,
                               int32_t stripY) = 0;
    // Copies the stripWidth x stripHeight block at (stripX, stripY) of the strip enlarged (or
    // shrunk) to width x height at (x, y), each drawn pixel taking the strip pixel it falls in.
    virtual void stretchFromStrip(int32_t x, int32_t y, int32_t width, int32_t height,
                                  int32_t stripX, int32_t stripY, int32_t stripWidth,
                                  int32_t stripHeight) = 0;
    // Fills the box with a colour (the focus marks).
    virtual void fill(const Box& box, uint32_t colour) = 0;
    // Sets the colour later text is drawn in; returns the colour it replaces.
    virtual uint32_t setTextColour(uint32_t colour) = 0;
};

// A polyline drawn with a square pen `width` pixels wide: the one-pixel line and its copies moved
// right and down by up to width - 1 pixels. Width 1 is the polyline itself.
inline void strokePolyline(Canvas& dc, const Point* points, int count, int32_t width)
{
    Point moved[8];
    if (width <= 1 || count > 8) {
        dc.polyline(points, count);
        return;
    }
    for (int32_t dy = 0; dy < width; ++dy)
        for (int32_t dx = 0; dx < width; ++dx) {
            for (int i = 0; i < count; ++i)
                moved[i] = Point{points[i].x + dx, points[i].y + dy};
            dc.polyline(moved, count);
        }
}

} // namespace oryn
