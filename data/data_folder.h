#pragma once
// Where the relay's files are (the settings, the phone book, the registered
// number; error.log and the proposed call log apart from them), found the
// same way by every program that reads them: the program folder when it
// holds its own writable "tellmaro.ini" (a portable copy, and build/bin
// during development), else `configHome`/tellmaro, and the logs in
// `stateHome`/tellmaro. Only found here, nothing created or changed:
// creating the folder and keeping it private is the relay's job
// (shell/data_folder.h), and tellmaro-sip, run from the relay's program
// folder, only reads it.

#include <filesystem>

namespace tellmaro::data {

struct DataFolderPlace {
    std::filesystem::path path;  // empty when no folder is known (no usable `configHome`)
    bool portable = false;
};

DataFolderPlace locateDataFolder(const std::filesystem::path& programDir,
                                 const std::filesystem::path& configHome);

// $XDG_CONFIG_HOME when set and absolute, else $HOME/.config; empty when
// neither is known.
std::filesystem::path configHome();

// Where error.log and the proposed call log belong: a portable folder keeps
// them, else `stateHome`/tellmaro; empty when no folder is known.
std::filesystem::path locateLogFolder(const DataFolderPlace& data,
                                      const std::filesystem::path& stateHome);

// $XDG_STATE_HOME when set and absolute, else $HOME/.local/state; empty
// when neither is known.
std::filesystem::path stateHome();

// Where the running executable lies; the prompts, icons and pictures are
// found there.
std::filesystem::path programDirectory();

}  // namespace tellmaro::data
