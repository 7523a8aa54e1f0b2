// The background choice: swatch painting, the popup's row test, the host colour picker request
// and what each popup answer does to the background state.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "controls/BackgroundChoice.h"
#include "controls/RasterCanvas.h"
#include "host/ColorWord.h"

namespace oryn {
namespace {

constexpr uint32_t Face = 0xC0C0C0, Paint = 0x123456;

TEST(BackgroundChoiceTest, OpaqueSwatchLeavesATwoPixelMargin)
{
    RasterCanvas dc(64, 64, Face);
    dc.pixels.assign(dc.pixels.size(), Paint);
    const Box rect{10, 20, 31, 33};
    drawSwatch(dc, rect, 0xFF102030u);
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            const bool inside = x >= 12 && x <= 28 && y >= 22 && y <= 30;
            ASSERT_EQ(dc.pixel(x, y), inside ? 0x102030u : Paint) << x << "," << y;
        }
    }
}

TEST(BackgroundChoiceTest, CheckerboardIsAlignedToTheClientOrigin)
{
    // Rectangles at several offsets: the squares never follow the rectangle.
    for (const Box& rect : {Box{0, 0, 20, 20}, Box{5, 3, 40, 29}, Box{-6, -5, 9, 13}}) {
        RasterCanvas dc(64, 64, Face);
        drawSwatch(dc, rect, TransparentColor);
        for (int32_t y = rect.top + 2; y <= rect.bottom - 3; ++y) {
            for (int32_t x = rect.left + 2; x <= rect.right - 3; ++x) {
                if (x < 0 || y < 0)
                    continue;
                const int32_t squareX = x / 4, squareY = y / 4;
                const uint32_t want = (squareX + squareY) % 2 == 1 ? 0xFFFFFFu : 0xC0C0C0u;
                ASSERT_EQ(dc.pixel(x, y), want) << x << "," << y;
            }
        }
    }
}

TEST(BackgroundChoiceTest, RowsAreFoundByYAndTheGapBelongsToTheRowBelow)
{
    // Frames as the popup lays them out: gaps of one pixel between frames.
    const Box rows[4] = {{72, 2, 93, 23}, {72, 24, 93, 45}, {72, 45, 93, 66}, {72, 66, 93, 87}};
    struct Case {
        uint32_t y;
        int32_t row;
    } cases[] = {{0, 0},  {22, 0}, {23, 1}, {24, 1}, {44, 1},  {45, 2},
                 {65, 2}, {66, 3}, {86, 3}, {87, 4}, {400, 4}, {65535, 4}};
    for (const Case& c : cases)
        EXPECT_EQ(popupRowAt(rows, c.y), c.row) << c.y;
}

// A host whose colour picker answers with a fixed result and colour and keeps what it was sent.
struct PickerHost {
    static inline OSErr answer = noErr;
    static inline int16_t chosen[3] = {0, 0, 0};
    static inline std::vector<std::vector<uint8_t>> requests;

    static OSErr pick(ColorServicesInfo* info)
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(info);
        requests.emplace_back(bytes, bytes + info->infoSize);
        if (answer == noErr)
            for (int i = 0; i < 3; ++i)
                info->colorComponents[i] = chosen[i];
        return answer;
    }

    FilterRecord record{};
    PickerHost()
    {
        std::memset(&record, 0, sizeof record);
        const uint8_t fore[4] = {1, 2, 3, 0}, back[4] = {4, 5, 6, 0};
        std::memcpy(record.foreColor, fore, 4);
        std::memcpy(record.backColor, back, 4);
        record.colorServices = &pick;
        requests.clear();
    }
};

