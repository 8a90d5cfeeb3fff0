// Tellmaro on a SIP account, end to end: the real tellmaro-sip and the real
// tellmaro-console (through libcapi20, configured in a private HOME with
// its own commands), SIPp as the registrar, and two far ends of our own.
// The mobile calls tellmaro-sip, keys 0302222# as RFC 4733 events, the
// relay dials the called party, and both then send numbered 20 ms frames
// through tellmaro-sip, the relay and tellmaro-sip again for MINUTES.
// Prints one table: the delay from a frame in to its first byte out against
// the floor (one 2048-byte block plus one 20 ms frame), the pace and
// continuity of what each side hears, the CPU of both programs during the
// call and idle, and their resident memory. Figures only: nothing here
// fails because a machine is slow.
//   sip_relay_chain [--minutes MINUTES] [--idle SECONDS] [--keep]
// (default: 1 minute; idle 30 s, or a tenth of the call when that is longer).
// --keep keeps the programs' output and files, whose folder it names.

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cpu_time.h"
#include "mini_sip.h"
#include "numbered_rtp.h"
#include "sip/sip_peer.h"
#include "support/simulator_process.h"

using namespace std::chrono_literals;
using tellmaro::bench::FoundFrame;
using tellmaro::bench::HeardPacket;
using tellmaro::bench::RtpClock;
using tellmaro::bench::RtpPeer;
using tellmaro::test::ChildProcess;
namespace fs = std::filesystem;

namespace {

constexpr const char* kMobile = "01711234567";
constexpr const char* kOwnNumber = "0711555000";
constexpr const char* kCalled = "0302222";
constexpr const char* kPassword = "s3cret#1";
// Frames heard within this time of the called party's answer, or within a
// second of the hang-up, are not steady state.
constexpr auto kSettle = 5s;
constexpr double kFloorMs = 256.0 + 20.0;

double ms(RtpClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

void writeFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<long> statusField(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::atol(line.c_str() + key.size() + 1);
        }
    }
    return std::nullopt;
}

// CPU seconds of the measured processes over a stretch of wall time.
struct CpuWindow {
    std::vector<pid_t> pids;
    std::vector<double> start;
    RtpClock::time_point began{};

    void open() {
        start.clear();
        for (pid_t pid : pids) {
            start.push_back(tellmaro::bench::processCpuSeconds(pid).value_or(0));
        }
        began = RtpClock::now();
    }
    // Percent of a core for each process since open().
    std::vector<double> close() const {
        double seconds = std::chrono::duration<double>(RtpClock::now() - began).count();
        std::vector<double> percent;
        for (size_t i = 0; i < pids.size(); ++i) {
            double used = tellmaro::bench::processCpuSeconds(pids[i]).value_or(0) - start[i];
            percent.push_back(100.0 * used / seconds);
        }
        return percent;
    }
};

// What one side heard of the other's numbered frames while the call was steady.
struct Direction {
    std::string name;
    size_t frames = 0;
    std::vector<double> delays;
    std::vector<double> pace;
    int silenceInserted = 0;  // more bytes between two frames than their numbers allow
    int bytesDropped = 0;     // fewer
    int framesMissing = 0;
    int outOfOrder = 0;
    int timestampJumps = 0;  // RTP packets heard whose timestamp is not the last one + 160
    int sequenceGaps = 0;
};

Direction analyse(const std::string& name, RtpPeer& sender, RtpPeer& receiver,
                  RtpClock::time_point from, RtpClock::time_point to) {
    Direction result;
    result.name = name;
    const auto& sentAt = sender.frameSentTimes();
    auto packets = receiver.heard();
    const HeardPacket* last = nullptr;
    for (const auto& packet : packets) {
        if (packet.payloadType != tellmaro::bench::kPcmaType || packet.at < from ||
            packet.at > to) {
            continue;
        }
        if (last && last->ssrc == packet.ssrc) {
            result.pace.push_back(ms(packet.at - last->at));
            if (static_cast<uint16_t>(packet.sequence - last->sequence) != 1) {
                ++result.sequenceGaps;
            } else if (packet.timestamp - last->timestamp != tellmaro::bench::kFrameBytes) {
                ++result.timestampJumps;
            }
        }
        last = &packet;
    }
    const FoundFrame* previous = nullptr;
    for (const auto& frame : tellmaro::bench::findFrames(packets)) {
        if (frame.at < from || frame.at > to || frame.number >= sentAt.size()) {
            continue;
        }
        ++result.frames;
        result.delays.push_back(ms(frame.at - sentAt[frame.number]));
        if (previous) {
            if (frame.number <= previous->number) {
                ++result.outOfOrder;
            } else {
                size_t expected = (frame.number - previous->number) * tellmaro::bench::kFrameBytes;
                size_t distance = frame.offset - previous->offset;
                result.framesMissing += static_cast<int>(frame.number - previous->number - 1);
                result.silenceInserted += distance > expected ? 1 : 0;
                result.bytesDropped += distance < expected ? 1 : 0;
            }
        }
        previous = &frame;
    }
    return result;
}

