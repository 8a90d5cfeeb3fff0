#include "data/mobile_number_file.h"

#include <algorithm>
#include <span>

#include "data/atomic_file.h"
#include "data/file_access.h"

namespace tellmaro::data {

namespace {

bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view withoutLineEnd(std::string_view text) {
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    } else if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

LoadMobileNumberResult LoadMobileNumber(const std::filesystem::path& dataDir) {
    const std::filesystem::path file = dataDir / kMobileNumberFileName;
    const ReadFileResult read = readWholeFile(file);
    if (read.status == ReadStatus::missing) {
        return {MobileNumberStatus::missing, {}, {}};
    }
    if (read.status == ReadStatus::failed) {
        return {MobileNumberStatus::invalid, {}, read.error};
    }
    const std::string_view content(reinterpret_cast<const char*>(read.bytes.data()),
                                   read.bytes.size());
    const std::string_view number = withoutLineEnd(content);
    if (number.empty()) {
        return {MobileNumberStatus::invalid, {}, file.string() + " holds no number"};
    }
    if (!allDigits(number)) {
        return {MobileNumberStatus::invalid,
                {},
                file.string() + " must hold only the digits of the mobile number"};
    }
    return {MobileNumberStatus::present, std::string(number), {}};
}

FileResult SaveMobileNumber(const std::filesystem::path& dataDir, std::string_view digits) {
    if (digits.empty() || !allDigits(digits)) {
        return FileResult::failure("mobile number not saved: it must be one or more digits");
    }
    const std::span bytes(reinterpret_cast<const uint8_t*>(digits.data()), digits.size());
    return replaceFileAtomically(dataDir / kMobileNumberFileName, bytes);
}

}  // namespace tellmaro::data
