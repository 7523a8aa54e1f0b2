// The background choice: swatches, popup rows, the colour picker request and the answer rules.
#include "controls/BackgroundChoice.h"

#include <cstring>

#include "host/ColorWord.h"
#include "host/RunSetup.h"

namespace oryn {

namespace {

constexpr uint32_t White = rgb(255, 255, 255);
constexpr uint32_t Silver = rgb(192, 192, 192);

// The host's choose-colour selector and its RGB colour space.
constexpr int16_t plugIncolorServicesChooseColor = 0;
constexpr int16_t plugIncolorServicesRGBSpace = 0;

} // namespace

void drawSwatch(Canvas& dc, const Box& rect, uint32_t colour, DisplayScale scale)
{
    const bool transparent = (colour >> 24) == 0;
    const int32_t margin = scale.px(2);
    const int32_t square = scale.px(4);
    // Which square a coordinate lies in, counted from the client origin, also left of or above it.
    auto band = [square](int32_t v) { return (v >= 0 ? v / square : (v + 1) / square - 1) & 1; };
    for (int32_t px = rect.left + margin; px <= rect.right - 1 - margin; ++px) {
        for (int32_t py = rect.top + margin; py <= rect.bottom - 1 - margin; ++py) {
            if (!transparent) {
                dc.setPixel(px, py, colour & 0xFFFFFF);
                continue;
            }
            const bool a = band(px) == 0;
            const bool b = band(py) == 0;
            dc.setPixel(px, py, a != b ? White : Silver);
        }
    }
}

int32_t popupRowAt(const Box rows[4], uint32_t y)
{
    for (int32_t row = 0; row < 4; ++row)
        if (rows[row].bottom > static_cast<int32_t>(y))
            return row;
    return PopupBelowRows;
}

int16_t pickColour(FilterRecord* record, uint32_t& pickerColor)
{
    if (record == nullptr || record->colorServices == nullptr)
        return errPlugInHostInsufficient;
    ColorServicesInfo info;
    std::memset(&info, 0, sizeof info);
    info.infoSize = static_cast<int32_t>(sizeof info);
    info.selector = plugIncolorServicesChooseColor;
    info.sourceSpace = plugIncolorServicesRGBSpace;
    info.resultSpace = plugIncolorServicesRGBSpace;
    info.colorComponents[0] = static_cast<int16_t>(pickerColor & 0xFF);
    info.colorComponents[1] = static_cast<int16_t>(pickerColor >> 8 & 0xFF);
    info.colorComponents[2] = static_cast<int16_t>(pickerColor >> 16 & 0xFF);
    info.selectorParameter.pickerPrompt = nullptr;
    const OSErr result = record->colorServices(&info);
    if (result != noErr)
        return result;
    pickerColor = (pickerColor & 0xFF000000u) | (info.colorComponents[0] & 0xFFu) |
                  (info.colorComponents[1] & 0xFFu) << 8 | (info.colorComponents[2] & 0xFFu) << 16;
    return noErr;
}

int32_t applyBackgroundAnswer(int32_t answer, FilterRecord* record, BackgroundChoice& state)
{
    if (record == nullptr)
        return 0;
    if (answer == Transparent && state.planesUsed != 4)
        return 0;
    // A dismissal, and a click below the last row, which names no background at all.
    if (answer < Foreground || answer > Transparent)
        return 0;
    if (answer == Picker) {
        if (pickColour(record, state.pickerColor) == noErr)
            state.currentMode = Foreground; // a new colour is a change even when Picker was current
        else
            answer = state.currentMode;
    }
    if (answer == state.currentMode)
        return 0;
    state.resolvedColor = resolveBackgroundColor(answer, state.planesUsed, *record,
                                                 state.pickerColor, state.resolvedColor);
    state.currentMode = answer;
    return 1;
}

} // namespace oryn
