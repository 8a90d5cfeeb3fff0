#include "shell/program_dir.h"

namespace tellmaro::shell {

std::filesystem::path programDirectory() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path();
    }
    return exe.parent_path();
}

}  // namespace tellmaro::shell
