// oryn3d regressions: runs that must not replace their own files, output into
// pipes and devices, write failures, temporary files, dry runs, messages, and a preset store that
// is damaged or locked. Each case failed with the tool before the fix.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include "tests/cli/CliTestSupport.h"
#include "plugin/FinalRender.h"
#include "tools/oryn3d/ToolHost.h"

namespace oryn {
namespace {

size_t lines(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Runs a shell command line and returns what it wrote to its standard output: the tool's
// standard output is then a pipe, not a file.
std::string throughPipe(const std::string& command, int& status)
{
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    status = WEXITSTATUS(pclose(pipe));
    return out;
}

// Sets a file's modification time `seconds` into the past.
void age(const std::string& file, int seconds)
{
    struct timeval times[2];
    gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(utimes(file.c_str(), times), 0) << file;
}

// -o naming the input or the mask, however spelled, is refused before anything is written.
TEST_F(Oryn3dTest, RenderNeverReplacesItsOwnInputOrMask)
{
    fs::create_directory(path("a"));
    writeImage(path("a/x.jpg"), pattern(60, 40, 3));
    writeImage(path("mask.png"), Pixels{60, 40, 1, std::vector<uint8_t>(60 * 40, 200)});
    fs::create_symlink(path("a/x.jpg"), path("link.jpg"));
    const std::string photo = readBytes(path("a/x.jpg"));
    const std::string mask = readBytes(path("mask.png"));
    for (const std::string& out : {path("a/x.jpg"), dir + "/a/../a/x.jpg", path("link.jpg")}) {
        const ToolRun run = tool({"render", path("a/x.jpg"), "-o", out});
        EXPECT_EQ(run.status, 2) << out << run.err;
        EXPECT_EQ(lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("is the input"), std::string::npos) << run.err;
    }
    const ToolRun masked =
        tool({"render", path("a/x.jpg"), "-o", path("mask.png"), "--mask", path("mask.png")});
    EXPECT_EQ(masked.status, 2) << masked.err;
    EXPECT_NE(masked.err.find("is the mask"), std::string::npos) << masked.err;
    // A batch must not write over the mask either.
    fs::create_directory(path("b"));
    writeImage(path("b/m.png"), Pixels{60, 40, 1, std::vector<uint8_t>(60 * 40, 200)});
    writeImage(path("m.png"), pattern(60, 40, 3));
    writeImage(path("other.png"), pattern(60, 40, 3));
    const ToolRun batch =
        tool({"render", path("m.png"), path("other.png"), "-o", path("b"), "--mask", path("b/m.png")});
    EXPECT_EQ(batch.status, 2) << batch.err;
    EXPECT_NE(batch.err.find("mask"), std::string::npos) << batch.err;
    EXPECT_EQ(readBytes(path("a/x.jpg")), photo);
    EXPECT_EQ(readBytes(path("mask.png")), mask);
    EXPECT_FALSE(fs::exists(path("b/other.png")));
}

// Standard output as a pipe takes every format, TIFF included, and /dev/stdout and /dev/fd/N
// are written directly.
TEST_F(Oryn3dTest, EveryFormatAndDeviceGoesThroughAPipe)
{
    const Pixels image = pattern(90, 70, 3);
    writeImage(path("in.png"), image);
    const ParamBlock block = renderOk("in.png", "file.png");
    const Pixels expected = directRender(image, block);
    const std::string tool = "'" + toolPath() + "' render '" + path("in.png") + "' ";
    for (const char* format : {"tiff", "png", "webp"}) {
        int status = -1;
        const std::string out =
            throughPipe(tool + "-o - --no-remember --format " + format +
                        (std::string(format) == "webp" ? " --lossless" : ""),
                    status);
        EXPECT_EQ(status, 0) << format;
        const std::string file = path(std::string("piped.") + format);
        writeBytes(file, out.data(), out.size());
        EXPECT_EQ(readImage(file), expected) << format;
    }
    int status = -1;
    const std::string viaDevice = throughPipe(tool + "-o /dev/stdout --format png", status);
    EXPECT_EQ(status, 0);
    writeBytes(path("device.png"), viaDevice.data(), viaDevice.size());
    EXPECT_EQ(readImage(path("device.png")), expected);
    const std::string record =
        throughPipe(tool + "-o '" + path("o.png") + "' --save-block /dev/stdout", status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(record.size(), 64u);
    EXPECT_EQ(std::memcmp(record.data(), &block, 64), 0);
    const std::string viaFd =
        throughPipe(tool + "-o '" + path("p.png") + "' --save-block /dev/fd/3 3>&1 >/dev/null",
                    status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(viaFd.size(), 64u);
}

// A write that fails names the file the user gave and the system's reason, not a temporary name.
TEST_F(Oryn3dTest, WriteFailureNamesTheFileAndTheReason)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    for (const char* format : {"png", "tiff"}) {
        const ToolRun run = tool({"render", path("in.png"), "-o", "/dev/full", "--format", format});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("/dev/full"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(std::strerror(ENOSPC)), std::string::npos) << run.err;
    }
}

// Every name the file system takes works, however little room it leaves for the temporary one.
TEST_F(Oryn3dTest, LongOutputNamesWork)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    for (size_t length : {248u, 251u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".png";
        const ToolRun run = tool({"render", path("in.png"), "-o", path(name), "--save-block",
                                  path(std::string(length - 5, 'b') + ".oryn")});
        EXPECT_EQ(run.status, 0) << length << run.err;
        EXPECT_TRUE(fs::exists(path(name))) << length;
        EXPECT_EQ(files().size(), 3u) << length;
        fs::remove(path(name));
        fs::remove(path(std::string(length - 5, 'b') + ".oryn"));
    }
    const std::string utf8 = std::string(120, 'a') + "\xc3\xa9" + std::string(129, 'b') + ".png";
    ASSERT_EQ(utf8.size(), 255u);
    EXPECT_EQ(tool({"render", path("in.png"), "-o", path(utf8)}).status, 0);
    EXPECT_TRUE(fs::exists(path(utf8)));
}

// A run killed with SIGKILL leaves its temporary file; the next run into that folder removes
// it, but not one a live run holds, nor a file that only looks similar.
TEST_F(Oryn3dTest, TemporaryFilesOfKilledRunsAreRemoved)
{
    writeImage(path("big.png"), pattern(3000, 2000, 3));
    writeImage(path("in.png"), pattern(60, 40, 3));
    const pid_t pid = start(toolPath(), {"render", path("big.png"), "-o", path("out.png")});
    std::string stale;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (stale.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : files())
            if (name.rfind(".out.png.", 0) == 0)
                stale = name;
        if (stale.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(stale.empty());
    kill(pid, SIGKILL);
    EXPECT_EQ(finish(pid).status, 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(path(stale)));
    age(path(stale), 60);

    // One that a live run holds locked, and a user's file of a similar name.
    const std::string held = ".held.png.oryn3d-Ab12Cd";
    writeBytes(path(held), "x", 1);
    age(path(held), 60);
    const int fd = open(path(held).c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    writeBytes(path(".notes.txt.Ab12Cd"), "keep", 4);
    age(path(".notes.txt.Ab12Cd"), 60);

    EXPECT_EQ(tool({"render", path("in.png"), "-o", path("small.png")}).status, 0);
    EXPECT_FALSE(fs::exists(path(stale)));
    EXPECT_TRUE(fs::exists(path(held)));
    EXPECT_TRUE(fs::exists(path(".notes.txt.Ab12Cd")));
    close(fd);
}

// A dry run fails where the run would, with the same status.
TEST_F(Oryn3dTest, DryRunFailsWhereTheRunWould)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    for (bool dry : {false, true}) {
        std::vector<std::string> extra = dry ? std::vector<std::string>{"--dry-run"}
                                             : std::vector<std::string>{};
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.end(), extra.begin(), extra.end());
            return tool(args);
        };
        const ToolRun transparent =
            with({"render", path("in.png"), "-o", path("o.jpg"), "--background", "transparent"});
        EXPECT_EQ(transparent.status, 2) << dry << transparent.err;
        EXPECT_NE(transparent.err.find("JPEG"), std::string::npos) << transparent.err;
        const ToolRun missing = with({"render", path("none.png"), "-o", path("o.png")});
        EXPECT_EQ(missing.status, 1) << dry << missing.err;
        EXPECT_NE(missing.err.find("none.png"), std::string::npos) << missing.err;
        const ToolRun mask =
            with({"render", path("in.png"), "-o", path("o.png"), "--mask", path("none.png")});
        EXPECT_EQ(mask.status, 1) << dry << mask.err;
    }
    EXPECT_EQ(files(), std::vector<std::string>{"in.png"});
}

// Mistakes get a message that says what is wrong; names are shown so that they cannot break the
// line.
TEST_F(Oryn3dTest, CommonMistakesGetAMessageThatFits)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    writeImage(path("b.png"), pattern(60, 40, 3));
    fs::create_directory(path("out"));
    expectRefused({"render", path("in.png"), dir + "/./in.png", "-o", path("out")}, "given twice");
    expectRefused({"render", path("in.png"), path("b.png"), "-o", path("two.png")},
                  "need a folder");
    expectRefused({"render", path("in.png"), "-o", path(".png")}, "-o - --format png");

    const ToolRun mislabelled =
        tool({"render", path("in.png"), "-o", path("x.jpg"), "--format", "png"});
    EXPECT_EQ(mislabelled.status, 0);
    EXPECT_EQ(lines(mislabelled.err), 1u) << mislabelled.err;
    EXPECT_NE(mislabelled.err.find("warning"), std::string::npos) << mislabelled.err;
    EXPECT_EQ(readBytes(path("x.jpg")).substr(1, 3), "PNG");

    const std::string odd = path("bad\nname\033[2J.png");
    const ToolRun quoted = tool({"render", odd, "-o", path("y.png")});
    EXPECT_EQ(quoted.status, 1);
    EXPECT_EQ(lines(quoted.err), 1u) << quoted.err;
    EXPECT_EQ(quoted.err.find('\033'), std::string::npos) << quoted.err;
    EXPECT_NE(quoted.err.find("$'\\n'"), std::string::npos) << quoted.err;
}

// Settings that would change nothing are said to, and a thread count that is not one is refused.
TEST_F(Oryn3dTest, SettingsThatDoNothingAreNotSilent)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    const struct {
        std::vector<std::string> args;
        const char* option;
    } cases[] = {
        {{"-o", path("a.png"), "--quality", "50"}, "--quality"},
        {{"-o", path("a.jpg"), "--lossless"}, "--lossless"},
        {{"-o", path("a.jpg"), "--png-level", "9"}, "--png-level"},
        {{"-o", path("a.png"), "--compression", "zstd"}, "--compression"},
        {{"-o", path("a.tif"), "--quality", "50"}, "--quality"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"render", path("in.png")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = tool(args);
        EXPECT_EQ(run.status, 0) << c.option;
        EXPECT_EQ(lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find(std::string("warning: ") + c.option), std::string::npos) << run.err;
    }
    const ToolRun used = tool({"render", path("in.png"), "-o", path("b.tif"), "--compression",
                               "jpeg", "--quality", "60"});
    EXPECT_EQ(used.err, "");
    for (const char* value : {"abc", "-3", "2x"}) {
        setenv("ORYN_THREADS", value, 1);
        const ToolRun run = tool({"render", path("in.png"), "-o", path("c.png")});
        EXPECT_EQ(run.status, 2) << value;
        EXPECT_NE(run.err.find("ORYN_THREADS"), std::string::npos) << run.err;
        EXPECT_EQ(tool({"render", path("in.png"), "-o", path("c.png"), "--threads", "1"}).status,
                  0);
    }
    unsetenv("ORYN_THREADS");
}

// A many-page file gives its first page, with a note.
TEST_F(Oryn3dTest, ExtraFramesAreReported)
{
    // Three pages of 40 x 30, stacked as libvips keeps them.
    writeImage(path("pages.tif"), pattern(40, 90, 3),
               [](VipsImage* im) { vips_image_set_int(im, VIPS_META_PAGE_HEIGHT, 30); });
    const ToolRun run = tool({"render", path("pages.tif"), "-o", path("out.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("3 frames or pages"), std::string::npos) << run.err;
    EXPECT_EQ(readImage(path("out.png")).height, 30);
}

// Damage the quick check misses (the name index out of step with the table, a file cut short),
// an empty file and an empty database are refused, and left as they are.
TEST_F(Oryn3dTest, DamagedStoreIsNeverWrittenInto)
{
    ASSERT_EQ(tool({"presets", "save", "Mine"}).status, 0);
    ASSERT_EQ(tool({"presets", "save", "Other"}).status, 0);
    const std::string good = readBytes(storePath());

    // The index entry for "Mine" spelled "Mind": every page is well formed.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE type = 'index'",
                                 -1, &s, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    const int indexPage = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    std::string damaged = good;
    const size_t page = size_t(indexPage - 1) * 4096;
    const size_t at = damaged.find("Mine", page);
    ASSERT_NE(at, std::string::npos);
    ASSERT_LT(at, page + 4096);
    damaged[at + 3] = 'd';

    const std::string cut = good.substr(0, good.size() - 1);
    // A database with nothing in it, as another program leaves one: never ours, as a store is
    // complete from the moment it has its name.
    const std::string other = root + "/other.sqlite3";
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x); DROP TABLE t;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string emptyDatabase = readBytes(other);
    ASSERT_GT(emptyDatabase.size(), 0u);
    for (const std::string& bytes : {damaged, cut, std::string(), emptyDatabase}) {
        writeBytes(storePath(), bytes.data(), bytes.size());
        const ToolRun show = tool({"presets", "show", "Mine"});
        EXPECT_EQ(show.status, 1) << show.err;
        EXPECT_EQ(show.err.find("did you mean"), std::string::npos) << show.err;
        const ToolRun save = tool({"presets", "save", "Mine"});
        EXPECT_EQ(save.status, 1) << save.err;
        EXPECT_NE(save.err.find("left as it is"), std::string::npos) << save.err;
        EXPECT_EQ(readBytes(storePath()), bytes);
    }
}

// Ctrl-C while a preset command waits for a locked store, or a render waits on standard input,
// stops the run at once with 130.
TEST_F(Oryn3dTest, CtrlCStopsAWait)
{
    ASSERT_EQ(tool({"presets", "save", "Kept"}).status, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"presets", "list"}, {"presets", "save", "New"}}) {
        const pid_t pid = start(toolPath(), command);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGINT);
        const ToolRun run = finish(pid);
        EXPECT_EQ(run.status, 130) << command[1] << run.err;
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const ToolRun listed = tool({"presets", "list"});
    EXPECT_EQ(listed.out.find("New"), std::string::npos) << listed.out;

    // Standard input is a pipe whose writer stays open: the tool waits for data.
    const std::string fifo = root + "/input";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int writer = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    const pid_t pid = start(toolPath(), {"render", "-", "-o", path("out.png")}, "", fifo);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    // A tool that ignored the signal would wait for ever: the writer closes after a while.
    siginfo_t info{};
    for (int i = 0; i < 2000 && info.si_pid == 0; ++i) {
        waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (info.si_pid == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(writer);
    const ToolRun run = finish(pid);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(files().empty());
}

// Names that could not be picked back, or that would pass for the reserved one, are refused.
TEST_F(Oryn3dTest, PresetNamesThatCannotBePickedBackAreRefused)
{
    for (const char* name : {">>x", " Last Used  ", "a\xc2\x85" "b", "a\xe2\x80\xa8" "b",
                             "a\xe2\x80\xae" "b", "a\xe2\x81\xa6" "b"}) {
        const ToolRun run = tool({"presets", "save", name});
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(lines(run.err), 1u) << run.err;
    }
    EXPECT_FALSE(fs::exists(storePath()));
    // Blanks go at both ends, so the name is found as typed.
    ASSERT_EQ(tool({"presets", "save", "  Mine ", "--bevel", "9"}).status, 0);
    EXPECT_EQ(tool({"presets", "list"}).out.rfind("user    Mine\n", 0), 0u);
    EXPECT_EQ(tool({"presets", "show", " mine"}).status, 0);
}

// The completions offer what each place takes: preset names in any case (with the '>' a hidden
// user preset needs), the three shells, and nothing for a number.
TEST_F(Oryn3dTest, CompletionsOfferWhatEachPlaceTakes)
{
    ASSERT_EQ(tool({"presets", "save", "roof"}).status, 0);
    ASSERT_EQ(tool({"presets", "save", "Front Mine"}).status, 0);
    const std::string script = tool({"--completion", "bash"}).out;
    writeBytes(path("completion.bash"), script.data(), script.size());
    const std::string folder = fs::path(toolPath()).parent_path().string();
    auto complete = [&](const std::string& words) {
        int status = -1;
        const std::string out = throughPipe(
            "cd '" + dir + "' && PATH='" + folder + "':$PATH bash -c 'source completion.bash; " +
                "COMP_WORDS=(" + words + "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); _oryn3d; " +
                "printf \"%s|\" \"${COMPREPLY[@]}\"'",
            status);
        EXPECT_EQ(status, 0) << words;
        return out;
    };
    EXPECT_EQ(complete("oryn3d presets show fr"), "Front Bricks|Front Mine|");
    EXPECT_EQ(complete("oryn3d presets delete \">\""), ">roof|");
    EXPECT_EQ(complete("oryn3d render x --preset JAL"), "Jalousie|");
    EXPECT_EQ(complete("oryn3d --completion \"\""), "bash|zsh|fish|");
    EXPECT_EQ(complete("oryn3d render x --quality \"\""), "|");
    EXPECT_EQ(complete("oryn3d render x --threads \"\""), "|");
    EXPECT_EQ(complete("oryn3d render x --mask compl"), "completion.bash|");
    const std::string fish = tool({"--completion", "fish"}).out;
    EXPECT_NE(fish.find("-l preset -x -a '(__oryn3d_presets)'"), std::string::npos);
    EXPECT_NE(fish.find("-l quality -x -d"), std::string::npos);
    EXPECT_NE(fish.find("-l completion -x -a 'bash zsh fish'"), std::string::npos);
}

// presets rename keeps the place and the record; a name taken, a sample and "Last Used" are
// refused.
TEST_F(Oryn3dTest, PresetsRenameKeepsThePlaceAndTheRecord)
{
    ASSERT_EQ(tool({"presets", "save", "First", "--bevel", "11"}).status, 0);
    ASSERT_EQ(tool({"presets", "save", "Second"}).status, 0);
    const std::string record = tool({"presets", "export", "First", "-"}).out;
    ASSERT_EQ(record.size(), 64u);
    EXPECT_EQ(tool({"presets", "rename", "first", "Renamed"}).status, 0);
    EXPECT_EQ(tool({"presets", "list"}).out.rfind("user    Renamed\nuser    Second\n", 0), 0u);
    EXPECT_EQ(tool({"presets", "export", "Renamed", "-"}).out, record);
    EXPECT_EQ(tool({"presets", "rename", "Renamed", "RENAMED"}).status, 0);
    const std::string before = readBytes(storePath());
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"Second", "renamed"}, {"Roof", "X"}, {"Second", "Last Used"},
          {"Missing", "X"}}) {
        const ToolRun run = tool({"presets", "rename", refused[0], refused[1]});
        EXPECT_EQ(run.status, 2) << refused[0] << run.err;
        EXPECT_EQ(lines(run.err), 1u) << run.err;
    }
    EXPECT_EQ(readBytes(storePath()), before);
}

// JSON for scripts: the list with what --preset takes, the dry run with the encoder settings and
// pads as pairs of numbers.
TEST_F(Oryn3dTest, JsonListAndDryRunSettings)
{
    ASSERT_EQ(tool({"presets", "save", "roof"}).status, 0);
    const ToolRun list = tool({"presets", "list", "--json"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind("[\n  {\"kind\": \"user\", \"name\": \"roof\", \"preset\": \">roof\"},\n"
                             "  {\"kind\": \"sample\", \"name\": \"Jalousie\"",
                             0),
              0u)
        << list.out;
    EXPECT_EQ(list.out.substr(list.out.size() - 4), "}\n]\n");
    writeImage(path("in.png"), pattern(60, 40, 3));
    const ToolRun dry = tool({"render", path("in.png"), "-o", path("o.tif"), "--compression",
                              "jpeg", "--quality", "70", "--light", "45,32", "--dry-run", "--json"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("\"format\": \"tiff\", \"compression\": \"jpeg\", \"quality\": 70}"),
              std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("\"light\": [45, 32]"), std::string::npos) << dry.out;
    const ToolRun png = tool({"render", path("in.png"), "-o", path("o.png"), "--dry-run", "--json"});
    EXPECT_NE(png.out.find("\"format\": \"png\", \"png-level\": 6}"), std::string::npos) << png.out;
}

// An image with alpha written as JPEG is flattened onto the background colour instead of being
// refused.
TEST_F(Oryn3dTest, AlphaIsFlattenedForJpeg)
{
    Pixels rgba = pattern(90, 60, 4);
    for (size_t i = 3; i < rgba.data.size(); i += 4)
        rgba.data[i] = uint8_t(i % 7 == 0 ? 0 : i % 3 == 0 ? 128 : 255);
    writeImage(path("rgba.png"), rgba);
    const ParamBlock block = renderOk("rgba.png", "flat.jpg",
                                      {"--quality", "100", "--background-color", "2050A0"});
    Pixels rendered = directRender(rgba, block, nullptr, Black, 0xFFA05020u);
    ASSERT_EQ(rendered.bands, 4);
    const Pixels written = readImage(path("flat.jpg"));
    ASSERT_EQ(written.bands, 3);
    ASSERT_EQ(written.data.size(), size_t(90 * 60 * 3));
    const uint8_t colour[3] = {0x20, 0x50, 0xA0};
    double difference = 0;
    for (size_t p = 0; p < size_t(90 * 60); ++p) {
        const unsigned a = rendered.data[p * 4 + 3];
        for (int c = 0; c < 3; ++c) {
            const unsigned expected = (rendered.data[p * 4 + c] * a + colour[c] * (255 - a) + 127) / 255;
            difference += std::abs(int(expected) - int(written.data[p * 3 + c]));
        }
    }
    // JPEG at quality 100 moves the samples by about one level on average.
    EXPECT_LT(difference / (90 * 60 * 3), 2.5);
    // Transparency asked for on the command line is still a contradiction with JPEG.
    EXPECT_EQ(tool({"render", path("rgba.png"), "-o", path("t.jpg"), "--background", "transparent"})
                  .status,
              2);
}

// --strip writes no profile, EXIF or XMP; without it they are kept.
TEST_F(Oryn3dTest, StripDropsTheMetadata)
{
    VipsBlob* profile = nullptr;
    ASSERT_EQ(vips_profile_load("srgb", &profile, nullptr), 0);
    size_t size = 0;
    const void* data = vips_blob_get(profile, &size);
    const std::string icc(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(profile));
    writeImage(path("photo.jpg"), pattern(64, 48, 3), [&](VipsImage* im) {
        vips_image_set_blob_copy(im, VIPS_META_ICC_NAME, icc.data(), icc.size());
        vips_image_set_blob_copy(im, VIPS_META_XMP_NAME, "<x:xmpmeta/>", 12);
        vips_image_set_string(im, "exif-ifd0-Artist", "Oryn Tester");
    });
    for (bool strip : {false, true}) {
        const std::string out = path(strip ? "stripped.jpg" : "kept.jpg");
        std::vector<std::string> args = {"render", path("photo.jpg"), "-o", out};
        if (strip)
            args.push_back("--strip");
        ASSERT_EQ(tool(args).status, 0);
        ImageRef read;
        read.image = vips_image_new_from_file(out.c_str(), nullptr);
        ASSERT_NE(read.image, nullptr);
        for (const char* field : {VIPS_META_ICC_NAME, VIPS_META_XMP_NAME, VIPS_META_EXIF_NAME})
            EXPECT_EQ(vips_image_get_typeof(read.image, field) != 0, !strip) << field << strip;
    }
}

// -o as a name pattern: each output in its input's folder, with the batch's collision checks.
TEST_F(Oryn3dTest, OutputNamesFromAPattern)
{
    fs::create_directory(path("shoot"));
    writeImage(path("shoot/a.jpg"), pattern(60, 40, 3));
    writeImage(path("shoot/b.png"), pattern(60, 40, 3));
    writeImage(path("shoot/c.gif"), pattern(60, 40, 3));
    const ToolRun run =
        tool({"render", path("shoot/a.jpg"), path("shoot/b.png"), "-o", "%s-relief.%e"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readImage(path("shoot/a-relief.jpg")).width, 60);
    EXPECT_EQ(readImage(path("shoot/b-relief.png")).bands, 3);
    fs::create_directory(path("out"));
    EXPECT_EQ(tool({"render", path("shoot/a.jpg"), path("shoot/c.gif"), "-o",
                    path("out") + "/100%%-%s.webp"})
                  .status,
              0);
    EXPECT_TRUE(fs::exists(path("out/100%-a.webp")));
    EXPECT_TRUE(fs::exists(path("out/100%-c.webp")));
    fs::create_directory(path("other"));
    writeImage(path("other/a.jpg"), pattern(60, 40, 3));
    const std::vector<std::string> before = files();
    expectRefused({"render", path("shoot/a.jpg"), "-o", "%s.%e"}, "its own result");
    expectRefused({"render", path("shoot/a.jpg"), path("other/a.jpg"), "-o", path("out/%s.png")},
                  "would both be written");
    expectRefused({"render", path("shoot/c.gif"), "-o", "%s.%e"}, "no format");
    EXPECT_EQ(files(), before);
}

// --cell-size-px sets the preview cell size whose final size comes nearest, per image.
TEST_F(Oryn3dTest, CellSizeInImagePixels)
{
    const Pixels wide = pattern(600, 200, 3); // scale 2
    writeImage(path("wide.png"), wide);
    const ToolRun run = tool({"render", path("wide.png"), "-o", path("w.png"), "--cell-size-px",
                              "40,31", "--save-block", path("w.oryn")});
    EXPECT_EQ(run.status, 0) << run.err;
    // 31 lies between 30 and 32: the smaller wins, with a note.
    EXPECT_EQ(lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("40 x 30 pixels"), std::string::npos) << run.err;
    const ParamBlock block = readBlock(path("w.oryn"));
    EXPECT_EQ(block.padX[1], 20);
    EXPECT_EQ(block.padY[0], 15);
    EXPECT_EQ(readImage(path("w.png")), directRender(wide, block));
    expectRefused({"render", path("wide.png"), "-o", path("x.png"), "--cell-size-px", "40,30",
                   "--cell-width", "9"},
                  "--cell-size-px");
}

TEST(CellSizeMapping, NearestPreviewSizeForImagePixels)
{
    // The inverse is exact wherever the scale reaches the size.
    for (float scale : {1.0f, 2.0f, 4.0f, 13.333333f, 109.223335f}) {
        for (int32_t pad = 0; pad <= 300; ++pad) {
            const int32_t pixels = finalCellSize(pad, scale);
            EXPECT_EQ(finalCellSize(previewCellSizeFor(pixels, scale, 300), scale), pixels);
        }
        // Beyond the largest cell it stops at 300; below the smallest at 0.
        EXPECT_EQ(previewCellSizeFor(finalCellSize(300, scale) + 50, scale, 300), 300);
        EXPECT_EQ(previewCellSizeFor(0, scale, 300), 0);
    }
    EXPECT_EQ(previewCellSizeFor(100, 13.333333f, 300), 8); // 106 is nearer than 93
    EXPECT_EQ(finalCellSize(8, 13.333333f), 106);
}

// presets sheet: every preset's preview, user presets first, four to a row, each the same
// pixels as 'oryn3d preview' gives for that preset.
TEST_F(Oryn3dTest, PresetsSheetShowsEveryPreset)
{
    const Pixels image = pattern(600, 400, 3);
    writeImage(path("in.png"), image);
    ASSERT_EQ(tool({"presets", "save", "A & <b>", "--bevel", "20"}).status, 0);
    const ToolRun run = tool({"presets", "sheet", path("in.png"), "-o", path("sheet.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    const Pixels sheet = readImage(path("sheet.png"));
    // 11 previews of 300 x 300 with a 28-pixel label, 12 pixels apart and from the edge.
    EXPECT_EQ(sheet.width, 12 + 4 * 300 + 3 * 12 + 12);
    EXPECT_EQ(sheet.height, 12 + 3 * 328 + 2 * 12 + 12);
    ASSERT_EQ(sheet.bands, 3);
    auto tileAt = [&](int column, int row) {
        Pixels tile{300, 300, 3, {}};
        for (int y = 0; y < 300; ++y) {
            const size_t at = (size_t(12 + row * 340 + y) * size_t(sheet.width) +
                               size_t(12 + column * 312)) * 3;
            tile.data.insert(tile.data.end(), sheet.data.begin() + long(at),
                             sheet.data.begin() + long(at + 900));
        }
        return tile;
    };
    const struct {
        int column, row;
        const char* preset;
    } tiles[] = {{0, 0, ">A & <b>"}, {1, 0, "Jalousie"}, {2, 1, "Embossed Wrapper"}};
    for (const auto& t : tiles) {
        ASSERT_EQ(tool({"preview", path("in.png"), "-o", path("p.png"), "--preset", t.preset}).status,
                  0);
        EXPECT_EQ(tileAt(t.column, t.row), readImage(path("p.png"))) << t.preset;
    }
    expectRefused({"presets", "sheet", path("in.png"), "-o", path("in.png")}, "input");
}

// What a terminal `width` columns wide shows after `output`: printable text wraps at the last
// column, \r returns, \n starts a line, ESC [ K erases to the end of the line.
std::vector<std::string> screen(const std::string& output, size_t width)
{
    std::vector<std::string> rows(1);
    size_t column = 0;
    for (size_t i = 0; i < output.size(); ++i) {
        const char c = output[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            rows.emplace_back();
            column = 0;
        } else if (c == '\033' && output.compare(i, 3, "\033[K") == 0) {
            rows.back().resize(std::min(rows.back().size(), column));
            i += 2;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            if (column == width) {
                rows.emplace_back();
                column = 0;
            }
            std::string& row = rows.back();
            if (row.size() <= column)
                row.resize(column + 1, ' ');
            row[column++] = c;
        }
    }
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

// Runs the tool on a terminal `width` columns wide; with `interrupt`, types Ctrl-C once the bar
// shows. Returns everything written to the terminal.
std::string onTerminal(std::vector<std::string> args, unsigned short width, bool interrupt,
                       int& status)
{
    std::vector<char*> argv = argvOf(toolPath(), args);
    winsize size{};
    size.ws_col = width;
    size.ws_row = 24;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        execv(toolPath().c_str(), argv.data());
        _exit(127);
    }
    std::string shown;
    bool typed = false;
    char buffer[512];
    for (;;) {
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0)
            break;
        shown.append(buffer, size_t(got));
        if (interrupt && !typed && shown.find("rendering [") != std::string::npos) {
            const char ctrlC = 3;
            EXPECT_EQ(write(terminal, &ctrlC, 1), 1);
            typed = true;
        }
    }
    close(terminal);
    int waitStatus = 0;
    waitpid(pid, &waitStatus, 0);
    status = statusOf(waitStatus);
    return shown;
}

// The progress line fits the terminal whatever the name and width, so every update overwrites
// it, and it is gone at the end, also after Ctrl-C.
TEST_F(Oryn3dTest, ProgressLineFitsTheTerminalAndIsCleared)
{
    writeImage(path("in.png"), pattern(400, 300, 3));
    const std::string longName = std::string(90, 'l') + ".png";
    writeImage(path(longName), pattern(400, 300, 3));
    fs::create_directory(path("out"));
    for (unsigned short width : {50, 80}) {
        int status = -1;
        const std::string shown = onTerminal(
            {"render", path("in.png"), path(longName), "-o", path("out")}, width, false, status);
        EXPECT_EQ(status, 0) << shown;
        EXPECT_NE(shown.find("rendering ["), std::string::npos) << shown;
        // Only the summary is left on the screen.
        const std::vector<std::string> rows = screen(shown, width);
        ASSERT_EQ(rows.size(), 1u) << width << ::testing::PrintToString(rows);
        EXPECT_EQ(rows[0], "oryn3d: 2 of 2 images written") << width;
        // Every drawn line fitted: the long name was shortened in its middle.
        EXPECT_NE(shown.find("..."), std::string::npos) << shown;
        EXPECT_NE(shown.find("lll.png rendering"), std::string::npos) << shown;
    }

    writeImage(path("big.png"), pattern(3000, 2000, 3));
    int status = -1;
    const std::string stopped =
        onTerminal({"render", path("big.png"), "-o", path("stopped.png")}, 50, true, status);
    EXPECT_EQ(status, 130) << stopped;
    const std::vector<std::string> rows = screen(stopped, 50);
    ASSERT_EQ(rows.size(), 1u) << ::testing::PrintToString(rows);
    EXPECT_EQ(rows[0].rfind("oryn3d: stopped", 0), 0u) << rows[0];
    EXPECT_FALSE(fs::exists(path("stopped.png")));
}

// The progress line on its own, at widths from roomy to tiny.
TEST(ProgressLine, NarrowsTheBarThenShortensTheLabel)
{
    EXPECT_EQ(progressLine("", 42, 80),
              "rendering [################........................]  42%");
    for (int width = 8; width <= 120; ++width) {
        for (const std::string& label : {std::string(""), std::string("[3/50] photo.jpg "),
                                        std::string(100, 'x') + "\xc3\xa9.jpg "}) {
            const std::string line = progressLine(label, 100, width);
            size_t columns = 0;
            for (char c : line)
                columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            EXPECT_LE(columns, size_t(width - 3)) << width << " " << line;
            EXPECT_NE(line.find("100%"), std::string::npos) << width << " " << line;
        }
    }
    EXPECT_EQ(progressLine("[3/50] photo.jpg ", 100, 80).rfind("[3/50] photo.jpg rendering [", 0),
              0u);
}

} // namespace
} // namespace oryn
