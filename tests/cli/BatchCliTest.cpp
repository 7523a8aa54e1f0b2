// oryn3d for batch work and scripts: many inputs into a folder, encoding options, the
// inputs people have, pipes, the man page, completions and install rules, --threads, JSON and
// --dry-run; and the memory a full-size render takes. Every case runs the
// built tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "params/ParamBlock.h"
#include "tests/cli/CliTestSupport.h"

namespace oryn {
namespace {

size_t lineCount(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// A "photo" that differs from file to file.
Pixels photo(int k)
{
    Pixels p = pattern(64 + k % 7, 48 + k % 5, 3);
    for (size_t i = 0; i < p.data.size(); ++i)
        p.data[i] = uint8_t(p.data[i] + k * 37);
    return p;
}

// Fifty inputs with a damaged one in the middle: 49 outputs named after their inputs, one line
// for the bad file, a summary, exit status 1, and no temporary file anywhere.
TEST_F(Oryn3dTest, BatchGoesOnPastABadFile)
{
    fs::create_directory(path("photos"));
    fs::create_directory(path("out"));
    std::vector<std::string> args = {"render"};
    for (int k = 0; k < 50; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "photos/p%02d.png", k);
        if (k == 25)
            writeBytes(path(name), "\x89PNG\r\n\x1a\n broken", 16);
        else
            writeImage(path(name), photo(k));
        args.push_back(path(name));
    }
    args.insert(args.end(),
                {"-o", path("out/"), "--preset", "Roof", "--save-block", path("used.oryn")});
    const ToolRun run = tool(args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(lineCount(run.err), 2u) << run.err;
    EXPECT_NE(run.err.find("p25.png: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("49 of 50 images written; 1 failed"), std::string::npos) << run.err;

    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(path("out")))
        written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    ASSERT_EQ(written.size(), 49u);
    EXPECT_EQ(std::count(written.begin(), written.end(), "p25.png"), 0);
    for (const std::string& name : written)
        EXPECT_NE(name[0], '.') << name;
    for (const auto& entry : fs::directory_iterator(path("photos")))
        EXPECT_NE(entry.path().filename().string()[0], '.');
    const ParamBlock block = readBlock(path("used.oryn"));
    for (int k : {0, 24, 26, 49}) {
        char name[16];
        std::snprintf(name, sizeof name, "p%02d.png", k);
        EXPECT_EQ(readImage(path("out/") + name), directRender(photo(k), block)) << name;
    }
}

// Output names and formats of a batch: the input's name, --format changing the extension; two
// inputs that would write one file, or an input that would be replaced, stop the run first.
TEST_F(Oryn3dTest, BatchOutputNamesAndRefusals)
{
    writeImage(path("a.png"), photo(1));
    writeImage(path("b.jpg"), photo(2));
    writeImage(path("c.ppm"), photo(3));
    fs::create_directory(path("out"));
    const ToolRun run = tool({"render", path("a.png"), path("b.jpg"), path("c.ppm"), "-o",
                              path("out"), "--no-remember"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(path("out/a.png")));
    EXPECT_TRUE(fs::exists(path("out/b.jpg")));
    EXPECT_TRUE(fs::exists(path("out/c.png"))); // PPM is read, not written
    EXPECT_EQ(tool({"render", path("a.png"), path("b.jpg"), "-o", path("out"), "--format", "webp",
                    "--no-remember"})
                  .status,
              0);
    EXPECT_TRUE(fs::exists(path("out/a.webp")));
    EXPECT_TRUE(fs::exists(path("out/b.webp")));
    // A single input into an existing folder keeps its name.
    fs::create_directory(path("one"));
    EXPECT_EQ(tool({"render", path("a.png"), "-o", path("one"), "--no-remember"}).status, 0);
    EXPECT_TRUE(fs::exists(path("one/a.png")));

    writeImage(path("a.tif"), photo(4));
    fs::create_directory(path("empty"));
    const std::vector<std::string> before = files();
    expectRefused({"render", path("a.png"), path("a.tif"), "-o", path("empty"), "--format", "png"},
                  "both");
    expectRefused({"render", path("a.png"), path("b.jpg"), "-o", dir}, "its own result");
    expectRefused({"render", path("a.png"), path("b.jpg"), "-o", path("missing/")}, "folder");
    expectRefused({"render", path("a.png"), path("b.jpg"), "-o", "-"}, "standard output");
    EXPECT_TRUE(fs::is_empty(path("empty")));
}

// --quality, --lossless, --png-level and --compression reach the encoder; lossless outputs keep
// the rendered pixels exactly.
TEST_F(Oryn3dTest, EncodingOptionsReachTheFile)
{
    const Pixels image = pattern(200, 150, 3);
    writeImage(path("in.png"), image);
    const ParamBlock block = renderOk("in.png", "plain.png");
    const Pixels expected = directRender(image, block);
    auto size = [&](const char* name) { return fs::file_size(path(name)); };

    renderOk("in.png", "q30.jpg", {"--quality", "30"});
    renderOk("in.png", "q95.jpg", {"--quality", "95"});
    EXPECT_LT(size("q30.jpg") * 2, size("q95.jpg"));
    renderOk("in.png", "lossy.webp", {"--quality", "20"});
    renderOk("in.png", "lossless.webp", {"--lossless"});
    EXPECT_LT(size("lossy.webp"), size("lossless.webp"));
    EXPECT_EQ(readImage(path("lossless.webp")), expected);
    renderOk("in.png", "fast.png", {"--png-level", "0"});
    EXPECT_GT(size("fast.png"), size("plain.png"));
    EXPECT_EQ(readImage(path("fast.png")), expected);
    for (const char* method : {"none", "lzw", "deflate", "zstd"}) {
        const std::string name = std::string(method) + ".tif";
        renderOk("in.png", name, {"--compression", method});
        EXPECT_EQ(readImage(path(name)), expected) << method;
    }
    EXPECT_GE(size("none.tif"), 200u * 150 * 3);
    EXPECT_LT(size("deflate.tif"), size("none.tif"));
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--quality", "0"},
                                               {"--quality", "101"},
                                               {"--png-level", "10"},
                                               {"--compression", "lzma"}}) {
        std::vector<std::string> args = {"render", path("in.png"), "-o", path("x.png")};
        args.insert(args.end(), bad.begin(), bad.end());
        expectRefused(args, bad[0]);
    }
}

// Formats beyond the four the tool writes, CMYK through its profile, and a one-line hint for
// what cannot be converted.
TEST_F(Oryn3dTest, InputsInOtherFormatsAndColourSpaces)
{
    const Pixels image = pattern(80, 60, 3);
    writeImage(path("in.ppm"), image);
    writeImage(path("in.gif"), image);
    const ParamBlock block = renderOk("in.ppm", "ppm.png");
    EXPECT_EQ(readImage(path("ppm.png")), directRender(image, block));
    // GIF holds a palette and AVIF is lossy, so only the size and channels are compared. AVIF
    // is tried where this libvips can write it for the test.
    std::vector<std::string> lossy = {"in.gif"};
    if (vips_type_find("VipsOperation", "heifsave") != 0 &&
        vips_image_write_to_file(
            ImageRef{vips_image_new_from_file(path("in.ppm").c_str(), nullptr)}.image,
            path("in.avif").c_str(), nullptr) == 0)
        lossy.push_back("in.avif");
    vips_error_clear();
    for (const std::string& input : lossy) {
        renderOk(input, input + ".png");
        const Pixels rendered = readImage(path(input + ".png"));
        EXPECT_EQ(rendered.width, 80) << input;
        EXPECT_EQ(rendered.bands, 3) << input;
    }

    // CMYK: four bands that are not RGBA.
    {
        ImageRef rgb;
        rgb.image = vips_image_new_from_file(path("in.ppm").c_str(), nullptr);
        ImageRef cmyk;
        ASSERT_EQ(vips_icc_export(rgb.image, &cmyk.image, "output_profile", "cmyk", nullptr), 0)
            << vips_error_buffer();
        ASSERT_EQ(vips_image_write_to_file(cmyk.image, path("cmyk.jpg").c_str(), nullptr), 0);
    }
    const ToolRun cmyk = tool({"render", path("cmyk.jpg"), "-o", path("cmyk.png")});
    EXPECT_EQ(cmyk.status, 0) << cmyk.err;
    EXPECT_NE(cmyk.err.find("CMYK converted to sRGB"), std::string::npos) << cmyk.err;
    const Pixels fromCmyk = readImage(path("cmyk.png"));
    EXPECT_EQ(fromCmyk.bands, 3);
    EXPECT_EQ(fromCmyk.width, 80);

    // Floating-point RGB is linear light: converted. 32-bit integers are not: refused, with the
    // way to convert them.
    for (const VipsBandFormat format : {VIPS_FORMAT_FLOAT, VIPS_FORMAT_INT}) {
        ImageRef rgb;
        rgb.image = vips_image_new_from_file(path("in.ppm").c_str(), nullptr);
        ImageRef cast;
        ASSERT_EQ(vips_cast(rgb.image, &cast.image, format, nullptr), 0);
        ASSERT_EQ(vips_image_write_to_file(cast.image, path("cast.tif").c_str(), nullptr), 0);
        if (format == VIPS_FORMAT_FLOAT) {
            const ToolRun run = tool({"render", path("cast.tif"), "-o", path("float.png")});
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_NE(run.err.find("converted to sRGB"), std::string::npos) << run.err;
            EXPECT_EQ(readImage(path("float.png")).bands, 3);
        } else {
            expectRefused({"render", path("cast.tif"), "-o", path("int.png")}, "8 or 16 bits");
        }
    }
}

// '-' reads standard input and writes standard output; presets export writes to '-'.
TEST_F(Oryn3dTest, PipesThroughStandardInputAndOutput)
{
    const Pixels image = pattern(90, 70, 3);
    writeImage(path("in.png"), image);
    const ParamBlock block = renderOk("in.png", "file.png");
    const ToolRun piped =
        toolWithInput({"render", "-", "-o", "-", "--format", "png"}, path("in.png"));
    EXPECT_EQ(piped.status, 0) << piped.err;
    writeBytes(path("piped.png"), piped.out.data(), piped.out.size());
    EXPECT_EQ(readImage(path("piped.png")), directRender(image, block));

    expectRefused({"render", path("in.png"), "-o", "-"}, "--format");
    EXPECT_NE(toolWithInput({"render", "-", "-o", path("x.png")}, "/dev/null").status, 0);

    EXPECT_EQ(tool({"presets", "save", "Mine", "--bevel", "7"}).status, 0);
    ASSERT_EQ(tool({"presets", "export", "Mine", path("mine.oryn")}).status, 0);
    const ToolRun exported = tool({"presets", "export", "Mine", "-"});
    EXPECT_EQ(exported.status, 0);
    EXPECT_EQ(exported.out, readBytes(path("mine.oryn")));
    EXPECT_EQ(toolWithInput({"presets", "import", "-", "Again"}, path("mine.oryn")).status, 0);
    EXPECT_EQ(tool({"presets", "export", "Again", "-"}).out, exported.out);
}

// The version, the man page and the completions come from the option table, so every option
// of the help pages is in them; cmake --install puts the tool, the page and the completions in
// place.
TEST_F(Oryn3dTest, VersionManPageCompletionsAndInstall)
{
    const ToolRun version = tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("oryn3d 1.", 0), 0u) << version.out;

    const std::string man = tool({"--man-page"}).out;
    const std::string bash = tool({"--completion", "bash"}).out;
    const std::string fish = tool({"--completion", "fish"}).out;
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"render"},
                                               {"preview"},
                                               {"presets", "save"},
                                               {"presets", "list"},
                                               {"presets", "show"},
                                               {"presets", "import"}}) {
        const std::string topic = ::testing::PrintToString(args);
        args.push_back("--help");
        const std::string help = tool(args).out;
        int options = 0;
        // Option lines start with "  -"; the option's long name is the first "--" word.
        for (size_t from = 0; from < help.size();) {
            const size_t end = std::min(help.find('\n', from), help.size());
            const std::string line = help.substr(from, end - from);
            from = end + 1;
            const size_t at = line.find("--");
            if (line.compare(0, 3, "  -") != 0 || at == std::string::npos)
                continue;
            const std::string option = line.substr(at, line.find(' ', at) - at);
            std::string roff;
            for (char c : option)
                roff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(man.find(roff), std::string::npos) << option;
            EXPECT_NE(bash.find(option), std::string::npos) << option;
            EXPECT_NE(fish.find("-l " + option.substr(2)), std::string::npos) << option;
            ++options;
        }
        EXPECT_GT(options, 1) << topic;
    }
    writeBytes(path("oryn3d.bash"), bash.data(), bash.size());
    EXPECT_EQ(std::system(("bash -n '" + path("oryn3d.bash") + "'").c_str()), 0);
    // zsh and fish are not build dependencies; their scripts are checked where they exist.
    for (const char* shell : {"zsh", "fish"}) {
        if (std::system((std::string("command -v ") + shell + " > /dev/null").c_str()) != 0)
            continue;
        const std::string script = tool({"--completion", shell}).out;
        writeBytes(path("completion"), script.data(), script.size());
        EXPECT_EQ(std::system((std::string(shell) + " -n '" + path("completion") + "'").c_str()), 0)
            << shell;
    }
    expectRefused({"--completion", "tcsh"}, "bash, zsh or fish");

    const std::string prefix = root + "/prefix";
    const std::string install = "cmake --install '" + std::string(ORYN_BINARY_DIR) +
                                "' --component oryn3d --prefix '" + prefix + "' > /dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    for (const char* file :
         {"bin/oryn3d", "share/man/man1/oryn3d.1", "share/bash-completion/completions/oryn3d",
          "share/zsh/site-functions/_oryn3d", "share/fish/vendor_completions.d/oryn3d.fish"})
        EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;
    EXPECT_EQ(finish(start(prefix + "/bin/oryn3d", {"--version"})).out, version.out);
}

