// Record values with their option names, as text and as JSON.
#include "tools/oryn3d/RecordReport.h"

#include <cstdio>

#include "host/ColorWord.h"
#include "params/PresetApply.h"

namespace oryn {

namespace {

std::string hexColour(uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X", word & 0xFF, (word >> 8) & 0xFF,
                  (word >> 16) & 0xFF);
    return text;
}

std::string pair(int32_t x, int32_t y)
{
    return std::to_string(x) + "," + std::to_string(y);
}

std::string flagNames(uint8_t flags)
{
    std::string names;
    auto add = [&](uint8_t bit, const char* name) {
        if ((flags & bit) != 0)
            names += (names.empty() ? "" : ", ") + std::string(name);
    };
    add(BackgroundSaved, "background saved");
    add(LightSaved, "light correction saved");
    add(LastUsedRecord, "last-used record");
    const uint8_t others = flags & ~(BackgroundSaved | LightSaved | LastUsedRecord);
    if (others != 0)
        names += (names.empty() ? "" : ", ") + std::string("other bits ") +
                 std::to_string(static_cast<int>(others));
    return names.empty() ? std::string("none") : names;
}

// The --background word of a record: a mode, or the picker colour.
std::string backgroundWord(const ParamBlock& b)
{
    switch (b.backgroundMode) {
    case Foreground:
        return "foreground";
    case Background:
        return "background";
    case Picker:
        return hexColour(b.backgroundColor);
    case Transparent:
        return "transparent";
    default:
        return "mode " + std::to_string(b.backgroundMode);
    }
}

// One value of the record: its label, its value as text and as JSON, and its option; the JSON
// key is the option's name.
struct Field {
    const char* label;
    std::string text;
    std::string json;
    std::string option; // "--bevel 20", empty when no option sets it
    const char* key;
};

std::vector<Field> fieldsOf(const ParamBlock& b, bool sample)
{
    std::vector<Field> fields;
    auto number = [&](const char* label, const char* key, int32_t value, const char* note = "") {
        fields.push_back({label, std::to_string(value) + note, std::to_string(value),
                          std::string("--") + key + " " + std::to_string(value), key});
    };
    number("Cell width", "cell-width", b.padX[1]);
    number("Cell height", "cell-height", b.padY[0]);
    number("Bevel width", "bevel", b.padX[2]);
    number("Shading", "shading", b.padX[3], b.padX[3] == 50 ? " (none)" : "");
    const std::string light = pair(b.padX[5], b.padY[5]);
    // Pads are [X, Y] in JSON, numbers as numbers.
    auto jsonPair = [](int32_t x, int32_t y) {
        return "[" + std::to_string(x) + ", " + std::to_string(y) + "]";
    };
    fields.push_back({"Light direction", light, jsonPair(b.padX[5], b.padY[5]),
                      "--light " + light, "light"});
    const std::string stretch = pair(b.padX[4], b.padY[4]);
    fields.push_back({"Stretch", stretch, jsonPair(b.padX[4], b.padY[4]), "--stretch " + stretch,
                      "stretch"});
    number("G-Shading state", "face", faceModeOf(b));
    const bool x2 = stretchDoubleOf(b) != 0;
    fields.push_back({"Double stretch", x2 ? "on" : "off", x2 ? "true" : "false",
                      x2 ? "--x2" : "--no-x2", "x2"});
    if (sample)
        return fields;
    number("Light boost", "light-boost", b.padX[6]);
    number("Brightness ratio", "brightness-ratio", b.padX[7]);
    const bool antialias = b.antialias != 0;
    fields.push_back({"Antialiasing", antialias ? "on" : "off", antialias ? "true" : "false",
                      antialias ? "--antialias" : "--no-antialias", "antialias"});
    const std::string background = backgroundWord(b);
    fields.push_back({"Background", background, jsonString(background),
                      "--background " + background, "background"});
    return fields;
}

} // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string recordText(const RecordTitle& title, const ParamBlock& b, const ReportLines& extra)
{
    std::string out;
    auto line = [&](const std::string& label, const std::string& value,
                    const std::string& option = "") {
        char text[512];
        if (option.empty())
            std::snprintf(text, sizeof text, "%-18s %s\n", (label + ":").c_str(), value.c_str());
        else
            std::snprintf(text, sizeof text, "%-18s %-12s %s\n", (label + ":").c_str(),
                          value.c_str(), option.c_str());
        out += text;
    };
    line("Preset", title.name + " (" + title.kind + ")");
    for (const auto& entry : extra)
        line(entry.first, entry.second);
    for (const Field& field : fieldsOf(b, title.sample))
        line(field.label, field.text, field.option);
    if (title.sample) {
        line("Not set by a sample", "light boost, brightness ratio, antialiasing, background");
    } else {
        line("Flags", std::to_string(static_cast<int>(b.presetFlags)) + " (" +
                          flagNames(b.presetFlags) + ")");
        line("Checksum", std::to_string(b.checksum) +
                             (checksumOk(b) ? " (valid)"
                                            : " (INVALID: the values sum to " +
                                                  std::to_string(padChecksum(b)) + ")"));
    }
    if (!title.effect.empty())
        line("With --preset", title.effect);
    out += "Light and stretch pads: X grows to the right and Y downwards, 25,25 is the centre.\n";
    return out;
}

std::string recordJson(const RecordTitle& title, const ParamBlock& b, const ReportLines& extra)
{
    std::string out =
        "{\n  \"name\": " + jsonString(title.name) + ",\n  \"kind\": " + jsonString(title.kind);
    for (const auto& entry : extra)
        out += ",\n  " + jsonString(entry.first) + ": " + entry.second;
    for (const Field& field : fieldsOf(b, title.sample))
        out += ",\n  " + jsonString(field.key) + ": " + field.json;
    if (!title.sample) {
        out += ",\n  \"flags\": " + std::to_string(static_cast<int>(b.presetFlags)) +
               ",\n  \"checksum\": " + std::to_string(b.checksum) +
               ",\n  \"checksum-valid\": " + (checksumOk(b) ? "true" : "false");
    }
    if (!title.effect.empty())
        out += ",\n  \"with-preset\": " + jsonString(title.effect);
    return out + "\n}\n";
}

} // namespace oryn
