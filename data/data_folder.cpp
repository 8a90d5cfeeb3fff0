#include "data/data_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "data/settings_file.h"

namespace tellmaro::data {

namespace {

bool writable(const std::filesystem::path& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

DataFolderPlace locateDataFolder(const std::filesystem::path& programDir,
                                 const std::filesystem::path& configHome) {
    const auto portableSettings = programDir / kSettingsFileName;
    std::error_code error;
    if (std::filesystem::is_regular_file(portableSettings, error) && writable(portableSettings) &&
        writable(programDir)) {
        return {programDir, true};
    }
    if (configHome.empty() || configHome.is_relative()) {
        return {};
    }
    return {configHome / "tellmaro", false};
}

std::filesystem::path configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) / ".config" : std::filesystem::path{};
}

std::filesystem::path programDirectory() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path();
    }
    return exe.parent_path();
}

}  // namespace tellmaro::data
