// Run set-up shared by every run: preview scale, background colour, whole-image request.
#include "host/RunSetup.h"

namespace oryn {

namespace {

// Single-precision step from image pixels to preview pixels (the float nearest 1/300).
constexpr float ScaleStep = 0.0033333334f;

void emptyRect(Rect& rect) { rect.top = rect.left = rect.bottom = rect.right = 0; }

} // namespace

int32_t clampNonNegative(int32_t v) { return v >= 0 ? v : 0; }

int32_t negativePart(int32_t v)
{
    // -INT32_MIN does not exist; the largest representable magnitude stands in for it.
    if (v == INT32_MIN)
        return INT32_MAX;
    return v < 0 ? -v : 0;
}

float computeImageScale(int32_t columns, int32_t rows)
{
    double a = static_cast<double>(columns) * static_cast<double>(ScaleStep);
    double b = static_cast<double>(rows) * static_cast<double>(ScaleStep);
    float scale = static_cast<float>(a > b ? a : b);
    return scale < 1.0f ? 1.0f : scale;
}

uint32_t hostColorWord(const FilterColor& color)
{
    uint32_t word = static_cast<uint32_t>(color[0]) | static_cast<uint32_t>(color[1]) << 8 |
                    static_cast<uint32_t>(color[2]) << 16 | static_cast<uint32_t>(color[3]) << 24;
    return word | OpaqueMarker;
}

uint32_t resolveBackgroundColor(int32_t mode, int32_t planes, const FilterRecord& record,
                                uint32_t pickerColor, uint32_t previous)
{
    if (planes < 3)
        return DefaultBackgroundColor;
    switch (mode) {
    case Foreground:
        return hostColorWord(record.foreColor);
    case Background:
        return hostColorWord(record.backColor);
    case Picker:
        return pickerColor | OpaqueMarker;
    case Transparent:
        return TransparentColor;
    default:
        return previous;
    }
}

int16_t requestWholeImage(FilterRecord* record, int32_t planes)
{
    if (record == nullptr)
        return memFullErr;
    Rect whole;
    whole.top = 0;
    whole.left = 0;
    whole.bottom = record->imageSize.v;
    whole.right = record->imageSize.h;
    record->inRect = whole;
    record->outRect = whole;
    if (record->haveMask)
        record->maskRect = whole;
    else
        emptyRect(record->maskRect);
    record->inLoPlane = 0;
    record->inHiPlane = static_cast<int16_t>(planes - 1);
    record->outLoPlane = 0;
    record->outHiPlane = static_cast<int16_t>(planes - 1);
    // A host without advanceState cannot hand over any data.
    if (record->advanceState == nullptr)
        return memFullErr;
    record->advanceState(); // hosts report a failed request through the missing buffers
    if (record->inData == nullptr || record->outData == nullptr)
        return memFullErr;
    if (record->haveMask && record->maskData == nullptr)
        return memFullErr;
    return noErr;
}

} // namespace oryn
