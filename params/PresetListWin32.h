// The preset list controls of the main dialog and the save dialog, and the save dialog itself.
// Win32 only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "params/ParamBlock.h"

namespace oryn {

// Fills list control `listId` of `dialog`: the user presets in the store's order (at most 20;
// with saveMode 0 decorated with ">"), then, with saveMode 0 only, the samples and the save entry.
// Updates presetList's counts.
void fillPresetList(HWND dialog, int listId, int saveMode);

// Applies list entry n to the dialog's controls and run state by the preset's flag rules: a user
// preset is read into context.block (a damaged one is replaced by "Orystone" with light boost 30
// and brightness ratio 20), a sample sets the cell shape. The save entry is never applied.
void applyPreset(int32_t n, const ParamContext& context);

// The dialog procedure of "SAVE". Returns 0 for every message; the answer leaves through
// textBuffer (the name, empty after Cancel), currentFlags and deleteRequested.
INT_PTR CALLBACK saveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace oryn
