// The preset store on the Windows registry (ANSI API), including its move from the machine root
// to the user root when the machine root refuses writes.
#include "params/PresetStore.h"

#include <windows.h>

#include <new>

namespace oryn {

namespace {

// The roots of the store; replaced only through setPresetStoreRoots.
HKEY machineRoot = HKEY_LOCAL_MACHINE;
HKEY userRoot = HKEY_CURRENT_USER;

// Closes a key handle when it goes out of scope.
struct KeyGuard {
    HKEY key = nullptr;
    ~KeyGuard() { close(); }
    void close()
    {
        if (key != nullptr)
            RegCloseKey(key);
        key = nullptr;
    }
};

// Frees a buffer from new[] when it goes out of scope.
template <typename T> struct BufferGuard {
    T* data;
    ~BufferGuard() { delete[] data; }
};

// Returns the status of the open; on success guard holds the key.
LONG openKey(HKEY root, const char* subkey, REGSAM access, KeyGuard& guard)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(root, subkey, 0, access, &key);
    if (status == ERROR_SUCCESS)
        guard.key = key;
    return status;
}

// Creates or opens the preset key under root with full access. disposition, when given,
// receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. Returns the status.
LONG createPresetKey(HKEY root, KeyGuard& guard, DWORD* disposition)
{
    char emptyClass[] = "";
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, PresetKey, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, disposition);
    if (status == ERROR_SUCCESS)
        guard.key = key;
    return status;
}

