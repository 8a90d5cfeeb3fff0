// The relay's calls on a SIP account, end to end and in real time: each flow
// runs tellmaro-console through libcapi20 on tellmaro-sip, with Kamailio as the
// provider and baresip and SIPp as phones nobody here wrote, then checks the
// call log, the cause of each call, that both programs end idle and exit 0,
// every SIPp party's call, and that the password shows nowhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
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

std::string replaced(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values) {
        text = std::regex_replace(text, std::regex(key), value);
    }
    return text;
}

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
        process = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/baresip", "-f", dir.string(), "-n", "127.0.0.1"},
            (dir / "baresip.out").string());
        waitUntil([this] { return connected(); }, 30s);
    }
    ~Baresip() { close(fd_); }

    void command(const std::string& name, const std::string& params = {}) {
        std::string json =
            "{\"command\":\"" + name + "\",\"params\":\"" + params + "\",\"token\":\"t\"}";
        std::string frame = std::to_string(json.size()) + ":" + json + ",";
        (void)send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    // Whether `count` events of `type` (CALL_ESTABLISHED, CALL_CLOSED, ...) came in time.
    bool waitForEvent(const std::string& type, size_t count) {
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
    std::unique_ptr<ChildProcess> process;

  private:
    bool connected() {
        close(fd_);
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, htons(control_), {htonl(INADDR_LOOPBACK)}, {}};
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    uint16_t control_;
    int fd_ = -1;
    std::string received_;
};

// Everything of one flow: Kamailio with provider.cfg and the three
// subscribers; tellmaro-sip on the PC's account and tellmaro-console on it
// through libcapi20, in a copy of the program folder that is also the data
// folder (sip.conf and the phone book lie side by side); the phones.
struct Chain {
    explicit Chain(const std::vector<std::string>& settings) {
        program.configure();
        std::ofstream(dir / ".capi20rc") << "REMOTE rcapi 127.0.0.1 " << capiPort << "\n";
        setenv("HOME", dir.c_str(), 1);
        fs::create_directories(dir / "provider" / "db");
        std::ofstream(dir / "provider" / "db" / "version")
            << "table_name(str) table_version(int)\nsubscriber:7\nlocation:9\n";
        std::ofstream(dir / "provider" / "db" / "subscriber")
            << "id(int,auto) username(str) domain(str) password(str)\n1:" << kPc.number
            << ":127.0.0.1:" << kPc.password << "\n2:" << kMobile.number
            << ":127.0.0.1:" << kMobile.password << "\n3:" << kAlice.number
            << ":127.0.0.1:" << kAlice.password << "\n";
        std::ofstream(dir / "provider" / "kamailio.cfg")
            << replaced(readFile(TELLMARO_SIP_RELAY_DIR "/provider.cfg"),
                        {{"@PORT@", std::to_string(providerPort)},
                         {"@DB@", (dir / "provider" / "db").string()},
                         {"@GATEWAY@", std::to_string(gatewayPort)}});
        // The user's own commands: a speed-dial code for a number the provider
        // does not know (a SIPp party of the other network), and the settings.
        runConsole({"phonebook", "add", "43", "0899999", "Bob"});
        if (!settings.empty()) {
            std::vector<std::string> set{"set"};
            set.insert(set.end(), settings.begin(), settings.end());
            runConsole(set);
        }
    }
    ~Chain() {
        stopPrograms();
        stopProvider();
    }

    bool fail(const std::string& why) {
        failure = why;
        return false;
    }
    std::unique_ptr<ChildProcess> spawn(std::vector<std::string> argv, const std::string& out) {
        return std::make_unique<ChildProcess>(argv, (dir / out).string());
    }
    // Its main process ends the others.
    bool startProvider() {
        const auto at = dir / "provider";
        provider = spawn({"/usr/sbin/kamailio", "-DD", "-E", "-f", at / "kamailio.cfg", "-Y", at,
                          "-P", at / "kamailio.pid", "-m", "16", "-M", "4"},
                         "kamailio.out");
        return (waitUntil([&] { return waitForUdpPort(providerPort, 0ms); }, 10s) &&
                provider->running()) ||
               fail("the provider did not start");
    }
    void stopProvider() {
        if (provider && provider->running()) {
            provider->stop(SIGTERM);
        }
        waitUntil([this] { return !waitForUdpPort(providerPort, 0ms); }, 5s);
    }
    bool phonesRegistered() {
        for (auto& [name, phone] : phones) {
            // Its log line, since the event may come before the control connection.
            if (!phone->process->waitForOutput("} 200 OK", 30s)) {
                return fail(name + " did not register with the provider");
            }
        }
        return true;
    }
    // tellmaro-sip on sip.conf (chmod 600) with `lines`, tracing SIP and CAPI.
    bool startSip(const std::vector<std::string>& lines) {
        const fs::path conf = program.dir() / "sip.conf";
        std::ofstream out(conf);
        const std::string provider = "127.0.0.1:" + std::to_string(providerPort);
        const auto rtp = 20000 + std::random_device()() % 40000;
        out << "user = " << kPc.number << "\npassword = " << kPc.password
            << "\nlisten = 127.0.0.1\nport = " << sipPort
            << "\nretry_min = 1\nregistrar = " << provider << "\noutbound_proxy = " << provider
            << "\nrtp_ports = " << rtp << "-" << rtp + 20 << "\n";
        for (const auto& line : lines) {
            out << line << "\n";
        }
        out.close();
        fs::permissions(conf, fs::perms::owner_read | fs::perms::owner_write);
        sip = spawn({program.dir() / "tellmaro-sip", "--config", conf, "--port",
                     std::to_string(capiPort), "--verbose"},
                    "tellmaro-sip.out");
        return sip->waitForOutput(" as a CAPI controller on ", 20s) ||
               fail("tellmaro-sip did not start");
    }
    bool startConsole() {
        console = spawn({program.dir() / "tellmaro-console"}, "console.out");
        return console->waitForOutput("Tellmaro ist betriebsbereit", 30s) ||
               fail("tellmaro-console did not get ready");
    }
    // Both stop as a user stops them; their exit codes.
    std::pair<int, int> stopPrograms() {
        auto stop = [](auto& process) {
            return process && process->running() ? process->stop(SIGTERM) : -2;
        };
        int consoleExit = stop(console);
        return {consoleExit, stop(sip)};
    }
    std::string sipOutput() const { return sip ? sip->output() : ""; }
    std::string consoleOutput() const { return console ? console->output() : ""; }

    fs::path dir = scratchDir();
    ProgramDirectory program{TELLMARO_PROGRAM_DIR};
    uint16_t capiPort = freeUdpPort(), providerPort = freeUdpPort(), gatewayPort = freeUdpPort(),
             sipPort = freeUdpPort();
    std::unique_ptr<ChildProcess> provider, sip, console;
    std::map<std::string, std::unique_ptr<Baresip>> phones;
    std::map<std::string, std::unique_ptr<Sipp>> sipps;
    std::string failure;

  private:
    void runConsole(std::vector<std::string> args) {
        args.insert(args.begin(), program.dir() / "tellmaro-console");
        spawn(args, "console-command.out")->wait();
    }
};

// One step of a flow; false stops the flow, with Chain::failure saying why.
using Step = std::function<bool(Chain&)>;

Step act(std::function<void(Chain&)> what) {
    return [what](Chain& c) {
        what(c);
        return true;
    };
}
Step pause(std::chrono::milliseconds time) {
    return act([time](Chain&) { std::this_thread::sleep_for(time); });
}
// A baresip phone calls the PC through the provider.
Step dial(const std::string& phone) {
    return act([phone](Chain& c) {
        c.phones.at(phone)->command(
            "dial", "sip:" + kPc.number + "@127.0.0.1:" + std::to_string(c.providerPort));
    });
}
Step hangUp(const std::string& phone) {
    return act([phone](Chain& c) { c.phones.at(phone)->command("hangup"); });
}
// The phone vanishes: no BYE, no more RTP.
Step vanish(const std::string& phone) {
    return act([phone](Chain& c) { c.phones.at(phone)->process->stop(SIGKILL); });
}
Step providerDown() {
    return act([](Chain& c) { c.stopProvider(); });
}
Step event(const std::string& phone, const std::string& type, size_t count = 1) {
    return [=](Chain& c) {
        return c.phones.at(phone)->waitForEvent(type, count) ||
               c.fail(phone + " saw no " + type + " #" + std::to_string(count));
    };
}
// baresip sends a key as RFC 4733 events of its own pace: about 0.8 s each.
Step keys(const std::string& phone, const std::string& keys) {
    return act([=](Chain& c) {
        for (char key : keys) {
            c.phones.at(phone)->command("sndcode", std::string(1, key));
        }
        std::this_thread::sleep_for(800ms * keys.size());
    });
}
// The mobile confirms with '#', then keys a speed-dial code and '#'.
Step speedDial(const std::string& code) {
    return [code](Chain& c) { return keys("mobile", "#")(c) && keys("mobile", code + "#")(c); };
}
// The mobile calls the PC, the relay answers; Alice answers the call to code 42.
Step mobileIn() {
    return [](Chain& c) {
        return dial("mobile")(c) && event("mobile", "CALL_ESTABLISHED")(c) && pause(1500ms)(c);
    };
}
Step toAlice() {
    return [](Chain& c) { return speedDial("42")(c) && event("alice", "CALL_ESTABLISHED")(c); };
}
// Waits for tellmaro-sip's output to match `pattern` `count` times.
Step status(const std::string& pattern, long count = 1) {
    return [=](Chain& c) {
        const std::regex wanted(pattern);
        return waitUntil(
                   [&] {
                       auto out = c.sipOutput();
                       return std::distance(std::sregex_iterator(out.begin(), out.end(), wanted),
                                            std::sregex_iterator()) >= count;
                   },
                   20s) ||
               c.fail("tellmaro-sip never said \"" + pattern + "\" " + std::to_string(count) + "x");
    };
}
Step providerUp() {
    return [](Chain& c) {
        return c.startProvider() && c.phonesRegistered() && status("registration registered")(c);
    };
}

// A SIPp party: "gateway" (the other network behind the provider),
// "provider" (calls the PC through it) or "pc" (calls the PC's SIP port straight).
Step sipp(const std::string& name, const std::string& scenario, const std::string& role,
          std::vector<std::string> extra) {
    return [=](Chain& c) mutable {
        const bool gateway = role == "gateway";
        if (!gateway) {
            const uint16_t to = role == "pc" ? c.sipPort : c.providerPort;
            extra.insert(extra.begin(), "127.0.0.1:" + std::to_string(to));
        }
        if (std::find(extra.begin(), extra.end(), "-m") == extra.end()) {
            extra.insert(extra.end(), {"-m", "1"});
        }
        c.sipps[name] =
            std::make_unique<Sipp>(c.dir, name, scenario, gateway ? c.gatewayPort : freeUdpPort(),
                                   std::vector<std::pair<std::string, std::string>>{}, extra);
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
// A SIPp party of the other network behind the provider, in callee_answer.xml's `mode`.
Step callee(const std::string& mode) {
    return sipp("bob", "sip/callee_answer.xml", "gateway",
                {"-key", "rtp_port", std::to_string(freeUdpPort()), "-set", "mode", mode});
}

// SIPp as the mobile through the provider: keys #43# by RFC 4733 and INFO,
// then plays its PCMA capture with every ninth packet lost and the rest sent
// up to 40 ms late, some overtaken.
Step lossySippMobile() {
    return [](Chain& c) {
        auto packets = captureRecords();
        std::string out = readFile("/usr/share/sip-tester/g711a.pcap").substr(0, 24);
        std::mt19937 random(4711);
        for (size_t i = 0; i < packets.size(); ++i) {
            uint32_t micros = 0;  // the record's time: seconds, then microseconds
            std::memcpy(&micros, packets[i].data() + 4, 4);
            micros = std::min<uint32_t>(micros + random() % 40000, 999999);
            std::memcpy(packets[i].data() + 4, &micros, 4);
            if (i % 7 == 3 && i + 1 < packets.size()) {
                std::swap(packets[i], packets[i + 1]);
            }
            out += i % 9 == 4 ? "" : packets[i];
        }
        std::ofstream(c.dir / "talk.pcap", std::ios::binary) << out;
        auto rows = callerRows(c.dir, "mobile",
                               {"<sip:" + kMobile.number + "@127.0.0.1>;" + kPc.number +
                                ";X-No-Digest: yes;X-B: ;8 101"});
        return sipp("mobile", "sip/caller.xml", "provider",
                    {"-inf", rows, "-set", "mode", "talk"})(c);
    };
}

struct Flow {
    std::string name = {};
    std::vector<std::string> settings = {};  // tellmaro-console set ...
    std::vector<std::string> phones = {};    // baresip phones: "mobile", "alice"
    std::vector<Step> steps = {};
    std::string callLog = {};      // as an "expect log" statement's words
    std::vector<int> causes = {};  // of tellmaro-sip's call lines, in order
    bool providerFirst = true;     // the provider runs before tellmaro-sip starts
    bool playsCaptures = false;    // SIPp plays RTP captures, which it does only for root
    std::vector<std::string> sipConf = {};
};

// The registered mobile's log entry as words of an "expect log" statement.
const std::string kCallIn = "- - - caller=1711234567 time=*";
std::string talkTo(const std::string& number) {
    return " - dialled=" + number + " talk-start=* talk-end=* talk=*";
}
const std::string kEnd = " - end=* length=*";

const std::vector<Flow>& flows() {
    static const std::vector<Flow> table = {
        {.name = "DirectAnswerSpeedDialOneSidedBusyCancel",
         .phones = {"mobile", "alice"},
         .steps = {mobileIn(), toAlice(), pause(3s), hangUp("alice"), status("call 2 out.*ended"),
                   pause(1500ms), callee("busy"), speedDial("43"), sippDone("bob"), pause(2s),
                   callee("ring"), speedDial("43"), sippSaw("bob", "INVITE sip:"), pause(1s),
                   keys("mobile", "*"), sippDone("bob"), pause(1s), hangUp("mobile")},
         .callLog = kCallIn + talkTo("0301234567") + " - dialled=0899999 unreachable" +
                    " - dialled=0899999 cancelled" + kEnd,
         .causes = {16, 17, 16, 16}},

        {.name = "CallBackTotalDisconnect",
         .settings = {"mode=call-back", "disconnect=total"},
         .phones = {"mobile", "alice"},
         .steps = {dial("mobile"), event("mobile", "CALL_RINGING"), pause(1s), hangUp("mobile"),
                   event("mobile", "CALL_ESTABLISHED"), pause(1500ms), toAlice(), pause(2s),
                   hangUp("alice"), event("mobile", "CALL_CLOSED", 2)},
         .callLog = kCallIn + talkTo("0301234567") + kEnd,
         .causes = {16, 16, 16}},

        // SIPp as the mobile on a lossy line hangs up; the PC hangs up the called party.
        {.name = "SippMobileKeysOnALossyLine",
         .steps = {callee("answer"), lossySippMobile(), sippDone("mobile"), sippDone("bob"),
                   status("call 1 in .*, [1-9]\\d* lost")},
         .callLog = kCallIn + talkTo("0899999") + kEnd,
         .causes = {16, 16},
         .playsCaptures = true},

        // Callers with odd headers and SDP straight to the PC's port; one from
        // an address that is neither registrar nor proxy.
        {.name = "OddCallersAndAStranger",
         .steps = {sipp("odd", "sip/caller.xml", "pc",
                        {"-inf", TELLMARO_SIP_RELAY_DIR "/odd_callers.csv", "-m", "4", "-l", "1"}),
                   sippDone("odd"),
                   sipp("stranger", "sip/caller.xml", "pc",
                        {"-inf", TELLMARO_SIP_RELAY_DIR "/stranger.csv", "-i", "127.0.0.2"}),
                   sippDone("stranger"), status("refused with 403")},
         .callLog = "caller= time=* refused - - - caller=30999888 time=* refused " + kCallIn + kEnd,
         .causes = {21, 21, 16}},

        // The provider comes up only after the PC and the phones; during the
        // conversation it goes down, then Alice's phone vanishes and the
        // mobile's BYE is lost: RTP timeouts end both legs.
        {.name = "ProviderDownAtStartAndMidCallPeersVanish",
         .phones = {"mobile", "alice"},
         .steps = {pause(2s), providerUp(), mobileIn(), toAlice(), pause(2s), providerDown(),
                   vanish("alice"), status("no RTP for 3 s"), pause(2s), hangUp("mobile"),
                   status("no RTP for 3 s", 2)},
         .callLog = kCallIn + talkTo("0301234567") + kEnd,
         .causes = {41, 41},
         .providerFirst = false,
         .sipConf = {"rtp_timeout = 3"}},
    };
    return table;
}

void PrintTo(const Flow& flow, std::ostream* out) {
    *out << flow.name;
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
    bool ok =
        (!flow.providerFirst || c.startProvider()) && c.startSip(flow.sipConf) && c.startConsole();
    for (const auto& phone : flow.phones) {
        c.phones[phone] = std::make_unique<Baresip>(
            c.dir / phone, phone == "mobile" ? kMobile : kAlice, c.providerPort);
    }
    ok = ok && (!flow.providerFirst || c.phonesRegistered());
    for (const auto& step : flow.steps) {
        ok = ok && step(c);
    }
    // Idle again: the tray green, every call's line written.
    auto causes = [&c] {
        static const std::regex line(R"(\n\d\d:\d\d:\d\d call \d+ [^\n]*; ended: cause (\d+))");
        std::vector<int> found;
        const auto out = c.sipOutput();
        for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
            found.push_back(std::stoi((*it)[1]));
        }
        return found;
    };
    ok = ok &&
         (waitUntil([&] { return c.consoleOutput().ends_with("Tellmaro ist betriebsbereit\"\n"); },
                    15s) ||
          c.fail("the relay did not get ready again")) &&
         (waitUntil([&] { return causes().size() >= flow.causes.size(); }, 15s) ||
          c.fail("tellmaro-sip did not end every call"));
    EXPECT_TRUE(ok) << c.failure;
    std::this_thread::sleep_for(1s);  // the relay's last answers to the line

    auto [consoleExit, sipExit] = c.stopPrograms();
    for (auto& [name, party] : c.sipps) {
        EXPECT_EQ(party->finish(std::chrono::seconds(1)), 0) << name << party->process().output();
    }
    const std::string out = c.sipOutput();
    EXPECT_EQ(consoleExit, 0) << c.consoleOutput();
    EXPECT_EQ(sipExit, 0) << out;
    EXPECT_EQ(callLogVerdict(flow.callLog, c.program.callLog()), "");
    EXPECT_EQ(causes(), flow.causes);
    EXPECT_NE(out.find(" serving the SIP account 0711555000@127.0.0.1 as a CAPI "),
              std::string::npos);
    for (const auto& text : {out, c.consoleOutput(), c.program.callLog()}) {
        EXPECT_EQ(text.find(kPc.password), std::string::npos) << "the password shows";
    }
    if (HasFailure()) {
        ADD_FAILURE() << "outputs in " << c.dir.string() << "; call log:\n" << c.program.callLog();
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
    Chain c({});
    ASSERT_TRUE(c.startSip({})) << c.failure << c.sipOutput();
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
    std::snprintf(loopback, sizeof loopback, "0100007F:%04X 00000000:0000 0A", c.capiPort);
    std::snprintf(anywhere, sizeof anywhere, "00000000:%04X", c.capiPort);
    const std::string sockets = readFile("/proc/net/tcp") + readFile("/proc/net/tcp6");
    EXPECT_NE(sockets.find(loopback), std::string::npos) << sockets;
    EXPECT_EQ(sockets.find(anywhere), std::string::npos) << sockets;
    EXPECT_EQ(c.stopPrograms().second, 0);
    fs::remove_all(c.dir);
}

}  // namespace
}  // namespace tellmaro::test
