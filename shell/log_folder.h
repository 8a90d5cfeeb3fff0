#pragma once
// The log folder of a relay that starts: error.log and the proposed call log
// live apart from the settings ($XDG_STATE_HOME/tellmaro), and what an
// earlier version kept beside the settings is moved there once.

#include <string>
#include <vector>

#include "shell/data_folder.h"

namespace tellmaro::shell {

inline constexpr const char* kProposedCallLogName = "Handy.log";

// Creates `folder.logs` (0700) and moves error.log, and the call log when the
// settings name it at its old default place (the settings then name the new
// one), out of the data folder. Returns one line for each file moved and for
// what kept it from moving; nothing is lost when a step fails. When the log
// folder cannot be made, the logs stay in the data folder.
std::vector<std::string> settleLogFolder(DataFolder& folder);

}  // namespace tellmaro::shell
