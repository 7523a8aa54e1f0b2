// The G-Shading button: its hit square, the state cycle, the messages it ignores, and its picture.
#include <gtest/gtest.h>

#include "controls/PadKeys.h"
#include "controls/RasterCanvas.h"
#include "controls/TriStateButton.h"

namespace oryn {
namespace {

constexpr uint32_t Face = 0xC0C0C0, Grey = 0xE0E0E0;

uint32_t at(int32_t x, int32_t y)
{
    return uint32_t(x) | uint32_t(y) << 16;
}

TEST(TriStateButtonTest, HitSquareIs17By17FromTheCorner)
{
    struct Case {
        int32_t x, y, result;
    } cases[] = {{40, 30, 1}, {56, 46, 1}, {56, 30, 1}, {40, 46, 1},
                 {57, 30, 0}, {40, 47, 0}, {39, 35, 0}, {45, 29, 0}};
    for (const Case& c : cases) {
        // The square does not follow width and height.
        TriStateButton button(40, 30, 30, 5);
        EXPECT_EQ(button.handleMouse(0x201, 0, at(c.x, c.y)), c.result) << c.x << "," << c.y;
        EXPECT_EQ(button.state, c.result);
    }
}

TEST(TriStateButtonTest, OnlyLeftButtonDownAdvancesAndTheCycleWraps)
{
    TriStateButton button(40, 30, 18, 18);
    for (uint32_t message : {0x200u, 0x202u, 0x203u, 0x204u, 0x205u, 0x207u})
        EXPECT_EQ(button.handleMouse(message, 1, at(45, 35)), 0) << message;
    EXPECT_EQ(button.state, 0);
    // Only the low 16 bits of the code count.
    const int expected[] = {1, 2, 0, 1};
    for (int s : expected) {
        EXPECT_EQ(button.handleMouse(0x10201, 1, at(45, 35)), 1);
        EXPECT_EQ(button.state, s);
    }
    // A double-click is down, up, double-click, up: one step, not two.
    button.state = 0;
    int32_t changes = 0;
    for (uint32_t message : {0x201u, 0x202u, 0x203u, 0x202u})
        changes += button.handleMouse(message, 1, at(45, 35));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(button.state, 1);
}

RasterCanvas canvasWithStrip()
{
    RasterCanvas dc(100, 60, Face);
    dc.stripWidth = 54;
    dc.stripHeight = 18;
    dc.strip.resize(54 * 18);
    for (int32_t y = 0; y < 18; ++y)
        for (int32_t x = 0; x < 54; ++x)
            dc.strip[size_t(y * 54 + x)] = uint32_t(x << 8 | y);
    return dc;
}

TEST(TriStateButtonTest, DrawCopiesTheStateCellWithALightGreyTopAndLeft)
{
    for (int32_t state = 0; state < 3; ++state) {
        RasterCanvas dc = canvasWithStrip();
        TriStateButton button(20, 10, 18, 18);
        button.state = state;
        button.draw(dc);
        for (int32_t y = 0; y < 18; ++y) {
            for (int32_t x = 0; x < 18; ++x) {
                const uint32_t want = x == 0 || y == 0 ? Grey : uint32_t((18 * state + x) << 8 | y);
                ASSERT_EQ(dc.pixel(20 + x, 10 + y), want) << state << ": " << x << "," << y;
            }
        }
        EXPECT_EQ(dc.pixel(38, 10), Face);
        EXPECT_EQ(dc.pixel(20, 28), Face);
    }
}

// A stored record with both face-mode bits set.
TEST(TriStateButtonTest, StateThreeShowsAPlainFaceAndTheNextClickGivesZero)
{
    RasterCanvas dc = canvasWithStrip();
    dc.pixels.assign(dc.pixels.size(), 0x123456);
    TriStateButton button(20, 10, 18, 18);
    button.state = 3;
    button.draw(dc);
    for (int32_t y = 0; y < 18; ++y)
        for (int32_t x = 0; x < 18; ++x)
            ASSERT_EQ(dc.pixel(20 + x, 10 + y), x == 0 || y == 0 ? Grey : Face) << x << "," << y;
    EXPECT_EQ(dc.pixel(38, 11), 0x123456u);
    EXPECT_EQ(button.handleMouse(0x201, 1, at(21, 11)), 1);
    EXPECT_EQ(button.state, 0);
}

TEST(TriStateButtonTest, SpaceAndReturnAdvanceAsAClickDoes)
{
    struct Case {
        uint32_t key;
        int32_t result;
    } const cases[] = {{KeySpace, 1},  {KeyReturn, 1}, {KeyEscape, 0}, {KeyLeft, 0},
                       {KeyDelete, 0}, {'1', 0},       {KeyDown, 0}};
    for (const Case& c : cases) {
        TriStateButton button(40, 30, 18, 18);
        EXPECT_EQ(button.handleKey(c.key), c.result) << c.key;
        EXPECT_EQ(button.state, c.result) << c.key;
    }
    TriStateButton button(40, 30, 18, 18);
    for (int expected : {1, 2, 0, 1})
        EXPECT_EQ((button.handleKey(KeySpace), button.state), expected);
    // A stored state without a picture goes to 0 as with a click.
    button.state = 3;
    EXPECT_EQ(button.handleKey(KeyReturn), 1);
    EXPECT_EQ(button.state, 0);
}

} // namespace
} // namespace oryn
