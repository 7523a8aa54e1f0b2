// oryn3d's user presets end to end: the store file, names, records, the flag rules of --preset,
// "Last Used", and what happens with concurrent runs and with files that are not the store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "params/ParamBlock.h"
#include "tests/cli/CliTestSupport.h"

namespace oryn {
namespace {

const std::string Samples = "sample  Jalousie\nsample  Herring-Bone\nsample  Orystone\n"
                            "sample  Front Bricks\nsample  Roof\nsample  Embossed Wrapper\n"
                            "sample  Jabot\nsample  Gutters\nsample  Cellulary\n";

// The list lines of user presets.
std::string users(const std::vector<std::string>& names)
{
    std::string lines;
    for (const std::string& name : names)
        lines += "user    " + name + "\n";
    return lines;
}

std::string bytesOf(const ParamBlock& block)
{
    return std::string(reinterpret_cast<const char*>(&block), sizeof block);
}

// The dialog's opening controls ("Orystone": 35 055 00 50 45 32 50 00 0, light correction 30
// and 20, Antialiasing on) as a record with the given background and flags.
ParamBlock openingRecord(uint8_t mode, uint32_t colour, uint8_t flags)
{
    ParamBlock b{};
    b.padX[1] = 35, b.padY[0] = 55, b.padX[3] = 50, b.padX[5] = 45, b.padY[5] = 32;
    b.padX[4] = 50, b.padX[6] = 30, b.padX[7] = 20;
    b.antialias = 1;
    b.backgroundMode = mode;
    b.backgroundColor = colour;
    b.presetFlags = flags;
    b.checksum = 35 + 55 + 50 + 45 + 32 + 50 + 30 + 20;
    return b;
}

// What `presets save NAME --bevel B` stores (with `--face F` for a G-Shading state F above 0).
ParamBlock savedWithBevel(int16_t bevel, uint8_t face = 0)
{
    ParamBlock b = openingRecord(2, 0xFFC0C0C0u, 0);
    b.padX[2] = bevel;
    if (face != 0)
        b.modeBits = face;
    b.checksum = padChecksum(b);
    return b;
}

// How many of the rows are named `name`; each of them must hold `expected`.
int rowsNamed(const std::vector<std::pair<std::string, std::string>>& rows, const std::string& name,
              const ParamBlock& expected)
{
    int found = 0;
    for (const auto& [storedName, bytes] : rows) {
        if (storedName != name)
            continue;
        ++found;
        EXPECT_EQ(bytes, bytesOf(expected)) << name;
    }
    return found;
}

// Closes a database handle when it goes out of scope.
struct Database {
    sqlite3* db = nullptr;
    explicit Database(const std::string& path, int flags = SQLITE_OPEN_READONLY)
    {
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, flags, nullptr), SQLITE_OK) << path;
    }
    ~Database() { sqlite3_close(db); }
    void run(const std::string& sql) const
    {
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(db);
    }
};

class PresetStoreTest : public Oryn3dTest {
protected:
    void SetUp() override
    {
        Oryn3dTest::SetUp();
        writeImage(path("in.png"), pattern(120, 90, 3));
    }

    void ok(const std::vector<std::string>& args)
    {
        const ToolRun run = tool(args);
        EXPECT_EQ(run.status, 0) << ::testing::PrintToString(args) << run.err;
    }

    std::string list(bool all = false)
    {
        const ToolRun run = tool(all ? std::vector<std::string>{"presets", "list", "--all"}
                                     : std::vector<std::string>{"presets", "list"});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    // The 64 bytes `presets export` writes for a user preset.
    std::string exported(const std::string& name)
    {
        const std::string file = root + "/exported.blk";
        ok({"presets", "export", name, file});
        const std::string bytes = readBytes(file);
        fs::remove(file);
        return bytes;
    }

    // Every row of the store, read directly: name and record, in store order.
    std::vector<std::pair<std::string, std::string>> rows()
    {
        std::vector<std::pair<std::string, std::string>> found;
        Database store(storePath());
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(store.db, "SELECT name, record FROM presets ORDER BY position",
                                     -1, &stmt, nullptr),
                  SQLITE_OK);
        while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
            const char* name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            const char* record = static_cast<const char*>(sqlite3_column_blob(stmt, 1));
            found.emplace_back(name, std::string(record, size_t(sqlite3_column_bytes(stmt, 1))));
        }
        sqlite3_finalize(stmt);
        return found;
    }

    // A command that fails on the store: non-zero, one line on stderr naming the store file.
    void expectStoreRefused(const std::vector<std::string>& args)
    {
        const ToolRun run = tool(args);
        const std::string shown = ::testing::PrintToString(args);
        EXPECT_EQ(run.status, 1) << shown;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << shown << run.err;
        EXPECT_NE(run.err.find(storePath()), std::string::npos) << shown << run.err;
        EXPECT_EQ(run.out, "") << shown;
    }
};

