// The background popup's window side and the main dialog's handling of its answer.
#include "controls/BackgroundPopupWin32.h"

#include "controls/BackgroundChoice.h"
#include "controls/ControlsStateWin32.h"
#include "controls/RunState.h"
#include "controls/Win32Canvas.h"
#include "host/RunSetup.h"
#include "resources/Resource.h"

namespace oryn {

namespace {

const char PopupTemplate[] = "BACK";
constexpr int RowControls[4] = {IDC_BACK_FOREGROUND, IDC_BACK_BACKGROUND, IDC_BACK_PICKER,
                                IDC_BACK_TRANSPARENT};

void paintPopup(HWND window)
{
    for (int row = 0; row < 4; ++row)
        popupRows[row] = controlClientRect(window, RowControls[row]);
    HDC dc = GetDC(window);
    if (dc == nullptr)
        return;
    Win32Canvas canvas(dc);
    if (popupRecord != nullptr) {
        drawSwatch(canvas, popupRows[0], hostColorWord(popupRecord->foreColor), displayScale);
        drawSwatch(canvas, popupRows[1], hostColorWord(popupRecord->backColor), displayScale);
    }
    drawSwatch(canvas, popupRows[2], pickerColor | OpaqueMarker, displayScale);
    if (planesUsed > 3) {
        drawSwatch(canvas, popupRows[3], TransparentColor, displayScale);
    } else {
        // Transparent needs a fourth plane: the row shows an "x" instead of the checkerboard.
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        TextOutA(dc, popupRows[3].left + displayScale.px(6), popupRows[3].top + displayScale.px(2),
                 "x", 1);
    }
    ReleaseDC(window, dc);
}

} // namespace

Box controlClientRect(HWND dialog, int id)
{
    RECT rect{0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    POINT corners[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
    ScreenToClient(dialog, &corners[0]);
    ScreenToClient(dialog, &corners[1]);
    return Box{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

void drawSwatch(HDC dc, const Box& rect, uint32_t colour, DisplayScale scale)
{
    Win32Canvas canvas(dc);
    drawSwatch(static_cast<Canvas&>(canvas), rect, colour, scale);
}

INT_PTR CALLBACK backgroundPopupProc(HWND window, UINT message, WPARAM /*wParam*/, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        // The rows exist before the first paint, for a click that comes before it.
        for (int row = 0; row < 4; ++row)
            popupRows[row] = controlClientRect(window, RowControls[row]);
        break;
    case WM_PAINT:
        paintPopup(window);
        break;
    case WM_RBUTTONDOWN:
        popupResult = PopupDismissed;
        EndDialog(window, 0);
        break;
    case WM_LBUTTONDOWN:
        popupResult = popupRowAt(popupRows, static_cast<uint32_t>(lParam) >> 16 & 0xFFFF);
        EndDialog(window, 0);
        break;
    default:
        break;
    }
    return 0;
}

int32_t chooseBackground(HWND dialog, FilterRecord* record)
{
    if (planesUsed < 3)
        return 0;
    popupResult = currentMode;
    popupRecord = record;
    const INT_PTR ran = DialogBoxParamA(static_cast<HINSTANCE>(moduleInstance), PopupTemplate,
                                        dialog, backgroundPopupProc, 0);
    popupRecord = nullptr;
    // A popup that could not be made chose nothing; with Picker current, its unchanged answer
    // would otherwise open the host's picker unasked.
    if (ran == -1)
        return 0;

    BackgroundChoice state{planesUsed, currentMode, pickerColor, resolvedColor};
    const int32_t changed = applyBackgroundAnswer(popupResult, record, state);
    currentMode = state.currentMode;
    pickerColor = state.pickerColor;
    resolvedColor = state.resolvedColor;
    if (changed == 0)
        return 0;
    PostMessageA(dialog, WM_PAINT, 0, 10);
    return 1;
}

} // namespace oryn
