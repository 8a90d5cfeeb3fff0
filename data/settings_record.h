#pragma once
// All user settings of the relay, in the order they are stored.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tellmaro::data {

inline constexpr size_t kOwnNumberChars = 20;

// Texts hold raw Windows-1252 bytes. Defaults are the start-up defaults that
// apply until a settings file has been read.
struct SettingsRecord {
    bool starConfirms = false;  // true: "*" dials and "#" cancels; false: the reverse
    bool logEnabled = false;
    std::string logFilePath;
    std::string logFileName;                                    // name part of logFilePath
    std::string ownNumber = std::string(kOwnNumberChars, ' ');  // digits, then "0" fill
    uint8_t ownNumberLength = 0;                                // digits the user entered
    bool totalDisconnect = false;  // a hang-up of the called party ends the whole call
    bool lineAccessEnabled = false;
    uint8_t lineAccessDigits = 1;  // only longer numbers get lineAccessChars
    std::string lineAccessChars;
    bool callBack = false;  // call the mobile phone back instead of answering

    bool operator==(const SettingsRecord&) const = default;
};

}  // namespace tellmaro::data
