#pragma once
// One running instance per user: an exclusive lock on a file named after the
// main window's title. The kernel drops the lock when the process ends, even
// after a crash, so a stale lock never blocks a start.

#include <filesystem>
#include <string>
#include <string_view>

namespace tellmaro::shell {

inline constexpr std::string_view kMainWindowTitle = "CAPI Message Analyzer V0.1";

class SingleInstanceLock {
  public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another process holds it. The lock file lives in
    // $XDG_RUNTIME_DIR, else in the data folder: never in a folder shared
    // with other users, whose lock would pass for this user's.
    bool acquire(const std::filesystem::path& dataFolder,
                 std::string_view title = kMainWindowTitle);
    const std::string& path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace tellmaro::shell
