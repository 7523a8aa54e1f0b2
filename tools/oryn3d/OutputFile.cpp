// Output files made atomically: a temporary file in the destination folder, renamed on success.
#include "tools/oryn3d/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/oryn3d/ToolHost.h"

namespace oryn {

namespace {

// Marks our temporary names: ".NAME" + TemporaryMark + six mkstemp characters.
constexpr const char* TemporaryMark = ".oryn3d-";
constexpr size_t TemporaryMarkLength = 8;
constexpr size_t TemporaryRandomLength = 6;

// A temporary file younger than this may belong to a run that has made it but not yet locked it.
constexpr time_t StaleAfterSeconds = 10;

// The folders already cleared of stale temporary files by this process: a batch clears each
// folder once.
std::vector<std::string> clearedFolders;

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

OutputFile::~OutputFile()
{
    discard();
}

std::string temporaryNameFor(const std::string& name, size_t maxLength)
{
    const size_t overhead = 1 + TemporaryMarkLength + TemporaryRandomLength;
    std::string kept = name;
    if (overhead + kept.size() > maxLength && maxLength > overhead + 8) {
        // The middle goes, as the start and the extension are what a user recognises; no UTF-8
        // sequence is cut.
        const size_t room = maxLength - overhead - 1;
        size_t head = room / 2;
        while (head > 0 && isContinuationByte(name[head]))
            --head;
        size_t tail = name.size() - (room - head);
        while (tail < name.size() && isContinuationByte(name[tail]))
            ++tail;
        kept = name.substr(0, head) + "~" + name.substr(tail);
    }
    return "." + kept + TemporaryMark + std::string(TemporaryRandomLength, 'X');
}

bool isTemporaryName(const std::string& name)
{
    const size_t tail = TemporaryMarkLength + TemporaryRandomLength;
    if (name.size() < 1 + tail || name[0] != '.')
        return false;
    const size_t mark = name.size() - tail;
    if (name.compare(mark, TemporaryMarkLength, TemporaryMark) != 0)
        return false;
    for (size_t i = mark + TemporaryMarkLength; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

int removeStaleTemporaries(const std::string& folder)
{
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr)
        return 0;
    const time_t now = time(nullptr);
    int removed = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (!isTemporaryName(name))
            continue;
        const std::string file = folder + name;
        struct stat info;
        if (lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != geteuid() || now - info.st_mtime < StaleAfterSeconds)
            continue;
        // A run holds its temporary file locked until it is renamed or removed; the lock goes
        // with the process, however it ended.
        const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat opened;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 &&
            opened.st_ino == info.st_ino && opened.st_dev == info.st_dev &&
            unlink(file.c_str()) == 0)
            ++removed;
        close(fd);
    }
    closedir(listing);
    return removed;
}

int OutputFile::create(const std::string& path, std::string& error)
{
    discard();
    struct stat existing;
    // A device or pipe gets the bytes instead of being replaced. It is checked through the
    // path as given: /dev/stdout and /dev/fd/N lead to pipes whose link text names no file.
    if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
        !S_ISDIR(existing.st_mode)) {
        if (access(path.c_str(), W_OK) != 0) {
            error = std::string("cannot write there: ") + std::strerror(errno);
            return 1;
        }
        finalPath = path;
        temporaryPath = path;
        direct = true;
        return 0;
    }
    const std::string target = resolvedPath(path);
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error = "names a folder, not a file";
        return 1;
    }
    const size_t slash = target.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        error = "names a folder, not a file";
        return 1;
    }
    if (std::find(clearedFolders.begin(), clearedFolders.end(), folder) == clearedFolders.end()) {
        removeStaleTemporaries(folder);
        clearedFolders.push_back(folder);
    }
    // Hidden, and named after the output, so that a stray one is easy to recognise; shortened
    // where the output's own name leaves no room for the additions.
    const long nameMax = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    const std::string pattern =
        folder + temporaryNameFor(name, nameMax > 0 ? static_cast<size_t>(nameMax) : 255);
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot create a file there: ") + std::strerror(errno);
        return 1;
    }
    cancelSlot = registerTemporaryFile(buffer.data());
    flock(fd, LOCK_EX);
    lockFd = fd;
    keepMode = exists;
    mode = existing.st_mode & 07777;
    owner = existing.st_uid;
    group = existing.st_gid;
    finalPath = target;
    temporaryPath = buffer.data();
    return 0;
}

