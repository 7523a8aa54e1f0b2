// The test host's command line: what to run and how the host behaves.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/testhost/PiplReader.h"

namespace oryn {

struct Options {
    std::string plugin;
    std::string in;
    std::string out;
    std::string mask;
    bool info = false;
    bool about = false;
    bool hasSelector = false;
    int16_t selector = 0;
    bool dialog = false;
    bool parent = false;
    bool noPlatformData = false;
    bool log = false;
    bool keepPartial = false;
    int32_t width = 64; // generated image when there is no --in
    int32_t height = 48;
    int32_t planes = 0; // 0: as many as the input has
    int32_t fill = 255; // value of planes the input does not have
    uint32_t fore = 0x000000;
    uint32_t back = 0xFFFFFF;
    bool hasPick = false;
    uint32_t pick = 0;
    int32_t cancelAtRow = -1;
    bool cancelAlways = false;
    int32_t maxSpace = 1 << 30;
    int32_t loopLimit = 100000;
    int32_t autoCloseMs = -1;
    std::string windowMap; // --window-map FILE
    uint32_t hostSig = fourCharCode("8BIM");
    std::string storeRecord; // file whose bytes become the stored "Last Used" value
    bool clearStore = false;
    bool showStore = false;
    std::string writeInput;       // write the source image to this file and stop
    std::string compare;          // image the output must equal, byte for byte
    int32_t compareFirstRow = 0;  // rows compared: [first, last)
    int32_t compareLastRow = INT32_MAX;
    bool hasExpectRows = false;   // rows that must all hold one colour
    int32_t expectFirstRow = 0;
    int32_t expectLastRow = 0;
    std::vector<uint8_t> expectColor;
    int32_t progressDelayMs = 0; // progressProc sleeps this long on every call
    bool progressPump = false;   // progressProc dispatches every pending message, as some hosts do
    bool pickerBox = false;      // the colour picker shows a box of its own before it answers
    int32_t rowPadding = 0;      // bytes of padding after every row of the served buffers
    std::string holdAdvance;     // the first advanceState waits until this file exists
    std::vector<std::pair<std::string, std::string>> storeValues; // --store-value NAME HEX
};

// The text --help prints.
extern const char HelpText[];

// Returns 0 when the arguments make a valid request, else 1 after saying why.
int parseOptions(int argc, char** argv, Options& options, bool& help);

} // namespace oryn
