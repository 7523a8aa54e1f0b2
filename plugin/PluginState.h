// Module-wide state of the plug-in: alive from load to unload, shared by the entry point, the
// filter run, the dialog and the controls.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"
#include "host/HostApi.h"

namespace oryn {

// Set by DllMain on process attach; every resource is loaded from it.
extern void* moduleInstance;
// The record of the current ENTRYPOINT call (a FilterRecord, or an AboutRecord for selector 0).
extern void* currentRecord;
// Parent window of the current call, from the record's platformData; null when there is none.
extern void* parentWindow;

// 1: start renders the stored last-used parameters without a dialog. Cleared by the parameters
// selector; nothing sets it back while the module stays loaded, so a host that asks for
// parameters gets the dialog and a fresh load without them replays silently.
extern int32_t silentReplay;
extern int32_t planesUsed; // the host's planes capped at 4, set at each start
extern int32_t antialias;  // Antialiasing check box

// State of one filter run.
extern int32_t currentMode;   // BackgroundMode
extern uint32_t pickerColor;  // colour chosen with the Picker
extern uint32_t resolvedColor; // background colour handed to the engine
extern float imageScale;      // preview pixels to image pixels
extern int32_t useDefaults;   // 1 when the last-used record was missing or invalid
extern int32_t dialogResult;  // 0 after Apply, userCanceledErr after Cancel
extern int32_t stretchDouble; // "x2" check box

// Preset state: the flags of what the controls currently hold (presetFlags bits).
extern int32_t currentFlags;
// The dialog's controls as plain values: pads, G-Shading state, "x2", Antialiasing, background.
extern ControlState dialogControls;

} // namespace oryn
