// The relay on a SIP account, end to end and in real time: tellmaro-console
// through libcapi20 on tellmaro-sip, Kamailio as the provider, baresip and SIPp
// as phones nobody here wrote. Only what needs the whole chain; the SIP line's
// own ends are sip_line_tests', the relay's own flows tests/relay's.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "analysis/capi_report.h"
#include "capi/libcapi20_driver.h"
#include "sip/sip_peer.h"
#include "support/flow_runner.h"
#include "support/program_directory.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Subscriber {
    std::string number, password;
};
// The PC's password has a '#' (sip.conf keeps it) and must never be shown.
const Subscriber kPc{"0711555000", "pc#Secret-4711"}, kMobile{"01711234567", "mobile-pw"},
    kAlice{"0301234567", "alice-pw"};

// baresip as a phone registered with the provider that answers by itself and
// plays a sine; driven by netstring JSON commands over ctrl_tcp.
class Baresip {
  public:
    Baresip(const fs::path& dir, const Subscriber& user, uint16_t providerPort)
        : control_(freeUdpPort()) {
        fs::create_directories(dir);
        // ausine makes only 48 kHz stereo; baresip resamples it for G.711.
        std::ofstream(dir / "config")
            << "poll_method epoll\nsip_listen 127.0.0.1:" << freeUdpPort()
            << "\naudio_player aubridge,nil\naudio_alert aubridge,nil\naudio_source ausine,440\n"
            << "ausrc_srate 48000\nausrc_channels 2\nmodule_path /usr/lib/baresip/modules\n"
            << "module g711.so\nmodule ausine.so\nmodule aubridge.so\nmodule_app account.so\n"
            << "module_app menu.so\nmodule_app ctrl_tcp.so\nctrl_tcp_listen 127.0.0.1:" << control_
            << "\n";
        std::ofstream(dir / "accounts")
            << "<sip:" << user.number << "@127.0.0.1:" << providerPort
            << ">;auth_pass=" << user.password << ";regint=600;audio_codecs=PCMA;answermode=auto\n";
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/baresip", "-f", dir.string(), "-n", "127.0.0.1"},
            (dir / "baresip.out").string());
        waitUntil([this] { return connected(); }, 30s);
    }
    ~Baresip() { close(fd_); }

    // Its log line, since the event may come before the control connection.
    bool registered() { return process_->waitForOutput("} 200 OK", 30s); }
    void command(const std::string& name, const std::string& params = {}) {
        std::string json =
            "{\"command\":\"" + name + "\",\"params\":\"" + params + "\",\"token\":\"t\"}";
        std::string frame = std::to_string(json.size()) + ":" + json + ",";
        (void)send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    // baresip sends a key as RFC 4733 events of its own pace: about 0.8 s each.
    void keys(const std::string& keys) {
        for (char key : keys) {
            command("sndcode", std::string(1, key));
        }
        std::this_thread::sleep_for(800ms * keys.size());
    }
    // Whether `count` events of `type` (CALL_ESTABLISHED, CALL_CLOSED, ...) came in time.
    bool event(const std::string& type, size_t count = 1) {
        return waitUntil(
            [&] {
                char buffer[4096];
                for (ssize_t got; (got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
                    received_.append(buffer, static_cast<size_t>(got));
                }
                return occurrences(received_, "\"type\":\"" + type + "\"") >= count;
            },
            20s);
    }

  private:
    bool connected() {
        close(fd_);
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, htons(control_), {htonl(INADDR_LOOPBACK)}, {}};
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    std::unique_ptr<ChildProcess> process_;
    uint16_t control_;
    int fd_ = -1;
    std::string received_;
};

// Kamailio with provider.cfg and the three subscribers; tellmaro-sip on the
// PC's account and tellmaro-console on it through libcapi20, in a copy of the
// program folder that is also the data folder (sip.conf beside the phone book).
struct Chain {
    Chain() {
        program.configure();
        std::ofstream(dir / ".capi20rc") << "REMOTE rcapi 127.0.0.1 " << capiPort << "\n";
        setenv("HOME", dir.c_str(), 1);
        const auto db = dir / "provider" / "db";
        fs::create_directories(db);
        std::ofstream(db / "version")
            << "table_name(str) table_version(int)\nsubscriber:7\nlocation:9\n";
        std::ofstream out(db / "subscriber");
        out << "id(int,auto) username(str) domain(str) password(str)\n";
        int id = 0;
        for (const auto& user : {kPc, kMobile, kAlice}) {
            out << ++id << ":" << user.number << ":127.0.0.1:" << user.password << "\n";
        }
        std::string config = readFile(TELLMARO_SIP_RELAY_DIR "/provider.cfg");
        for (auto [key, value] : {std::pair{"@PORT@", std::to_string(providerPort)},
                                  {"@DB@", db.string()},
                                  {"@GATEWAY@", std::to_string(gatewayPort)}}) {
            config = std::regex_replace(config, std::regex(key), value);
        }
        std::ofstream(dir / "provider" / "kamailio.cfg") << config;
    }
    ~Chain() {
        stopPrograms();
        if (provider && provider->running()) {
            provider->stop(SIGTERM);  // its main process ends the others
        }
    }

    std::unique_ptr<ChildProcess> spawn(std::vector<std::string> argv, const std::string& out) {
        return std::make_unique<ChildProcess>(argv, (dir / out).string());
    }
    // The user's own commands: settings and phone book.
    void console(std::vector<std::string> args) {
        args.insert(args.begin(), program.dir() / "tellmaro-console");
        spawn(args, "console-command.out")->wait();
    }
    // Kamailio, tellmaro-sip on sip.conf (chmod 600) tracing SIP and CAPI, the relay.
    std::string start() {
        const auto at = dir / "provider";
        provider = spawn({"/usr/sbin/kamailio", "-DD", "-E", "-f", at / "kamailio.cfg", "-Y", at,
                          "-P", at / "kamailio.pid", "-m", "16", "-M", "4"},
                         "kamailio.out");
        if (!waitForUdpPort(providerPort) || !provider->running()) {
            return "the provider did not start";
        }
        const fs::path conf = program.dir() / "sip.conf";
        const std::string proxy = "127.0.0.1:" + std::to_string(providerPort);
        const auto rtp = 20000 + std::random_device()() % 40000;
        std::ofstream(conf) << "user = " << kPc.number << "\npassword = " << kPc.password
                            << "\nlisten = 127.0.0.1\nport = " << freeUdpPort()
                            << "\nregistrar = " << proxy << "\noutbound_proxy = " << proxy
                            << "\nrtp_ports = " << rtp << "-" << rtp + 20 << "\n";
        fs::permissions(conf, fs::perms::owner_read | fs::perms::owner_write);
        sip = spawn({program.dir() / "tellmaro-sip", "--config", conf, "--port",
                     std::to_string(capiPort), "--verbose"},
                    "tellmaro-sip.out");
        if (!sip->waitForOutput(" as a CAPI controller on ", 20s)) {
            return "tellmaro-sip did not start";
        }
        relay = spawn({program.dir() / "tellmaro-console"}, "console.out");
        return relay->waitForOutput("Tellmaro ist betriebsbereit", 30s)
                   ? ""
                   : "tellmaro-console did not get ready";
    }
    // Both stop as a user stops them; their exit codes.
    std::pair<int, int> stopPrograms() {
        auto stop = [](auto& process) {
            return process && process->running() ? process->stop(SIGTERM) : -2;
        };
        int consoleExit = stop(relay);
        return {consoleExit, stop(sip)};
    }
    // The cause on each of tellmaro-sip's call lines, in order.
    std::vector<int> causes() const {
        static const std::regex line(R"(\n\d\d:\d\d:\d\d call \d+ [^\n]*; ended: cause (\d+))");
        std::vector<int> found;
        const auto out = sip->output();
        for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
            found.push_back(std::stoi((*it)[1]));
        }
        return found;
    }

    fs::path dir = freshFolder("tellmaro-sip-");
    ProgramDirectory program{TELLMARO_PROGRAM_DIR};
    uint16_t capiPort = freeUdpPort(), providerPort = freeUdpPort(), gatewayPort = freeUdpPort();
    std::unique_ptr<ChildProcess> provider, sip, relay;
};

