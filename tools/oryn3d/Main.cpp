// oryn3d: the command-line host that applies the relief filter to image files on Linux.
#include <cstdio>
#include <functional>
#include <new>

#include <CLI/CLI.hpp>

#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ToolHost.h"

namespace oryn {

void reportError(const std::string& text)
{
    std::fprintf(stderr, "oryn3d: %s\n", text.c_str());
}

void reportWarning(const std::string& text)
{
    std::fprintf(stderr, "oryn3d: warning: %s\n", text.c_str());
}

} // namespace oryn

int main(int argc, char** argv)
{
    using namespace oryn;
    CLI::App app("Turns an RGB image into a relief of pleated, shaded cells.", "oryn3d");
    app.require_subcommand(1);
    app.footer("Examples:\n"
               "  oryn3d render photo.jpg -o relief.jpg --preset Roof\n"
               "  oryn3d preview photo.jpg -o preview.png\n"
               "  oryn3d presets save Mine --preset Roof --bevel 20 --with-light\n"
               "  oryn3d render photo.jpg -o again.jpg --preset \"Last Used\"\n"
               "Run 'oryn3d COMMAND --help' for a command's options.");
    std::function<int()> run;
    addImageCommands(app, run);
    addPresetCommands(app, run);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help prints to stdout and succeeds; a mistake is one line on stderr.
        if (e.get_exit_code() == 0)
            return app.exit(e);
        reportError(e.what());
        return ExitUsage;
    }
    if (!run)
        return ExitUsage;

    installCancelHandler();
    try {
        return run();
    } catch (const std::bad_alloc&) {
        reportError("not enough memory for this image");
        return ExitFailure;
    }
}
