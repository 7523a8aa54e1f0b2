// The preset store under Wine: scratch keys stand in for HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER, so that a machine root that refuses writes can be played; one case uses the
// real roots of the test prefix.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "params/PresetStore.h"

namespace {

using namespace oryn;

constexpr const char* ScratchKey = "Software\\OrynPresetStoreTest";
constexpr const char* MachinePath = "Software\\OrynPresetStoreTest\\Machine";
constexpr const char* UserPath = "Software\\OrynPresetStoreTest\\User";
constexpr const char* BrowserKey = "Software\\CLASSES\\http\\shell\\open\\command";

using Bytes = std::vector<BYTE>;

// A valid block that differs for every seed.
ParamBlock makeBlock(int seed)
{
    ParamBlock block = defaultParamBlock();
    for (int i = 0; i < PadCount; ++i) {
        block.padX[i] = static_cast<int16_t>(seed + i);
        block.padY[i] = static_cast<int16_t>(-2 * seed - i);
    }
    block.modeBits = static_cast<uint8_t>(seed & 7);
    block.backgroundColor = 0xFF000000u | static_cast<uint32_t>(seed);
    block.presetFlags = LightSaved;
    block.checksum = padChecksum(block);
    return block;
}

Bytes bytesOf(const ParamBlock& block)
{
    const auto* p = reinterpret_cast<const BYTE*>(&block);
    return Bytes(p, p + sizeof block);
}

struct Value {
    std::string name;
    DWORD type;
    Bytes data;
    bool operator==(const Value& other) const
    {
        return name == other.name && type == other.type && data == other.data;
    }
};

// The values of root's preset key in the registry's own enumeration order, read directly.
std::vector<Value> valuesOf(HKEY root)
{
    std::vector<Value> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, PresetKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[512];
        BYTE data[2048];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        values.push_back({name, type, Bytes(data, data + dataSize)});
    }
    RegCloseKey(key);
    return values;
}

std::vector<std::string> namesOf(const std::vector<Value>& values)
{
    std::vector<std::string> names;
    for (const Value& value : values)
        names.push_back(value.name);
    return names;
}

// Position of a name in the registry's enumeration order, or -1.
int indexOf(HKEY root, const std::string& name)
{
    std::vector<std::string> names = namesOf(valuesOf(root));
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return static_cast<int>(i);
    return -1;
}

bool keyExists(HKEY root, const char* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::vector<std::string> listedNames()
{
    char names[PresetListLimit][PresetNameCapacity];
    int count = collectPresetNames(names);
    return std::vector<std::string>(names, names + count);
}

Bytes readBlock(const char* name)
{
    char buffer[PresetNameCapacity];
    std::strcpy(buffer, name);
    ParamBlock block = makeBlock(999);
    if (queryParamBlock(ReadRequest, buffer, block) != ERROR_SUCCESS)
        return Bytes();
    return bytesOf(block);
}

long deletePreset(const char* name)
{
    char buffer[PresetNameCapacity];
    std::strcpy(buffer, name);
    return queryValue(presetMachineRoot(), PresetKey, buffer, nullptr, 0, DeleteRequest);
}

long writeBlock(const char* name, const ParamBlock& block)
{
    return writeValue(name, &block, sizeof block);
}

class PresetStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, ScratchKey);
        openRoots();
    }

    void TearDown() override
    {
        setPresetStoreRoots(nullptr, nullptr);
        closeRoots();
        EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, ScratchKey), ERROR_SUCCESS);
    }

    void openRoots()
    {
        char emptyClass[] = "";
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, MachinePath, 0, emptyClass, 0, KEY_ALL_ACCESS,
                                  nullptr, &machine, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, UserPath, 0, emptyClass, 0, KEY_ALL_ACCESS,
                                  nullptr, &user, nullptr),
                  ERROR_SUCCESS);
        setPresetStoreRoots(machine, user);
    }

    void closeRoots()
    {
        if (machine != nullptr)
            RegCloseKey(machine);
        if (user != nullptr)
            RegCloseKey(user);
        machine = user = nullptr;
    }

    // What a later process sees: new handles on the same keys, nothing carried over in memory.
    void freshProcess()
    {
        setPresetStoreRoots(nullptr, nullptr);
        closeRoots();
        openRoots();
    }

    // Puts a value into root\subkey directly, bypassing the store.
    static void put(HKEY root, const char* subkey, const char* name, DWORD type, const void* data,
                    DWORD size)
    {
        char emptyClass[] = "";
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExA(root, subkey, 0, emptyClass, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static void putBlock(HKEY root, const char* name, const ParamBlock& block)
    {
        put(root, PresetKey, name, REG_BINARY, &block, sizeof block);
    }

    // Makes the machine preset key read-only for everyone, as HKEY_LOCAL_MACHINE is to an
    // ordinary process. Wine checks a key's own security on open, not the parent handle's
    // access, so the key itself carries the restriction.
    void refuseMachineWrites()
    {
        char emptyClass[] = "";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(machine, PresetKey, 0, emptyClass, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr));
        EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
        LocalFree(readOnly);
        RegCloseKey(key);
        // The stand-in must really refuse, or the fallback cases below would test nothing.
        ASSERT_EQ(RegOpenKeyExA(machine, PresetKey, 0, KEY_SET_VALUE, &key), ERROR_ACCESS_DENIED);
    }

    HKEY machine = nullptr;
    HKEY user = nullptr;
};

