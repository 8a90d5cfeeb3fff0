#pragma once
// tellmaro-sim in a process of its own, for tests and benchmarks that go
// through the real libcapi20: a private HOME whose .capi20rc names it, a
// free port, its output in a file, and the process reaped at the end.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace tellmaro::test {

class SimulatorProcess {
  public:
    // Writes the scenario, points HOME at a .capi20rc for the chosen port and
    // starts the simulator; waits until it accepts connections.
    SimulatorProcess(const std::string& simulator, const std::string& scenario) {
        std::random_device random;
        dir_ = std::filesystem::temp_directory_path() /
               ("tellmaro-sim-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(dir_);
        port_ = freePort();
        // libcapi20 drops the last character of every line, the last one too.
        std::ofstream(dir_ / ".capi20rc")
            << "REMOTE rcapi 127.0.0.1 " << port_ << "\nTRACELEVEL 0\n";
        setenv("HOME", dir_.c_str(), 1);
        std::ofstream(dir_ / "scenario.txt") << scenario;

        std::string portText = std::to_string(port_);
        std::string scenarioFile = (dir_ / "scenario.txt").string();
        std::string output = (dir_ / "sim.out").string();
        const char* argv[] = {simulator.c_str(), "--port", portText.c_str(), scenarioFile.c_str(),
                              nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        spawned_ = posix_spawn(&pid_, simulator.c_str(), &actions, nullptr,
                               const_cast<char**>(argv), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);

        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (spawned_ && !accepting() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    ~SimulatorProcess() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool spawned() const { return spawned_; }
    pid_t pid() const { return pid_; }

    // Waits for the scenario to end; its exit status, or -1.
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output() const {
        std::ifstream in(dir_ / "sim.out");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    static uint16_t freePort() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        close(fd);
        return ntohs(address.sin_port);
    }

    bool accepting() const {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return ok;
    }

    std::filesystem::path dir_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
    bool spawned_ = false;
    bool reaped_ = false;
};

}  // namespace tellmaro::test