// The analysis window's verdict on the controller tellmaro-sip serves: one
// controller, two B channels, DTMF: the green light. Its remote-CAPI port
// listens on the loopback only, as no --listen said otherwise.
void expectGreenLightOnTheLoopbackOnly(uint16_t capiPort) {
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
    std::snprintf(loopback, sizeof loopback, "0100007F:%04X 00000000:0000 0A", capiPort);
    std::snprintf(anywhere, sizeof anywhere, "00000000:%04X", capiPort);
    const std::string sockets = readFile("/proc/net/tcp") + readFile("/proc/net/tcp6");
    EXPECT_NE(sockets.find(loopback), std::string::npos) << sockets;
    EXPECT_EQ(sockets.find(anywhere), std::string::npos) << sockets;
}

// The mobile rings and hangs up, the relay calls it back. It dials a party of
// the other network behind the provider (SIPp) by speed dial 43: busy (486),
// then ringing until the mobile cancels with '*'; then Alice by 42, whose
// hanging up ends the mobile's call too. Then the relay is idle again, both
// programs exit 0, and the password shows nowhere.
TEST(RelayOnSip, CallBackBusyCancelAndTotalDisconnect) {
    for (const char* program : {"/usr/sbin/kamailio", "/usr/bin/baresip", kSipp}) {
        if (access(program, X_OK) != 0) {
            GTEST_SKIP() << program << " is not installed (scripts/build installs it)";
        }
    }
    Chain c;
    c.console({"phonebook", "add", "43", "0899999", "Bob"});
    c.console({"set", "mode=call-back", "disconnect=total"});
    const std::string failure = c.start();
    ASSERT_EQ(failure, "") << c.dir;
    expectGreenLightOnTheLoopbackOnly(c.capiPort);
    Baresip mobile(c.dir / "mobile", kMobile, c.providerPort),
        alice(c.dir / "alice", kAlice, c.providerPort);
    ASSERT_TRUE(mobile.registered() && alice.registered()) << c.dir;

    mobile.command("dial", "sip:" + kPc.number + "@127.0.0.1:" + std::to_string(c.providerPort));
    ASSERT_TRUE(mobile.event("CALL_RINGING")) << c.dir;
    std::this_thread::sleep_for(1s);
    mobile.command("hangup");
    ASSERT_TRUE(mobile.event("CALL_ESTABLISHED")) << c.dir;
    std::this_thread::sleep_for(1500ms);
    for (const std::string mode : {"busy", "ring"}) {
        Sipp bob(c.dir, "bob-" + mode, "sip/callee_answer.xml", c.gatewayPort,
                 {{"rtp_port", std::to_string(freeUdpPort())}}, {"-m", "1", "-set", "mode", mode});
        mobile.keys("#");  // the greeting confirmed
        mobile.keys("43#");
        if (mode == "ring") {
            ASSERT_TRUE(waitUntil([&] { return bob.count("INVITE sip:") > 0; }, 15s)) << c.dir;
            std::this_thread::sleep_for(1s);
            mobile.keys("*");
        }
        EXPECT_EQ(bob.finish(40s), 0) << bob.messages();
        std::this_thread::sleep_for(2s);
    }
    mobile.keys("#");
    mobile.keys("42#");
    ASSERT_TRUE(alice.event("CALL_ESTABLISHED")) << c.dir;
    std::this_thread::sleep_for(2s);
    alice.command("hangup");
    ASSERT_TRUE(mobile.event("CALL_CLOSED", 2)) << c.dir;

    // Idle again: the tray green, every call's line written.
    EXPECT_TRUE(waitUntil(
        [&] { return c.relay->output().ends_with("Tellmaro ist betriebsbereit\"\n"); }, 15s));
    EXPECT_TRUE(waitUntil([&] { return c.causes().size() >= 5; }, 15s));
    std::this_thread::sleep_for(1s);  // the relay's last answers to the line
    auto [consoleExit, sipExit] = c.stopPrograms();
    EXPECT_EQ(consoleExit, 0) << c.relay->output();
    EXPECT_EQ(sipExit, 0) << c.sip->output();
    EXPECT_EQ(c.causes(), (std::vector{16, 17, 16, 16, 16}));
    EXPECT_EQ(callLogVerdict("- - - caller=1711234567 time=* - dialled=0899999 unreachable"
                             " - dialled=0899999 cancelled - dialled=0301234567 talk-start=*"
                             " talk-end=* talk=* - end=* length=*",
                             c.program.callLog()),
              "");
    for (const auto& text : {c.sip->output(), c.relay->output(), c.program.callLog()}) {
        EXPECT_EQ(text.find(kPc.password), std::string::npos) << "the password shows";
    }
    if (HasFailure()) {
        ADD_FAILURE() << "outputs in " << c.dir.string() << "; call log:\n" << c.program.callLog();
    } else {
        fs::remove_all(c.dir);
    }
}

}  // namespace
}  // namespace tellmaro::test
