// The controls painted into a real window under Wine and read back pixel by pixel, and the
// module's picture strip and hand cursor decoded from the built .8bf.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "WindowTestSupport.h"
#include "controls/ControlsStateWin32.h"
#include "controls/PreviewInput.h"
#include "controls/RasterCanvas.h"
#include "controls/TriStateButton.h"
#include "controls/Win32Canvas.h"
#include "controls/XYPad.h"
#include "resources/Resource.h"

namespace oryn {
namespace {

using test::Pixels;

constexpr uint32_t Black = rgb(0, 0, 0), White = rgb(255, 255, 255);
constexpr uint32_t Olive = rgb(128, 128, 0), Silver = rgb(192, 192, 192);

// The strip as its description gives it, written out independently of the picture file.
uint32_t describedStripPixel(int32_t x, int32_t y)
{
    const int32_t cell = x / 18, cx = x % 18;
    if (cx == 17 || y == 17)
        return Black;
    if (cx == 0 || y == 0)
        return White;
    const int32_t px = cx - 1, py = y - 1;
    const int32_t band = py / 4, column = px / 4;
    switch (cell) {
    case 0:
        return band % 2 == 0 ? Olive : Silver; // horizontal bands from the top
    case 1:
        return column % 2 == 0 ? Olive : Silver; // vertical bands from the left
    default:
        // 8 x 4 blocks: silver left and olive right in the top band, swapped in each next band.
        return (px < 8) == (band % 2 == 0) ? Silver : Olive;
    }
}

const uint32_t StandardPalette[16] = {
    rgb(0, 0, 0),       rgb(128, 0, 0),   rgb(0, 128, 0),   rgb(128, 128, 0),
    rgb(0, 0, 128),     rgb(128, 0, 128), rgb(0, 128, 128), rgb(192, 192, 192),
    rgb(128, 128, 128), rgb(255, 0, 0),   rgb(0, 255, 0),   rgb(255, 255, 0),
    rgb(0, 0, 255),     rgb(255, 0, 255), rgb(0, 255, 255), rgb(255, 255, 255)};

TEST(ControlsPaintTest, StripResourceIsA4BitBitmapThatMatchesItsDescription)
{
    HMODULE module = test::builtModule();
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDB_SHADING_STRIP), MAKEINTRESOURCEA(2));
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data);
    ASSERT_EQ(header->biWidth, 54);
    ASSERT_EQ(header->biHeight, 18);
    ASSERT_EQ(header->biBitCount, 4);
    ASSERT_EQ(header->biCompression, DWORD(BI_RGB));
    const auto* palette = reinterpret_cast<const RGBQUAD*>(data + header->biSize);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(rgb(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue),
                  StandardPalette[i])
            << i;
    // The stored pixels: bottom-up rows of 28 bytes, the left pixel in the high nibble.
    const uint8_t* rows = data + header->biSize + 16 * sizeof(RGBQUAD);
    for (int32_t y = 0; y < 18; ++y) {
        for (int32_t x = 0; x < 54; ++x) {
            const uint8_t byte = rows[(17 - y) * 28 + x / 2];
            const int index = x % 2 == 0 ? byte >> 4 : byte & 15;
            ASSERT_EQ(StandardPalette[index], describedStripPixel(x, y)) << x << "," << y;
        }
    }

    // And as the window system decodes it.
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(IDB_SHADING_STRIP));
    ASSERT_NE(bitmap, nullptr);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    for (int32_t y = 0; y < 18; ++y)
        for (int32_t x = 0; x < 54; ++x)
            ASSERT_EQ(GetPixel(memory, x, y), describedStripPixel(x, y)) << x << "," << y;
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
}

