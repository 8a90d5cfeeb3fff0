// Tellmaro on a SIP account, end to end: the real tellmaro-sip and the real
// tellmaro-console (through libcapi20, configured in a private HOME with
// its own commands), SIPp as the registrar, and two far ends of our own.
// The mobile calls tellmaro-sip, keys 0302222# as RFC 4733 events, the
// relay dials the called party, and both then send numbered 20 ms frames
// through tellmaro-sip, the relay and tellmaro-sip again for MINUTES; then
// the called party hangs up, and the mobile, left connected (one-sided
// disconnect), hears the relay's prompt for a few seconds before it hangs up.
// The call runs twice, tellmaro-sip started with `direct_bridge = no` (every
// frame through the relay's 2048-byte blocks) and with `yes` (frames of one
// leg forwarded to the other at once while the relay only repeats them), and
// one table shows both side by side: the delay from a frame in to its first
// byte out, the pace and continuity of what each side hears, the time from
// the answer to the first bridged frame, what the mobile hears as the call
// falls back to the prompt, the CPU of both programs during the call and
// idle, and their resident memory. Figures only: nothing here fails because
// a machine is slow.
//   sip_relay_chain [--minutes MINUTES] [--idle SECONDS] [--bridge no|yes] [--keep]
// (default: 1 minute a mode; idle 30 s, or a tenth of the call when that is
// longer, measured once before the first call; --bridge runs one mode only).
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
#include "exchange/sip/g711.h"
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
// A frame this much faster than one block (256 ms) did not wait for one.
constexpr double kBridgedMs = 100;
// How long the mobile listens to the prompt after the called party hung up.
constexpr auto kPromptHeard = 3s;

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

