// The two-axis drag pad: a marker dragged with the left button inside a track, giving an integer
// value pair. Windowless: the owner hands it a canvas and the dialog's mouse messages.
// Geometry (left, top, right, bottom, mouse positions) is in the dialog's client pixels; values
// and ranges are in pad units. At a display scale above 100% one unit spans scale.px(1) pixels
// and the marker, ruler and texts are drawn scaled; at 96 DPI a unit is a pixel.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"
#include "controls/DisplayScale.h"

namespace oryn {

// flags bits.
constexpr int32_t PadRuler = 0x01;
constexpr int32_t PadCentred = 0x02;
constexpr int32_t PadShowValue = 0x04;
constexpr int32_t PadSprite = 0x10;

// The 8 x 8 sprite marker: 0 is transparent, any other byte b is the colour red b.
extern const uint8_t padSprite[64];

class XYPad {
public:
    // left and top in client pixels; the ranges in units (the track spans scale.px(range)
    // pixels); the marker points and the caption box in 100% pixels.
    XYPad(int32_t left, int32_t top, int32_t rangeX, int32_t rangeY, int32_t x0, int32_t y0,
          int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t flags, const char* label,
          uint32_t captionBox, DisplayScale scale = DisplayScale());

    void erase(Canvas& dc);
    void draw(Canvas& dc);
    // Returns 1 after a drag step or a double-click reset (the owner must repaint), else 0.
    int32_t handleMouse(Canvas& dc, uint32_t message, uint32_t keyState, uint32_t position);
    // A key (PadKeys.h codes and modifiers) that moves the marker: erases it at its old place and
    // sets the new value. Returns 1 when the value changed (the owner must repaint), else 0.
    int32_t handleKey(Canvas& dc, uint32_t key, uint32_t modifiers);

    // True when the client point lies in the marker box (both ends included).
    bool inMarkerBox(int32_t mx, int32_t my) const;
    // The companion caption box of an unlabelled pad at the current value (captionBox bytes
    // b0..b3: left offset from origin + 16, top offset from origin + 16, width, height).
    Box companionBox() const;
    // The current ranges in units: the track's pixels (right - left, bottom - top) at the scale.
    int32_t rangeX() const;
    int32_t rangeY() const;
    // The marker origin in client pixels: the track's corner moved by the values.
    int32_t originX() const;
    int32_t originY() const;
    // Writes the displayed value ("%0.2i  ", centred pads relative to the middle) to valueText.
    void formatValue();

    int32_t x;
    int32_t y;
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    int32_t flags;
    Point marker[3];
    char label[32];
    uint32_t captionBox;
    int32_t grabbed;
    Box eraseRect;
    Point outline[4];
    int32_t grabValueX;
    int32_t grabValueY;
    int32_t grabMouseX;
    int32_t grabMouseY;
    char valueText[8];
    DisplayScale scale;
};

} // namespace oryn
