#pragma once
// Where the program keeps what it writes: the settings, the phone book, the
// registered number; error.log and the proposed call log in a folder of
// their own. The program folder holds only what it reads and may be
// read-only once installed.

#include <filesystem>
#include <string>

#include "data/data_folder.h"

namespace tellmaro::shell {

struct DataFolder {
    std::filesystem::path path;
    // True when the program folder holds its own writable "tellmaro.ini"
    // (a portable copy, and build/bin during development).
    bool portable = false;
    // Why the folder cannot be used, in German; empty when it can.
    std::string problem;
    // error.log and the proposed call log: `path` when portable, else found
    // (data::locateLogFolder) but created only when a relay starts
    // (settleLogFolder) or a call log is made there.
    std::filesystem::path logs = {};
};

// The data folder as every program finds it (data::locateDataFolder),
// created on first use and kept to the user alone (0700; a portable folder's
// mode is the user's choice). `configHome` is data::configHome().
DataFolder chooseDataFolder(const std::filesystem::path& programDir,
                            const std::filesystem::path& configHome,
                            const std::filesystem::path& stateHome = data::stateHome());

// Creates `folder` 0700, or closes one of the user's own that is open to
// others; false when it is not a usable folder.
bool createPrivateFolder(const std::filesystem::path& folder);

// The same folder, only found: a command that may still refuse creates it
// (createDataFolder) once it is sure to write.
DataFolder findDataFolder(const std::filesystem::path& programDir,
                          const std::filesystem::path& configHome,
                          const std::filesystem::path& stateHome = data::stateHome());
// Creates and closes the folder as chooseDataFolder does; the problem, or empty.
std::string createDataFolder(const DataFolder& folder);

}  // namespace tellmaro::shell
