// Lists a module's property lists and finds the entry point a host of this bitness calls.
#pragma once

#include <windows.h>

#include "host/HostApi.h"

namespace oryn {

// Lists every PiPL of the module and picks the first well-formed filter PiPL that names an entry
// point for this bitness. Returns the entry, or null after saying why there is none.
PluginEntryProc findEntry(HMODULE module);

} // namespace oryn
