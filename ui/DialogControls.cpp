// Placement and drawing of the main dialog's pads and G-Shading button.
#include "ui/DialogControls.h"

#include <cstdio>
#include <new>

#include "host/RunSetup.h"

namespace oryn {

namespace {

// Pad 0 and pad 1 carry their three-digit value in a companion box that erasing clears:
// bytes b0..b3 = offset back from origin + 16, width and height.
constexpr uint32_t CellHeightCaption = 0x0F182219; // (-9, -18), 24 x 15
constexpr uint32_t CellWidthCaption = 0x0F1A1804;  // (12, -8), 26 x 15

void fill(Canvas& dc, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    dc.fillFace(Box{left, top, right, bottom});
}

// Texts of the dialog's own captions: the value formatted, three characters drawn.
void caption(Canvas& dc, int32_t x, int32_t y, const char* format, int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<int>(value));
    dc.text(x, y, text, 3);
}

void drawIfActive(Canvas& dc, XYPad& pad, int fullRedraw)
{
    if (pad.grabbed == 1 || fullRedraw == 1)
        pad.draw(dc);
}

// The skew figure in the Stretch frame: a 50 x 50 square whose right edge drops by y - 25 and
// whose bottom edge shifts right by x - 25, with both values as captions.
void drawStretch(Canvas& dc, XYPad& pad, const Box& frame, const DisplayScale& scale)
{
    const int32_t L = frame.left, T = frame.top, x = pad.x, y = pad.y;
    auto px = [&](int32_t length) { return scale.px(length); };
    const Point figure[5] = {{L, T}, {L + px(50), T + px(y - 25)}, {L + px(x + 25), T + px(y + 25)},
                             {L + px(x - 25), T + px(50)}, {L, T}};
    fill(dc, L - px(1), T - px(31), frame.right - px(2), frame.bottom - px(2));
    fill(dc, L - px(31), T - px(1), frame.right - px(2), frame.bottom - px(2));
    dc.polyline(figure, 5);
    caption(dc, L + px(x - 31), T + px(44), "%0.2i ", x - 25);
    caption(dc, L + px(44), T + px(y - 31), "%0.2i ", y - 25);
    pad.draw(dc);
}

// The light direction in the G-Shading frame: a cross-hair through the marker's centre.
void drawLight(Canvas& dc, XYPad& pad, const Box& frame, const DisplayScale& scale)
{
    const int32_t L = frame.left, T = frame.top, x = pad.x, y = pad.y;
    auto px = [&](int32_t length) { return scale.px(length); };
    fill(dc, L - px(18), T - px(14), L + px(70), T + px(60));
    // Through the middle of the scaled marker: its origin plus half its size.
    const int32_t across = T + px(y) + px(8) / 2;
    const int32_t down = L + px(x) + px(8) / 2;
    const Point horizontal[2] = {{L, across}, {L + px(58), across}};
    const Point vertical[2] = {{down, T}, {down, T + px(58)}};
    dc.polyline(horizontal, 2);
    dc.polyline(vertical, 2);
    caption(dc, L + px(x + 8), T + px(y - 14), "%0.2i ", x - 25);
    caption(dc, L + px(x - 18), T + px(y - 10), "%0.2i ", y - 25);
    pad.draw(dc);
}

} // namespace

void adjustFrames(DialogRects& rects)
{
    const DisplayScale& scale = rects.scale;
    rects.stretchFrame.left += scale.px(34);
    rects.stretchFrame.top += scale.px(36);
    rects.shadingFrame.left += scale.px(24);
    rects.shadingFrame.top += scale.px(24);
}

void releaseDialogControls(XYPad* (&pads)[PadCount], TriStateButton*& button)
{
    for (XYPad*& pad : pads) {
        delete pad;
        pad = nullptr;
    }
    delete button;
    button = nullptr;
}

