// oryn3d's preset store: the user presets and the last-used record in one SQLite file, kept the
// way the plug-in keeps them in the registry (names without regard to case, one 64-byte record
// each, a stable order).
#pragma once

#include <string>
#include <vector>

#include "params/ParamBlock.h"

struct sqlite3;

namespace oryn {

// One stored value: its name as it was first stored, and its record.
struct StoredPreset {
    std::string name;
    ParamBlock block;
};

enum class StoreResult {
    Ok,
    NotFound, // no value of that name (compared without regard to ASCII case)
    Failed,   // the file could not be used; the error names it
};

// The store's file: $XDG_CONFIG_HOME/oryn3d/presets.sqlite3, with ~/.config in place of an unset,
// empty or relative XDG_CONFIG_HOME. Returns 0, or 1 with a one-line reason in `error`.
int presetDatabasePath(std::string& path, std::string& error);

// A connection to the store. Values keep their insertion order: overwriting a name keeps its
// place and its first spelling, a deleted name that is stored again goes to the end. Every call
// is one transaction; concurrent runs wait for each other (up to 10 seconds) instead of failing.
// A file that is not the store (not SQLite, another program's database, a newer format) or is
// damaged is reported and never written to.
class PresetDatabase {
public:
    PresetDatabase() = default;
    PresetDatabase(const PresetDatabase&) = delete;
    PresetDatabase& operator=(const PresetDatabase&) = delete;
    ~PresetDatabase();

    // Connects to the store at `path` and checks that it is one, creating nothing: a missing file
    // is an empty store until the first write. Returns 0, or 1 with a one-line reason naming the
    // file in `error`.
    int open(const std::string& path, std::string& error);

    const std::string& path() const { return filePath; }

    // Every stored value in store order. Returns 0, or 1 with a reason.
    int list(std::vector<StoredPreset>& presets, std::string& error);

    // The value called `name`. `preset.name` receives the stored spelling.
    StoreResult read(const std::string& name, StoredPreset& preset, std::string& error);

    // Stores `block` under `name`, replacing a value of that name in place. Creates the folder and
    // the file when needed. Returns 0, or 1 with a reason.
    int write(const std::string& name, const ParamBlock& block, std::string& error);

    // Deletes the value called `name`.
    StoreResult remove(const std::string& name, std::string& error);

    // Renames the value called `from` to `to`, in its place. NotFound when there is no `from`;
    // Failed, with a reason, also when another value is called `to`.
    StoreResult rename(const std::string& from, const std::string& to, std::string& error);

private:
    // Opens the connection to the existing file. Returns 0, or 1 with a reason.
    int connect(std::string& error);

    // Makes the folders and the store when missing, then connects. A store appears under its
    // name only complete (our table, application id and format), so that an empty file in its
    // place is never one of ours. Returns 0, or 1 with a reason.
    int create(std::string& error);

    sqlite3* db = nullptr;
    std::string filePath;
};

} // namespace oryn
