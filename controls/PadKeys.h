// Keyboard input for the windowless controls: the key codes, where a key moves a pad, and a value
// typed into a pad's caption. Integer code only, so every rule can be checked natively.
#pragma once

#include <cstdint>

#include "controls/Canvas.h"

namespace oryn {

class XYPad;

// Key codes are the window system's virtual-key numbers, so the window layer passes them through.
constexpr uint32_t KeyBackspace = 0x08;
constexpr uint32_t KeyReturn = 0x0D;
constexpr uint32_t KeyEscape = 0x1B;
constexpr uint32_t KeySpace = 0x20;
constexpr uint32_t KeyPageUp = 0x21;
constexpr uint32_t KeyPageDown = 0x22;
constexpr uint32_t KeyEnd = 0x23;
constexpr uint32_t KeyHome = 0x24;
constexpr uint32_t KeyLeft = 0x25;
constexpr uint32_t KeyUp = 0x26;
constexpr uint32_t KeyRight = 0x27;
constexpr uint32_t KeyDown = 0x28;
constexpr uint32_t KeyDelete = 0x2E;

// Modifier bits that go with a key.
constexpr uint32_t ShiftHeld = 1;

// An arrow moves a pad by one unit, by this many with Shift.
constexpr int32_t PadLargeStep = 10;

struct PadValue {
    int32_t x;
    int32_t y;
};

// Where `key` takes a pad with the given ranges and flags from (x, y):
// - the arrows move by one unit (PadLargeStep with Shift) along every axis with a non-zero range,
//   left and up towards 0;
// - Home and End go to the ends of the horizontal range, or of the vertical one for a pad that
//   only moves vertically; Page Up and Page Down to the ends of the vertical range of a two-axis
//   pad;
// - Delete resets as a double-click does: to the centre for centred and sprite pads, to 0 for the
//   other ruler pads; a pad with flags 0 has no reset.
// The target is clamped as a drag step clamps it. Returns false when the key means nothing for
// this pad (target then unchanged).
bool padKeyTarget(int32_t x, int32_t y, int32_t rangeX, int32_t rangeY, int32_t flags, uint32_t key,
                  uint32_t modifiers, PadValue& target);

// The axis a one-axis pad's typed value is for: 1 for a pad that only moves vertically, else 0.
int32_t padTypedAxis(int32_t rangeX, int32_t rangeY);
// What the pad's captions show is its value minus this: half the range of a sprite pad (both
// axes) and of a centred pad (horizontal), else 0.
int32_t padDisplayOffset(int32_t range, int32_t flags, int32_t axis);

// The value a typed caption text gives: the number (optional leading '-', decimal digits) plus
// `offset`, clamped to 0..range as a drag step clamps. Returns false for a text with no digit.
bool typedPadValue(const char* text, int32_t offset, int32_t range, int32_t& value);

// A number being typed into one pad's caption, shown there until it is taken or dropped.
struct PadEntry {
    int32_t pad = -1;     // index of the pad typed into; -1 while nothing is typed
    int32_t axis = 0;     // 0: the horizontal value, 1: the vertical one
    char text[2][6] = {}; // per axis: a sign and up to four digits, NUL-terminated
};

// Longest number a caption of the pad takes on `axis`: the digits of its widest shown value,
// plus one for the sign when shown values can be negative.
int32_t padEntryLength(const XYPad& pad, int32_t axis);

// Adds one typed character for pad `index`: a digit, '-' as the first character where shown
// values can be negative, ',' or ' ' to go on with the vertical value of a two-axis pad, and
// Backspace (8) to take back the last character. An entry for another pad is dropped first.
// Nothing but a digit, a sign or (on a two-axis pad) the separator starts an entry.
// Returns 1 when the entry changed (its caption must be drawn again), else 0.
int32_t typePadEntry(PadEntry& entry, int32_t index, const XYPad& pad, char c);

// Takes the entry into its pad: every axis with a typed number gets that value (clamped), the
// marker being erased at its old place when a value changes. The entry is then empty.
// Returns 1 when a value changed (the owner must repaint), else 0.
int32_t commitPadEntry(PadEntry& entry, XYPad& pad, Canvas& dc);

// Drops the entry without changing the pad.
void clearPadEntry(PadEntry& entry);

// True while the entry holds something for pad `index`.
bool entryActive(const PadEntry& entry, int32_t index);

} // namespace oryn