// tellmaro-sip's own figures for each call, from its "call N ended" lines,
// by who the call was with.
std::map<std::string, std::string> callEndings(const std::string& log) {
    std::smatch out;
    std::string outgoing = std::regex_search(log, out, std::regex(R"(call (\d+) out to)"))
                               ? out[1].str()
                               : std::string();
    std::map<std::string, std::string> endings;
    std::regex ended(R"(call (\d+) ended: ([^\n]*))");
    for (std::sregex_iterator it(log.begin(), log.end(), ended), end; it != end; ++it) {
        endings[(*it)[1] == outgoing ? "the called party's call" : "the mobile's call"] = (*it)[2];
    }
    return endings;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = RtpClock::now() + timeout;
    while (!done()) {
        if (RtpClock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string figure(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void row(const std::string& what, const std::string& value, const std::string& target = "") {
    std::printf("| %s | %s | %s |\n", what.c_str(), value.c_str(), target.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 1;
    int idleSeconds = 0;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--minutes" && i + 1 < argc) {
            minutes = std::max(0.25, std::atof(argv[++i]));
        } else if (option == "--idle" && i + 1 < argc) {
            idleSeconds = std::max(5, std::atoi(argv[++i]));
        } else if (option == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: sip_relay_chain [--minutes MINUTES] [--idle SECONDS] [--keep]\n");
            return 2;
        }
    }
    if (idleSeconds == 0) {
        idleSeconds = std::max(30, static_cast<int>(minutes * 6));
    }
    if (!tellmaro::test::haveSipp()) {
        std::printf("skipped: SIPp (package sip-tester) is not installed\n");
        return 0;
    }
    const fs::path program = TELLMARO_PROGRAM_DIR;
    if (fs::exists(program / "tellmaro.ini")) {
        std::fprintf(stderr,
                     "%s holds a tellmaro.ini, which the console would use instead of "
                     "the private HOME: remove it first\n",
                     program.c_str());
        return 1;
    }

    // A private HOME: .capi20rc, ~/.config/tellmaro with sip.conf and the
    // relay's settings. Every program started from here inherits it.
    // A folder of its own name: the SIP tests' scratch folders are cleared
    // from outside now and then.
    std::string pattern = (fs::temp_directory_path() / "tellmaro-relay-chain.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot make a folder in %s\n", fs::temp_directory_path().c_str());
        return 1;
    }
    const fs::path dir = pattern;
    const fs::path home = dir / "home";
    const fs::path config = home / ".config" / "tellmaro";
    fs::create_directories(config);
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");

    RtpPeer mobileAudio;
    RtpPeer calledAudio;
    tellmaro::bench::SipCallee called(calledAudio.port(), 1s);
    const uint16_t capiPort = tellmaro::test::freeUdpPort();
    const uint16_t registrarPort = tellmaro::test::freeUdpPort();
    std::random_device random;
    const unsigned rtpLow = 20000 + random() % 40000;

    tellmaro::test::useRemoteCapi(home, capiPort);
    // Calls out go to the domain: the called party's address.
    writeFile(config / "sip.conf",
              "registrar = 127.0.0.1:" + std::to_string(registrarPort) +
                  "\ndomain = 127.0.0.1:" + std::to_string(called.port()) +
                  "\nuser = " + kOwnNumber + "\npassword = " + kPassword +
                  "\nlisten = 127.0.0.1\nport = 0\nrtp_ports = " + std::to_string(rtpLow) + "-" +
                  std::to_string(rtpLow + 40) + "\n");
    chmod((config / "sip.conf").c_str(), 0600);
    const std::string console = (program / "tellmaro-console").string();
    int configured =
        ChildProcess({console, "set", "own-number=" + std::string(kOwnNumber),
                      "mobile=" + std::string(kMobile), "confirm-key=#", "disconnect=one-sided",
                      "mode=direct", "line-access=off", "log=on"},
                     (dir / "set.out").string())
            .wait();
    if (configured != 0) {
        std::fprintf(stderr, "tellmaro-console set failed:\n%s\n",
                     readFile(dir / "set.out").c_str());
        return 1;
    }

    ChildProcess registrar(
        {tellmaro::test::kSipp, "-sf", tellmaro::test::scenario("registrar.xml"), "-i", "127.0.0.1",
         "-p", std::to_string(registrarPort), "-mp", std::to_string(tellmaro::test::freeUdpPort()),
         "-nostdin", "-key", "auth_user", kOwnNumber, "-key", "auth_password", kPassword, "-key",
         "grant", "300"},
        "/dev/null");
    std::this_thread::sleep_for(300ms);
    ChildProcess sip({(program / "tellmaro-sip").string(), "--port", std::to_string(capiPort)},
                     (dir / "tellmaro-sip.out").string());
    auto fail = [&](const std::string& what) {
        std::fprintf(stderr, "%s\n== tellmaro-sip\n%s\nFiles in %s\n", what.c_str(),
                     sip.output().c_str(), dir.c_str());
        return 1;
    };
    if (!sip.waitForOutput("registration registered", 20s)) {
        return fail("tellmaro-sip did not register");
    }
    std::smatch match;
    std::string sipOutput = sip.output();
    if (!std::regex_search(sipOutput, match, std::regex(R"(SIP port (\d+))"))) {
        return fail("tellmaro-sip did not name its SIP port");
    }
    const auto sipPort = static_cast<uint16_t>(std::stoi(match[1]));
    ChildProcess relay({console}, (dir / "tellmaro-console.out").string());
    if (!relay.waitForOutput("handygrn", 10s)) {
        return fail("tellmaro-console did not become ready:\n" + relay.output());
    }

    std::printf(
        "tellmaro-sip and tellmaro-console idle for %d s, then a relayed call of %.4g "
        "min ...\n",
        idleSeconds, minutes);
    std::fflush(stdout);
    CpuWindow cpu;
    cpu.pids = {sip.pid(), relay.pid()};
    std::this_thread::sleep_for(2s);
    cpu.open();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    auto idleCpu = cpu.close();
    long sipIdleKb = statusField(sip.pid(), "VmRSS").value_or(0);
    long relayIdleKb = statusField(relay.pid(), "VmRSS").value_or(0);

    // The mobile calls and keys the number while the greeting plays.
    tellmaro::bench::SipCaller mobile(kMobile, kOwnNumber, sipPort, mobileAudio.port());
    mobile.invite();
    if (!waitFor([&] { return mobile.answeredWith() != 0 || mobile.finalStatus() >= 300; }, 20s) ||
        mobile.answeredWith() == 0) {
        return fail("the relay did not answer the mobile (status " +
                    std::to_string(mobile.finalStatus()) + ")\n== tellmaro-console\n" +
                    relay.output());
    }
    mobileAudio.startSending(mobile.answeredWith());
    std::this_thread::sleep_for(1500ms);
    mobileAudio.pressKeys(std::string(kCalled) + "#");
    if (!waitFor([&] { return called.answeredTo() != 0; }, 30s)) {
        return fail("the called party was not reached\n== tellmaro-console\n" + relay.output());
    }
    calledAudio.startSending(called.answeredTo());
    const auto answered = RtpClock::now();

    const auto steadyFrom = answered + kSettle;
    const auto callEnd = answered + std::chrono::milliseconds(static_cast<long>(minutes * 60000));
    const auto steadyTo = callEnd - 1s;
    std::this_thread::sleep_until(steadyFrom);
    cpu.open();
    for (int minute = 1; RtpClock::now() + 60s < steadyTo; ++minute) {
        std::this_thread::sleep_for(60s);
        std::printf("  %d of %.4g minutes\n", minute, minutes);
        std::fflush(stdout);
    }
    std::this_thread::sleep_until(steadyTo);
    auto callCpu = cpu.close();
    long sipCallKb = statusField(sip.pid(), "VmRSS").value_or(0);
    long relayCallKb = statusField(relay.pid(), "VmRSS").value_or(0);
    std::this_thread::sleep_until(callEnd);
    mobile.hangUp();
    bool calledHungUp = waitFor([&] { return called.hungUp(); }, 10s);
    waitFor([&] { return callEndings(sip.output()).size() >= 2; }, 5s);
    mobileAudio.stopSending();
    calledAudio.stopSending();
    long sipPeakKb = statusField(sip.pid(), "VmHWM").value_or(0);
    long relayPeakKb = statusField(relay.pid(), "VmHWM").value_or(0);
    int relayExit = relay.stop();
    int sipExit = sip.stop();
    registrar.stop();

    Direction forth =
        analyse("mobile to called party", mobileAudio, calledAudio, steadyFrom, steadyTo);
    Direction back =
        analyse("called party to mobile", calledAudio, mobileAudio, steadyFrom, steadyTo);
    const double steadySeconds = std::chrono::duration<double>(steadyTo - steadyFrom).count();
    std::string uri = called.requestUri();

    std::printf(
        "\nThrough tellmaro-sip, tellmaro-console (libcapi20) and tellmaro-sip again; "
        "steady state %.0f s of a %.4g-minute call\n\n",
        steadySeconds, minutes);
    std::printf("| What | Figure | Target |\n|---|---|---|\n");
    row("INVITE for the keys " + std::string(kCalled) + "#", uri.substr(0, uri.find(" SIP/")));
    for (const Direction* d : {&forth, &back}) {
        row(d->name + ": frames heard",
            std::to_string(d->frames) + " of " + figure("%.0f", steadySeconds * 50));
        row(d->name + ": frame in to its first byte out",
            figure("p50 %.1f ms", percentile(d->delays, 0.5)) +
                figure(", p99 %.1f", percentile(d->delays, 0.99)) +
                figure(", max %.1f", percentile(d->delays, 1.0)) +
                figure(" (p99 %+.1f ms above the floor of 276 ms)",
                       percentile(d->delays, 0.99) - kFloorMs),
            "p99 within 40 ms of the floor");
        row(d->name + ": pace heard",
            figure("p1 %.2f ms", percentile(d->pace, 0.01)) +
                figure(", p50 %.2f", percentile(d->pace, 0.5)) +
                figure(", p99 %.2f", percentile(d->pace, 0.99)) +
                figure(", max %.2f", percentile(d->pace, 1.0)),
            "20 ms");
        row(d->name + ": timestamp gaps, sequence gaps",
            std::to_string(d->timestampJumps) + ", " + std::to_string(d->sequenceGaps), "0");
        row(d->name +
                ": underruns (silence between frames), bytes dropped, frames missing, "
                "out of order",
            std::to_string(d->silenceInserted) + ", " + std::to_string(d->bytesDropped) + ", " +
                std::to_string(d->framesMissing) + ", " + std::to_string(d->outOfOrder),
            "0");
    }
    for (const auto& [call, ending] : callEndings(sip.output())) {
        row("tellmaro-sip's own count for " + call + ", all of it (greeting and keys too)", ending);
    }
    row("CPU during the call: tellmaro-sip, tellmaro-console, both",
        figure("%.2f %%", callCpu[0]) + figure(", %.2f %%", callCpu[1]) +
            figure(", %.2f %% of a core", callCpu[0] + callCpu[1]),
        "below 2 %");
    row("CPU idle (registered, listening): tellmaro-sip, tellmaro-console",
        figure("%.2f %%", idleCpu[0]) + figure(", %.2f %% of a core", idleCpu[1]), "below 0.5 %");
    row("resident memory idle, during the call, peak: tellmaro-sip",
        std::to_string(sipIdleKb) + ", " + std::to_string(sipCallKb) + ", " +
            std::to_string(sipPeakKb) + " kB");
    row("resident memory idle, during the call, peak: tellmaro-console",
        std::to_string(relayIdleKb) + ", " + std::to_string(relayCallKb) + ", " +
            std::to_string(relayPeakKb) + " kB");
    row("ending", std::string(calledHungUp ? "the called party got BYE"
                                           : "no BYE reached the "
                                             "called party") +
                      "; exit status tellmaro-console " + std::to_string(relayExit) +
                      ", tellmaro-sip " + std::to_string(sipExit));
    if (keep) {
        std::printf("\nThe programs' output and files are in %s\n", dir.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    return 0;
}