int OutputFile::commit(std::string& error)
{
    if (temporaryPath.empty()) {
        error = "nothing was written";
        return 1;
    }
    if (direct) {
        temporaryPath.clear();
        direct = false;
        return 0;
    }
    // The permissions are set only now, so that a read-only file being replaced does not make
    // its own replacement unwritable while it is written.
    if (keepMode) {
        // The replacement keeps what the user set on the file: permissions, and where we may,
        // the owner and group.
        if (owner != geteuid() || group != getegid())
            static_cast<void>(fchown(lockFd, owner, group));
        fchmod(lockFd, mode);
    } else {
        // mkstemp makes the file private; a new output gets what any new file would get.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(lockFd, 0666 & ~mask);
    }
    if (std::rename(temporaryPath.c_str(), finalPath.c_str()) != 0) {
        error = std::string("cannot replace the file: ") + std::strerror(errno);
        return 1;
    }
    unregisterTemporaryFile(cancelSlot);
    cancelSlot = -1;
    close(lockFd);
    lockFd = -1;
    temporaryPath.clear();
    return 0;
}

void OutputFile::discard()
{
    if (!temporaryPath.empty() && !direct) {
        unregisterTemporaryFile(cancelSlot);
        std::remove(temporaryPath.c_str());
    }
    if (lockFd >= 0)
        close(lockFd);
    lockFd = -1;
    cancelSlot = -1;
    temporaryPath.clear();
    direct = false;
}

std::string resolvedPath(const std::string& path)
{
    std::string current = path;
    // Follows at most as many links as the kernel does before it gives up with ELOOP.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096) + 1);
        const ssize_t length = readlink(current.c_str(), target.data(), target.size() - 1);
        if (length < 0)
            break;
        const std::string link(target.data(), static_cast<size_t>(length));
        const size_t slash = current.find_last_of('/');
        current = link[0] == '/' || slash == std::string::npos
                      ? link
                      : current.substr(0, slash + 1) + link;
    }
    return current;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    const bool firstExists = stat(a.c_str(), &first) == 0;
    const bool secondExists = stat(b.c_str(), &second) == 0;
    if (firstExists && secondExists)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    if (firstExists != secondExists)
        return false;
    std::error_code ignored;
    const auto left = std::filesystem::weakly_canonical(
        std::filesystem::absolute(resolvedPath(a), ignored), ignored);
    const auto right = std::filesystem::weakly_canonical(
        std::filesystem::absolute(resolvedPath(b), ignored), ignored);
    return left == right;
}

int writeFileBytes(const std::string& path, const void* bytes, size_t size, std::string& error)
{
    if (path == "-") {
        if (std::fwrite(bytes, 1, size, stdout) != size || std::fflush(stdout) != 0) {
            error = std::string("cannot write standard output: ") + std::strerror(errno);
            return 1;
        }
        return 0;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return 1;
    }
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    const int savedErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        error = std::strerror(written ? errno : savedErrno);
        return 1;
    }
    return 0;
}

int readFileBytes(const std::string& path, size_t limit, std::string& bytes, std::string& error)
{
    const bool standardInput = path == "-";
    std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return 1;
    }
    bytes.assign(limit + 1, '\0');
    const size_t got = std::fread(&bytes[0], 1, limit + 1, file);
    const bool failed = std::ferror(file) != 0;
    if (!standardInput)
        std::fclose(file);
    if (failed) {
        error = "cannot read the file";
        return 1;
    }
    bytes.resize(got);
    return 0;
}

} // namespace oryn
