// oryn3d regressions: what a run leaves behind, the files it must not touch,
// what it keeps from the input, the preset names it takes, and how it answers a wrong command
// line. Each case failed with the tool before the fix.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <libexif/exif-data.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/stat.h>

#include "params/ParamBlock.h"
#include "tests/cli/CliTestSupport.h"

namespace oryn {
namespace {

std::string resolvedTarget(const std::string& file)
{
    return fs::canonical(file).string();
}

size_t lineCount(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Every termination signal that can be caught ends the run as Ctrl-C does: the temporary output
// removed, nothing written, nothing remembered, and the status 128 + the signal.
TEST_F(Oryn3dTest, TerminationSignalsLeaveNothingBehind)
{
    // Large enough that decoding and rendering take far longer than delivering a signal.
    writeImage(path("big.jpg"), pattern(6000, 4000, 3));
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1}) {
        const pid_t pid = start(toolPath(), {"render", path("big.jpg"), "-o", path("out.png")});
        ASSERT_GT(pid, 0);
        // The temporary output appears once the image is read and checked, just before the
        // render.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        bool started = false;
        while (!started && std::chrono::steady_clock::now() < deadline) {
            for (const std::string& name : files())
                started = started || name.rfind(".out.png.", 0) == 0;
            if (!started)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(started) << strsignal(signal);
        kill(pid, signal);
        const ToolRun run = finish(pid);
        EXPECT_EQ(run.status, 128 + signal) << strsignal(signal) << run.err;
        EXPECT_EQ(files(), std::vector<std::string>{"big.jpg"}) << strsignal(signal);
        EXPECT_FALSE(fs::exists(storePath())) << strsignal(signal);
    }
}

// --save-block never replaces a file of the run itself, however it is spelled, and is written
// atomically like the image.
TEST_F(Oryn3dTest, SaveBlockRefusesTheRunsOwnFiles)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    writeImage(path("mask.png"), Pixels{60, 40, 1, std::vector<uint8_t>(60 * 40, 255)});
    writeImage(path("old.png"), pattern(60, 40, 3));
    fs::create_symlink(path("in.png"), path("link.png"));
    fs::create_directory(path("sub"));
    const std::string in = path("in.png");
    const std::string cases[][2] = {
        {path("in.png"), "input"},   {dir + "/sub/../in.png", "input"}, {path("link.png"), "input"},
        {path("old.png"), "output"}, {path("mask.png"), "mask"},
    };
    for (const auto& c : cases) {
        const std::string before = readBytes(resolvedTarget(c[0]));
        expectRefused(
            {"render", in, "-o", path("old.png"), "--mask", path("mask.png"), "--save-block", c[0]},
            c[1]);
        EXPECT_EQ(readBytes(resolvedTarget(c[0])), before) << c[0];
    }
    // A record of its own is written whole.
    writeBytes(path("settings.oryn"), "old", 3);
    EXPECT_EQ(
        tool({"render", in, "-o", path("out.png"), "--save-block", path("settings.oryn")}).status,
        0);
    EXPECT_EQ(readBytes(path("settings.oryn")).size(), 64u);
}

// EXIF with a thumbnail of the unfiltered photo: the thumbnail goes, the other tags stay.
TEST_F(Oryn3dTest, OutputDropsTheExifThumbnail)
{
    writeImage(path("thumb.jpg"), pattern(32, 24, 3));
    const std::string thumbnail = readBytes(path("thumb.jpg"));
    ExifData* exif = exif_data_new();
    exif_data_set_byte_order(exif, EXIF_BYTE_ORDER_INTEL);
    exif_data_fix(exif);
    exif->data = static_cast<unsigned char*>(std::malloc(thumbnail.size()));
    std::memcpy(exif->data, thumbnail.data(), thumbnail.size());
    exif->size = static_cast<unsigned int>(thumbnail.size());
    unsigned char* block = nullptr;
    unsigned int blockSize = 0;
    exif_data_save_data(exif, &block, &blockSize);
    const std::string exifBlock(reinterpret_cast<char*>(block), blockSize);
    std::free(block);
    exif_data_unref(exif);

    writeImage(path("photo.jpg"), pattern(96, 64, 3), [&](VipsImage* im) {
        vips_image_set_blob_copy(im, VIPS_META_EXIF_NAME, exifBlock.data(), exifBlock.size());
        vips_image_set_string(im, "exif-ifd0-Artist", "Oryn Tester");
    });
    // The input really carries the thumbnail.
    ASSERT_NE(readBytes(path("photo.jpg")).find(thumbnail.substr(0, 200)), std::string::npos);

    for (const char* out : {"out.jpg", "out.png", "out.webp"}) {
        renderOk("photo.jpg", out);
        ImageRef read;
        read.image = vips_image_new_from_file(path(out).c_str(), nullptr);
        ASSERT_NE(read.image, nullptr);
        const void* data = nullptr;
        size_t size = 0;
        ASSERT_EQ(vips_image_get_blob(read.image, VIPS_META_EXIF_NAME, &data, &size), 0) << out;
        ExifData* written = exif_data_new_from_data(static_cast<const unsigned char*>(data),
                                                    static_cast<unsigned int>(size));
        ASSERT_NE(written, nullptr) << out;
        EXPECT_EQ(written->size, 0u) << out << ": the thumbnail is still there";
        exif_data_unref(written);
        const char* artist = nullptr;
        ASSERT_EQ(vips_image_get_string(read.image, "exif-ifd0-Artist", &artist), 0) << out;
        EXPECT_EQ(std::string(artist).rfind("Oryn Tester", 0), 0u) << out;
    }
}

// A photo stored sideways (EXIF orientation 6: turn 90 degrees clockwise to show) is filtered
// upright and written upright; --keep-orientation filters the stored pixels and keeps the tag.
TEST_F(Oryn3dTest, ExifOrientationIsAppliedBeforeFiltering)
{
    writeImage(path("side.jpg"), pattern(90, 60, 3),
               [](VipsImage* im) { vips_image_set_int(im, VIPS_META_ORIENTATION, 6); });
    // The pixels as stored, and as shown.
    const Pixels stored = readImage(path("side.jpg"));
    ASSERT_EQ(stored.width, 90);
    Pixels upright{60, 90, 3, std::vector<uint8_t>(stored.data.size())};
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 60; ++x)
            for (int b = 0; b < 3; ++b)
                upright.data[(size_t(y) * 60 + x) * 3 + b] =
                    stored.data[(size_t(59 - x) * 90 + y) * 3 + b];