TEST_F(PresetStoreTest, WriteReadEnumerateAndDeleteOnAWritableMachineRoot)
{
    ASSERT_EQ(writeBlock("Beta", makeBlock(2)), ERROR_SUCCESS);
    ASSERT_EQ(writeBlock("Alpha", makeBlock(1)), ERROR_SUCCESS);
    ASSERT_EQ(writeBlock(LastUsedName, makeBlock(3)), ERROR_SUCCESS);

    // Stored as 64-byte REG_BINARY values of the machine root's key; the user root is untouched.
    std::vector<Value> stored = valuesOf(machine);
    ASSERT_EQ(stored.size(), 3u);
    for (const Value& value : stored) {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(value.data.size(), 64u);
    }
    EXPECT_FALSE(keyExists(user, PresetKey));
    EXPECT_EQ(presetStoreRoot(), static_cast<void*>(machine));

    EXPECT_EQ(readBlock("Alpha"), bytesOf(makeBlock(1)));
    EXPECT_EQ(readBlock("last used"), bytesOf(makeBlock(3))); // names compare without case

    // The generic read by name gets the same bytes.
    char name[PresetNameCapacity] = "Beta";
    BYTE data[64];
    ASSERT_EQ(queryValue(presetMachineRoot(), PresetKey, name, data, sizeof data, ReadRequest),
              ERROR_SUCCESS);
    EXPECT_EQ(Bytes(data, data + 64), bytesOf(makeBlock(2)));

    // Enumeration n gives value n - 1 in the registry's order, names and data alike.
    for (size_t i = 0; i < stored.size(); ++i) {
        BYTE scratch[PresetDataCapacity];
        ASSERT_EQ(queryValue(presetMachineRoot(), PresetKey, name, scratch, sizeof scratch,
                             static_cast<int>(i) + 1),
                  ERROR_SUCCESS);
        EXPECT_EQ(name, stored[i].name);
        EXPECT_EQ(Bytes(scratch, scratch + 64), stored[i].data);
    }
    BYTE scratch[PresetDataCapacity];
    EXPECT_EQ(queryValue(presetMachineRoot(), PresetKey, name, scratch, sizeof scratch, 4),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(listedNames(), namesOf(stored));

    EXPECT_EQ(deletePreset("Alpha"), ERROR_SUCCESS);
    EXPECT_EQ(indexOf(machine, "Alpha"), -1);
    EXPECT_EQ(valuesOf(machine).size(), 2u);
    EXPECT_EQ(readBlock("Beta"), bytesOf(makeBlock(2)));
}

TEST_F(PresetStoreTest, WithoutAKeyEveryReadEnumerationAndDeleteFails)
{
    ParamBlock block = makeBlock(7);
    char name[PresetNameCapacity] = "Last Used";
    EXPECT_EQ(queryParamBlock(ReadRequest, name, block), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(queryParamBlock(1, name, block), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(bytesOf(block), bytesOf(makeBlock(7)));
    EXPECT_TRUE(listedNames().empty());
    EXPECT_EQ(deletePreset("Last Used"), ERROR_FILE_NOT_FOUND);
    // Reading never creates the key.
    EXPECT_FALSE(keyExists(machine, PresetKey));
    EXPECT_FALSE(keyExists(user, PresetKey));
}

TEST_F(PresetStoreTest, DeletingAnUnknownNameFailsAndChangesNothing)
{
    ASSERT_EQ(writeBlock("Alpha", makeBlock(1)), ERROR_SUCCESS);
    ASSERT_EQ(writeBlock("Beta", makeBlock(2)), ERROR_SUCCESS);
    std::vector<Value> before = valuesOf(machine);
    EXPECT_EQ(deletePreset("Gamma"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(valuesOf(machine), before);
}

TEST_F(PresetStoreTest, SavingUnderAnExistingNameOverwritesInPlace)
{
    ASSERT_EQ(writeBlock("Alpha", makeBlock(1)), ERROR_SUCCESS);
    ASSERT_EQ(writeBlock(LastUsedName, makeBlock(2)), ERROR_SUCCESS);
    ASSERT_EQ(writeBlock("Zulu", makeBlock(3)), ERROR_SUCCESS);
    std::vector<std::string> order = namesOf(valuesOf(machine));

    ASSERT_EQ(writeBlock(LastUsedName, makeBlock(4)), ERROR_SUCCESS);
    ASSERT_EQ(writeBlock("ALPHA", makeBlock(5)), ERROR_SUCCESS); // same value, other case

    EXPECT_EQ(namesOf(valuesOf(machine)), order);
    EXPECT_EQ(readBlock(LastUsedName), bytesOf(makeBlock(4)));
    EXPECT_EQ(readBlock("Alpha"), bytesOf(makeBlock(5)));
    EXPECT_EQ(readBlock("Zulu"), bytesOf(makeBlock(3)));
}

TEST_F(PresetStoreTest, TheTwentyFirstValueIsStoredButNotListed)
{
    for (int i = 1; i <= 21; ++i) {
        char name[PresetNameCapacity];
        wsprintfA(name, "Preset %02d", i);
        ASSERT_EQ(writeBlock(name, makeBlock(i)), ERROR_SUCCESS);
    }
    std::vector<std::string> all = namesOf(valuesOf(machine));
    ASSERT_EQ(all.size(), 21u);

    std::vector<std::string> listed = listedNames();
    EXPECT_EQ(listed, std::vector<std::string>(all.begin(), all.begin() + 20));

    // The store itself still reads it, by position and by name.
    char name[PresetNameCapacity];
    ParamBlock block;
    ASSERT_EQ(queryParamBlock(21, name, block), ERROR_SUCCESS);
    EXPECT_EQ(name, all[20]);
    EXPECT_EQ(readBlock(all[20].c_str()), bytesOf(block));
}

TEST_F(PresetStoreTest, OnlyABinaryValueOfSixtyFourBytesIsTakenForABlock)
{
    char text[65];
    std::memset(text, 'x', 63);
    text[63] = 0; // 64 bytes with the terminator
    const ParamBlock good = makeBlock(1);
    BYTE longer[65] = {};
    std::memcpy(longer, &good, sizeof good);
    putBlock(machine, "Good", makeBlock(1));
    put(machine, PresetKey, "Text", REG_SZ, text, 64);
    put(machine, PresetKey, "Longer", REG_BINARY, longer, 65);
    put(machine, PresetKey, "Shorter", REG_BINARY, longer, 63);
    const DWORD word = 5;
    put(machine, PresetKey, "Word", REG_DWORD, &word, sizeof word);

    const ParamBlock sentinel = makeBlock(42);
    for (const char* refused : {"Text", "Longer", "Shorter", "Word"}) {
        SCOPED_TRACE(refused);
        ParamBlock block = sentinel;
        char name[PresetNameCapacity];
        std::strcpy(name, refused);
        EXPECT_NE(queryParamBlock(ReadRequest, name, block), ERROR_SUCCESS);
        EXPECT_NE(queryParamBlock(indexOf(machine, refused) + 1, name, block), ERROR_SUCCESS);
        EXPECT_EQ(bytesOf(block), bytesOf(sentinel));
    }
    ParamBlock block = sentinel;
    char name[PresetNameCapacity];
    ASSERT_EQ(queryParamBlock(indexOf(machine, "Good") + 1, name, block), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Good");
    EXPECT_EQ(bytesOf(block), bytesOf(makeBlock(1)));

    // The list does not ask for the type: every value that fits is listed.
    EXPECT_EQ(listedNames().size(), 5u);
}

TEST_F(PresetStoreTest, AValueLargerThanTheBufferFailsWithoutOverrunningIt)
{
    Bytes big(100);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i + 1);
    Bytes huge(501, 0x5A);
    put(machine, PresetKey, "Big", REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
    put(machine, PresetKey, "Huge", REG_BINARY, huge.data(), static_cast<DWORD>(huge.size()));
    const int bigRequest = indexOf(machine, "Big") + 1;
    const int hugeRequest = indexOf(machine, "Huge") + 1;

    constexpr BYTE Guard = 0xCD;
    BYTE buffer[1024 + 16];
    char name[PresetNameCapacity] = "Big";
    auto guardsIntact = [&](size_t from) {
        for (size_t i = from; i < sizeof buffer; ++i)
            if (buffer[i] != Guard)
                return false;
        return true;
    };

    std::memset(buffer, Guard, sizeof buffer);
    EXPECT_EQ(queryValue(machine, PresetKey, name, buffer, 64, ReadRequest), ERROR_MORE_DATA);
    EXPECT_TRUE(guardsIntact(64));

    std::memset(buffer, Guard, sizeof buffer);
    EXPECT_EQ(queryValue(machine, PresetKey, name, buffer, 64, bigRequest), ERROR_MORE_DATA);
    EXPECT_TRUE(guardsIntact(64));

    std::memset(buffer, Guard, sizeof buffer);
    ASSERT_EQ(queryValue(machine, PresetKey, name, buffer, 100, bigRequest), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Big");
    EXPECT_EQ(Bytes(buffer, buffer + 100), big);
    EXPECT_TRUE(guardsIntact(100));

    // Enumeration takes at most 500 bytes, however large the caller's buffer.
    std::memset(buffer, Guard, sizeof buffer);
    EXPECT_EQ(queryValue(machine, PresetKey, name, buffer, 1024, hugeRequest), ERROR_MORE_DATA);
    EXPECT_TRUE(guardsIntact(500));

    ParamBlock block = makeBlock(3);
    std::strcpy(name, "Big");
    EXPECT_EQ(queryParamBlock(ReadRequest, name, block), ERROR_MORE_DATA);
    EXPECT_EQ(bytesOf(block), bytesOf(makeBlock(3)));
}

TEST_F(PresetStoreTest, ANameLongerThanFortyNineCharactersEndsTheList)
{
    const std::string fits = "B" + std::string(48, 'b');    // 49 characters
    const std::string tooLong = "C" + std::string(49, 'c'); // 50 characters
    // Written in name order, so that insertion order and sorted order agree.
    putBlock(machine, "A preset", makeBlock(1));
    putBlock(machine, fits.c_str(), makeBlock(2));
    putBlock(machine, tooLong.c_str(), makeBlock(3));
    putBlock(machine, "D preset", makeBlock(4));
    ASSERT_EQ(namesOf(valuesOf(machine)),
              (std::vector<std::string>{"A preset", fits, tooLong, "D preset"}));

    EXPECT_EQ(listedNames(), (std::vector<std::string>{"A preset", fits}));
}

TEST_F(PresetStoreTest, ARefusedMachineRootMovesTheStoreToTheUserRootOnce)
{
    putBlock(machine, "Alpha", makeBlock(1));
    putBlock(machine, LastUsedName, makeBlock(2));
    putBlock(machine, "Zulu", makeBlock(3));
    const std::vector<Value> machineBefore = valuesOf(machine);
    refuseMachineWrites();

    // Records that live under the machine root are read there until a write is refused.
    EXPECT_EQ(presetStoreRoot(), static_cast<void*>(machine));
    EXPECT_EQ(listedNames(), namesOf(machineBefore));
    EXPECT_EQ(readBlock(LastUsedName), bytesOf(makeBlock(2)));

    // The refused write lands under the user root, next to a copy of everything there was.
    ASSERT_EQ(writeBlock("New", makeBlock(4)), ERROR_SUCCESS);
    EXPECT_EQ(presetStoreRoot(), static_cast<void*>(user));
    EXPECT_EQ(valuesOf(machine), machineBefore);
    std::vector<Value> moved = valuesOf(user);
    ASSERT_EQ(moved.size(), 4u);
    for (const Value& value : machineBefore) {
        int at = indexOf(user, value.name);
        ASSERT_GE(at, 0) << value.name;
        EXPECT_EQ(moved[at], value);
    }
    EXPECT_EQ(readBlock("New"), bytesOf(makeBlock(4)));
    EXPECT_EQ(listedNames(), namesOf(moved));

    // Callers keep naming the machine root (also as HKEY_LOCAL_MACHINE itself) and reach the
    // moved store.
    char name[PresetNameCapacity] = "New";
    BYTE data[64];
    EXPECT_EQ(queryValue(HKEY_LOCAL_MACHINE, PresetKey, name, data, sizeof data, ReadRequest),
              ERROR_SUCCESS);
    EXPECT_EQ(Bytes(data, data + 64), bytesOf(makeBlock(4)));

    // Overwrites and deletes now happen under the user root only.
    ASSERT_EQ(writeBlock(LastUsedName, makeBlock(5)), ERROR_SUCCESS);
    ASSERT_EQ(deletePreset("Zulu"), ERROR_SUCCESS);
    EXPECT_EQ(indexOf(user, "Zulu"), -1);
    EXPECT_EQ(valuesOf(machine), machineBefore);

    // A later process finds the moved store, and its writes copy nothing again: the newer
    // "Last Used" stays and the deleted preset does not come back.
    freshProcess();
    EXPECT_EQ(presetStoreRoot(), static_cast<void*>(user));
    EXPECT_EQ(listedNames(), namesOf(valuesOf(user)));
    EXPECT_EQ(listedNames().size(), 3u);
    ASSERT_EQ(writeBlock("Later", makeBlock(6)), ERROR_SUCCESS);
    EXPECT_EQ(readBlock(LastUsedName), bytesOf(makeBlock(5)));
    EXPECT_EQ(indexOf(user, "Zulu"), -1);
    EXPECT_EQ(valuesOf(user).size(), 4u);
    EXPECT_EQ(valuesOf(machine), machineBefore);
}

TEST_F(PresetStoreTest, ARefusedDeleteMovesTheStoreOnlyForAStoredName)
{
    putBlock(machine, "Alpha", makeBlock(1));
    putBlock(machine, "Beta", makeBlock(2));
    const std::vector<Value> machineBefore = valuesOf(machine);
    refuseMachineWrites();

    EXPECT_EQ(deletePreset("Gamma"), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(keyExists(user, PresetKey));

    ASSERT_EQ(deletePreset("Alpha"), ERROR_SUCCESS);
    EXPECT_EQ(namesOf(valuesOf(user)), std::vector<std::string>{"Beta"});
    EXPECT_EQ(listedNames(), std::vector<std::string>{"Beta"});
    EXPECT_EQ(valuesOf(machine), machineBefore);
}

TEST_F(PresetStoreTest, AnExistingUserStoreWinsOverAWritableMachineRoot)
{
    putBlock(machine, "Old", makeBlock(1));
    putBlock(user, "Mine", makeBlock(2));
    const std::vector<Value> machineBefore = valuesOf(machine);

    EXPECT_EQ(presetStoreRoot(), static_cast<void*>(user));
    ASSERT_EQ(writeBlock(LastUsedName, makeBlock(3)), ERROR_SUCCESS);
    EXPECT_EQ(valuesOf(machine), machineBefore);
    EXPECT_EQ(indexOf(user, "Old"), -1); // the user key existed: nothing is copied into it
    EXPECT_EQ(valuesOf(user).size(), 2u);
    EXPECT_EQ(readBlock(LastUsedName), bytesOf(makeBlock(3)));
    EXPECT_TRUE(readBlock("Old").empty());
}

TEST_F(PresetStoreTest, AnotherKeyIsReadExactlyAsAskedAndStringsComeBackTerminated)
{
    const char machineCommand[] = "\"C:\\Browser\\browse.exe\" -url \"%1\"";
    const char userCommand[] = "\"C:\\Other\\other.exe\" \"%1\"";
    put(machine, BrowserKey, "", REG_SZ, machineCommand, sizeof machineCommand);
    put(user, BrowserKey, "", REG_SZ, userCommand, sizeof userCommand);
    putBlock(user, "Mine", makeBlock(1)); // the store has moved to the user root

    char text[1024];
    char name[PresetNameCapacity] = "";
    ASSERT_EQ(queryValue(machine, BrowserKey, name, text, sizeof text, ReadRequest), ERROR_SUCCESS);
    EXPECT_STREQ(text, machineCommand);

    // A string stored without its terminator gets one, inside the buffer or not at all.
    const char bare[] = "browse";
    put(machine, BrowserKey, "Bare", REG_SZ, bare, 6);
    std::strcpy(name, "Bare");
    std::memset(text, 0x7F, sizeof text);
    EXPECT_EQ(queryValue(machine, BrowserKey, name, text, 6, ReadRequest), ERROR_MORE_DATA);
    EXPECT_EQ(text[6], 0x7F);
    ASSERT_EQ(queryValue(machine, BrowserKey, name, text, 7, ReadRequest), ERROR_SUCCESS);
    EXPECT_STREQ(text, "browse");
    EXPECT_EQ(text[7], 0x7F);
}

// The real roots of the private test prefix; Wine runs as an administrator, so the machine root
// takes the write.
TEST(PresetStoreRealRootsTest, WritesReadsAndDeletesUnderTheMachineRoot)
{
    setPresetStoreRoots(nullptr, nullptr);
    ASSERT_EQ(presetMachineRoot(), static_cast<void*>(HKEY_LOCAL_MACHINE));
    ASSERT_FALSE(keyExists(HKEY_CURRENT_USER, PresetKey)) << "the prefix holds a moved store";
    const bool keyBefore = keyExists(HKEY_LOCAL_MACHINE, PresetKey);
    const bool parentBefore = keyExists(HKEY_LOCAL_MACHINE, "Software\\Oryn 3D");

    char name[PresetNameCapacity];
    wsprintfA(name, "Store test %lu", GetCurrentProcessId());
    ASSERT_EQ(writeBlock(name, makeBlock(11)), ERROR_SUCCESS);
    EXPECT_EQ(presetStoreRoot(), static_cast<void*>(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(readBlock(name), bytesOf(makeBlock(11)));
    EXPECT_GE(indexOf(HKEY_LOCAL_MACHINE, name), 0);
    EXPECT_EQ(deletePreset(name), ERROR_SUCCESS);
    EXPECT_TRUE(readBlock(name).empty());
    EXPECT_EQ(indexOf(HKEY_LOCAL_MACHINE, name), -1);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, PresetKey));

    // Leave the prefix as it was: remove the keys this test created, if nothing else uses them.
    if (!keyBefore && valuesOf(HKEY_LOCAL_MACHINE).empty()) {
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, PresetKey), ERROR_SUCCESS);
        if (!parentBefore) {
            EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Oryn 3D"), ERROR_SUCCESS);
        }
    }
}

} // namespace
