// The main dialog opened in a real window under Wine as the start selector opens it, on a
// substitute host, with the preset store redirected to a scratch key: the fixture the tests of
// the main dialog share.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FakeHost.h"
#include "Resource.h"
#include "controls/ControlsStateWin32.h"
#include "controls/RunState.h"
#include "params/PresetList.h"
#include "params/PresetStore.h"
#include "plugin/FinalRender.h"
#include "plugin/PluginState.h"
#include "ui/MainDialogWin32.h"

namespace oryn {

inline const char ScratchKey[] = "Software\\Oryn 3D Dialog Test";

// A photo-like test image: smooth gradients in every plane.
inline void paintImage(FakeHost& host)
{
    const int32_t planes = host.planes > 4 ? 4 : host.planes;
    for (int32_t y = 0; y < host.rows; ++y)
        for (int32_t x = 0; x < host.columns; ++x)
            for (int32_t p = 0; p < planes; ++p)
                host.in[(size_t(y) * host.columns + x) * planes + p] =
                    uint8_t((x * (p + 1) + y * (3 - p)) & 0xFF);
}

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        moduleInstance = GetModuleHandleA(nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, ScratchKey);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root, nullptr),
                  ERROR_SUCCESS);
        setPresetStoreRoots(root, root);
    }
    void TearDown() override
    {
        if (dialog != nullptr)
            DestroyWindow(dialog);
        setPresetStoreRoots(nullptr, nullptr);
        RegCloseKey(root);
        RegDeleteTreeA(HKEY_CURRENT_USER, ScratchKey);
    }

    // Opens the dialog as the start selector would, without waiting for its first paint.
    void open(FakeHost& host)
    {
        paintImage(host);
        context = ParamContext{&block, &host.record};
        block = defaultParamBlock();
        planesUsed = host.planes > 4 ? 4 : host.planes;
        const RunSetup setup = setupRun(host.record, block, resolvedColor);
        currentMode = setup.currentMode;
        pickerColor = setup.pickerColor;
        resolvedColor = setup.resolvedColor;
        imageScale = setup.imageScale;
        dialogResult = 12345;
        dialog = CreateDialogParamA(static_cast<HINSTANCE>(moduleInstance), "SAMPLES", nullptr, mainDialogProc,
                                    reinterpret_cast<LPARAM>(&context));
        ASSERT_NE(dialog, nullptr);
    }
    void openAndPaint(FakeHost& host)
    {
        open(host);
        UpdateWindow(dialog);
        pump();
        ASSERT_EQ(controlsReady, 1);
    }
    // Handles every pending message, posted paints included.
    void pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    // True when a paint was posted to the dialog (and takes it off the queue).
    bool paintPosted()
    {
        ValidateRect(dialog, nullptr);
        MSG msg;
        return PeekMessageA(&msg, dialog, WM_PAINT, WM_PAINT, PM_REMOVE) != 0;
    }
    void select(int index)
    {
        SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_SETCURSEL, index, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PRESET_LIST, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_PRESET_LIST)));
    }
    std::string entry(int index)
    {
        char text[64] = {};
        SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    bool stored(const char* name)
    {
        ParamBlock b;
        char n[PresetNameCapacity];
        std::strcpy(n, name);
        return queryParamBlock(ReadRequest, n, b) == 0;
    }

    HKEY root = nullptr;
    HWND dialog = nullptr;
    ParamBlock block{};
    ParamContext context{};
};

} // namespace oryn
