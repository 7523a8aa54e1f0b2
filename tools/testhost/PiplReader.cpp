// Decodes a plug-in property list; every read is checked against the resource size first.
#include "tools/testhost/PiplReader.h"

#include <cstdarg>
#include <cstdio>

namespace oryn {

namespace {

uint16_t readLe16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t readLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void addError(PiplInfo& info, const char* format, ...) __attribute__((format(printf, 2, 3)));

void addError(PiplInfo& info, const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    info.errors.emplace_back(line);
}

// Text of a Pascal string (length byte, then text) filling at most the property's data.
// Returns 0, or 1 when the length byte claims more than the data holds.
int readPascal(const std::vector<uint8_t>& data, std::string& text)
{
    if (data.empty() || size_t(data[0]) + 1 > data.size())
        return 1;
    text.assign(reinterpret_cast<const char*>(data.data()) + 1, data[0]);
    return 0;
}

// Text of a NUL-terminated string inside the property's data. Returns 0, or 1 when the data
// holds no terminator.
int readCString(const std::vector<uint8_t>& data, std::string& text)
{
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == 0) {
            text.assign(reinterpret_cast<const char*>(data.data()), i);
            return 0;
        }
    }
    return 1;
}

// Fills the decoded field that belongs to one complete, '8BIM' property.
void decodeProperty(const PiplProperty& property, int index, PiplInfo& info)
{
    const std::vector<uint8_t>& data = property.data;
    const std::string key = fourCharText(property.key);
    auto duplicate = [&](bool seen) {
        if (seen)
            addError(info, "property %d '%s': appears more than once; the last one counts", index,
                     key.c_str());
    };

    switch (property.key) {
    case PiplKeyKind:
        duplicate(info.hasKind);
        if (data.size() < 4) {
            addError(info, "property %d 'kind': %u bytes, needs 4", index, unsigned(data.size()));
            return;
        }
        info.kind = readLe32(data.data());
        info.hasKind = true;
        return;
    case PiplKeyName:
    case PiplKeyCategory: {
        bool isName = property.key == PiplKeyName;
        duplicate(isName ? info.hasName : info.hasCategory);
        std::string text;
        if (readPascal(data, text)) {
            addError(info, "property %d '%s': Pascal string length %d exceeds its %u bytes",
                     index, key.c_str(), data.empty() ? -1 : data[0], unsigned(data.size()));
            return;
        }
        (isName ? info.name : info.category) = text;
        (isName ? info.hasName : info.hasCategory) = true;
        return;
    }
    case PiplKeyVersion:
        duplicate(info.hasVersion);
        if (data.size() < 4) {
            addError(info, "property %d 'vers': %u bytes, needs 4", index, unsigned(data.size()));
            return;
        }
        info.interfaceVersion = int32_t(readLe32(data.data()));
        info.hasVersion = true;
        return;
    case PiplKeyEntryX86:
    case PiplKeyEntryX64:
    case PiplKeyEntryArm64: {
        PiplEntryPoint entry;
        entry.key = property.key;
        if (readCString(data, entry.name)) {
            addError(info, "property %d '%s': entry name has no terminating NUL", index,
                     key.c_str());
            return;
        }
        if (entry.name.empty()) {
            addError(info, "property %d '%s': empty entry name", index, key.c_str());
            return;
        }
        if (findEntryPoint(info, entry.key) != nullptr)
            duplicate(true);
        info.entryPoints.push_back(entry);
        return;
    }
    case PiplKeyMode:
        duplicate(info.hasModes);
        if (data.empty()) {
            addError(info, "property %d 'mode': no flag bytes", index);
            return;
        }
        info.modes = data;
        info.hasModes = true;
        return;
    case PiplKeyEnable:
        duplicate(info.hasEnable);
        if (readCString(data, info.enableExpression)) {
            addError(info, "property %d 'enbl': expression has no terminating NUL", index);
            return;
        }
        info.hasEnable = true;
        return;
    case PiplKeyCases:
        duplicate(info.hasCases);
        if (data.size() < 4 * size_t(PiplCaseCount)) {
            addError(info, "property %d 'fici': %u bytes, needs %d", index, unsigned(data.size()),
                     4 * PiplCaseCount);
            return;
        }
        for (int c = 0; c < PiplCaseCount; ++c) {
            info.cases[c].inputHandling = int8_t(data[4 * c]);
            info.cases[c].outputHandling = int8_t(data[4 * c + 1]);
            info.cases[c].flags1 = data[4 * c + 2];
            info.cases[c].flags2 = data[4 * c + 3];
        }
        info.hasCases = true;
        return;
    default:
        return; // kept only in the raw list
    }
}

} // namespace

