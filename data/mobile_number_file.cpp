#include "data/mobile_number_file.h"

#include "data/atomic_file.h"
#include "data/text_rules.h"

namespace tellmaro::data {

namespace {

std::string_view withoutLineEnd(std::string_view text) {
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    } else if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

DecodeMobileNumberResult decodeMobileNumber(std::span<const uint8_t> bytes) {
    const std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::string_view number = withoutLineEnd(content);
    if (number.empty()) {
        return {std::nullopt, "die Datei enthält keine Nummer"};
    }
    if (!allDigits(number)) {
        return {std::nullopt, "die Datei darf nur die Ziffern der Handynummer enthalten"};
    }
    return {std::string(number), {}};
}

LoadMobileNumberResult LoadMobileNumber(const std::filesystem::path& dataDir, LocalTime now) {
    const std::filesystem::path file = dataDir / kMobileNumberFileName;
    ReadFileResult read = readWholeFile(file);
    if (read.status == ReadStatus::missing ||
        (read.status == ReadStatus::read && read.bytes.empty())) {
        return {};
    }
    if (read.status == ReadStatus::failed) {
        return {MobileNumberStatus::invalid, {}, std::move(read.error), std::nullopt};
    }
    DecodeMobileNumberResult decoded = decodeMobileNumber(read.bytes);
    if (decoded.number) {
        return {MobileNumberStatus::present, std::move(*decoded.number), {}, std::nullopt};
    }
    return {MobileNumberStatus::invalid,
            {},
            {},
            setAsideCorruptFile(file, "keine Handynummer: " + decoded.error, now)};
}

FileResult SaveMobileNumber(const std::filesystem::path& dataDir, std::string_view digits) {
    if (digits.empty() || !allDigits(digits)) {
        return FileResult::failure("die Handynummer muss aus einer oder mehr Ziffern bestehen");
    }
    const std::span bytes(reinterpret_cast<const uint8_t*>(digits.data()), digits.size());
    return replaceFileAtomically(dataDir / kMobileNumberFileName, bytes);
}

}  // namespace tellmaro::data
