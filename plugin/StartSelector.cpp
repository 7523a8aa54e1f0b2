// The start selector: the whole filter run over the host's image. Reads the last-used record,
// shows the main dialog (or replays the record silently), stores the confirmed parameters and
// renders the whole image once.
#include "plugin/PluginMain.h"

#include <windows.h>

#include "controls/ControlsStateWin32.h"
#include "params/ParamBlock.h"
#include "params/PresetStore.h"
#include "plugin/FinalRender.h"
#include "plugin/PluginState.h"
#include "ui/MainDialogWin32.h"

namespace oryn {

namespace {

const char MainDialogName[] = "samples";
const char DialogFailedText[] = "Can't load dialog box!\n";

// Runs the main dialog over the host's window. Returns 0 when the dialog ran (its outcome is in
// dialogResult), or 1 when it could not be made; the user has then been told.
int runMainDialog(ParamContext& context)
{
    INT_PTR created = DialogBoxParamA(static_cast<HINSTANCE>(moduleInstance), MainDialogName,
                                      static_cast<HWND>(parentWindow), mainDialogProc,
                                      reinterpret_cast<LPARAM>(&context));
    if (created == 0)
        return 0;
    MessageBoxA(static_cast<HWND>(parentWindow), DialogFailedText, nullptr, MB_OK);
    return 1;
}

} // namespace

int16_t runStart(FilterRecord* record)
{
    if (record == nullptr)
        return memFullErr;
    planesUsed = record->planes > 4 ? 4 : record->planes;

    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, record};

    char name[PresetNameCapacity] = "Last Used";
    if (queryParamBlock(ReadRequest, name, block) != 0 || !checksumOk(block)) {
        useDefaults = 1;
        silentReplay = 0;
    } else {
        useDefaults = 0;
    }
    if (useDefaults) {
        block.backgroundColor = DefaultBackgroundColor;
        block.backgroundMode = Picker;
    }

    const RunSetup setup = setupRun(*record, block, resolvedColor);
    currentMode = setup.currentMode;
    pickerColor = setup.pickerColor;
    resolvedColor = setup.resolvedColor;
    imageScale = setup.imageScale;
    dialogResult = 0;

    if (silentReplay == 0) {
        if (runMainDialog(context) != 0)
            return userCanceledErr;
        if (dialogResult != 0)
            return static_cast<int16_t>(dialogResult);
        // What the dialog showed becomes the last-used record, with the picker colour beside the
        // mode. The dialog has already obtained the image for its preview.
        currentFlags = currentMode == Picker ? (LastUsedRecord | BackgroundSaved) : LastUsedRecord;
        packParams(block, dialogControlState(), 8);
        writeValue(LastUsedName, &block, ParamBlockSize);
    } else {
        dialogResult = requestWholeImage(record, planesUsed);
    }
    if (dialogResult != 0)
        return memFullErr;

    // The dialog may have changed the background; the render uses what the run now holds.
    RunSetup renderSetup = setup;
    renderSetup.currentMode = currentMode;
    renderSetup.resolvedColor = resolvedColor;
    return renderFinal(context, renderSetup);
}

} // namespace oryn