LONG setBinary(HKEY key, const char* name, const void* data, uint32_t size)
{
    return RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

// The user key exists only after the store has moved there (see PresetStore.h).
bool userStoreExists()
{
    KeyGuard key;
    return openKey(userRoot, PresetKey, KEY_READ, key) == ERROR_SUCCESS;
}

HKEY storeRoot()
{
    return userStoreExists() ? userRoot : machineRoot;
}

// True when a caller addresses the preset key under the machine root.
bool isPresetKey(HKEY root, const char* subkey)
{
    return (root == HKEY_LOCAL_MACHINE || root == machineRoot) && subkey != nullptr &&
           lstrcmpiA(subkey, PresetKey) == 0;
}

// Copies every value of from into to, in from's enumeration order, with its type and bytes. A
// name that to already holds keeps its value there. Returns 0, or the first failing status.
LONG copyValues(HKEY from, HKEY to)
{
    DWORD maxName = 0;
    DWORD maxData = 0;
    LONG status = RegQueryInfoKeyA(from, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &maxName, &maxData, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    // The sizes are counted in UTF-16; an ANSI code page may need up to three bytes per
    // character (UTF-8), and the terminators come on top.
    const DWORD nameBytes = 3 * maxName + 1;
    const DWORD dataBytes = 2 * maxData + 2;
    BufferGuard<char> name{new (std::nothrow) char[nameBytes]};
    BufferGuard<BYTE> data{new (std::nothrow) BYTE[dataBytes]};
    if (name.data == nullptr || data.data == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;

    for (DWORD index = 0;; ++index) {
        DWORD nameSize = nameBytes;
        DWORD dataSize = dataBytes;
        DWORD type = 0;
        status =
            RegEnumValueA(from, index, name.data, &nameSize, nullptr, &type, data.data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        status = RegQueryValueExA(to, name.data, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            continue;
        if (status != ERROR_FILE_NOT_FOUND)
            return status;
        status = RegSetValueExA(to, name.data, 0, type, data.data, dataSize);
        if (status != ERROR_SUCCESS)
            return status;
    }
}

// Opens the preset key under the user root, creating it when needed. The call that creates it
// also copies the machine key's values across; if that copy fails, the new key is removed again
// so that a later write repeats the whole move. Returns the status; on success userKey holds the
// key.
LONG openUserStore(KeyGuard& userKey)
{
    DWORD disposition = 0;
    LONG status = createPresetKey(userRoot, userKey, &disposition);
    if (status != ERROR_SUCCESS || disposition != REG_CREATED_NEW_KEY)
        return status;
    KeyGuard machineKey;
    if (openKey(machineRoot, PresetKey, KEY_READ, machineKey) != ERROR_SUCCESS)
        return ERROR_SUCCESS; // nothing readable to carry over
    status = copyValues(machineKey.key, userKey.key);
    if (status != ERROR_SUCCESS) {
        userKey.close();
        RegDeleteKeyA(userRoot, PresetKey);
    }
    return status;
}

LONG deleteValue(HKEY root, const char* subkey, const char* name)
{
    KeyGuard key;
    LONG status = openKey(root, subkey, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteValueA(key.key, name);
}

// Deletes a preset from the store under root. A delete that the machine root refuses moves the
// store to the user root and deletes there; a name the machine key does not hold fails first,
// so that it moves nothing.
LONG deletePreset(HKEY root, const char* name)
{
    LONG status = deleteValue(root, PresetKey, name);
    if (status != ERROR_ACCESS_DENIED || root != machineRoot)
        return status;
    {
        KeyGuard machineKey;
        status = openKey(machineRoot, PresetKey, KEY_READ, machineKey);
        if (status != ERROR_SUCCESS)
            return status;
        status = RegQueryValueExA(machineKey.key, name, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
    }
    KeyGuard userKey;
    status = openUserStore(userKey);
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteValueA(userKey.key, name);
}

// Reads a value whole: first its size is asked for, then it is read with that size, which must
// fit the caller's buffer. A string value that was stored without its terminator gets one
// inside the buffer, or fails with ERROR_MORE_DATA when there is no room for it.
LONG readWhole(HKEY key, const char* name, BYTE* data, uint32_t dataSize)
{
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (size > dataSize)
        return ERROR_MORE_DATA;
    status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    if (status != ERROR_SUCCESS)
        return status;
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (text && (size == 0 || data[size - 1] != 0)) {
        if (size >= dataSize)
            return ERROR_MORE_DATA;
        data[size] = 0;
    }
    return ERROR_SUCCESS;
}

} // namespace

void setPresetStoreRoots(void* machine, void* user)
{
    machineRoot = machine != nullptr ? static_cast<HKEY>(machine) : HKEY_LOCAL_MACHINE;
    userRoot = user != nullptr ? static_cast<HKEY>(user) : HKEY_CURRENT_USER;
}

void* presetMachineRoot()
{
    return machineRoot;
}

void* presetStoreRoot()
{
    return storeRoot();
}

long writeValue(const char* name, const void* data, uint32_t size)
{
    if (data == nullptr && size != 0)
        return ERROR_INVALID_PARAMETER;
    KeyGuard key;
    LONG status;
    if (!userStoreExists()) {
        status = createPresetKey(machineRoot, key, nullptr);
        if (status == ERROR_SUCCESS)
            status = setBinary(key.key, name, data, size);
        if (status != ERROR_ACCESS_DENIED)
            return status;
        key.close();
    }
    status = openUserStore(key);
    if (status != ERROR_SUCCESS)
        return status;
    return setBinary(key.key, name, data, size);
}

long queryValue(void* root, const char* subkey, char* name, void* data, uint32_t dataSize,
                int request)
{
    if (name == nullptr || request < 0 || (request != DeleteRequest && data == nullptr))
        return ERROR_INVALID_PARAMETER;
    HKEY base = static_cast<HKEY>(root);
    if (isPresetKey(base, subkey)) {
        base = storeRoot();
        if (request == DeleteRequest)
            return deletePreset(base, name);
    } else if (request == DeleteRequest) {
        return deleteValue(base, subkey, name);
    }

    KeyGuard key;
    LONG status = openKey(base, subkey, KEY_READ, key);
    if (status != ERROR_SUCCESS)
        return status;
    if (request == ReadRequest)
        return readWhole(key.key, name, static_cast<BYTE*>(data), dataSize);
    DWORD nameSize = PresetNameCapacity;
    DWORD size = dataSize < PresetDataCapacity ? dataSize : PresetDataCapacity;
    return RegEnumValueA(key.key, static_cast<DWORD>(request - 1), name, &nameSize, nullptr,
                         nullptr, static_cast<BYTE*>(data), &size);
}

long queryParamBlock(int request, char* name, ParamBlock& block)
{
    if (name == nullptr || request < 0 || request == DeleteRequest)
        return ERROR_INVALID_PARAMETER;
    KeyGuard key;
    LONG status = openKey(storeRoot(), PresetKey, KEY_READ, key);
    if (status != ERROR_SUCCESS)
        return status;
    // Read into a scratch record: the caller's block changes only when the value is a ParamBlock.
    BYTE bytes[ParamBlockSize];
    DWORD type = 0;
    DWORD size = sizeof bytes;
    if (request == ReadRequest) {
        status = RegQueryValueExA(key.key, name, nullptr, &type, bytes, &size);
    } else {
        DWORD nameSize = PresetNameCapacity;
        status = RegEnumValueA(key.key, static_cast<DWORD>(request - 1), name, &nameSize, nullptr,
                               &type, bytes, &size);
    }
    if (status != ERROR_SUCCESS)
        return status;
    if (type != REG_BINARY || size != ParamBlockSize)
        return ERROR_INVALID_DATA;
    readParamBlock(bytes, size, block);
    return ERROR_SUCCESS;
}

int collectPresetNames(char (&names)[PresetListLimit][PresetNameCapacity])
{
    BYTE scratch[PresetDataCapacity];
    int count = 0;
    while (count < PresetListLimit && queryValue(machineRoot, PresetKey, names[count], scratch,
                                                 sizeof scratch, count + 1) == ERROR_SUCCESS)
        ++count;
    return count;
}

} // namespace oryn
