// The commands of oryn3d: each adds itself to the command line and, when it is the one given,
// leaves its action in `run`.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace oryn {

// Process exit statuses besides 0 and the Ctrl-C status of ToolHost.h.
constexpr int ExitFailure = 1; // a file or the filter failed
constexpr int ExitUsage = 2;   // the command line is wrong

// `render` and `preview`.
void addImageCommands(CLI::App& app, std::function<int()>& run);

// `presets list`.
void addPresetCommands(CLI::App& app, std::function<int()>& run);

// Prints "oryn3d: <text>" as one line on stderr.
void reportError(const std::string& text);

} // namespace oryn
