// The preset store: user presets and the last-used record, one 64-byte ParamBlock per value.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"

namespace oryn {

// Registry roots are HKEYs, carried as opaque pointers so that this header stays portable.
// Statuses are the platform's registry status (LSTATUS): 0 for success.

// The key under the machine root (HKEY_LOCAL_MACHINE) that holds the store, and the value that
// holds the last-used record. Every other value name is a user preset.
constexpr const char* PresetKey = "Software\\Oryn 3D\\User Defined";
constexpr const char* LastUsedName = "Last Used";

// queryValue requests. Any other request n >= 1 enumerates value n - 1 of the key.
constexpr int ReadRequest = 0;
constexpr int DeleteRequest = 9999;

// Enumeration receives names of up to 49 characters and values of up to 500 bytes (or the
// caller's smaller buffer); a larger name or value ends the enumeration.
constexpr int PresetNameCapacity = 50; // with the terminator
constexpr uint32_t PresetDataCapacity = 500;
// The preset list shows at most this many user presets.
constexpr int PresetListLimit = 20;

// Where the store lives. It starts under the machine root and stays there while that root
// accepts writes. Once a write there is refused (ERROR_ACCESS_DENIED, as for an ordinary process
// on current Windows), the store moves to the same key under the user root (HKEY_CURRENT_USER):
// the key is created there and every value of the machine key is copied across, skipping names
// the user key already holds. From then on the existence of the user key is the record of the
// move, in this process and every later one: reads, enumeration, deletes and writes of the
// preset key all go to the user key, and the machine key is never copied again, so presets
// deleted or changed after the move stay deleted or changed. A delete refused under the machine
// root moves the store the same way before it deletes, so a deleted preset cannot come back.
// If the copy fails, the new user key is removed again and the write reports the failure; the
// next write tries the move afresh.

// Replaces the two roots (tests use scratch keys); a null argument restores HKEY_LOCAL_MACHINE
// or HKEY_CURRENT_USER. The store keeps no other state between calls.
void setPresetStoreRoots(void* machineRoot, void* userRoot);

// The root callers name when they address the preset key: HKEY_LOCAL_MACHINE unless replaced.
void* presetMachineRoot();

// The root whose preset key the store uses now: the user root after a move, else the machine
// root.
void* presetStoreRoot();

// Writes one REG_BINARY value under the preset key, creating the key when needed (and moving the
// store as described above when the machine root refuses the write). Returns the status of the
// write.
long writeValue(const char* name, const void* data, uint32_t size);

// Reads, deletes or enumerates a value of root\subkey, by request:
//   ReadRequest    name is the input; data receives the whole value, which must fit in dataSize
//                  bytes (ERROR_MORE_DATA otherwise, with nothing written past dataSize). A
//                  string value is always returned terminated within dataSize.
//   DeleteRequest  deletes the value named by name; data is not used.
//   n >= 1         value n - 1 in the registry's enumeration order: name receives its name
//                  (PresetNameCapacity bytes), data its bytes (at most PresetDataCapacity, or
//                  dataSize when smaller). The value's type is not checked.
// The preset key, asked for under HKEY_LOCAL_MACHINE or presetMachineRoot(), is served from
// wherever the store lives; any other root and subkey is read exactly as given. Returns the
// status of the open when it fails, else the status of the operation; a null buffer or a
// request below 0 gives ERROR_INVALID_PARAMETER.
long queryValue(void* root, const char* subkey, char* name, void* data, uint32_t dataSize,
                int request);

// Fills a ParamBlock from the store: ReadRequest reads the value named by name, n >= 1 reads
// value n - 1 and puts its name in name (PresetNameCapacity bytes). Only a REG_BINARY value of
// exactly 64 bytes is taken; anything else leaves the block untouched and returns a non-zero
// status (ERROR_MORE_DATA for a larger value, ERROR_INVALID_DATA for another type or a smaller
// one). DeleteRequest and n < 0 return ERROR_INVALID_PARAMETER.
long queryParamBlock(int request, char* name, ParamBlock& block);

// The user preset names for the preset list, in enumeration order: values 0, 1, 2, ... until the
// first failed enumeration or PresetListLimit names. Returns the number of names filled.
int collectPresetNames(char (&names)[PresetListLimit][PresetNameCapacity]);

} // namespace oryn
