#pragma once
// tellmaro-sim in a process of its own, for tests through the real libcapi20: a private HOME
// whose .capi20rc names its free port.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "support/child_process.h"
#include "support/loopback_udp.h"

namespace tellmaro::test {

// libcapi20 of this process and the programs it starts talks to a remote-CAPI server on `port`:
// HOME becomes `home`, whose .capi20rc names it (libcapi20 drops every line's last character).
inline void useRemoteCapi(const std::filesystem::path& home, uint16_t port) {
    std::ofstream(home / ".capi20rc") << "REMOTE rcapi 127.0.0.1 " << port << "\nTRACELEVEL 0\n";
    setenv("HOME", home.c_str(), 1);
}

class SimulatorProcess {
  public:
    // Starts the simulator on the scenario and waits until it accepts connections.
    SimulatorProcess(const std::string& simulator, const std::string& scenario) {
        useRemoteCapi(dir_, port_);
        std::ofstream(dir_ / "scenario.txt") << scenario;

        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{simulator, "--port", std::to_string(port_),
                                     (dir_ / "scenario.txt").string()},
            (dir_ / "sim.out").string());
        waitUntil([this] { return !spawned() || accepts(port_); }, std::chrono::seconds(5));
    }

    ~SimulatorProcess() {
        process_.reset();
        std::filesystem::remove_all(dir_, ignored_);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool spawned() const { return process_->spawned(); }
    pid_t pid() const { return process_->pid(); }
    uint16_t port() const { return port_; }
    const std::filesystem::path& dir() const { return dir_; }
    // Waits for the scenario to end; its exit status, or -1.
    int wait() { return process_->wait(); }
    bool running() const { return process_->running(); }
    std::string output() const { return process_->output(); }

  private:
    std::filesystem::path dir_ = freshFolder("tellmaro-sim-");
    std::error_code ignored_;
    uint16_t port_ = freeUdpPort();
    std::unique_ptr<ChildProcess> process_;

    static bool accepts(uint16_t port) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return ok;
    }
};

}  // namespace tellmaro::test
