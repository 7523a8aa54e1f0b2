// Where the main dialog's template controls go at a display scale. The template gives every
// control in dialog units; the dialog manager turns them into pixels with the base units of the
// template's font as the system picks it. A bitmap font has only a few sizes, so at some scales
// (200% among them) the picked face is smaller than the scale asks for and the template would lag
// behind everything the dialog draws itself. The layout here uses the font's base units at 100%
// times the display scale instead, so the template's controls and the dialog's own drawing grow
// by one factor at every scale, and the same layout serves a change of scale while the dialog is
// open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "controls/DisplayScale.h"

namespace oryn {

// The dialog font's base units at 100% (8-point "MS Sans Serif" at 96 DPI): a horizontal dialog
// unit is a quarter of BaseUnitX pixels, a vertical one an eighth of BaseUnitY.
constexpr int32_t BaseUnitX = 6;
constexpr int32_t BaseUnitY = 13;

// A rectangle in dialog units, as a template stores it.
struct UnitRect {
    int32_t x = 0, y = 0, cx = 0, cy = 0;
};

// A rectangle in pixels of the dialog's client area.
struct PixelRect {
    int32_t left = 0, top = 0, width = 0, height = 0;
};

// Dialog units in pixels at a scale, rounded to the nearest pixel with halves away from zero (the
// platform's MulDiv). A rectangle's position and its size are converted each on its own, as the
// dialog manager does, so at 100% the layout is the dialog manager's own, pixel for pixel.
int32_t unitsToPixelsX(int32_t units, const DisplayScale& scale);
int32_t unitsToPixelsY(int32_t units, const DisplayScale& scale);
PixelRect layoutRect(const UnitRect& units, const DisplayScale& scale);

// The size and the controls of an extended dialog template (the resource a DIALOGEX statement
// makes), in template order, which is the order the dialog manager creates the controls in.
constexpr int32_t MaxTemplateItems = 64;
constexpr int32_t FaceNameCapacity = 32; // LF_FACESIZE
struct DialogTemplateLayout {
    int32_t width = 0, height = 0; // the client area, in dialog units
    // The template's font (DS_SETFONT); pointSize 0 when it names none. The face name is kept
    // when it is plain ASCII and fits, else left empty.
    int32_t pointSize = 0;
    int32_t weight = 0;
    int32_t italic = 0;
    char faceName[FaceNameCapacity] = {};
    int32_t count = 0;
    UnitRect items[MaxTemplateItems];
};

// Reads the size and the control rectangles of an extended dialog template of `size` bytes.
// False, with `layout` unspecified, when the bytes are not a whole extended template or it has
// more than MaxTemplateItems controls.
bool readDialogTemplate(const uint8_t* bytes, size_t size, DialogTemplateLayout& layout);

// The character height (a negative LOGFONT height) of a font of `pointSize` points at a scale:
// -(pointSize x dpi / 72) rounded like MulDiv, as the dialog manager sizes a template's font.
int32_t fontHeightForPoints(int32_t pointSize, const DisplayScale& scale);

} // namespace oryn
