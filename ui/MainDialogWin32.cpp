// The main dialog: first-paint set-up (image transfer, controls, presets), the paint loop that
// redraws the controls and renders the preview until a render completes, the commands, the
// preset list's save and delete flows, and the home page link.
#include "ui/MainDialogWin32.h"

#include <cstring>
#include <memory>
#include <new>

#include "Resource.h"
#include "Version.h"
#include "controls/BackgroundPopupWin32.h"
#include "controls/ControlsStateWin32.h"
#include "controls/PreviewInput.h"
#include "controls/RunState.h"
#include "controls/Win32Canvas.h"
#include "params/PresetList.h"
#include "params/PresetListWin32.h"
#include "params/PresetStore.h"
#include "params/SamplePresets.h"
#include "ui/DialogKeysWin32.h"
#include "ui/DialogLayoutWin32.h"
#include "ui/HomePageLink.h"

namespace oryn {

ParamContext* dialogContext = nullptr;
int32_t controlsReady = 0;
int32_t fullRedraw = 0;
int32_t antialiasShown = 1;
int32_t stretchDoubleShown = 0;
int32_t currentSelection = 0;
int32_t previousSelection = 0;
int32_t linkHover = 0;
int32_t paintActive = 0;
DialogRects dialogRects = {};
HFONT linkFont = nullptr;
HCURSOR arrowCursor = nullptr;
HCURSOR handCursor = nullptr;
HBITMAP buttonBitmap = nullptr;
HDC buttonDc = nullptr;
PreviewBuffers previewBuffers(nullptr);
PreviewArea previewImageArea = {};
BITMAPINFO previewHeader = {};
HBITMAP previewBitmap = nullptr;
HDC previewDc = nullptr;
int32_t previewBitmapSide = 0;

namespace {

const char HomePage[] = ORYN_HOME_PAGE;
const char MainDialogTemplate[] = "SAMPLES";
const char TransferText[] = "DATA TRANSFER... PLEASE WAIT";
const char SaveFailedText[] = "Unable to save User Preset";
const char BrowserKey[] = "Software\\CLASSES\\http\\shell\\open\\command";
constexpr COLORREF LinkColour = 0x00FF0000; // pure blue
constexpr int StockBitmap = 21;             // DEFAULT_BITMAP: the 1 x 1 bitmap of a new context
// WM_DPICHANGED and WM_GETDPISCALEDSIZE, which headers declare only for newer system versions.
constexpr UINT DpiChangedMessage = 0x02E0;
constexpr UINT DpiScaledSizeMessage = 0x02E4;

// Word-aligned copy of the preview for sides whose rows are not (see screenRows).
std::unique_ptr<uint8_t[]> paddedPreview;
size_t paddedPreviewBytes = 0;

// A change of display scale that came while it could not be made at once (during a paint, or
// while the background popup or the host's colour picker was open): it is made when they have
// returned. 0 when none waits.
int32_t pendingDpi = 0;
RECT pendingWindow = {};
bool pendingHasWindow = false;
// The template's font made for the display scale the dialog changed to; the controls hold the
// dialog manager's own until the first change. Deleted with the dialog.
HFONT templateFont = nullptr;
// The template's controls, found when the dialog is made.
TemplateControls templateControls;

// A posted paint: the controls are drawn and the preview rendered again.
void postRepaint(HWND dialog) { PostMessageA(dialog, WM_PAINT, 0, 10); }

// Both fonts come from one description; only the underline differs. 13 pixels high at 100%.
HFONT makeFont(BYTE underline, const DisplayScale& scale)
{
    LOGFONTA font = {};
    font.lfHeight = scale.px(13);
    font.lfUnderline = underline;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    std::strcpy(font.lfFaceName, "ms sans serif");
    return CreateFontIndirectA(&font);
}

// The DPI the fonts were made for; they are made again when the display scale changes.
int32_t fontDpi = 0;

void makeFonts(const DisplayScale& scale)
{
    if (dialogFont != nullptr && linkFont != nullptr && fontDpi == scale.dpi)
        return;
    HFONT oldDialog = dialogFont;
    HFONT oldLink = linkFont;
    dialogFont = makeFont(FALSE, scale);
    linkFont = makeFont(TRUE, scale);
    fontDpi = scale.dpi;
    if (oldDialog != nullptr)
        DeleteObject(oldDialog);
    if (oldLink != nullptr)
        DeleteObject(oldLink);
}

void fillPreviewHeader(int32_t side)
{
    BITMAPINFOHEADER& header = previewHeader.bmiHeader;
    std::memset(&previewHeader, 0, sizeof previewHeader);
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = side;
    header.biHeight = -side; // top row first
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
}

// Where the system would rescale a dialog's template controls and fonts itself on a change of
// DPI (per-monitor aware windows on Windows 10 1703 and later), the dialog does it instead: its
// own layout scales the template's controls and its drawing by one factor.
void takeOverDpiChanges(HWND dialog)
{
    typedef BOOL(WINAPI * SetBehavior)(HWND, int, int);
    constexpr int DisableAll = 1; // DDC_DISABLE_ALL
    HMODULE user = GetModuleHandleA("user32.dll");
    auto set = user != nullptr ? reinterpret_cast<SetBehavior>(reinterpret_cast<void*>(
                                     GetProcAddress(user, "SetDialogDpiChangeBehavior")))
                               : nullptr;
    if (set != nullptr)
        set(dialog, DisableAll, DisableAll);
}

// What a dialog needs before its first paint. The fonts, cursors and the strip are made once per
// loaded module; everything that belongs to one run starts again from its load-time value, so a
// host that keeps the module loaded gets the same dialog every time.
void startDialog(HWND dialog, LPARAM parameter)
{
    dialogContext = reinterpret_cast<ParamContext*>(parameter);
    if (buttonBitmap == nullptr)
        buttonBitmap = LoadBitmapA(static_cast<HINSTANCE>(moduleInstance), MAKEINTRESOURCEA(IDB_SHADING_STRIP));
    arrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    if (handCursor == nullptr)
        handCursor = LoadCursorA(static_cast<HINSTANCE>(moduleInstance), MAKEINTRESOURCEA(IDR_HAND_CURSOR));
    // The display scale is taken here, and again from every DPI change the system reports.
    displayScale = windowDisplayScale(dialogWindow);
    pendingDpi = 0;
    takeOverDpiChanges(dialog);
    // The template's controls grow with the display scale by the same factor as the drawing,
    // whatever sizes the dialog font has; this runs before any control of the dialog's own exists.
    findTemplateControls(dialog, MainDialogTemplate, templateControls);
    layOutDialog(dialog, MainDialogTemplate, templateControls, displayScale);
    fillPreviewHeader(previewSide(displayScale));
    makeFonts(displayScale);

    controlsReady = 0;
    fullRedraw = 0;
    restartCount = 0;
    linkHover = 0;
    antialias = 1;
    antialiasShown = 1;
    stretchDouble = 0;
    stretchDoubleShown = 0;
    currentSelection = 0;
    previousSelection = 0;
    paintActive = 0;
    previewBuffers.reset(displayScale);
    createFocusStops(dialog);
}

// The rendered preview as the bitmap takes it: rows padded to whole 4-byte words. At 96 DPI (and
// any side whose rows are already whole words) the buffer itself.
const uint8_t* screenRows()
{
    const int32_t side = previewBuffers.side;
    const int32_t rowBytes = previewBuffers.rowBytes();
    const int32_t stride = (rowBytes + 3) & ~3;
    if (stride == rowBytes)
        return previewBuffers.previewImage;
    const size_t bytes = size_t(stride) * size_t(side);
    if (paddedPreview == nullptr || paddedPreviewBytes != bytes) {
        paddedPreview.reset(new (std::nothrow) uint8_t[bytes]());
        paddedPreviewBytes = paddedPreview != nullptr ? bytes : 0;
        if (paddedPreview == nullptr)
            return nullptr;
    }
    for (int32_t row = 0; row < side; ++row)
        std::memcpy(paddedPreview.get() + size_t(row) * size_t(stride),
                    previewBuffers.previewImage + size_t(row) * size_t(rowBytes), size_t(rowBytes));
    return paddedPreview.get();
}

// Puts what has been drawn so far on the screen now, before a long wait in which the dialog
// processes no messages. Some window systems (Wine's among them) copy a window's drawing to the
// screen only when the thread looks for messages and finds none; this looks for one that is never
// sent, which leaves the queue as it is.
void presentNow(HWND dialog)
{
    GdiFlush();
    MSG none;
    PeekMessageA(&none, dialog, WM_APP + 0x3FFF, WM_APP + 0x3FFF, PM_NOREMOVE);
}

// Shows the wait text at the current layout, then asks the host for the image and reduces it into
// `buffers` at their scale. Returns the transfer's result (memFullErr for buffers that are not
// ready). The control context is held by the caller.
int16_t transferImage(HWND dialog, PreviewBuffers& buffers, PreviewArea& area)
{
    TextOutA(controlDc, displayScale.px(50), displayScale.px(50), TransferText, 28);
    presentNow(dialog);
    FilterRecord* record = dialogContext->record;
    if (record == nullptr || !buffers.ready())
        return memFullErr;
    const float scale = previewImageScale(record->imageSize.h, record->imageSize.v, buffers.scale);
    return previewTransfer(record, planesUsed, scale, buffers, area);
}

// The screen copy of the preview, made again when the buffers' side has changed (a change of
// display scale, or an earlier dialog at another scale). False when it cannot be made.
bool makePreviewBitmap()
{
    if (previewDc == nullptr)
        previewDc = CreateCompatibleDC(controlDc);
    if (previewBitmap != nullptr && previewBitmapSide != previewBuffers.side) {
        if (previewDc != nullptr)
            SelectObject(previewDc, GetStockObject(StockBitmap));
        DeleteObject(previewBitmap);
        previewBitmap = nullptr;
    }
    if (previewBitmap == nullptr && previewDc != nullptr) {
        previewBitmapSide = previewBuffers.side;
        const uint8_t* rows = screenRows();
        previewBitmap = rows != nullptr ? CreateDIBitmap(controlDc, &previewHeader.bmiHeader,
                                                         CBM_INIT, rows, &previewHeader,
                                                         DIB_RGB_COLORS)
                                        : nullptr;
        SelectObject(previewDc, previewBitmap);
    }
    return previewDc != nullptr && previewBitmap != nullptr;
}

// The rectangles the dialog's own controls are placed by, read from the template's controls as
// they are laid out now, and the focus mark for the display scale.
void readDialogRects(HWND dialog)
{
    dialogRects.swatchRect = controlClientRect(dialog, IDC_SWATCH);
    dialogRects.linkRect = controlClientRect(dialog, IDC_LINK_AREA);
    dialogRects.previewFrame = controlClientRect(dialog, IDC_PREVIEW_FRAME);
    dialogRects.stretchFrame = controlClientRect(dialog, IDC_STRETCH_FRAME);
    dialogRects.shadingFrame = controlClientRect(dialog, IDC_SHADING_FRAME);
    dialogRects.doubleBox = controlClientRect(dialog, IDC_STRETCH_DOUBLE);
    dialogRects.scale = displayScale;
    adjustFrames(dialogRects);
    setFocusLook();
}

// First paint: shows the transfer message, obtains and reduces the image, places the controls
// and applies the starting preset. Returns 0, or 1 after ending the dialog with dialogResult set.
int firstPaint(HWND dialog)
{
    // The frame, the controls and the message are on the screen before the host transfers the
    // image, which can take a while: the dialog is not blank meanwhile. The dialog's own part of
    // this update comes back here as a nested paint, which only erases and validates.
    RedrawWindow(dialog, nullptr, nullptr, RDW_ERASENOW | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const int16_t transfer = transferImage(dialog, previewBuffers, previewImageArea);
    if (transfer != noErr) {
        dialogResult = transfer;
        EndDialog(dialog, 0);
        return 1;
    }
    const bool bitmapMade = makePreviewBitmap();
    if (buttonDc == nullptr) {
        buttonDc = CreateCompatibleDC(controlDc);
        if (buttonDc != nullptr)
            SelectObject(buttonDc, buttonBitmap);
    }
    readDialogRects(dialog);

    if (!bitmapMade || buttonDc == nullptr || buttonBitmap == nullptr ||
        createDialogControls(dialogRects, pads, button) != 0) {
        dialogResult = memFullErr;
        EndDialog(dialog, 0);
        return 1;
    }

    // The box and the state it stands for start together.
    CheckDlgButton(dialog, IDC_ANTIALIAS, BST_CHECKED);
    antialias = 1;
    antialiasShown = 1;

    fillPresetList(dialog, IDC_PRESET_LIST, 0);
    // The last-used record itself; a user preset whose name merely begins with "Last Used" is
    // taken only when there is no such record.
    LRESULT found = SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_FINDSTRINGEXACT, WPARAM(-1),
                                        reinterpret_cast<LPARAM>(">Last Used"));
    if (found == CB_ERR)
        found = SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_SELECTSTRING, 0,
                                    reinterpret_cast<LPARAM>(">Last Used"));
    if (found == CB_ERR) {
        currentSelection = presetList.userPresetCount + 2; // "Orystone"
        pads[6]->x = 30;
        pads[7]->x = 20;
    } else {
        currentSelection = static_cast<int32_t>(found);
    }
    applyPreset(currentSelection, *dialogContext);
    packParams(*dialogContext->block, dialogControlState(), 0);
    SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_SETCURSEL, currentSelection, 0);
    textBuffer[0] = '\0';
    LRESULT length = SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETLBTEXTLEN, currentSelection, 0);
    if (length != CB_ERR && length < TextBufferSize)
        SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETLBTEXT, currentSelection,
                            reinterpret_cast<LPARAM>(textBuffer));
    copyName(presetList.currentPresetName, textBuffer, CurrentNameSize - 1);
    controlsReady = 1;
    return 0;
}

