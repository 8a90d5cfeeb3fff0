#include "shell/data_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "data/data_folder.h"

namespace tellmaro::shell {

namespace {

bool writable(const std::filesystem::path& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

// The settings, the phone book and the call log are nobody else's business:
// the folder is created 0700, and one of the user's own that an earlier
// version left open to others is closed. One owned by someone else is left
// alone.
bool createPrivateFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return false;
    }
    if (status.st_uid == ::geteuid() && (status.st_mode & 077) != 0) {
        ::chmod(folder.c_str(), status.st_mode & 0700);
    }
    return true;
}

DataFolder findDataFolder(const std::filesystem::path& programDir,
                          const std::filesystem::path& configHome,
                          const std::filesystem::path& stateHome) {
    const data::DataFolderPlace place = data::locateDataFolder(programDir, configHome);
    DataFolder folder{place.path, place.portable, {}, data::locateLogFolder(place, stateHome)};
    if (folder.logs.empty()) {
        folder.logs = folder.path;
    }
    if (!folder.portable && folder.path.empty()) {
        folder.problem =
            "Es ist kein Ordner für die Einstellungen bekannt: weder XDG_CONFIG_HOME "
            "noch HOME ist gesetzt.";
    }
    return folder;
}

std::string createDataFolder(const DataFolder& folder) {
    if (folder.portable) {
        return {};
    }
    if (!createPrivateFolder(folder.path)) {
        return "Der Ordner " + folder.path.string() +
               " für die Einstellungen kann nicht angelegt werden.";
    }
    if (!writable(folder.path)) {
        return "Der Ordner " + folder.path.string() +
               " für die Einstellungen ist schreibgeschützt.";
    }
    return {};
}

DataFolder chooseDataFolder(const std::filesystem::path& programDir,
                            const std::filesystem::path& configHome,
                            const std::filesystem::path& stateHome) {
    DataFolder folder = findDataFolder(programDir, configHome, stateHome);
    if (folder.problem.empty()) {
        folder.problem = createDataFolder(folder);
    }
    return folder;
}

}  // namespace tellmaro::shell
