// Output lines, quoting and rectangles for the test host.
#include "tools/testhost/HostSupport.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace oryn {

const char* currentCall = "load";

namespace {

CRITICAL_SECTION printLock;

} // namespace

void initOutput()
{
    InitializeCriticalSection(&printLock);
}

void say(const char* format, ...)
{
    EnterCriticalSection(&printLock);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    LeaveCriticalSection(&printLock);
}

std::string quoted(const std::string& text)
{
    std::string result = "\"";
    for (unsigned char c : text) {
        if (c == '\n') {
            result += "\\n";
        } else if (c == '\r') {
            result += "\\r";
        } else if (c == '\t') {
            result += "\\t";
        } else if (c == '"' || c == '\\') {
            result += '\\';
            result += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            result += hex;
        } else {
            result += char(c);
        }
    }
    return result + "\"";
}

std::string rectText(const Rect& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d,%d,%d)", r.top, r.left, r.bottom, r.right);
    return text;
}

bool rectEmpty(const Rect& r)
{
    return !(r.left < r.right && r.top < r.bottom);
}

} // namespace oryn
