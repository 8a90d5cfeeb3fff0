#pragma once
// tellmaro-console's commands besides running the relay: showing and
// setting what the settings dialog and the phone book window edit, with
// their checks and messages, for set-ups without a desktop.

#include <cstdio>
#include <string>
#include <vector>

#include "shell/data_folder.h"

namespace tellmaro::shell {

inline constexpr int kCommandDone = 0;
inline constexpr int kCommandFileError = 1;
inline constexpr int kCommandRefused = 2;  // bad usage or input the dialogs refuse too

// Where the command writes: results to `out`, messages to `err`.
struct CommandOutput {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// "show": the settings as KEY=VALUE lines that "set" takes back.
int showSettings(const DataFolder& folder, const CommandOutput& io);
// "set KEY=VALUE...": all or nothing; the checks of the settings dialog's OK.
int setSettings(const DataFolder& folder, const std::vector<std::string>& assignments,
                const CommandOutput& io);
// "phonebook [add|change|remove ...]": the phone book window and its entry dialog.
int phoneBookCommand(const DataFolder& folder, const std::vector<std::string>& args,
                     const CommandOutput& io);

// Prints one German message line (or several) on `err`.
void tell(const CommandOutput& io, const std::string& message);

}  // namespace tellmaro::shell
