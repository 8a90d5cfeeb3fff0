// The relay's calls on a SIP account, end to end and in real time: each flow
// runs tellmaro-console through libcapi20 on tellmaro-sip, the provider and
// phones nobody here wrote, then checks the call log, that both programs end
// idle with one status line per call, every SIPp party's call, and that the
// password shows nowhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <regex>

#include "analysis/capi_report.h"
#include "capi/libcapi20_driver.h"
#include "sip/sip_peer.h"
#include "support/child_process.h"
#include "support/program_directory.h"

namespace tellmaro::test {
namespace {

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
        waitUntil([this] { return connect(); }, 30s);
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
        if (!sip_->waitForOutput(" as a CAPI controller on ", 20s)) {
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
        return console_->waitForOutput("Tellmaro ist betriebsbereit", 30s);
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
    uint16_t capiPort() const { return capiPort_; }
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

struct Chain {
    explicit Chain(const std::vector<std::string>& settings)
        : dir(scratchDir()),
          gatewayPort(freeUdpPort()),
          provider(dir, gatewayPort),
          pc(dir, settings) {}

    fs::path dir;
    uint16_t gatewayPort;
    Provider provider;
    Pc pc;
    uint16_t registrarPort = freeUdpPort();  // for a SIPp registrar
    std::map<std::string, std::unique_ptr<Baresip>> phones;
    std::map<std::string, std::unique_ptr<Sipp>> sipps;
    std::vector<std::string> endless;  // SIPp parties stopped at the end, not awaited
    std::string failure;

    bool fail(const std::string& why) {
        failure = why;
        return false;
    }
    bool addPhone(const std::string& name) {
        auto& phone = phones[name];
        phone = std::make_unique<Baresip>(dir, name, name == "mobile" ? kMobile : kAlice,
                                          provider.port());
        return phone->process().running() || fail(name + " (baresip) did not start");
    }
    bool phonesRegistered() {
        for (auto& [name, phone] : phones) {
            // Its log line, since the event may come before the control connection.
            if (!phone->process().waitForOutput("} 200 OK", 30s)) {
                return fail(name + " did not register with the provider");
            }
        }
        return true;
    }
};

// One step of a flow; false stops the flow, with Chain::failure saying why.
using Step = std::function<bool(Chain&)>;

Step pause(std::chrono::milliseconds time) {
    return [time](Chain&) {
        std::this_thread::sleep_for(time);
        return true;
    };
}

// A baresip phone calls the PC through the provider.
Step dial(const std::string& phone) {
    return [phone](Chain& c) {
        c.phones.at(phone)->command(
            "dial", "sip:" + kPc.number + "@127.0.0.1:" + std::to_string(c.provider.port()));
        return true;
    };
}

Step event(const std::string& phone, const std::string& type, size_t count = 1) {
    return [=](Chain& c) {
        return c.phones.at(phone)->waitForEvent(type, count, 20s) ||
               c.fail(phone + " saw no " + type + " #" + std::to_string(count));
    };
}

// baresip sends a key as RFC 4733 events of its own pace: about 0.8 s each.
Step keys(const std::string& phone, const std::string& keys) {
    return [=](Chain& c) {
        for (char key : keys) {
            c.phones.at(phone)->command("sndcode", std::string(1, key));
        }
        std::this_thread::sleep_for(800ms * keys.size());
        return true;
    };
}

Step hangUp(const std::string& phone) {
    return [phone](Chain& c) {
        c.phones.at(phone)->command("hangup");
        return true;
    };
}

// The phone vanishes: no BYE, no more RTP.
Step vanish(const std::string& phone) {
    return [phone](Chain& c) {
        c.phones.at(phone)->process().stop(SIGKILL);
        return true;
    };
}

// A SIPp party: "gateway" (the other network behind the provider),
// "provider" (calls the PC through it), "pc" (calls the PC's SIP port
// straight) or "registrar" (the PC's registrar, kept until the end).
Step sipp(const std::string& name, const std::string& scenario, const std::string& role,
          std::vector<std::pair<std::string, std::string>> keys = {},
          std::vector<std::string> extra = {}) {
    return [=](Chain& c) mutable {
        uint16_t port = role == "gateway"     ? c.gatewayPort
                        : role == "registrar" ? c.registrarPort
                                              : freeUdpPort();
        if (role == "provider" || role == "pc") {
            const uint16_t to = role == "pc" ? c.pc.sipPort() : c.provider.port();
            extra.insert(extra.begin(), "127.0.0.1:" + std::to_string(to));
        }
        if (role != "registrar" && std::find(extra.begin(), extra.end(), "-m") == extra.end()) {
            extra.insert(extra.end(), {"-m", "1"});
        }
        if (role == "registrar") {
            c.endless.push_back(name);
        }
        c.sipps[name] = std::make_unique<Sipp>(c.dir, name, scenario, port, keys, extra);
        return c.sipps[name]->process().spawned() || c.fail("SIPp " + name + " did not start");
    };
}

Step sippDone(const std::string& name) {
    return [name](Chain& c) {
        int status = c.sipps.at(name)->finish(std::chrono::seconds(40));
        return status == 0 || c.fail("SIPp " + name + " exited with " + std::to_string(status) +
                                     ":\n" + c.sipps.at(name)->process().output());
    };
}

Step sippSaw(const std::string& name, const std::string& text) {
    return [=](Chain& c) {
        return waitUntil([&] { return c.sipps.at(name)->count(text) > 0; }, 15s) ||
               c.fail("SIPp " + name + " never saw \"" + text + "\"");
    };
}

// Waits for tellmaro-sip's output to hold `text` `count` times.
Step status(const std::string& text, size_t count = 1) {
    return [=](Chain& c) {
        return waitUntil([&] { return occurrences(c.pc.sipOutput(), text) >= count; }, 20s) ||
               c.fail("tellmaro-sip never said \"" + text + "\" " + std::to_string(count) + "x");
    };
}

Step providerUp() {
    return [](Chain& c) {
        return (c.provider.start() || c.fail("the provider did not start")) &&
               c.phonesRegistered() && status("registration registered")(c);
    };
}

Step providerDown() {
    return [](Chain& c) {
        c.provider.stop();
        return true;
    };
}

// What the mobile SIPp plays: SIPp's PCMA capture, or the same with every
// ninth packet lost and the rest sent up to 40 ms late, some overtaken.
Step mobileAudio(bool impaired) {
    return [impaired](Chain& c) {
        auto packets = captureRecords();
        std::string out = readText("/usr/share/sip-tester/g711a.pcap").substr(0, 24);
        std::mt19937 random(4711);
        for (size_t i = 0; i < packets.size(); ++i) {
            if (impaired && i % 9 == 4) {
                continue;
            }
            if (impaired) {
                uint32_t micros = 0;  // the record's time: seconds, then microseconds
                std::memcpy(&micros, packets[i].data() + 4, 4);
                micros = std::min<uint32_t>(micros + random() % 40000, 999999);
                std::memcpy(packets[i].data() + 4, &micros, 4);
                if (i % 7 == 3 && i + 1 < packets.size()) {
                    std::swap(packets[i], packets[i + 1]);
                }
            }
            out += packets[i];
        }
        std::ofstream(c.dir / "talk.pcap", std::ios::binary) << out;
        return true;
    };
}

// The SIPp mobile through the provider: keys #43#, talks, hangs up unless
// the PC does first.
Step sippMobile() {
    return [](Chain& c) {
        auto rows = callerRows(c.dir, "mobile",
                               {"<sip:" + kMobile.number + "@127.0.0.1>;" + kPc.number +
                                ";X-No-Digest: yes;X-B: ;8 101"});
        return sipp("mobile", "sip/caller.xml", "provider", {},
                    {"-inf", rows, "-set", "mode", "talk"})(c);
    };
}

// A SIPp party of the other network behind the provider, in callee_answer.xml's `mode`.
Step callee(const std::string& mode) {
    return sipp("bob", "sip/callee_answer.xml", "gateway",
                {{"rtp_port", std::to_string(freeUdpPort())}}, {"-set", "mode", mode});
}

struct Flow {
    std::string name = {};
    std::vector<std::string> settings = {};  // tellmaro-console set ...
    std::vector<std::string> phones = {};    // baresip phones: "mobile", "alice"
    std::vector<Step> steps = {};
    std::string callLog = {};             // with <time> and <n> for the figures
    std::vector<std::string> calls = {};  // a regex for each of tellmaro-sip's call lines, in order
    bool verbose = false;                 // --verbose: SIP and CAPI traced
    bool sippRegistrar = false;           // the registrar is SIPp, started by a step; no proxy
    bool providerFirst = true;            // the provider runs before tellmaro-sip starts
    bool playsCaptures = false;           // SIPp plays RTP captures, which it does only for root
    std::vector<std::string> sipConf = {};
};

std::string maskedLog(const std::string& log) {
    std::string masked =
        std::regex_replace(log, std::regex(R"(\d\d\.\d\d\.\d\d\d\d \d\d:\d\d:\d\d)"), "<time>");
    return std::regex_replace(masked, std::regex(R"(dauer(\s+): \d+)"), "dauer$1: <n>");
}

// Pieces of the registered mobile's log entry.
const std::string kCallIn =
    "\r\n\r\n\r\nAnrufende Nummer       : 1711234567\r\nDatum/Uhrzeit          : <time>\r\n";
std::string dialled(const std::string& number) {
    return "\r\n   Gewählte Nummer     : " + number + "\r\n";
}
const std::string kTalk =
    "   Beginn des Gesprächs: <time>\r\n   Ende des Gesprächs  : <time>\r\n"
    "   Gesprächsdauer      : <n> s\r\n";
std::string connectionEnd(const std::string& unit) {
    return "\r\nEnde der Verbindung    : <time>\r\nVerbindungsdauer       : <n>" + unit + "\r\n";
}
const std::string kUnreachable = "   Abbruch, Grund      : Der Angerufene ist nicht erreichbar\r\n";
const std::string kRefused = "Abbruch, Grund         : Nicht registrierte Handynummer\r\n";
const std::string kMobileIn = "call 1 in from national '1711234567' to '0711555000' \\(PCMA\\): ";

const std::vector<Flow>& flows() {
    static const std::vector<Flow> table = {
        {.name = "DirectAnswerSpeedDialOneSidedThenBusy",
         .phones = {"mobile", "alice"},
         .steps = {dial("mobile"), event("mobile", "CALL_ESTABLISHED"), pause(1500ms),
                   keys("mobile", "#"), keys("mobile", "42#"), event("alice", "CALL_ESTABLISHED"),
                   pause(3s), hangUp("alice"), status("call 2 out"), pause(1500ms), callee("busy"),
                   keys("mobile", "#"), keys("mobile", "43#"), sippDone("bob"), pause(2s),
                   hangUp("mobile")},
         .callLog = kCallIn + dialled("0301234567") + kTalk + dialled("0899999") + kUnreachable +
                    connectionEnd("s"),
         .calls = {"call 2 out to '0301234567' \\(PCMA\\): connected for \\d+ s; ended: cause 16, "
                   "the far end hung up \\(BYE\\)",
                   "call 3 out to '0899999': not connected; ended: cause 17, 486 Busy Here",
                   kMobileIn +
                       "connected for \\d+ s; ended: cause 16, the far end hung up \\(BYE\\)"}},

        {.name = "CallBackTotalDisconnect",
         .settings = {"mode=call-back", "disconnect=total"},
         .phones = {"mobile", "alice"},
         .steps = {dial("mobile"), event("mobile", "CALL_RINGING"), pause(1s), hangUp("mobile"),
                   event("mobile", "CALL_ESTABLISHED"), pause(1500ms), keys("mobile", "#"),
                   keys("mobile", "42#"), event("alice", "CALL_ESTABLISHED"), pause(2s),
                   hangUp("alice"), event("mobile", "CALL_CLOSED", 2)},
         .callLog = kCallIn + dialled("0301234567") + kTalk + connectionEnd("s"),
         .calls = {kMobileIn + "not connected; ended: cause 16, the caller gave up \\(CANCEL\\)",
                   "call 3 out to '0301234567' \\(PCMA\\): connected for \\d+ s; ended: cause 16, "
                   "the far end hung up \\(BYE\\)",
                   "call 2 out to '01711234567' \\(PCMA\\): connected for \\d+ s; ended: cause 16, "
                   "hung up here"}},

        {.name = "CancelWhileRingingThenNoAnswer",
         .phones = {"mobile"},
         .steps = {dial("mobile"), event("mobile", "CALL_ESTABLISHED"), pause(1500ms),
                   callee("ring"), keys("mobile", "#"), keys("mobile", "43#"),
                   sippSaw("bob", "INVITE sip:"), pause(1s), keys("mobile", "*"), sippDone("bob"),
                   pause(2s), callee("noanswer"), keys("mobile", "#"), keys("mobile", "43#"),
                   sippDone("bob"), pause(1s), hangUp("mobile")},
         .callLog = kCallIn + dialled("0899999") +
                    "   Abbruch, Grund      : Abbruch durch den Handybenutzer\r\n" +
                    dialled("0899999") + kUnreachable + connectionEnd("s"),
         .calls = {"call 2 out to '0899999': not connected; ended: cause 16, cancelled here",
                   "call 3 out to '0899999': not connected; ended: cause 18, 480 Temporarily "
                   "Unavailable",
                   kMobileIn +
                       "connected for \\d+ s; ended: cause 16, the far end hung up \\(BYE\\)"}},

        // SIPp as the mobile: keys by RFC 4733 and SIP INFO; the called
        // party hangs up, and the PC hangs up on the mobile.
        {.name = "SippMobileKeysByInfoCalledPartyHangsUp",
         .settings = {"disconnect=total"},
         .steps = {mobileAudio(false), callee("hangup"), sippMobile(), sippDone("bob"),
                   sippDone("mobile"), sippSaw("mobile", "BYE sip:")},
         .callLog = kCallIn + dialled("0899999") + kTalk + connectionEnd("s"),
         .calls = {"call 2 out to '0899999' \\(PCMA\\): connected for \\d+ s; ended: cause 16, the "
                   "far end hung up \\(BYE\\)",
                   kMobileIn + "connected for \\d+ s; ended: cause 16, hung up here"},
         .playsCaptures = true},

        // Its audio with loss, jitter and reordering; it hangs up itself.
        {.name = "SippMobileOnALossyLineHangsUp",
         .steps = {mobileAudio(true), callee("answer"), sippMobile(), sippDone("mobile"),
                   sippDone("bob")},
         .callLog = kCallIn + dialled("0899999") + kTalk + connectionEnd(" s"),
         .calls = {kMobileIn + "connected for \\d+ s; ended: cause 16, the far end hung up "
                               "\\(BYE\\); audio \\d+ frames in, \\d+ out, [1-9]\\d* lost",
                   "call 2 out to '0899999' \\(PCMA\\): connected for \\d+ s; ended: cause 16, "
                   "hung up here"},
         .verbose = true,
         .playsCaptures = true},

        // A SIPp registrar that checks the digest, down at first; callers
        // with odd headers and SDP straight to the PC's port; one from an
        // address that is neither registrar nor proxy.
        {.name = "SippRegistrarOddCallersAndAStranger",
         .steps =
             {pause(1500ms),
              sipp("registrar", "sip/registrar.xml", "registrar",
                   {{"auth_user", kPc.number}, {"auth_password", kPc.password}, {"grant", "600"}}),
              status("registration registered"),
              sipp("odd", "sip/caller.xml", "pc", {},
                   {"-inf", TELLMARO_SIP_RELAY_DIR "/odd_callers.csv", "-m", "4", "-l", "1"}),
              sippDone("odd"),
              sipp("stranger", "sip/caller.xml", "pc", {},
                   {"-inf", TELLMARO_SIP_RELAY_DIR "/stranger.csv", "-i", "127.0.0.2"}),
              sippDone("stranger"), status("refused with 403")},
         .callLog = "Anrufende Nummer       : \r\nDatum/Uhrzeit          : <time>\r\n" + kRefused +
                    "\r\n\r\n\r\nAnrufende Nummer       : 30999888\r\nDatum/Uhrzeit          : "
                    "<time>\r\n" +
                    kRefused + kCallIn + connectionEnd("s"),
         .calls = {"call 1 in from a withheld number to '0711555000' \\(PCMA\\): not connected; "
                   "ended: cause 21, refused here with 603",
                   "call 2 in from national '30999888' to '0711555000' \\(PCMA\\): not connected; "
                   "ended: cause 21, refused here with 603",
                   "call 3 in from national '1711234567' to '0711555000' \\(PCMA\\): connected for "
                   "\\d+ s; ended: cause 16, the far end hung up \\(BYE\\)"},
         .verbose = true,
         .sippRegistrar = true},

        // The provider comes up only after the PC and the phones; during the
        // conversation it goes down, then Alice's phone vanishes and the
        // mobile's BYE is lost: RTP timeouts end both legs.
        {.name = "ProviderDownAtStartAndMidCallPeersVanish",
         .phones = {"mobile", "alice"},
         .steps = {pause(2s), providerUp(), dial("mobile"), event("mobile", "CALL_ESTABLISHED"),
                   pause(1500ms), keys("mobile", "#"), keys("mobile", "42#"),
                   event("alice", "CALL_ESTABLISHED"), pause(2s), providerDown(), vanish("alice"),
                   status("no RTP for 3 s"), pause(2s), hangUp("mobile"),
                   status("no RTP for 3 s", 2)},
         .callLog = kCallIn + dialled("0301234567") + kTalk + connectionEnd("s"),
         .calls = {"call 2 out to '0301234567' \\(PCMA\\): connected for \\d+ s; ended: cause 41, "
                   "no RTP for 3 s",
                   kMobileIn + "connected for \\d+ s; ended: cause 41, no RTP for 3 s"},
         .verbose = true,
         .providerFirst = false,
         .sipConf = {"rtp_timeout = 3"}},
    };
    return table;
}

void PrintTo(const Flow& flow, std::ostream* out) {
    *out << flow.name;
}

// The first group of each match of `pattern` in `text`.
std::vector<std::string> matches(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

class RelayOnSip : public ::testing::TestWithParam<Flow> {};

TEST_P(RelayOnSip, Flow) {
    const Flow& flow = GetParam();
    for (const char* program : {"/usr/sbin/kamailio", "/usr/bin/baresip", kSipp}) {
        if (access(program, X_OK) != 0) {
            GTEST_SKIP() << program << " is not installed (scripts/build installs it)";
        }
    }
    if (flow.playsCaptures && geteuid() != 0) {
        GTEST_SKIP() << "SIPp plays captures only for root";
    }
    Chain c(flow.settings);
    auto sipConf = flow.sipConf;
    const uint16_t registrar = flow.sippRegistrar ? c.registrarPort : c.provider.port();
    sipConf.push_back("registrar = 127.0.0.1:" + std::to_string(registrar));
    if (!flow.sippRegistrar) {
        sipConf.push_back("outbound_proxy = 127.0.0.1:" + std::to_string(c.provider.port()));
    }
    bool ok = (!flow.providerFirst || flow.sippRegistrar || c.provider.start() ||
               c.fail("the provider did not start")) &&
              (c.pc.startSip(sipConf, flow.verbose) || c.fail("tellmaro-sip did not start")) &&
              (c.pc.startConsole() || c.fail("tellmaro-console did not get ready"));
    for (const auto& phone : flow.phones) {
        ok = ok && c.addPhone(phone);
    }
    ok = ok && (!flow.providerFirst || c.phonesRegistered());
    for (const auto& step : flow.steps) {
        ok = ok && step(c);
    }
    // Idle again: the tray green, every call's line written.
    static const std::regex callLine(R"(\d\d:\d\d:\d\d (call \d+ [^\n]*; ended: [^\n]*))");
    std::vector<std::string> calls;
    ok = ok &&
         (waitUntil(
              [&] { return c.pc.consoleOutput().ends_with("Tellmaro ist betriebsbereit\"\n"); },
              15s) ||
          c.fail("the relay did not get ready again")) &&
         (waitUntil(
              [&] {
                  calls = matches(c.pc.sipOutput(), callLine);
                  return calls.size() >= flow.calls.size();
              },
              15s) ||
          c.fail("tellmaro-sip did not end every call"));
    EXPECT_TRUE(ok) << c.failure;
    std::this_thread::sleep_for(1s);  // the relay's last answers to the line

    auto [consoleExit, sipExit] = c.pc.stop();
    for (const auto& name : c.endless) {
        c.sipps.at(name)->process().stop(SIGKILL);
    }
    for (auto& [name, party] : c.sipps) {
        if (std::find(c.endless.begin(), c.endless.end(), name) == c.endless.end()) {
            EXPECT_EQ(party->finish(std::chrono::seconds(1)), 0)
                << name << party->process().output();
        }
    }
    const std::string out = c.pc.sipOutput();
    EXPECT_EQ(consoleExit, 0) << c.pc.consoleOutput();
    EXPECT_EQ(sipExit, 0) << out;
    EXPECT_EQ(maskedLog(c.pc.callLog()), flow.callLog);
    ASSERT_EQ(calls.size(), flow.calls.size()) << ::testing::PrintToString(calls);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_TRUE(std::regex_search(calls[i], std::regex(flow.calls[i])))
            << calls[i] << "\n  does not match\n"
            << flow.calls[i];
    }
    // Status: one start-up line first, then only registration, connection,
    // call and refusal lines.
    auto lines = matches(out, std::regex(R"((?:^|\n)\d\d:\d\d:\d\d ([^\n]*))"));
    ASSERT_FALSE(lines.empty()) << out;
    EXPECT_TRUE(lines[0].starts_with("serving the SIP account 0711555000@127.0.0.1 as a CAPI "))
        << lines[0];
    static const std::regex known(
        R"(registration (registering|registered|failed|unregistered): .*|connection \d+ .*|application \d+ .*|call \d+ .*|INVITE from .* refused with \d+: .*|stopping)");
    for (size_t i = 1; i < lines.size() && !flow.verbose; ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], known)) << lines[i];
    }
    for (const auto& text : {out, c.pc.consoleOutput(), c.pc.callLog()}) {
        EXPECT_EQ(text.find(kPc.password), std::string::npos) << "the password shows";
    }
    if (HasFailure()) {
        ADD_FAILURE() << "files in " << c.dir.string() << "\n--- tellmaro-sip (end)\n"
                      << out.substr(out.size() > 6000 ? out.size() - 6000 : 0) << "\n--- console\n"
                      << c.pc.consoleOutput() << "\n--- call log\n"
                      << c.pc.callLog();
    } else {
        fs::remove_all(c.dir);
    }
}

