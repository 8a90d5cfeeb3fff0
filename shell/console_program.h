#pragma once
// tellmaro-console: the relay without a window system, on libcapi20. The
// start-up and shutdown of the desktop program, less the splash, the tray
// and the settings dialog: a program that is not configured says so and
// exits.

#include <string>
#include <vector>

#include "shell/console_commands.h"

namespace tellmaro::shell {

inline constexpr int kExitNormal = 0;
inline constexpr int kExitStartFailed = 1;  // another instance, no driver, a CAPI error
inline constexpr int kExitNotConfigured = 2;
inline constexpr int kExitUsage = 2;

// The arguments after the program name. Without any, runs the relay until
// SIGINT or SIGTERM, or until the error report ends the program; otherwise
// one of the configuration commands (console_commands.h), or --help and
// --version; options come before the command.
int runConsoleProgram(const std::vector<std::string>& args, const CommandOutput& io = {});

}  // namespace tellmaro::shell
