// Window, pixel, screenshot and input helpers for the Wine tests of the controls.
#include "WindowTestSupport.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace oryn::test {

namespace {

const char WindowClass[] = "OrynControlsTestWindow";

std::string windowsPath(const std::string& path)
{
    // The build passes paths of the build machine; Wine maps its root as drive Z:.
    return !path.empty() && path[0] == '/' ? "Z:" + path : path;
}

} // namespace

HWND makeTestWindow(const char* title, int x, int y, int width, int height, WNDPROC procedure)
{
    WNDCLASSA windowClass{};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = WindowClass;
    RegisterClassA(&windowClass); // fails harmlessly once registered
    HWND window =
        CreateWindowExA(WS_EX_TOPMOST, WindowClass, title, WS_POPUP | WS_VISIBLE, x, y, width,
                        height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr)
        return nullptr;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    UpdateWindow(window);
    pump();
    return window;
}

void pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

namespace {

Pixels captureFrom(HDC source, int32_t left, int32_t top, int32_t width, int32_t height)
{
    Pixels pixels;
    pixels.width = width;
    pixels.height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, left, top, SRCCOPY);
    GdiFlush();
    pixels.values.resize(size_t(width) * size_t(height));
    const auto* quads = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < pixels.values.size(); ++i)
        pixels.values[i] = rgb(quads[4 * i + 2], quads[4 * i + 1], quads[4 * i]);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

} // namespace

Pixels capture(HWND window, const Box& box)
{
    HDC dc = GetDC(window);
    Pixels pixels = captureFrom(dc, box.left, box.top, box.right - box.left, box.bottom - box.top);
    ReleaseDC(window, dc);
    return pixels;
}

Pixels captureWindow(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    HDC dc = GetWindowDC(window);
    Pixels pixels = captureFrom(dc, 0, 0, rect.right - rect.left, rect.bottom - rect.top);
    ReleaseDC(window, dc);
    return pixels;
}

namespace {

BOOL CALLBACK noteUnpaintedChild(HWND child, LPARAM result)
{
    if (!GetUpdateRect(child, nullptr, FALSE))
        return TRUE;
    *reinterpret_cast<bool*>(result) = false;
    return FALSE;
}

} // namespace

bool fullyPainted(HWND window)
{
    if (GetUpdateRect(window, nullptr, FALSE))
        return false;
    bool painted = true;
    EnumChildWindows(window, noteUnpaintedChild, reinterpret_cast<LPARAM>(&painted));
    return painted;
}

std::string saveShot(const Pixels& pixels, const char* name)
{
    const std::string directory = ORYN_SHOT_DIR;
    CreateDirectoryA(windowsPath(directory).c_str(), nullptr);
    std::vector<uint8_t> rgbBytes(pixels.values.size() * 3);
    for (size_t i = 0; i < pixels.values.size(); ++i) {
        rgbBytes[3 * i] = uint8_t(pixels.values[i]);
        rgbBytes[3 * i + 1] = uint8_t(pixels.values[i] >> 8);
        rgbBytes[3 * i + 2] = uint8_t(pixels.values[i] >> 16);
    }
    const std::string path =
        directory + "/" + name + (sizeof(void*) == 4 ? "-win32" : "-win64") + ".png";
    stbi_write_png(windowsPath(path).c_str(), pixels.width, pixels.height, 3, rgbBytes.data(),
                   pixels.width * 3);
    return path;
}

HMODULE builtModule()
{
    static HMODULE module = LoadLibraryA(windowsPath(ORYN_MODULE_PATH).c_str());
    return module;
}

HFONT makeDialogFont()
{
    LOGFONTA font{};
    font.lfHeight = 13;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpyA(font.lfFaceName, "ms sans serif");
    return CreateFontIndirectA(&font);
}

void moveMouse(int x, int y)
{
    SetCursorPos(x, y);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

void click(int x, int y, bool right)
{
    moveMouse(x, y);
    INPUT inputs[2]{};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof inputs[0]);
}

void pressKey(WORD key, WORD modifier)
{
    std::vector<INPUT> inputs;
    auto add = [&](WORD k, DWORD flags) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = k;
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    if (modifier != 0)
        add(modifier, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (modifier != 0)
        add(modifier, KEYEVENTF_KEYUP);
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

} // namespace oryn::test
