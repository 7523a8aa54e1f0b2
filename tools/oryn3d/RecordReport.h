// A parameter record described for people and for scripts: every value next to the option that
// sets it, as aligned text or as JSON. `presets show` and `render --dry-run` print it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "params/ParamBlock.h"

namespace oryn {

// What the record is and where it came from.
struct RecordTitle {
    std::string name;    // preset name or file
    std::string kind;    // "sample", "user", "file" or "settings"
    bool sample = false; // a sample sets only the cell shape; the other values are not shown
    std::string effect;  // what --preset with it changes; empty to leave out
};

// Further lines to show before the values, as label and value (text) or key and JSON value.
using ReportLines = std::vector<std::pair<std::string, std::string>>;

// The record as aligned lines: label, value, and the option that gives the value.
std::string recordText(const RecordTitle& title, const ParamBlock& block,
                       const ReportLines& extra = {});

// The record as one JSON object. `extra` values are JSON already.
std::string recordJson(const RecordTitle& title, const ParamBlock& block,
                       const ReportLines& extra = {});

// `text` as a JSON string, quotes included.
std::string jsonString(const std::string& text);

} // namespace oryn
