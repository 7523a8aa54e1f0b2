// The commands of oryn3d: each adds itself to the command line and, when it is the one given,
// leaves its action in `run`.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace oryn {

class PresetDatabase;
struct PresetName;

// Process exit statuses besides 0 and the Ctrl-C status of ToolHost.h.
constexpr int ExitFailure = 1; // a file or the filter failed
constexpr int ExitUsage = 2;   // the command line is wrong

// `render` and `preview`.
void addImageCommands(CLI::App& app, std::function<int()>& run);

// `presets list`, `show`, `save`, `delete`, `export` and `import`.
void addPresetCommands(CLI::App& app, std::function<int()>& run);

// Prints "oryn3d: <text>" as one line on stderr.
void reportError(const std::string& text);

// Prints "oryn3d: warning: <text>" as one line on stderr.
void reportWarning(const std::string& text);

// Opens the user's preset store. Returns 0, or 1 with a one-line reason naming the file.
int openPresetStore(PresetDatabase& store, std::string& error);

// Makes a preset name from a command-line argument, noting on stderr when it was cut. Returns 0,
// or 1 after reporting "<subject>: <reason>".
int takePresetName(const std::string& subject, const std::string& text, PresetName& name);

} // namespace oryn
