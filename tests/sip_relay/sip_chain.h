#pragma once
// The chain for the SIP end-to-end tests, each part a real program: the
// provider (Kamailio), tellmaro-sip with tellmaro-console on it through
// libcapi20, and baresip phones driven over their control port.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "sip/sip_peer.h"
#include "support/child_process.h"
#include "support/program_directory.h"

namespace tellmaro::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Subscriber {
    std::string number;
    std::string password;
};
// The PC's password has a '#' (sip.conf keeps it) and must never be shown.
inline const Subscriber kPc{"0711555000", "pc#Secret-4711"};
inline const Subscriber kMobile{"01711234567", "mobile-pw"};
inline const Subscriber kAlice{"0301234567", "alice-pw"};
// Numbers the provider does not know go to the other network: SIPp parties.
inline constexpr const char* kOtherNetwork = "0899999";

// Kamailio with tests/sip_relay/provider.cfg and the four subscribers.
class Provider {
  public:
    Provider(const fs::path& dir, uint16_t gatewayPort)
        : dir_(dir / "provider"), port_(freeUdpPort()) {
        fs::create_directories(dir_ / "db");
        std::ofstream(dir_ / "db" / "version") << "table_name(str) table_version(int)\n"
                                               << "subscriber:7\nlocation:9\n";
        std::ofstream users(dir_ / "db" / "subscriber");
        users << "id(int,auto) username(str) domain(str) password(str)\n";
        int id = 1;
        for (const auto* user : {&kPc, &kMobile, &kAlice}) {
            users << id++ << ":" << user->number << ":127.0.0.1:" << user->password << "\n";
        }
        std::string config = readText(TELLMARO_SIP_RELAY_DIR "/provider.cfg");
        config = std::regex_replace(config, std::regex("@PORT@"), std::to_string(port_));
        config = std::regex_replace(config, std::regex("@DB@"), (dir_ / "db").string());
        config = std::regex_replace(config, std::regex("@GATEWAY@"), std::to_string(gatewayPort));
        std::ofstream(dir_ / "kamailio.cfg") << config;
    }
    uint16_t port() const { return port_; }
    bool start() {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/sbin/kamailio", "-DD", "-E", "-f",
                                     (dir_ / "kamailio.cfg").string(), "-Y", dir_.string(), "-P",
                                     (dir_ / "kamailio.pid").string(), "-m", "16", "-M", "4"},
            (dir_ / "kamailio.out").string());
        return waitUntil([this] { return waitForUdpPort(port_, 0ms) || !process_->running(); },
                         10s) &&
               process_->running();
    }
    // Its main process ends the others.
    void stop() {
        if (process_ && process_->running()) {
            process_->stop(SIGTERM);
        }
        waitUntil([this] { return !waitForUdpPort(port_, 0ms); }, 5s);
    }
    ~Provider() { stop(); }

  private:
    fs::path dir_;
    uint16_t port_;
    std::unique_ptr<ChildProcess> process_;
};

// baresip as a phone registered with the provider that answers by itself and
// plays a sine; driven by netstring JSON commands over ctrl_tcp.
class Baresip {
  public:
    Baresip(const fs::path& dir, const std::string& name, const Subscriber& user,
            uint16_t providerPort)
        : dir_(dir / name), controlPort_(freeUdpPort()) {
        fs::create_directories(dir_);
        // ausine makes only 48 kHz stereo; baresip resamples it for G.711.
        std::ofstream(dir_ / "config")
            << "poll_method epoll\nsip_listen 127.0.0.1:" << freeUdpPort() << "\n"
            << "audio_player aubridge,nil\naudio_alert aubridge,nil\n"
            << "audio_source ausine,440\nausrc_srate 48000\nausrc_channels 2\n"
            << "module_path /usr/lib/baresip/modules\n"
            << "module g711.so\nmodule ausine.so\nmodule aubridge.so\n"
            << "module_app account.so\nmodule_app menu.so\nmodule_app ctrl_tcp.so\n"
            << "ctrl_tcp_listen 127.0.0.1:" << controlPort_ << "\n";
        std::ofstream(dir_ / "accounts")
            << "<sip:" << user.number << "@127.0.0.1:" << providerPort
            << ">;auth_pass=" << user.password << ";regint=600;audio_codecs=PCMA;answermode=auto\n";
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/baresip", "-f", dir_.string(), "-n", "127.0.0.1"},
            (dir_ / "baresip.out").string());
        waitUntil([this] { return connect(); }, 10s);
    }
    ~Baresip() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    ChildProcess& process() { return *process_; }
    void command(const std::string& name, const std::string& params = {}) {
        std::string json =
            "{\"command\":\"" + name + "\",\"params\":\"" + params + "\",\"token\":\"t\"}";
        std::string frame = std::to_string(json.size()) + ":" + json + ",";
        ssize_t sent = send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
        (void)sent;
    }
    // How many events of `type` (CALL_ESTABLISHED, CALL_CLOSED, ...) came.
    size_t events(const std::string& type) {
        char buffer[4096];
        for (ssize_t got; fd_ >= 0 && (got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
            received_.append(buffer, static_cast<size_t>(got));
        }
        return occurrences(received_, "\"type\":\"" + type + "\"");
    }
    bool waitForEvent(const std::string& type, size_t count, std::chrono::milliseconds limit) {
        return waitUntil([&] { return events(type) >= count; }, limit);
    }

  private:
    bool connect() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(controlPort_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return true;
        }
        close(fd_);
        fd_ = -1;
        return false;
    }

    fs::path dir_;
    uint16_t controlPort_;
    int fd_ = -1;
    std::string received_;
    std::unique_ptr<ChildProcess> process_;
};

