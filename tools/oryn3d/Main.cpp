// oryn3d: the command-line host that applies the relief filter to image files on Linux.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/oryn3d/CommandLine.h"
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

std::string shownName(const std::string& name)
{
    bool plain = !name.empty();
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '\'' || c == '\\')
            plain = false;
    }
    if (plain)
        return name;
    std::string out = "'";
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\'') {
            out += "'\\''";
        } else if (u < 0x20 || u == 0x7F) {
            static const char* const named[] = {"\\a", "\\b", "\\t", "\\n", "\\v", "\\f", "\\r"};
            char code[8];
            if (u >= 7 && u <= 13)
                std::snprintf(code, sizeof code, "%s", named[u - 7]);
            else
                std::snprintf(code, sizeof code, "\\%03o", u);
            out += std::string("'$'") + code + "''";
        } else {
            out += c;
        }
    }
    out += "'";
    // An empty pair left where a quoted stretch ended with an escape.
    const std::string empty = "''";
    if (out.size() > 2 && out.compare(out.size() - 2, 2, empty) == 0 && out != "''")
        out.erase(out.size() - 2);
    return out;
}

namespace {

int printText(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

// Runs what the command line asked for; the command line itself is not looked at again.
int run(const Invocation& q, const char* programName)
{
    switch (q.command) {
    case Command::Help:
        return printText(helpText(q.helpTopic, helpWidth()));
    case Command::Version:
        return printText(std::string("oryn3d ") + ToolVersion + "\n");
    case Command::ManPage:
        return printText(manPage());
    case Command::Completion:
        return printText(completionScript(q.shell));
    case Command::Render:
    case Command::Preview:
        return runImageCommand(q, programName);
    case Command::PresetsSheet:
        return runSheetCommand(q, programName);
    default: {
        // A preset command stopped by a signal (while it waited for the store) ends as one.
        const int status = runPresetCommand(q);
        return cancelRequested() ? cancelExitStatus() : status;
    }
    }
}

} // namespace

} // namespace oryn

int main(int argc, char** argv)
{
    using namespace oryn;
    // Signals are handled from the start, so that no run leaves a temporary file behind.
    installCancelHandler();
    Invocation invocation;
    std::string error;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (parseCommandLine(arguments, invocation, error) != 0) {
        reportError(error);
        return ExitUsage;
    }
    try {
        return run(invocation, argv[0]);
    } catch (const std::bad_alloc&) {
        reportError("not enough memory for this image");
        return ExitFailure;
    }
}