void showPreview()
{
    const int32_t side = previewBuffers.side;
    const uint8_t* rows = screenRows();
    if (rows == nullptr)
        return;
    SetDIBits(controlDc, previewBitmap, 0, side, rows, &previewHeader, DIB_RGB_COLORS);
    BitBlt(controlDc, dialogRects.previewFrame.left + displayScale.px(3),
           dialogRects.previewFrame.top + displayScale.px(3), side, side, previewDc, 0, 0, SRCCOPY);
}

void drawLink()
{
    COLORREF previous = GetTextColor(controlDc);
    SelectObject(controlDc, linkFont);
    SetTextColor(controlDc, LinkColour);
    TextOutA(controlDc, dialogRects.linkRect.left, dialogRects.linkRect.top, HomePage,
             static_cast<int>(std::strlen(HomePage)));
    SelectObject(controlDc, dialogFont);
    SetTextColor(controlDc, previous);
}

// The dialog's own controls made again for the rectangles of the new layout, with the values,
// the G-Shading state and the focus they had. A drag in progress ends. False when the memory
// cannot be had; the dialog is then ended with memFullErr, as at its first paint.
bool rebuildControls(HWND dialog)
{
    releaseControlGrabs();
    int32_t x[PadCount], y[PadCount];
    for (int32_t i = 0; i < PadCount; ++i) {
        x[i] = pads[i]->x;
        y[i] = pads[i]->y;
    }
    const int32_t state = button->state;
    readDialogRects(dialog);
    if (!makePreviewBitmap() || createDialogControls(dialogRects, pads, button) != 0) {
        dialogResult = memFullErr;
        EndDialog(dialog, 0);
        return false;
    }
    for (int32_t i = 0; i < PadCount; ++i) {
        pads[i]->x = x[i];
        pads[i]->y = y[i];
    }
    button->state = state;
    return true;
}

