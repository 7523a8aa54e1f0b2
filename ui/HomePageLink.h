// The home page link under the preview: the browser command it starts. Portable: the trimming of
// the registered command is plain text work; drawing, hover and the process start are Win32.
#pragma once

#include <cstddef>

namespace oryn {

// Turns the registered browser command in `command` (a buffer of `size` bytes) into the command
// line that opens `address`: the text is cut at its first percent sign (the argument placeholder;
// the character before it, usually its opening quote, becomes a blank) or at its first "/e", then
// a blank and the address are appended. Returns 0, or 1 (command unchanged) when the result would
// not fit in the buffer with its terminator, so that such a command is never started.
int browserCommandLine(char* command, size_t size, const char* address);

} // namespace oryn
