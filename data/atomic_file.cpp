#include "data/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace tellmaro::data {

namespace {

std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// A fresh name for every attempt: a temporary file left by a crash is never
// reused or overwritten.
int createTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary) {
    static unsigned counter = 0;
    const std::string prefix =
        "." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = directoryOf(target) / (prefix + std::to_string(counter++));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// Makes the rename itself durable. Some file systems cannot sync a
// directory; the new file is complete and in place either way, so a failure
// here is not reported as a failed save.
void syncDirectory(const std::filesystem::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

FileResult replaceFileAtomically(const std::filesystem::path& target,
                                 std::span<const uint8_t> bytes) {
    std::filesystem::path temporary;
    int fd = createTemporaryBeside(target, temporary);
    if (fd < 0) {
        return FileResult::failure("cannot save " + target.string() +
                                   ": cannot create a temporary file in " +
                                   directoryOf(target).string() + ": " + std::strerror(errno));
    }
    const auto fail = [&](const char* step) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temporary.c_str());
        return FileResult::failure("cannot save " + target.string() + ": " + step + " " +
                                   temporary.string() + " failed: " + std::strerror(error));
    };
    if (!writeAll(fd, bytes)) {
        return fail("writing");
    }
    if (::fsync(fd) != 0) {
        return fail("syncing");
    }
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) {
        return fail("closing");
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        return fail("renaming");
    }
    syncDirectory(directoryOf(target));
    return FileResult::success();
}

}  // namespace tellmaro::data
