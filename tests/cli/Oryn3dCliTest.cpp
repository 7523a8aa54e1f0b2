// oryn3d end to end: the built tool run on images generated here, its files read back with
// libvips and compared with the portable core called directly on the same pixels.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <pty.h>
#include <signal.h>

#include "params/ParamBlock.h"
#include "tests/cli/CliTestSupport.h"

namespace oryn {
namespace {

TEST_F(Oryn3dTest, PresetsListShowsTheSamplesInTheDialogsOrder)
{
    const ToolRun run = tool({"presets", "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "sample  Jalousie\nsample  Herring-Bone\nsample  Orystone\n"
                       "sample  Front Bricks\nsample  Roof\nsample  Embossed Wrapper\n"
                       "sample  Jabot\nsample  Gutters\nsample  Cellulary\n");
}

TEST_F(Oryn3dTest, EveryCommandHasHelpWithAnExample)
{
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{},
                                               {"render"},
                                               {"preview"},
                                               {"presets"},
                                               {"presets", "list"},
                                               {"presets", "show"},
                                               {"presets", "save"},
                                               {"presets", "delete"},
                                               {"presets", "export"},
                                               {"presets", "import"}}) {
        args.push_back("--help");
        const ToolRun run = tool(args);
        EXPECT_EQ(run.status, 0) << ::testing::PrintToString(args);
        // The presets overview lists its commands; each command page has examples.
        if (args.size() != 2 || args[0] != "presets") {
            EXPECT_NE(run.out.find("Example"), std::string::npos) << run.out;
        }
        if (args[0] == "render" || args[0] == "preview" || args.back() == "save") {
            for (const char* range : {"0..300", "0..50", "0..100", "0..2", "RRGGBB"})
                EXPECT_NE(run.out.find(range), std::string::npos) << range;
        }
    }
}

// Without options the record is the dialog's opening state after Apply: sample "Orystone"
// (35 055 00 50 45 32 50 00 0), Light Boosting 30, Brightness Ratio 20, Antialiasing on,
// Picker with 0xFFC0C0C0, flags LastUsedRecord | BackgroundSaved.
TEST_F(Oryn3dTest, DefaultRenderIsTheOpeningStateRenderedByTheCore)
{
    const Pixels image = pattern(150, 100, 3);
    writeImage(path("in.png"), image);
    const ParamBlock block = renderOk("in.png", "out.png");

    ParamBlock expected{};
    expected.padX[1] = 35, expected.padY[0] = 55, expected.padX[3] = 50;
    expected.padX[5] = 45, expected.padY[5] = 32, expected.padX[4] = 50;
    expected.padX[6] = 30, expected.padX[7] = 20;
    expected.antialias = 1;
    expected.backgroundMode = 2;
    expected.checksum = 35 + 55 + 50 + 45 + 32 + 50 + 30 + 20;
    expected.backgroundColor = 0xFFC0C0C0u;
    expected.presetFlags = 10;
    EXPECT_EQ(std::memcmp(&block, &expected, sizeof block), 0);
    EXPECT_EQ(readImage(path("out.png")), directRender(image, block));
}

struct OptionCase {
    std::vector<std::string> args;
    std::function<bool(const ParamBlock&)> recorded;
    std::vector<std::string> baseline; // the run it must differ from (default: no options)
    uint32_t fore;                     // the host colours the options give
    uint32_t back;

