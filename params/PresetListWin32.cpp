// The preset list: filling the combo boxes, applying an entry, and the save-preset dialog.
#include "params/PresetListWin32.h"

#include <cstring>

#include "Resource.h"
#include "controls/ControlsStateWin32.h"
#include "controls/PreviewInput.h"
#include "controls/RunState.h"
#include "controls/Win32Canvas.h"
#include "params/PresetApply.h"
#include "params/PresetList.h"
#include "params/PresetStore.h"
#include "params/SamplePresets.h"

namespace oryn {

namespace {

// A list text from the string table: the text before the "#", less the character just before it.
void listText(int id, char* text)
{
    loadPresetString(id, text, PresetStringSize);
    const char* marker = static_cast<const char*>(std::memchr(text, '#', std::strlen(text)));
    if (marker != nullptr)
        text[marker > text ? marker - text - 1 : 0] = '\0';
}

} // namespace

void fillPresetList(HWND dialog, int listId, int saveMode)
{
    SendDlgItemMessageA(dialog, listId, CB_RESETCONTENT, 0, 0);
    presetList.userPresetCount = 0;
    char name[PresetNameWorkSize];
    uint8_t scratch[PresetDataCapacity];
    // Every user preset is listed, so that a save is never invisible and "Last Used" is always
    // there to be found. A value whose name or data does not fit the buffers (one written by
    // another program) is skipped; it does not hide the values after it.
    for (int request = 1;; ++request) {
        name[0] = '\0';
        const long status =
            queryValue(presetMachineRoot(), PresetKey, name, scratch, sizeof scratch, request);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (saveMode == 0)
            decorateName(name, sizeof name);
        SendDlgItemMessageA(dialog, listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        ++presetList.userPresetCount;
    }
    presetList.sampleCount = sampleCount(presetList.sampleCount);
    presetList.presetCount = presetList.sampleCount + presetList.userPresetCount;
    if (saveMode != 0)
        return;
    char text[PresetStringSize];
    for (int k = 0; k <= presetList.sampleCount; ++k) {
        listText(k + 2, text);
        SendDlgItemMessageA(dialog, listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
}

void applyPreset(int32_t n, const ParamContext& context)
{
    if (n < 0 || n >= presetList.presetCount || button == nullptr || context.block == nullptr ||
        context.record == nullptr)
        return;
    // The paint's first pass may already hold the context; borrow it then, so that it is neither
    // taken twice nor released under the paint.
    const bool borrowed = controlDc != nullptr;
    if (!borrowed)
        acquireControlDc();

    ControlState state = dialogControlState();
    if (n < presetList.userPresetCount) {
        // The preset is read by the name the list shows: skipped values make list positions and
        // enumeration positions differ, and the store may have changed since the list was filled.
        char entry[PresetNameWorkSize] = "";
        const LRESULT length =
            SendDlgItemMessageA(dialogWindow, IDC_PRESET_LIST, CB_GETLBTEXTLEN, n, 0);
        if (length != CB_ERR && length < PresetNameWorkSize)
            SendDlgItemMessageA(dialogWindow, IDC_PRESET_LIST, CB_GETLBTEXT, n,
                                reinterpret_cast<LPARAM>(entry));
        char* name = entry[0] == '>' ? entry + 1 : entry;
        // A value that is no 64-byte record is as damaged as one whose checksum fails: the block
        // left from before must not be applied in its place.
        if (name[0] != '\0' && queryParamBlock(ReadRequest, name, *context.block) == 0)
            applyUserPreset(*context.block, state, planesUsed, *context.record);
        else
            applyDamagedPreset(state);
    } else {
        applySample(n - presetList.userPresetCount + 1, state);
    }
    Win32Canvas canvas(controlDc);
    for (int i = 0; i < PadCount; ++i) {
        pads[i]->erase(canvas);
        pads[i]->x = state.padX[i];
        pads[i]->y = state.padY[i];
    }
    button->state = state.faceMode;
    stretchDouble = state.stretchDouble;
    currentMode = state.currentMode;
    pickerColor = state.pickerColor;
    resolvedColor = state.resolvedColor;
    currentFlags = state.currentFlags;

    if (!borrowed)
        releaseControlDc();
}

INT_PTR CALLBACK saveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (LOWORD(message)) {
    case WM_INITDIALOG: {
        fillPresetList(dialog, IDC_PRESET_LIST, 1);
        char name[CurrentNameSize];
        copyName(name, presetList.currentPresetName, CurrentNameSize - 1);
        undecorateName(name);
        SetDlgItemTextA(dialog, IDC_PRESET_LIST, name);
        CheckDlgButton(dialog, IDC_SAVE_BACKGROUND, (currentFlags & BackgroundSaved) ? 1 : 0);
        CheckDlgButton(dialog, IDC_SAVE_LIGHT, (currentFlags & LightSaved) ? 1 : 0);
        deleteRequested = 0;
        // The field scrolls (so no typed letter is dropped for lack of room) and refuses what a
        // preset name cannot hold, as it is typed.
        SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_LIMITTEXT, PresetNameLength, 0);
        // Typing goes straight into the name field.
        SetFocus(GetDlgItem(dialog, IDC_PRESET_LIST));
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CANCEL:
            textBuffer[0] = '\0';
            EndDialog(dialog, 0);
            return 0;
        case IDC_DELETE:
            deleteRequested = 1;
            [[fallthrough]];
        case IDC_APPLY:
            GetDlgItemTextA(dialog, IDC_PRESET_LIST, textBuffer, PresetNameLength + 1);
            currentFlags = (IsDlgButtonChecked(dialog, IDC_SAVE_LIGHT) == BST_CHECKED ? LightSaved : 0) |
                           (IsDlgButtonChecked(dialog, IDC_SAVE_BACKGROUND) == BST_CHECKED ? BackgroundSaved : 0);
            EndDialog(dialog, 0);
            return 0;
        }
        return 0;
    }
    return 0;
}

} // namespace oryn
