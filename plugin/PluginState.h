// Module-wide state of the plug-in: alive from load to unload, shared by the entry point, the
// filter run, the dialog and the controls.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"
#include "host/HostApi.h"
#include "controls/RunState.h"

namespace oryn {

// The record of the current ENTRYPOINT call (a FilterRecord, or an AboutRecord for selector 0).
extern void* currentRecord;
// Parent window of the current call, from the record's platformData; null when there is none.
extern void* parentWindow;

// 1: start renders the stored last-used parameters without a dialog. Cleared by the parameters
// selector; nothing sets it back while the module stays loaded, so a host that asks for
// parameters gets the dialog and a fresh load without them replays silently.
extern int32_t silentReplay;

// State of one filter run.
extern int32_t useDefaults;   // 1 when the last-used record was missing or invalid

} // namespace oryn