// tellmaro-sip's own figures for each call, from the line it logs as the
// call ends, by who the call was with.
std::map<std::string, std::string> callEndings(const std::string& log) {
    std::map<std::string, std::string> endings;
    std::regex ended(R"(call \d+ (in|out) [^\n]*; ended: ([^\n]*))");
    for (std::sregex_iterator it(log.begin(), log.end(), ended), end; it != end; ++it) {
        endings[(*it)[1] == "out" ? "the called party's call" : "the mobile's call"] = (*it)[2];
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

// The frames of one side heard by the other from the answer on: the first
// one whose delay shows it came straight across, not through a block.
std::optional<double> firstBridgedFrame(RtpPeer& sender, RtpPeer& receiver,
                                        RtpClock::time_point answered) {
    const auto& sentAt = sender.frameSentTimes();
    for (const auto& frame : tellmaro::bench::findFrames(receiver.heard())) {
        if (frame.at >= answered && frame.number < sentAt.size() &&
            ms(frame.at - sentAt[frame.number]) < kBridgedMs) {
            return ms(frame.at - answered) / 1000;
        }
    }
    return std::nullopt;
}

// What the mobile heard as the called party hung up and the relay's prompt
// took over.
struct FallBack {
    int repeated = 0;         // numbered frames heard again, all of the call
    long notHeard = 0;        // the called party's last frames never heard
    double lastFrameMs = 0;   // from the hang-up to the last frame's first byte
    double silenceMs = 0;     // from the last frame's end to the next sound
    double otherSeconds = 0;  // sound that is no numbered frame after it: the prompt
};

FallBack fallBack(RtpPeer& called, RtpPeer& mobile, RtpClock::time_point answered,
                  RtpClock::time_point hungUp) {
    FallBack result;
    auto packets = mobile.heard();
    std::vector<uint8_t> bytes;
    for (const auto& packet : packets) {
        if (packet.payloadType == tellmaro::bench::kPcmaType) {
            bytes.insert(bytes.end(), packet.payload.begin(), packet.payload.end());
        }
    }
    const FoundFrame* last = nullptr;
    uint32_t highest = 0;
    auto frames = tellmaro::bench::findFrames(packets);
    for (const auto& frame : frames) {
        if (frame.at < answered) {
            continue;
        }
        result.repeated += last && frame.number <= highest ? 1 : 0;
        highest = std::max(highest, frame.number);
        last = &frame;
    }
    if (!last) {
        return result;
    }
    result.notHeard = static_cast<long>(called.frameSentTimes().size()) - 1 - highest;
    result.lastFrameMs = ms(last->at - hungUp);
    size_t at = last->offset + tellmaro::bench::kFrameBytes;
    // A frame cut short (the rest of its block never came) is no sound of its own.
    size_t sound = at;
    while (sound < bytes.size() && (bytes[sound] == tellmaro::sip::kRtpAlawSilence ||
                                    bytes[sound] == tellmaro::bench::kFrameFill ||
                                    tellmaro::bench::isNumberByte(bytes[sound]))) {
        ++sound;
    }
    result.silenceMs = static_cast<double>(sound - at) / 8;
    result.otherSeconds =
        static_cast<double>(
            std::count_if(bytes.begin() + static_cast<long>(sound), bytes.end(),
                          [](uint8_t byte) { return byte != tellmaro::sip::kRtpAlawSilence; })) /
        8000;
    return result;
}

struct Options {
    double minutes = 1;
    int idleSeconds = 0;
    bool keep = false;
    std::vector<bool> bridge{false, true};
};

// One relayed call with tellmaro-sip in one mode.
struct ModeFigures {
    bool bridge = false;
    double steadySeconds = 0;
    std::string uri;
    // Each by direction: mobile to called party, called party to mobile.
    Direction steady[2], start[2];  // start: from the answer to steady state
    std::optional<double> bridged[2];
    FallBack fallBack;
    std::vector<double> callCpu, idleCpu;  // idle only for the first mode
    long sipKb[3] = {}, relayKb[3] = {};   // idle, during the call, peak
    std::map<std::string, std::string> endings;
    std::string ending;
};

// The programs' files for one mode go to `dir`; HOME is `home`, shared.
std::optional<ModeFigures> runMode(bool bridge, const Options& options, const fs::path& dir,
                                   const fs::path& home, bool measureIdle) {
    const fs::path program = TELLMARO_PROGRAM_DIR;
    const fs::path config = home / ".config" / "tellmaro";
    const std::string mode = bridge ? "yes" : "no";
    ModeFigures result;
    result.bridge = bridge;

    RtpPeer mobileAudio;
    RtpPeer calledAudio;
    tellmaro::bench::SipCallee called(calledAudio.port(), 1s);
    const uint16_t capiPort = tellmaro::test::freeUdpPort();
    const uint16_t registrarPort = tellmaro::test::freeUdpPort();
    std::random_device random;
    const unsigned rtpLow = 20000 + random() % 40000;

    tellmaro::test::useRemoteCapi(home, capiPort);
    // Calls out go to the domain: the called party's address.
    writeFile(config / "sip.conf", "registrar = 127.0.0.1:" + std::to_string(registrarPort) +
                                       "\ndomain = 127.0.0.1:" + std::to_string(called.port()) +
                                       "\nuser = " + kOwnNumber + "\npassword = " + kPassword +
                                       "\nlisten = 127.0.0.1\nport = 0\nrtp_ports = " +
                                       std::to_string(rtpLow) + "-" + std::to_string(rtpLow + 40) +
                                       "\nrealm = tellmaro.test\ndirect_bridge = " + mode + "\n");
    chmod((config / "sip.conf").c_str(), 0600);

    ChildProcess registrar(
        {tellmaro::test::kSipp, "-sf", tellmaro::test::scenario("registrar.xml"), "-i", "127.0.0.1",
         "-p", std::to_string(registrarPort), "-mp", std::to_string(tellmaro::test::freeUdpPort()),
         "-nostdin", "-key", "auth_user", kOwnNumber, "-key", "auth_password", kPassword, "-key",
         "grant", "300"},
        "/dev/null");
    std::this_thread::sleep_for(300ms);
    ChildProcess sip({(program / "tellmaro-sip").string(), "--port", std::to_string(capiPort)},
                     (dir / ("tellmaro-sip." + mode + ".out")).string());
    auto fail = [&](const std::string& what) -> std::optional<ModeFigures> {
        std::fprintf(stderr, "direct_bridge = %s: %s\n== tellmaro-sip\n%s\nFiles in %s\n",
                     mode.c_str(), what.c_str(), sip.output().c_str(), dir.c_str());
        return std::nullopt;
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
    ChildProcess relay({(program / "tellmaro-console").string()},
                       (dir / ("tellmaro-console." + mode + ".out")).string());
    if (!relay.waitForOutput("handygrn", 10s)) {
        return fail("tellmaro-console did not become ready:\n" + relay.output());
    }

    std::printf("direct_bridge = %s: %sa relayed call of %.4g min ...\n", mode.c_str(),
                measureIdle
                    ? ("idle for " + std::to_string(options.idleSeconds) + " s, then ").c_str()
                    : "",
                options.minutes);
    std::fflush(stdout);
    CpuWindow cpu;
    cpu.pids = {sip.pid(), relay.pid()};
    std::this_thread::sleep_for(2s);
    if (measureIdle) {
        cpu.open();
        std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
        result.idleCpu = cpu.close();
    }
    result.sipKb[0] = statusField(sip.pid(), "VmRSS").value_or(0);
    result.relayKb[0] = statusField(relay.pid(), "VmRSS").value_or(0);

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
    const auto answered = called.answeredAt();

    const auto steadyFrom = answered + kSettle;
    const auto callEnd =
        answered + std::chrono::milliseconds(static_cast<long>(options.minutes * 60000));
    const auto steadyTo = callEnd - 1s;
    std::this_thread::sleep_until(steadyFrom);
    cpu.open();
    for (int minute = 1; RtpClock::now() + 60s < steadyTo; ++minute) {
        std::this_thread::sleep_for(60s);
        std::printf("  %d of %.4g minutes\n", minute, options.minutes);
        std::fflush(stdout);
    }
    std::this_thread::sleep_until(steadyTo);
    result.callCpu = cpu.close();
    result.sipKb[1] = statusField(sip.pid(), "VmRSS").value_or(0);
    result.relayKb[1] = statusField(relay.pid(), "VmRSS").value_or(0);

    // The called party hangs up; the mobile stays and hears the prompt.
    std::this_thread::sleep_until(callEnd);
    calledAudio.stopSending();
    called.hangUp();
    const auto hungUp = RtpClock::now();
    std::this_thread::sleep_for(kPromptHeard);
    mobile.hangUp();
    bool mobileEnded = waitFor([&] { return mobile.byeStatus() != 0; }, 10s);
    waitFor([&] { return callEndings(sip.output()).size() >= 2; }, 5s);
    mobileAudio.stopSending();
    result.sipKb[2] = statusField(sip.pid(), "VmHWM").value_or(0);
    result.relayKb[2] = statusField(relay.pid(), "VmHWM").value_or(0);
    int relayExit = relay.stop();
    int sipExit = sip.stop();
    registrar.stop();

    RtpPeer* const ends[2][2] = {{&mobileAudio, &calledAudio}, {&calledAudio, &mobileAudio}};
    for (int d = 0; d < 2; ++d) {
        auto& [from, to] = ends[d];
        result.steady[d] = analyse(d == 0 ? "mobile to called party" : "called party to mobile",
                                   *from, *to, steadyFrom, steadyTo);
        result.start[d] = analyse("", *from, *to, answered, steadyFrom);
        result.bridged[d] = firstBridgedFrame(*from, *to, answered);
    }
    result.fallBack = fallBack(calledAudio, mobileAudio, answered, hungUp);
    result.steadySeconds = std::chrono::duration<double>(steadyTo - steadyFrom).count();
    std::string uri = called.requestUri();
    result.uri = uri.substr(0, uri.find(" SIP/"));
    result.endings = callEndings(sip.output());
    result.ending =
        std::string(mobileEnded ? "the mobile's BYE answered " : "no answer to the mobile's BYE ") +
        std::to_string(mobile.byeStatus()) + "; exit status tellmaro-console " +
        std::to_string(relayExit) + ", tellmaro-sip " + std::to_string(sipExit);
    return result;
}

std::string delays(const Direction& d) {
    return figure("p50 %.1f ms", percentile(d.delays, 0.5)) +
           figure(", p99 %.1f", percentile(d.delays, 0.99)) +
           figure(", max %.1f", percentile(d.delays, 1.0));
}

std::string pace(const Direction& d) {
    return figure("p1 %.2f ms", percentile(d.pace, 0.01)) +
           figure(", p50 %.2f", percentile(d.pace, 0.5)) +
           figure(", p99 %.2f", percentile(d.pace, 0.99)) +
           figure(", max %.2f", percentile(d.pace, 1.0));
}

std::string continuity(const Direction& d) {
    return std::to_string(d.silenceInserted) + ", " + std::to_string(d.bytesDropped) + ", " +
           std::to_string(d.framesMissing) + ", " + std::to_string(d.outOfOrder);
}

std::string seconds(const std::optional<double>& value) {
    return value ? figure("%.2f s", *value) : std::string("none");
}

// One row, a column for each mode run.
void row(const std::vector<ModeFigures>& modes, const std::string& what,
         const std::function<std::string(const ModeFigures&)>& value,
         const std::string& target = "") {
    std::string text = "| " + what + " |";
    for (const auto& mode : modes) {
        text += " " + value(mode) + " |";
    }
    std::printf("%s %s |\n", text.c_str(), target.c_str());
}

void printTable(const std::vector<ModeFigures>& modes, double minutes) {
    std::printf(
        "\nThrough tellmaro-sip, tellmaro-console (libcapi20) and tellmaro-sip again; "
        "steady state %.0f s of a %.4g-minute call in each mode\n\n| What |",
        modes.front().steadySeconds, minutes);
    for (const auto& mode : modes) {
        std::printf(" direct_bridge = %s |", mode.bridge ? "yes" : "no");
    }
    std::printf(" Target |\n|---|");
    for (size_t i = 0; i <= modes.size(); ++i) {
        std::printf("---|");
    }
    std::printf("\n");
    row(modes, "INVITE for the keys " + std::string(kCalled) + "#",
        [](const ModeFigures& m) { return m.uri; });
    for (int d = 0; d < 2; ++d) {
        auto steady = [d](const ModeFigures& m) -> const Direction& { return m.steady[d]; };
        const std::string name = steady(modes.front()).name;
        row(modes, name + ": frames heard", [&](const ModeFigures& m) {
            return std::to_string(steady(m).frames) + " of " + figure("%.0f", m.steadySeconds * 50);
        });
        row(
            modes, name + ": frame in to its first byte out",
            [&](const ModeFigures& m) { return delays(steady(m)); },
            "bridged: p50 under 45 ms, p99 under 60 ms");
        row(
            modes, name + ": pace heard", [&](const ModeFigures& m) { return pace(steady(m)); },
            "20 ms");
        row(
            modes, name + ": timestamp gaps, sequence gaps",
            [&](const ModeFigures& m) {
                return std::to_string(steady(m).timestampJumps) + ", " +
                       std::to_string(steady(m).sequenceGaps);
            },
            "0");
        row(
            modes,
            name +
                ": underruns (silence between frames), bytes dropped, frames missing, "
                "out of order",
            [&](const ModeFigures& m) { return continuity(steady(m)); }, "0");
        row(modes,
            name + ": the same from the answer to steady state (" +
                figure("%.0f s", std::chrono::duration<double>(kSettle).count()) + ")",
            [d](const ModeFigures& m) { return continuity(m.start[d]); });
    }
    row(
        modes,
        "from the called party's answer to the first frame under " + figure("%.0f ms", kBridgedMs) +
            ": mobile to called party, called party to mobile",
        [](const ModeFigures& m) { return seconds(m.bridged[0]) + ", " + seconds(m.bridged[1]); },
        "bridged: within 2 s");
    row(
        modes,
        "the called party hangs up: numbered frames the mobile heard twice (all of the call), "
        "the called party's last frames it never heard",
        [](const ModeFigures& m) {
            return std::to_string(m.fallBack.repeated) + ", " + std::to_string(m.fallBack.notHeard);
        },
        "0 heard twice");
    row(modes,
        "the mobile's last frame heard after the hang-up, silence after it, then other sound "
        "(the prompt) in " +
            figure("%.0f s", std::chrono::duration<double>(kPromptHeard).count()),
        [](const ModeFigures& m) {
            return figure("%.0f ms", m.fallBack.lastFrameMs) +
                   figure(", %.0f ms", m.fallBack.silenceMs) +
                   figure(", %.2f s", m.fallBack.otherSeconds);
        });
    for (const char* call : {"the mobile's call", "the called party's call"}) {
        row(modes,
            "tellmaro-sip's own count for " + std::string(call) +
                ", all of it (greeting, keys and prompt too)",
            [&](const ModeFigures& m) {
                auto found = m.endings.find(call);
                return found == m.endings.end() ? std::string("none") : found->second;
            });
    }
    row(
        modes, "CPU during the call: tellmaro-sip, tellmaro-console, both",
        [](const ModeFigures& m) {
            return figure("%.2f %%", m.callCpu[0]) + figure(", %.2f %%", m.callCpu[1]) +
                   figure(", %.2f %% of a core", m.callCpu[0] + m.callCpu[1]);
        },
        "tellmaro-sip not above 1 %");
    row(
        modes, "CPU idle (registered, listening): tellmaro-sip, tellmaro-console",
        [](const ModeFigures& m) {
            return m.idleCpu.empty() ? std::string("measured once")
                                     : figure("%.2f %%", m.idleCpu[0]) +
                                           figure(", %.2f %% of a core", m.idleCpu[1]);
        },
        "below 0.5 %");
    for (bool sip : {true, false}) {
        row(modes,
            std::string("resident memory idle, during the call, peak: ") +
                (sip ? "tellmaro-sip" : "tellmaro-console"),
            [&](const ModeFigures& m) {
                const long* kb = sip ? m.sipKb : m.relayKb;
                return std::to_string(kb[0]) + ", " + std::to_string(kb[1]) + ", " +
                       std::to_string(kb[2]) + " kB";
            });
    }
    row(modes, "ending", [](const ModeFigures& m) { return m.ending; });
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--minutes" && i + 1 < argc) {
            options.minutes = std::max(0.25, std::atof(argv[++i]));
        } else if (option == "--idle" && i + 1 < argc) {
            options.idleSeconds = std::max(5, std::atoi(argv[++i]));
        } else if (option == "--bridge" && (value == "no" || value == "yes")) {
            options.bridge = {value == "yes"};
            ++i;
        } else if (option == "--keep") {
            options.keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: sip_relay_chain [--minutes MINUTES] [--idle SECONDS] "
                         "[--bridge no|yes] [--keep]\n");
            return 2;
        }
    }
    if (options.idleSeconds == 0) {
        options.idleSeconds = std::max(30, static_cast<int>(options.minutes * 6));
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
    fs::create_directories(home / ".config" / "tellmaro");
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");

    int configured =
        ChildProcess(
            {(program / "tellmaro-console").string(), "set",
             "own-number=" + std::string(kOwnNumber), "mobile=" + std::string(kMobile),
             "confirm-key=#", "disconnect=one-sided", "mode=direct", "line-access=off", "log=on"},
            (dir / "set.out").string())
            .wait();
    if (configured != 0) {
        std::fprintf(stderr, "tellmaro-console set failed:\n%s\n",
                     readFile(dir / "set.out").c_str());
        return 1;
    }

    std::vector<ModeFigures> modes;
    for (bool bridge : options.bridge) {
        auto figures = runMode(bridge, options, dir, home, modes.empty());
        if (!figures) {
            return 1;
        }
        modes.push_back(std::move(*figures));
    }
    printTable(modes, options.minutes);
    if (options.keep) {
        std::printf("\nThe programs' output and files are in %s\n", dir.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    return 0;
}
