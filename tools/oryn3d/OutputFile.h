// A file written under a temporary name in its final folder and renamed into place only when it
// is complete, so that a failed or cancelled run leaves neither a partial file nor a stray one.
// A symbolic link is written through to its target, and a file replaced keeps its permissions.
// The temporary file is held locked while it exists, so that one left by a killed run can be
// told from one in use and removed by a later run into the same folder.
#pragma once

#include <string>

namespace oryn {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~OutputFile();

    // Creates an empty temporary file next to `path`, or next to the file a symbolic link at
    // `path` points to, with the permissions of the file it replaces (those of a new file when
    // there is none). A second Ctrl-C removes it too. An existing device or pipe (/dev/null, a
    // FIFO, /dev/stdout, a shell's >(...)) is written directly instead. Stale temporary files
    // of earlier runs in the same folder are removed first. Returns 0, or 1 with a one-line
    // reason in `error`.
    int create(const std::string& path, std::string& error);

    // Where to write the content.
    const std::string& temporary() const { return temporaryPath; }

    // The file the content finally goes to, for messages.
    const std::string& destination() const { return finalPath; }

    // Renames the temporary file over the final path. Returns 0, or 1 with a reason.
    int commit(std::string& error);

    // Removes the temporary file, if there is one.
    void discard();

private:
    std::string finalPath;
    std::string temporaryPath;
    int cancelSlot = -1;
    int lockFd = -1;     // the temporary file, open and locked until it is renamed or removed
    bool keepMode = false; // a file is replaced: its permissions and owner carry over
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
    bool direct = false; // writing straight into a device or pipe
};

// The hidden temporary name for `name` in the same folder: ".NAME.oryn3d-XXXXXX" (the X's for
// mkstemp), with NAME shortened in the middle where the whole would not fit in `maxLength` bytes.
std::string temporaryNameFor(const std::string& name, size_t maxLength);

// True when `name` has the form temporaryNameFor gives.
bool isTemporaryName(const std::string& name);

// Removes the temporary files in `folder` ("" for the current one) that a run killed before it
// could clean up left behind: ours by name, owned by this user, older than a few seconds, and
// not locked by a live run. Returns how many were removed.
int removeStaleTemporaries(const std::string& folder);

// The file `path` finally names: symbolic links followed, also a last one whose target does not
// exist yet.
std::string resolvedPath(const std::string& path);

// True when both paths name the same file: the same inode for existing files, the same resolved
// path for files still to be made.
bool sameFile(const std::string& a, const std::string& b);

// Writes `size` bytes to `path` ("-": standard output), replacing its content. Returns 0, or 1
// with a reason.
int writeFileBytes(const std::string& path, const void* bytes, size_t size, std::string& error);

// Reads a whole file ("-": standard input) of at most `limit` bytes; a longer file gives
// limit + 1 bytes, so that the caller can tell it is too long. Returns 0, or 1 with a reason.
int readFileBytes(const std::string& path, size_t limit, std::string& bytes, std::string& error);

} // namespace oryn