TEST_F(PresetStoreTest, StoreIsCreatedOnFirstWriteUnderXdgConfigHomeOrHomeConfig)
{
    ok({"presets", "list"});
    EXPECT_EQ(tool({"presets", "delete", "Nothing"}).status, 2);
    EXPECT_FALSE(fs::exists(config + "/oryn3d"));

    ok({"presets", "save", "First"});
    EXPECT_TRUE(fs::is_regular_file(storePath()));
    EXPECT_EQ(fs::status(config + "/oryn3d").permissions() & fs::perms::all, fs::perms::owner_all);

    // Without XDG_CONFIG_HOME, or with a relative one, the store is under ~/.config.
    const std::string home = root + "/home";
    fs::create_directory(home);
    const char* savedHome = std::getenv("HOME");
    const std::string oldHome = savedHome != nullptr ? savedHome : "";
    const bool hadHome = savedHome != nullptr;
    setenv("HOME", home.c_str(), 1);
    for (const char* xdg : {"", "relative/config"}) {
        setenv("XDG_CONFIG_HOME", xdg, 1);
        ok({"presets", "save", std::string("In home ") + (xdg[0] ? "relative" : "unset")});
    }
    unsetenv("XDG_CONFIG_HOME");
    ok({"presets", "save", "No XDG"});
    const ToolRun run = tool({"presets", "list"});
    if (hadHome)
        setenv("HOME", oldHome.c_str(), 1);
    else
        unsetenv("HOME");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_TRUE(fs::is_regular_file(home + "/.config/oryn3d/presets.sqlite3"));
    EXPECT_EQ(run.out, users({"In home unset", "In home relative", "No XDG"}) + Samples);
    EXPECT_EQ(list(), users({"First"}) + Samples);
}

// The record is the one the save dialog stores: the controls, the two boxes as flags, and the
// colour the background mode resolves to with the host colours of the moment.
TEST_F(PresetStoreTest, SaveStoresTheSaveDialogsRecord)
{
    struct Case {
        std::vector<std::string> options;
        ParamBlock expected;
    };
    ParamBlock shaped = openingRecord(2, 0xFFC0C0C0u, 0);
    shaped.padX[1] = 20, shaped.padX[2] = 7, shaped.padX[6] = 90, shaped.modeBits = 6;
    shaped.checksum = padChecksum(shaped);
    ParamBlock jabot = openingRecord(2, 0xFF563412u, LightSaved | BackgroundSaved);
    jabot.padY[0] = 39, jabot.padX[5] = 15, jabot.padY[5] = 45, jabot.padX[4] = 0;
    jabot.padY[4] = 50;
    jabot.checksum = padChecksum(jabot);
    const std::vector<Case> cases = {
        {{}, openingRecord(2, 0xFFC0C0C0u, 0)},
        {{"--with-light"}, openingRecord(2, 0xFFC0C0C0u, LightSaved)},
        {{"--with-background"}, openingRecord(2, 0xFFC0C0C0u, BackgroundSaved)},
        {{"--cell-width", "20", "--bevel", "7", "--light-boost", "90", "--face", "2", "--x2"},
         shaped},
        {{"--preset", "Jabot", "--background", "123456", "--with-light", "--with-background"},
         jabot},
        // Foreground and Background store the host colour they stand for, Transparent its own.
        {{"--background", "foreground", "--foreground-color", "00ff00", "--with-background"},
         openingRecord(0, 0xFF00FF00u, BackgroundSaved)},
        {{"--background", "background"}, openingRecord(1, 0xFFFFFFFFu, 0)},
        {{"--background", "transparent", "--background-color", "102030"},
         openingRecord(3, 0x00FFFFFFu, 0)},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<std::string> args = {"presets", "save", "Case " + std::to_string(i)};
        args.insert(args.end(), cases[i].options.begin(), cases[i].options.end());
        ok(args);
        EXPECT_EQ(exported("Case " + std::to_string(i)), bytesOf(cases[i].expected))
            << ::testing::PrintToString(cases[i].options);
    }
}

