// The in-memory drawing surface.
#include "controls/RasterCanvas.h"

#include <cstdlib>

namespace oryn {

RasterCanvas::RasterCanvas(int32_t width, int32_t height, uint32_t face)
    : width(width > 0 ? width : 0), height(height > 0 ? height : 0), face(face),
      pixels(static_cast<size_t>(this->width) * static_cast<size_t>(this->height), face)
{
}

void RasterCanvas::fillFace(const Box& box)
{
    for (int32_t py = box.top; py < box.bottom; ++py)
        for (int32_t px = box.left; px < box.right; ++px)
            setPixel(px, py, face);
}

void RasterCanvas::polyline(const Point* points, int count)
{
    for (int i = 0; i + 1 < count; ++i) {
        int32_t x0 = points[i].x;
        int32_t y0 = points[i].y;
        const int32_t x1 = points[i + 1].x;
        const int32_t y1 = points[i + 1].y;
        const int32_t dx = std::abs(x1 - x0);
        const int32_t dy = -std::abs(y1 - y0);
        const int32_t sx = x0 < x1 ? 1 : -1;
        const int32_t sy = y0 < y1 ? 1 : -1;
        int32_t error = dx + dy;
        while (x0 != x1 || y0 != y1) {
            setPixel(x0, y0, pen);
            const int32_t twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x0 += sx;
            }
            if (twice <= dx) {
                error += dx;
                y0 += sy;
            }
        }
    }
}

void RasterCanvas::setPixel(int32_t x, int32_t y, uint32_t colour)
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return;
    pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = colour;
}

void RasterCanvas::text(int32_t x, int32_t y, const char* text, int count)
{
    if (count < 0)
        count = 0;
    const int32_t w = measure ? measure(text, count) : textWidth * count;
    const Box box{x, y, x + w, y + textHeight};
    texts.push_back(TextCall{x, y, std::string(text, static_cast<size_t>(count)), box, textColour});
    fillFace(box);
}

void RasterCanvas::copyFromStrip(int32_t x, int32_t y, int32_t width, int32_t height,
                                 int32_t stripX, int32_t stripY)
{
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t column = 0; column < width; ++column) {
            const int32_t sx = stripX + column;
            const int32_t sy = stripY + row;
            if (sx < 0 || sy < 0 || sx >= stripWidth || sy >= stripHeight)
                continue;
            setPixel(x + column, y + row,
                     strip[static_cast<size_t>(sy) * static_cast<size_t>(stripWidth) +
                           static_cast<size_t>(sx)]);
        }
    }
}

void RasterCanvas::stretchFromStrip(int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t stripX, int32_t stripY, int32_t cellWidth,
                                    int32_t cellHeight)
{
    if (width <= 0 || height <= 0)
        return;
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t column = 0; column < width; ++column) {
            const int32_t sx = stripX + column * cellWidth / width;
            const int32_t sy = stripY + row * cellHeight / height;
            if (sx < 0 || sy < 0 || sx >= stripWidth || sy >= stripHeight)
                continue;
            setPixel(x + column, y + row,
                     strip[static_cast<size_t>(sy) * static_cast<size_t>(stripWidth) +
                           static_cast<size_t>(sx)]);
        }
    }
}

void RasterCanvas::fill(const Box& box, uint32_t colour)
{
    for (int32_t py = box.top; py < box.bottom; ++py)
        for (int32_t px = box.left; px < box.right; ++px)
            setPixel(px, py, colour);
}

uint32_t RasterCanvas::setTextColour(uint32_t colour)
{
    const uint32_t previous = textColour;
    textColour = colour;
    return previous;
}

uint32_t RasterCanvas::pixel(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return Outside;
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

} // namespace oryn