TEST(BackgroundChoiceTest, ColourPickerRequestAndAnswer)
{
    PickerHost host;
    PickerHost::answer = noErr;
    PickerHost::chosen[0] = 0x1A0;
    PickerHost::chosen[1] = 20;
    PickerHost::chosen[2] = 30;
    uint32_t picker = 0x7F332211u;
    EXPECT_EQ(pickColour(&host.record, picker), noErr);
    // Low bytes of the components, marker byte kept.
    EXPECT_EQ(picker, 0x7F1E14A0u);
    ASSERT_EQ(PickerHost::requests.size(), 1u);
    const std::vector<uint8_t>& sent = PickerHost::requests[0];
    ASSERT_EQ(sent.size(), sizeof(void*) == 4 ? 36u : 56u);
    ColorServicesInfo info;
    std::memcpy(&info, sent.data(), sizeof info);
    EXPECT_EQ(info.selector, 0);
    EXPECT_EQ(info.sourceSpace, 0);
    EXPECT_EQ(info.resultSpace, 0);
    EXPECT_EQ(info.colorComponents[0], 0x11);
    EXPECT_EQ(info.colorComponents[1], 0x22);
    EXPECT_EQ(info.colorComponents[2], 0x33);
    EXPECT_EQ(info.reservedSourceSpaceInfo, nullptr);
    EXPECT_EQ(info.reservedResultSpaceInfo, nullptr);
    EXPECT_EQ(info.reserved, nullptr);
    EXPECT_EQ(info.selectorParameter.pickerPrompt, nullptr);

    PickerHost::answer = userCanceledErr;
    picker = 0xFF010203u;
    EXPECT_EQ(pickColour(&host.record, picker), userCanceledErr);
    EXPECT_EQ(picker, 0xFF010203u);

    host.record.colorServices = nullptr;
    EXPECT_EQ(pickColour(&host.record, picker), errPlugInHostInsufficient);
    EXPECT_EQ(picker, 0xFF010203u);
}

TEST(BackgroundChoiceTest, AnswersChangeTheModeOnlyWhenTheyNameANewBackground)
{
    struct Case {
        const char* name;
        int32_t planes, mode, answer;
        OSErr pick;
        int32_t changed, newMode;
        uint32_t resolved, picker;
        size_t pickerCalls;
    } cases[] = {
        {"foreground", 3, 1, 0, noErr, 1, 0, 0xFF030201u, 0xFF0000AAu, 0},
        {"background", 4, 0, 1, noErr, 1, 1, 0xFF060504u, 0xFF0000AAu, 0},
        {"same mode", 3, 1, 1, noErr, 0, 1, 0x11111111u, 0xFF0000AAu, 0},
        {"transparent, 4 planes", 4, 0, 3, noErr, 1, 3, TransparentColor, 0xFF0000AAu, 0},
        {"transparent, 3 planes", 3, 0, 3, noErr, 0, 0, 0x11111111u, 0xFF0000AAu, 0},
        {"right click", 4, 0, 10, noErr, 0, 0, 0x11111111u, 0xFF0000AAu, 0},
        // Below the rows names no background, on any image.
        {"below rows, 4 planes", 4, 0, 4, noErr, 0, 0, 0x11111111u, 0xFF0000AAu, 0},
        {"below rows, 3 planes", 3, 1, 4, noErr, 0, 1, 0x11111111u, 0xFF0000AAu, 0},
        {"picker", 3, 0, 2, noErr, 1, 2, 0xFF302010u, 0xFF302010u, 1},
        {"picker again", 3, 2, 2, noErr, 1, 2, 0xFF302010u, 0xFF302010u, 1},
        {"picker cancelled", 3, 0, 2, userCanceledErr, 0, 0, 0x11111111u, 0xFF0000AAu, 1},
        {"picker error, current", 3, 2, 2, -1, 0, 2, 0x11111111u, 0xFF0000AAu, 1},
    };
    for (const Case& c : cases) {
        PickerHost host;
        PickerHost::answer = c.pick;
        PickerHost::chosen[0] = 0x10;
        PickerHost::chosen[1] = 0x20;
        PickerHost::chosen[2] = 0x30;
        BackgroundChoice state{c.planes, c.mode, 0xFF0000AAu, 0x11111111u};
        EXPECT_EQ(applyBackgroundAnswer(c.answer, &host.record, state), c.changed) << c.name;
        EXPECT_EQ(state.currentMode, c.newMode) << c.name;
        EXPECT_EQ(state.resolvedColor, c.resolved) << c.name;
        EXPECT_EQ(state.pickerColor, c.picker) << c.name;
        EXPECT_EQ(PickerHost::requests.size(), c.pickerCalls) << c.name;
    }
}

} // namespace
} // namespace oryn