int createDialogControls(const DialogRects& rects, XYPad* (&pads)[PadCount],
                         TriStateButton*& button)
{
    releaseDialogControls(pads, button);
    const Box& pf = rects.previewFrame;
    const Box& sf = rects.shadingFrame;
    const Box& tf = rects.stretchFrame;
    const DisplayScale scale = rects.scale;
    auto px = [&](int32_t length) { return scale.px(length); };
    auto slider = [&](int32_t top, int32_t range, int32_t flags, const char* label) {
        return new (std::nothrow)
            XYPad(sf.left - px(4), top, range, 0, 8, 0, 16, 8, 0, 8, flags, label, 0, scale);
    };
    auto sprite = [&](int32_t left, int32_t top) {
        return new (std::nothrow)
            XYPad(left, top, 50, 50, 0, 0, 8, 8, 0, 8, PadSprite, "", 0, scale);
    };
    pads[0] = new (std::nothrow) XYPad(pf.left - px(15), pf.top - px(6), 0, 300, 0, 0, 13, 0, 0,
                                       13, 0, "", CellHeightCaption, scale);
    pads[1] = new (std::nothrow) XYPad(pf.left - px(6), pf.top - px(15), 300, 0, 0, 0, 13, 0, 0,
                                       13, 0, "", CellWidthCaption, scale);
    pads[3] = slider(sf.bottom + px(56), 100, PadRuler | PadCentred | PadShowValue, "S-Shading");
    button = new (std::nothrow)
        TriStateButton(sf.left + px(84), sf.bottom + px(32), 18, 18, scale);
    pads[2] = slider(sf.bottom + px(26), 50, PadRuler | PadShowValue, "S-Bevel width");
    pads[6] = slider(sf.bottom + px(124), 100, PadRuler | PadShowValue, "Light Boosting");
    pads[7] = slider(sf.bottom + px(94), 100, PadRuler | PadShowValue, "Brightness Ratio");
    pads[4] = sprite(tf.left + px(21), tf.top + px(21));
    pads[5] = sprite(sf.left, sf.top);

    bool complete = button != nullptr;
    for (XYPad* pad : pads)
        complete = complete && pad != nullptr;
    if (complete)
        return 0;
    releaseDialogControls(pads, button);
    return 1;
}

void drawDialogControls(Canvas& dc, XYPad* const (&pads)[PadCount], TriStateButton& button,
                        const DialogRects& rects, int fullRedraw)
{
    XYPad& height = *pads[0];
    XYPad& width = *pads[1];
    XYPad& stretch = *pads[4];
    const Box& pf = rects.previewFrame;
    const DisplayScale& scale = rects.scale;
    auto px = [&](int32_t length) { return scale.px(length); };

    // The cell-size sliders sit at the corner of the first cell, which the skew shifts: the shift
    // is in units, like the values, and moves the track by its scaled length.
    height.erase(dc);
    height.top = pf.top + px(2 + negativePart(stretch.y - 25) * (width.x + 1) / 50);
    width.erase(dc);
    width.left = pf.left + px(2 + clampNonNegative(25 - stretch.x) * (height.y + 1) / 50);
    height.draw(dc);
    width.draw(dc);
    caption(dc, pf.left - px(22), height.originY() - px(17), "%0.3i ", height.y);
    caption(dc, width.originX() + px(16), pf.top - px(22), "%0.3i ", width.x);

    button.draw(dc);
    drawIfActive(dc, *pads[2], fullRedraw);
    drawIfActive(dc, *pads[3], fullRedraw);
    if (stretch.grabbed == 1 || fullRedraw == 1)
        drawStretch(dc, stretch, rects.stretchFrame, scale);
    if (pads[5]->grabbed == 1 || fullRedraw == 1)
        drawLight(dc, *pads[5], rects.shadingFrame, scale);
    drawIfActive(dc, *pads[6], fullRedraw);
    drawIfActive(dc, *pads[7], fullRedraw);
}

bool mouseInRect(uint32_t position, const Box& rect)
{
    const int32_t x = static_cast<int32_t>(position & 0xFFFF);
    const int32_t y = static_cast<int32_t>(position >> 16);
    return rect.left < x && x < rect.right && rect.top < y && y < rect.bottom;
}

} // namespace oryn
