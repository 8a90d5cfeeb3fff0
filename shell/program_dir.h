#pragma once
// The program directory: where the running executable lies. Every file of
// the program but the call log is found there.

#include <filesystem>

namespace tellmaro::shell {

std::filesystem::path programDirectory();

}  // namespace tellmaro::shell
