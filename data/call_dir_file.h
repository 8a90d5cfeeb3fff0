#pragma once
// "tellmaro.dir": the phone book as 128-byte records.

#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "data/byte_buffer.h"
#include "data/call_dir.h"
#include "data/file_access.h"
#include "data/file_result.h"

namespace tellmaro::data {

inline constexpr const char* kCallDirFileName = "tellmaro.dir";
inline constexpr size_t kCallDirRecordSize = 128;

struct EncodeCallDirResult {
    bool ok = false;
    Bytes bytes;        // exactly (N + 2) records
    std::string error;  // names the entry that does not fit its record
};

// An entry too long for its record is refused, never cut.
EncodeCallDirResult encodeCallDir(const PhoneBook& phoneBook);

struct DecodeCallDirResult {
    std::optional<PhoneBook> phoneBook;
    std::string error;  // what does not add up; empty when decoded
};

// Expects a non-empty buffer holding exactly the records its count announces;
// the last record may stop right after its data.
DecodeCallDirResult decodeCallDir(std::span<const uint8_t> bytes);

struct LoadCallDirResult {
    PhoneBook phoneBook;                   // empty unless the file was read
    std::string error;                     // set when the file could not be read or created
    std::optional<SetAsideFile> setAside;  // set when a damaged file was set aside
};

// A missing file is created empty; an empty file is an empty phone book. A
// file that does not add up is set aside (setAsideCorruptFile) and the
// phone book starts empty.
LoadCallDirResult LoadCallDir(const std::filesystem::path& dataDir, LocalTime now = localNow());

struct ReadCallDirResult {
    PhoneBook phoneBook;  // empty unless the file was read
    std::string error;    // what kept it from being read or decoded
};

// Reads the phone book and changes nothing, for a program beside the relay:
// a missing or empty file is an empty phone book; a damaged one is an error
// and stays as it is (the relay sets it aside when it loads it).
ReadCallDirResult readCallDir(const std::filesystem::path& dataDir);

// Replaces the file atomically; a phone book that cannot be stored leaves the
// file untouched.
FileResult SaveCallDir(const std::filesystem::path& dataDir, const PhoneBook& phoneBook);

}  // namespace tellmaro::data
