#include "data/settings_rules.h"

#include <algorithm>

#include "data/text_rules.h"

namespace tellmaro::data {

namespace {

constexpr size_t kMaxEntryLength = 255;  // what the dialog's text boxes take
constexpr size_t kMaxDigitCount = 2;

}  // namespace

std::optional<SettingsRefusal> applyNumberEntries(const NumberEntries& entries,
                                                  SettingsRecord& settings) {
    auto refuse = [](SettingsField field, std::string message) {
        return SettingsRefusal{field, std::move(message)};
    };
    const std::string& own = entries.ownNumber;
    if (own.empty()) {
        return refuse(SettingsField::ownNumber, "Bitte geben Sie die Rufnummer des Computers ein!");
    }
    if (!allDigits(own) || own.size() > kMaxEntryLength) {
        return refuse(SettingsField::ownNumber, "Bitte geben Sie nur Ziffern als Rufnummer ein!");
    }
    settings.ownNumber = own.substr(0, kOwnNumberChars);
    settings.ownNumber.resize(kOwnNumberChars, '0');
    settings.ownNumberLength = static_cast<uint8_t>(own.size());

    // An empty entry counts as nothing but zeros: no number either way.
    const std::string& mobile = entries.mobileNumber;
    if (std::all_of(mobile.begin(), mobile.end(), [](char c) { return c == '0'; })) {
        return refuse(SettingsField::mobileNumber, "Bitte geben Sie die Rufnummer des Handys ein!");
    }
    if (!allDigits(mobile)) {
        return refuse(SettingsField::mobileNumber,
                      "Bitte geben Sie nur Ziffern als Handynummer ein!");
    }

    const std::string& chars = entries.lineAccessChars;
    if (!chars.empty()) {
        if (!std::all_of(chars.begin(), chars.end(), isDialChar) ||
            chars.size() > kMaxEntryLength) {
            return refuse(
                SettingsField::lineAccessChars,
                "Bitte geben sie nur Zahlen oder * und # als Zeichen für die Amtsholung ein!");
        }
        settings.lineAccessChars = chars;
        settings.lineAccessEnabled = true;
    } else {
        settings.lineAccessChars.clear();
    }

    if (!entries.automaticLineAccess) {
        settings.lineAccessEnabled = false;
        return std::nullopt;
    }
    return applyLineAccessDigits(entries.lineAccessDigits, settings);
}

std::optional<SettingsRefusal> applyLineAccessDigits(const std::string& count,
                                                     SettingsRecord& settings) {
    auto refuse = [](std::string message) {
        return SettingsRefusal{SettingsField::lineAccessDigits, std::move(message)};
    };
    if (count.empty()) {
        return refuse(
            "Bitte geben Sie ein, bis wieviel Zeichen keine automatische Amtsholung "
            "erfolgen soll!");
    }
    if (!allDigits(count)) {
        return refuse(
            "Bitte geben Sie nur Zahlen in das Feld 'Anzahl der Zeichen für "
            "automatische Amtsholung' ein!");
    }
    // The dialog's box takes two characters; a longer count only comes from
    // the command line.
    if (count.size() > kMaxDigitCount) {
        return refuse(
            "Bitte geben Sie höchstens zwei Ziffern in das Feld 'Anzahl der Zeichen "
            "für automatische Amtsholung' ein!");
    }
    settings.lineAccessDigits = static_cast<uint8_t>(std::stoi(count));
    return std::nullopt;
}

}  // namespace tellmaro::data
