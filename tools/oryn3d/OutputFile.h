// A file written under a temporary name in its final folder and renamed into place only when it
// is complete, so that a failed or cancelled run leaves neither a partial file nor a stray one.
// A symbolic link is written through to its target, and a file replaced keeps its permissions.
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
    // FIFO) is written directly instead. Returns 0, or 1 with a one-line reason in `error`.
    int create(const std::string& path, std::string& error);

    // Where to write the content.
    const std::string& temporary() const { return temporaryPath; }

    // Renames the temporary file over the final path. Returns 0, or 1 with a reason.
    int commit(std::string& error);

    // Removes the temporary file, if there is one.
    void discard();

private:
    std::string finalPath;
    std::string temporaryPath;
    int cancelSlot = -1;
    bool direct = false; // writing straight into a device or pipe
};

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
