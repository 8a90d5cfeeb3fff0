#include "data/file_access.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "data/system_error.h"

namespace tellmaro::data {

namespace {

// "<file> kann nicht <verb> werden: <the system's reason>".
std::string systemError(const std::filesystem::path& file, const char* verb, int error) {
    return file.string() + " kann nicht " + verb + " werden: " + systemErrorText(error);
}

}  // namespace

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return true;
}

bool appendToFile(const std::filesystem::path& file, std::span<const uint8_t> bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const bool written = writeAll(fd, bytes);
    return ::close(fd) == 0 && written;
}

ReadFileResult readWholeFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {ReadStatus::missing, {}, {}};
        }
        return {ReadStatus::failed, {}, systemError(file, "geöffnet", errno)};
    }
    ReadFileResult result{ReadStatus::read, {}, {}};
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = {ReadStatus::failed, {}, systemError(file, "gelesen", errno)};
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
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return FileResult::failure(systemError(file, "angelegt", errno));
    }
    ::close(fd);
    return FileResult::success();
}

namespace {

// "20261206-051812": sorts by time and needs no quoting in a shell.
std::string stamp(LocalTime now) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    auto day = std::chrono::floor<std::chrono::days>(seconds);
    std::chrono::year_month_day date{day};
    std::chrono::hh_mm_ss time{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02u-%02d%02d%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace

SetAsideFile setAsideCorruptFile(const std::filesystem::path& file, std::string reason,
                                 LocalTime now) {
    SetAsideFile result{file, {}, std::move(reason)};
    const std::string base = file.string() + "." + stamp(now);
    for (int attempt = 1; attempt < 1000; ++attempt) {
        std::string name = base + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".bad";
        // Never over an earlier copy, even one made in the same second.
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
            result.keptAs = name;
            const FileResult created = createFileIfMissing(file);
            if (!created.ok) {
                result.reason += "; " + created.error;
            }
            return result;
        }
        if (errno != EEXIST) {
            result.reason += "; " + systemError(file, "umbenannt", errno);
            return result;
        }
    }
    result.reason += "; für " + file.string() + " ist kein freier Name zum Aufbewahren übrig";
    return result;
}

std::string setAsideMessage(const SetAsideFile& setAside) {
    const std::string name = setAside.file.filename().string();
    if (setAside.keptAs.empty()) {
        return "Die Datei " + name +
               " ist beschädigt und konnte nicht beiseitegelegt werden. Sie " +
               "bleibt unverändert in " + setAside.file.parent_path().string() + ".";
    }
    return "Die Datei " + name + " ist beschädigt. Sie wurde als " + setAside.keptAs.string() +
           " aufbewahrt und durch eine leere Datei ersetzt.";
}

}  // namespace tellmaro::data
