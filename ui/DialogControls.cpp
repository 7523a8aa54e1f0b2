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

// A caption that shows what is being typed for `axis` of pad `index` in the mark colour, padded
// with blanks to `count` characters; "_" stands for the axis being typed while it is still empty.
// Returns false (and draws nothing) when nothing is typed for that axis.
bool typedCaption(Canvas& dc, const DialogView& view, int32_t index, int32_t axis, int32_t x,
                  int32_t y, int count)
{
    if (!entryActive(view.entry, index))
        return false;
    const char* typed = view.entry.text[axis];
    if (typed[0] == '\0') {
        if (view.entry.axis != axis)
            return false;
        typed = "_";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%-*s", count, typed);
    const uint32_t previous = dc.setTextColour(view.markColour);
    dc.text(x, y, text, count);
    dc.setTextColour(previous);
    return true;
}

void captionOrTyped(Canvas& dc, const DialogView& view, int32_t index, int32_t axis, int32_t x,
                    int32_t y, const char* format, int32_t value)
{
    if (!typedCaption(dc, view, index, axis, x, y, 3))
        caption(dc, x, y, format, value);
}

// The focus mark of a triangle marker: every pixel strictly inside its outline as drawn at the
// pad's scale, so that the pad's own erase clears it with the marker.
void fillMarker(Canvas& dc, const XYPad& pad, uint32_t colour)
{
    const DisplayScale& scale = pad.scale;
    const Point m[3] = {{scale.px(pad.marker[0].x), scale.px(pad.marker[0].y)},
                        {scale.px(pad.marker[1].x), scale.px(pad.marker[1].y)},
                        {scale.px(pad.marker[2].x), scale.px(pad.marker[2].y)}};
    const int32_t ox = pad.originX(), oy = pad.originY();
    auto side = [](const Point& a, const Point& b, int32_t px, int32_t py) {
        return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
    };
    const int32_t turn = side(m[0], m[1], m[2].x, m[2].y);
    if (turn == 0)
        return;
    for (int32_t py = 0; py <= m[2].y; ++py) {
        for (int32_t px = 0; px <= m[1].x; ++px) {
            const int32_t a = side(m[0], m[1], px, py);
            const int32_t b = side(m[1], m[2], px, py);
            const int32_t c = side(m[2], m[0], px, py);
            const bool inside = turn > 0 ? (a > 0 && b > 0 && c > 0) : (a < 0 && b < 0 && c < 0);
            if (inside)
                dc.setPixel(ox + px, oy + py, colour);
        }
    }
}

// The four strips of a frame around `target`, `width` thick and `width` away from it.
void frameStrips(const Box& target, int32_t width, Box (&strips)[4])
{
    const Box outer = focusFrameOuter(target, width);
    const Box hole{target.left - width, target.top - width, target.right + width,
                   target.bottom + width};
    strips[0] = Box{outer.left, outer.top, outer.right, hole.top};
    strips[1] = Box{outer.left, hole.bottom, outer.right, outer.bottom};
    strips[2] = Box{outer.left, hole.top, hole.left, hole.bottom};
    strips[3] = Box{hole.right, hole.top, outer.right, hole.bottom};
}

// Draws the frame mark around `target` when `focused`, else paints its place with the face.
void frameMark(Canvas& dc, const Box& target, const DialogView& view, bool focused)
{
    Box strips[4];
    frameStrips(target, view.markWidth, strips);
    for (const Box& strip : strips) {
        if (focused)
            dc.fill(strip, view.markColour);
        else
            dc.fillFace(strip);
    }
}

// The box of a sprite pad's 8 x 8 marker as drawn, in client pixels.
Box spriteBox(const XYPad& pad)
{
    const int32_t ox = pad.originX(), oy = pad.originY();
    return Box{ox, oy, ox + pad.scale.px(pad.marker[1].x), oy + pad.scale.px(pad.marker[2].y)};
}

// `area` grown to cover the frame mark of the sprite pad wherever its marker can be (its track's
// corners). The figure's fill erases the mark of the marker's last place with it; at larger
// scales the thicker frame at the far corner reaches past the fill's designed bounds.
Box coverMarkReach(const Box& area, const XYPad& pad, const DialogView& view)
{
    const Box reach =
        focusFrameOuter(Box{pad.left, pad.top, pad.right + pad.scale.px(pad.marker[1].x),
                            pad.bottom + pad.scale.px(pad.marker[2].y)},
                        view.markWidth);
    return Box{area.left < reach.left ? area.left : reach.left,
               area.top < reach.top ? area.top : reach.top,
               area.right > reach.right ? area.right : reach.right,
               area.bottom > reach.bottom ? area.bottom : reach.bottom};
}

// A ruler pad: the pad itself, its fill when focused and the typed value over its value text.
void drawRuler(Canvas& dc, XYPad& pad, int32_t index, const DialogView& view)
{
    pad.draw(dc);
    if (view.focus == index)
        fillMarker(dc, pad, view.markColour);
    typedCaption(dc, view, index, 0, pad.left - pad.scale.px(12), pad.top - pad.scale.px(12), 4);
}

void drawIfActive(Canvas& dc, XYPad& pad, int32_t index, int fullRedraw, const DialogView& view)
{
    if (pad.grabbed == 1 || fullRedraw == 1)
        drawRuler(dc, pad, index, view);
}

// The frame mark of a sprite pad, when it has the focus; its figure's fill clears it otherwise.
void spriteMark(Canvas& dc, const XYPad& pad, int32_t index, const DialogView& view)
{
    if (view.focus != index)
        return;
    // The sprite itself, so that the frame stays inside what the figure's fill covers.
    frameMark(dc, spriteBox(pad), view, true);
}

// The skew figure in the Stretch frame: a 50 x 50 square whose right edge drops by y - 25 and
// whose bottom edge shifts right by x - 25, with both values as captions.
void drawStretch(Canvas& dc, XYPad& pad, const Box& frame, const DialogView& view)
{
    const int32_t L = frame.left, T = frame.top, x = pad.x, y = pad.y;
    const DisplayScale& scale = pad.scale;
    auto px = [&](int32_t length) { return scale.px(length); };
    const Point figure[5] = {{L, T}, {L + px(50), T + px(y - 25)}, {L + px(x + 25), T + px(y + 25)},
                             {L + px(x - 25), T + px(50)}, {L, T}};
    // The right and bottom edges reach at least past the sprite's frame mark at the far corner.
    const Box reach = coverMarkReach(
        Box{L - px(1), T - px(1), frame.right - px(2), frame.bottom - px(2)}, pad, view);
    fill(dc, L - px(1), T - px(31), reach.right, reach.bottom);
    fill(dc, L - px(31), T - px(1), reach.right, reach.bottom);
    strokePolyline(dc, figure, 5, scale.lineWidth());
    captionOrTyped(dc, view, 4, 0, L + px(x - 31), T + px(44), "%0.2i ", x - 25);
    captionOrTyped(dc, view, 4, 1, L + px(44), T + px(y - 31), "%0.2i ", y - 25);
    pad.draw(dc);
    spriteMark(dc, pad, 4, view);
}

// The light direction in the G-Shading frame: a cross-hair through the marker's centre.
void drawLight(Canvas& dc, XYPad& pad, const Box& frame, const DialogView& view)
{
    const int32_t L = frame.left, T = frame.top, x = pad.x, y = pad.y;
    const DisplayScale& scale = pad.scale;
    auto px = [&](int32_t length) { return scale.px(length); };
    const Box shown = coverMarkReach(Box{L - px(18), T - px(14), L + px(70), T + px(60)}, pad, view);
    fill(dc, shown.left, shown.top, shown.right, shown.bottom);
    // Through the middle of the scaled marker: its origin plus half its size, less half of what a
    // line wider than one pixel adds.
    const int32_t line = scale.lineWidth();
    const int32_t across = T + px(y) + (px(8) - line + 1) / 2;
    const int32_t down = L + px(x) + (px(8) - line + 1) / 2;
    const Point horizontal[2] = {{L, across}, {L + px(58), across}};
    const Point vertical[2] = {{down, T}, {down, T + px(58)}};
    strokePolyline(dc, horizontal, 2, line);
    strokePolyline(dc, vertical, 2, line);
    captionOrTyped(dc, view, 5, 0, L + px(x + 8), T + px(y - 14), "%0.2i ", x - 25);
    captionOrTyped(dc, view, 5, 1, L + px(x - 18), T + px(y - 10), "%0.2i ", y - 25);
    pad.draw(dc);
    spriteMark(dc, pad, 5, view);
}

// Pads 0 and 1 with their captions, moved to the first cell's corner, which the skew shifts.
void drawCellSizePads(Canvas& dc, XYPad* const (&pads)[PadCount], const DialogRects& rects,
                      const DialogView& view)
{
    XYPad& height = *pads[0];
    XYPad& width = *pads[1];
    const XYPad& stretch = *pads[4];
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
    if (view.focus == 0)
        fillMarker(dc, height, view.markColour);
    if (view.focus == 1)
        fillMarker(dc, width, view.markColour);
    captionOrTyped(dc, view, 0, 1, pf.left - px(22), height.originY() - px(17), "%0.3i ",
                   height.y);
    captionOrTyped(dc, view, 1, 0, width.originX() + px(16), pf.top - px(22), "%0.3i ", width.x);
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
                        const DialogRects& rects, int fullRedraw, const DialogView& view)
{
    XYPad& stretch = *pads[4];
    drawCellSizePads(dc, pads, rects, view);

    button.draw(dc);
    if (view.focus == ButtonStop)
        frameMark(dc, focusFrameTarget(pads, button, rects, ButtonStop), view, true);
    drawIfActive(dc, *pads[2], 2, fullRedraw, view);
    drawIfActive(dc, *pads[3], 3, fullRedraw, view);
    if (stretch.grabbed == 1 || fullRedraw == 1)
        drawStretch(dc, stretch, rects.stretchFrame, view);
    if (pads[5]->grabbed == 1 || fullRedraw == 1)
        drawLight(dc, *pads[5], rects.shadingFrame, view);
    drawIfActive(dc, *pads[6], 6, fullRedraw, view);
    drawIfActive(dc, *pads[7], 7, fullRedraw, view);
    if (fullRedraw == 1 &&
        (view.focus == SwatchStop || view.focus == DoubleStop || view.focus == LinkStop))
        frameMark(dc, focusFrameTarget(pads, button, rects, view.focus), view, true);
}

void drawStop(Canvas& dc, XYPad* const (&pads)[PadCount], TriStateButton& button,
              const DialogRects& rects, const DialogView& view, int32_t stop)
{
    switch (stop) {
    case 0:
    case 1:
        drawCellSizePads(dc, pads, rects, view);
        break;
    case 2:
    case 3:
    case 6:
    case 7:
        pads[stop]->erase(dc);
        drawRuler(dc, *pads[stop], stop, view);
        break;
    case 4:
        drawStretch(dc, *pads[4], rects.stretchFrame, view);
        break;
    case 5:
        drawLight(dc, *pads[5], rects.shadingFrame, view);
        break;
    case ButtonStop:
        button.draw(dc);
        frameMark(dc, focusFrameTarget(pads, button, rects, stop), view, view.focus == stop);
        break;
    case SwatchStop:
    case DoubleStop:
    case LinkStop:
        frameMark(dc, focusFrameTarget(pads, button, rects, stop), view, view.focus == stop);
        break;
    default:
        break;
    }
}

Box focusFrameTarget(XYPad* const (&pads)[PadCount], const TriStateButton& button,
                     const DialogRects& rects, int32_t stop)
{
    switch (stop) {
    case 4:
    case 5: {
        return spriteBox(*pads[stop]);
    }
    case ButtonStop:
        // The button as drawn: its cell's size at its scale.
        return Box{button.x, button.y, button.x + button.scale.px(button.width),
                   button.y + button.scale.px(button.height)};
    case SwatchStop:
        return rects.swatchRect;
    case DoubleStop:
        return rects.doubleBox;
    case LinkStop:
        return rects.linkRect;
    default:
        return Box{0, 0, 0, 0};
    }
}

Box focusFrameOuter(const Box& target, int32_t width)
{
    return Box{target.left - 2 * width, target.top - 2 * width, target.right + 2 * width,
               target.bottom + 2 * width};
}

int32_t focusMarkWidth(const DisplayScale& scale)
{
    const int32_t dpi = scale.dpi;
    if (dpi < 144)
        return 1;
    return 2 + (dpi - 144) / 96;
}

bool mouseInRect(uint32_t position, const Box& rect)
{
    const int32_t x = static_cast<int32_t>(position & 0xFFFF);
    const int32_t y = static_cast<int32_t>(position >> 16);
    return rect.left < x && x < rect.right && rect.top < y && y < rect.bottom;
}

} // namespace oryn
