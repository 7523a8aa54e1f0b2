// Keyboard rules of the pads: key targets, clamping and typed caption values.
#include "controls/PadKeys.h"

#include <cstring>

#include "controls/XYPad.h"

namespace oryn {

namespace {

// The drag step's clamp: a negative value becomes 0, then one above the range becomes the range.
int32_t clampToRange(int32_t value, int32_t range)
{
    if (value < 0)
        value = 0;
    if (value > range)
        value = range;
    return value;
}

int32_t digitCount(int32_t value)
{
    int32_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

int32_t padRange(const XYPad& pad, int32_t axis)
{
    return axis == 0 ? pad.rangeX() : pad.rangeY();
}

bool twoAxis(const XYPad& pad)
{
    return pad.right != pad.left && pad.bottom != pad.top;
}

} // namespace

bool padKeyTarget(int32_t x, int32_t y, int32_t rangeX, int32_t rangeY, int32_t flags, uint32_t key,
                  uint32_t modifiers, PadValue& target)
{
    const bool horizontal = rangeX != 0;
    const bool vertical = rangeY != 0;
    const int32_t step = (modifiers & ShiftHeld) != 0 ? PadLargeStep : 1;
    PadValue next{x, y};
    switch (key) {
    case KeyLeft:
    case KeyRight:
        if (!horizontal)
            return false;
        next.x += key == KeyLeft ? -step : step;
        break;
    case KeyUp:
    case KeyDown:
        if (!vertical)
            return false;
        next.y += key == KeyUp ? -step : step;
        break;
    case KeyHome:
    case KeyEnd:
        if (horizontal)
            next.x = key == KeyHome ? 0 : rangeX;
        else if (vertical)
            next.y = key == KeyHome ? 0 : rangeY;
        else
            return false;
        break;
    case KeyPageUp:
    case KeyPageDown:
        if (!horizontal || !vertical)
            return false;
        next.y = key == KeyPageUp ? 0 : rangeY;
        break;
    case KeyDelete:
        if (flags == 0)
            return false;
        if (flags & (PadCentred | PadSprite))
            next = PadValue{rangeX / 2, rangeY / 2};
        else
            next = PadValue{0, 0};
        break;
    default:
        return false;
    }
    target = PadValue{clampToRange(next.x, rangeX), clampToRange(next.y, rangeY)};
    return true;
}

int32_t padTypedAxis(int32_t rangeX, int32_t rangeY)
{
    return rangeX == 0 && rangeY != 0 ? 1 : 0;
}

int32_t padDisplayOffset(int32_t range, int32_t flags, int32_t axis)
{
    if ((flags & PadSprite) || ((flags & PadCentred) && axis == 0))
        return range / 2;
    return 0;
}

bool typedPadValue(const char* text, int32_t offset, int32_t range, int32_t& value)
{
    bool negative = false;
    if (*text == '-') {
        negative = true;
        ++text;
    }
    if (*text < '0' || *text > '9')
        return false;
    int32_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (number < 100000)
            number = number * 10 + (*text - '0');
    if (*text != '\0')
        return false;
    value = clampToRange((negative ? -number : number) + offset, range);
    return true;
}

int32_t padEntryLength(const XYPad& pad, int32_t axis)
{
    const int32_t range = padRange(pad, axis);
    const int32_t offset = padDisplayOffset(range, pad.flags, axis);
    const int32_t low = -offset;
    const int32_t high = range - offset;
    const int32_t widest = (low < 0 ? -low : low) > (high < 0 ? -high : high)
                               ? (low < 0 ? -low : low)
                               : (high < 0 ? -high : high);
    int32_t length = digitCount(widest) + (low < 0 ? 1 : 0);
    const int32_t room = static_cast<int32_t>(sizeof PadEntry{}.text[0]) - 1;
    return length < room ? length : room;
}

int32_t typePadEntry(PadEntry& entry, int32_t index, const XYPad& pad, char c)
{
    PadEntry next = entry;
    if (next.pad != index) {
        // Only a number starts an entry (or, on a two-axis pad, the step to its vertical value);
        // whatever another pad had is dropped.
        const bool separator = (c == ',' || c == ' ') && twoAxis(pad);
        if ((c < '0' || c > '9') && c != '-' && !separator)
            return 0;
        next = PadEntry{};
        next.pad = index;
        next.axis = twoAxis(pad) ? 0 : padTypedAxis(pad.rangeX(), pad.rangeY());
    }
    char* text = next.text[next.axis];
    const size_t length = std::strlen(text);
    if (c == '\b') {
        if (length > 0)
            text[length - 1] = '\0';
        else if (next.axis == 1 && twoAxis(pad))
            next.axis = 0;
        else
            next = PadEntry{};
    } else if (c == ',' || c == ' ') {
        if (!twoAxis(pad) || next.axis == 1)
            return 0;
        next.axis = 1;
    } else if (c == '-') {
        if (length != 0 || padDisplayOffset(padRange(pad, next.axis), pad.flags, next.axis) == 0)
            return 0;
        text[0] = '-';
        text[1] = '\0';
    } else if (c >= '0' && c <= '9') {
        if (static_cast<int32_t>(length) >= padEntryLength(pad, next.axis))
            return 0;
        text[length] = c;
        text[length + 1] = '\0';
    } else {
        return 0;
    }
    entry = next;
    return 1;
}

int32_t commitPadEntry(PadEntry& entry, XYPad& pad, Canvas& dc)
{
    if (entry.pad < 0)
        return 0;
    PadValue target{pad.x, pad.y};
    for (int32_t axis = 0; axis < 2; ++axis) {
        const int32_t range = padRange(pad, axis);
        int32_t value = 0;
        if (typedPadValue(entry.text[axis], padDisplayOffset(range, pad.flags, axis), range, value))
            (axis == 0 ? target.x : target.y) = value;
    }
    clearPadEntry(entry);
    if (target.x == pad.x && target.y == pad.y)
        return 0;
    pad.erase(dc);
    pad.x = target.x;
    pad.y = target.y;
    return 1;
}

void clearPadEntry(PadEntry& entry)
{
    entry = PadEntry{};
}

bool entryActive(const PadEntry& entry, int32_t index)
{
    return index >= 0 && entry.pad == index;
}

} // namespace oryn
