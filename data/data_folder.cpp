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

namespace {

// An XDG base directory: the variable when it names an absolute path, else
// `fallback` under $HOME.
std::filesystem::path xdgHome(const char* variable, const char* fallback) {
    const char* xdg = std::getenv(variable);
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) / fallback : std::filesystem::path{};
}

}  // namespace

std::filesystem::path configHome() {
    return xdgHome("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path locateLogFolder(const DataFolderPlace& data,
                                      const std::filesystem::path& stateHome) {
    if (data.portable) {
        return data.path;
    }
    if (data.path.empty() || stateHome.empty() || stateHome.is_relative()) {
        return {};
    }
    return stateHome / "tellmaro";
}

std::filesystem::path stateHome() {
    return xdgHome("XDG_STATE_HOME", ".local/state");
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
