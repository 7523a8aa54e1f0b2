// The Canvas of a real window: GDI calls on a device context, and the picture strip's memory
// context for the G-Shading button.
#pragma once

#include <windows.h>

#include "controls/Canvas.h"

namespace oryn {

class Win32Canvas : public Canvas {
public:
    // `dc` as acquireControlDc prepares it; `strip` holds the button's picture strip (may be null
    // when nothing copies from it).
    explicit Win32Canvas(HDC dc, HDC strip = nullptr) : dc(dc), strip(strip) {}

    // FillRect with the system button-face brush.
    void fillFace(const Box& box) override;
    // Polyline with the context's current pen.
    void polyline(const Point* points, int count) override;
    void setPixel(int32_t x, int32_t y, uint32_t colour) override;
    // TextOutA with the selected font, text colour and background mode.
    void text(int32_t x, int32_t y, const char* text, int count) override;
    // A plain source copy from the strip context.
    void copyFromStrip(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stripX,
                       int32_t stripY) override;
    void stretchFromStrip(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stripX,
                          int32_t stripY, int32_t stripWidth, int32_t stripHeight) override;
    // FillRect with a solid brush of the colour.
    void fill(const Box& box, uint32_t colour) override;
    // SetTextColor.
    uint32_t setTextColour(uint32_t colour) override;

    HDC dc;
    HDC strip;
};

} // namespace oryn
