// The module's property list, read the way hosts read it, and the PiPL reader on malformed bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/testhost/PiplReader.h"

namespace oryn {
namespace {

// Builds PiPL bytes from values, independently of the reader: little-endian integers, codes as
// their big-endian number, properties padded with zeros to the declared length.
struct PiplBuilder {
    std::vector<uint8_t> bytes;

    void u16(uint16_t v)
    {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void header(int32_t count, uint16_t prelude = 1, uint32_t version = 0)
    {
        u16(prelude);
        u32(version);
        u32(uint32_t(count));
    }
    // A property whose declared length is `length`; `data` is zero-padded (or cut) to it.
    void property(uint32_t key, std::vector<uint8_t> data, int32_t length,
                  uint32_t vendor = fourCharCode("8BIM"), int32_t id = 0)
    {
        u32(vendor);
        u32(key);
        u32(uint32_t(id));
        u32(uint32_t(length));
        data.resize(size_t(length), 0);
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    void property(uint32_t key, const std::vector<uint8_t>& data)
    {
        property(key, data, int32_t((data.size() + 3) / 4 * 4));
    }
};

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> pascalString(const std::string& text)
{
    std::vector<uint8_t> data(text.size() + 1);
    data[0] = uint8_t(text.size());
    std::memcpy(data.data() + 1, text.data(), text.size());
    return data;
}

std::vector<uint8_t> cString(const std::string& text)
{
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

constexpr uint32_t OwnEntryKey = sizeof(void*) == 8 ? PiplKeyEntryX64 : PiplKeyEntryX86;
constexpr uint32_t OtherEntryKey = sizeof(void*) == 8 ? PiplKeyEntryX86 : PiplKeyEntryX64;

// The property list the module must carry, in order.
std::vector<uint8_t> expectedModulePipl()
{
    PiplBuilder b;
    b.header(8);
    b.property(PiplKeyKind, le32(fourCharCode("8BFM")));
    b.property(PiplKeyName, pascalString(" Oryn3D"));
    b.property(PiplKeyCategory, pascalString("Oryn 3D"));
    b.property(PiplKeyVersion, le32(0x00010007));
    b.property(OwnEntryKey, cString("ENTRYPOINT"));
    b.property(PiplKeyMode, {0x5F, 0xC0});
    b.property(PiplKeyEnable, cString("in (PSHOP_ImageMode,RGBMode)"));
    std::vector<uint8_t> cases;
    for (int c = 1; c <= 7; ++c) {
        uint8_t flags1 = c == 1 || c == 4 || c == 6 ? 7 : 15;
        cases.insert(cases.end(), {1, 1, flags1, 0});
    }
    b.property(PiplKeyCases, cases);
    return b.bytes;
}

// Loads the module as hosts do when they scan for filters: as data, without running its code.
class ModulePipl : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(ORYN_MODULE_PATH, nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << ORYN_MODULE_PATH << " error " << GetLastError();
        HRSRC resource = FindResourceExA(module, "PIPL", MAKEINTRESOURCEA(16000),
                                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        ASSERT_NE(resource, nullptr) << "no PIPL 16000 in language 1033";
        HGLOBAL loaded = LoadResource(module, resource);
        ASSERT_NE(loaded, nullptr);
        const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
        ASSERT_NE(data, nullptr);
        bytes.assign(data, data + SizeofResource(module, resource));
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }

    HMODULE module = nullptr;
    std::vector<uint8_t> bytes;
};

TEST_F(ModulePipl, BytesAreExactlyTheExpectedList)
{
    EXPECT_EQ(bytes.size(), 238u);
    EXPECT_EQ(bytes, expectedModulePipl());
}

TEST_F(ModulePipl, DecodesToTheFilterValues)
{
    PiplInfo info;
    EXPECT_EQ(readPipl(bytes.data(), bytes.size(), info), 0);
    EXPECT_TRUE(info.errors.empty()) << info.errors.front();
    EXPECT_EQ(info.prelude, 1);
    EXPECT_EQ(info.version, 0);
    EXPECT_EQ(info.count, 8);

    const uint32_t order[] = {PiplKeyKind, PiplKeyName, PiplKeyCategory, PiplKeyVersion,
                              OwnEntryKey, PiplKeyMode, PiplKeyEnable, PiplKeyCases};
    ASSERT_EQ(info.properties.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        const PiplProperty& p = info.properties[i];
        EXPECT_EQ(fourCharText(p.key), fourCharText(order[i])) << "property " << i;
        EXPECT_EQ(p.vendor, fourCharCode("8BIM")) << "property " << i;
        EXPECT_EQ(p.id, 0) << "property " << i;
        EXPECT_EQ(p.length % 4, 0) << "property " << i;
    }

    EXPECT_TRUE(info.hasKind);
    EXPECT_EQ(info.kind, fourCharCode("8BFM"));
    EXPECT_EQ(info.name, " Oryn3D");
    EXPECT_EQ(info.category, "Oryn 3D");
    EXPECT_EQ(info.interfaceVersion, 0x00010007);
    ASSERT_NE(findEntryPoint(info, OwnEntryKey), nullptr);
    EXPECT_EQ(findEntryPoint(info, OwnEntryKey)->name, "ENTRYPOINT");
    EXPECT_EQ(findEntryPoint(info, OtherEntryKey), nullptr);
    EXPECT_EQ(info.modes, (std::vector<uint8_t>{0x5F, 0xC0, 0x00, 0x00}));
    EXPECT_EQ(info.enableExpression, "in (PSHOP_ImageMode,RGBMode)");
    ASSERT_TRUE(info.hasCases);
    for (int c = 0; c < PiplCaseCount; ++c) {
        EXPECT_EQ(info.cases[c].inputHandling, 1) << "case " << c + 1;
        EXPECT_EQ(info.cases[c].outputHandling, 1) << "case " << c + 1;
        EXPECT_EQ(info.cases[c].flags1, c == 0 || c == 3 || c == 5 ? 7 : 15) << "case " << c + 1;
        EXPECT_EQ(info.cases[c].flags2, 0) << "case " << c + 1;
    }
}

TEST_F(ModulePipl, EntryPointIsExportedUnderThatName)
{
    // A data-file load has no export table to call through; load the module for real.
    HMODULE code = LoadLibraryA(ORYN_MODULE_PATH);
    ASSERT_NE(code, nullptr);
    EXPECT_NE(GetProcAddress(code, "ENTRYPOINT"), nullptr);
    FreeLibrary(code);
}

// --- The reader on hand-made lists -----------------------------------------------------------

bool hasErrorContaining(const PiplInfo& info, const std::string& text)
{
    for (const std::string& error : info.errors)
        if (error.find(text) != std::string::npos)
            return true;
    return false;
}

// Decodes a copy held in a buffer of exactly its size, so that an overrun reads past the heap
// block rather than into neighbouring test data.
int readExact(const std::vector<uint8_t>& bytes, PiplInfo& info)
{
    std::vector<uint8_t> copy(bytes);
    return readPipl(copy.empty() ? nullptr : copy.data(), copy.size(), info);
}

TEST(PiplReader, ShortOrMissingHeaderIsAnError)
{
    PiplInfo info;
    EXPECT_EQ(readPipl(nullptr, 0, info), 1);
    EXPECT_TRUE(hasErrorContaining(info, "header"));
    std::vector<uint8_t> nine(9, 0);
    nine[0] = 1;
    EXPECT_EQ(readExact(nine, info), 1);
    EXPECT_TRUE(hasErrorContaining(info, "header: 9 bytes, needs 10"));
}

TEST(PiplReader, WrongPreludeAndVersionAreReportedButPropertiesStillRead)
{
    PiplBuilder b;
    b.header(1, 2, 1);
    b.property(PiplKeyKind, le32(PiplKindFilter));
    PiplInfo info;
    EXPECT_EQ(readExact(b.bytes, info), 1);
    EXPECT_TRUE(hasErrorContaining(info, "prelude 2"));
    EXPECT_TRUE(hasErrorContaining(info, "version 1"));
    EXPECT_TRUE(info.hasKind);
}

TEST(PiplReader, CountBeyondTheDataStopsAtTheEnd)
{
    PiplBuilder b;
    b.header(1000000);
    b.property(PiplKeyKind, le32(PiplKindFilter));
    PiplInfo info;
    EXPECT_EQ(readExact(b.bytes, info), 1);
    EXPECT_EQ(info.properties.size(), 1u);
    EXPECT_TRUE(info.hasKind);
    EXPECT_TRUE(hasErrorContaining(info, "property 1 of 1000000: header truncated"));

    PiplBuilder negative;
    negative.header(-1);
    EXPECT_EQ(readExact(negative.bytes, info), 1);
    EXPECT_TRUE(hasErrorContaining(info, "negative property count"));
}

TEST(PiplReader, LengthPastTheEndKeepsOnlyThePresentBytes)
{
    PiplBuilder b;
    b.header(1);
    b.property(PiplKeyName, pascalString("Abc"), 4);
    b.bytes[10 + 12] = 100; // declared length 100, 4 bytes present
    PiplInfo info;
    EXPECT_EQ(readExact(b.bytes, info), 1);
    ASSERT_EQ(info.properties.size(), 1u);
    EXPECT_EQ(info.properties[0].length, 100);
    EXPECT_EQ(info.properties[0].data.size(), 4u);
    EXPECT_FALSE(info.hasName);
    EXPECT_TRUE(hasErrorContaining(info, "length 100 runs past the end (4 bytes left)"));

    b.bytes[10 + 12] = 0xF0;
    b.bytes[10 + 15] = 0xFF; // declared length negative
    EXPECT_EQ(readExact(b.bytes, info), 1);
    EXPECT_TRUE(hasErrorContaining(info, "negative length"));
}

TEST(PiplReader, UnpaddedLengthIsAnErrorAndTheNextPropertyIsFoundAfterThePadding)
{
    PiplBuilder b;
    b.header(2);
    std::vector<uint8_t> name = pascalString("Broke"); // 6 bytes
    b.property(PiplKeyName, name, 6);
    b.bytes.insert(b.bytes.end(), {0, 0}); // pad present in the data, not in the length
    b.property(PiplKeyCategory, pascalString("Cat"));
    PiplInfo info;
    EXPECT_EQ(readExact(b.bytes, info), 1);
    EXPECT_TRUE(hasErrorContaining(info, "length 6 is not a multiple of 4"));
    EXPECT_EQ(info.name, "Broke");
    EXPECT_EQ(info.category, "Cat");
    EXPECT_EQ(info.errors.size(), 1u);
}

TEST(PiplReader, MalformedValuesAreRejectedOneByOne)
{
    PiplBuilder b;
    b.header(6);
    b.property(PiplKeyName, {9, 'a', 'b', 'c'}); // Pascal length 9 in 4 bytes
    b.property(OwnEntryKey, {'N', 'o', 'N', 'u'}, 4); // no terminator
    b.property(PiplKeyEnable, {'x', 'y', 'z', 'w'}, 4);
    b.property(PiplKeyCases, std::vector<uint8_t>(24, 1)); // 6 cases, not 7
    b.property(PiplKeyKind, le32(PiplKindFilter), 4, fourCharCode("XXXX"));
    b.property(PiplKeyVersion, {7, 0}, 2); // last: nothing follows the short length
    PiplInfo info;
    EXPECT_EQ(readExact(b.bytes, info), 1);
    EXPECT_FALSE(info.hasName);
    EXPECT_TRUE(info.entryPoints.empty());
    EXPECT_FALSE(info.hasEnable);
    EXPECT_FALSE(info.hasCases);
    EXPECT_FALSE(info.hasVersion);
    EXPECT_FALSE(info.hasKind); // another vendor's property is not decoded
    EXPECT_TRUE(hasErrorContaining(info, "Pascal string length 9 exceeds its 4 bytes"));
    EXPECT_TRUE(hasErrorContaining(info, "entry name has no terminating NUL"));
    EXPECT_TRUE(hasErrorContaining(info, "expression has no terminating NUL"));
    EXPECT_TRUE(hasErrorContaining(info, "'fici': 24 bytes, needs 28"));
    EXPECT_TRUE(hasErrorContaining(info, "'vers': 2 bytes, needs 4"));
    EXPECT_TRUE(hasErrorContaining(info, "vendor 'XXXX'"));
    EXPECT_EQ(info.properties.size(), 6u);
}

TEST(PiplReader, UnknownPropertiesAreKeptRawWithoutError)
{
    PiplBuilder b;
    b.header(1);
    b.property(fourCharCode("prty"), le32(0));
    PiplInfo info;
    EXPECT_EQ(readExact(b.bytes, info), 0);
    ASSERT_EQ(info.properties.size(), 1u);
    EXPECT_EQ(info.properties[0].key, fourCharCode("prty"));
    EXPECT_EQ(info.properties[0].data, le32(0));
}

TEST(PiplReader, EveryTruncationOfAValidListIsReported)
{
    const std::vector<uint8_t> whole = expectedModulePipl();
    PiplInfo info;
    ASSERT_EQ(readExact(whole, info), 0);
    for (size_t size = 0; size < whole.size(); ++size) {
        std::vector<uint8_t> prefix(whole.begin(), whole.begin() + size);
        EXPECT_EQ(readExact(prefix, info), 1) << "prefix of " << size << " bytes";
        EXPECT_FALSE(info.errors.empty()) << "prefix of " << size << " bytes";
    }
}

} // namespace
} // namespace oryn