    OptionCase(std::vector<std::string> args, std::function<bool(const ParamBlock&)> recorded,
               std::vector<std::string> baseline = {}, uint32_t fore = Black, uint32_t back = White)
        : args(std::move(args)), recorded(std::move(recorded)), baseline(std::move(baseline)),
          fore(fore), back(back)
    {
    }
};

TEST_F(Oryn3dTest, EachControlOptionSetsItsControlAndChangesTheImage)
{
    const Pixels image = pattern(160, 120, 3);
    writeImage(path("in.png"), image);
    Pixels mask{160, 120, 1, std::vector<uint8_t>(160 * 120, 255)};
    std::fill(mask.data.begin(), mask.data.begin() + 160 * 50, 0);
    writeImage(path("mask.png"), mask);

    const std::vector<OptionCase> cases = {
        {{"--preset", "roof"},
         [](const ParamBlock& b) {
             return b.padX[1] == 10 && b.padY[0] == 130 && b.padX[2] == 40 && b.modeBits == 2 &&
                    b.padX[6] == 30 && b.padX[7] == 20;
         }},
        {{"--cell-width", "20"}, [](const ParamBlock& b) { return b.padX[1] == 20; }},
        {{"--cell-height", "20"}, [](const ParamBlock& b) { return b.padY[0] == 20; }},
        // Bevel and the G-Shading state shape the shading, so they show only with some.
        {{"--shading", "80", "--bevel", "20"},
         [](const ParamBlock& b) { return b.padX[2] == 20 && b.padX[3] == 80; },
         {"--shading", "80"}},
        {{"--shading", "80"}, [](const ParamBlock& b) { return b.padX[3] == 80; }},
        {{"--light", "10,40"},
         [](const ParamBlock& b) { return b.padX[5] == 10 && b.padY[5] == 40; }},
        {{"--stretch", "20,30"},
         [](const ParamBlock& b) { return b.padX[4] == 20 && b.padY[4] == 30; }},
        {{"--shading", "80", "--face", "2"},
         [](const ParamBlock& b) { return b.modeBits == 2; },
         {"--shading", "80"}},
        {{"--x2"}, [](const ParamBlock& b) { return b.modeBits == 4; }},
        {{"--light-boost", "70"}, [](const ParamBlock& b) { return b.padX[6] == 70; }},
        {{"--brightness-ratio", "60"}, [](const ParamBlock& b) { return b.padX[7] == 60; }},
        {{"--no-antialias"}, [](const ParamBlock& b) { return b.antialias == 0; }},
        {{"--background", "ff8000"},
         [](const ParamBlock& b) {
             return b.backgroundMode == 2 && b.backgroundColor == 0xFF0080FFu &&
                    b.presetFlags == 10;
         }},
        {{"--background", "foreground"},
         [](const ParamBlock& b) {
             return b.backgroundMode == 0 && b.backgroundColor == 0xFFC0C0C0u && b.presetFlags == 8;
         }},
        {{"--background", "background"}, [](const ParamBlock& b) { return b.backgroundMode == 1; }},
        {{"--background", "foreground", "--foreground-color", "00FF00"},
         [](const ParamBlock& b) { return b.backgroundMode == 0; },
         {"--background", "foreground"},
         0xFF00FF00u},
        {{"--background", "background", "--background-color", "0000ff"},
         [](const ParamBlock& b) { return b.backgroundMode == 1; },
         {"--background", "background"},
         Black,
         0xFFFF0000u},
        {{"--mask", path("mask.png")}, [](const ParamBlock& b) { return b.padX[1] == 35; }},
    };
    std::map<std::vector<std::string>, Pixels> baselines;
    for (size_t i = 0; i < cases.size(); ++i) {
        const OptionCase& c = cases[i];
        const std::string shown = ::testing::PrintToString(c.args);
        const std::string out = "case" + std::to_string(i) + ".png";
        const ParamBlock block = renderOk("in.png", out, c.args);
        EXPECT_TRUE(checksumOk(block)) << shown;
        EXPECT_TRUE(c.recorded(block)) << shown;
        if (baselines.count(c.baseline) == 0) {
            renderOk("in.png", "baseline.png", c.baseline);
            baselines[c.baseline] = readImage(path("baseline.png"));
        }
        const Pixels rendered = readImage(path(out));
        EXPECT_FALSE(rendered == baselines[c.baseline]) << shown << " has no effect";

        // The tool's pixels are the core's for that record, colours and mask included.
        const Pixels* selection = c.args[0] == "--mask" ? &mask : nullptr;
        EXPECT_EQ(rendered, directRender(image, block, selection, c.fore, c.back)) << shown;
    }
}

TEST_F(Oryn3dTest, ExtremeControlValuesRenderAsTheCoreDoes)
{
    const Pixels image = pattern(90, 70, 3);
    writeImage(path("in.png"), image);
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {"--cell-width", "0", "--cell-height", "0", "--bevel", "50", "--shading", "0"},
             {"--cell-width", "300", "--cell-height", "300", "--light", "0,50", "--stretch", "50,0",
              "--x2", "--face", "2", "--light-boost", "100", "--brightness-ratio", "100"},
             {"--stretch", "0,50", "--x2", "--light", "50,0", "--shading", "100", "--face", "1",
              "--light-boost", "0", "--brightness-ratio", "0"}}) {
        const ParamBlock block = renderOk("in.png", "out.png", extra);
        EXPECT_EQ(readImage(path("out.png")), directRender(image, block))
            << ::testing::PrintToString(extra);
    }
}

