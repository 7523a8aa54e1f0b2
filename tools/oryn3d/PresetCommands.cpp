// `oryn3d presets ...`: the preset list. Further preset commands join the `presets` command here.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "params/SamplePresets.h"
#include "tools/oryn3d/Commands.h"
#include "tools/oryn3d/ControlOptions.h"

namespace oryn {

namespace {

// The sample presets, one name a line, in the dialog's order.
int listPresets()
{
    const int count = sampleCount(0);
    for (int k = 1; k <= count; ++k)
        std::printf("%s\n", sampleName(k).c_str());
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

} // namespace

void addPresetCommands(CLI::App& app, std::function<int()>& run)
{
    CLI::App* presets = app.add_subcommand("presets", "Presets for --preset");
    presets->require_subcommand(1);
    presets->footer("Example:\n  oryn3d presets list");
    CLI::App* list =
        presets->add_subcommand("list", "List the sample presets in the dialog's order");
    list->footer("Example:\n  oryn3d presets list");
    list->callback([&run] { run = listPresets; });
}

} // namespace oryn
