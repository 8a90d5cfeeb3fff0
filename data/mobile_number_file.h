#pragma once
// "tellmaro.mob": the number of the one mobile phone the relay serves.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "data/file_access.h"
#include "data/file_result.h"

namespace tellmaro::data {

inline constexpr const char* kMobileNumberFileName = "tellmaro.mob";

enum class MobileNumberStatus {
    missing,  // no file, or an empty one: no phone registered yet
    present,  // number holds the digits
    invalid,  // the file cannot be read, or was damaged and set aside
};

struct DecodeMobileNumberResult {
    std::optional<std::string> number;  // the digits
    std::string error;                  // what else the bytes hold; empty when decoded
};

// Digits and nothing else; one trailing "\n" or "\r\n" is tolerated.
DecodeMobileNumberResult decodeMobileNumber(std::span<const uint8_t> bytes);

struct LoadMobileNumberResult {
    MobileNumberStatus status = MobileNumberStatus::missing;
    std::string number;                    // digits only, when present
    std::string error;                     // set when the file could not be read
    std::optional<SetAsideFile> setAside;  // set when a damaged file was set aside
};

// A file that is not a number is set aside (setAsideCorruptFile), which
// leaves no phone registered, as a missing file does.
LoadMobileNumberResult LoadMobileNumber(const std::filesystem::path& dataDir,
                                        LocalTime now = localNow());

// Writes the digits with no line end, atomically; refuses anything but a
// non-empty string of digits.
FileResult SaveMobileNumber(const std::filesystem::path& dataDir, std::string_view digits);

}  // namespace tellmaro::data
