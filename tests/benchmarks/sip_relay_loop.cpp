// The SIP line in a relay's place: two calls on one line to SIPp, every
// block heard on leg A handed straight to leg B. A sender plays 20 ms PCMA
// frames into leg A; a receiver catches leg B's frames. Prints the delay
// from a frame in to the same bytes out against the floor (one 2048-byte
// block to fill plus one 20 ms frame), the pace of leg B, and the counters.
//   sip_relay_loop [SECONDS]   (default 20)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "exchange/sip/g711.h"
#include "rtp_catcher.h"
#include "sip/sip_peer.h"

using namespace tellmaro;
using namespace tellmaro::test;

namespace {

// Our RTP port for the call to `number`, from the SDP of our INVITE in SIPp's log.
uint16_t ourRtpPort(const Sipp& sipp, const std::string& number) {
    auto log = sipp.messages();
    auto invite = log.find("INVITE sip:" + number);
    auto media = log.find("m=audio ", invite);
    return invite == std::string::npos || media == std::string::npos
               ? 0
               : static_cast<uint16_t>(std::stoi(log.substr(media + 8)));
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (!haveSipp()) {
        std::printf("skipped: SIPp (package sip-tester) is not installed\n");
        return 0;
    }
    auto dir = scratchDir();
    uint16_t sippPort = freeUdpPort();
    RtpCatcher catcher;
    Sipp callee(dir, "callee", "callee_answer.xml", sippPort,
                {{"rtp_port", std::to_string(catcher.port())}}, {"-m", "2"});
    LineUnderTest line(LineUnderTest::account(sippPort));
    line.start();
    auto legA = line.line().dial("0301111");
    auto legB = line.line().dial("0302222");
    for (int i = 0; i < 2; ++i) {
        if (!line.waitFor<sip::Answered>()) {
            std::printf("the calls were not answered:\n%s\n", line.logText().c_str());
            return 1;
        }
    }
    uint16_t portA = ourRtpPort(callee, "0301111");
    uint16_t portB = ourRtpPort(callee, "0302222");

    // The far end of leg A: frames whose first two bytes carry their number.
    const int frames = seconds * 50;
    std::vector<Clock::time_point> sentAt(static_cast<size_t>(frames));
    std::thread sender([&] {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(portA);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto next = Clock::now();
        for (int k = 0; k < frames; ++k) {
            uint8_t packet[12 + 160] = {0x80, 8};
            packet[2] = static_cast<uint8_t>(k >> 8);
            packet[3] = static_cast<uint8_t>(k);
            uint32_t ts = static_cast<uint32_t>(k) * 160;
            for (int i = 0; i < 4; ++i) {
                packet[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
            }
            packet[11] = 0x17;
            std::fill(packet + 12, packet + sizeof packet, 0x55);
            packet[12] = static_cast<uint8_t>(0x10 + (k & 0x3F));
            packet[13] = static_cast<uint8_t>(0x10 + ((k >> 6) & 0x3F));
            std::this_thread::sleep_until(next);
            sentAt[static_cast<size_t>(k)] = Clock::now();
            sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            next += std::chrono::milliseconds(20);
        }
        close(fd);
    });
    // The relay: leg A's blocks to leg B as they come.
    auto end = Clock::now() + std::chrono::seconds(seconds) + std::chrono::milliseconds(600);
    while (Clock::now() < end) {
        if (auto block = line.waitFor<sip::AudioBlock>(
                [&](const sip::AudioBlock& b) { return b.id == legA; },
                std::chrono::milliseconds(100))) {
            line.line().sendBlock(legB, block->bytes);
        }
    }
    sender.join();
    line.line().hangUp(legA);
    line.line().hangUp(legB);
    sip::AudioCounters countersA;
    sip::AudioCounters countersB;
    for (int i = 0; i < 2; ++i) {
        if (auto ended = line.waitFor<sip::Ended>()) {
            (ended->id == legA ? countersA : countersB) = ended->audio;
        }
    }
    callee.finish();

    // Leg B's audible bytes in order; frame k's number sits at k * 160.
    std::vector<uint8_t> heard;
    std::vector<Clock::time_point> heardAt;
    std::vector<double> pace;
    Clock::time_point last{};
    for (const auto& packet : catcher.packets()) {
        if (packet.sourcePort != portB) {
            continue;
        }
        if (last != Clock::time_point{}) {
            pace.push_back(std::chrono::duration<double, std::milli>(packet.at - last).count());
        }
        last = packet.at;
        for (uint8_t byte : packet.payload) {
            if (byte != sip::kRtpAlawSilence) {
                heard.push_back(byte);
                heardAt.push_back(packet.at);
            }
        }
    }
    std::vector<double> delays;
    int misplaced = 0;
    for (int k = 0; k < frames; ++k) {
        size_t at = static_cast<size_t>(k) * 160;
        if (at + 1 >= heard.size()) {
            break;
        }
        if (heard[at] != 0x10 + (k & 0x3F) || heard[at + 1] != 0x10 + ((k >> 6) & 0x3F)) {
            ++misplaced;
            continue;
        }
        delays.push_back(
            std::chrono::duration<double, std::milli>(heardAt[at] - sentAt[static_cast<size_t>(k)])
                .count());
    }
    if (delays.empty() || pace.empty()) {
        std::printf("no relayed audio came out:\n%s\n", line.logText().c_str());
        return 1;
    }
    const double floor = 256.0 + 20.0;
    std::printf("relayed %zu of %d frames (%d misplaced) through one SIP line\n", delays.size(),
                frames, misplaced);
    std::printf(
        "frame in to frame out: p50 %.1f  p99 %.1f  max %.1f ms (floor %.0f ms: p99 %+.1f)\n",
        percentile(delays, 0.5), percentile(delays, 0.99), percentile(delays, 1.0), floor,
        percentile(delays, 0.99) - floor);
    std::printf("leg B pace: p1 %.2f  p50 %.2f  p99 %.2f  max %.2f ms\n", percentile(pace, 0.01),
                percentile(pace, 0.5), percentile(pace, 0.99), percentile(pace, 1.0));
    std::printf(
        "leg A: %llu frames in, %llu gaps, %llu lost, %llu late; leg B: %llu frames out, "
        "%llu underruns, %llu bytes dropped\n",
        static_cast<unsigned long long>(countersA.framesReceived),
        static_cast<unsigned long long>(countersA.timestampGaps),
        static_cast<unsigned long long>(countersA.lostPackets),
        static_cast<unsigned long long>(countersA.latePackets),
        static_cast<unsigned long long>(countersB.framesSent),
        static_cast<unsigned long long>(countersB.underruns),
        static_cast<unsigned long long>(countersB.bytesDropped));
    return 0;
}