// tellmaro-sip on the PC's account and tellmaro-console on it through
// libcapi20, in a copy of the program folder that is also the data folder:
// sip.conf and the phone book lie side by side.
class Pc {
  public:
    Pc(const fs::path& dir, const std::vector<std::string>& settings)
        : dir_(dir), program_(TELLMARO_PROGRAM_DIR), capiPort_(freeUdpPort()) {
        program_.configure();
        std::ofstream(dir_ / ".capi20rc")
            << "REMOTE rcapi 127.0.0.1 " << capiPort_ << "\nTRACELEVEL 0\n";
        setenv("HOME", dir_.c_str(), 1);
        // The user's own commands: another speed-dial code and the settings.
        runConsole({"phonebook", "add", "43", kOtherNetwork, "Bob"});
        if (!settings.empty()) {
            std::vector<std::string> args{"set"};
            args.insert(args.end(), settings.begin(), settings.end());
            runConsole(args);
        }
    }
    ~Pc() { stop(); }

    // sip.conf (chmod 600) with `lines`, then tellmaro-sip; waits for its
    // start-up line.
    bool startSip(const std::vector<std::string>& lines, bool verbose) {
        const fs::path conf = program_.dir() / "sip.conf";
        {
            std::ofstream out(conf);
            out << "user = " << kPc.number << "\npassword = " << kPc.password << "\n"
                << "listen = 127.0.0.1\nport = 0\nretry_min = 1\n";
            std::random_device random;
            auto rtp = 20000 + random() % 40000;
            out << "rtp_ports = " << rtp << "-" << rtp + 20 << "\n";
            for (const auto& line : lines) {
                out << line << "\n";
            }
        }
        fs::permissions(conf, fs::perms::owner_read | fs::perms::owner_write);
        std::vector<std::string> argv{(program_.dir() / "tellmaro-sip").string(), "--config",
                                      conf.string(), "--port", std::to_string(capiPort_)};
        if (verbose) {
            argv.push_back("--verbose");
        }
        sip_ = std::make_unique<ChildProcess>(argv, (dir_ / "tellmaro-sip.out").string());
        if (!sip_->waitForOutput(" as a CAPI controller on ", 5s)) {
            return false;
        }
        std::smatch port;
        auto out = sip_->output();
        if (std::regex_search(out, port, std::regex("; SIP port (\\d+)/"))) {
            sipPort_ = static_cast<uint16_t>(std::stoi(port[1]));
        }
        return true;
    }
    bool startConsole() {
        console_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{(program_.dir() / "tellmaro-console").string()},
            (dir_ / "console.out").string());
        return console_->waitForOutput("Tellmaro ist betriebsbereit", 10s);
    }
    // Both stop as a user stops them; their exit codes.
    std::pair<int, int> stop() {
        std::pair<int, int> codes{-2, -2};
        if (console_ && console_->running()) {
            codes.first = console_->stop(SIGTERM);
        }
        if (sip_ && sip_->running()) {
            codes.second = sip_->stop(SIGTERM);
        }
        return codes;
    }

    uint16_t sipPort() const { return sipPort_; }
    std::string sipOutput() const { return sip_ ? sip_->output() : ""; }
    std::string consoleOutput() const { return console_ ? console_->output() : ""; }
    std::string callLog() const { return program_.callLog(); }

  private:
    void runConsole(const std::vector<std::string>& args) {
        std::vector<std::string> argv{(program_.dir() / "tellmaro-console").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess(argv, (dir_ / "console-command.out").string()).wait();
    }

    fs::path dir_;
    ProgramDirectory program_;
    uint16_t capiPort_;
    uint16_t sipPort_ = 0;
    std::unique_ptr<ChildProcess> sip_;
    std::unique_ptr<ChildProcess> console_;
};

}  // namespace tellmaro::test
