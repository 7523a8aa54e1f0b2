// Calls into the module's entry point: the record with guard bytes after it, the report of what
// each call changed, and the crash report.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "host/HostApi.h"
#include "tools/testhost/HostSupport.h"

namespace oryn {

// Bytes of guard after the record and the about record, to catch writes past their end.
constexpr size_t GuardBytes = 64;
constexpr uint8_t GuardFill = 0xA5;

// The record the module sees, followed by guard bytes.
struct RecordBlock {
    FilterRecord record;
    uint8_t guard[GuardBytes];
};

struct AboutBlock {
    AboutRecord record;
    uint8_t guard[GuardBytes];
};

bool guardIntact(const uint8_t* guard);

// Names of the record fields whose bytes differ between two snapshots; bytes that belong to no
// field (alignment padding) are named by offset. "none" when nothing differs.
std::string changedFields(const uint8_t* before, const uint8_t* after);

// The unhandled-exception filter: names the call that crashed and ends the process with ExitCrash.
ORYN_CALLED_BACK LONG WINAPI reportCrash(EXCEPTION_POINTERS* exception);

// Calls the entry point once. Returns the result, or the sentinel when the module wrote none.
struct Caller {
    PluginEntryProc entry = nullptr;
    intptr_t data = 0; // the module's data slot, kept for the whole run as hosts do
    bool allOk = true;
    std::string results;

    int16_t call(const char* label, int16_t selector, void* record)
    {
        int16_t result = ResultSentinel;
        currentCall = label;
        entry(selector, record, &data, &result);
        currentCall = "host";
        bool untouched = result == ResultSentinel;
        say("call %s -> %d%s", label, result, untouched ? " untouched" : "");
        if (result != noErr)
            allOk = false;
        results += std::string(results.empty() ? "" : " ") + label + " " + std::to_string(result);
        return result;
    }

    // A filter selector, with the record's changes and any write past its end reported.
    int16_t callFilter(const char* label, int16_t selector, RecordBlock& block)
    {
        RecordBlock before;
        std::memcpy(&before, &block, sizeof block);
        intptr_t dataBefore = data;
        int16_t result = call(label, selector, &block.record);
        std::string changed = changedFields(reinterpret_cast<const uint8_t*>(&before.record),
                                            reinterpret_cast<const uint8_t*>(&block.record));
        if (data != dataBefore)
            changed = (changed == "none" ? "" : changed + " ") + "dataSlot";
        say("changed %s: %s", label, changed.c_str());
        if (!guardIntact(block.guard)) {
            say("error: %s wrote past the end of the FilterRecord", label);
            allOk = false;
        }
        return result;
    }
};

} // namespace oryn
