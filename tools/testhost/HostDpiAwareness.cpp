// The test host's DPI awareness, set before anything makes a window, as image editors declare it
// in their manifests. ORYN_HOST_DPI_AWARENESS picks it:
//   system (the default)  the host draws at the system DPI, as DPI-aware hosts do;
//   permonitor            per-monitor aware (version 2 where the system has it): a dialog gets
//                         its monitor's DPI and WM_DPICHANGED when that changes;
//   unaware               the system scales the host's windows as bitmaps, if it does so.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

typedef BOOL(WINAPI* SetAwarenessContext)(HANDLE);
typedef HRESULT(WINAPI* SetAwareness)(int);

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and PROCESS_PER_MONITOR_DPI_AWARE.
const HANDLE PerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
constexpr int ProcessPerMonitorAware = 2;

template <typename F> F userFunction(const char* module, const char* name)
{
    HMODULE handle = LoadLibraryA(module);
    return handle != nullptr
               ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name)))
               : nullptr;
}

void declareDpiAwareness()
{
    const char* wanted = std::getenv("ORYN_HOST_DPI_AWARENESS");
    if (wanted != nullptr && std::strcmp(wanted, "unaware") == 0)
        return;
    if (wanted != nullptr && std::strcmp(wanted, "permonitor") == 0) {
        auto context = userFunction<SetAwarenessContext>("user32.dll", "SetProcessDpiAwarenessContext");
        if (context != nullptr && context(PerMonitorAwareV2))
            return;
        auto process = userFunction<SetAwareness>("shcore.dll", "SetProcessDpiAwareness");
        if (process != nullptr && process(ProcessPerMonitorAware) == S_OK)
            return;
    }
    SetProcessDPIAware();
}

// Runs before main: no window exists yet.
const int declared = (declareDpiAwareness(), 0);

} // namespace