TEST_F(PresetStoreTest, NamesAreTrimmedCutAndComparedWithoutCase)
{
    ok({"presets", "save", "Alpha", "--bevel", "1"});
    ok({"presets", "save", "Beta   ", "--bevel", "2"});
    ok({"presets", "save", ">Gamma", "--bevel", "3"});
    ok({"presets", "save", " Lead>", "--bevel", "4"}); // a leading ">" and the blanks at both ends go

    // A longer name keeps its first 19 characters, with a warning.
    const ToolRun longer = tool({"presets", "save", "ABCDEFGHIJKLMNOPQRSTUVWXY", "--bevel", "5"});
    EXPECT_EQ(longer.status, 0);
    EXPECT_NE(longer.err.find("19"), std::string::npos) << longer.err;
    EXPECT_NE(longer.err.find("'ABCDEFGHIJKLMNOPQRS'"), std::string::npos) << longer.err;

    // Overwriting in another case keeps the place and the first spelling.
    ok({"presets", "save", "ALPHA", "--bevel", "9"});
    EXPECT_EQ(list(), users({"Alpha", "Beta", "Gamma", "Lead>", "ABCDEFGHIJKLMNOPQRS"}) + Samples);
    EXPECT_EQ(exported("alpha")[4], 9); // padX[2], the bevel

    // Names that are empty once trimmed are refused, and nothing is stored.
    const std::string before = readBytes(storePath());
    for (const char* empty : {"", "   ", ">", ">   "}) {
        const ToolRun run = tool({"presets", "save", empty});
        EXPECT_EQ(run.status, 2) << "'" << empty << "'";
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find("name"), std::string::npos) << run.err;
    }
    EXPECT_EQ(tool({"presets", "save", "Tab\there"}).status, 2);
    EXPECT_EQ(readBytes(storePath()), before);

    // A deleted name saved again goes to the end, as a new registry value would.
    ok({"presets", "delete", "beta"});
    ok({"presets", "save", "Beta"});
    EXPECT_EQ(list(), users({"Alpha", "Gamma", "Lead>", "ABCDEFGHIJKLMNOPQRS", "Beta"}) + Samples);
}

