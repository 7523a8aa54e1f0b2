// The preset list of the main dialog: user presets (shown with a leading ">"), the samples, and
// the entry that saves the current settings. The name rules are portable; the list itself and
// applying an entry to the dialog's controls are in PresetListWin32.cpp.
#pragma once

#include <cstdint>

namespace oryn {

// Size of the buffer a decorated name is built in.
constexpr int PresetNameWorkSize = 60;
// A preset name as typed or chosen: at most 19 characters.
constexpr int PresetNameLength = 19;
// currentPresetName holds at most 31 characters.
constexpr int CurrentNameSize = 32;

// The list's bookkeeping, valid after fillPresetList.
struct PresetListState {
    int32_t userPresetCount; // user presets listed: every value of the store that fits the buffers
    int32_t sampleCount;     // samples listed (9)
    int32_t presetCount;     // userPresetCount + sampleCount: the position of the save entry
    char currentPresetName[CurrentNameSize];
};

extern PresetListState presetList;
// 1 after the save dialog ended with Delete Preset.
extern int32_t deleteRequested;
// The dialogs' shared text buffer: value captions, the browser command line, and the name the
// save dialog returns (empty after Cancel).
constexpr int TextBufferSize = 1024;
extern char textBuffer[TextBufferSize];

// name becomes ">" followed by the old name, within `size` bytes (cut to fit, always terminated).
void decorateName(char* name, int size);

// Drops one leading ">", then every trailing blank; an all-blank name becomes empty.
void undecorateName(char* name);

// Copies at most `length` characters of `source` into `target` (which holds length + 1 bytes).
void copyName(char* target, const char* source, int length);

} // namespace oryn
