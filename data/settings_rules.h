#pragma once
// The checks of the settings dialog's number entries, in its order and with
// its messages: shared by the dialog and the command line.

#include <optional>
#include <string>

#include "data/settings_record.h"

namespace tellmaro::data {

enum class SettingsField { ownNumber, mobileNumber, lineAccessChars, lineAccessDigits };

struct SettingsRefusal {
    SettingsField field;  // where the user has to correct it
    std::string message;  // German, UTF-8
};

// The number entries as typed.
struct NumberEntries {
    std::string ownNumber;
    std::string mobileNumber;  // the registered mobile, stored beside the record
    std::string lineAccessChars;
    bool automaticLineAccess = false;
    std::string lineAccessDigits;
};

// Checks the entries and stores them in `settings` one after the other; as
// in the dialog, what was stored before a failed check stays stored.
std::optional<SettingsRefusal> applyNumberEntries(const NumberEntries& entries,
                                                  SettingsRecord& settings);

// The checks of the automatic line access's digit count; stores it when it passes.
std::optional<SettingsRefusal> applyLineAccessDigits(const std::string& count,
                                                     SettingsRecord& settings);

}  // namespace tellmaro::data
