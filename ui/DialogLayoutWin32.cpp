// The main dialog's template read from the module's resources and laid out at a display scale.
#include "ui/DialogLayoutWin32.h"

#include "controls/RunState.h"
#include "ui/DialogLayout.h"

namespace oryn {

bool layOutDialog(HWND dialog, const char* templateName, const DisplayScale& scale, const RECT* window)
{
    HMODULE module = static_cast<HMODULE>(moduleInstance);
    HRSRC found = FindResourceA(module, templateName, MAKEINTRESOURCEA(5)); // RT_DIALOG
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    static DialogTemplateLayout layout;
    if (bytes == nullptr ||
        !readDialogTemplate(static_cast<const uint8_t*>(bytes), SizeofResource(module, found), layout))
        return false;

    // The dialog manager creates the template's controls in template order, each after the last.
    HWND children[MaxTemplateItems] = {};
    HWND child = GetWindow(dialog, GW_CHILD);
    for (int32_t i = 0; i < layout.count; ++i) {
        if (child == nullptr)
            return false;
        children[i] = child;
        child = GetWindow(child, GW_HWNDNEXT);
    }

    HDWP moves = BeginDeferWindowPos(layout.count);
    for (int32_t i = 0; i < layout.count && moves != nullptr; ++i) {
        const PixelRect rect = layoutRect(layout.items[i], scale);
        moves = DeferWindowPos(moves, children[i], nullptr, rect.left, rect.top, rect.width, rect.height,
                               SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (moves == nullptr || !EndDeferWindowPos(moves))
        return false;

    RECT outer, client;
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    const int32_t width = (outer.right - outer.left) - client.right + unitsToPixelsX(layout.width, scale);
    const int32_t height = (outer.bottom - outer.top) - client.bottom + unitsToPixelsY(layout.height, scale);
    if (window != nullptr) {
        SetWindowPos(dialog, nullptr, window->left, window->top, window->right - window->left,
                     window->bottom - window->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        const int32_t left = outer.left + ((outer.right - outer.left) - width) / 2;
        const int32_t top = outer.top + ((outer.bottom - outer.top) - height) / 2;
        SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return true;
}

} // namespace oryn
