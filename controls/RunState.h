// Module-wide state of one filter run, alive from load to unload and shared by the entry point,
// the main dialog, the controls and the preset code. Declared here, at the bottom of the Win32
// layers, so that every layer above reaches it without depending on the entry point.
#pragma once

#include <cstdint>

namespace oryn {

// Set by DllMain on process attach; every resource is loaded from it.
extern void* moduleInstance;

extern int32_t planesUsed;     // the host's planes capped at 4, set at each start
extern int32_t antialias;      // Antialiasing check box
extern int32_t stretchDouble;  // "x2" check box
extern int32_t currentMode;    // BackgroundMode
extern uint32_t pickerColor;   // colour chosen with the Picker
extern uint32_t resolvedColor; // background colour handed to the engine
extern float imageScale;       // preview pixels to image pixels
extern int32_t dialogResult;   // 0 after Apply, userCanceledErr after Cancel
// The flags of what the controls currently hold (presetFlags bits).
extern int32_t currentFlags;

} // namespace oryn
