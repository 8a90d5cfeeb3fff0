// "show" and "set": the settings record and the registered mobile number as
// the settings dialog shows them, one KEY=VALUE line each.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "data/atomic_file.h"
#include "data/call_log.h"
#include "data/file_access.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/settings_rules.h"
#include "data/windows1252.h"
#include "shell/console_commands.h"
#include "shell/log_folder.h"

namespace tellmaro::shell {

namespace {

// What the settings dialog would show: its controls' contents, UTF-8.
struct Entries {
    bool starConfirms = false;
    std::optional<std::string> logPath;  // none: logging off
    std::string ownNumber;
    std::string mobile;
    bool totalDisconnect = false;
    std::string lineAccessChars;
    bool lineAccess = false;
    std::string lineAccessDigits;
    bool callBack = false;
};

Entries fromStored(const data::SettingsRecord& settings, const std::string& mobile) {
    Entries e;
    e.starConfirms = settings.starConfirms;
    if (settings.logEnabled && !settings.logFilePath.empty()) {
        e.logPath = data::windows1252ToUtf8(settings.logFilePath);
    }
    e.ownNumber = settings.ownNumber.substr(
        0, std::min<size_t>(settings.ownNumberLength, settings.ownNumber.size()));
    e.mobile = mobile;
    e.totalDisconnect = settings.totalDisconnect;
    e.lineAccessChars = data::windows1252ToUtf8(settings.lineAccessChars);
    e.lineAccess = settings.lineAccessEnabled;
    e.lineAccessDigits = std::to_string(settings.lineAccessDigits);
    e.callBack = settings.callBack;
    return e;
}

// One key of "set": its current text, and how a value is taken (an error
// message when the value is not one of the key's own).
struct Key {
    const char* name;
    std::function<std::string(const Entries&)> show;
    std::function<std::optional<std::string>(Entries&, const std::string&)> take;
};

std::optional<std::string> choice(const std::string& value, const char* a, const char* b, bool& isA,
                                  const char* key) {
    if (value == a || value == b) {
        isA = value == a;
        return std::nullopt;
    }
    return std::string("Für ") + key + " gibt es nur " + a + " oder " + b + ".";
}

std::vector<Key> keys(const std::filesystem::path& logDir) {
    return {
        {"confirm-key", [](const Entries& e) { return std::string(e.starConfirms ? "*" : "#"); },
         [](Entries& e, const std::string& v) {
             return choice(v, "*", "#", e.starConfirms, "confirm-key");
         }},
        {"log", [](const Entries& e) { return e.logPath.value_or("off"); },
         [logDir](Entries& e, const std::string& v) -> std::optional<std::string> {
             if (v == "off") {
                 e.logPath.reset();
             } else if (v == "on") {
                 e.logPath = (logDir / kProposedCallLogName).string();
             } else {
                 e.logPath = std::filesystem::absolute(v).lexically_normal().string();
             }
             return std::nullopt;
         }},
        {"own-number", [](const Entries& e) { return e.ownNumber; },
         [](Entries& e, const std::string& v) -> std::optional<std::string> {
             e.ownNumber = v;
             return std::nullopt;
         }},
        {"mobile", [](const Entries& e) { return e.mobile; },
         [](Entries& e, const std::string& v) -> std::optional<std::string> {
             e.mobile = v;
             return std::nullopt;
         }},
        {"disconnect",
         [](const Entries& e) { return std::string(e.totalDisconnect ? "total" : "one-sided"); },
         [](Entries& e, const std::string& v) {
             return choice(v, "total", "one-sided", e.totalDisconnect, "disconnect");
         }},
        {"line-access-chars", [](const Entries& e) { return e.lineAccessChars; },
         [](Entries& e, const std::string& v) -> std::optional<std::string> {
             e.lineAccessChars = v;
             return std::nullopt;
         }},
        {"line-access", [](const Entries& e) { return std::string(e.lineAccess ? "on" : "off"); },
         [](Entries& e, const std::string& v) {
             return choice(v, "on", "off", e.lineAccess, "line-access");
         }},
        {"line-access-digits", [](const Entries& e) { return e.lineAccessDigits; },
         [](Entries& e, const std::string& v) -> std::optional<std::string> {
             e.lineAccessDigits = v;
             return std::nullopt;
         }},
        {"mode", [](const Entries& e) { return std::string(e.callBack ? "call-back" : "direct"); },
         [](Entries& e, const std::string& v) {
             bool direct = false;
             auto problem = choice(v, "direct", "call-back", direct, "mode");
             e.callBack = !direct;
             return problem;
         }},
    };
}

struct Stored {
    data::SettingsRecord settings;
    bool configured = false;
    std::string mobile;
};

// The stored settings, or a message saying why they cannot be read.
std::optional<Stored> load(const DataFolder& folder, const CommandOutput& io) {
    Stored stored;
    auto loaded = data::LoadSettings(folder.path);
    if (loaded.setAside) {
        tell(io, data::setAsideMessage(*loaded.setAside));
    }
    if (!loaded.error.empty()) {
        tell(io, "Die Einstellungen können nicht gelesen werden: " + loaded.error);
        return std::nullopt;
    }
    stored.configured = loaded.configured();
    if (loaded.settings) {
        stored.settings = *loaded.settings;
    }
    auto mobile = data::LoadMobileNumber(folder.path);
    if (mobile.setAside) {
        tell(io, data::setAsideMessage(*mobile.setAside));
    }
    if (!mobile.error.empty()) {
        tell(io, "Die Handynummer kann nicht gelesen werden und wird beim Speichern ersetzt: " +
                     mobile.error);
    }
    stored.mobile = mobile.number;
    return stored;
}

// The settings dialog's "OK": every check in its order, then both files.
int store(const DataFolder& folder, const Entries& e, data::SettingsRecord settings,
          const CommandOutput& io) {
    settings.starConfirms = e.starConfirms;
    if (e.logPath) {
        auto path = data::utf8ToWindows1252(*e.logPath);
        auto name = data::utf8ToWindows1252(std::filesystem::path(*e.logPath).filename().string());
        data::CallLog file;
        if (std::filesystem::path(*e.logPath).parent_path() == folder.logs) {
            (void)createPrivateFolder(folder.logs);  // the proposed place, made on first use
        }
        if (!path.ok() || !name.ok() || !file.open(*e.logPath).ok || !file.close().ok) {
            tell(io, "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden!");
            return kCommandRefused;
        }
        settings.logEnabled = true;
        settings.logFilePath = *path.text;
        settings.logFileName = *name.text;
    } else {
        settings.logEnabled = false;
        settings.logFilePath.clear();
        settings.logFileName.clear();
    }
    settings.totalDisconnect = e.totalDisconnect;
    auto chars = data::utf8ToWindows1252(e.lineAccessChars);
    const data::NumberEntries numbers{e.ownNumber, e.mobile, chars.text.value_or("?"), e.lineAccess,
                                      e.lineAccessDigits};
    if (auto refusal = data::applyNumberEntries(numbers, settings)) {
        tell(io, refusal->message);
        return kCommandRefused;
    }
    settings.callBack = e.callBack;

    // Both files or neither: the old record comes back when the number fails.
    const auto before = data::readWholeFile(folder.path / data::kSettingsFileName);
    data::FileResult saved = data::SaveSettings(folder.path, settings);
    if (saved.ok) {
        saved = data::SaveMobileNumber(folder.path, e.mobile);
        if (!saved.ok && before.status == data::ReadStatus::read) {
            (void)data::replaceFileAtomically(folder.path / data::kSettingsFileName, before.bytes);
        }
    }
    if (!saved.ok) {
        tell(io, "Die Einstellungen konnten nicht gespeichert werden! (" + saved.error + ")");
        return kCommandFileError;
    }
    return kCommandDone;
}

}  // namespace

int showSettings(const DataFolder& folder, const CommandOutput& io) {
    auto stored = load(folder, io);
    if (!stored) {
        return kCommandFileError;
    }
    std::fprintf(io.out, "# Einstellungen in %s%s\n", folder.path.c_str(),
                 stored->configured ? "" : " (noch nicht eingerichtet)");
    Entries entries = fromStored(stored->settings, stored->mobile);
    for (const Key& key : keys(folder.logs)) {
        std::fprintf(io.out, "%s=%s\n", key.name, key.show(entries).c_str());
    }
    return kCommandDone;
}

int setSettings(const DataFolder& folder, const std::vector<std::string>& assignments,
                const CommandOutput& io) {
    if (assignments.empty()) {
        tell(io,
             "Was soll eingestellt werden? Zum Beispiel: tellmaro-console set "
             "own-number=0711555000 mobile=01711234567");
        return kCommandRefused;
    }
    auto stored = load(folder, io);
    if (!stored) {
        return kCommandFileError;
    }
    Entries entries = fromStored(stored->settings, stored->mobile);
    const auto table = keys(folder.logs);
    for (const std::string& assignment : assignments) {
        auto equals = assignment.find('=');
        std::string name = assignment.substr(0, equals);
        auto key =
            std::find_if(table.begin(), table.end(), [&](const Key& k) { return name == k.name; });
        if (equals == std::string::npos || key == table.end()) {
            tell(io, "Unbekannte Einstellung \"" + assignment +
                         "\". Es gibt: confirm-key, log, own-number, mobile, disconnect, "
                         "line-access-chars, line-access, line-access-digits, mode.");
            return kCommandRefused;
        }
        if (auto problem = key->take(entries, assignment.substr(equals + 1))) {
            tell(io, *problem);
            return kCommandRefused;
        }
    }
    return store(folder, entries, stored->settings, io);
}

void tell(const CommandOutput& io, const std::string& message) {
    std::fprintf(io.err, "tellmaro-console: %s\n", message.c_str());
}

}  // namespace tellmaro::shell