// --threads and ORYN_THREADS are read; the bytes do not depend on them.
TEST_F(Oryn3dTest, ThreadsOptionAndEnvironment)
{
    const Pixels image = pattern(300, 200, 4);
    writeImage(path("in.png"), image);
    renderOk("in.png", "one.png", {"--threads", "1"});
    renderOk("in.png", "all.png", {"--threads", "0"});
    renderOk("in.png", "three.png", {"--threads", "3"});
    EXPECT_EQ(readBytes(path("one.png")), readBytes(path("all.png")));
    EXPECT_EQ(readBytes(path("one.png")), readBytes(path("three.png")));
    expectRefused({"render", path("in.png"), "-o", path("x.png"), "--threads", "many"},
                  "--threads");

    setenv("ORYN_THREADS", "1", 1);
    const ToolRun fromEnvironment =
        tool({"render", path("in.png"), "-o", path("x.png"), "--dry-run", "--json"});
    const ToolRun optionWins = tool(
        {"render", path("in.png"), "-o", path("x.png"), "--dry-run", "--json", "--threads", "2"});
    unsetenv("ORYN_THREADS");
    EXPECT_NE(fromEnvironment.out.find("\"threads\": 1,"), std::string::npos)
        << fromEnvironment.out;
    EXPECT_NE(optionWins.out.find("\"threads\": 2,"), std::string::npos) << optionWins.out;
}

