#include "data/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "data/file_access.h"
#include "data/system_error.h"

namespace tellmaro::data {

namespace {

std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Where a save must land: a symbolic link stays a link, and the file it
// finally names gets the new content (a dangling link: the file it names is
// created). False after too many links, likely a loop.
bool followLinks(std::filesystem::path& file) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(file, error)) {
            return true;
        }
        const auto link = std::filesystem::read_symlink(file, error);
        if (error) {
            errno = error.value();
            return false;
        }
        file = link.is_absolute() ? link : directoryOf(file) / link;
    }
    errno = ELOOP;
    return false;
}

// The user's files are theirs alone: a new file is 0600, a replaced one keeps
// its mode, group read included only while the group stays the same.
bool takeOverMode(int fd, const std::filesystem::path& target) {
    struct stat old {};
    struct stat fresh {};
    if (::stat(target.c_str(), &old) != 0 || ::fstat(fd, &fresh) != 0) {
        return true;  // a new file: created 0600
    }
    mode_t mode = old.st_mode & 0777;
    if (old.st_gid != fresh.st_gid && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        mode &= ~static_cast<mode_t>(070);
    }
    return ::fchmod(fd, mode) == 0;
}

// A fresh name for every attempt: a temporary file left by a crash is never
// reused or overwritten.
int createTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary) {
    static unsigned counter = 0;
    const std::string prefix =
        "." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = directoryOf(target) / (prefix + std::to_string(counter++));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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
    std::filesystem::path file = target;
    if (!followLinks(file)) {
        return FileResult::failure(target.string() +
                                   " kann nicht gespeichert werden: " + systemErrorText(errno));
    }
    std::filesystem::path temporary;
    int fd = createTemporaryBeside(file, temporary);
    if (fd < 0) {
        return FileResult::failure(
            target.string() + " kann nicht gespeichert werden: in " + directoryOf(file).string() +
            " lässt sich keine Zwischendatei anlegen: " + systemErrorText(errno));
    }
    const auto fail = [&](const char* step) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temporary.c_str());
        return FileResult::failure(target.string() + " kann nicht gespeichert werden: " + step +
                                   " von " + temporary.string() +
                                   " ist gescheitert: " + systemErrorText(error));
    };
    if (!takeOverMode(fd, file)) {
        return fail("das Setzen der Rechte");
    }
    if (!writeAll(fd, bytes)) {
        return fail("das Schreiben");
    }
    if (::fsync(fd) != 0) {
        return fail("das Sichern auf die Platte");
    }
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) {
        return fail("das Schließen");
    }
    if (std::rename(temporary.c_str(), file.c_str()) != 0) {
        return fail("das Umbenennen");
    }
    syncDirectory(directoryOf(file));
    return FileResult::success();
}

}  // namespace tellmaro::data
