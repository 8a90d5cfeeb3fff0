#pragma once
// A program started by a test, its output in a file, reaped at the end (killed if it still runs).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tellmaro::test {

// Empty when missing or unreadable (a directory, say).
inline std::string readFile(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// A new folder of that name, with a random tail, under `root` (default: the temporary folder).
inline std::filesystem::path freshFolder(const std::string& name, std::filesystem::path root = {}) {
    std::random_device random;
    root = (root.empty() ? std::filesystem::temp_directory_path() : root) /
           (name + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(root);
    return root;
}

// Polls `done` every 20 ms until it holds or `limit` has passed.
template <typename Done>
bool waitUntil(Done done, std::chrono::milliseconds limit) {
    for (auto deadline = std::chrono::steady_clock::now() + limit; !done();
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

class ChildProcess {
  public:
    // `workingDir`: where it runs; empty: here.
    ChildProcess(const std::vector<std::string>& argv, std::string outputFile,
                 const std::string& workingDir = {})
        : output_(std::move(outputFile)) {
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (!workingDir.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
        }
        spawned_ = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (running()) {
            stop(SIGKILL);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool spawned() const { return spawned_; }
    pid_t pid() const { return pid_; }
    // Its exit status, or -1 when a signal ended it.
    int wait() {
        reaped_ = reaped_ || waitpid(pid_, &status_, 0) == pid_;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    int stop(int signal = SIGTERM) {
        kill(pid_, signal);
        return wait();
    }
    // A look whether it still runs may reap it.
    bool running() const {
        reaped_ = reaped_ || !spawned_ || waitpid(pid_, &status_, WNOHANG) == pid_;
        return !reaped_;
    }

    std::string output() const { return readFile(output_); }
    // Waits up to `timeout` until the output contains `text`.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
        return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout);
    }

  private:
    std::string output_;
    pid_t pid_ = -1;
    bool spawned_ = false;
    mutable bool reaped_ = false;
    mutable int status_ = 0;
};

}  // namespace tellmaro::test