TEST_F(PresetStoreTest, ListShowsTwentyUserPresetsAndCountsTheRest)
{
    std::string expected;
    for (int i = 1; i <= 22; ++i) {
        const std::string name = "P" + std::to_string(i);
        ok({"presets", "save", name});
        expected += users({name});
    }
    const ToolRun run = tool({"presets", "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected.substr(0, expected.find("user    P21\n")) + Samples);
    EXPECT_EQ(run.err, "oryn3d: 2 more user presets are stored but not listed, as the dialog "
                       "lists 20; 'oryn3d presets list --all' shows them\n");
    EXPECT_EQ(list(true), expected + Samples);
    // A preset beyond the list is still there by name.
    EXPECT_EQ(exported("P22").size(), 64u);
}

TEST_F(PresetStoreTest, DeleteOfAnUnknownNameFailsAndChangesNothing)
{
    ok({"presets", "save", "Keep"});
    const std::string before = readBytes(storePath());
    // A missing name is a wrong argument, as for --preset.
    for (const char* unknown : {"Missing", ">Roof", ">Kee"}) {
        const ToolRun run = tool({"presets", "delete", unknown});
        EXPECT_EQ(run.status, 2) << unknown;
        const std::string name = unknown[0] == '>' ? unknown + 1 : unknown;
        EXPECT_EQ(run.err.rfind("oryn3d: presets delete: no user preset '" + name + "'", 0), 0u)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    // A bare sample name means the sample, as for show and --preset; samples stay.
    const ToolRun sample = tool({"presets", "delete", "roof"});
    EXPECT_EQ(sample.status, 2);
    EXPECT_NE(sample.err.find("samples cannot be deleted"), std::string::npos) << sample.err;
    EXPECT_EQ(readBytes(storePath()), before);
    ok({"presets", "delete", ">KEEP"});
    EXPECT_EQ(list(), Samples);
}

TEST_F(PresetStoreTest, ExportAndImportRoundTripTheRecordByteForByte)
{
    ok({"presets", "save", "Mine", "--preset", "Herring-Bone", "--background", "abcdef",
        "--light-boost", "64", "--with-light", "--with-background"});
    const std::string record = exported("Mine");
    ASSERT_EQ(record.size(), 64u);

    writeBytes(path("copy.oryn"), record.data(), record.size());
    ok({"presets", "import", path("copy.oryn")}); // named after the file
    ok({"presets", "import", path("copy.oryn"), "Second"});
    EXPECT_EQ(exported("copy"), record);
    EXPECT_EQ(exported("Second"), record);
    EXPECT_EQ(list(), users({"Mine", "copy", "Second"}) + Samples);

    // A record written by --save-block imports as well.
    const ParamBlock rendered = renderOk("in.png", "out.png", {"--preset", "Roof"});
    writeBytes(path("rendered.blk"), &rendered, sizeof rendered);
    ok({"presets", "import", path("rendered.blk")});
    EXPECT_EQ(exported("rendered"), bytesOf(rendered));

    // Wrong sizes and a damaged checksum are refused; the store does not change.
    ParamBlock damaged{};
    std::memcpy(&damaged, record.data(), sizeof damaged);
    damaged.padX[3] += 1;
    writeBytes(path("damaged.blk"), &damaged, sizeof damaged);
    writeBytes(path("short.blk"), record.data(), 63);
    writeBytes(path("long.blk"), (record + "x").data(), 65);
    const std::string before = readBytes(storePath());
    for (const char* bad : {"short.blk", "long.blk", "damaged.blk", "missing.blk"}) {
        const ToolRun run = tool({"presets", "import", path(bad), "Bad"});
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(bad), std::string::npos) << run.err;
    }
    EXPECT_EQ(readBytes(storePath()), before);

    // Exporting a name that is not stored writes nothing.
    expectRefused({"presets", "export", "Nobody", path("nobody.blk")}, "Nobody");
}

TEST_F(PresetStoreTest, ShowPrintsEveryControlValueFlagsAndChecksum)
{
    ok({"presets", "save", "Shown", "--preset", "Gutters", "--light-boost", "61",
        "--brightness-ratio", "62", "--background", "102030", "--with-light"});
    const ToolRun user = tool({"presets", "show", ">shown"});
    EXPECT_EQ(user.status, 0) << user.err;
    // Each value with the option that sets it.
    for (const char* line :
         {"Preset:            Shown (user)\n", "Cell width:        30           --cell-width 30\n",
          "Cell height:       60           --cell-height 60\n",
          "Bevel width:       50           --bevel 50\n",
          "Shading:           99           --shading 99\n",
          "Light direction:   25,40        --light 25,40\n",
          "Stretch:           45,45        --stretch 45,45\n",
          "G-Shading state:   1            --face 1\n", "Double stretch:    on           --x2\n",
          "Light boost:       61           --light-boost 61\n",
          "Brightness ratio:  62           --brightness-ratio 62\n",
          "Antialiasing:      on           --antialias\n",
          "Background:        102030       --background 102030\n",
          "Flags:             4 (light correction saved)\n", "Checksum:          517 (valid)\n",
          "With --preset:     sets the cell shape and the light correction\n",
          "X grows to the right and Y downwards"})
        EXPECT_NE(user.out.find(line), std::string::npos) << line << "\n" << user.out;
    EXPECT_EQ(user.out.find("padY"), std::string::npos) << user.out;

    const ToolRun sample = tool({"presets", "show", "roof"});
    EXPECT_EQ(sample.status, 0);
    for (const char* line :
         {"Preset:            Roof (sample)\n", "Cell width:        10           --cell-width 10\n",
          "Cell height:       130          --cell-height 130\n",
          "G-Shading state:   2            --face 2\n",
          "Not set by a sample: light boost, brightness ratio, antialiasing, "
          "background\n"})
        EXPECT_NE(sample.out.find(line), std::string::npos) << line << "\n" << sample.out;
    EXPECT_EQ(sample.out.find("--light-boost"), std::string::npos) << sample.out;

    expectRefused({"presets", "show", "Nobody"}, "Nobody");
}

// The flag rules of applying a user preset: the cell shape always; the light correction only
// with LightSaved; the background only with BackgroundSaved, as Picker with the colour it
// resolved to when saved (Transparent only where the image has an alpha plane); Antialiasing
// never. A record with LastUsedRecord brings the light correction but not the background.
TEST_F(PresetStoreTest, UserPresetIsAppliedByItsFlags)
{
    const std::vector<std::string> saved = {
        "--preset",           "Roof", "--light-boost", "80",
        "--brightness-ratio", "70",   "--background",  "ff0000"};
    auto save = [&](const std::string& name, std::vector<std::string> flags) {
        std::vector<std::string> args = {"presets", "save", name};
        args.insert(args.end(), saved.begin(), saved.end());
        args.insert(args.end(), flags.begin(), flags.end());
        ok(args);
    };
    save("plain", {});
    save("light", {"--with-light"});
    save("back", {"--with-background"});
    save("both", {"--with-light", "--with-background"});
    ok({"presets", "save", "fore", "--background", "foreground", "--foreground-color", "00ff00",
        "--with-background"});
    ok({"presets", "save", "clear", "--background", "transparent", "--with-background"});

    struct Expect {
        const char* name;
        int16_t lightBoost, brightnessRatio;
        uint8_t mode;
        uint32_t colour;
    };
    for (const Expect& e : std::vector<Expect>{{"plain", 30, 20, 2, 0xFFC0C0C0u},
                                               {"light", 80, 70, 2, 0xFFC0C0C0u},
                                               {"back", 30, 20, 2, 0xFF0000FFu},
                                               {"both", 80, 70, 2, 0xFF0000FFu},
                                               {"fore", 30, 20, 2, 0xFF00FF00u},
                                               {"clear", 30, 20, 2, 0xFFC0C0C0u}}) {
        const ParamBlock b = renderOk("in.png", "out.png", {"--preset", e.name});
        EXPECT_EQ(b.padX[6], e.lightBoost) << e.name;
        EXPECT_EQ(b.padX[7], e.brightnessRatio) << e.name;
        EXPECT_EQ(b.backgroundMode, e.mode) << e.name;
        EXPECT_EQ(b.backgroundColor, e.colour) << e.name;
        EXPECT_EQ(b.antialias, 1) << e.name;
        if (std::string(e.name) != "fore" && std::string(e.name) != "clear") {
            EXPECT_EQ(b.padX[1], 10) << e.name; // Roof's cell width
            EXPECT_EQ(b.padY[0], 130) << e.name;
        }
        EXPECT_TRUE(checksumOk(b)) << e.name;
    }

    // The image is the core's render of that record; options still override the preset.
    const Pixels image = readImage(path("in.png"));
    const ParamBlock both = renderOk("in.png", "both.png", {"--preset", "both", "--bevel", "3"});
    EXPECT_EQ(both.padX[2], 3);
    EXPECT_EQ(readImage(path("both.png")), directRender(image, both));

    // A saved Transparent comes back where the image has an alpha plane.
    writeImage(path("rgba.png"), pattern(100, 80, 4));
    EXPECT_EQ(renderOk("rgba.png", "rgba-out.png", {"--preset", "clear"}).backgroundMode, 3);
    EXPECT_EQ(renderOk("rgba.png", "rgba-out.png", {"--preset", "plain"}).backgroundMode, 2);

    // A last-used record stored under another name.
    renderOk("in.png", "out.png",
             {"--preset", "Jabot", "--light-boost", "90", "--background", "0000ff"});
    const std::string lastUsed = exported("Last Used");
    writeBytes(path("copy.blk"), lastUsed.data(), lastUsed.size());
    ok({"presets", "import", path("copy.blk")});
    const ParamBlock copy = renderOk("in.png", "out.png", {"--preset", "copy"});
    EXPECT_EQ(copy.padX[6], 90);
    EXPECT_EQ(copy.padY[0], 39); // Jabot's cell height
    EXPECT_EQ(copy.backgroundColor, 0xFFC0C0C0u);
}

// A user preset whose checksum fails is replaced by Orystone with light correction 30 and 20,
// with a warning, whatever it holds.
TEST_F(PresetStoreTest, DamagedUserPresetFallsBackToOrystoneWithAWarning)
{
    ok({"presets", "save", "Broken", "--preset", "Roof", "--light-boost", "90", "--with-light",
        "--background", "00ff00", "--with-background"});
    std::string damaged = exported("Broken");
    damaged[4] = 7; // the bevel, without the checksum
    {
        Database store(storePath(), SQLITE_OPEN_READWRITE);
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(store.db, "UPDATE presets SET record = ?1 WHERE name = ?2", -1,
                                     &stmt, nullptr),
                  SQLITE_OK);
        sqlite3_bind_blob(stmt, 1, damaged.data(), int(damaged.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, "Broken", -1, SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
        sqlite3_finalize(stmt);
    }
    const ToolRun run = tool({"render", path("in.png"), "-o", path("out.png"), "--save-block",
                              path("out.blk"), "--preset", "Broken", "--no-remember"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Broken"), std::string::npos) << run.err;
    EXPECT_EQ(bytesOf(readBlock(path("out.blk"))),
              bytesOf(openingRecord(2, 0xFFC0C0C0u, LastUsedRecord | BackgroundSaved)));
    EXPECT_NE(tool({"presets", "show", "Broken"}).out.find("INVALID"), std::string::npos);
}

TEST_F(PresetStoreTest, SampleNamesPickSamplesAndTheMarkPicksUserPresets)
{
    ok({"presets", "save", "Roof", "--cell-width", "7"});
    ok({"presets", "save", "Mine", "--cell-width", "8"});
    EXPECT_EQ(renderOk("in.png", "out.png", {"--preset", "roof"}).padX[1], 10);
    EXPECT_EQ(renderOk("in.png", "out.png", {"--preset", ">roof"}).padX[1], 7);
    EXPECT_EQ(renderOk("in.png", "out.png", {"--preset", "mine"}).padX[1], 8);
    EXPECT_EQ(renderOk("in.png", "out.png", {"--preset", ">Mine  "}).padX[1], 8);
    EXPECT_EQ(renderOk("in.png", "preview.png", {"--preset", ">Roof"}, "preview").padX[1], 7);
    expectRefused({"render", path("in.png"), "-o", path("x.png"), "--preset", ">Jalousie"},
                  "--preset");
    expectRefused({"preview", path("in.png"), "-o", path("x.png"), "--preset", "Nobody"},
                  "--preset");
}

// A render stores its record as "Last Used" the way the plug-in does after Apply (picker colour,
// flags 8 or 10, the mode the image can show), and --preset "Last Used" renders it as stored,
// background and Antialiasing included, as a host's repeat command does.
TEST_F(PresetStoreTest, LastUsedRepeatsTheRenderByteForByte)
{
    const std::vector<std::vector<std::string>> runs = {
        {"--preset", "Gutters", "--background", "123456", "--no-antialias", "--x2", "--light-boost",
         "80"},
        {"--background", "foreground", "--foreground-color", "00ff00", "--bevel", "12"},
        {"--background", "transparent", "--preset", "Jalousie"},
    };
    for (const std::vector<std::string>& options : runs) {
        const std::string shown = ::testing::PrintToString(options);
        const ParamBlock first = renderOk("in.png", "first.png", options);
        // --background transparent gave the RGB image an alpha channel, so the mode stays.
        const ParamBlock expected = first;
        EXPECT_EQ(exported("Last Used"), bytesOf(expected)) << shown;

        // The host colour goes with the image, not with the record; so does the alpha channel
        // that --background transparent adds.
        std::vector<std::string> again = {"--preset", "Last Used"};
        if (options[1] == "foreground")
            again.insert(again.end(), {"--foreground-color", "00ff00"});
        if (options[1] == "transparent")
            again.insert(again.end(), {"--background", "transparent"});
        const ParamBlock repeated = renderOk("in.png", "again.png", again);
        EXPECT_EQ(bytesOf(repeated), bytesOf(expected)) << shown;
        EXPECT_EQ(readBytes(path("again.png")), readBytes(path("first.png"))) << shown;
        EXPECT_EQ(exported("last used"), bytesOf(expected)) << shown;
    }
    EXPECT_EQ(list(), users({"Last Used"}) + Samples);

    // The preview starts from it the same way.
    renderOk("in.png", "first.png", runs[0]);
    renderOk("in.png", "p1.png", runs[0], "preview");
    renderOk("in.png", "p2.png", {"--preset", "Last Used"}, "preview");
    EXPECT_EQ(readBytes(path("p1.png")), readBytes(path("p2.png")));
}

TEST_F(PresetStoreTest, OnlyARememberedSuccessfulRenderIsStored)
{
    renderOk("in.png", "out.png", {"--no-remember", "--bevel", "5"});
    renderOk("in.png", "preview.png", {"--bevel", "6"}, "preview");
    EXPECT_FALSE(fs::exists(storePath()));

    renderOk("in.png", "out.png", {"--bevel", "7"});
    const std::string stored = exported("Last Used");
    EXPECT_EQ(stored[4], 7);
    renderOk("in.png", "out.png", {"--no-remember", "--bevel", "8"});
    renderOk("in.png", "preview.png", {"--bevel", "9"}, "preview");
    expectRefused({"render", path("missing.png"), "-o", path("x.png"), "--bevel", "10"},
                  "missing.png");
    expectRefused({"render", path("in.png"), "-o", path("x.bmp"), "--bevel", "11"}, "x.bmp");
    EXPECT_EQ(exported("Last Used"), stored);
}

// Files that are not the store: each command that needs it says so in one line naming the file,
// exits 1 and leaves the file, and its folder, as they were. A render that does not need the
// store still works; one that would only remember its settings writes the image and warns,
// and the list still shows the samples.
TEST_F(PresetStoreTest, DamagedOrForeignStoreIsReportedAndLeftAlone)
{
    ok({"presets", "save", "One"});
    ok({"presets", "save", "Two"});
    const std::string valid = readBytes(storePath());
    ASSERT_GT(valid.size(), 8192u);

    std::string garbled = valid;
    for (size_t i = 4096; i < 4196; ++i)
        garbled[i] = '\xff';
    const std::string foreign = root + "/foreign.db";
    {
        Database db(foreign, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.run("CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('keep me')");
    }
    const std::string tableless = root + "/tableless.db";
    {
        Database db(tableless, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.run("PRAGMA application_id = 1330787140; PRAGMA user_version = 1; "
               "CREATE TABLE other (x)");
    }
    const std::string newer = root + "/newer.db";
    writeBytes(newer, valid.data(), valid.size());
    Database(newer, SQLITE_OPEN_READWRITE).run("PRAGMA user_version = 2");

    const std::vector<std::pair<const char*, std::string>> contents = {
        {"text", "presets: not a database\n"}, {"garbled", garbled},
        {"foreign", readBytes(foreign)},       {"tableless", readBytes(tableless)},
        {"newer", readBytes(newer)},
    };
    const ParamBlock record = openingRecord(2, 0xFFC0C0C0u, 0);
    writeBytes(path("record.blk"), &record, sizeof record);
    for (const auto& [kind, content] : contents) {
        writeBytes(storePath(), content.data(), content.size());
        const std::string in = path("in.png");
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"presets", "show", ">One"},
                 {"presets", "save", "Three"},
                 {"presets", "delete", "One"},
                 {"presets", "export", "One", path("one.blk")},
                 {"presets", "import", path("record.blk")},
                 {"render", in, "-o", path("out.png"), "--preset", "Last Used", "--no-remember"},
                 {"preview", in, "-o", path("out.png"), "--preset", ">One"}}) {
            SCOPED_TRACE(kind);
            expectStoreRefused(args);
        }
        EXPECT_EQ(readBytes(storePath()), content) << kind;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(config + "/oryn3d"))
            left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"presets.sqlite3"}) << kind;
        EXPECT_EQ(files(), (std::vector<std::string>{"in.png", "record.blk"})) << kind;

        // Samples need no store.
        renderOk("in.png", "out.png", {"--preset", "Roof", "--no-remember"});
        fs::remove(path("out.png"));
        const ToolRun remembered = tool({"render", in, "-o", path("out.png")});
        EXPECT_EQ(remembered.status, 0) << kind << remembered.err;
        EXPECT_EQ(std::count(remembered.err.begin(), remembered.err.end(), '\n'), 1)
            << kind << remembered.err;
        EXPECT_NE(remembered.err.find("warning"), std::string::npos) << remembered.err;
        EXPECT_NE(remembered.err.find("'Last Used'"), std::string::npos) << remembered.err;
        EXPECT_TRUE(fs::exists(path("out.png"))) << kind;
        fs::remove(path("out.png"));
        const ToolRun listed = tool({"presets", "list"});
        EXPECT_EQ(listed.status, 0) << kind;
        EXPECT_EQ(listed.out, Samples) << kind;
        EXPECT_NE(listed.err.find(storePath()), std::string::npos) << listed.err;
        EXPECT_EQ(readBytes(storePath()), content) << kind;
        const ToolRun shown = tool({"presets", "show", "Roof"});
        EXPECT_EQ(shown.status, 0) << kind;
    }
}

// Two runs writing at once wait for each other: every save of either arrives intact, and a name
// both write ends as one of the two records.
TEST_F(PresetStoreTest, ConcurrentRunsLoseNothing)
{
    constexpr int Saves = 40;
    auto loop = [&](const std::string& body) {
        return "i=0; while [ $i -lt " + std::to_string(Saves) + " ]; do " + body +
               " || exit 1; i=$((i+1)); done";
    };
    const std::string oryn3d = std::string("'") + ORYN3D_PATH + "'";
    const pid_t a = start(
        "/bin/sh", {"-c", loop(oryn3d + " presets save a$i --bevel $((i % 50)) --face 1")}, "a");
    const pid_t b = start(
        "/bin/sh", {"-c", loop(oryn3d + " presets save b$i --bevel $((i % 50)) --face 2")}, "b");
    const pid_t reader =
        start("/bin/sh", {"-c", loop(oryn3d + " presets list --all >/dev/null")}, "reader");
    EXPECT_EQ(finish(a, "a").status, 0) << readBytes(root + "/aerr");
    EXPECT_EQ(finish(b, "b").status, 0) << readBytes(root + "/berr");
    EXPECT_EQ(finish(reader, "reader").status, 0) << readBytes(root + "/readererr");

    const auto stored = rows();
    EXPECT_EQ(stored.size(), size_t(2 * Saves));
    for (const char prefix : {'a', 'b'}) {
        for (int i = 0; i < Saves; ++i) {
            const std::string name = prefix + std::to_string(i);
            const uint8_t face = prefix == 'a' ? 1 : 2;
            EXPECT_EQ(rowsNamed(stored, name, savedWithBevel(int16_t(i % 50), face)), 1) << name;
        }
    }

    // Both write the same name over and over.
    const pid_t c =
        start("/bin/sh", {"-c", loop(oryn3d + " presets save Shared --cell-width 11")}, "a");
    const pid_t d =
        start("/bin/sh", {"-c", loop(oryn3d + " presets save SHARED --cell-width 22")}, "b");
    EXPECT_EQ(finish(c, "a").status, 0) << readBytes(root + "/aerr");
    EXPECT_EQ(finish(d, "b").status, 0) << readBytes(root + "/berr");
    ParamBlock eleven = openingRecord(2, 0xFFC0C0C0u, 0);
    eleven.padX[1] = 11;
    eleven.checksum = padChecksum(eleven);
    ParamBlock twentyTwo = eleven;
    twentyTwo.padX[1] = 22;
    twentyTwo.checksum = padChecksum(twentyTwo);
    const auto after = rows();
    ASSERT_EQ(after.size(), size_t(2 * Saves + 1));
    const auto& shared = after.back();
    EXPECT_TRUE(shared.first == "Shared" || shared.first == "SHARED") << shared.first;
    EXPECT_TRUE(shared.second == bytesOf(eleven) || shared.second == bytesOf(twentyTwo));
}

// Runs that find no store and start at the same moment: one of them makes the store, and the
// others, writing or reading, never take the store being made for someone else's empty file.
// Every save arrives, and nothing but the store is left in its folder.
TEST_F(PresetStoreTest, FirstRunsAtOnceAllFindTheStore)
{
    constexpr int Rounds = 16;
    constexpr int Writers = 5;
    constexpr int Readers = 2;
    const std::string folder = config + "/oryn3d";
    for (int round = 0; round < Rounds; ++round) {
        fs::remove_all(folder);
        std::vector<std::pair<pid_t, std::string>> runs;
        for (int i = 0; i < Writers; ++i) {
            const std::string streams = "w" + std::to_string(i);
            runs.emplace_back(start(toolPath(), {"presets", "save", "p" + std::to_string(i),
                                                 "--bevel", std::to_string(i + 1)},
                                    streams),
                              streams);
        }
        for (int i = 0; i < Readers; ++i) {
            const std::string streams = "r" + std::to_string(i);
            runs.emplace_back(start(toolPath(), {"presets", "list"}, streams), streams);
        }
        for (const auto& [pid, streams] : runs) {
            const ToolRun run = finish(pid, streams);
            EXPECT_EQ(run.status, 0) << "round " << round << ", " << streams << ": " << run.err;
            EXPECT_EQ(run.err, "") << "round " << round << ", " << streams;
            if (streams[0] == 'r') {
                // The samples are listed, whatever the store holds by then.
                EXPECT_NE(run.out.find(Samples), std::string::npos) << run.out;
            }
        }
        const auto stored = rows();
        ASSERT_EQ(stored.size(), size_t(Writers)) << "round " << round;
        for (int i = 0; i < Writers; ++i) {
            const std::string name = "p" + std::to_string(i);
            EXPECT_EQ(rowsNamed(stored, name, savedWithBevel(int16_t(i + 1))), 1)
                << "round " << round << ", " << name;
        }
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(folder))
            left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"presets.sqlite3"}) << "round " << round;
    }
}

} // namespace
} // namespace oryn