    auto orientationOf = [&](const std::string& file) {
        ImageRef read;
        read.image = vips_image_new_from_file(path(file).c_str(), nullptr);
        return read.image != nullptr ? vips_image_get_orientation(read.image) : -1;
    };
    const ParamBlock block = renderOk("side.jpg", "out.png");
    EXPECT_EQ(readImage(path("out.png")), directRender(upright, block));
    EXPECT_EQ(orientationOf("out.png"), 1);

    const ParamBlock kept = renderOk("side.jpg", "kept.png", {"--keep-orientation"});
    EXPECT_EQ(readImage(path("kept.png")), directRender(stored, kept));
    EXPECT_EQ(orientationOf("kept.png"), 6);
}

// --background transparent on an RGB image renders with an added alpha channel where the format
// holds one, and is refused with a way out for JPEG.
TEST_F(Oryn3dTest, TransparentBackgroundOnRgbAddsAnAlphaChannel)
{
    const Pixels rgb = pattern(100, 70, 3);
    writeImage(path("in.png"), rgb);
    Pixels rgba{100, 70, 4, {}};
    for (size_t i = 0; i < rgb.data.size(); i += 3) {
        rgba.data.insert(rgba.data.end(), rgb.data.begin() + long(i),
                         rgb.data.begin() + long(i) + 3);
        rgba.data.push_back(255);
    }
    for (const char* out : {"out.png", "out.tif"}) {
        const ParamBlock block = renderOk("in.png", out, {"--background", "transparent"});
        EXPECT_EQ(block.backgroundMode, 3);
        const Pixels rendered = readImage(path(out));
        EXPECT_EQ(rendered.bands, 4) << out;
        EXPECT_EQ(rendered, directRender(rgba, block)) << out;
        // Where no cell covers the image it really is transparent.
        size_t clear = 0;
        for (size_t i = 3; i < rendered.data.size(); i += 4)
            clear += rendered.data[i] == 0;
        EXPECT_GT(clear, 0u) << out;
    }
    expectRefused({"render", path("in.png"), "-o", path("out.jpg"), "--background", "transparent"},
                  ".png");
}

