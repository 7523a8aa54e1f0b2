// The module's entry points and the selector dispatch.
#pragma once

#include <cstdint>

#include "host/HostApi.h"

extern "C" {
// The one export hosts call: selector, the host record, an unused data slot, the result.
ORYN_EXPORT void ENTRYPOINT(int16_t selector, void* record, intptr_t* data, int16_t* result);
}

namespace oryn {

// Caption and text of the about box.
extern const char AboutCaption[];
extern const char AboutText[];

// Handles one selector. Returns true and sets `result` when the selector answers with a result;
// returns false for negative selectors, which leave the host's result untouched.
bool dispatchSelector(int16_t selector, void* record, int16_t& result);

// The start selector: the whole filter run. Returns the host result code.
int16_t runStart(FilterRecord* record);

} // namespace oryn
