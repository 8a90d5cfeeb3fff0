#include "relay/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "data/call_dir_file.h"
#include "data/file_access.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
#include "service/journal.h"

namespace tellmaro::relay {

namespace {

constexpr const char* kErrorLogName = "error.log";

}  // namespace

Store::Store(std::filesystem::path folder, ShellPort& shell, const WallClock& clock,
             std::filesystem::path logs)
    : folder_(std::move(folder)),
      logs_(logs.empty() ? folder_ : std::move(logs)),
      journal_(service::stderrIsJournal()),
      shell_(shell),
      clock_(clock) {}

void Store::reportFileTrouble(const std::string& error,
                              const std::optional<data::SetAsideFile>& setAside,
                              std::string_view consequence) {
    if (!error.empty()) {
        logFailure(error);
        shell_.showMessage(kErrorCaption,
                           "Auf die Dateien im Ordner " + folder_.string() +
                               " kann nicht zugegriffen werden.\n" + std::string(consequence),
                           MessageIcon::Critical);
    }
    if (setAside) {
        std::string message = data::setAsideMessage(*setAside);
        logFailure(message + " (" + setAside->reason + ")");
        shell_.showMessage(kErrorCaption, message + "\n" + std::string(consequence),
                           MessageIcon::Critical);
    }
}

bool Store::loadSettings() {
    auto loaded = data::LoadSettings(folder_, clock_.now());
    reportFileTrouble(loaded.error, loaded.setAside,
                      "Die Einstellungen müssen neu eingegeben werden.");
    settings_ = loaded.settings.value_or(settings_);
    return loaded.configured();
}

std::string Store::loadMobileNumber() {
    auto loaded = data::LoadMobileNumber(folder_, clock_.now());
    reportFileTrouble(loaded.error, loaded.setAside,
                      "Die Rufnummer des Handys muss neu eingegeben werden.");
    return loaded.status == data::MobileNumberStatus::present ? loaded.number : std::string();
}

void Store::loadPhoneBook() {
    auto loaded = data::LoadCallDir(folder_, clock_.now());
    reportFileTrouble(loaded.error, loaded.setAside, "Das Telefonbuch ist leer.");
    phoneBook_ = std::move(loaded.phoneBook);
}

void Store::openCallLogAtStartUp() {
    bool opened = false;
    if (settings_.logEnabled && !settings_.logFilePath.empty()) {
        // The stored file must still be there under the stored name.
        std::filesystem::path path = data::windows1252ToUtf8(settings_.logFilePath);
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error) &&
            path.filename() == data::windows1252ToUtf8(settings_.logFileName)) {
            opened = callLog_.open(path).ok;
        }
    }
    if (!opened && settings_.logEnabled) {
        switchLoggingOff(
            "Die angegebene Log Datei wurde nicht gefunden! Log Datei Erstellung wurde "
            "deaktiviert!");
    }
}

void Store::reopenCallLog(std::string_view failureText) {
    if (settings_.logFilePath.empty() || !settings_.logEnabled) {
        return;
    }
    if (!callLog_.open(data::windows1252ToUtf8(settings_.logFilePath)).ok) {
        switchLoggingOff(failureText);
    }
}

void Store::closeCallLog() {
    if (callLog_.isOpen() && !callLog_.close().ok) {
        switchLoggingOff(
            "Auf die Log Datei kann nicht zugegriffen werden. Log Datei Erstellung wurde "
            "deaktiviert!");
    }
}

void Store::switchLoggingOff(std::string_view message) {
    shell_.showMessage(kErrorCaption, message, MessageIcon::Critical);
    settings_.logEnabled = false;
    (void)data::SaveSettings(folder_, settings_);
}

bool Store::saveSettings(std::string_view mobileNumber) {
    // The settings file is replaced as a whole, so no bytes of a longer
    // record remain; the mobile number is stored beside it.
    const data::FileResult settings = data::SaveSettings(folder_, settings_);
    const data::FileResult mobile =
        settings.ok ? data::SaveMobileNumber(folder_, mobileNumber) : settings;
    if (!mobile.ok) {
        logFailure("Einstellungen nicht gespeichert: " + mobile.error);
        shell_.showMessage(kErrorCaption, "Die Einstellungen konnten nicht gespeichert werden!",
                           MessageIcon::Critical);
    }
    return mobile.ok;
}

bool Store::reloadSettings() {
    data::LoadSettingsResult stored = data::LoadSettings(folder_, clock_.now());
    settings_ = stored.settings.value_or(settings_);
    return stored.configured();
}

std::string Store::storedMobileNumber() const {
    return data::LoadMobileNumber(folder_, clock_.now()).number;
}

bool Store::savePhoneBook() {
    const data::FileResult saved = data::SaveCallDir(folder_, phoneBook_);
    if (!saved.ok) {
        // The message is German; the system's reason goes to "error.log".
        logFailure("Telefonbuch nicht gespeichert: " + saved.error);
        shell_.showMessage(kErrorCaption, "Das Telefonbuch konnte nicht gespeichert werden!",
                           MessageIcon::Critical);
    }
    return saved.ok;
}

void Store::reloadPhoneBook(const data::PhoneBook& kept) {
    data::LoadCallDirResult loaded = data::LoadCallDir(folder_, clock_.now());
    if (loaded.error.empty() && !loaded.setAside) {
        phoneBook_ = std::move(loaded.phoneBook);
        return;
    }
    phoneBook_ = kept;
    const std::string stays = "Das Telefonbuch bleibt, wie es vor diesen Änderungen war.";
    if (loaded.setAside) {
        reportFileTrouble({}, loaded.setAside, stays);
    } else {
        logFailure("Telefonbuch nicht gelesen: " + loaded.error);
        shell_.showMessage(kErrorCaption, "Das Telefonbuch konnte nicht gelesen werden!\n" + stays,
                           MessageIcon::Critical);
    }
}

void Store::logFailure(std::string_view text, bool toStderr) {
    appendErrorLog(data::dateTimeText(clock_.now()) + " " + std::string(text), toStderr);
}

// The caller goes on whether or not the line could be written; the file is
// the user's alone.
void Store::appendErrorLog(std::string_view utf8Line, bool toStderr) {
    if (journal_ || toStderr) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(utf8Line.size()), utf8Line.data());
    }
    std::string line = data::utf8ToWindows1252(utf8Line).text.value_or(std::string(utf8Line));
    line += "\r\n";
    (void)data::appendToFile(logs_ / kErrorLogName,
                             std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
}

}  // namespace tellmaro::relay