TEST(ControlsPaintTest, HandCursorHasItsHotSpotOnTheFingerTip)
{
    HCURSOR cursor = LoadCursorA(test::builtModule(), MAKEINTRESOURCEA(IDR_HAND_CURSOR));
    ASSERT_NE(cursor, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    // A monochrome cursor: one 32 x 64 mask, AND on top of XOR.
    ASSERT_EQ(info.hbmColor, nullptr);
    BITMAP mask{};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    ASSERT_EQ(mask.bmWidth, 32);
    ASSERT_EQ(mask.bmHeight, 64);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, info.hbmMask);
    auto opaque = [&](int x, int y) { return GetPixel(memory, x, y) == Black; };
    auto white = [&](int x, int y) { return GetPixel(memory, x, y + 32) == White; };
    int topRow = -1, opaqueCount = 0, whiteCount = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (!opaque(x, y))
                continue;
            if (topRow < 0)
                topRow = y;
            ++opaqueCount;
            whiteCount += white(x, y) ? 1 : 0;
        }
    }
    const int hx = int(info.xHotspot), hy = int(info.yHotspot);
    EXPECT_TRUE(opaque(hx, hy));
    EXPECT_FALSE(white(hx, hy));
    EXPECT_EQ(hy, topRow);
    // The tip: the hot spot's opaque neighbours lie below it, the finger continues downwards.
    EXPECT_TRUE(opaque(hx, hy + 4));
    EXPECT_GT(opaqueCount, 150);
    EXPECT_GT(whiteCount, 80);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmMask);

    // A picture of it, four times enlarged, on the face colour.
    HWND window = test::makeTestWindow("cursor", 700, 20, 32, 32);
    HDC dc = GetDC(window);
    DrawIconEx(dc, 0, 0, cursor, 32, 32, 0, nullptr, DI_NORMAL);
    ReleaseDC(window, dc);
    const Pixels shot = test::capture(window, Box{0, 0, 32, 32});
    Pixels large;
    large.width = large.height = 128;
    for (int32_t y = 0; y < 128; ++y)
        for (int32_t x = 0; x < 128; ++x)
            large.values.push_back(shot.at(x / 4, y / 4));
    test::saveShot(large, "hand-cursor");
    EXPECT_EQ(shot.at(hx, hy), Black);
    DestroyWindow(window);
}

// The window and contexts the main dialog would hand the controls.
struct Surface {
    HWND window = nullptr;
    HDC stripDc = nullptr;
    HBITMAP strip = nullptr;
    uint32_t face = GetSysColor(COLOR_BTNFACE);

    Surface(int x, int y, int width, int height)
    {
        window = test::makeTestWindow("controls", x, y, width, height);
        dialogWindow = window;
        if (dialogFont == nullptr)
            dialogFont = test::makeDialogFont();
        strip = LoadBitmapA(test::builtModule(), MAKEINTRESOURCEA(IDB_SHADING_STRIP));
        HDC dc = GetDC(window);
        stripDc = CreateCompatibleDC(dc);
        ReleaseDC(window, dc);
        SelectObject(stripDc, strip);
    }
    ~Surface()
    {
        DeleteDC(stripDc);
        DeleteObject(strip);
        DestroyWindow(window);
        dialogWindow = nullptr;
    }

    // A raster twin of the window: same face colour, the module's strip, the dialog font's text
    // extents.
    RasterCanvas raster(int32_t width, int32_t height) const
    {
        RasterCanvas canvas(width, height, face);
        canvas.stripWidth = 54;
        canvas.stripHeight = 18;
        for (int32_t y = 0; y < 18; ++y)
            for (int32_t x = 0; x < 54; ++x)
                canvas.strip.push_back(GetPixel(stripDc, x, y));
        HDC measuring = CreateCompatibleDC(stripDc);
        SelectObject(measuring, dialogFont);
        SIZE size{};
        GetTextExtentPoint32A(measuring, "0", 1, &size);
        canvas.textHeight = size.cy;
        canvas.measure = [measuring](const char* text, int count) {
            SIZE extent{};
            GetTextExtentPoint32A(measuring, text, count, &extent);
            return int32_t(extent.cx);
        };
        return canvas;
    }

