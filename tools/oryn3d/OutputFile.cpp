// Output files made atomically: a temporary file in the destination folder, renamed on success.
#include "tools/oryn3d/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    const size_t slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
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
    // mkstemp makes the file private; the output gets the permissions any new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    finalPath = path;
    temporaryPath = buffer.data();
    cancelSlot = registerTemporaryFile(temporaryPath.c_str());
    return 0;
}

int OutputFile::commit(std::string& error)
{
    if (temporaryPath.empty()) {
        error = "nothing was written";
        return 1;
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
    if (!temporaryPath.empty()) {
        unregisterTemporaryFile(cancelSlot);
        std::remove(temporaryPath.c_str());
    }
    cancelSlot = -1;
    temporaryPath.clear();
}

int writeFileBytes(const std::string& path, const void* bytes, size_t size, std::string& error)
{
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
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return 1;
    }
    bytes.assign(limit + 1, '\0');
    const size_t got = std::fread(&bytes[0], 1, limit + 1, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "cannot read the file";
        return 1;
    }
    bytes.resize(got);
    return 0;
}

} // namespace oryn
