// Definitions of the controls' module-wide state, with their values at load.
#include "controls/ControlsState.h"

namespace oryn {

HWND dialogWindow = nullptr;
HDC controlDc = nullptr;
HFONT dialogFont = nullptr;
XYPad* pads[PadCount] = {};
TriStateButton* button = nullptr;
int32_t restartCount = 0;
int32_t popupResult = 0;
Box popupRows[4] = {};
FilterRecord* popupRecord = nullptr;

} // namespace oryn
