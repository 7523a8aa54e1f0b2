// How long a drag step takes to reach the screen: the time from a mouse move that drags the
// cell-width pad to the end of the paint that shows the new preview (controls redrawn, the
// 300 x 300 preview rendered and copied to the window). A benchmark, not a test: it prints the
// median and spread of many steps on a 1600 x 1066 photo-like image.
//   DialogDragBench.exe [steps]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FakeHost.h"
#include "controls/ControlsStateWin32.h"
#include "controls/RunState.h"
#include "params/PresetStore.h"
#include "plugin/FinalRender.h"
#include "ui/MainDialogWin32.h"

using namespace oryn;

namespace {

const char ScratchKey[] = "Software\\Oryn 3D Drag Bench";

void pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

LPARAM at(int32_t x, int32_t y) { return LPARAM(uint32_t(x) | uint32_t(y) << 16); }

} // namespace

int main(int argc, char** argv)
{
    const int steps = argc > 1 ? std::atoi(argv[1]) : 200;
    moduleInstance = GetModuleHandleA(nullptr);
    HKEY root = nullptr;
    RegDeleteTreeA(HKEY_CURRENT_USER, ScratchKey);
    RegCreateKeyExA(HKEY_CURRENT_USER, ScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
    setPresetStoreRoots(root, root);

    FakeHost host(1600, 1066, 3, false, 0);
    for (int32_t y = 0; y < host.rows; ++y)
        for (int32_t x = 0; x < host.columns; ++x)
            for (int32_t p = 0; p < 3; ++p)
                host.in[(size_t(y) * host.columns + x) * 3 + p] = uint8_t((x * (p + 1) + y * (3 - p)) / 5);
    ParamBlock block = defaultParamBlock();
    ParamContext context{&block, &host.record};
    planesUsed = 3;
    const RunSetup setup = setupRun(host.record, block, resolvedColor);
    currentMode = setup.currentMode;
    pickerColor = setup.pickerColor;
    resolvedColor = setup.resolvedColor;
    imageScale = setup.imageScale;
    HWND dialog = CreateDialogParamA(static_cast<HINSTANCE>(moduleInstance), "SAMPLES", nullptr,
                                     mainDialogProc, reinterpret_cast<LPARAM>(&context));
    if (dialog == nullptr) {
        std::printf("cannot make the dialog (is there a display?)\n");
        return 1;
    }
    UpdateWindow(dialog);
    pump();

    // Grab the cell-width marker, then drag it one pixel right and left, step after step.
    XYPad& pad = *pads[1];
    const int32_t grabX = pad.left + pad.x + 3, y = pad.top + 3;
    SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, at(grabX, y));
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> ms;
    for (int i = 0; i < steps; ++i) {
        const int32_t x = grabX + 1 + (i % 20 < 10 ? i % 10 : 9 - i % 10) * 2;
        QueryPerformanceCounter(&start);
        SendMessageA(dialog, WM_MOUSEMOVE, MK_LBUTTON, at(x, y));
        pump(); // the posted paint: controls, render, copy to the window
        QueryPerformanceCounter(&end);
        ms.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    }
    SendMessageA(dialog, WM_LBUTTONUP, 0, at(grabX, y));
    DestroyWindow(dialog);
    setPresetStoreRoots(nullptr, nullptr);
    RegCloseKey(root);
    RegDeleteTreeA(HKEY_CURRENT_USER, ScratchKey);

    std::sort(ms.begin(), ms.end());
    auto quantile = [&](double q) { return ms[size_t(q * double(ms.size() - 1))]; };
    std::printf("drag step to new preview on screen, %d steps, 1600 x 1066 image:\n", steps);
    std::printf("  min %.2f ms, median %.2f ms, 90th percentile %.2f ms, max %.2f ms\n", ms.front(),
                quantile(0.5), quantile(0.9), ms.back());
    return 0;
}