TEST_F(Oryn3dTest, OutOfRangeAndMalformedValuesAreRefused)
{
    writeImage(path("in.png"), pattern(40, 30, 3));
    const std::vector<std::vector<std::string>> bad = {
        {"--cell-width", "301"},
        {"--cell-width", "-1"},
        {"--cell-height", "301"},
        {"--bevel", "51"},
        {"--shading", "101"},
        {"--light", "51,0"},
        {"--light", "0,-1"},
        {"--light", "5"},
        {"--stretch", "0,51"},
        {"--stretch", "a,b"},
        {"--face", "3"},
        {"--light-boost", "101"},
        {"--brightness-ratio", "101"},
        {"--background", "purple"},
        {"--foreground-color", "12345G"},
        {"--background-color", "1234567"},
        {"--preset", "Nope"},
        {"--bevel", "4.5"},
    };
    for (const std::vector<std::string>& option : bad) {
        std::vector<std::string> args = {"render", path("in.png"), "-o", path("out.png")};
        args.insert(args.end(), option.begin(), option.end());
        expectRefused(args, option[0]);
    }
}

TEST_F(Oryn3dTest, BadFilesAreRefusedWithOneLineAndLeaveNothing)
{
    const Pixels image = pattern(40, 30, 3);
    writeImage(path("in.png"), image);
    writeImage(path("rgba.png"), pattern(40, 30, 4));
    writeImage(path("small-mask.png"), Pixels{39, 30, 1, std::vector<uint8_t>(39 * 30, 128)});
    writeImage(path("colour-mask.png"), pattern(40, 30, 3));
    writeBytes(path("text.png"), "not an image\n", 13);
    // One column more than the host record's int16 sizes can describe.
    writeImage(path("wide.png"), Pixels{32768, 1, 3, std::vector<uint8_t>(32768 * 3, 9)});
    const std::string png = readBytes(path("in.png"));
    writeBytes(path("cut.png"), png.data(), png.size() / 2);

    ParamBlock valid = renderOk("in.png", "first.png");
    fs::remove(path("first.png"));
    writeBytes(path("short.blk"), &valid, 63);
    std::string longer(reinterpret_cast<const char*>(&valid), sizeof valid);
    writeBytes(path("long.blk"), (longer + "x").data(), 65);
    ParamBlock damaged = valid;
    damaged.padX[2] += 1;
    writeBytes(path("damaged.blk"), &damaged, sizeof damaged);

    const std::string in = path("in.png");
    const std::string out = path("out.png");
    expectRefused({"render", path("missing.png"), "-o", out}, "missing.png");
    expectRefused({"render", path("text.png"), "-o", out}, "text.png");
    expectRefused({"render", path("cut.png"), "-o", out}, "cut.png");
    expectRefused({"render", path("wide.png"), "-o", out}, "wide.png");
    expectRefused({"render", in, "-o", out, "--mask", path("small-mask.png")}, "small-mask.png");
    expectRefused({"preview", in, "-o", out, "--mask", path("colour-mask.png")}, "colour-mask.png");
    expectRefused({"render", in, "-o", out, "--mask", path("missing.png")}, "--mask");
    expectRefused({"render", in, "-o", out, "--block", path("short.blk")}, "short.blk");
    expectRefused({"render", in, "-o", out, "--block", path("long.blk")}, "long.blk");
    expectRefused({"render", in, "-o", out, "--block", path("damaged.blk")}, "damaged.blk");
    expectRefused({"render", in, "-o", path("out.bmp")}, "out.bmp");
    expectRefused({"render", path("rgba.png"), "-o", path("out.jpg"), "--background", "transparent"},
                  "out.jpg");
    expectRefused({"render", in, "-o", path("no-such-folder/out.png")}, "no-such-folder");
    expectRefused({"render", in}, "-o OUTPUT");
    expectRefused({"render", "-o", out}, "INPUT");
}

TEST_F(Oryn3dTest, SavedBlockRendersTheSameBytesAndOptionsOverrideIt)
{
    const Pixels image = pattern(120, 90, 3);
    writeImage(path("in.png"), image);
    const std::vector<std::string> options = {"--preset",     "Gutters", "--bevel",       "12",
                                              "--background", "102030",  "--no-antialias"};
    const ParamBlock saved = renderOk("in.png", "first.png", options);
    writeBytes(path("saved.blk"), &saved, sizeof saved);

    const ParamBlock replayed = renderOk("in.png", "second.png", {"--block", path("saved.blk")});
    EXPECT_EQ(std::memcmp(&replayed, &saved, sizeof saved), 0);
    EXPECT_EQ(readBytes(path("second.png")), readBytes(path("first.png")));

    // Options given with a record change only their own fields.
    const ParamBlock changed = renderOk(
        "in.png", "third.png", {"--block", path("saved.blk"), "--bevel", "30", "--antialias"});
    ParamBlock expected = saved;
    expected.padX[2] = 30;
    expected.antialias = 1;
    expected.checksum = padChecksum(expected);
    EXPECT_EQ(std::memcmp(&changed, &expected, sizeof saved), 0);
    EXPECT_EQ(readImage(path("third.png")), directRender(image, changed));
}

