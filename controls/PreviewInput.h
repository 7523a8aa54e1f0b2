// Mouse input for the windowless controls, both from the main dialog's procedure and from inside
// a preview render, and the shared client-area context they paint into.
#pragma once

#include <cstdint>

#include "params/ParamBlock.h"

namespace oryn {

// Takes the main dialog's client-area context into controlDc, with the button-face colour as text
// background and the dialog font (once made) selected.
void acquireControlDc();
// Gives controlDc back and clears it.
void releaseControlDc();

// Hands a mouse message (codes 0x200..0x209) to pads 0..7 and then the button, painting into a
// freshly acquired controlDc; the first pad that handles it ends the walk. Other messages are
// ignored without taking a context. While a pad holds its marker afterwards, the dialog holds the
// mouse capture; when none does, the capture is released. Returns 1 when a pad or the button
// handled it, else 0.
int32_t dispatchControlMouse(uint32_t message, uint32_t keyState, uint32_t position);

// Lets go of every held marker: the dialog lost the mouse capture to another window, so the
// button-up that would end the drag may never come.
void releaseControlGrabs();

// The preview render's progress callback: reports to the host's progressProc, then takes at most
// one pending mouse message addressed to the main dialog window itself (not to its child
// controls, whose input waits for normal dispatch) from the queue and hands it to the controls (a
// message no control handles is dropped), then lets keyboardPoll handle one key for the focused
// control, and while restartCount is above 1 uses up one owed restart. Returns 1 to stop the
// render (a control changed, or a restart is owed), else 0.
int32_t previewProgress(const ParamContext* context, int32_t row, int32_t total);

} // namespace oryn
