#include "shell/log_folder.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "data/file_access.h"
#include "data/settings_file.h"
#include "data/windows1252.h"

namespace tellmaro::shell {

namespace {

namespace fs = std::filesystem;

// A second name for the file, so that until the first is removed both hold
// it; a copy when the folders lie on different file systems.
bool placeBeside(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    if (errno != EXDEV) {
        return false;
    }
    std::error_code error;
    if (!fs::copy_file(from, to, error)) {
        fs::remove(to, error);
        return false;
    }
    return true;
}

std::string movedLine(const fs::path& from, const fs::path& to) {
    return from.string() + " ist jetzt " + to.string() + ".";
}

// The settings name the call log by its path: they follow it, and only then
// does the old name go. A failure before that leaves file and settings as
// they were.
void moveCallLog(const DataFolder& folder, std::vector<std::string>& lines) {
    const fs::path from = folder.path / kProposedCallLogName;
    const fs::path to = folder.logs / kProposedCallLogName;
    auto stored = data::readWholeFile(folder.path / data::kSettingsFileName);
    auto decoded = data::decodeSettings(stored.bytes);
    auto oldPath = data::utf8ToWindows1252(from.string()).text;
    auto newPath = data::utf8ToWindows1252(to.string()).text;
    std::error_code error;
    if (!decoded.settings || !oldPath || !newPath || decoded.settings->logFilePath != *oldPath ||
        !fs::is_regular_file(from, error)) {
        return;
    }
    if (fs::exists(to, error) || !placeBeside(from, to)) {
        lines.push_back(from.string() + " bleibt, wo es ist: " + to.string() +
                        " gibt es schon oder kann nicht angelegt werden.");
        return;
    }
    data::SettingsRecord settings = *decoded.settings;
    settings.logFilePath = *newPath;
    if (const auto saved = data::SaveSettings(folder.path, settings); !saved.ok) {
        fs::remove(to, error);
        lines.push_back(from.string() + " bleibt, wo es ist: die Einstellungen können nicht " +
                        "gespeichert werden (" + saved.error + ").");
        return;
    }
    fs::remove(from, error);
    lines.push_back(movedLine(from, to));
}

}  // namespace

std::vector<std::string> settleLogFolder(DataFolder& folder) {
    std::vector<std::string> lines;
    if (folder.portable || folder.logs.empty() || folder.logs == folder.path) {
        folder.logs = folder.path;
        return lines;
    }
    if (!createPrivateFolder(folder.logs)) {
        lines.push_back("Der Ordner " + folder.logs.string() +
                        " für die Protokolle kann nicht angelegt werden; sie bleiben in " +
                        folder.path.string() + ".");
        folder.logs = folder.path;
        return lines;
    }
    const fs::path from = folder.path / "error.log";
    const fs::path to = folder.logs / "error.log";
    std::error_code error;
    if (fs::is_regular_file(from, error) && !fs::exists(to, error) && placeBeside(from, to)) {
        fs::remove(from, error);
        lines.push_back(movedLine(from, to));
    }
    moveCallLog(folder, lines);
    return lines;
}

}  // namespace tellmaro::shell
