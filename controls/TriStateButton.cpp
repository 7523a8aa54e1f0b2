// The G-Shading button: state cycling, its 17 x 17 hit square and painting from the picture strip.
#include "controls/TriStateButton.h"

#include "controls/PadKeys.h"

namespace oryn {

namespace {

constexpr uint32_t LeftButtonDown = 0x201;
// The top row and left column of the drawn cell.
constexpr uint32_t FrameGrey = rgb(224, 224, 224);

} // namespace

TriStateButton::TriStateButton(int32_t x, int32_t y, int32_t width, int32_t height,
                               DisplayScale scale)
    : x(x), y(y), width(width), height(height), state(0), scale(scale)
{
}

void TriStateButton::draw(Canvas& dc)
{
    const int32_t shownWidth = scale.px(width);
    const int32_t shownHeight = scale.px(height);
    if (state >= 0 && state < StripCells) {
        if (shownWidth == width && shownHeight == height)
            dc.copyFromStrip(x, y, width, height, width * state, 0);
        else
            dc.stretchFromStrip(x, y, shownWidth, shownHeight, width * state, 0, width, height);
    } else {
        // A stored record can carry a state the strip has no picture for (modeBits & 3 == 3):
        // show a plain face in the frame rather than whatever lies beside the strip.
        dc.fillFace(Box{x, y, x + shownWidth, y + shownHeight});
    }
    // The strip's one-pixel frame row covers the shown rows that an enlargement maps onto it.
    const int32_t rows = height > 0 ? (shownHeight + height - 1) / height : 1;
    const int32_t columns = width > 0 ? (shownWidth + width - 1) / width : 1;
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t i = 0; i < shownWidth; ++i)
            dc.setPixel(x + i, y + r, FrameGrey);
    for (int32_t c = 0; c < columns; ++c)
        for (int32_t i = 0; i < shownHeight; ++i)
            dc.setPixel(x + c, y + i, FrameGrey);
}

int32_t TriStateButton::handleMouse(uint32_t message, uint32_t /*keyState*/, uint32_t position)
{
    if ((message & 0xFFFF) != LeftButtonDown)
        return 0;
    const int32_t mx = static_cast<int32_t>(position & 0xFFFF);
    const int32_t my = static_cast<int32_t>(position >> 16);
    const int32_t last = scale.px(17) - 1;
    if (mx < x || mx > x + last || my < y || my > y + last)
        return 0;
    advance();
    return 1;
}

int32_t TriStateButton::handleKey(uint32_t key)
{
    if (key != KeySpace && key != KeyReturn)
        return 0;
    advance();
    return 1;
}

void TriStateButton::advance()
{
    ++state;
    if (state > 2)
        state = 0;
}

} // namespace oryn