// For scripts: presets show --json, presets show FILE without importing it, and --dry-run that
// prints the settings (as text or JSON) and touches nothing.
TEST_F(Oryn3dTest, JsonRecordFilesAndDryRun)
{
    writeImage(path("in.png"), pattern(60, 40, 3));
    const ParamBlock block =
        renderOk("in.png", "out.png", {"--preset", "Gutters", "--bevel", "12", "--no-remember"});
    writeBytes(path("settings.oryn"), &block, sizeof block);

    const ToolRun json = tool({"presets", "show", path("settings.oryn"), "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    for (const char* field : {"\"kind\": \"file\"", "\"bevel\": 12",
                              "\"cell-width\": ", "\"light\": [", "\"checksum-valid\": true"})
        EXPECT_NE(json.out.find(field), std::string::npos) << field << json.out;
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");
    // Showing a file does not import it: no store was made.
    EXPECT_FALSE(fs::exists(storePath()));
    const ToolRun text = tool({"presets", "show", path("settings.oryn")});
    EXPECT_NE(text.out.find("--bevel 12"), std::string::npos) << text.out;

    // The dry run prints the record the render would use, the same as --save-block writes.
    const std::vector<std::string> before = files();
    const ToolRun dry = tool({"render", path("in.png"), "-o", path("new.png"), "--preset",
                              "Gutters", "--bevel", "12", "--dry-run", "--json"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(files(), before);
    EXPECT_FALSE(fs::exists(storePath()));
    EXPECT_NE(dry.out.find("\"output\": \"" + path("new.png") + "\""), std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("\"checksum\": " + std::to_string(block.checksum)), std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("\"bevel\": 12"), std::string::npos) << dry.out;
    const ToolRun dryText =
        tool({"render", path("in.png"), "-o", path("new.png"), "--bevel", "12", "--dry-run"});
    EXPECT_NE(dryText.out.find("--bevel 12"), std::string::npos) << dryText.out;
    EXPECT_NE(dryText.out.find(path("new.png")), std::string::npos) << dryText.out;
}

// The render holds neither the input nor the output whole: without skew its peak
// memory above a tiny render's is a small allowance, the same for an image three times as tall;
// with the default skew it holds a window of source rows some cells high, far less than the image.
TEST_F(Oryn3dTest, PeakMemoryDoesNotGrowWithTheImage)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine make the peak meaningless";
#endif
    const int width = 4000, height = 3000;
    writeImage(path("short.tif"), pattern(width, height, 3));
    writeImage(path("tall.tif"), pattern(width, 3 * height, 3));
    writeImage(path("tiny.tif"), pattern(16, 16, 3));
    const std::vector<std::string> flat = {"-q", "--stretch", "25,25"};
    auto render = [&](const char* in, const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"render", path(in), "-o", path("out.tif")};
        args.insert(args.end(), extra.begin(), extra.end());
        const ToolRun run = tool(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.maxRssKiB;
    };
    const long tiny = render("tiny.tif", flat);
    const long shortPeak = render("short.tif", flat);
    const long tallPeak = render("tall.tif", flat);
    const long image = long(width) * height * 3 / 1024; // KiB
    const long allowance = 24 * 1024; // KiB: libvips' strip buffers, the codecs', the window's
    EXPECT_LE(shortPeak - tiny, allowance)
        << "peak " << shortPeak << " KiB, tiny " << tiny << " KiB, image " << image << " KiB";
    EXPECT_LE(tallPeak - shortPeak, 6 * 1024)
        << "three times the rows: peak " << tallPeak << " KiB against " << shortPeak << " KiB";

    // The default settings skew the cells, which are 30 times the preview's here: the window
    // spans some of them, and stays well below half the tall image (1.5 short ones).
    const long skewed = render("tall.tif", {"-q"});
    EXPECT_LE(skewed - tiny, 3 * image / 2) << "peak " << skewed << " KiB";

    // A photo stored sideways is read with random access to be turned upright: libvips holds
    // the decoded source then, and the render adds no more than before.
    writeImage(path("side.jpg"), pattern(height, width, 3),
               [](VipsImage* im) { vips_image_set_int(im, VIPS_META_ORIENTATION, 6); });
    const ToolRun turned = tool({"render", path("side.jpg"), "-o", path("side-out.tif"), "-q"});
    ASSERT_EQ(turned.status, 0) << turned.err;
    EXPECT_EQ(readImage(path("side-out.tif")).width, width);
    EXPECT_LE(turned.maxRssKiB - tiny, image + allowance) << "peak " << turned.maxRssKiB << " KiB";
}

} // namespace
} // namespace oryn
