// The commands of oryn3d, each run from the parsed command line.
#pragma once

#include <string>

#include "tools/oryn3d/Invocation.h"

namespace oryn {

class PresetDatabase;
struct PresetChoice;
struct PresetName;

// Process exit statuses besides 0 and the signal statuses of ToolHost.h.
constexpr int ExitFailure = 1; // a file or the filter failed
constexpr int ExitUsage = 2;   // the command line is wrong

// `render` and `preview`, over one input or a batch. `programName` is argv[0], for libvips.
int runImageCommand(const Invocation& invocation, const char* programName);

// `presets sheet`: the input previewed with every preset, labelled, in one picture.
int runSheetCommand(const Invocation& invocation, const char* programName);

// `presets list`, `show`, `save`, `delete`, `export` and `import`.
int runPresetCommand(const Invocation& invocation);

// Prints "oryn3d: <text>" as one line on stderr.
void reportError(const std::string& text);

// Prints "oryn3d: warning: <text>" as one line on stderr.
void reportWarning(const std::string& text);

// A file name as messages show it: as it is when it is plain, else quoted as ls does
// ('it''s', 'line'$'\n''break'), so that a newline or an escape sequence in a name can neither
// break the one-line message nor drive the terminal.
std::string shownName(const std::string& name);

// Opens the user's preset store. Returns 0, or 1 with a one-line reason naming the file.
int openPresetStore(PresetDatabase& store, std::string& error);

// Makes a preset name from a command-line argument, noting on stderr when it was cut. Returns 0,
// or 1 after reporting "<subject>: <reason>".
int takePresetName(const std::string& subject, const std::string& text, PresetName& name);

// Looks up a preset name given on the command line (--preset or presets show). Returns 0; 1
// after reporting that the store failed; 2 after reporting that no preset has that name, with
// the nearest name where one is close.
int lookUpPresetName(const std::string& subject, const PresetName& name, PresetDatabase& store,
                     PresetChoice& choice);

} // namespace oryn