// Everything drawn again, in the first paint's order: the frame and the template's controls now
// (the dialog's own part of this update only erases and validates), then the dialog's own drawing
// over them in a paint of its own, so that the preview and the pads lie over the frames they
// touch.
void redrawEverything(HWND dialog)
{
    paintActive = 1;
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_ERASENOW | RDW_UPDATENOW);
    paintActive = 0;
    restartCount = 0;
    postRepaint(dialog);
}

void moveDialog(HWND dialog, const RECT* window)
{
    if (window != nullptr)
        SetWindowPos(dialog, nullptr, window->left, window->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

void changeDisplayScale(HWND dialog, int32_t dpi, const RECT* window)
{
    if (paintActive != 0 || backgroundChoiceOpen()) {
        pendingDpi = dpi > 0 ? dpi : BaseDpi;
        pendingHasWindow = window != nullptr;
        if (window != nullptr)
            pendingWindow = *window;
        // A running render stops at its next progress call.
        if (paintActive != 0)
            restartCount = restartCount < 1 ? 2 : restartCount + 1;
        return;
    }
    pendingDpi = 0;
    const DisplayScale scale = displayScaleForDpi(dpi);
    if (scale.dpi == displayScale.dpi) {
        moveDialog(dialog, window);
        return;
    }
    if (controlsReady != 0) {
        // The image is reduced for the new side before anything changes: where it cannot be had,
        // the dialog stays whole at its old scale. The host is asked again, as at the first paint,
        // and the wait text shows meanwhile.
        PreviewBuffers fresh(scale);
        PreviewArea area = {};
        acquireControlDc();
        const int16_t transfer = transferImage(dialog, fresh, area);
        releaseControlDc();
        if (transfer != noErr) {
            moveDialog(dialog, window);
            redrawEverything(dialog);
            return;
        }
        previewBuffers.swap(fresh);
        previewImageArea = area;
    } else if (previewBuffers.reset(scale) != 0) {
        return; // the first paint reports the memory it cannot have
    }
    displayScale = scale;
    HFONT font = makeTemplateFont(MainDialogTemplate, scale);
    layOutDialog(dialog, MainDialogTemplate, templateControls, scale, window, font);
    if (font != nullptr) {
        if (templateFont != nullptr)
            DeleteObject(templateFont);
        templateFont = font;
    }
    makeFonts(scale);
    fillPreviewHeader(previewSide(scale));
    if (controlsReady != 0) {
        acquireControlDc();
        const bool rebuilt = rebuildControls(dialog);
        releaseControlDc();
        if (!rebuilt)
            return;
        redrawEverything(dialog);
        return;
    }
    InvalidateRect(dialog, nullptr, TRUE);
}

namespace {

// A change of display scale that had to wait is made once what held it has returned.
void applyPendingScale(HWND dialog)
{
    if (pendingDpi != 0)
        changeDisplayScale(dialog, pendingDpi, pendingHasWindow ? &pendingWindow : nullptr);
}

// A paint that arrives while a paint runs: a host whose progressProc dispatches messages hands
// it over from inside the render. It must not render inside the running render, or the screen
// would end on the older, outer render. The window is erased and validated here (the system
// would otherwise send the paint again and again), and the running paint renders once more and
// redraws every control, so that what it shows last is a completed render of the current values.
void nestedPaint(HWND dialog)
{
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    EndPaint(dialog, &ps);
    if (controlsReady == 0)
        return; // the first paint draws everything after its set-up anyway
    fullRedraw = 1;
    restartCount = restartCount < 1 ? 2 : restartCount + 1;
}

void paint(HWND dialog)
{
    if (paintActive != 0) {
        nestedPaint(dialog);
        return;
    }
    paintActive = 1;
    acquireControlDc();
    if (controlsReady == 0 && firstPaint(dialog) != 0) {
        releaseControlDc();
        ValidateRect(dialog, nullptr);
        paintActive = 0;
        return;
    }
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    fullRedraw = 1;
    releaseControlDc();
    for (;;) {
        acquireControlDc();
        Win32Canvas canvas(controlDc, buttonDc);
        drawDialogControls(canvas, pads, *button, dialogRects, fullRedraw, dialogView);
        fullRedraw = 0;
        releaseControlDc();
        const ControlState controls = dialogControlState();
        int32_t result = previewRender(dialogContext, controls, previewImageArea, previewBuffers,
                                       previewProgress);
        // A change of display scale during the render: what it made belongs to the old scale,
        // and the whole dialog is drawn again at the new one.
        if ((result & 0xFFFF) == 0 || pendingDpi != 0)
            break;
    }
    acquireControlDc();
    if (pendingDpi == 0) {
        showPreview();
        drawLink();
        drawSwatch(controlDc, dialogRects.swatchRect, resolvedColor, displayScale);
    }
    EndPaint(dialog, &ps);
    releaseControlDc();
    restartCount = 0;
    paintActive = 0;
    applyPendingScale(dialog);
}

} // namespace

void launchHomePage()
{
    char name[1] = {'\0'};
    if (queryValue(HKEY_LOCAL_MACHINE, BrowserKey, name, textBuffer, TextBufferSize, ReadRequest) != 0)
        return;
    // A registered command too long to take the address is not started.
    if (browserCommandLine(textBuffer, TextBufferSize, HomePage) != 0)
        return;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, textBuffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

namespace {

// The selected entry's text, at most 19 characters, into textBuffer.
void selectedEntryText(HWND dialog)
{
    textBuffer[0] = '\0';
    SendDlgItemMessageA(dialog, IDC_PRESET_LIST, WM_GETTEXT, PresetNameLength + 1,
                        reinterpret_cast<LPARAM>(textBuffer));
}

// The preset list's CBN_SELCHANGE: the save entry runs the save dialog (save or delete), any other
// entry is applied.
void presetSelection(HWND dialog)
{
    previousSelection = currentSelection;
    currentSelection = static_cast<int32_t>(SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETCURSEL, 0, 0));
    if (currentSelection == CB_ERR) {
        currentSelection = previousSelection;
        return;
    }
    if (currentSelection == presetList.presetCount) {
        currentSelection = previousSelection;
        SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_SETCURSEL, currentSelection, 0);
        textBuffer[0] = '\0';
        DialogBoxParamA(static_cast<HINSTANCE>(moduleInstance), "SAVE", dialog, saveDialogProc, 0);
        undecorateName(textBuffer);
        // An empty name, or one of blanks only, saves and deletes nothing.
        if (textBuffer[0] == '\0')
            return;
        if (deleteRequested == 0) {
            copyName(presetList.currentPresetName, textBuffer, PresetNameLength);
            packParams(*dialogContext->block, dialogControlState(), 0);
            const long written = writeValue(textBuffer, dialogContext->block, ParamBlockSize);
            fillPresetList(dialog, IDC_PRESET_LIST, 0);
            decorateName(presetList.currentPresetName, CurrentNameSize);
            // The saved preset's own entry: a prefix search would stop at a longer name that
            // begins with this one.
            LRESULT found =
                SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_FINDSTRINGEXACT, WPARAM(-1),
                                    reinterpret_cast<LPARAM>(presetList.currentPresetName));
            if (found != CB_ERR)
                currentSelection = static_cast<int32_t>(found);
            // The list never rests on an empty selection; a save that failed says so.
            SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_SETCURSEL, currentSelection, 0);
            if (written != ERROR_SUCCESS || found == CB_ERR)
                MessageBoxA(dialog, SaveFailedText, "ERROR", MB_ICONHAND | MB_OK);
            return;
        }
        uint8_t unused[1];
        if (queryValue(presetMachineRoot(), PresetKey, textBuffer, unused, sizeof unused, DeleteRequest) != 0) {
            errorBox(static_cast<HINSTANCE>(moduleInstance), IDS_DELETE_FAILED, dialog, MB_ICONHAND | MB_OK);
            return;
        }
        fillPresetList(dialog, IDC_PRESET_LIST, 0);
        SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_SETCURSEL, 0, 0);
        currentSelection = 0;
    }
    applyPreset(currentSelection, *dialogContext);
    selectedEntryText(dialog);
    undecorateName(textBuffer);
    copyName(presetList.currentPresetName, textBuffer, PresetNameLength);
    postRepaint(dialog);
}

