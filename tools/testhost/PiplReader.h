// Decodes a plug-in property list (PiPL resource bytes, Windows layout) into plain values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oryn {

// A four-character code as the number hosts compare: the first character in the top byte.
constexpr uint32_t fourCharCode(const char (&text)[5])
{
    return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 |
           uint32_t(uint8_t(text[2])) << 8 | uint32_t(uint8_t(text[3]));
}

// Property keys and codes the reader decodes.
constexpr uint32_t PiplVendor = fourCharCode("8BIM");
constexpr uint32_t PiplKindFilter = fourCharCode("8BFM");
constexpr uint32_t PiplKeyKind = fourCharCode("kind");
constexpr uint32_t PiplKeyName = fourCharCode("name");
constexpr uint32_t PiplKeyCategory = fourCharCode("catg");
constexpr uint32_t PiplKeyVersion = fourCharCode("vers");
constexpr uint32_t PiplKeyMode = fourCharCode("mode");
constexpr uint32_t PiplKeyEnable = fourCharCode("enbl");
constexpr uint32_t PiplKeyCases = fourCharCode("fici");
constexpr uint32_t PiplKeyEntryX86 = fourCharCode("wx86");
constexpr uint32_t PiplKeyEntryX64 = fourCharCode("8664");
constexpr uint32_t PiplKeyEntryArm64 = fourCharCode("wa64");

// Size of the header: int16 prelude (1), int32 version (0), int32 property count.
constexpr size_t PiplHeaderSize = 10;
// Size of a property's own header: vendor, key, id, length, each 4 bytes.
constexpr size_t PiplPropertyHeaderSize = 16;
// Seven filter cases of 4 bytes each.
constexpr int PiplCaseCount = 7;

// One property as stored. `length` is the declared length; `data` holds the bytes that were
// present (fewer than `length` only when the resource ends early).
struct PiplProperty {
    size_t offset = 0; // of the property header, from the start of the resource
    uint32_t vendor = 0;
    uint32_t key = 0;
    int32_t id = 0;
    int32_t length = 0;
    std::vector<uint8_t> data;
};

// Handling of one filter case: input handling, output handling, two flag bytes.
struct PiplFilterCase {
    int8_t inputHandling = 0;
    int8_t outputHandling = 0;
    uint8_t flags1 = 0;
    uint8_t flags2 = 0;
};

// An exported entry point named by a code property.
struct PiplEntryPoint {
    uint32_t key = 0; // PiplKeyEntryX86, PiplKeyEntryX64 or PiplKeyEntryArm64
    std::string name;
};

// Everything decoded from one PiPL. A `has...` flag is set when the property was present and
// well formed; problems found on the way are listed in `errors`, one line each.
struct PiplInfo {
    int16_t prelude = 0;
    int32_t version = 0;
    int32_t count = 0;
    std::vector<PiplProperty> properties;

    bool hasKind = false;
    uint32_t kind = 0;
    bool hasName = false;
    std::string name;
    bool hasCategory = false;
    std::string category;
    bool hasVersion = false;
    int32_t interfaceVersion = 0; // major in the high 16 bits, minor in the low 16
    std::vector<PiplEntryPoint> entryPoints;
    bool hasModes = false;
    std::vector<uint8_t> modes; // the flag bytes as stored, most significant flag first
    bool hasEnable = false;
    std::string enableExpression;
    bool hasCases = false;
    PiplFilterCase cases[PiplCaseCount];

    std::vector<std::string> errors;
};

// Decodes `size` bytes at `bytes`; reads nothing outside them whatever the bytes say.
// Returns 0 when the list is well formed, else 1 (the reasons are in info.errors).
int readPipl(const uint8_t* bytes, size_t size, PiplInfo& info);

// The entry point stored under `key`, or null when the list names none.
const PiplEntryPoint* findEntryPoint(const PiplInfo& info, uint32_t key);

// A four-character code as text, unprintable bytes as '?'.
std::string fourCharText(uint32_t code);

} // namespace oryn