    template <class Paint> void paint(Paint paintWith)
    {
        acquireControlDc();
        Win32Canvas canvas(controlDc, stripDc);
        paintWith(canvas);
        releaseControlDc();
    }
};

bool inside(const Box& b, int32_t x, int32_t y)
{
    return x >= b.left && x < b.right && y >= b.top && y < b.bottom;
}

// Compares the window with its raster twin everywhere but inside text boxes, whose glyphs only
// the window has; each text box with a visible character must show some glyph pixels.
void expectSameOutsideText(const Pixels& window, const RasterCanvas& raster)
{
    int mismatches = 0;
    for (int32_t y = 0; y < raster.height; ++y) {
        for (int32_t x = 0; x < raster.width; ++x) {
            bool inText = false;
            for (const auto& call : raster.texts)
                inText = inText || inside(call.box, x, y);
            if (inText || window.at(x, y) == raster.pixel(x, y))
                continue;
            if (++mismatches <= 10)
                ADD_FAILURE() << "pixel " << x << "," << y << ": window " << std::hex
                              << window.at(x, y) << ", expected " << raster.pixel(x, y);
        }
    }
    EXPECT_EQ(mismatches, 0);
    for (const auto& call : raster.texts) {
        if (call.text.find_first_not_of(' ') == std::string::npos)
            continue;
        int ink = 0;
        for (int32_t y = call.box.top; y < call.box.bottom; ++y)
            for (int32_t x = call.box.left; x < call.box.right; ++x)
                ink += window.at(x, y) != raster.face ? 1 : 0;
        EXPECT_GT(ink, 0) << "no glyphs for \"" << call.text << "\"";
    }
}

TEST(ControlsPaintTest, EveryLookOfThePadsAndTheButtonAsTheWindowShowsIt)
{
    constexpr int32_t Width = 640, Height = 400;
    Surface surface(20, 20, Width, Height);
    ASSERT_NE(surface.window, nullptr);

    // The main dialog's eight pads and its button, placed on a test layout.
    std::unique_ptr<XYPad> made[8] = {
        std::make_unique<XYPad>(20, 40, 0, 300, 0, 0, 13, 0, 0, 13, 0, "", 0x0F182219u),
        std::make_unique<XYPad>(40, 20, 300, 0, 0, 0, 13, 0, 0, 13, 0, "", 0x0F1A1804u),
        std::make_unique<XYPad>(420, 100, 50, 0, 8, 0, 16, 8, 0, 8, 5, "S-Bevel width", 0),
        std::make_unique<XYPad>(420, 150, 100, 0, 8, 0, 16, 8, 0, 8, 7, "S-Shading", 0),
        std::make_unique<XYPad>(420, 300, 50, 50, 0, 0, 8, 8, 0, 8, 0x10, "", 0),
        std::make_unique<XYPad>(520, 300, 50, 50, 0, 0, 8, 8, 0, 8, 0x10, "", 0),
        std::make_unique<XYPad>(420, 250, 100, 0, 8, 0, 16, 8, 0, 8, 5, "Light Boosting", 0),
        std::make_unique<XYPad>(420, 200, 100, 0, 8, 0, 16, 8, 0, 8, 5, "Brightness Ratio", 0),
    };
    const int32_t values[8][2] = {{0, 120}, {200, 0}, {17, 0},  {0, 0},
                                  {10, 40}, {25, 25}, {100, 0}, {5, 0}};
    for (int i = 0; i < 8; ++i) {
        made[i]->x = values[i][0];
        made[i]->y = values[i][1];
    }
    TriStateButton buttons[4] = {
        {420, 30, 18, 18}, {450, 30, 18, 18}, {480, 30, 18, 18}, {510, 30, 18, 18}};
    for (int i = 0; i < 4; ++i)
        buttons[i].state = i;

    RasterCanvas raster = surface.raster(Width, Height);
    auto paintAll = [&](Canvas& canvas) {
        for (auto& pad : made)
            pad->draw(canvas);
        for (auto& b : buttons)
            b.draw(canvas);
    };
    surface.paint(paintAll);
    paintAll(raster);
    const Pixels window = test::capture(surface.window, Box{0, 0, Width, Height});
    test::saveShot(window, "controls");
    expectSameOutsideText(window, raster);

    // Spot checks that do not lean on the raster twin.
    EXPECT_EQ(window.at(40 + 200, 20), Black);                        // pad 1 marker corner
    EXPECT_EQ(window.at(420 + 10 + 1, 300 + 40 + 1), rgb(255, 0, 0)); // sprite centre
    EXPECT_EQ(window.at(420 + 10, 300 + 40), surface.face);           // sprite's transparent corner
    EXPECT_EQ(window.at(420 + 50 + 8, 150 - 3), Black);               // centre tick of S-Shading
    EXPECT_EQ(window.at(420 + 100 + 8, 150 - 4), Black);              // right end tick of the ruler
    EXPECT_EQ(window.at(420 + 100 + 8, 150 - 5), surface.face);       // its last point is not drawn
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(window.at(buttons[i].x, buttons[i].y), rgb(224, 224, 224));
        EXPECT_EQ(window.at(buttons[i].x + 5, buttons[i].y + 2),
                  describedStripPixel(18 * i + 5, 2));
        EXPECT_EQ(window.at(buttons[i].x + 17, buttons[i].y + 5), Black);
    }
    EXPECT_EQ(window.at(buttons[3].x + 5, buttons[3].y + 5), surface.face);
}

