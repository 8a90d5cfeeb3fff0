// "show" and "set": the settings record and the registered mobile number as
// the settings dialog shows them, one KEY=VALUE line each.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "data/atomic_file.h"
#include "data/call_dir_file.h"
#include "data/call_log.h"
#include "data/file_access.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/settings_rules.h"
#include "data/text_rules.h"
#include "data/windows1252.h"
#include "shell/console_commands.h"
#include "shell/log_folder.h"

namespace tellmaro::shell {

namespace {

namespace fs = std::filesystem;

constexpr const char* kLogRefusal =
    "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden!";

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
    bool digitsGiven = false;  // by this command, which stores them while line access is off too
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
    // As the dialog shows it: without characters there is no line access.
    e.lineAccess = settings.lineAccessEnabled && !settings.lineAccessChars.empty();
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
                 std::error_code error;
                 const fs::path path = fs::absolute(v, error);
                 if (v.empty() || error) {
                     return std::string("Für log gibt es nur einen Pfad, on oder off.");
                 }
                 e.logPath = path.lexically_normal().string();
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
             e.digitsGiven = true;
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
    // Damaged files, left as they are until "set" sets them aside and replaces them.
    std::vector<std::pair<fs::path, std::string>> damaged;
};

// The stored settings, or a message saying why they cannot be read. Reads
// only: a missing file stays missing, a damaged one where it is.
std::optional<Stored> load(const DataFolder& folder, const CommandOutput& io) {
    Stored stored;
    const fs::path settingsFile = folder.path / data::kSettingsFileName;
    const auto settings = data::readWholeFile(settingsFile);
    if (settings.status == data::ReadStatus::failed) {
        tell(io, "Die Einstellungen können nicht gelesen werden: " + settings.error);
        return std::nullopt;
    }
    if (settings.status == data::ReadStatus::read && !settings.bytes.empty()) {
        auto decoded = data::decodeSettings(settings.bytes);
        stored.configured = decoded.settings.has_value();
        stored.settings = decoded.settings.value_or(stored.settings);
        if (!decoded.settings) {
            stored.damaged.emplace_back(settingsFile,
                                        "kein Einstellungsdatensatz: " + decoded.error);
        }
    }
    const fs::path mobileFile = folder.path / data::kMobileNumberFileName;
    const auto mobile = data::readWholeFile(mobileFile);
    if (mobile.status == data::ReadStatus::failed) {
        tell(io, "Die Handynummer kann nicht gelesen werden und wird beim Speichern ersetzt: " +
                     mobile.error);
    } else if (mobile.status == data::ReadStatus::read && !mobile.bytes.empty()) {
        auto decoded = data::decodeMobileNumber(mobile.bytes);
        stored.mobile = decoded.number.value_or("");
        if (!decoded.number) {
            stored.damaged.emplace_back(mobileFile, "keine Handynummer: " + decoded.error);
        }
    }
    for (const auto& [file, reason] : stored.damaged) {
        tell(io, file.string() + " ist beschädigt (" + reason +
                     "); es bleibt, wie es ist, bis \"set\" es beiseitelegt und ersetzt.");
    }
    return stored;
}

// Where writing to `path` ends up: its links followed, a dangling one too.
fs::path resolved(fs::path path) {
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, error); ++hops) {
        const fs::path target = fs::read_symlink(path, error);
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return fs::weakly_canonical(path, error);
}

// The files the call log would destroy, since it appends to what it is
// given: also by way of a link or "..".
bool isOwnFile(const fs::path& log, const DataFolder& folder) {
    const fs::path target = resolved(log);
    std::vector<fs::path> own{folder.logs / "error.log"};
    for (const char* name : {data::kSettingsFileName, data::kMobileNumberFileName,
                             data::kCallDirFileName, "error.log", "sip.conf"}) {
        own.push_back(folder.path / name);
    }
    for (const fs::path& file : own) {
        std::error_code error;
        if (target == resolved(file) || fs::equivalent(log, file, error)) {
            return true;
        }
    }
    return false;
}