// A check box was clicked: its state becomes `state`; a change from what the dialog last acted on
// renders the preview again.
void readCheckBox(HWND dialog, int id, int32_t& state, int32_t& shown)
{
    state = IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0;
    if (state != shown) {
        shown = state;
        postRepaint(dialog);
    }
}

void command(HWND dialog, WPARAM wParam)
{
    // Nothing acts before the first paint has obtained the image and made the controls, nor while
    // the background popup or the host's colour picker is open over the dialog.
    if (controlsReady == 0 || backgroundChoiceOpen())
        return;
    switch (LOWORD(wParam)) {
    case IDC_APPLY:
        dialogResult = noErr;
        EndDialog(dialog, 0);
        break;
    case IDC_CANCEL:
        dialogResult = userCanceledErr;
        EndDialog(dialog, 0);
        break;
    case IDC_ANTIALIAS:
        readCheckBox(dialog, IDC_ANTIALIAS, antialias, antialiasShown);
        break;
    case IDC_PRESET_LIST:
        if (HIWORD(wParam) == CBN_SELCHANGE)
            presetSelection(dialog);
        break;
    case IDC_BACKGROUND:
        chooseBackground(dialog, dialogContext->record);
        // A change of display scale while the popup or the picker was open is made now.
        applyPendingScale(dialog);
        break;
    case IDC_STRETCH_DOUBLE:
        readCheckBox(dialog, IDC_STRETCH_DOUBLE, stretchDouble, stretchDoubleShown);
        break;
    default:
        break;
    }
}

} // namespace

