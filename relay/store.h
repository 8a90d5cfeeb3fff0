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
    Store(std::filesystem::path folder, ShellPort& shell, const WallClock& clock)
        : folder_(std::move(folder)), shell_(shell), clock_(clock) {}
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    data::SettingsRecord& settings() { return settings_; }
    const data::SettingsRecord& settings() const { return settings_; }
    data::PhoneBook& phoneBook() { return phoneBook_; }
    data::CallLog& callLog() { return callLog_; }

    // --- start-up
    // False when "tellmaro.ini" is empty (not configured); settings unchanged then.
    bool loadSettings();
    // The number in "tellmaro.mob"; empty when there is none. A damaged file
    // is set aside and reported as a damaged "tellmaro.ini" is.
    std::string loadMobileNumber();
    void loadPhoneBook();
    // Opens the call log if logging is on and the stored file is there;
    // otherwise switches logging off with the start-up message.
    void openCallLogAtStartUp();

    // --- the call log's file while the relay is active
    // Opens it for appending if a path is set and logging is on; on failure
    // shows `failureText`, switches logging off and saves the settings.
    void reopenCallLog(std::string_view failureText);
    // Closes it; on failure shows the message, switches logging off, saves.
    void closeCallLog();

    // --- what the settings dialog and the phone book window keep or drop
    // Replaces "tellmaro.ini", then "tellmaro.mob"; false (said and logged)
    // when either failed.
    bool saveSettings(std::string_view mobileNumber);
    // The settings as stored; false when not configured, settings unchanged then.
    bool reloadSettings();
    // What "tellmaro.mob" holds; empty when no number is stored.
    std::string storedMobileNumber() const;
    // Replaces "tellmaro.dir"; false (said and logged) when it failed, the
    // old file and the edits in memory then stay.
    bool savePhoneBook();
    // The phone book as stored; when the file let us down since it was last
    // read or written, `kept` stays, and the message says so.
    void reloadPhoneBook(const data::PhoneBook& kept);

    // Appends a dated line to "error.log": what failed and the system's
    // reason, of which the user's message box says nothing.
    void logFailure(std::string_view text);
    // Appends one line to "error.log", in its Windows-1252.
    void appendErrorLog(std::string_view utf8Line);

  private:
    // A file that could not be read or was set aside: a line in error.log
    // and a message saying what was done and what follows from it.
    void reportFileTrouble(const std::string& error,
                           const std::optional<data::SetAsideFile>& setAside,
                           std::string_view consequence);
    // The program switches logging off itself: the message, and the
    // settings saved; a failure to save is not the user's to act on here.
    void switchLoggingOff(std::string_view message);

    std::filesystem::path folder_;
    ShellPort& shell_;
    const WallClock& clock_;
    data::SettingsRecord settings_;
    data::PhoneBook phoneBook_;
    data::CallLog callLog_;
};

}  // namespace tellmaro::relay