int readPipl(const uint8_t* bytes, size_t size, PiplInfo& info)
{
    info = PiplInfo();
    if (bytes == nullptr || size < PiplHeaderSize) {
        addError(info, "header: %u bytes, needs %u", bytes == nullptr ? 0u : unsigned(size),
                 unsigned(PiplHeaderSize));
        return 1;
    }
    info.prelude = int16_t(readLe16(bytes));
    info.version = int32_t(readLe32(bytes + 2));
    info.count = int32_t(readLe32(bytes + 6));
    if (info.prelude != 1)
        addError(info, "header: prelude %d, expected 1", info.prelude);
    if (info.version != 0)
        addError(info, "header: version %d, expected 0", int(info.version));
    if (info.count < 0) {
        addError(info, "header: negative property count %d", int(info.count));
        return 1;
    }

    size_t pos = PiplHeaderSize;
    for (int32_t i = 0; i < info.count; ++i) {
        if (size - pos < PiplPropertyHeaderSize) {
            addError(info, "property %d of %d: header truncated at offset %u (%u bytes left)",
                     int(i), int(info.count), unsigned(pos), unsigned(size - pos));
            break;
        }
        PiplProperty property;
        property.offset = pos;
        property.vendor = readLe32(bytes + pos);
        property.key = readLe32(bytes + pos + 4);
        property.id = int32_t(readLe32(bytes + pos + 8));
        property.length = int32_t(readLe32(bytes + pos + 12));
        const std::string key = fourCharText(property.key);
        pos += PiplPropertyHeaderSize;

        if (property.length < 0) {
            addError(info, "property %d '%s': negative length %d", int(i), key.c_str(),
                     int(property.length));
            info.properties.push_back(property);
            break;
        }
        size_t left = size - pos;
        if (size_t(property.length) > left) {
            addError(info, "property %d '%s': length %d runs past the end (%u bytes left)",
                     int(i), key.c_str(), int(property.length), unsigned(left));
            property.data.assign(bytes + pos, bytes + size);
            info.properties.push_back(property);
            break;
        }
        property.data.assign(bytes + pos, bytes + pos + property.length);
        // Hosts differ in how they step to the next property: some round the length up to 4,
        // some add it as stored. Only a length that is already a multiple of 4 works in both.
        if (property.length % 4 != 0)
            addError(info, "property %d '%s': length %d is not a multiple of 4", int(i),
                     key.c_str(), int(property.length));
        if (property.vendor != PiplVendor)
            addError(info, "property %d '%s': vendor '%s', expected '8BIM'", int(i), key.c_str(),
                     fourCharText(property.vendor).c_str());
        if (property.id != 0)
            addError(info, "property %d '%s': id %d, expected 0", int(i), key.c_str(),
                     int(property.id));
        size_t padded = (size_t(property.length) + 3) & ~size_t(3);
        pos = padded > left ? size : pos + padded;

        if (property.vendor == PiplVendor)
            decodeProperty(property, int(i), info);
        info.properties.push_back(property);
    }
    return info.errors.empty() ? 0 : 1;
}

const PiplEntryPoint* findEntryPoint(const PiplInfo& info, uint32_t key)
{
    const PiplEntryPoint* found = nullptr;
    for (const PiplEntryPoint& entry : info.entryPoints) {
        if (entry.key == key)
            found = &entry; // a repeated key: the last one counts, as for the other properties
    }
    return found;
}

std::string fourCharText(uint32_t code)
{
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        unsigned char c = uint8_t(code >> (24 - 8 * i));
        if (c >= 0x20 && c < 0x7F)
            text[i] = char(c);
    }
    return text;
}

} // namespace oryn
