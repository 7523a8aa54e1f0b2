// The drag pad: geometry, drag state machine, value text and painting through a Canvas.
#include "controls/XYPad.h"

#include <cstdio>
#include <cstring>

#include "controls/PadKeys.h"

namespace oryn {

const uint8_t padSprite[64] = {
    0,  64,  64,  64,  64,  64,  64,  0,  //
    64, 255, 255, 255, 255, 255, 255, 64, //
    64, 255, 255, 255, 255, 255, 255, 64, //
    64, 255, 255, 255, 255, 255, 255, 64, //
    64, 255, 255, 255, 255, 255, 255, 64, //
    64, 255, 255, 255, 255, 255, 255, 64, //
    64, 255, 255, 255, 255, 255, 255, 64, //
    0,  64,  64,  64,  64,  64,  64,  0,  //
};

namespace {

constexpr uint32_t MouseMove = 0x200;
constexpr uint32_t LeftButtonDown = 0x201;
constexpr uint32_t LeftButtonUp = 0x202;
constexpr uint32_t LeftButtonDoubleClick = 0x203;

// Only the left button, no modifier: the one key state that moves a held marker.
constexpr uint32_t LeftButtonAlone = 1;

// At least two digits, a minus sign before negative values, two blanks after. The 0 flag has no
// effect beside the precision; the text is kept as the dialog has always written it.
const char ValueFormat[] = "%0.2i  ";

// Both the centred look and the sprite reset to the middle of the track on a double-click.
constexpr int32_t ResetsToCentre = PadCentred | PadSprite;

} // namespace

XYPad::XYPad(int32_t left, int32_t top, int32_t rangeX, int32_t rangeY, int32_t x0, int32_t y0,
             int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t flags, const char* label,
             uint32_t captionBox, DisplayScale scale)
    : x(0), y(0), left(left), top(top), right(left + scale.px(rangeX)),
      bottom(top + scale.px(rangeY)), flags(flags), marker{{x0, y0}, {x1, y1}, {x2, y2}}, label{},
      captionBox(captionBox), grabbed(0), eraseRect{}, outline{}, grabValueX(0), grabValueY(0),
      grabMouseX(0), grabMouseY(0), valueText{}, scale(scale)
{
    if (label != nullptr) {
        std::strncpy(this->label, label, sizeof this->label - 1);
        this->label[sizeof this->label - 1] = '\0';
    }
}

int32_t XYPad::rangeX() const { return scale.units(right - left); }
int32_t XYPad::rangeY() const { return scale.units(bottom - top); }
int32_t XYPad::originX() const { return left + scale.px(x); }
int32_t XYPad::originY() const { return top + scale.px(y); }

bool XYPad::inMarkerBox(int32_t mx, int32_t my) const
{
    const int32_t boxLeft = originX();
    const int32_t boxTop = originY();
    return mx >= boxLeft && mx <= boxLeft + scale.px(marker[1].x) && my >= boxTop &&
           my <= boxTop + scale.px(marker[2].y);
}

Box XYPad::companionBox() const
{
    const int32_t b0 = captionBox & 0xFF;
    const int32_t b1 = captionBox >> 8 & 0xFF;
    const int32_t b2 = captionBox >> 16 & 0xFF;
    const int32_t b3 = captionBox >> 24 & 0xFF;
    const int32_t boxLeft = originX() + scale.px(16 - b0);
    const int32_t boxTop = originY() + scale.px(16 - b1);
    return Box{boxLeft, boxTop, boxLeft + scale.px(b2), boxTop + scale.px(b3)};
}

void XYPad::formatValue()
{
    int32_t value = x;
    if (flags & PadCentred)
        value = x - rangeX() / 2;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    // Pad values come from stored records as well as from dragging, so any int32 may arrive here;
    // the buffer keeps the first 7 characters, of which only 4 are ever drawn.
    std::snprintf(valueText, sizeof valueText, ValueFormat, static_cast<int>(value));
#pragma GCC diagnostic pop
}

void XYPad::erase(Canvas& dc)
{
    eraseRect.left = originX();
    eraseRect.top = originY();
    eraseRect.right = eraseRect.left + scale.px(marker[1].x) + scale.lineWidth();
    eraseRect.bottom = eraseRect.top + scale.px(marker[2].y) + scale.lineWidth();
    dc.fillFace(eraseRect);
    if (label[0] != '\0' || captionBox == 0)
        return;
    eraseRect = companionBox();
    dc.fillFace(eraseRect);
}

void XYPad::draw(Canvas& dc)
{
    const int32_t ox = originX();
    const int32_t oy = originY();
    for (int i = 0; i < 3; ++i)
        outline[i] = Point{ox + scale.px(marker[i].x), oy + scale.px(marker[i].y)};
    outline[3] = outline[0];

    if (flags & PadSprite) {
        // The 8 x 8 image enlarged to the scaled marker box, each pixel of it taking the sprite
        // pixel it falls in.
        const int32_t size = scale.px(8);
        for (int32_t row = 0; row < size; ++row)
            for (int32_t column = 0; column < size; ++column) {
                const uint8_t b = padSprite[row * 8 / size * 8 + column * 8 / size];
                if (b != 0)
                    dc.setPixel(outline[0].x + column, outline[0].y + row, rgb(b, 0, 0));
            }
        return;
    }

    const int32_t line = scale.lineWidth();
    strokePolyline(dc, outline, 4, line);
    const int32_t x0 = scale.px(marker[0].x);
    if (label[0] != '\0')
        dc.text(left + scale.px(marker[0].x + static_cast<int32_t>(captionBox) + 6),
                top - scale.px(19), label, static_cast<int>(std::strlen(label)));
    if (flags == 0)
        return;

    outline[0] = Point{left + x0, top - scale.px(4)};
    outline[1] = Point{left + x0, top - scale.px(2)};
    outline[2] = Point{right + x0, top - scale.px(2)};
    outline[3] = Point{right + x0, top - scale.px(5)};
    strokePolyline(dc, outline, 4, line);

    if (flags & PadCentred) {
        const int32_t half = rangeX() / 2;
        for (int32_t tick = top - scale.px(4); tick <= top - scale.px(3); ++tick)
            for (int32_t column = 0; column < line; ++column)
                dc.setPixel(left + scale.px(half) + x0 + column, tick, rgb(0, 0, 0));
    }
    formatValue();
    if (flags & PadShowValue)
        dc.text(left - scale.px(12), top - scale.px(12), valueText, 4);
}

int32_t XYPad::handleMouse(Canvas& dc, uint32_t message, uint32_t keyState, uint32_t position)
{
    // Signed: while the dialog holds the mouse capture for a drag, the pointer may be left of or
    // above the client area.
    const int32_t mx = static_cast<int16_t>(position & 0xFFFF);
    const int32_t my = static_cast<int16_t>(position >> 16);
    switch (message & 0xFFFF) {
    case MouseMove:
        if (grabbed == 0 || keyState != LeftButtonAlone)
            return 0;
        erase(dc);
        // The mouse moves in pixels, the values in units.
        x = grabValueX + scale.units(mx - grabMouseX);
        y = grabValueY + scale.units(my - grabMouseY);
        // Negative values first, then the far ends: a range that has shrunk below zero wins.
        if (x < 0)
            x = 0;
        if (y < 0)
            y = 0;
        if (x > rangeX())
            x = rangeX();
        if (y > rangeY())
            y = rangeY();
        return 1;
    case LeftButtonDown:
        // A press that misses the marker also ends a hold whose button-up never came, so that
        // it cannot move the pad.
        grabbed = 0;
        if (inMarkerBox(mx, my)) {
            grabbed = 1;
            grabValueX = x;
            grabValueY = y;
            grabMouseX = mx;
            grabMouseY = my;
        }
        return 0;
    case LeftButtonUp:
        grabbed = 0;
        return 0;
    case LeftButtonDoubleClick:
        if (flags == 0 || !inMarkerBox(mx, my))
            return 0;
        erase(dc);
        if (flags & ResetsToCentre) {
            x = rangeX() / 2;
            y = rangeY() / 2;
        } else {
            x = 0;
            y = 0;
        }
        grabbed = 1;
        return 1;
    default:
        return 0;
    }
}

int32_t XYPad::handleKey(Canvas& dc, uint32_t key, uint32_t modifiers)
{
    PadValue target{x, y};
    if (!padKeyTarget(x, y, rangeX(), rangeY(), flags, key, modifiers, target))
        return 0;
    if (target.x == x && target.y == y)
        return 0;
    erase(dc);
    x = target.x;
    y = target.y;
    return 1;
}

} // namespace oryn
