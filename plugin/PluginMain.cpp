// DllMain, ENTRYPOINT and the selector dispatch: the spine every host call goes through.
#include "plugin/PluginMain.h"

#include <windows.h>

#include "Version.h"
#include "plugin/PluginState.h"

namespace oryn {

const char AboutCaption[] = "                Oryn 3D v" ORYN_VERSION_TEXT;
const char AboutText[] = "                          Oryn 3D\n"
                         "3D-structurizing filter for Adobe Photoshop\n"
                         "Turns an RGB image into a relief of pleated, shaded cells.\n"
                         ORYN_HOME_PAGE;

namespace {

// The parent window of a call: the about selector passes an AboutRecord, every other selector a
// FilterRecord; a null platformData (or record) means no parent.
void* findParentWindow(int16_t selector, void* record)
{
    if (record == nullptr)
        return nullptr;
    PlatformData* platform = selector == filterSelectorAbout
                                 ? static_cast<AboutRecord*>(record)->platformData
                                 : static_cast<FilterRecord*>(record)->platformData;
    return platform != nullptr ? platform->hwnd : nullptr;
}

void showAbout()
{
    MessageBoxA(static_cast<HWND>(parentWindow), AboutText, AboutCaption, MB_OK);
}

} // namespace

bool dispatchSelector(int16_t selector, void* record, int16_t& result)
{
    currentRecord = record;
    parentWindow = findParentWindow(selector, record);

    switch (selector) {
    case filterSelectorAbout:
        showAbout();
        result = noErr;
        return true;
    case filterSelectorParameters:
        // Parameters live in our own store; this call only means the user asked for the dialog.
        silentReplay = 0;
        result = noErr;
        return true;
    case filterSelectorPrepare:
        if (record != nullptr)
            static_cast<FilterRecord*>(record)->maxSpace = 256;
        result = noErr;
        return true;
    case filterSelectorStart:
        result = runStart(static_cast<FilterRecord*>(record));
        return true;
    default:
        // Continue, finish and any later selector need no work: the whole image is done in start.
        if (selector < 0)
            return false;
        result = noErr;
        return true;
    }
}

} // namespace oryn

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        oryn::moduleInstance = instance;
    return TRUE;
}

extern "C" ORYN_EXPORT void ENTRYPOINT(int16_t selector, void* record, intptr_t*, int16_t* result)
{
    int16_t code = noErr;
    if (oryn::dispatchSelector(selector, record, code) && result != nullptr)
        *result = code;
}
