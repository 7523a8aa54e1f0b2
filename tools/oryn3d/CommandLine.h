// oryn3d's command line: one table of commands and options from which the parser, the help
// pages, the man page and the shell completions are all made, so that they cannot disagree.
#pragma once

#include <string>
#include <vector>

#include "tools/oryn3d/Invocation.h"

namespace oryn {

// Parses the arguments after the program name into `invocation`. Returns 0, or 1 with one line
// in `error`: what was wrong, the nearest command, option or value where one is close, and the
// help page to read.
int parseCommandLine(const std::vector<std::string>& arguments, Invocation& invocation,
                     std::string& error);

// The help page of a command path ("", "render", "presets", "presets save", ...), wrapped to
// `width` columns.
std::string helpText(const std::string& topic, int width);

// The width to wrap help to: the terminal's when stdout is one, else $COLUMNS, else 80.
int helpWidth();

// The man page, in troff.
std::string manPage();

// The completion script for "bash", "zsh" or "fish"; empty for another shell.
std::string completionScript(const std::string& shell);

// "see 'oryn3d TOPIC --help'", for the end of a usage error about `topic`.
std::string helpHint(const std::string& topic);

// The candidate closest to `word` when it is close enough to be a likely typo (compared without
// regard to ASCII case); empty when none is.
std::string nearestWord(const std::string& word, const std::vector<std::string>& candidates);

// The tool's version, as `--version` prints it.
extern const char* const ToolVersion;

} // namespace oryn
