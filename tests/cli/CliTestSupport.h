// Shared by the oryn3d end-to-end tests: images made and read with libvips, the core called
// directly for comparison, and a fixture that runs the built tool in a private folder with a
// private preset store.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vips/vips.h>

#include "params/ParamBlock.h"

extern char** environ;

namespace oryn {

namespace fs = std::filesystem;

struct Pixels {
    int width = 0, height = 0, bands = 0;
    std::vector<uint8_t> data;
    bool operator==(const Pixels& o) const
    {
        return width == o.width && height == o.height && bands == o.bands && data == o.data;
    }
};

// A smooth, varied picture with some grain, so that every control changes the rendered bytes.
Pixels pattern(int width, int height, int bands);

struct ImageRef {
    VipsImage* image = nullptr;
    ~ImageRef()
    {
        if (image != nullptr)
            g_object_unref(image);
    }
};

// Writes pixels (8-bit, or 16-bit when `wide` holds the samples) with optional metadata.
void writeImage(const std::string& path, const Pixels& p,
                const std::function<void(VipsImage*)>& decorate = nullptr,
                const std::vector<uint16_t>* wide = nullptr);

// An 8-bit image file's pixels; empty when it cannot be read as 8-bit.
Pixels readImage(const std::string& path);

std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const void* bytes, size_t size);

// A 64-byte record file (a failed expectation when it has another size).
ParamBlock readBlock(const std::string& path);

constexpr uint32_t Black = 0xFF000000u;
constexpr uint32_t White = 0xFFFFFFFFu;

// The final render of `block` by the core called directly, with the host colours given.
Pixels directRender(const Pixels& image, ParamBlock block, const Pixels* mask = nullptr,
                    uint32_t fore = Black, uint32_t back = White);

// The dialog's preview for a record, as RGB.
Pixels directPreview(const Pixels& image, ParamBlock block);

struct ToolRun {
    int status = -1; // exit status, or 128 + the signal that ended the process
    std::string out, err;
    long maxRssKiB = 0; // the process's peak resident memory
};

// The tool under test: ORYN3D_PATH, or the program that $ORYN3D_UNDER_TEST names (to run the
// same tests against another build, for example the tool before a fix).
std::string toolPath();

int statusOf(int waitStatus);

// The argument vector for `program` and `args` (args gets the program name in front).
std::vector<char*> argvOf(const std::string& program, std::vector<std::string>& args);

// Each test gets a fresh folder; the tool's preset store lives in it too (XDG_CONFIG_HOME), so
// tests never see each other's presets or the user's.
class Oryn3dTest : public ::testing::Test {
protected:
    std::string root;   // holds the captured output streams, `dir` and `config`
    std::string dir;    // the folder the tool reads and writes
    std::string config; // XDG_CONFIG_HOME of the tool

    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Where the tool keeps its presets.
    std::string storePath() const { return config + "/oryn3d/presets.sqlite3"; }

    // The names in `dir`, sorted.
    std::vector<std::string> files() const;

    // Starts a program with stdout and stderr going to files of the test folder (or to the
    // files named by `streams`, for runs that overlap).
    pid_t start(const std::string& program, std::vector<std::string> args,
                const std::string& streams = "", const std::string& input = "");

    ToolRun finish(pid_t pid, const std::string& streams = "");

    ToolRun tool(const std::vector<std::string>& args) { return finish(start(toolPath(), args)); }

    // Runs the tool with standard input read from the file `input`.
    ToolRun toolWithInput(const std::vector<std::string>& args, const std::string& input)
    {
        return finish(start(toolPath(), args, "", input));
    }

    // Renders `input` with extra arguments into `output`, saving the record; expects success.
    ParamBlock renderOk(const std::string& input, const std::string& output,
                        std::vector<std::string> extra = {}, const char* command = "render");

    // A refused command: non-zero status, one line on stderr that mentions `subject`, and
    // nothing new in the folder.
    void expectRefused(const std::vector<std::string>& args, const std::string& subject);
};

} // namespace oryn
