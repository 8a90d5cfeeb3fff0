#pragma once
// "tellmaro.mob": the number of the one mobile phone the relay serves.

#include <filesystem>
#include <string>
#include <string_view>

#include "data/file_result.h"

namespace tellmaro::data {

inline constexpr const char* kMobileNumberFileName = "tellmaro.mob";

enum class MobileNumberStatus {
    missing,  // no file: no phone registered yet
    present,  // number holds the digits
    invalid,  // the file holds something other than digits, or cannot be read
};

struct LoadMobileNumberResult {
    MobileNumberStatus status = MobileNumberStatus::missing;
    std::string number;  // digits only, when present
    std::string error;   // what is wrong, when invalid
};

// The file holds the digits only; one trailing "\n" or "\r\n" is tolerated.
// An invalid file is left as it is.
LoadMobileNumberResult LoadMobileNumber(const std::filesystem::path& dataDir);

// Writes the digits with no line end, atomically; refuses anything but a
// non-empty string of digits.
FileResult SaveMobileNumber(const std::filesystem::path& dataDir, std::string_view digits);

}  // namespace tellmaro::data
