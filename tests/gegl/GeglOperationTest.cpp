// The module inside GEGL: it loads from its folder alone and links nothing of ours, its
// properties are the dialog's controls with their ranges and opening values, and it renders the
// same bytes as the final render on the same pixels whatever region GEGL asks for, at any image
// origin, on any input format GEGL converts, for one pixel and for none.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gegl.h>
#include <gegl-plugin.h>

#include "gegl/ReliefSettings.h"
#include "host/HostApi.h"
#include "params/SamplePresets.h"

namespace oryn {
namespace {

void startGegl(const std::string& path)
{
    setenv("GEGL_PATH", path.c_str(), 1);
    // No user plug-in folder and no swap under the user's home.
    setenv("XDG_DATA_HOME", "/nonexistent", 1);
    setenv("GEGL_SWAP", "RAM", 1);
    setenv("XDG_CACHE_HOME", "/nonexistent", 1);
    gegl_init(nullptr, nullptr);
}

std::string withSystemOperations() { return std::string(ORYN_GEGL_MODULE_DIR) + ":" + GEGL_SYSTEM_DIR; }

TEST(GeglModule, LoadsFromItsFolderWithNoOtherModule)
{
    startGegl(ORYN_GEGL_MODULE_DIR);
    EXPECT_TRUE(gegl_has_operation("oryn:relief"));
    // Nothing else was loaded: GEGL's own modules live elsewhere.
    EXPECT_FALSE(gegl_has_operation("gegl:png-load"));
    EXPECT_STREQ(gegl_operation_get_key("oryn:relief", "title"), "Oryn 3D");
    // GIMP 3's menu entry for the filter.
    EXPECT_STREQ(gegl_operation_get_key("oryn:relief", "gimp:menu-path"), "<Image>/Filters/Distorts");
    EXPECT_STREQ(gegl_operation_get_key("oryn:relief", "gimp:menu-label"), "Oryn 3D...");
    gegl_exit();
}

TEST(GeglModule, LinksOnlyGeglGlibAndTheSystemRuntime)
{
    const std::string command = std::string("objdump -p '") + ORYN_GEGL_MODULE + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    const char* allowed[] = {"libgegl-0.4.so", "libbabl-0.1.so", "libglib-2.0.so",
                             "libgobject-2.0.so", "libstdc++.so", "libgcc_s.so", "libc.so",
                             "libm.so", "ld-linux"};
    char line[512];
    int needed = 0;
    bool gegl = false;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char name[256];
        if (std::sscanf(line, " NEEDED %255s", name) != 1)
            continue;
        ++needed;
        bool ok = false;
        for (const char* prefix : allowed)
            ok = ok || std::strncmp(name, prefix, std::strlen(prefix)) == 0;
        EXPECT_TRUE(ok) << name;
        gegl = gegl || std::strncmp(name, "libgegl-0.4", 11) == 0;
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_GT(needed, 0);
    EXPECT_TRUE(gegl);
}

struct IntProperty {
    const char* name;
    int def, min, max;
};

TEST(GeglModule, PropertiesAreTheDialogsControls)
{
    startGegl(ORYN_GEGL_MODULE_DIR);
    guint count = 0;
    GParamSpec** properties = gegl_operation_list_properties("oryn:relief", &count);
    ASSERT_NE(properties, nullptr);
    auto find = [&](const char* name) -> GParamSpec* {
        for (guint i = 0; i < count; ++i)
            if (std::strcmp(g_param_spec_get_name(properties[i]), name) == 0)
                return properties[i];
        return nullptr;
    };
    const IntProperty ints[] = {
        {"cell-width", 35, 0, 300}, {"cell-height", 55, 0, 300}, {"bevel", 0, 0, 50},
        {"shading", 50, 0, 100},    {"light-x", 45, 0, 50},      {"light-y", 32, 0, 50},
        {"stretch-x", 50, 0, 50},   {"stretch-y", 0, 0, 50},     {"face", 0, 0, 2},
        {"light-boost", 30, 0, 100}, {"brightness-ratio", 20, 0, 100},
    };
    for (const IntProperty& p : ints) {
        GParamSpec* property = find(p.name);
        ASSERT_NE(property, nullptr) << p.name;
        ASSERT_TRUE(G_IS_PARAM_SPEC_INT(property)) << p.name;
        GParamSpecInt* range = G_PARAM_SPEC_INT(property);
        EXPECT_EQ(range->default_value, p.def) << p.name;
        EXPECT_EQ(range->minimum, p.min) << p.name;
        EXPECT_EQ(range->maximum, p.max) << p.name;
        EXPECT_NE(g_param_spec_get_blurb(property), nullptr) << p.name;
    }
    const std::pair<const char*, bool> booleans[] = {
        {"x2", false}, {"antialias", true}, {"transparent", false}};
    for (const auto& b : booleans) {
        GParamSpec* property = find(b.first);
        ASSERT_NE(property, nullptr) << b.first;
        ASSERT_TRUE(G_IS_PARAM_SPEC_BOOLEAN(property));
        EXPECT_EQ(G_PARAM_SPEC_BOOLEAN(property)->default_value != FALSE, b.second) << b.first;
    }
    ASSERT_NE(find("background"), nullptr);

    // The preset list: "none", then the samples in the dialog's order and with its names.
    GParamSpec* preset = find("preset");
    ASSERT_NE(preset, nullptr);
    ASSERT_TRUE(G_IS_PARAM_SPEC_ENUM(preset));
    GEnumClass* values = G_PARAM_SPEC_ENUM(preset)->enum_class;
    EXPECT_EQ(G_PARAM_SPEC_ENUM(preset)->default_value, 0);
    ASSERT_EQ(int(values->n_values), sampleCount(0) + 1);
    EXPECT_STREQ(values->values[0].value_nick, "none");
    for (int k = 1; k <= sampleCount(0); ++k) {
        char name[PresetStringSize];
        ASSERT_EQ(sampleDisplayName(k, name, sizeof name), 0);
        std::string trimmed(name);
        while (!trimmed.empty() && trimmed.back() == ' ')
            trimmed.pop_back();
        EXPECT_EQ(values->values[k].value, k);
        EXPECT_EQ(trimmed, values->values[k].value_name);
    }
    g_free(properties);
    gegl_exit();
}

TEST(GeglModule, OutOfRangeValuesAreClampedToTheRange)
{
    startGegl(ORYN_GEGL_MODULE_DIR);
    GeglNode* node = gegl_node_new();
    gegl_node_set(node, "operation", "oryn:relief", "cell-width", 900, "bevel", -3, "face", 9,
                  nullptr);
    gint width = 0, bevel = 0, face = 0;
    gegl_node_get(node, "cell-width", &width, "bevel", &bevel, "face", &face, nullptr);
    EXPECT_EQ(width, 300);
    EXPECT_EQ(bevel, 0);
    EXPECT_EQ(face, 2);
    g_object_unref(node);
    gegl_exit();
}

std::vector<uint8_t> picture(int columns, int rows, int planes)
{
    std::vector<uint8_t> pixels(size_t(columns) * rows * planes);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            for (int c = 0; c < planes; ++c)
                pixels[(size_t(y) * columns + x) * planes + c] = static_cast<uint8_t>(
                    c == 3 ? (x * 255) / (columns > 1 ? columns - 1 : 1)
                           : (x * 7 + y * 3 + c * 80 + ((x / 9 + y / 7) % 2) * 60) & 0xFF);
    return pixels;
}

// A graph from a buffer with `extent` and `format` through oryn:relief with `settings`.
struct Graph {
    GeglNode* root = nullptr;
    GeglNode* relief = nullptr;
    GeglBuffer* buffer = nullptr;

