// Output files made atomically: a temporary file in the destination folder, renamed on success.
#include "tools/oryn3d/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/oryn3d/ToolHost.h"

namespace oryn {

OutputFile::~OutputFile()
{
    discard();
}

int OutputFile::create(const std::string& path, std::string& error)
{
    discard();
    const std::string target = resolvedPath(path);
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error = "names a folder, not a file";
        return 1;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // Renaming over a device or pipe would replace it; it gets the bytes instead.
        if (access(target.c_str(), W_OK) != 0) {
            error = std::string("cannot write there: ") + std::strerror(errno);
            return 1;
        }
        finalPath = target;
        temporaryPath = target;
        direct = true;
        return 0;
    }
    const size_t slash = target.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        error = "names a folder, not a file";
        return 1;
    }
    // Hidden, and named after the output, so that a stray one is easy to recognise.
    std::string pattern = folder + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        error = std::string("cannot create a file there: ") + std::strerror(errno);
        return 1;
    }
    cancelSlot = registerTemporaryFile(buffer.data());
    if (exists) {
        // The replacement keeps what the user set on the file: permissions, and where we may,
        // the owner and group.
        if (existing.st_uid != geteuid() || existing.st_gid != getegid())
            static_cast<void>(fchown(fd, existing.st_uid, existing.st_gid));
        fchmod(fd, existing.st_mode & 07777);
    } else {
        // mkstemp makes the file private; a new output gets what any new file would get.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    close(fd);
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
    if (std::rename(temporaryPath.c_str(), finalPath.c_str()) != 0) {
        error = std::string("cannot replace the file: ") + std::strerror(errno);
        return 1;
    }
    unregisterTemporaryFile(cancelSlot);
    cancelSlot = -1;
    temporaryPath.clear();
    return 0;
}

void OutputFile::discard()
{
    if (!temporaryPath.empty() && !direct) {
        unregisterTemporaryFile(cancelSlot);
        std::remove(temporaryPath.c_str());
    }
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
