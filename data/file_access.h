#pragma once
// Whole-file reads and the small file moves the loaders share.

#include <filesystem>
#include <string>

#include "data/byte_buffer.h"
#include "data/file_result.h"

namespace tellmaro::data {

enum class ReadStatus { read, missing, failed };

struct ReadFileResult {
    ReadStatus status = ReadStatus::failed;
    Bytes bytes;        // the whole file when status is read
    std::string error;  // set when status is failed
};

ReadFileResult readWholeFile(const std::filesystem::path& file);

// Creates an empty file when none exists; an existing file is left as it is.
FileResult createFileIfMissing(const std::filesystem::path& file);

// A file that cannot be read is kept, not guessed at: it becomes
// "<name>.bad" (replacing an older one) and an empty file takes its place,
// so that the next start behaves like a fresh install.
FileResult setAsideCorruptFile(const std::filesystem::path& file);

// "<name>.bad" beside the file.
std::filesystem::path setAsidePath(const std::filesystem::path& file);

}  // namespace tellmaro::data
