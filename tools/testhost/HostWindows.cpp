// The parent window, the dialog closer and the window mapper of the test host.
#include "tools/testhost/HostWindows.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/testhost/HostSupport.h"

namespace oryn {

HWND parentWindow = nullptr;

HWND makeParentWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "OrynTestHostFrame";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "oryn-testhost",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                                  nullptr, nullptr, instance, nullptr);
    if (window != nullptr) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    return window;
}

namespace {

ORYN_CALLED_BACK BOOL CALLBACK collectStaticText(HWND child, LPARAM context)
{
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0) {
        char text[1024] = {};
        GetWindowTextA(child, text, sizeof text);
        auto* all = reinterpret_cast<std::string*>(context);
        if (text[0] != '\0')
            *all += std::string(all->empty() ? "" : "|") + text;
    }
    return TRUE;
}

// A visible dialog or message box of this process.
bool isOwnDialog(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    return process == GetCurrentProcessId() && IsWindowVisible(window) &&
           std::strcmp(className, "#32770") == 0;
}

ORYN_CALLED_BACK BOOL CALLBACK visitTopWindow(HWND window, LPARAM context)
{
    auto& closer = *reinterpret_cast<Closer*>(context);
    if (!isOwnDialog(window))
        return TRUE;

    DWORD now = GetTickCount();
    for (SeenWindow& seen : closer.seen) {
        if (seen.window != window)
            continue;
        if (now - seen.firstSeen < DWORD(closer.delayMs))
            return TRUE;
        if (!seen.reported) {
            char caption[512] = {};
            GetWindowTextA(window, caption, sizeof caption);
            std::string text;
            EnumChildWindows(window, collectStaticText, reinterpret_cast<LPARAM>(&text));
            HWND owner = GetWindow(window, GW_OWNER);
            const char* ownerText = owner == nullptr          ? "none"
                                    : owner == parentWindow ? "parent"
                                                            : "other";
            say("box %s owner %s text %s", quoted(caption).c_str(), ownerText,
                quoted(text).c_str());
            seen.reported = true;
        }
        DWORD_PTR answer = 0;
        UINT button = IDOK;
        if (SendMessageTimeoutA(window, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) &&
            HIWORD(answer) == DC_HASDEFID)
            button = LOWORD(answer);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, int(button))));
        seen.firstSeen = now; // press again after another delay if it is still there
        return TRUE;
    }
    closer.seen.push_back({window, now, false});
    return TRUE;
}

} // namespace

ORYN_CALLED_BACK DWORD WINAPI runCloser(void* context)
{
    auto& closer = *static_cast<Closer*>(context);
    while (WaitForSingleObject(closer.stop, 20) == WAIT_TIMEOUT)
        EnumWindows(visitTopWindow, reinterpret_cast<LPARAM>(&closer));
    return 0;
}

