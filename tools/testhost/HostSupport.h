// The test host's shared basics: output lines, quoting, rectangles, exit codes, and the
// attribute of functions that modules and Windows call into.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostApi.h"

namespace oryn {

// Functions that a module or Windows calls into: on 32-bit Windows the caller may keep only
// 4-byte stack alignment (as MSVC-built code does), so realign before any SSE spill.
#if defined(__i386__)
#define ORYN_CALLED_BACK __attribute__((force_align_arg_pointer))
#else
#define ORYN_CALLED_BACK
#endif

// Value written into the result slot before each call: a selector that answers nothing leaves it.
constexpr int16_t ResultSentinel = 0x7777;

// Process exit codes.
enum ExitCode {
    ExitOk = 0,
    ExitSelectorFailed = 1, // some selector answered other than noErr, or the run was cut short
    ExitUsage = 2,
    ExitModule = 3, // module not loadable, no usable PiPL, entry point not exported
    ExitImage = 4,  // an image file could not be read or written
    ExitCrash = 5,  // the module raised an exception the host did not expect
    ExitCheck = 6,  // the output failed --compare or --expect-rows
};

// The call in progress ("load", a selector's label, or "host"), named when the module crashes.
extern const char* currentCall;

// Makes the lock that say() takes; called once, first thing in main.
void initOutput();

// Every line of output goes through here: whole lines, flushed, from either thread.
void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Text in double quotes with control characters, quotes and backslashes escaped.
std::string quoted(const std::string& text);

// "(top,left,bottom,right)", the record's own order.
std::string rectText(const Rect& r);

bool rectEmpty(const Rect& r);

} // namespace oryn