// Whether the log can be appended to or created there, tried without
// creating it: a refused "set" leaves no file behind.
bool logWritable(const fs::path& log, const DataFolder& folder) {
    std::error_code error;
    const auto status = fs::status(log, error);
    if (fs::exists(status)) {
        return fs::is_regular_file(status) && ::access(log.c_str(), W_OK) == 0;
    }
    const fs::path dir = log.parent_path();
    return dir == folder.path || dir == folder.logs ||
           (fs::is_directory(dir, error) && ::access(dir.c_str(), W_OK | X_OK) == 0);
}

// The settings dialog's "OK": every check in its order, then both files.
// Nothing is created before the last check has passed.
int store(const DataFolder& folder, const Entries& e, const Stored& stored,
          const CommandOutput& io) {
    data::SettingsRecord settings = stored.settings;
    settings.starConfirms = e.starConfirms;
    if (e.logPath) {
        auto path = data::utf8ToWindows1252(*e.logPath);
        auto name = data::utf8ToWindows1252(fs::path(*e.logPath).filename().string());
        if (isOwnFile(*e.logPath, folder)) {
            tell(io, "Die Log Datei " + *e.logPath +
                         " ist eine Datei des Tellmaro selbst; das Anrufprotokoll würde sie "
                         "zerstören.");
            return kCommandRefused;
        }
        if (!path.ok() || !name.ok() || !logWritable(*e.logPath, folder)) {
            tell(io, kLogRefusal);
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
    // The dialog cuts a longer number to what the record holds; typed here, it is refused.
    if (e.ownNumber.size() > data::kOwnNumberChars && data::allDigits(e.ownNumber)) {
        tell(io, "Die Rufnummer des Computers hat höchstens " +
                     std::to_string(data::kOwnNumberChars) + " Ziffern.");
        return kCommandRefused;
    }
    // The dialog offers automatic line access only once there are characters for it.
    if (e.lineAccess && e.lineAccessChars.empty()) {
        tell(io,
             "Ohne Zeichen für die Amtsholung gibt es keine automatische Amtsholung: bitte "
             "line-access-chars=ZEICHEN mit angeben!");
        return kCommandRefused;
    }
    auto chars = data::utf8ToWindows1252(e.lineAccessChars);
    const data::NumberEntries numbers{e.ownNumber, e.mobile, chars.text.value_or("?"), e.lineAccess,
                                      e.lineAccessDigits};
    if (auto refusal = data::applyNumberEntries(numbers, settings)) {
        tell(io, refusal->message);
        return kCommandRefused;
    }
    const bool digitsKeptForLater = !e.lineAccess && e.digitsGiven;
    if (digitsKeptForLater) {
        if (auto refusal = data::applyLineAccessDigits(e.lineAccessDigits, settings)) {
            tell(io, refusal->message);
            return kCommandRefused;
        }
    }
    settings.callBack = e.callBack;

    if (auto problem = createDataFolder(folder); !problem.empty()) {
        tell(io, problem);
        return kCommandFileError;
    }
    for (const auto& [file, reason] : stored.damaged) {
        tell(io, data::setAsideMessage(data::setAsideCorruptFile(file, reason, data::localNow())));
    }
    if (e.logPath && fs::path(*e.logPath).parent_path() == folder.logs) {
        (void)createPrivateFolder(folder.logs);  // the proposed place, made on first use
    }
    data::CallLog file;
    if (e.logPath && (!file.open(*e.logPath).ok || !file.close().ok)) {
        tell(io, kLogRefusal);
        return kCommandRefused;
    }
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
    if (digitsKeptForLater) {
        tell(io, "line-access-digits=" + e.lineAccessDigits +
                     " ist gespeichert und wirkt, sobald line-access=on ist.");
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
    return store(folder, entries, *stored, io);
}

void tell(const CommandOutput& io, const std::string& message) {
    std::fprintf(io.err, "tellmaro-console: %s\n", message.c_str());
}

}  // namespace tellmaro::shell
