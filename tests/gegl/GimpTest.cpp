// GIMP 2.10 started headless with the module in the user's GEGL plug-in folder and a test
// plug-in in a private profile: GIMP and the plug-in find oryn:relief, apply it to loaded PNGs,
// and the exported pixels equal `oryn3d render` with the same settings; a selection limits the
// change to the selected pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include <unistd.h>

#include "tests/gegl/PixelFiles.h"

namespace {

using namespace oryn_test;

struct Case {
    const char* image; // "rgb" or "rgba"
    const char* props;
    const char* options;
    bool addAlpha; // give the layer an alpha channel first, as oryn3d does for transparency
};

const Case Cases[] = {
    {"rgb", "", "", false},
    {"rgba", "", "", false},
    {"rgb", "preset=jalousie", "--preset Jalousie", false},
    {"rgba", "preset=herring-bone", "--preset Herring-Bone", false},
    {"rgb", "preset=orystone", "--preset Orystone", false},
    {"rgba", "preset=front-bricks", "--preset 'Front Bricks'", false},
    {"rgb", "preset=roof", "--preset Roof", false},
    {"rgba", "preset=embossed-wrapper", "--preset 'Embossed Wrapper'", false},
    {"rgb", "preset=jabot", "--preset Jabot", false},
    {"rgba", "preset=gutters", "--preset Gutters", false},
    {"rgb", "preset=cellulary", "--preset Cellulary", false},
    {"rgba", "transparent=true preset=roof", "--background transparent --preset Roof", false},
    {"rgb", "transparent=true preset=jabot", "--background transparent --preset Jabot", true},
    {"rgb", "antialias=false background=#804020 light-boost=65",
     "--no-antialias --background 804020 --light-boost 65", false},
    {"rgba", "cell-width=20 cell-height=90 bevel=15 shading=75 light-x=5 light-y=45 stretch-x=30 "
             "stretch-y=10 face=1 x2=true brightness-ratio=60",
     "--cell-width 20 --cell-height 90 --bevel 15 --shading 75 --light 5,45 --stretch 30,10 "
     "--face 1 --x2 --brightness-ratio 60",
     false},
};

class Gimp : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("GimpTest"), 0); }

    void SetUp() override
    {
        char pattern[] = "/tmp/oryn-gimp-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        for (const char* sub : {"profile/plug-ins", "profile/gradients", "data/gegl-0.4/plug-ins",
                                "home", "config", "cache"})
            fs::create_directories(dir / sub);
        // The module where a user installs it, the test plug-in in GIMP's profile.
        fs::copy_file(ORYN_GEGL_MODULE, dir / "data/gegl-0.4/plug-ins/oryn-relief.so");
        fs::copy_file(ORYN_GIMP_PLUGIN, dir / "profile/plug-ins/oryn-relief-test");
        ASSERT_TRUE(writeTestImages(SAMPLEGEN_PATH, 240, 170, dir / "rgb.png", dir / "rgba.png"));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Runs Script-Fu batch commands in a headless GIMP whose profile, data, cache and home are
    // all inside the test folder. Returns GIMP's exit status.
    int runGimp(const std::string& commands)
    {
        const fs::path script = dir / "batch.scm";
        std::ofstream(script) << commands << "\n(gimp-quit 0)\n";
        const std::string env = "cd " + quoted(dir) + " && env -u GEGL_PATH HOME=" +
                                quoted(dir / "home") + " GIMP2_DIRECTORY=" +
                                quoted(dir / "profile") + " XDG_DATA_HOME=" + quoted(dir / "data") +
                                " XDG_CONFIG_HOME=" + quoted(dir / "config") +
                                " XDG_CACHE_HOME=" + quoted(dir / "cache") + " ";
        return run(env + "timeout 300 " + GIMP_CONSOLE +
                   " -i -d -f -n --no-splash -b - < batch.scm > gimp.log 2>&1");
    }

    std::string log()
    {
        std::ifstream in(dir / "gimp.log");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Script-Fu that loads `image`.png, applies `props` (after an optional selection and alpha
    // channel) and exports `out` with the colour of transparent pixels kept.
    static std::string applyCommand(const std::string& image, const std::string& props,
                                    const std::string& out, bool addAlpha,
                                    const std::string& selection = "")
    {
        return "(let* ((image (car (file-png-load 1 \"" + image + ".png\" \"" + image +
               ".png\"))) (layer (car (gimp-image-get-active-drawable image)))) " +
               (addAlpha ? "(gimp-layer-add-alpha layer) " : "") + selection +
               "(plug-in-oryn-relief-test 1 image layer \"oryn:relief " + props + "\") " +
               "(file-png-save2 1 image layer \"" + out + "\" \"" + out +
               "\" 0 9 0 0 0 0 0 0 1) (gimp-image-delete image))\n";
    }

    ::testing::AssertionResult renderWithOryn3d(const std::string& image,
                                                const std::string& options, const fs::path& out)
    {
        const std::string tool = std::string(ORYN3D_PATH) + " render " +
                                 quoted(dir / (image + ".png")) + " -o " + quoted(out) +
                                 " -q --no-remember " + options;
        if (run("env XDG_CONFIG_HOME=" + quoted(dir / "config") + " " + tool) != 0)
            return ::testing::AssertionFailure() << "failed: " << tool;
        return ::testing::AssertionSuccess();
    }

    fs::path dir;
};

TEST_F(Gimp, AppliesTheOperationAsOryn3dRenders)
{
    std::string commands;
    int n = 0;
    for (const Case& c : Cases)
        commands += applyCommand(c.image, c.props, "gimp-" + std::to_string(n++) + ".png",
                                 c.addAlpha);
    ASSERT_EQ(runGimp(commands), 0) << log();
    n = 0;
    for (const Case& c : Cases) {
        const fs::path fromGimp = dir / ("gimp-" + std::to_string(n) + ".png");
        const fs::path fromTool = dir / ("oryn3d-" + std::to_string(n++) + ".png");
        ASSERT_TRUE(fs::exists(fromGimp)) << c.props << "\n" << log();
        ASSERT_TRUE(renderWithOryn3d(c.image, c.options, fromTool));
        EXPECT_TRUE(samePixels(fromGimp, fromTool)) << c.image << ": " << c.props;
    }
}

// GIMP applies the selection: the selected rectangle holds the relief of the whole layer, every
// other pixel keeps its value.
TEST_F(Gimp, ASelectionLimitsTheChangeToTheSelectedPixels)
{
    const int x0 = 40, y0 = 30, w = 100, h = 80;
    ASSERT_EQ(runGimp(applyCommand("rgb", "preset=roof", "selected.png", false,
                                   "(gimp-image-select-rectangle image CHANNEL-OP-REPLACE " +
                                       std::to_string(x0) + " " + std::to_string(y0) + " " +
                                       std::to_string(w) + " " + std::to_string(h) + ") ")),
              0)
        << log();
    ASSERT_TRUE(renderWithOryn3d("rgb", "--preset Roof", dir / "relief.png"));
    Pixels selected, relief, original;
    ASSERT_TRUE(readPixels(dir / "selected.png", selected)) << log();
    ASSERT_TRUE(readPixels(dir / "relief.png", relief));
    ASSERT_TRUE(readPixels(dir / "rgb.png", original));
    ASSERT_EQ(selected.data.size(), original.data.size());
    ASSERT_EQ(relief.data.size(), original.data.size());
    size_t wrongInside = 0, wrongOutside = 0, changedByRelief = 0;
    for (int y = 0; y < original.height; ++y)
        for (int x = 0; x < original.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * original.width + x) * 3 + c;
                const bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
                if (inside) {
                    wrongInside += selected.data[i] != relief.data[i];
                    changedByRelief += relief.data[i] != original.data[i];
                } else {
                    wrongOutside += selected.data[i] != original.data[i];
                }
            }
    EXPECT_EQ(wrongInside, 0u);
    EXPECT_EQ(wrongOutside, 0u);
    EXPECT_GT(changedByRelief, size_t(w * h));
}

// Without the module the test plug-in reports that nothing provides the operation, so the
// cases above cannot pass by accident.
TEST_F(Gimp, ReportsAMissingOperation)
{
    fs::remove(dir / "data/gegl-0.4/plug-ins/oryn-relief.so");
    ASSERT_EQ(runGimp(applyCommand("rgb", "", "none.png", false)), 0);
    EXPECT_FALSE(fs::exists(dir / "none.png"));
    EXPECT_NE(log().find("no operation oryn:relief"), std::string::npos) << log();
}

} // namespace
