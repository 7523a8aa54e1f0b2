// The preset store in SQLite: recognising our file, one transaction per call, and clear reports
// for files that are not the store.
#include "tools/oryn3d/PresetDatabase.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/oryn3d/OutputFile.h"
#include "tools/oryn3d/ToolHost.h"

namespace oryn {

namespace {

// Our file carries this application id ("OR3D") and format number in its SQLite header, from
// the moment it appears under its name.
constexpr int64_t StoreApplicationId = 0x4F523344;
constexpr int64_t StoreFormat = 1;

// How long a run waits for another run's transaction before it gives up.
constexpr int BusyTimeoutMs = 10000;

// position keeps the insertion order; an explicit INTEGER PRIMARY KEY keeps it through VACUUM.
// The unique index on name compares without regard to ASCII case, as the registry compares value
// names, and an upsert on it keeps the first spelling and the place of an overwritten name.
const char CreateSql[] =
    "CREATE TABLE presets ("
    " position INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
    " record BLOB NOT NULL CHECK (typeof(record) = 'blob' AND length(record) = 64));";

const char LeftAsItIs[] = "; the file was left as it is";

// Finalizes a prepared statement when it goes out of scope.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

int execute(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// Rolls back a transaction that was begun but not committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db(db) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction()
    {
        if (active)
            execute(db, "ROLLBACK");
    }
    // Returns the SQLite result of the BEGIN statement.
    int begin(const char* sql)
    {
        const int rc = execute(db, sql);
        active = rc == SQLITE_OK;
        return rc;
    }
    int commit()
    {
        const int rc = execute(db, "COMMIT");
        if (rc == SQLITE_OK)
            active = false;
        return rc;
    }

private:
    sqlite3* db;
    bool active = false;
};

// SQLite's integrity report as part of one line: its header dropped, line breaks and runs of
// blanks made single blanks.
std::string oneLine(const std::string& text)
{
    const std::string header = "*** in database main ***";
    std::string source = text;
    const size_t at = source.find(header);
    if (at != std::string::npos)
        source.erase(at, header.size());
    std::string line;
    for (char c : source) {
        const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (blank && (line.empty() || line.back() == ' '))
            continue;
        line += blank ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

// One line on an SQLite failure, in words that say what it means for the store.
std::string describe(sqlite3* db, int rc)
{
    const std::string message = oneLine(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    switch (rc & 0xFF) {
    case SQLITE_NOTADB:
        return std::string("not an oryn3d preset store (not an SQLite database)") + LeftAsItIs;
    case SQLITE_CORRUPT:
        return "the preset store is damaged (" + message + ")" + LeftAsItIs;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        if (cancelRequested())
            return "stopped while waiting for the preset store; nothing was changed";
        return "the preset store stayed locked for " + std::to_string(BusyTimeoutMs / 1000) +
               " seconds (by another oryn3d run, or another program that has it open); nothing "
               "was changed";
    case SQLITE_READONLY:
        return "the preset store cannot be written (" + message + ")";
    default:
        return "cannot use the preset store (" + message + ")";
    }
}

// SQLite's busy handler: waits in short steps for a lock held elsewhere, up to BusyTimeoutMs,
// and gives up at once after a termination signal. `attempt` counts from 0.
int waitWhileLocked(void*, int attempt)
{
    constexpr int StepMs = 20;
    if (cancelRequested() || attempt * StepMs >= BusyTimeoutMs)
        return 0;
    usleep(StepMs * 1000);
    return cancelRequested() ? 0 : 1;
}

// The first column of the first row of `sql`. Returns the SQLite result.
int queryInteger(sqlite3* db, const char* sql, int64_t& value)
{
    Statement s;
    int rc = sqlite3_prepare_v2(db, sql, -1, &s.stmt, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_step(s.stmt);
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? SQLITE_ERROR : rc;
    value = sqlite3_column_int64(s.stmt, 0);
    return SQLITE_OK;
}

// Decides whether the open database is the store. Must run inside a transaction, so that what
// it sees is what the caller reads or writes next. Returns 0, or 1 with a reason.
int recognise(sqlite3* db, const std::string& path, std::string& reason)
{
    int64_t id = 0;
    int64_t format = 0;
    int64_t objects = 0;
    int rc = queryInteger(db, "PRAGMA application_id", id);
    if (rc == SQLITE_OK)
        rc = queryInteger(db, "PRAGMA user_version", format);
    if (rc == SQLITE_OK)
        rc = queryInteger(db, "SELECT count(*) FROM sqlite_master", objects);
    if (rc != SQLITE_OK) {
        reason = describe(db, rc);
        return 1;
    }
    if (id == 0 && format == 0 && objects == 0) {
        // A store is complete before it appears under its name (see PresetDatabase::create), so
        // an empty file or database in its place was made by someone else, or emptied.
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && info.st_size == 0)
            reason = std::string("an empty file, not an oryn3d preset store") + LeftAsItIs;
        else
            reason = std::string("not an oryn3d preset store (an empty SQLite database)") +
                     LeftAsItIs;
        return 1;
    }
    if (id != StoreApplicationId) {
        reason = std::string("not an oryn3d preset store (an SQLite database of another program)") +
                 LeftAsItIs;
        return 1;
    }
    if (format > StoreFormat) {
        reason = "the preset store has format " + std::to_string(format) +
                 ", newer than this oryn3d reads (" + std::to_string(StoreFormat) + ")" +
                 LeftAsItIs;
        return 1;
    }
    Statement probe;
    if (format != StoreFormat ||
        sqlite3_prepare_v2(db, "SELECT position, name, record FROM presets LIMIT 0", -1,
                           &probe.stmt, nullptr) != SQLITE_OK) {
        reason = std::string("the preset store is damaged (its table is missing or changed)") +
                 LeftAsItIs;
        return 1;
    }

    // Damage outside the pages a command happens to read would otherwise go unnoticed until a
    // write runs into it. The full check also compares the name index with the table (a name
    // found by one and not the other would be looked up wrongly and stored twice); the store is
    // a few pages, so checking it every time costs nothing.
    int64_t pages = 0;
    int64_t pageSize = 0;
    rc = queryInteger(db, "PRAGMA page_count", pages);
    if (rc == SQLITE_OK)
        rc = queryInteger(db, "PRAGMA page_size", pageSize);
    if (rc != SQLITE_OK) {
        reason = describe(db, rc);
        return 1;
    }
    // In the transaction the file is whole: a file cut short, or grown past its last page, is
    // damaged even where every page that is left reads well.
    struct stat info;
    if (pages > 0 && stat(path.c_str(), &info) == 0 && pages * pageSize != info.st_size) {
        reason = "the preset store is damaged (the file has " + std::to_string(info.st_size) +
                 " bytes, its pages " + std::to_string(pages * pageSize) + ")" + LeftAsItIs;
        return 1;
    }
    Statement check;
    rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check.stmt, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(check.stmt);
    if (rc != SQLITE_ROW) {
        reason = describe(db, rc);
        return 1;
    }
    const unsigned char* verdict = sqlite3_column_text(check.stmt, 0);
    const std::string text = verdict != nullptr ? reinterpret_cast<const char*>(verdict) : "";
    if (text != "ok") {
        reason = "the preset store is damaged (" + oneLine(text) + ")" + LeftAsItIs;
        return 1;
    }
    return 0;
}

// Starts a transaction (`mode` is "BEGIN" or "BEGIN IMMEDIATE") and checks that the file is the
// store. Returns 0, or 1 with the reason, naming the file, in `error`.
int beginRecognised(sqlite3* db, Transaction& transaction, const char* mode,
                    const std::string& path, std::string& error)
{
    std::string reason;
    int rc = transaction.begin(mode);
    if (rc != SQLITE_OK) {
        error = path + ": " + describe(db, rc);
        return 1;
    }
    if (recognise(db, path, reason) != 0) {
        error = path + ": " + reason;
        return 1;
    }
    return 0;
}

// Reads a row's record column. Returns 0, or 1 when it is not exactly one record.
int recordOf(sqlite3_stmt* stmt, int column, ParamBlock& block)
{
    const void* bytes = sqlite3_column_blob(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    return size < 0 ? 1 : readParamBlock(bytes, static_cast<size_t>(size), block);
}

std::string nameOf(sqlite3_stmt* stmt, int column)
{
    const unsigned char* text = sqlite3_column_text(stmt, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

int bindName(sqlite3_stmt* stmt, int index, const std::string& name)
{
    return sqlite3_bind_text(stmt, index, name.data(), static_cast<int>(name.size()),
                             SQLITE_TRANSIENT);
}

bool isFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates `folder` and any missing parent, private to the user as configuration folders are.
// Returns 0, or 1 with a reason.
int makeFolders(const std::string& folder, std::string& reason)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && !isFolder(part)) {
            reason = "cannot create the folder " + part + ": " + std::strerror(errno);
            return 1;
        }
    }
    return 0;
}

// An absolute folder from the environment, without trailing slashes; empty when unset, empty or
// relative (the base directory convention ignores relative paths).
std::string absoluteFolder(const char* value)
{
    if (value == nullptr || value[0] != '/')
        return std::string();
    std::string folder(value);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// Makes the empty file at `path` a store without values: our table, application id and format.
// Nobody else knows the file yet, so it needs no journal. Returns 0, or 1 with a reason.
int initialiseStore(const std::string& path, std::string& reason)
{
    sqlite3* made = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &made, SQLITE_OPEN_READWRITE, nullptr);
    const std::string sql = std::string("PRAGMA journal_mode = MEMORY; BEGIN; ") + CreateSql +
                            "PRAGMA application_id = " + std::to_string(StoreApplicationId) +
                            "; PRAGMA user_version = " + std::to_string(StoreFormat) +
                            "; COMMIT;";
    if (rc == SQLITE_OK)
        rc = execute(made, sql.c_str());
    if (rc != SQLITE_OK) {
        reason = describe(made, rc);
        sqlite3_close(made);
        return 1;
    }
    rc = sqlite3_close(made);
    if (rc != SQLITE_OK) {
        reason = describe(nullptr, rc);
        return 1;
    }
    // The temporary file is private; the store gets what SQLite gives a new database.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(path.c_str(), 0644 & ~mask);
    return 0;
}

// Gives the complete store at `made` the name `path`, unless something has that name already.
// Returns 0 also when another run has made the store meanwhile; 1 with a reason on failure.
int publishStore(const std::string& made, const std::string& path, std::string& reason)
{
    if (link(made.c_str(), path.c_str()) == 0 || errno == EEXIST)
        return 0;
    const int linkError = errno;
    // A file system without hard links: a rename that refuses to replace does the same.
    if (renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0 ||
        errno == EEXIST)
        return 0;
    reason = std::string("cannot create the preset store: ") + std::strerror(linkError);
    return 1;
}

// Runs `sql`, which changes the row named ?1 (with `second`, when given, bound to ?2), in a
// transaction of its own. NotFound when no row has the name; Failed with `conflict` as the reason
// when a constraint refuses the change, or with the store's reason when it cannot be made.
StoreResult changeNamedRow(sqlite3* db, const std::string& filePath, const char* sql,
                           const std::string& name, const std::string* second,
                           const std::string& conflict, std::string& error)
{
    if (db == nullptr)
        return StoreResult::NotFound;
    Transaction transaction(db);
    if (beginRecognised(db, transaction, "BEGIN IMMEDIATE", filePath, error) != 0)
        return StoreResult::Failed;

    Statement s;
    int rc = sqlite3_prepare_v2(db, sql, -1, &s.stmt, nullptr);
    if (rc == SQLITE_OK)
        rc = bindName(s.stmt, 1, name);
    if (rc == SQLITE_OK && second != nullptr)
        rc = bindName(s.stmt, 2, *second);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(s.stmt);
    if (rc == SQLITE_DONE && sqlite3_changes(db) == 0)
        return StoreResult::NotFound;
    if ((rc & 0xFF) == SQLITE_CONSTRAINT && !conflict.empty()) {
        error = conflict;
        return StoreResult::Failed;
    }
    if (rc == SQLITE_DONE)
        rc = transaction.commit();
    if (rc != SQLITE_OK) {
        error = filePath + ": " + describe(db, rc);
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

} // namespace

int presetDatabasePath(std::string& path, std::string& error)
{
    std::string config = absoluteFolder(std::getenv("XDG_CONFIG_HOME"));
    if (config.empty()) {
        std::string home = absoluteFolder(std::getenv("HOME"));
        if (home.empty()) {
            const struct passwd* user = getpwuid(getuid());
            home = absoluteFolder(user != nullptr ? user->pw_dir : nullptr);
        }
        if (home.empty()) {
            error = "cannot find the preset store: neither XDG_CONFIG_HOME nor HOME names a folder";
            return 1;
        }
        config = (home == "/" ? std::string() : home) + "/.config";
    }
    path = config + "/oryn3d/presets.sqlite3";
    return 0;
}

PresetDatabase::~PresetDatabase()
{
    sqlite3_close(db);
}

int PresetDatabase::connect(std::string& error)
{
    sqlite3* opened = nullptr;
    const int rc = sqlite3_open_v2(filePath.c_str(), &opened, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        error = filePath + ": " + describe(opened, rc);
        sqlite3_close(opened);
        return 1;
    }
    sqlite3_extended_result_codes(opened, 1);
    sqlite3_busy_handler(opened, waitWhileLocked, nullptr);
    db = opened;
    return 0;
}

int PresetDatabase::create(std::string& error)
{
    const size_t slash = filePath.find_last_of('/');
    if (slash != std::string::npos && slash > 0 &&
        makeFolders(filePath.substr(0, slash), error) != 0)
        return 1;
    struct stat info;
    if (stat(filePath.c_str(), &info) != 0) {
        // Opening the file itself would create it empty, and until the first write commits,
        // another run would find an empty file it cannot tell from someone else's. The store is
        // made complete under a temporary name instead, and then given its name in one step
        // that never replaces a file: when another run got there first, its store is used.
        OutputFile made;
        std::string reason;
        if (made.create(filePath, reason) != 0 ||
            initialiseStore(made.temporary(), reason) != 0 ||
            publishStore(made.temporary(), made.destination(), reason) != 0) {
            error = filePath + ": " + reason;
            return 1;
        }
    }
    return connect(error);
}

int PresetDatabase::open(const std::string& path, std::string& error)
{
    sqlite3_close(db);
    db = nullptr;
    filePath = path;
    struct stat info;
    if (stat(filePath.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return 0;
        error = filePath + ": " + std::strerror(errno);
        return 1;
    }
    if (connect(error) != 0)
        return 1;

    Transaction transaction(db);
    std::string reason;
    int rc = transaction.begin("BEGIN");
    if (rc != SQLITE_OK)
        reason = describe(db, rc);
    else if (recognise(db, filePath, reason) == 0 && (rc = transaction.commit()) != SQLITE_OK)
        reason = describe(db, rc);
    if (!reason.empty()) {
        error = filePath + ": " + reason;
        return 1;
    }
    return 0;
}

int PresetDatabase::list(std::vector<StoredPreset>& presets, std::string& error)
{
    presets.clear();
    if (db == nullptr)
        return 0;
    Transaction transaction(db);
    if (beginRecognised(db, transaction, "BEGIN", filePath, error) != 0)
        return 1;
    {
        Statement s;
        int rc = sqlite3_prepare_v2(db, "SELECT name, record FROM presets ORDER BY position", -1,
                                    &s.stmt, nullptr);
        while (rc == SQLITE_OK || rc == SQLITE_ROW) {
            rc = sqlite3_step(s.stmt);
            if (rc != SQLITE_ROW)
                break;
            StoredPreset preset{nameOf(s.stmt, 0), ParamBlock{}};
            if (recordOf(s.stmt, 1, preset.block) != 0) {
                error = filePath + ": the preset store is damaged (the value '" + preset.name +
                        "' is not a 64-byte record)" + LeftAsItIs;
                presets.clear();
                return 1;
            }
            presets.push_back(preset);
        }
        if (rc != SQLITE_DONE) {
            error = filePath + ": " + describe(db, rc);
            presets.clear();
            return 1;
        }
    }
    const int rc = transaction.commit();
    if (rc != SQLITE_OK) {
        error = filePath + ": " + describe(db, rc);
        presets.clear();
        return 1;
    }
    return 0;
}

StoreResult PresetDatabase::read(const std::string& name, StoredPreset& preset, std::string& error)
{
    if (db == nullptr)
        return StoreResult::NotFound;
    Transaction transaction(db);
    if (beginRecognised(db, transaction, "BEGIN", filePath, error) != 0)
        return StoreResult::Failed;

    Statement s;
    int rc = sqlite3_prepare_v2(db, "SELECT name, record FROM presets WHERE name = ?1", -1,
                                &s.stmt, nullptr);
    if (rc == SQLITE_OK)
        rc = bindName(s.stmt, 1, name);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(s.stmt);
    if (rc == SQLITE_DONE)
        return StoreResult::NotFound;
    if (rc != SQLITE_ROW) {
        error = filePath + ": " + describe(db, rc);
        return StoreResult::Failed;
    }
    StoredPreset found{nameOf(s.stmt, 0), ParamBlock{}};
    if (recordOf(s.stmt, 1, found.block) != 0) {
        error = filePath + ": the preset store is damaged (the value '" + found.name +
                "' is not a 64-byte record)" + LeftAsItIs;
        return StoreResult::Failed;
    }
    rc = transaction.commit();
    if (rc != SQLITE_OK) {
        error = filePath + ": " + describe(db, rc);
        return StoreResult::Failed;
    }
    preset = found;
    return StoreResult::Ok;
}

int PresetDatabase::write(const std::string& name, const ParamBlock& block, std::string& error)
{
    if (db == nullptr && create(error) != 0)
        return 1;
    Transaction transaction(db);
    // IMMEDIATE takes the write lock at once, so two writers queue up instead of one of them
    // failing when it upgrades a read lock.
    if (beginRecognised(db, transaction, "BEGIN IMMEDIATE", filePath, error) != 0)
        return 1;

    Statement s;
    int rc = sqlite3_prepare_v2(db,
                            "INSERT INTO presets (name, record) VALUES (?1, ?2) "
                            "ON CONFLICT (name) DO UPDATE SET record = excluded.record",
                            -1, &s.stmt, nullptr);
    if (rc == SQLITE_OK)
        rc = bindName(s.stmt, 1, name);
    if (rc == SQLITE_OK)
        rc = sqlite3_bind_blob(s.stmt, 2, &block, static_cast<int>(sizeof block), SQLITE_TRANSIENT);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(s.stmt);
    if (rc == SQLITE_DONE)
        rc = transaction.commit();
    if (rc != SQLITE_OK) {
        error = filePath + ": " + describe(db, rc);
        return 1;
    }
    return 0;
}

StoreResult PresetDatabase::remove(const std::string& name, std::string& error)
{
    return changeNamedRow(db, filePath, "DELETE FROM presets WHERE name = ?1", name, nullptr, "", error);
}

StoreResult PresetDatabase::rename(const std::string& from, const std::string& to,
                                   std::string& error)
{
    return changeNamedRow(db, filePath, "UPDATE presets SET name = ?2 WHERE name = ?1", from, &to,
                          "a user preset '" + to + "' exists already; delete it first, or choose "
                          "another name",
                          error);
}

} // namespace oryn
