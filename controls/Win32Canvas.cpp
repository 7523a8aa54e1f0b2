// GDI behind the Canvas.
#include "controls/Win32Canvas.h"

namespace oryn {

void Win32Canvas::fillFace(const Box& box)
{
    const RECT rect{box.left, box.top, box.right, box.bottom};
    FillRect(dc, &rect, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
}

void Win32Canvas::polyline(const Point* points, int count)
{
    // Every caller passes at most five points.
    POINT copy[8];
    if (count < 2 || count > 8)
        return;
    for (int i = 0; i < count; ++i)
        copy[i] = POINT{points[i].x, points[i].y};
    Polyline(dc, copy, count);
}

void Win32Canvas::setPixel(int32_t x, int32_t y, uint32_t colour)
{
    SetPixel(dc, x, y, colour);
}

void Win32Canvas::text(int32_t x, int32_t y, const char* text, int count)
{
    TextOutA(dc, x, y, text, count);
}

void Win32Canvas::copyFromStrip(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stripX,
                                int32_t stripY)
{
    BitBlt(dc, x, y, width, height, strip, stripX, stripY, SRCCOPY);
}

void Win32Canvas::stretchFromStrip(int32_t x, int32_t y, int32_t width, int32_t height,
                                   int32_t stripX, int32_t stripY, int32_t stripWidth,
                                   int32_t stripHeight)
{
    // Whole strip pixels, no blending: the picture stays as crisp as at 100%.
    const int previous = SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, x, y, width, height, strip, stripX, stripY, stripWidth, stripHeight, SRCCOPY);
    if (previous != 0)
        SetStretchBltMode(dc, previous);
}

void Win32Canvas::fill(const Box& box, uint32_t colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    if (brush == nullptr)
        return;
    const RECT rect{box.left, box.top, box.right, box.bottom};
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

uint32_t Win32Canvas::setTextColour(uint32_t colour)
{
    return SetTextColor(dc, colour);
}

} // namespace oryn
