// Audio and keys of an answered call from SIPp: the PCMA of g711a.pcap (30 ms
// frames) arrives as CAPI blocks with every byte in place, and DTMF keys sent
// as RFC 4733 events and SIP INFO arrive once each.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "exchange/sip/g711.h"
#include "sip/sip_peer.h"
#include "support/byte_compare.h"

namespace tellmaro::test {
namespace {

// The RTP payloads of a capture, placed by their timestamps from the first
// packet on: what a receiver should have heard.
std::vector<uint8_t> capturedAudio(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint8_t> audio;
    size_t at = 24;  // the global header; Ethernet frames
    bool first = true;
    uint32_t start = 0;
    while (at + 16 <= file.size()) {
        uint32_t length = 0;
        std::memcpy(&length, &file[at + 8], 4);
        const uint8_t* frame = &file[at + 16];
        at += 16 + length;
        size_t ip = 14;
        size_t udp = ip + (frame[ip] & 0x0F) * 4u;
        size_t rtp = udp + 8;
        size_t payload = rtp + 12 + (frame[rtp] & 0x0F) * 4u;
        uint32_t timestamp = (uint32_t(frame[rtp + 4]) << 24) | (uint32_t(frame[rtp + 5]) << 16) |
                             (uint32_t(frame[rtp + 6]) << 8) | frame[rtp + 7];
        if (first) {
            start = timestamp;
            first = false;
        }
        size_t offset = timestamp - start;
        audio.resize(std::max(audio.size(), offset), sip::kRtpAlawSilence);
        audio.resize(offset);
        audio.insert(audio.end(), frame + payload, frame + length);
    }
    return audio;
}

TEST(CallMedia, CapturedAudioArrivesAsCapiBlocksAndKeysOnce) {
    SKIP_WITHOUT_SIPP();
    if (geteuid() != 0) {
        GTEST_SKIP() << "SIPp plays captures only for root";
    }
    auto dir = scratchDir();
    LineUnderTest line(LineUnderTest::account(freeUdpPort()));
    line.start();
    Sipp caller(dir, "caller", "caller_media.xml", freeUdpPort(),
                {{"cg_from", "<sip:0301234@127.0.0.1>"},
                 {"cg_pai", "<sip:0301234@127.0.0.1>"},
                 {"cg_privacy", "none"},
                 {"called", "030555"},
                 {"codecs", "8 101"}},
                {"-m", "1", "127.0.0.1:" + std::to_string(line.line().sipPort())});
    auto call = line.waitFor<sip::IncomingCall>();
    ASSERT_TRUE(call) << line.logText();
    line.line().answer(call->id);
    auto ended = line.waitFor<sip::Ended>({}, std::chrono::seconds(30));
    ASSERT_TRUE(ended) << line.logText();
    EXPECT_EQ(caller.finish(), 0) << caller.messages();

    auto expected = capturedAudio("/usr/share/sip-tester/g711a.pcap");
    for (auto& byte : expected) {
        byte = sip::pcmaToCapi(byte);
    }
    std::vector<uint8_t> heard;
    for (const auto& block : line.all<sip::AudioBlock>()) {
        EXPECT_EQ(block.id, call->id);
        heard.insert(heard.end(), block.bytes.begin(), block.bytes.end());
    }
    size_t whole = expected.size() / sip::kBlockSize * sip::kBlockSize;
    ASSERT_GE(heard.size(), whole);
    EXPECT_BYTES_EQ(std::span(expected).first(whole), std::span(heard).first(whole));

    std::string keys;
    for (const auto& dtmf : line.all<sip::Dtmf>()) {
        keys += dtmf.key;
    }
    EXPECT_EQ(keys, "1234##");
    EXPECT_EQ(ended->audio.timestampGaps, 0u);
    EXPECT_EQ(ended->audio.lostPackets, 0u);
    std::printf("[ figures  ] %llu frames in, %llu out, %llu underruns, %llu gaps, %llu lost\n",
                static_cast<unsigned long long>(ended->audio.framesReceived),
                static_cast<unsigned long long>(ended->audio.framesSent),
                static_cast<unsigned long long>(ended->audio.underruns),
                static_cast<unsigned long long>(ended->audio.timestampGaps),
                static_cast<unsigned long long>(ended->audio.lostPackets));
}

// Keys as tones in the audio: 100 ms of the two frequencies of '7', a
// pause, '7' again and then '#'; librem's detector hears each press once.
TEST(CallMedia, InBandKeysAreHeardOnce) {
    SKIP_WITHOUT_SIPP();
    auto dir = scratchDir();
    auto account = LineUnderTest::account(freeUdpPort());
    account.inbandDtmf = true;
    LineUnderTest line(account);
    line.start();
    Sipp caller(dir, "caller", "caller.xml", freeUdpPort(),
                {{"cg_from", "<sip:0301234@127.0.0.1>"},
                 {"cg_pai", "<sip:0301234@127.0.0.1>"},
                 {"cg_privacy", "none"},
                 {"called", "030555"},
                 {"codecs", "8"}},
                {"-m", "1", "127.0.0.1:" + std::to_string(line.line().sipPort())});
    auto call = line.waitFor<sip::IncomingCall>();
    ASSERT_TRUE(call) << line.logText();
    line.line().answer(call->id);
    ASSERT_TRUE(line.waitFor<sip::Answered>());
    // Our RTP port, from the SDP of our 200 OK as SIPp received it.
    auto log = caller.messages();
    auto media = log.find("m=audio ", log.find("SIP/2.0 200 OK"));
    ASSERT_NE(media, std::string::npos) << log;
    uint16_t rtpPort = static_cast<uint16_t>(std::stoi(log.substr(media + 8)));

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(rtpPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    struct Tone {
        double low, high;
        int frames;
    };
    const Tone script[] = {{0, 0, 5}, {852, 1209, 5}, {0, 0, 5}, {852, 1209, 5},
                           {0, 0, 5}, {941, 1477, 5}, {0, 0, 10}};
    uint16_t sequence = 1;
    uint32_t sample = 0;
    auto next = std::chrono::steady_clock::now();
    for (const auto& tone : script) {
        for (int f = 0; f < tone.frames; ++f) {
            uint8_t packet[12 + 160] = {0x80, 8};
            packet[2] = static_cast<uint8_t>(sequence >> 8);
            packet[3] = static_cast<uint8_t>(sequence++);
            for (int i = 0; i < 4; ++i) {
                packet[4 + i] = static_cast<uint8_t>(sample >> (24 - 8 * i));
            }
            packet[11] = 0x42;
            for (int i = 0; i < 160; ++i, ++sample) {
                double t = sample / 8000.0;
                double value = tone.low > 0 ? 5000 * (std::sin(2 * M_PI * tone.low * t) +
                                                      std::sin(2 * M_PI * tone.high * t))
                                            : 0;
                packet[12 + i] = sip::linearToAlaw(static_cast<int16_t>(value));
            }
            std::this_thread::sleep_until(next);
            sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            next += std::chrono::milliseconds(20);
        }
    }
    close(fd);
    ASSERT_TRUE(line.waitFor<sip::Ended>());
    std::string keys;
    for (const auto& dtmf : line.all<sip::Dtmf>()) {
        keys += dtmf.key;
    }
    EXPECT_EQ(keys, "77#");
    EXPECT_EQ(caller.finish(), 0) << caller.messages();
}

}  // namespace
}  // namespace tellmaro::test