void noteControlChange(HWND dialog)
{
    if (restartCount == 0)
        postRepaint(dialog);
    ++restartCount;
}

int errorBox(HINSTANCE instance, int id, HWND owner, UINT style)
{
    char text[PresetStringSize];
    if (LoadStringA(instance, id, text, PresetStringSize) <= 0)
        text[0] = '\0';
    return MessageBoxA(owner, text, "ERROR", style);
}

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    dialogWindow = dialog;
    if (controlsReady != 0 && !backgroundChoiceOpen() &&
        dispatchControlMouse(message, static_cast<uint32_t>(wParam),
                             static_cast<uint32_t>(lParam)) != 0)
        noteControlChange(dialog);
    if (stretchDouble != stretchDoubleShown && controlsReady != 0) {
        stretchDoubleShown = stretchDouble;
        CheckDlgButton(dialog, IDC_STRETCH_DOUBLE, stretchDouble ? BST_CHECKED : BST_UNCHECKED);
    }

    const uint32_t position = static_cast<uint32_t>(lParam);
    switch (LOWORD(message)) {
    case WM_INITDIALOG:
        startDialog(dialog, lParam);
        // Apply has the focus first, as the first tab stop had before the dialog's own controls
        // took part in the tab order: Return applies, Tab goes on to the cell width.
        SetFocus(GetDlgItem(dialog, IDC_APPLY));
        return FALSE;
    case WM_NCDESTROY:
        releaseFocusStops();
        // The children that used it are gone by now.
        if (templateFont != nullptr) {
            DeleteObject(templateFont);
            templateFont = nullptr;
        }
        return FALSE;
    case DpiChangedMessage:
        // A per-monitor aware host's dialog was moved to a display of another scale (or the
        // display's scale was changed): the dialog lays itself out again at the new DPI, at the
        // place the system suggests.
        changeDisplayScale(dialog, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
        return TRUE;
    case DpiScaledSizeMessage: {
        // The system asks what size the dialog will take at a coming DPI, so that the place it
        // suggests with WM_DPICHANGED fits it.
        SIZE* size = reinterpret_cast<SIZE*>(lParam);
        if (size == nullptr)
            return FALSE;
        *size = scaledWindowSize(dialog, MainDialogTemplate, displayScaleForDpi(LOWORD(wParam)));
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_PAINT:
        if (dialogContext == nullptr)
            return FALSE;
        paint(dialog);
        return TRUE;
    case WM_COMMAND:
        command(dialog, wParam);
        return TRUE;
    case WM_CAPTURECHANGED:
        // Another window took the mouse while a marker was held: the drag ends here, since its
        // button-up will not come to the dialog.
        if (reinterpret_cast<HWND>(lParam) != dialog)
            releaseControlGrabs();
        return FALSE;
    case WM_SETCURSOR:
        // Keeps the hand over the link between mouse moves instead of the class cursor.
        if (linkHover != 0 && LOWORD(lParam) == HTCLIENT) {
            SetCursor(handCursor);
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_MOUSEMOVE:
        if (controlsReady != 0 && mouseInRect(position, dialogRects.linkRect)) {
            SetCursor(handCursor);
            linkHover = 1;
        } else {
            SetCursor(arrowCursor);
            linkHover = 0;
        }
        return FALSE;
    case WM_LBUTTONDOWN:
        if (controlsReady == 0)
            return FALSE;
        if (mouseInRect(position, dialogRects.swatchRect))
            PostMessageA(GetDlgItem(dialog, IDC_BACKGROUND), BM_CLICK, 0, 0);
        if (linkHover != 0)
            launchHomePage();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace oryn