    Graph(const GeglRectangle& extent, const Babl* format, const void* pixels,
          const char* preset, bool transparent)
    {
        buffer = gegl_buffer_new(&extent, format);
        gegl_buffer_set(buffer, &extent, 0, format, pixels, GEGL_AUTO_ROWSTRIDE);
        root = gegl_node_new();
        GeglNode* source =
            gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", buffer, nullptr);
        relief = gegl_node_new_child(root, "operation", "oryn:relief", "transparent",
                                     transparent ? TRUE : FALSE, nullptr);
        GParamSpec* property = gegl_node_find_property(relief, "preset");
        GEnumValue* value = g_enum_get_value_by_nick(G_PARAM_SPEC_ENUM(property)->enum_class, preset);
        EXPECT_NE(value, nullptr) << preset;
        if (value != nullptr)
            gegl_node_set(relief, "preset", value->value, nullptr);
        gegl_node_link(source, relief);
    }
    ~Graph()
    {
        g_object_unref(root);
        g_object_unref(buffer);
    }
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
};

// The final render of the same pixels, directly.
std::vector<uint8_t> finalRender(const std::vector<uint8_t>& src, int columns, int rows,
                                 int planes, int sample, bool transparent)
{
    ReliefSettings s;
    s.sample = sample;
    s.transparent = transparent;
    std::vector<uint8_t> dst(src.size());
    EXPECT_EQ(renderRelief(reliefBlock(s), columns, rows, planes, src.data(), dst.data(),
                           columns * planes, 1, nullptr, nullptr),
              noErr);
    return dst;
}

TEST(GeglModule, AnyRegionAtAnyOriginIsPartOfTheOneFinalRender)
{
    startGegl(withSystemOperations());
    const int columns = 301, rows = 203, planes = 4;
    const GeglRectangle extent = {-17, 40, columns, rows};
    const Babl* format = babl_format("R'G'B'A u8");
    const std::vector<uint8_t> src = picture(columns, rows, planes);
    const std::vector<uint8_t> expected = finalRender(src, columns, rows, planes, 4, false);

    {
        Graph whole(extent, format, src.data(), "front-bricks", false);
        const GeglRectangle box = gegl_node_get_bounding_box(whole.relief);
        EXPECT_TRUE(gegl_rectangle_equal(&box, &extent));
        std::vector<uint8_t> out(src.size());
        gegl_node_blit(whole.relief, 1.0, &extent, format, out.data(), GEGL_AUTO_ROWSTRIDE,
                       GEGL_BLIT_DEFAULT);
        EXPECT_EQ(out, expected);
    }
    // Pieces asked of fresh graphs, the way a viewer asks for tiles: each is the same part of
    // the whole render.
    const GeglRectangle pieces[] = {{-17, 40, 64, 64}, {100, 150, 184, 93}, {283, 242, 1, 1},
                                    {-17, 100, columns, 3}};
    for (const GeglRectangle& piece : pieces) {
        Graph graph(extent, format, src.data(), "front-bricks", false);
        std::vector<uint8_t> out(size_t(piece.width) * piece.height * planes);
        gegl_node_blit(graph.relief, 1.0, &piece, format, out.data(), GEGL_AUTO_ROWSTRIDE,
                       GEGL_BLIT_DEFAULT);
        size_t differing = 0;
        for (int y = 0; y < piece.height; ++y)
            for (int x = 0; x < piece.width * planes; ++x) {
                const size_t at = (size_t(piece.y - extent.y + y) * columns +
                                   (piece.x - extent.x)) * planes + x;
                differing += out[size_t(y) * piece.width * planes + x] != expected[at];
            }
        EXPECT_EQ(differing, 0u) << piece.x << "," << piece.y << " " << piece.width << "x"
                                 << piece.height;
    }
    gegl_exit();
}

TEST(GeglModule, AProcessorWorkingInSmallStepsGivesTheWholeRender)
{
    startGegl(withSystemOperations());
    const int columns = 257, rows = 190, planes = 3;
    const GeglRectangle extent = {0, 0, columns, rows};
    const Babl* format = babl_format("R'G'B' u8");
    const std::vector<uint8_t> src = picture(columns, rows, planes);
    Graph graph(extent, format, src.data(), "herring-bone", false);
    GeglBuffer* target = gegl_buffer_new(&extent, format);
    GeglNode* sink = gegl_node_new_child(graph.root, "operation", "gegl:write-buffer", "buffer",
                                         target, nullptr);
    gegl_node_link(graph.relief, sink);
    GeglProcessor* processor = gegl_node_new_processor(sink, &extent);
    gegl_processor_set_level(processor, 0);
    while (gegl_processor_work(processor, nullptr)) {
    }
    g_object_unref(processor);
    std::vector<uint8_t> out(src.size());
    gegl_buffer_get(target, &extent, 1.0, format, out.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    EXPECT_EQ(out, finalRender(src, columns, rows, planes, 2, false));
    EXPECT_EQ(babl_format_get_bytes_per_pixel(gegl_operation_get_format(
                  gegl_node_get_gegl_operation(graph.relief), "output")),
              3);
    g_object_unref(target);
    gegl_exit();
}

TEST(GeglModule, OtherFormatsAreConvertedToEightBitSrgb)
{
    startGegl(withSystemOperations());
    const int columns = 97, rows = 61;
    const GeglRectangle extent = {0, 0, columns, rows};
    const std::vector<uint8_t> src = picture(columns, rows, 4);
    // The same pixels as linear float: GEGL converts them back to the same 8-bit values.
    std::vector<float> linear(src.size());
    const Babl* u8 = babl_format("R'G'B'A u8");
    babl_process(babl_fish(u8, babl_format("RGBA float")), src.data(), linear.data(),
                 columns * rows);
    Graph graph(extent, babl_format("RGBA float"), linear.data(), "roof", false);
    std::vector<uint8_t> out(src.size());
    gegl_node_blit(graph.relief, 1.0, &extent, u8, out.data(), GEGL_AUTO_ROWSTRIDE,
                   GEGL_BLIT_DEFAULT);
    EXPECT_EQ(babl_format_get_bytes_per_pixel(gegl_operation_get_format(
                  gegl_node_get_gegl_operation(graph.relief), "output")),
              4);
    // Compare where the result is opaque: fully transparent pixels carry no colour after a
    // premultiplied round trip.
    const std::vector<uint8_t> expected = finalRender(src, columns, rows, 4, 5, false);
    size_t differing = 0;
    for (size_t i = 0; i < out.size(); i += 4)
        if (expected[i + 3] != 0)
            differing += std::memcmp(&out[i], &expected[i], 4) != 0;
    EXPECT_EQ(differing, 0u);
    gegl_exit();
}

TEST(GeglModule, TransparentBackgroundOnRgbAddsAlpha)
{
    startGegl(withSystemOperations());
    const int columns = 120, rows = 80;
    const GeglRectangle extent = {0, 0, columns, rows};
    const std::vector<uint8_t> rgb = picture(columns, rows, 3);
    std::vector<uint8_t> rgba;
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 255});
    Graph graph(extent, babl_format("R'G'B' u8"), rgb.data(), "jalousie", true);
    const Babl* u8 = babl_format("R'G'B'A u8");
    std::vector<uint8_t> out(rgba.size());
    gegl_node_blit(graph.relief, 1.0, &extent, u8, out.data(), GEGL_AUTO_ROWSTRIDE,
                   GEGL_BLIT_DEFAULT);
    EXPECT_EQ(gegl_operation_get_format(gegl_node_get_gegl_operation(graph.relief), "output"), u8);
    EXPECT_EQ(out, finalRender(rgba, columns, rows, 4, 1, true));
    gegl_exit();
}

TEST(GeglModule, OnePixelAndEmptyInputs)
{
    startGegl(withSystemOperations());
    const Babl* u8 = babl_format("R'G'B'A u8");
    {
        const GeglRectangle one = {5, 5, 1, 1};
        const uint8_t pixel[4] = {200, 100, 50, 255};
        Graph graph(one, u8, pixel, "none", false);
        uint8_t out[4] = {0, 0, 0, 0};
        gegl_node_blit(graph.relief, 1.0, &one, u8, out, GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
        const std::vector<uint8_t> expected =
            finalRender(std::vector<uint8_t>(pixel, pixel + 4), 1, 1, 4, 0, false);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 4), expected);
    }
    {
        const GeglRectangle none = {0, 0, 0, 0};
        Graph graph(none, u8, nullptr, "none", false);
        const GeglRectangle box = gegl_node_get_bounding_box(graph.relief);
        EXPECT_TRUE(gegl_rectangle_is_empty(&box));
        // Pixels asked of an empty image are GEGL's empty space (transparent black): the
        // operation renders nothing and does not fail.
        const GeglRectangle ask = {0, 0, 2, 2};
        uint8_t out[16];
        std::memset(out, 7, sizeof out);
        gegl_node_blit(graph.relief, 1.0, &ask, u8, out, GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
        const uint8_t transparent[16] = {};
        EXPECT_EQ(std::memcmp(out, transparent, sizeof out), 0);
    }
    gegl_exit();
}

} // namespace
} // namespace oryn
