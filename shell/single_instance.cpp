#include "shell/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace tellmaro::shell {

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SingleInstanceLock::acquire(const std::filesystem::path& dataFolder, std::string_view title) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool inRuntime = runtime && std::filesystem::path(runtime).is_absolute();
    path_ =
        ((inRuntime ? std::filesystem::path(runtime) : dataFolder) / (std::string(title) + ".lock"))
            .string();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        return true;  // no place for a lock: better to run than to refuse
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

}  // namespace tellmaro::shell
