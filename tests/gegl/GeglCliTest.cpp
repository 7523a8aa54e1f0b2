// The `gegl` command with the built module against `oryn3d render`: the same settings give the
// same decoded pixels, for every sample, with and without alpha, with a transparent background,
// without antialiasing and with options given one by one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "tests/gegl/PixelFiles.h"

namespace {

using namespace oryn_test;

class GeglCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(VIPS_INIT("GeglCliTest"), 0);
    }

    void SetUp() override
    {
        char pattern[] = "/tmp/oryn-gegl-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // Our module and GEGL's own operations (the PNG loader and saver), nothing from the
        // user's plug-in folder.
        setenv("GEGL_PATH", (std::string(ORYN_GEGL_MODULE_DIR) + ":" + GEGL_SYSTEM_DIR).c_str(), 1);
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        rgb = dir / "rgb.png";
        rgba = dir / "rgba.png";
        ASSERT_TRUE(writeTestImages(SAMPLEGEN_PATH, 320, 213, rgb, rgba));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Renders `input` with `gegl ... -- oryn:relief PROPS` and with `oryn3d render OPTIONS` and
    // compares the pixels.
    ::testing::AssertionResult sameAsOryn3d(const fs::path& input, const std::string& props,
                                            const std::string& options)
    {
        const fs::path fromGegl = dir / "gegl.png";
        const fs::path fromTool = dir / "oryn3d.png";
        fs::remove(fromGegl);
        fs::remove(fromTool);
        const std::string gegl = "gegl " + quoted(input) + " -o " + quoted(fromGegl) +
                                 " -- oryn:relief " + props + " 2>" + quoted(dir / "gegl.err");
        if (run(gegl) != 0 || !fs::exists(fromGegl))
            return ::testing::AssertionFailure() << "failed: " << gegl;
        const std::string tool = std::string(ORYN3D_PATH) + " render " + quoted(input) + " -o " +
                                 quoted(fromTool) + " -q --no-remember " + options;
        if (run(tool) != 0)
            return ::testing::AssertionFailure() << "failed: " << tool;
        ::testing::AssertionResult same = samePixels(fromGegl, fromTool);
        if (!same)
            same << " (gegl: " << props << "; oryn3d: " << options << ")";
        return same;
    }

    fs::path dir, rgb, rgba;
};

struct Case {
    const char* props;
    const char* options;
};

// Every sample by its property value and its name.
const Case SampleCases[] = {
    {"preset=jalousie", "--preset Jalousie"},
    {"preset=herring-bone", "--preset Herring-Bone"},
    {"preset=orystone", "--preset Orystone"},
    {"preset=front-bricks", "--preset 'Front Bricks'"},
    {"preset=roof", "--preset Roof"},
    {"preset=embossed-wrapper", "--preset 'Embossed Wrapper'"},
    {"preset=jabot", "--preset Jabot"},
    {"preset=gutters", "--preset Gutters"},
    {"preset=cellulary", "--preset Cellulary"},
};

// The dialog's opening state, a transparent background, no antialiasing, a background colour,
// and every other control set away from its default.
const Case SettingCases[] = {
    {"", ""},
    {"transparent=true", "--background transparent"},
    {"antialias=false", "--no-antialias"},
    {"background=#804020", "--background 804020"},
    {"preset=roof transparent=true antialias=false light-boost=70",
     "--preset Roof --background transparent --no-antialias --light-boost 70"},
    {"preset=gutters brightness-ratio=55 background=#102030",
     "--preset Gutters --brightness-ratio 55 --background 102030"},
    {"cell-width=12 cell-height=80 bevel=20 shading=80 light-x=10 light-y=40 stretch-x=15 "
     "stretch-y=35 face=2 x2=true light-boost=0 brightness-ratio=100",
     "--cell-width 12 --cell-height 80 --bevel 20 --shading 80 --light 10,40 --stretch 15,35 "
     "--face 2 --x2 --light-boost 0 --brightness-ratio 100"},
    {"cell-width=300 cell-height=1 face=1 shading=0", "--cell-width 300 --cell-height 1 --face 1 "
                                                      "--shading 0"},
};

TEST_F(GeglCli, EverySampleMatchesOryn3dOnRgbAndRgba)
{
    for (const Case& c : SampleCases) {
        EXPECT_TRUE(sameAsOryn3d(rgb, c.props, c.options));
        EXPECT_TRUE(sameAsOryn3d(rgba, c.props, c.options));
    }
}

TEST_F(GeglCli, SettingsMatchOryn3dOnRgbAndRgba)
{
    for (const Case& c : SettingCases) {
        EXPECT_TRUE(sameAsOryn3d(rgb, c.props, c.options));
        EXPECT_TRUE(sameAsOryn3d(rgba, c.props, c.options));
    }
}

// A transparent background on an image without alpha adds an alpha plane, as oryn3d does.
TEST_F(GeglCli, TransparentBackgroundOnRgbWritesAlpha)
{
    ASSERT_TRUE(sameAsOryn3d(rgb, "preset=jalousie transparent=true", "--preset Jalousie "
                                                                     "--background transparent"));
    Pixels out;
    ASSERT_TRUE(readPixels(dir / "gegl.png", out));
    EXPECT_EQ(out.bands, 4);
    bool anyClear = false;
    for (size_t i = 3; i < out.data.size(); i += 4)
        anyClear = anyClear || out.data[i] == 0;
    EXPECT_TRUE(anyClear);
}

// Values outside a property's range are clamped to it, so they render as the range's end.
TEST_F(GeglCli, OutOfRangeValuesAreClamped)
{
    EXPECT_TRUE(sameAsOryn3d(rgb, "cell-width=900 bevel=-4 light-boost=1000 face=7",
                             "--cell-width 300 --bevel 0 --light-boost 100 --face 2"));
    EXPECT_EQ(std::string(), [&] {
        std::string text;
        FILE* f = std::fopen((dir / "gegl.err").c_str(), "r");
        if (f != nullptr) {
            char line[512];
            while (std::fgets(line, sizeof line, f) != nullptr) {
                if (std::strstr(line, "out of range") != nullptr)
                    text += line;
            }
            std::fclose(f);
        }
        return text;
    }());
}

// One pixel and a one-row image render as oryn3d renders them.
TEST_F(GeglCli, TinyImagesMatchOryn3d)
{
    for (const char* size : {"1 1", "7 1", "1 9"}) {
        const fs::path tiny = dir / "tiny.png";
        ASSERT_EQ(run(std::string(SAMPLEGEN_PATH) + " " + quoted(tiny) + " " + size), 0);
        EXPECT_TRUE(sameAsOryn3d(tiny, "", "")) << size;
        EXPECT_TRUE(sameAsOryn3d(tiny, "transparent=true preset=cellulary",
                                 "--background transparent --preset Cellulary"))
            << size;
    }
}

} // namespace
