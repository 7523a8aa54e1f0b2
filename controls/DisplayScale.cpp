// The display scale's integer arithmetic.
#include "controls/DisplayScale.h"

namespace oryn {

int32_t roundedQuotient(int64_t numerator, int64_t denominator)
{
    const int64_t half = denominator / 2;
    const int64_t q = numerator >= 0 ? (numerator + half) / denominator
                                     : -((-numerator + half) / denominator);
    if (q > INT32_MAX)
        return INT32_MAX;
    if (q < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(q);
}

int32_t DisplayScale::px(int32_t length) const
{
    return roundedQuotient(static_cast<int64_t>(length) * dpi, BaseDpi);
}

int32_t DisplayScale::units(int32_t pixels) const
{
    return roundedQuotient(static_cast<int64_t>(pixels) * BaseDpi, dpi > 0 ? dpi : BaseDpi);
}

int32_t DisplayScale::truncated(int64_t value) const
{
    // Pad values from stored records may be anything; the product stays within 64 bits.
    const int64_t q = value * dpi / BaseDpi;
    if (q > INT32_MAX)
        return INT32_MAX;
    if (q < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(q);
}

DisplayScale displayScaleForDpi(int32_t dpi)
{
    DisplayScale scale;
    if (dpi <= 0)
        scale.dpi = BaseDpi;
    else if (dpi < MinDpi)
        scale.dpi = MinDpi;
    else if (dpi > MaxDpi)
        scale.dpi = MaxDpi;
    else
        scale.dpi = dpi;
    return scale;
}

} // namespace oryn
