// The filter as a GEGL operation, "oryn:relief": one property per control of the dialog, in the
// dialog's units and ranges, opening as the dialog opens; renders the whole image at once on
// 8-bit sRGB with the same engine and mapping as the final render.
#include <cstring>
#include <new>

#include "gegl/ReliefSettings.h"
#include "host/HostApi.h"
#include "params/SamplePresets.h"

// Labels are English; a catalogue under this domain would translate them.
#define GETTEXT_PACKAGE "oryn3d"
#include <glib/gi18n-lib.h>

#ifdef GEGL_PROPERTIES

enum_start (oryn_relief_preset)
  enum_value (ORYN_RELIEF_PRESET_NONE,             "none",             N_("None (use the values below)"))
  enum_value (ORYN_RELIEF_PRESET_JALOUSIE,         "jalousie",         N_("Jalousie"))
  enum_value (ORYN_RELIEF_PRESET_HERRING_BONE,     "herring-bone",     N_("Herring-Bone"))
  enum_value (ORYN_RELIEF_PRESET_ORYSTONE,         "orystone",         N_("Orystone"))
  enum_value (ORYN_RELIEF_PRESET_FRONT_BRICKS,     "front-bricks",     N_("Front Bricks"))
  enum_value (ORYN_RELIEF_PRESET_ROOF,             "roof",             N_("Roof"))
  enum_value (ORYN_RELIEF_PRESET_EMBOSSED_WRAPPER, "embossed-wrapper", N_("Embossed Wrapper"))
  enum_value (ORYN_RELIEF_PRESET_JABOT,            "jabot",            N_("Jabot"))
  enum_value (ORYN_RELIEF_PRESET_GUTTERS,          "gutters",          N_("Gutters"))
  enum_value (ORYN_RELIEF_PRESET_CELLULARY,        "cellulary",        N_("Cellulary"))
enum_end (OrynReliefPreset)

property_enum (preset, _("Preset"), OrynReliefPreset, oryn_relief_preset,
               ORYN_RELIEF_PRESET_NONE)
  description (_("A sample preset sets the cell shape (cell size, bevel, shading, light, "
                 "stretch, G-Shading and x2) in place of the values below; light boosting, "
                 "brightness ratio, antialiasing and the background still apply"))

// The cell size is an x/y pair: GIMP draws the two together with a chain that keeps the cells
// square while it is linked. The light and stretch values stay apart: linking them means nothing.
property_int (cell_width, _("Cell width"), 35)
  description (_("Cell width in preview pixels (the dialog's 300 x 300 preview), scaled to "
                 "the image: one preview pixel is the larger side / 300 image pixels, at least 1"))
  value_range (0, 300)
  ui_meta ("sensitive", "preset {none}")
  ui_meta ("axis", "x")

property_int (cell_height, _("Cell height"), 55)
  description (_("Cell height in preview pixels, scaled to the image like the cell width"))
  value_range (0, 300)
  ui_meta ("sensitive", "preset {none}")
  ui_meta ("axis", "y")

property_int (bevel, _("S-Bevel width"), 0)
  description (_("Width of the bevelled cell edges"))
  value_range (0, 50)
  ui_meta ("sensitive", "preset {none}")

property_int (shading, _("S-Shading"), 50)
  description (_("Shading of the patterned cells: 50 shades nothing, below 50 darkens them, "
                 "above 50 lightens them"))
  value_range (0, 100)
  ui_meta ("sensitive", "preset {none}")

property_int (light_x, _("Light X"), 45)
  description (_("Light direction, horizontal: 25 is the centre, larger values to the right"))
  value_range (0, 50)
  ui_meta ("sensitive", "preset {none}")

property_int (light_y, _("Light Y"), 32)
  description (_("Light direction, vertical: 25 is the centre, larger values downwards"))
  value_range (0, 50)
  ui_meta ("sensitive", "preset {none}")

property_int (stretch_x, _("Stretch X"), 50)
  description (_("Skew of the cells, horizontal: 25 is none"))
  value_range (0, 50)
  ui_meta ("sensitive", "preset {none}")

property_int (stretch_y, _("Stretch Y"), 0)
  description (_("Skew of the cells, vertical: 25 is none"))
  value_range (0, 50)
  ui_meta ("sensitive", "preset {none}")

