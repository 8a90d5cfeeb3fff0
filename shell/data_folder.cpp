#include "shell/data_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "data/settings_file.h"

namespace tellmaro::shell {

namespace {

bool writable(const std::filesystem::path& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

DataFolder chooseDataFolder(const std::filesystem::path& programDir,
                            const std::filesystem::path& configHome) {
    const auto portableSettings = programDir / data::kSettingsFileName;
    std::error_code error;
    if (std::filesystem::is_regular_file(portableSettings, error) && writable(portableSettings) &&
        writable(programDir)) {
        return {programDir, true, {}};
    }
    DataFolder folder{configHome / "tellmaro", false, {}};
    if (configHome.empty() || configHome.is_relative()) {
        folder.problem =
            "Es ist kein Ordner für die Einstellungen bekannt: weder XDG_CONFIG_HOME "
            "noch HOME ist gesetzt.";
        return folder;
    }
    std::filesystem::create_directories(folder.path, error);
    if (error) {
        folder.problem = "Der Ordner " + folder.path.string() +
                         " für die Einstellungen kann nicht angelegt werden.";
    } else if (!writable(folder.path)) {
        folder.problem =
            "Der Ordner " + folder.path.string() + " für die Einstellungen ist schreibgeschützt.";
    }
    return folder;
}

std::filesystem::path configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) / ".config" : std::filesystem::path{};
}

}  // namespace tellmaro::shell
