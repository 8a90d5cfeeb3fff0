#include "data/file_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tellmaro::data {

namespace {

std::string systemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

ReadFileResult readWholeFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {ReadStatus::missing, {}, {}};
        }
        return {ReadStatus::failed, {}, systemError("cannot open " + file.string(), errno)};
    }
    ReadFileResult result{ReadStatus::read, {}, {}};
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = {ReadStatus::failed, {}, systemError("cannot read " + file.string(), errno)};
            break;
        }
        if (got == 0) {
            break;
        }
        result.bytes.insert(result.bytes.end(), chunk, chunk + got);
    }
    ::close(fd);
    return result;
}

FileResult createFileIfMissing(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return FileResult::failure(systemError("cannot create " + file.string(), errno));
    }
    ::close(fd);
    return FileResult::success();
}

std::filesystem::path setAsidePath(const std::filesystem::path& file) {
    std::filesystem::path bad = file;
    bad += ".bad";
    return bad;
}

FileResult setAsideCorruptFile(const std::filesystem::path& file) {
    const std::filesystem::path bad = setAsidePath(file);
    if (std::rename(file.c_str(), bad.c_str()) != 0) {
        return FileResult::failure(
            systemError("cannot rename " + file.string() + " to " + bad.string(), errno));
    }
    return createFileIfMissing(file);
}

}  // namespace tellmaro::data
