/* A GIMP 2.10 plug-in for the tests: applies a GEGL chain ("oryn:relief preset=roof ...", the
 * `gegl` command's syntax) to a drawable through its shadow buffer, as GIMP's own GEGL filters
 * do, after checking that GEGL in this plug-in and in GIMP itself has loaded the operation. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <gegl.h>
#include <libgimp/gimp.h>

#define PROCEDURE "plug-in-oryn-relief-test"

static void query(void);
static void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
                GimpParam** return_vals);

const GimpPlugInInfo PLUG_IN_INFO = {NULL, NULL, query, run};

MAIN()

static void query(void)
{
    static const GimpParamDef args[] = {
        {GIMP_PDB_INT32, "run-mode", "The run mode { RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_IMAGE, "image", "Input image"},
        {GIMP_PDB_DRAWABLE, "drawable", "Input drawable"},
        {GIMP_PDB_STRING, "chain", "GEGL operations and properties, as the gegl command takes them"},
    };
    gimp_install_procedure(PROCEDURE, "Applies a GEGL chain to a drawable (test helper)",
                           "Applies a GEGL chain to a drawable through its shadow buffer.",
                           "Oryn 3D", "Oryn 3D", "2026", NULL, "RGB*", GIMP_PLUGIN,
                           G_N_ELEMENTS(args), 0, args, NULL);
}

/* True when the process `pid` has a file whose name contains `name` mapped. */
static gboolean mapsFile(pid_t pid, const char* name)
{
    char path[64];
    char line[4096];
    gboolean found = FALSE;
    FILE* maps;
    snprintf(path, sizeof path, "/proc/%d/maps", (int)pid);
    maps = fopen(path, "r");
    if (maps == NULL)
        return FALSE;
    while (!found && fgets(line, sizeof line, maps) != NULL)
        found = strstr(line, name) != NULL;
    fclose(maps);
    return found;
}

static const gchar* apply(gint32 drawable, const gchar* chain)
{
    static gchar message[512];
    GeglBuffer* source;
    GeglBuffer* shadow;
    GeglNode* graph;
    GeglNode* input;
    GeglNode* output;
    GError* error = NULL;
    gint x, y, width, height;

    if (!gegl_has_operation("oryn:relief"))
        return "GEGL in the plug-in has no operation oryn:relief";
    /* GIMP itself is this plug-in's parent process. */
    if (!mapsFile(getppid(), "oryn-relief.so"))
        return "GIMP has not loaded oryn-relief.so";

    source = gimp_drawable_get_buffer(drawable);
    shadow = gimp_drawable_get_shadow_buffer(drawable);
    graph = gegl_node_new();
    input = gegl_node_new_child(graph, "operation", "gegl:buffer-source", "buffer", source, NULL);
    output = gegl_node_new_child(graph, "operation", "gegl:write-buffer", "buffer", shadow, NULL);
    gegl_create_chain(chain, input, output, 0.0, gegl_buffer_get_height(source), NULL, &error);
    if (error != NULL) {
        snprintf(message, sizeof message, "%s: %s", chain, error->message);
        g_error_free(error);
        g_object_unref(graph);
        g_object_unref(shadow);
        g_object_unref(source);
        return message;
    }
    gegl_node_process(output);
    g_object_unref(graph);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
    g_object_unref(source);

    /* Merging the shadow applies the selection, as for every filter. */
    gimp_drawable_merge_shadow(drawable, TRUE);
    if (gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height))
        gimp_drawable_update(drawable, x, y, width, height);
    return NULL;
}

static void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
                GimpParam** return_vals)
{
    static GimpParam values[2];
    const gchar* failure = "wrong arguments";
    (void)name;

    gegl_init(NULL, NULL);
    if (nparams == 4)
        failure = apply(param[2].data.d_drawable, param[3].data.d_string);

    *nreturn_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = failure == NULL ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR;
    if (failure != NULL) {
        *nreturn_vals = 2;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = (gchar*)failure;
    }
}