// A store that cannot be written costs the "Last Used" record, not the image.
TEST_F(Oryn3dTest, UnwritableStoreStillWritesTheImage)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    // A file where the store's folder should be.
    writeBytes(config + "/oryn3d", "not a folder", 12);
    const ToolRun run = tool({"render", path("in.png"), "-o", path("out.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'Last Used'"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(path("out.png")));
    const ToolRun list = tool({"presets", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.find("user"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("sample  Orystone\n"), std::string::npos) << list.out;
}

// A store that another program keeps locked past the ten seconds a run waits: the image is
// still written, with the warning.
TEST_F(Oryn3dTest, LockedStoreStillWritesTheImage)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    ASSERT_EQ(tool({"presets", "save", "Kept"}).status, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const ToolRun run = tool({"render", path("in.png"), "-o", path("out.png")});
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("locked"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'Last Used'"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(path("out.png")));
}

// Preset names: one that a sample hides is saved with a warning that says how to pick it;
// "Last Used" belongs to the tool unless forced; an empty name is refused everywhere.
TEST_F(Oryn3dTest, PresetNamesThatCannotWorkAreWarnedAboutOrRefused)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    const ToolRun hidden = tool({"presets", "save", "roof", "--bevel", "33"});
    EXPECT_EQ(hidden.status, 0);
    EXPECT_EQ(lineCount(hidden.err), 1u) << hidden.err;
    EXPECT_NE(hidden.err.find("--preset '>roof'"), std::string::npos) << hidden.err;
    EXPECT_EQ(renderOk("in.png", "out.png", {"--preset", ">roof"}).padX[2], 33);

    const ParamBlock rendered = renderOk("in.png", "out.png");
    const std::string store = readBytes(storePath());
    writeBytes(path("r.oryn"), &rendered, sizeof rendered);
    struct Refusal {
        std::vector<std::string> args;
        const char* subject;
    };
    const std::vector<Refusal> refusals = {
        {{"presets", "save", "Last Used"}, "--force"},
        {{"presets", "save", "LAST USED  "}, "--force"},
        {{"presets", "import", path("r.oryn"), "last used"}, "--force"},
        {{"presets", "import", path("r.oryn"), ""}, "name"},
        {{"presets", "import", path("r.oryn"), ">"}, "name"},
        {{"presets", "save", ""}, "name"},
    };
    for (const Refusal& r : refusals) {
        const ToolRun run = tool(r.args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(r.args);
        EXPECT_EQ(lineCount(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find(r.subject), std::string::npos) << run.err;
    }
    EXPECT_EQ(readBytes(storePath()), store);
    EXPECT_EQ(tool({"presets", "save", "Last Used", "--force", "--bevel", "44"}).status, 0);
    EXPECT_EQ(renderOk("in.png", "out.png", {"--preset", "Last Used", "--no-remember"}).padX[2],
              44);
}

// The 19-character limit counts characters: a UTF-8 name is never cut inside one, nor to fewer
// than 19 of them; text that is not UTF-8 is refused.
TEST_F(Oryn3dTest, PresetNamesAreCutAtNineteenCharacters)
{
    const std::string e = "\xc3\xa9";            // two bytes
    const std::string clef = "\xf0\x9d\x84\x9e"; // four bytes
    std::string nineteen;
    for (int i = 0; i < 19; ++i)
        nineteen += i % 2 == 0 ? e : clef;
    struct Case {
        std::string typed, stored;
        bool cut;
    };
    const std::vector<Case> cases = {
        {nineteen, nineteen, false},
        {nineteen + e + e, nineteen, true},
        {std::string(18, 'a') + clef + "b", std::string(18, 'a') + clef, true},
    };
    for (const Case& c : cases) {
        const ToolRun run = tool({"presets", "save", c.typed});
        EXPECT_EQ(run.status, 0) << c.typed;
        EXPECT_EQ(run.err.find("at most 19") != std::string::npos, c.cut) << run.err;
        const ToolRun list = tool({"presets", "list"});
        EXPECT_NE(list.out.find("user    " + c.stored + "\n"), std::string::npos) << list.out;
    }
    for (const std::string& bad : {std::string("caf\xc3"), std::string("x\xff\xfey")}) {
        const ToolRun run = tool({"presets", "save", bad});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("UTF-8"), std::string::npos) << run.err;
    }
}

// Replacing an output writes through a symbolic link to its target and keeps the permissions
// (and owner) of the file it replaces.
TEST_F(Oryn3dTest, ReplacedOutputKeepsItsLinkAndPermissions)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    fs::create_directory(path("real"));
    writeBytes(path("real/target.png"), "old", 3);
    fs::create_symlink("real/target.png", path("link.png"));
    writeBytes(path("private.png"), "old", 3);
    chmod(path("private.png").c_str(), 0600);
    writeBytes(path("shared.png"), "old", 3);
    chmod(path("shared.png").c_str(), 0664);

    renderOk("in.png", "link.png");
    EXPECT_TRUE(fs::is_symlink(path("link.png")));
    EXPECT_EQ(fs::read_symlink(path("link.png")), "real/target.png");
    EXPECT_EQ(readImage(path("real/target.png")).width, 60);
    for (const auto& [name, mode] : {std::pair<const char*, mode_t>{"private.png", 0600},
                                     std::pair<const char*, mode_t>{"shared.png", 0664}}) {
        renderOk("in.png", name);
        struct stat info {};
        ASSERT_EQ(stat(path(name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode) << name;
        EXPECT_EQ(readImage(path(name)).width, 60) << name;
    }
    // A device is written to, not replaced.
    EXPECT_EQ(tool({"render", path("in.png"), "-o", "/dev/null", "--format", "png"}).status, 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// Antialiasing is never part of a preset, so saving it is refused with the reason; preview takes
// --no-remember, so scripts can share flags between render and preview.
TEST_F(Oryn3dTest, OptionsThatMeanNothingAreRefusedAndSharedOnesAccepted)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    for (const char* flag : {"--no-antialias", "--antialias"}) {
        const ToolRun run = tool({"presets", "save", "x", flag});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(lineCount(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("never part of a preset"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(storePath()));
    renderOk("in.png", "preview.png", {"--no-remember"}, "preview");
}

// Every usage error is one sentence that names the mistake, suggests what was probably meant,
// points to --help, and exits 2; none is a raw parser text.
TEST_F(Oryn3dTest, UsageErrorsNameTheMistakeAndSuggestTheNearestWord)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<const char*> said;
    };
    const std::string in = "in.png";
    const std::vector<Case> cases = {
        {{}, {"a command is needed", "oryn3d --help"}},
        {{"rendr"}, {"'rendr'", "'render'", "oryn3d --help"}},
        {{"presets", "copy", "a", "b"}, {"'copy'", "presets --help"}},
        {{"presets", "lst"}, {"'list'"}},
        {{"presets"}, {"list, show", "presets --help"}},
        {{"--verison"}, {"'--version'"}},
        {{"render", in, "-o", "a.png", "-o", "b.png"}, {"-o", "more than once", "render --help"}},
        {{"render", in, "-o", "a.png", "--bevl", "3"}, {"'--bevl'", "'--bevel'"}},
        {{"render", in, "-o", "a.png", "--bevel", "51"}, {"--bevel", "0..50"}},
        {{"render", in, "-o", "a.png", "--x2", "--no-x2"}, {"--x2", "--no-x2"}},
        {{"render", in, "-o"}, {"-o needs a value"}},
        {{"render", in}, {"-o OUTPUT"}},
        {{"presets", "save", "x", "--threads", "2"}, {"--threads", "presets save --help"}},
        {{"presets", "export", "x"}, {"needs FILE"}},
        {{"presets", "show", "a", "b"}, {"'b'", "too many"}},
        {{"--bevel", "3"}, {"after a command"}},
    };
    for (const Case& c : cases) {
        const ToolRun run = tool(c.args);
        const std::string shown = ::testing::PrintToString(c.args);
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_EQ(lineCount(run.err), 1u) << shown << run.err;
        EXPECT_EQ(run.err.rfind("oryn3d: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << shown << run.err;
        for (const char* text : c.said)
            EXPECT_NE(run.err.find(text), std::string::npos) << shown << run.err;
        for (const char* raw : {"At Most", "subcommand", "required but"})
            EXPECT_EQ(run.err.find(raw), std::string::npos) << shown << run.err;
    }
    // A preset name that is close to a known one is suggested, and so is a close user preset.
    writeImage(path(in), pattern(40, 30, 3));
    tool({"presets", "save", "Warm Bricks"});
    for (const auto& [typed, near] :
         {std::pair<const char*, const char*>{"Rof", "Roof"},
          std::pair<const char*, const char*>{"warm brick", "Warm Bricks"}}) {
        const ToolRun run = tool({"render", path(in), "-o", path("x.png"), "--preset", typed});
        EXPECT_EQ(run.status, 2) << typed;
        EXPECT_NE(run.err.find(std::string("'") + near + "'"), std::string::npos) << run.err;
    }
    const ToolRun deleted = tool({"presets", "delete", "Warm Brick"});
    EXPECT_EQ(deleted.err.rfind("oryn3d: presets delete: no user preset 'Warm Brick' (did you "
                                "mean 'Warm Bricks'?)",
                                0),
              0u)
        << deleted.err;
}

// Help is wrapped to the terminal's width ($COLUMNS when the output is not a terminal).
TEST_F(Oryn3dTest, HelpIsWrappedToTheWidth)
{
    for (const char* width : {"50", "100"}) {
        setenv("COLUMNS", width, 1);
        for (std::vector<std::string> args :
             std::vector<std::vector<std::string>>{{},
                                                   {"render"},
                                                   {"preview"},
                                                   {"presets"},
                                                   {"presets", "save"},
                                                   {"presets", "show"}}) {
            args.push_back("--help");
            const ToolRun run = tool(args);
            EXPECT_EQ(run.status, 0);
            size_t longest = 0;
            size_t from = 0;
            while (from < run.out.size()) {
                const size_t end = std::min(run.out.find('\n', from), run.out.size());
                // Example command lines are kept whole so that they can be copied.
                if (run.out.compare(from, 9, "  oryn3d ") != 0 &&
                    run.out.compare(from, 6, "  cat ") != 0)
                    longest = std::max(longest, end - from);
                from = end + 1;
            }
            EXPECT_LE(longest, size_t(std::atoi(width))) << ::testing::PrintToString(args);
        }
    }
    unsetenv("COLUMNS");
}

} // namespace
} // namespace oryn
