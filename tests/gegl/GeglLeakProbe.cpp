// Renders oryn:relief through GEGL as a viewer and a saver do (one region, then the whole image
// into a buffer), frees the graph and stops GEGL, which reports any GeglBuffer still alive at
// that point on stderr ("N GeglBuffers leaked"); the ctest entry fails on that report. Exits
// non-zero if the operation is missing or renders nothing, so a silent run cannot pass.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gegl.h>

int main()
{
    setenv("GEGL_PATH", ORYN_GEGL_MODULE_DIR ":" GEGL_SYSTEM_DIR, 1);
    setenv("XDG_DATA_HOME", "/nonexistent", 1);
    setenv("GEGL_SWAP", "RAM", 1);
    gegl_init(nullptr, nullptr);
    if (!gegl_has_operation("oryn:relief")) {
        std::fprintf(stderr, "no operation oryn:relief\n");
        return 1;
    }
    const GeglRectangle extent = {0, 0, 160, 120};
    const Babl* format = babl_format("R'G'B'A u8");
    std::vector<guint8> pixels(size_t(extent.width) * extent.height * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = guint8(i % 4 == 3 ? 255 : (i * 7) % 251);
    GeglBuffer* source = gegl_buffer_new(&extent, format);
    gegl_buffer_set(source, &extent, 0, format, pixels.data(), GEGL_AUTO_ROWSTRIDE);
    GeglBuffer* target = gegl_buffer_new(&extent, format);

    GeglNode* root = gegl_node_new();
    GeglNode* in = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", source,
                                       nullptr);
    GeglNode* relief = gegl_node_new_child(root, "operation", "oryn:relief", nullptr);
    GeglNode* out = gegl_node_new_child(root, "operation", "gegl:write-buffer", "buffer", target,
                                        nullptr);
    gegl_node_link_many(in, relief, out, nullptr);

    const GeglRectangle piece = {20, 10, 64, 64};
    std::vector<guint8> tile(size_t(piece.width) * piece.height * 4);
    gegl_node_blit(relief, 1.0, &piece, format, tile.data(), GEGL_AUTO_ROWSTRIDE,
                   GEGL_BLIT_DEFAULT);
    gegl_node_process(out);

    std::vector<guint8> result(pixels.size());
    gegl_buffer_get(target, &extent, 1.0, format, result.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    const bool rendered = result != pixels;

    g_object_unref(root);
    g_object_unref(target);
    g_object_unref(source);
    gegl_exit();
    if (!rendered) {
        std::fprintf(stderr, "oryn:relief left the image unchanged\n");
        return 1;
    }
    std::printf("rendered and freed\n");
    return 0;
}
