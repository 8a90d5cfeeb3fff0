#pragma once
// tellmaro-console: the relay without a window system, on libcapi20. The
// start-up and shutdown of the desktop program, less the splash, the tray
// and the settings dialog: a program that is not configured says so and
// exits.

namespace tellmaro::shell {

inline constexpr int kExitNormal = 0;
inline constexpr int kExitStartFailed = 1;  // another instance, no driver, a CAPI error
inline constexpr int kExitNotConfigured = 2;

// Runs until SIGINT or SIGTERM, or until the error report ends the program.
int runConsoleProgram();

}  // namespace tellmaro::shell