// A record the dialog would never write (Transparent on an RGB image, a user preset's flags,
// reserved bytes set) is still rendered and saved exactly as stored.
TEST_F(Oryn3dTest, BlockIsRenderedExactlyAsStored)
{
    const Pixels image = pattern(100, 80, 3);
    writeImage(path("in.png"), image);
    ParamBlock block = defaultParamBlock();
    const int16_t pads[16] = {0, 24, 7, 63, 30, 12, 55, 41, 17, 0, 0, 0, 9, 38, 0, 0};
    std::memcpy(block.padX, pads, sizeof pads);
    block.modeBits = 5;
    block.antialias = 1;
    block.backgroundMode = 3;
    block.backgroundColor = 0xFF336699u;
    block.presetFlags = 4;
    block.reserved35 = 0xAB;
    block.reserved[7] = 0xCD;
    block.checksum = padChecksum(block);
    writeBytes(path("user.blk"), &block, sizeof block);

    const ParamBlock used = renderOk("in.png", "out.png", {"--block", path("user.blk")});
    EXPECT_EQ(std::memcmp(&used, &block, sizeof block), 0);
    EXPECT_EQ(readImage(path("out.png")), directRender(image, block));
}

TEST_F(Oryn3dTest, PreviewIsTheDialogsSquareInRgb)
{
    for (int bands : {3, 4}) {
        const Pixels image = pattern(640, 480, bands);
        writeImage(path("in.png"), image);
        const ParamBlock block =
            renderOk("in.png", "preview.png",
                     {"--preset", "Jalousie", "--background", "transparent"}, "preview");
        const Pixels preview = readImage(path("preview.png"));
        EXPECT_EQ(preview.width, 300);
        EXPECT_EQ(preview.height, 300);
        EXPECT_EQ(preview.bands, 3);
        EXPECT_EQ(preview, directPreview(image, block)) << bands << " bands";
    }
}

TEST_F(Oryn3dTest, RgbaStaysRgbaAndGreyBecomesRgb)
{
    const Pixels rgba = pattern(120, 90, 4);
    writeImage(path("rgba.png"), rgba);
    for (const char* out : {"rgba-out.png", "rgba-out.tif", "rgba-out.webp"}) {
        const ParamBlock block = renderOk("rgba.png", out, {"--background", "transparent"});
        EXPECT_EQ(block.backgroundMode, 3);
        const Pixels rendered = readImage(path(out));
        EXPECT_EQ(rendered.bands, 4) << out;
        // Lossy WebP changes the pixels; the other two keep them.
        if (std::string(out).find(".webp") == std::string::npos) {
            EXPECT_EQ(rendered, directRender(rgba, block)) << out;
        }
    }

    // Grey is rendered as the RGB image with the grey value in all three channels.
    const Pixels greyAlpha = pattern(100, 80, 2);
    writeImage(path("grey-alpha.png"), greyAlpha);
    Pixels grey{100, 80, 1, {}};
    Pixels asRgb{100, 80, 3, {}};
    Pixels asRgba{100, 80, 4, {}};
    for (size_t i = 0; i < greyAlpha.data.size(); i += 2) {
        grey.data.push_back(greyAlpha.data[i]);
        asRgb.data.insert(asRgb.data.end(), 3, greyAlpha.data[i]);
        asRgba.data.insert(asRgba.data.end(), 3, greyAlpha.data[i]);
        asRgba.data.push_back(greyAlpha.data[i + 1]);
    }
    writeImage(path("grey.png"), grey);
    const ParamBlock block = renderOk("grey.png", "grey-out.png");
    EXPECT_EQ(readImage(path("grey-out.png")), directRender(asRgb, block));
    renderOk("grey-alpha.png", "grey-alpha-out.png");
    EXPECT_EQ(readImage(path("grey-alpha-out.png")), directRender(asRgba, block));
}