namespace {

void mapLine(FILE* file, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
}

ORYN_CALLED_BACK BOOL CALLBACK mapChild(HWND child, LPARAM context)
{
    FILE* file = reinterpret_cast<FILE*>(context);
    HWND dialog = GetAncestor(child, GA_ROOT);
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    const int id = GetDlgCtrlID(child);
    char text[256] = {};
    GetWindowTextA(child, text, sizeof text);
    mapLine(file, "control %d %s %ld %ld %ld %ld %s %s", id, className, long(rect.left),
            long(rect.top), long(rect.right), long(rect.bottom),
            IsWindowVisible(child) ? "visible" : "hidden", quoted(text).c_str());
    if (lstrcmpiA(className, "ComboBox") == 0) {
        LRESULT item = SendMessageA(child, CB_GETITEMHEIGHT, 0, 0);
        LRESULT count = SendMessageA(child, CB_GETCOUNT, 0, 0);
        mapLine(file, "combo %d itemheight %ld count %ld", id, long(item), long(count));
    }
    return TRUE;
}

ORYN_CALLED_BACK BOOL CALLBACK mapTopWindow(HWND window, LPARAM context)
{
    auto& mapper = *reinterpret_cast<Mapper*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    // The list a drop-down combo box shows while it is open: a window of its own.
    const bool dropList = process == GetCurrentProcessId() && IsWindowVisible(window) &&
                          lstrcmpiA(className, "ComboLBox") == 0;
    if (!dropList && !isOwnDialog(window))
        return TRUE;
    mapper.alive.push_back(window);
    for (HWND seen : mapper.mapped)
        if (seen == window)
            return TRUE;
    mapper.mapped.push_back(window);
    FILE* file = std::fopen(mapper.path.c_str(), "a");
    if (file == nullptr)
        return TRUE;
    if (dropList) {
        RECT rect;
        GetWindowRect(window, &rect);
        mapLine(file, "droplist %p screen %ld %ld %ld %ld", static_cast<void*>(window),
                long(rect.left), long(rect.top), long(rect.right), long(rect.bottom));
        std::fclose(file);
        return TRUE;
    }
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    RECT client;
    GetClientRect(window, &client);
    mapLine(file, "window %p caption %s client %ld %ld %ld %ld", static_cast<void*>(window),
            quoted(caption).c_str(), long(origin.x), long(origin.y), long(client.right),
            long(client.bottom));
    EnumChildWindows(window, mapChild, reinterpret_cast<LPARAM>(file));
    mapLine(file, "end");
    std::fclose(file);
    return TRUE;
}

// The enabled dialog of this process: the one a person would be using (a dialog is disabled while
// a modal dialog it owns is open).
ORYN_CALLED_BACK BOOL CALLBACK findActiveDialog(HWND window, LPARAM context)
{
    if (!isOwnDialog(window) || !IsWindowEnabled(window))
        return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}

// The number in a request file, which is then removed; 0 when there is none.
int32_t takeRequest(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return 0;
    int value = 0;
    if (std::fscanf(file, "%d", &value) != 1)
        value = 0;
    std::fclose(file);
    DeleteFileA(path.c_str());
    return value;
}

// Tells the active dialog that its display now has `dpi` dots per inch, as the system tells a
// per-monitor aware window moved to a display of another scale: WM_DPICHANGED with the DPI and
// the suggested window, which keeps its top-left corner and is scaled from the last DPI.
void sendDpiChange(Mapper& mapper, int32_t dpi)
{
    HWND dialog = nullptr;
    EnumWindows(findActiveDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr || dpi <= 0)
        return;
    if (mapper.dpi == 0) {
        HDC screen = GetDC(nullptr);
        mapper.dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    RECT window;
    GetWindowRect(dialog, &window);
    RECT suggested = {window.left, window.top,
                      window.left + MulDiv(window.right - window.left, dpi, mapper.dpi),
                      window.top + MulDiv(window.bottom - window.top, dpi, mapper.dpi)};
    constexpr UINT DpiChanged = 0x02E0; // WM_DPICHANGED
    SendMessageA(dialog, DpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    mapper.dpi = dpi;
}

} // namespace

ORYN_CALLED_BACK DWORD WINAPI runMapper(void* context)
{
    auto& mapper = *static_cast<Mapper*>(context);
    const std::string again = mapper.path + ".again";
    const std::string dpiRequest = mapper.path + ".dpi";
    while (WaitForSingleObject(mapper.stop, 20) == WAIT_TIMEOUT) {
        // A script asks for the windows as they are now (a list's count, a field's text).
        if (DeleteFileA(again.c_str()))
            mapper.mapped.clear();
        // A script asks for a change of display scale; the windows are written again after it.
        if (const int32_t dpi = takeRequest(dpiRequest); dpi != 0) {
            sendDpiChange(mapper, dpi);
            mapper.mapped.clear();
        }
        mapper.alive.clear();
        EnumWindows(mapTopWindow, reinterpret_cast<LPARAM>(&mapper));
        for (size_t i = 0; i < mapper.mapped.size();) {
            HWND window = mapper.mapped[i];
            bool present = false;
            for (HWND alive : mapper.alive)
                present = present || alive == window;
            if (present) {
                ++i;
                continue;
            }
            if (FILE* file = std::fopen(mapper.path.c_str(), "a")) {
                mapLine(file, "closed %p", static_cast<void*>(window));
                std::fclose(file);
            }
            mapper.mapped.erase(mapper.mapped.begin() + long(i));
        }
    }
    return 0;
}

} // namespace oryn
