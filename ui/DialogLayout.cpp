// Dialog-unit layout at a display scale, and the reading of an extended dialog template.
#include "ui/DialogLayout.h"

namespace oryn {

namespace {

// The template's little-endian fields, each read only inside the bytes.
struct Reader {
    const uint8_t* bytes;
    size_t size;
    size_t at = 0;
    bool ok = true;

    uint32_t take(size_t width)
    {
        if (!ok || at > size || size - at < width) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i)
            value |= uint32_t(bytes[at + i]) << (8 * i);
        at += width;
        return value;
    }
    uint16_t word() { return static_cast<uint16_t>(take(2)); }
    uint32_t dword() { return take(4); }
    int16_t shortValue() { return static_cast<int16_t>(word()); }
    // A string of UTF-16 units ending in a zero unit.
    void skipString()
    {
        while (ok && word() != 0) {
        }
    }
    // A string of UTF-16 units ending in a zero unit into `text` when every unit is ASCII and the
    // string fits with its terminator; otherwise `text` is left empty. The whole string is read.
    void readAsciiString(char* text, size_t capacity)
    {
        size_t length = 0;
        bool plain = true;
        for (uint16_t unit = word(); ok && unit != 0; unit = word()) {
            if (unit > 0x7F || length + 1 >= capacity)
                plain = false;
            else
                text[length++] = static_cast<char>(unit);
        }
        text[plain && ok ? length : 0] = '\0';
    }
    // A name or an ordinal: 0 (none), 0xFFFF and a number, or a string.
    void skipNameOrOrdinal()
    {
        const uint16_t first = word();
        if (first == 0xFFFF)
            word();
        else if (first != 0)
            skipString();
    }
    void alignToDword()
    {
        const size_t aligned = (at + 3) & ~size_t(3);
        if (aligned > size)
            ok = false;
        else
            at = aligned;
    }
};

constexpr uint32_t SetFontStyle = 0x40; // DS_SETFONT (DS_SHELLFONT includes it)

} // namespace

int32_t unitsToPixelsX(int32_t units, const DisplayScale& scale)
{
    return roundedQuotient(int64_t(units) * BaseUnitX * scale.dpi, int64_t(4) * BaseDpi);
}

int32_t unitsToPixelsY(int32_t units, const DisplayScale& scale)
{
    return roundedQuotient(int64_t(units) * BaseUnitY * scale.dpi, int64_t(8) * BaseDpi);
}

PixelRect layoutRect(const UnitRect& units, const DisplayScale& scale)
{
    PixelRect rect;
    rect.left = unitsToPixelsX(units.x, scale);
    rect.top = unitsToPixelsY(units.y, scale);
    rect.width = unitsToPixelsX(units.cx, scale);
    rect.height = unitsToPixelsY(units.cy, scale);
    return rect;
}

int32_t fontHeightForPoints(int32_t pointSize, const DisplayScale& scale)
{
    return -roundedQuotient(int64_t(pointSize) * scale.dpi, 72);
}

bool readDialogTemplate(const uint8_t* bytes, size_t size, DialogTemplateLayout& layout)
{
    if (bytes == nullptr)
        return false;
    Reader in{bytes, size};
    const uint16_t version = in.word();
    const uint16_t signature = in.word();
    if (!in.ok || version != 1 || signature != 0xFFFF)
        return false;
    in.dword(); // help id
    in.dword(); // extended style
    const uint32_t style = in.dword();
    const uint16_t count = in.word();
    in.shortValue(); // x
    in.shortValue(); // y
    layout.width = in.shortValue();
    layout.height = in.shortValue();
    in.skipNameOrOrdinal(); // menu
    in.skipNameOrOrdinal(); // window class
    in.skipString();        // title
    layout.pointSize = 0;
    layout.weight = 0;
    layout.italic = 0;
    layout.faceName[0] = '\0';
    if ((style & SetFontStyle) != 0) {
        layout.pointSize = in.word();
        layout.weight = in.word();
        layout.italic = static_cast<int32_t>(in.take(1));
        in.take(1); // character set: the dialog manager asks for the default one
        in.readAsciiString(layout.faceName, FaceNameCapacity);
    }
    if (!in.ok || count > MaxTemplateItems)
        return false;
    layout.count = count;
    for (uint16_t i = 0; i < count; ++i) {
        in.alignToDword();
        in.dword(); // help id
        in.dword(); // extended style
        in.dword(); // style
        UnitRect& item = layout.items[i];
        item.x = in.shortValue();
        item.y = in.shortValue();
        item.cx = in.shortValue();
        item.cy = in.shortValue();
        in.dword(); // id
        in.skipNameOrOrdinal(); // window class
        in.skipNameOrOrdinal(); // title
        const uint16_t extra = in.word();
        for (uint16_t b = 0; b < extra && in.ok; ++b)
            in.take(1);
        if (!in.ok)
            return false;
    }
    return in.ok;
}

} // namespace oryn