TEST_F(Oryn3dTest, SixteenBitInputWarnsAndKeepsTheHighByte)
{
    const Pixels image = pattern(80, 60, 3);
    std::vector<uint16_t> wide(image.data.size());
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = uint16_t(image.data[i] * 256 + (i % 251));
    writeImage(path("wide.png"), image, nullptr, &wide);

    const ToolRun run =
        tool({"render", path("wide.png"), "-o", path("out.png"), "--save-block", path("out.blk")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("16-bit"), std::string::npos) << run.err;
    const Pixels rendered = readImage(path("out.png"));
    EXPECT_EQ(rendered, directRender(image, readBlock(path("out.blk"))));
}

TEST_F(Oryn3dTest, ColourProfileExifAndXmpAreKept)
{
    VipsBlob* profile = nullptr;
    ASSERT_EQ(vips_profile_load("srgb", &profile, nullptr), 0);
    size_t profileSize = 0;
    const void* profileData = vips_blob_get(profile, &profileSize);
    const std::string icc(static_cast<const char*>(profileData), profileSize);
    vips_area_unref(VIPS_AREA(profile));
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/></x:xmpmeta>";
    writeImage(path("photo.jpg"), pattern(96, 64, 3), [&](VipsImage* im) {
        vips_image_set_blob_copy(im, VIPS_META_ICC_NAME, icc.data(), icc.size());
        vips_image_set_blob_copy(im, VIPS_META_XMP_NAME, xmp.data(), xmp.size());
        vips_image_set_string(im, "exif-ifd0-Artist", "Oryn Tester");
    });

    auto blob = [](VipsImage* im, const char* name) {
        const void* data = nullptr;
        size_t size = 0;
        if (vips_image_get_blob(im, name, &data, &size) != 0)
            return std::string();
        return std::string(static_cast<const char*>(data), size);
    };
    // TIFF output keeps the profile and XMP; libvips writes no EXIF into TIFF.
    for (const char* out : {"out.jpg", "out.png", "out.webp", "out.tif", "preview.png"}) {
        renderOk("photo.jpg", out, {}, std::string(out) == "preview.png" ? "preview" : "render");
        ImageRef read;
        read.image = vips_image_new_from_file(path(out).c_str(), nullptr);
        ASSERT_NE(read.image, nullptr) << out;
        EXPECT_EQ(blob(read.image, VIPS_META_ICC_NAME), icc) << out;
        EXPECT_NE(blob(read.image, VIPS_META_XMP_NAME).find("adobe:ns:meta"), std::string::npos)
            << out;
        if (std::string(out) == "out.tif")
            continue;
        const char* artist = nullptr;
        ASSERT_EQ(vips_image_get_string(read.image, "exif-ifd0-Artist", &artist), 0) << out;
        EXPECT_EQ(std::string(artist).rfind("Oryn Tester", 0), 0u) << out << ": " << artist;
    }
}

TEST_F(Oryn3dTest, ProgressBarOnlyOnATerminalWithoutQuiet)
{
    writeImage(path("in.png"), pattern(400, 300, 3));
    auto onTerminal = [&](std::vector<std::string> args) {
        std::vector<char*> argv = argvOf(ORYN3D_PATH, args);
        int terminal = -1;
        const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0) {
            execv(ORYN3D_PATH, argv.data());
            _exit(127);
        }
        std::string shown;
        char buffer[256];
        ssize_t got;
        while ((got = read(terminal, buffer, sizeof buffer)) > 0)
            shown.append(buffer, size_t(got));
        close(terminal);
        int waitStatus = 0;
        waitpid(pid, &waitStatus, 0);
        EXPECT_EQ(statusOf(waitStatus), 0) << shown;
        return shown;
    };
    const std::string bar = onTerminal({"render", path("in.png"), "-o", path("a.png")});
    EXPECT_NE(bar.find("rendering ["), std::string::npos) << bar;
    EXPECT_NE(bar.find("%"), std::string::npos) << bar;
    // A batch shows each file and its place in the batch.
    fs::create_directory(path("batch"));
    const std::string batch =
        onTerminal({"render", path("in.png"), path("a.png"), "-o", path("batch")});
    EXPECT_NE(batch.find("[2/2] a.png rendering ["), std::string::npos) << batch;
    EXPECT_NE(batch.find("2 of 2 images written"), std::string::npos) << batch;
    const std::string quiet = onTerminal({"render", path("in.png"), "-o", path("b.png"), "-q"});
    EXPECT_EQ(quiet.find("rendering"), std::string::npos) << quiet;
    EXPECT_EQ(tool({"render", path("in.png"), "-o", path("c.png")}).err, "");
}

TEST_F(Oryn3dTest, SampleGeneratorIsDeterministic)
{
    for (const char* name : {"one.png", "two.png"})
        EXPECT_EQ(finish(start(SAMPLEGEN_PATH, {path(name)})).status, 0);
    EXPECT_EQ(readBytes(path("one.png")), readBytes(path("two.png")));
    const Pixels sample = readImage(path("one.png"));
    EXPECT_EQ(sample.width, 1600);
    EXPECT_EQ(sample.height, 1066);
    EXPECT_EQ(sample.bands, 3);
}

} // namespace
} // namespace oryn
