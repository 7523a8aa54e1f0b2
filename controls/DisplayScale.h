// The display scale of the main dialog: one factor, the display's DPI over 96, that the drawing
// code applies to every pixel length of the dialog's own drawing. Values (pad positions, cell
// sizes) keep their units; only what is drawn, and where the mouse finds it, is scaled.
#pragma once

#include <cstdint>

namespace oryn {

// The DPI at which the dialog's drawing has its designed pixel sizes (100%).
constexpr int32_t BaseDpi = 96;
// The DPIs a scale is made for; others are brought into this range (500% is the largest scale
// the platform offers).
constexpr int32_t MinDpi = 96;
constexpr int32_t MaxDpi = 480;

struct DisplayScale {
    int32_t dpi = BaseDpi;

    // A length of the 100% drawing in pixels at this scale: length x dpi / 96, rounded to the
    // nearest pixel with halves away from zero (the platform's MulDiv rounding). At 96 DPI every
    // length is itself.
    int32_t px(int32_t length) const;
    // Pixels at this scale back in 100% lengths (a mouse movement in pad units), same rounding.
    int32_t units(int32_t pixels) const;
    // A value in units (a cell size, an offset) in whole pixels at this scale, truncated toward
    // zero: value x dpi / 96. At 96 DPI every value is itself.
    int32_t truncated(int64_t value) const;
    bool isBase() const { return dpi == BaseDpi; }
    // The width of the drawing's lines in pixels: a whole multiple of the 100% line, so that a
    // line stays sharp: 1 below 200% (192 DPI), 2 from there, one more for every further 96.
    int32_t lineWidth() const { return dpi < 2 * BaseDpi ? 1 : dpi / BaseDpi; }
};

// The scale of a display of `dpi` dots per inch, brought into MinDpi..MaxDpi (0 or a negative
// value, as an unanswered query gives, is 96).
DisplayScale displayScaleForDpi(int32_t dpi);

// numerator / denominator for a positive denominator, rounded to nearest with halves away from
// zero, and held to the int32_t range: the rounding every length of the dialog's layout uses.
int32_t roundedQuotient(int64_t numerator, int64_t denominator);

} // namespace oryn
