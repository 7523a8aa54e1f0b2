// Preparing and showing the filter's stored "Last Used" record.
#include "tools/testhost/HostStore.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/testhost/HostSupport.h"

namespace oryn {

namespace {

const char StoreKey[] = "Software\\Oryn 3D\\User Defined";
const char LastUsedValue[] = "Last Used";

} // namespace

namespace {

// Stores `record` (hex, or @FILE for a file holding the bytes) under `name`. Returns 0, or 1
// after saying why.
int storeValue(const std::string& name, const std::string& record)
{
    std::vector<uint8_t> bytes;
    bool readable = !record.empty();
    if (readable && record[0] == '@') {
        FILE* file = std::fopen(record.c_str() + 1, "rb");
        readable = file != nullptr;
        if (file != nullptr) {
            uint8_t buffer[4096];
            size_t count;
            while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                bytes.insert(bytes.end(), buffer, buffer + count);
            std::fclose(file);
        }
    } else {
        readable = readable && record.size() % 2 == 0;
        for (size_t k = 0; readable && k < record.size(); k += 2) {
            if (!std::isxdigit(uint8_t(record[k])) || !std::isxdigit(uint8_t(record[k + 1])))
                readable = false;
            else
                bytes.push_back(uint8_t(std::strtol(record.substr(k, 2).c_str(), nullptr, 16)));
        }
    }
    if (!readable || bytes.empty()) {
        say("error: bad record %s", record.c_str());
        return 1;
    }
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, StoreKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status =
            RegSetValueExA(key, name.c_str(), 0, REG_BINARY, bytes.data(), DWORD(bytes.size()));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        say("error: cannot store the record (error %ld)", long(status));
        return 1;
    }
    say("stored %s %u bytes", name.c_str(), unsigned(bytes.size()));
    return 0;
}

} // namespace

int prepareStore(const Options& options)
{
    if (options.clearStore) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, StoreKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, StoreKey);
        say("store cleared");
    }
    for (const auto& value : options.storeValues)
        if (storeValue(value.first, value.second))
            return 1;
    if (!options.storeRecord.empty())
        return storeValue(LastUsedValue, options.storeRecord);
    return 0;
}

void showStore()
{
    uint8_t bytes[512];
    DWORD size = sizeof bytes;
    DWORD type = 0;
    LSTATUS status = RegGetValueA(HKEY_CURRENT_USER, StoreKey, LastUsedValue, RRF_RT_ANY, &type,
                                  bytes, &size);
    if (status != ERROR_SUCCESS) {
        size = sizeof bytes;
        status = RegGetValueA(HKEY_LOCAL_MACHINE, StoreKey, LastUsedValue, RRF_RT_ANY, &type, bytes,
                              &size);
    }
    if (status != ERROR_SUCCESS) {
        say("store Last Used absent");
        return;
    }
    std::string hex;
    for (DWORD i = 0; i < size; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        hex += digits;
    }
    say("store Last Used type %lu bytes %lu %s", static_cast<unsigned long>(type),
        static_cast<unsigned long>(size), hex.c_str());
}

} // namespace oryn
