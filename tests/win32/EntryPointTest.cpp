// The module's entry point under Wine: selector results, the replay flag, the record bytes each
// selector may touch, and the about box, both through the linked spine and the built .8bf.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "plugin/PluginMain.h"
#include "plugin/PluginState.h"

namespace {

constexpr int16_t Untouched = 0x7777;

// A record filled with a byte pattern, so that any byte a selector writes shows.
struct PatternedRecord {
    FilterRecord record;
    PatternedRecord()
    {
        auto* bytes = reinterpret_cast<unsigned char*>(&record);
        for (size_t i = 0; i < sizeof record; ++i)
            bytes[i] = static_cast<unsigned char>(i * 7 + 3);
        record.platformData = nullptr;
    }
};

std::string windowsPath(const char* path)
{
    // The build passes a path of the build machine; Wine maps its root as drive Z:.
    return path[0] == '/' ? std::string("Z:") + path : std::string(path);
}

class Module {
public:
    Module() : handle(LoadLibraryA(windowsPath(ORYN_MODULE_PATH).c_str()))
    {
        if (handle != nullptr)
            entry = reinterpret_cast<PluginEntryProc>(
                reinterpret_cast<void (*)()>(GetProcAddress(handle, "ENTRYPOINT")));
    }
    ~Module()
    {
        if (handle != nullptr)
            FreeLibrary(handle);
    }
    HMODULE handle;
    PluginEntryProc entry = nullptr;
};

int16_t call(PluginEntryProc entry, int16_t selector, void* record)
{
    int16_t result = Untouched;
    intptr_t data = 0;
    entry(selector, record, &data, &result);
    return result;
}

std::vector<unsigned char> bytesOf(const FilterRecord& record)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&record);
    return std::vector<unsigned char>(p, p + sizeof record);
}

void expectOnlyMaxSpaceChanged(PluginEntryProc entry)
{
    PatternedRecord patterned;
    FilterRecord before = patterned.record;
    EXPECT_EQ(call(entry, filterSelectorPrepare, &patterned.record), noErr);
    EXPECT_EQ(patterned.record.maxSpace, 256);
    before.maxSpace = 256;
    EXPECT_EQ(bytesOf(patterned.record), bytesOf(before));
}

void expectPassiveSelectors(PluginEntryProc entry)
{
    PatternedRecord patterned;
    const std::vector<unsigned char> before = bytesOf(patterned.record);
    for (int16_t selector : {int16_t(4), int16_t(5), int16_t(6), int16_t(7), int16_t(32767)})
        EXPECT_EQ(call(entry, selector, &patterned.record), noErr) << "selector " << selector;
    for (int16_t selector : {int16_t(-1), int16_t(-2), int16_t(-32768)})
        EXPECT_EQ(call(entry, selector, &patterned.record), Untouched) << "selector " << selector;
    EXPECT_EQ(bytesOf(patterned.record), before);
}

