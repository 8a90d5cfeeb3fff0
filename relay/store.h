#pragma once
// The files of the data folder and what the program holds of them: the
// settings ("tellmaro.ini"), the registered mobile number ("tellmaro.mob"),
// the phone book ("tellmaro.dir"), the call log and "error.log". What goes
// wrong with a file is said in a message and written to error.log, and the
// program goes on.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "data/call_dir.h"
#include "data/call_log.h"
#include "data/file_access.h"
#include "data/settings_record.h"
#include "relay/engine_ports.h"

namespace tellmaro::relay {

class Store {
  public:
    // error.log and the proposed call log go to `logs`, `folder` when empty.
    Store(std::filesystem::path folder, ShellPort& shell, const WallClock& clock,
          std::filesystem::path logs = {});

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& logFolder() const { return logs_; }
    data::SettingsRecord& settings() { return settings_; }
    data::PhoneBook& phoneBook() { return phoneBook_; }
    data::CallLog& callLog() { return callLog_; }

    // --- start-up
    // False when "tellmaro.ini" is empty (not configured); settings unchanged then.
    bool loadSettings();
    // Empty when there is none; a damaged file is set aside as a damaged
    // "tellmaro.ini" is.
    std::string loadMobileNumber();
    void loadPhoneBook();
    // Opens the call log if logging is on and the stored file is there;
    // otherwise switches logging off with the start-up message.
    void openCallLogAtStartUp();

    // --- the call log while the relay is active; a failure says
    // `failureText` or its own, switches logging off and saves the settings
    void reopenCallLog(std::string_view failureText);
    void closeCallLog();

    // --- the settings dialog and the phone book window; a save that fails
    // is said, logged and false
    bool saveSettings(std::string_view mobileNumber);  // tellmaro.ini, then tellmaro.mob
    // Undoes the dialog's changes; false when not configured.
    bool reloadSettings();
    // Empty when no number is stored.
    std::string storedMobileNumber() const;
    bool savePhoneBook();
    // When the file let us down since it was last read or written, `kept`
    // stays, and the message says so.
    void reloadPhoneBook(const data::PhoneBook& kept);

    // A dated line in "error.log": what failed and the system's reason, of
    // which the user's message says nothing.
    void logFailure(std::string_view text, bool toStderr = false);
    // One line, in Windows-1252 as every file of the program; under systemd
    // on standard error (the journal) too, and always when `toStderr`.
    void appendErrorLog(std::string_view utf8Line, bool toStderr = false);

  private:
    // A file that could not be read or was set aside: a line in error.log
    // and a message saying what was done and what follows from it.
    void reportFileTrouble(const std::string& error,
                           const std::optional<data::SetAsideFile>& setAside,
                           std::string_view consequence);
    // Logging switched off by the program itself: the message, and the
    // settings saved; a failure to save is not the user's to act on here.
    void switchLoggingOff(std::string_view message);

    std::filesystem::path folder_;
    std::filesystem::path logs_;
    bool journal_;
    ShellPort& shell_;
    const WallClock& clock_;
    data::SettingsRecord settings_;
    data::PhoneBook phoneBook_;
    data::CallLog callLog_;
};

}  // namespace tellmaro::relay