TEST(ControlsPaintTest, ValueTextWipesALongerEarlierValue)
{
    Surface surface(20, 440, 300, 120);
    XYPad pad(100, 60, 100, 0, 8, 0, 16, 8, 0, 8, 5, "Light Boosting", 0);
    pad.x = 100;
    surface.paint([&](Canvas& c) { pad.draw(c); });
    surface.paint([&](Canvas& c) {
        pad.erase(c);
        pad.x = 5;
        pad.draw(c);
    });
    // The same value drawn once on a clean window.
    Surface clean(340, 440, 300, 120);
    XYPad fresh = pad;
    clean.paint([&](Canvas& c) { fresh.draw(c); });
    const Box textArea{60, 40, 140, 62};
    const Pixels redrawn = test::capture(surface.window, textArea);
    const Pixels once = test::capture(clean.window, textArea);
    test::saveShot(redrawn, "value-redrawn");
    for (int32_t y = 0; y < redrawn.height; ++y)
        for (int32_t x = 0; x < redrawn.width; ++x)
            ASSERT_EQ(redrawn.at(x, y), once.at(x, y)) << "pixel " << 60 + x << "," << 40 + y;
}

TEST(ControlsPaintTest, EraseTakesTheCompanionCaptionAlong)
{
    Surface surface(340, 600, 200, 120);
    XYPad pad(40, 10, 0, 300, 0, 0, 13, 0, 0, 13, 0, "", 0x0F182219u);
    pad.y = 50;
    surface.paint([&](Canvas& c) {
        pad.draw(c);
        // The owner's caption inside the companion box (origin + (-9, -18), 24 x 15).
        const Box box = pad.companionBox();
        c.text(box.left, box.top + 1, "050", 3);
    });
    const Box area{0, 0, 200, 120};
    const Pixels before = test::capture(surface.window, area);
    int ink = 0;
    for (uint32_t v : before.values)
        ink += v != surface.face ? 1 : 0;
    EXPECT_GT(ink, 20);
    surface.paint([&](Canvas& c) { pad.erase(c); });
    const Pixels after = test::capture(surface.window, area);
    for (int32_t y = 0; y < after.height; ++y)
        for (int32_t x = 0; x < after.width; ++x)
            ASSERT_EQ(after.at(x, y), surface.face) << x << "," << y;
}

} // namespace
} // namespace oryn