property_int (face, _("G-Shading"), 0)
  description (_("Which cells of every 2 x 2 block carry the pattern: 0 the top row, "
                 "1 the right column, 2 a checkerboard"))
  value_range (0, 2)
  ui_meta ("sensitive", "preset {none}")

property_boolean (x2, _("x2 (double stretch)"), FALSE)
  description (_("Doubles the stretch"))
  ui_meta ("sensitive", "preset {none}")

property_int (light_boost, _("Light Boosting"), 30)
  description (_("Light correction: boosts the light gradient"))
  value_range (0, 100)

property_int (brightness_ratio, _("Brightness Ratio"), 20)
  description (_("Light correction: the darkest tone the relief keeps"))
  value_range (0, 100)

property_boolean (antialias, _("Antialiasing"), TRUE)
  description (_("Smooths the cell edges and the image edges"))

property_color (background, _("Background colour"), "#c0c0c0")
  description (_("What shows where the relief leaves the image (its alpha is not used)"))
  ui_meta ("sensitive", "! transparent")

property_boolean (transparent, _("Transparent background"), FALSE)
  description (_("Leaves the background transparent instead of the colour; an image "
                 "without alpha gets an alpha channel"))

#else

#define GEGL_OP_FILTER
#define GEGL_OP_NAME     oryn_relief
#define GEGL_OP_C_SOURCE ReliefOperation.cpp

#include "gegl-op.h"

namespace {

using oryn::ReliefSettings;

ReliefSettings settingsOf(const GeglProperties* o)
{
    ReliefSettings s;
    s.sample = static_cast<int32_t>(o->preset);
    s.cellWidth = o->cell_width;
    s.cellHeight = o->cell_height;
    s.bevel = o->bevel;
    s.shading = o->shading;
    s.lightX = o->light_x;
    s.lightY = o->light_y;
    s.stretchX = o->stretch_x;
    s.stretchY = o->stretch_y;
    s.face = o->face;
    s.stretchDouble = o->x2 != FALSE;
    s.lightBoost = o->light_boost;
    s.brightnessRatio = o->brightness_ratio;
    s.antialias = o->antialias != FALSE;
    s.transparent = o->transparent != FALSE;
    guint8 rgb[3] = {0xC0, 0xC0, 0xC0};
    if (o->background != nullptr)
        gegl_color_get_pixel(o->background, babl_format("R'G'B' u8"), rgb);
    s.backgroundColor = rgb[0] | uint32_t(rgb[1]) << 8 | uint32_t(rgb[2]) << 16 |
                        oryn::OpaqueMarker;
    return s;
}

// The filter reads and writes 8-bit sRGB; an alpha plane when the input has one or the
// background is transparent. GEGL converts any other input to it.
const Babl* pixelFormat(GeglOperation* operation)
{
    const Babl* source = gegl_operation_get_source_format(operation, "input");
    const bool hasAlpha = source == nullptr || babl_format_has_alpha(source);
    const ReliefSettings s = settingsOf(GEGL_PROPERTIES(operation));
    return babl_format(oryn::reliefNeedsAlpha(hasAlpha, s) ? "R'G'B'A u8" : "R'G'B' u8");
}

void prepare(GeglOperation* operation)
{
    const Babl* format = pixelFormat(operation);
    gegl_operation_set_format(operation, "input", format);
    gegl_operation_set_format(operation, "output", format);
}

GeglRectangle wholeInput(GeglOperation* operation)
{
    GeglRectangle whole = {0, 0, 0, 0};
    const GeglRectangle* in = gegl_operation_source_get_bounding_box(operation, "input");
    if (in != nullptr && !gegl_rectangle_is_infinite_plane(in))
        whole = *in;
    return whole;
}

// Every output pixel may sample any source pixel, so the whole input is read for any output.
GeglRectangle get_required_for_output(GeglOperation* operation, const gchar*, const GeglRectangle*)
{
    return wholeInput(operation);
}

// The whole output is rendered at once and cached, so that tiles and the chunks of GIMP's
// on-canvas preview all come from one render.
GeglRectangle get_cached_region(GeglOperation* operation, const GeglRectangle*)
{
    return wholeInput(operation);
}

void reportProgress(void* data, int32_t done, int32_t total)
{
    if (total > 0)
        gegl_operation_progress(static_cast<GeglOperation*>(data), double(done) / total,
                                const_cast<gchar*>(""));
}

gint renderThreads()
{
    gint threads = 1;
    g_object_get(gegl_config(), "threads", &threads, nullptr);
    return threads < 1 ? 1 : threads;
}

gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output,
                 const GeglRectangle* result, gint)
{
    const GeglRectangle whole = wholeInput(operation);
    GeglRectangle area;
    if (!gegl_rectangle_intersect(&area, &whole, result))
        return TRUE;

    const Babl* format = gegl_operation_get_format(operation, "output");
    const int planes = babl_format_get_bytes_per_pixel(format);
    const gsize rowBytes = gsize(whole.width) * gsize(planes);
    const gsize size = rowBytes * gsize(whole.height);
    guint8* src = static_cast<guint8*>(g_try_malloc(size));
    guint8* dst = static_cast<guint8*>(g_try_malloc(size));
    if (src == nullptr || dst == nullptr || rowBytes > G_MAXINT32) {
        g_free(src);
        g_free(dst);
        g_warning("oryn:relief: not enough memory for a %d x %d image; left unchanged",
                  whole.width, whole.height);
        gegl_buffer_copy(input, &area, GEGL_ABYSS_NONE, output, &area);
        return TRUE;
    }
    gegl_buffer_get(input, &whole, 1.0, format, src, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);

    const oryn::ParamBlock block = oryn::reliefBlock(settingsOf(GEGL_PROPERTIES(operation)));
    gegl_operation_progress(operation, 0.0, const_cast<gchar*>(""));
    const int16_t status =
        oryn::renderRelief(block, whole.width, whole.height, planes, src, dst,
                           static_cast<int32_t>(rowBytes), renderThreads(), reportProgress,
                           operation);
    gegl_operation_progress(operation, 1.0, const_cast<gchar*>(""));
    if (status != noErr) {
        // Only a size the filter cannot describe (over 32767 pixels a side) gets here.
        g_warning("oryn:relief: cannot render a %d x %d image (error %d); left unchanged",
                  whole.width, whole.height, int(status));
        std::memcpy(dst, src, size);
    }
    const guint8* first = dst + gsize(area.y - whole.y) * rowBytes +
                          gsize(area.x - whole.x) * gsize(planes);
    gegl_buffer_set(output, &area, 0, format, first, static_cast<gint>(rowBytes));
    g_free(src);
    g_free(dst);
    return TRUE;
}

} // namespace

