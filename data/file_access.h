#pragma once
// Whole-file reads and the small file moves the loaders share.

#include <filesystem>
#include <span>
#include <string>

#include "data/byte_buffer.h"
#include "data/date_time.h"
#include "data/file_result.h"

namespace tellmaro::data {

enum class ReadStatus { read, missing, failed };

struct ReadFileResult {
    ReadStatus status = ReadStatus::failed;
    Bytes bytes;        // the whole file when status is read
    std::string error;  // set when status is failed
};

ReadFileResult readWholeFile(const std::filesystem::path& file);

// Creates an empty file, 0600, when none exists; an existing file is left as
// it is.
FileResult createFileIfMissing(const std::filesystem::path& file);

// Writes all of `bytes` to `fd`, on after interruptions; false (errno set) when it could not.
bool writeAll(int fd, std::span<const uint8_t> bytes);

// Appends `bytes` to `file`, which is created for the user alone; false when it could not.
bool appendToFile(const std::filesystem::path& file, std::span<const uint8_t> bytes);

// A file that could not be read as what it must be. Its bytes are kept,
// never guessed at and never thrown away.
struct SetAsideFile {
    std::filesystem::path file;    // the damaged file
    std::filesystem::path keptAs;  // where its bytes are now; empty when they could not be moved
    std::string reason;            // what is wrong with it, and a failed move's cause
};

// Moves the file to "<name>.<yyyymmdd-hhmmss>.bad" beside it ("-2", "-3" ...
// added when that name is taken, so an earlier copy is never replaced) and
// puts an empty file in its place, so that the next start behaves like a
// fresh install. When the move fails the file stays as it is.
SetAsideFile setAsideCorruptFile(const std::filesystem::path& file, std::string reason,
                                 LocalTime now);

// What the user is told, in German: which file was set aside and where it
// is now, or that it could not be moved and was left alone.
std::string setAsideMessage(const SetAsideFile& setAside);

}  // namespace tellmaro::data