// A visible dialog of this process with the given caption (any caption when null). Other test
// programs may show boxes with the same caption at the same time; only ours count.
struct DialogSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK matchOwnDialog(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<DialogSearch*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64];
    char caption[256];
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
        GetClassNameA(window, className, sizeof className) == 0 ||
        lstrcmpA(className, "#32770") != 0)
        return TRUE;
    GetWindowTextA(window, caption, sizeof caption);
    if (search.caption != nullptr && lstrcmpA(caption, search.caption) != 0)
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND findOwnDialog(const char* caption)
{
    DialogSearch search{caption, nullptr};
    EnumWindows(matchOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK collectStaticText(HWND child, LPARAM texts)
{
    char className[64];
    char text[1024];
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
        reinterpret_cast<std::vector<std::string>*>(texts)->push_back(text);
    return TRUE;
}

// Watches for the about box from a second thread, reads it and dismisses it with OK.
struct AboutBoxWatcher {
    std::string caption;
    std::vector<std::string> texts;
    HWND owner = nullptr;
    std::atomic<bool> found{false};
    std::atomic<bool> callReturned{false};
    std::thread thread;

    void start()
    {
        thread = std::thread([this] {
            // Polls until the box shows, or until the call returned without showing one.
            while (!callReturned) {
                HWND box = findOwnDialog(oryn::AboutCaption);
                if (box != nullptr) {
                    read(box);
                    found = true;
                    PostMessageA(box, WM_COMMAND, IDOK, 0);
                    break;
                }
                Sleep(50);
            }
        });
    }

    void read(HWND box)
    {
        char buffer[1024];
        GetWindowTextA(box, buffer, sizeof buffer);
        caption = buffer;
        owner = GetWindow(box, GW_OWNER);
        EnumChildWindows(box, collectStaticText, reinterpret_cast<LPARAM>(&texts));
    }

    void join() { thread.join(); }
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
        if (end == std::string::npos)
            return result;
        start = end + 1;
    }
}

// Shows the about box through `entry`, with the given platformData, and checks what it showed.
void expectAboutBox(PluginEntryProc entry, PlatformData* platform, HWND expectedOwner)
{
    AboutRecord about;
    std::memset(&about, 0, sizeof about);
    about.platformData = platform;
    AboutBoxWatcher watcher;
    watcher.start();
    EXPECT_EQ(call(entry, filterSelectorAbout, &about), noErr);
    watcher.callReturned = true;
    watcher.join();
    ASSERT_TRUE(watcher.found) << "no about box appeared";
    EXPECT_EQ(watcher.caption, "                Oryn 3D v1.07");
    EXPECT_EQ(watcher.owner, expectedOwner);
    bool sawText = false;
    for (const std::string& text : watcher.texts) {
        std::vector<std::string> textLines = lines(text);
        if (textLines.size() >= 3) {
            sawText = true;
            EXPECT_EQ(textLines[0], "                          Oryn 3D");
            EXPECT_EQ(textLines[1], "3D-structurizing filter for Adobe Photoshop");
            EXPECT_FALSE(textLines[2].empty());
        }
    }
    EXPECT_TRUE(sawText) << "the box shows no three-line text";
}

HWND makeParentWindow()
{
    return CreateWindowExA(0, "STATIC", "Oryn test parent", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

} // namespace

// The linked spine: the replay flag is only visible from inside.
TEST(EntryPointSpine, ParametersSelectorClearsSilentReplayAndShowsNothing)
{
    EXPECT_EQ(oryn::silentReplay, 1) << "a freshly loaded module replays silently";
    PatternedRecord patterned;
    const std::vector<unsigned char> before = bytesOf(patterned.record);
    EXPECT_EQ(call(ENTRYPOINT, filterSelectorParameters, &patterned.record), noErr);
    EXPECT_EQ(oryn::silentReplay, 0);
    EXPECT_EQ(bytesOf(patterned.record), before) << "parameters writes nothing into the record";
    EXPECT_EQ(findOwnDialog(nullptr), nullptr) << "parameters shows no window";
    EXPECT_EQ(call(ENTRYPOINT, filterSelectorParameters, &patterned.record), noErr);
    EXPECT_EQ(oryn::silentReplay, 0) << "nothing sets the flag back";
}

TEST(EntryPointSpine, PrepareWritesOnlyMaxSpace) { expectOnlyMaxSpaceChanged(ENTRYPOINT); }

TEST(EntryPointSpine, PassiveAndNegativeSelectors) { expectPassiveSelectors(ENTRYPOINT); }

TEST(EntryPointSpine, ParentWindowComesFromTheRightRecord)
{
    PlatformData platform{reinterpret_cast<void*>(intptr_t(0x1234))};
    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    record.platformData = &platform;
    EXPECT_EQ(call(ENTRYPOINT, filterSelectorContinue, &record), noErr);
    EXPECT_EQ(oryn::parentWindow, platform.hwnd);
    EXPECT_EQ(oryn::currentRecord, &record);
    record.platformData = nullptr;
    EXPECT_EQ(call(ENTRYPOINT, filterSelectorFinish, &record), noErr);
    EXPECT_EQ(oryn::parentWindow, nullptr);
    EXPECT_EQ(call(ENTRYPOINT, filterSelectorFinish, nullptr), noErr);
    EXPECT_EQ(oryn::parentWindow, nullptr);
}

TEST(EntryPointSpine, StartWithoutRecordFailsCleanly)
{
    EXPECT_EQ(call(ENTRYPOINT, filterSelectorStart, nullptr), memFullErr);
}

TEST(EntryPointSpine, NullResultPointerIsNotWritten)
{
    intptr_t data = 0;
    FilterRecord record;
    std::memset(&record, 0, sizeof record);
    ENTRYPOINT(filterSelectorPrepare, &record, &data, nullptr);
    EXPECT_EQ(record.maxSpace, 256);
}

// The built module, loaded the way a host loads it.
TEST(EntryPointModule, ExportsEntryPointAndAnswersSelectors)
{
    Module module;
    ASSERT_NE(module.handle, nullptr) << "cannot load " << ORYN_MODULE_PATH;
    ASSERT_NE(module.entry, nullptr);
    expectOnlyMaxSpaceChanged(module.entry);
    expectPassiveSelectors(module.entry);
    PatternedRecord patterned;
    EXPECT_EQ(call(module.entry, filterSelectorParameters, &patterned.record), noErr);
}

TEST(EntryPointModule, AboutBoxWithoutParentWindow)
{
    Module module;
    ASSERT_NE(module.entry, nullptr);
    expectAboutBox(module.entry, nullptr, nullptr);
    PlatformData noWindow{nullptr};
    expectAboutBox(module.entry, &noWindow, nullptr);
}

TEST(EntryPointModule, AboutBoxOwnedByTheHostWindow)
{
    Module module;
    ASSERT_NE(module.entry, nullptr);
    HWND parent = makeParentWindow();
    ASSERT_NE(parent, nullptr) << "no display for windows";
    PlatformData platform{parent};
    expectAboutBox(module.entry, &platform, parent);
    DestroyWindow(parent);
}

namespace {

std::string versionString(const std::vector<char>& info, const char* name)
{
    std::string query = std::string("\\StringFileInfo\\040904e2\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), query.c_str(), &value, &length) || value == nullptr)
        return "<missing>";
    return std::string(static_cast<const char*>(value));
}

} // namespace

TEST(EntryPointModule, VersionResourceDescribesTheFilter)
{
    const std::string path = windowsPath(ORYN_MODULE_PATH);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    EXPECT_EQ(versionString(info, "FileDescription"), "Adobe Photoshop Filter");
    EXPECT_EQ(versionString(info, "FileVersion"), "1.07");
    EXPECT_EQ(versionString(info, "ProductVersion"), "1.07");
    EXPECT_EQ(versionString(info, "InternalName"), "Oryn 3D");
    EXPECT_EQ(versionString(info, "ProductName"), "Oryn 3D");
    const std::string original = versionString(info, "OriginalFilename");
    EXPECT_TRUE(original == "Oryn107.8bf" || original == "Oryn107-x64.8bf") << original;
    EXPECT_EQ(original, sizeof(void*) == 4 ? "Oryn107.8bf" : "Oryn107-x64.8bf");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 7u);
}

TEST(EntryPointModule, StringTableHoldsThePresetTexts)
{
    // The module's string table and the portable texts come from one header; this checks that
    // the resource compiler stored them byte for byte.
    HMODULE module = LoadLibraryExA(windowsPath(ORYN_MODULE_PATH).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const std::pair<int, const char*> strings[] = {
        {1, "#9"},
        {2, "Jalousie     #150 010 05 35 25 45 50 25 0"},
        {3, "Herring-Bone #012 030 10 99 25 25 00 50 6"},
        {4, "Orystone     #035 055 00 50 45 32 50 00 0"},
        {5, "Front Bricks #015 015 40 30 40 40 50 50 6"},
        {6, "Roof         #010 130 40 40 45 30 40 00 2"},
        {7, "Embossed Wrapper #030 010 50 100 25 25 25 25 2"},
        {8, "Jabot        #035 039 00 50 15 45 00 50 0"},
        {9, "Gutters     #030 060 50 99 25 40 45 45 5"},
        {10, "Cellulary    #010 010 10 55 15 35 05 05 1"},
        {11, "SAVE USER  PRESET #"},
        {40, "Unable to locate User Preset      "},
    };
    for (const auto& [id, text] : strings) {
        char buffer[60];
        int length = LoadStringA(module, UINT(id), buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, length > 0 ? length : 0), text) << "string " << id;
    }
    char buffer[60];
    EXPECT_EQ(LoadStringA(module, 12, buffer, sizeof buffer), 0) << "no other strings";
    FreeLibrary(module);
}