static void gegl_op_class_init(GeglOpClass* klass)
{
    GeglOperationClass* operation_class = GEGL_OPERATION_CLASS(klass);
    GeglOperationFilterClass* filter_class = GEGL_OPERATION_FILTER_CLASS(klass);

    operation_class->prepare = prepare;
    operation_class->get_required_for_output = get_required_for_output;
    operation_class->get_cached_region = get_cached_region;
    // One render covers the whole image; the engine shares its rows among its own threads.
    operation_class->threaded = FALSE;
    operation_class->opencl_support = FALSE;
    filter_class->process = process;

    // A number outside a property's range is clamped to it (GLib's validation), instead of being
    // refused with a warning and the old value kept: `gegl ... cell-width=900` renders 300.
    guint count = 0;
    GParamSpec** properties = g_object_class_list_properties(G_OBJECT_CLASS(klass), &count);
    for (guint i = 0; i < count; ++i) {
        if (properties[i]->owner_type == G_OBJECT_CLASS_TYPE(klass))
            properties[i]->flags = GParamFlags(properties[i]->flags | G_PARAM_LAX_VALIDATION);
    }
    g_free(properties);

    gegl_operation_class_set_keys(
        operation_class,
        "name", "oryn:relief",
        "title", _("Oryn 3D"),
        "categories", "artistic:distort",
        "description",
        _("Turns the image into a relief: a grid of cells pleated into a zigzag, each cell "
          "with a pattern, bevelled edges and a light gradient, every pixel sampled back from "
          "the image"),
        // GIMP 3 puts an operation that names a menu path into that menu, beside Emboss and
        // Mosaic; GIMP 2.10 ignores these keys and lists it in the GEGL Operation tool only.
        "gimp:menu-path", "<Image>/Filters/Distorts",
        "gimp:menu-label", _("Oryn 3D..."),
        nullptr);
}

#endif
