// The main dialog's template read from the module's resources and laid out at a display scale.
#include "ui/DialogLayoutWin32.h"

#include <cstring>

#include "controls/RunState.h"
#include "ui/DialogLayout.h"

namespace oryn {

namespace {

// The template's layout, read from the module's resources; null when it cannot be read. One
// buffer for the module: the dialog code runs on one thread.
const DialogTemplateLayout* templateLayout(const char* templateName)
{
    HMODULE module = static_cast<HMODULE>(moduleInstance);
    HRSRC found = FindResourceA(module, templateName, MAKEINTRESOURCEA(5)); // RT_DIALOG
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    static DialogTemplateLayout layout;
    if (bytes == nullptr ||
        !readDialogTemplate(static_cast<const uint8_t*>(bytes), SizeofResource(module, found), layout))
        return nullptr;
    return &layout;
}

// The frame around a client area of the dialog's style at `dpi`: the system's own measure where it
// has one for a DPI (Windows 10 1607 on), else the frame the dialog has now.
SIZE frameSize(HWND dialog, int32_t dpi)
{
    typedef BOOL(WINAPI * AdjustForDpi)(RECT*, DWORD, BOOL, DWORD, UINT);
    HMODULE user = GetModuleHandleA("user32.dll");
    auto adjust = user != nullptr ? reinterpret_cast<AdjustForDpi>(reinterpret_cast<void*>(
                                        GetProcAddress(user, "AdjustWindowRectExForDpi")))
                                  : nullptr;
    RECT outer = {0, 0, 0, 0};
    const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    const DWORD extended = static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE));
    if (adjust == nullptr || !adjust(&outer, style, FALSE, extended, static_cast<UINT>(dpi))) {
        RECT client;
        GetWindowRect(dialog, &outer);
        GetClientRect(dialog, &client);
        return SIZE{(outer.right - outer.left) - client.right, (outer.bottom - outer.top) - client.bottom};
    }
    return SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

} // namespace

bool findTemplateControls(HWND dialog, const char* templateName, TemplateControls& controls)
{
    controls.count = 0;
    const DialogTemplateLayout* layout = templateLayout(templateName);
    if (layout == nullptr)
        return false;
    HWND child = GetWindow(dialog, GW_CHILD);
    for (int32_t i = 0; i < layout->count; ++i) {
        if (child == nullptr)
            return false;
        controls.items[i] = child;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    controls.count = layout->count;
    return true;
}

bool layOutDialog(HWND dialog, const char* templateName, const TemplateControls& controls,
                  const DisplayScale& scale, const RECT* window, HFONT font)
{
    const DialogTemplateLayout* layout = templateLayout(templateName);
    if (layout == nullptr || controls.count != layout->count)
        return false;
    const HWND* children = controls.items;

    if (font != nullptr)
        for (int32_t i = 0; i < layout->count; ++i)
            SendMessageA(children[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    HDWP moves = BeginDeferWindowPos(layout->count);
    for (int32_t i = 0; i < layout->count && moves != nullptr; ++i) {
        const PixelRect rect = layoutRect(layout->items[i], scale);
        moves = DeferWindowPos(moves, children[i], nullptr, rect.left, rect.top, rect.width, rect.height,
                               SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (moves == nullptr || !EndDeferWindowPos(moves))
        return false;

    RECT outer, client;
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    const int32_t clientWidth = unitsToPixelsX(layout->width, scale);
    const int32_t clientHeight = unitsToPixelsY(layout->height, scale);
    int32_t width = (outer.right - outer.left) - client.right + clientWidth;
    int32_t height = (outer.bottom - outer.top) - client.bottom + clientHeight;
    int32_t left = outer.left + ((outer.right - outer.left) - width) / 2;
    int32_t top = outer.top + ((outer.bottom - outer.top) - height) / 2;
    if (window != nullptr) {
        left = window->left;
        top = window->top;
    }
    SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    // A frame that changed with the scale (a per-monitor aware window's caption and borders are
    // measured at the new DPI) leaves the client area off by its change: made up once.
    GetClientRect(dialog, &client);
    if (client.right != clientWidth || client.bottom != clientHeight) {
        width += clientWidth - client.right;
        height += clientHeight - client.bottom;
        SetWindowPos(dialog, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    return true;
}

HFONT makeTemplateFont(const char* templateName, const DisplayScale& scale)
{
    const DialogTemplateLayout* layout = templateLayout(templateName);
    if (layout == nullptr || layout->pointSize == 0)
        return nullptr;
    // Described as the dialog manager describes the template's font, at the scale's DPI.
    LOGFONTA font = {};
    font.lfHeight = fontHeightForPoints(layout->pointSize, scale);
    font.lfWeight = layout->weight;
    font.lfItalic = static_cast<BYTE>(layout->italic);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = PROOF_QUALITY;
    font.lfPitchAndFamily = FF_DONTCARE;
    std::strcpy(font.lfFaceName, layout->faceName);
    return CreateFontIndirectA(&font);
}

SIZE scaledWindowSize(HWND dialog, const char* templateName, const DisplayScale& scale)
{
    const DialogTemplateLayout* layout = templateLayout(templateName);
    const SIZE frame = frameSize(dialog, scale.dpi);
    if (layout == nullptr)
        return frame;
    return SIZE{frame.cx + unitsToPixelsX(layout->width, scale), frame.cy + unitsToPixelsY(layout->height, scale)};
}

} // namespace oryn