INSTANTIATE_TEST_SUITE_P(Flows, RelayOnSip, ::testing::ValuesIn(flows()),
                         [](const auto& info) { return info.param.name; });

// The analysis window's verdict on the controller tellmaro-sip serves: one
// controller, two B channels, DTMF: the green light. Its remote-CAPI port
// listens on the loopback only, as no --listen said otherwise.
TEST(SipController, AnalysisShowsTheGreenLightOnTheLoopbackOnly) {
    auto dir = scratchDir();
    Pc pc(dir, {});
    ASSERT_TRUE(pc.startSip({"registrar = 127.0.0.1:" + std::to_string(freeUdpPort())}, false))
        << pc.sipOutput();
    capi::LibCapi20Driver driver;
    ASSERT_TRUE(driver.loaded()) << driver.loadError();
    capi::CapiProfile profile{};
    ASSERT_EQ(driver.getProfile(1, profile), capi::kCapiOk);
    auto report = analysis::profileBlocks(profile);
    EXPECT_EQ(analysis::verdictFor(report.score).trafficLight, "trffc10a.ico") << report.text;
    EXPECT_NE(report.text.find("Number of installed controllers: 1\r\n"
                               "Number of supported B channels: 2\r\n"),
              std::string::npos)
        << report.text;
    char loopback[40], anywhere[16];
    std::snprintf(loopback, sizeof loopback, "0100007F:%04X 00000000:0000 0A", pc.capiPort());
    std::snprintf(anywhere, sizeof anywhere, "00000000:%04X", pc.capiPort());
    const std::string sockets = readText("/proc/net/tcp") + readText("/proc/net/tcp6");
    EXPECT_NE(sockets.find(loopback), std::string::npos) << sockets;
    EXPECT_EQ(sockets.find(anywhere), std::string::npos) << sockets;
    EXPECT_EQ(pc.stop().second, 0);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tellmaro::test
