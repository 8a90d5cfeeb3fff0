// Audio and keys of calls with SIPp: captured PCMA arrives as CAPI blocks with
// every byte in place, keys arrive once each however they came, and blocks we
// send leave as paced 20 ms PCMA frames with continuous numbers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "exchange/sip/audio_fifos.h"
#include "exchange/sip/g711.h"
#include "sip/rtp_catcher.h"
#include "sip/sip_peer.h"
#include "support/byte_compare.h"

namespace tellmaro::test {
namespace {

using std::chrono::milliseconds;

std::string keysOf(LineUnderTest& line) {
    std::string keys;
    for (const auto& dtmf : line.all<sip::Dtmf>()) {
        keys += dtmf.key;
    }
    return keys;
}

// A SIPp caller of one row, and the call it made, answered.
struct AnsweredCall {
    AnsweredCall(LineUnderTest& line, const std::filesystem::path& dir, const std::string& row,
                 std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"-inf", callerRows(dir, "caller", {row}), "-m", "1",
                                   "127.0.0.1:" + std::to_string(line.line().sipPort())});
        caller = std::make_unique<Sipp>(dir, "caller", "caller.xml", freeUdpPort(),
                                        std::vector<std::pair<std::string, std::string>>{}, extra);
        if (auto call = line.waitFor<sip::IncomingCall>()) {
            id = call->id;
            line.line().answer(id);
        }
    }
    std::unique_ptr<Sipp> caller;
    sip::CallId id = 0;
};

// SIPp plays its capture (30 ms frames) and keys "#" by RFC 4733, then 4, 3
// and "#" by INFO.
TEST(CallMedia, CapturedAudioArrivesAsCapiBlocksAndKeysOnce) {
    SKIP_WITHOUT_SIPP();
    if (geteuid() != 0) {
        GTEST_SKIP() << "SIPp plays captures only for root";
    }
    auto dir = scratchDir();
    LineUnderTest line(LineUnderTest::account(freeUdpPort()));
    line.start();
    AnsweredCall call(line, dir, "<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;8 101",
                      {"-set", "mode", "talk"});
    ASSERT_NE(call.id, 0u) << line.logText();
    auto ended = line.waitFor<sip::Ended>({}, std::chrono::seconds(30));
    ASSERT_TRUE(ended) << line.logText();
    EXPECT_EQ(call.caller->finish(), 0) << call.caller->messages();

    // The payloads placed by their timestamps: what a receiver should hear.
    std::vector<uint8_t> expected;
    uint32_t start = 0;
    for (const auto& record : captureRecords()) {
        auto frame = reinterpret_cast<const uint8_t*>(record.data()) + 16;
        const uint8_t* rtp = frame + 14 + (frame[14] & 0x0F) * 4u + 8;
        uint32_t timestamp =
            (uint32_t(rtp[4]) << 24) | (uint32_t(rtp[5]) << 16) | (uint32_t(rtp[6]) << 8) | rtp[7];
        start = expected.empty() ? timestamp : start;
        expected.resize(timestamp - start, sip::kRtpAlawSilence);
        expected.insert(expected.end(), rtp + 12 + (rtp[0] & 0x0F) * 4u,
                        reinterpret_cast<const uint8_t*>(record.data() + record.size()));
    }
    std::transform(expected.begin(), expected.end(), expected.begin(), sip::pcmaToCapi);
    std::vector<uint8_t> heard;
    for (const auto& block : line.all<sip::AudioBlock>()) {
        EXPECT_EQ(block.id, call.id);
        heard.insert(heard.end(), block.bytes.begin(), block.bytes.end());
    }
    size_t whole = expected.size() / sip::kBlockSize * sip::kBlockSize;
    ASSERT_GE(heard.size(), whole);
    EXPECT_BYTES_EQ(std::span(expected).first(whole), std::span(heard).first(whole));
    EXPECT_EQ(keysOf(line), "#43#");
    EXPECT_EQ(ended->audio.timestampGaps, 0u);
    EXPECT_EQ(ended->audio.lostPackets, 0u);
}

// Keys as tones in the audio: 100 ms of the two frequencies of '7', a pause,
// '7' again and then '#'; each press is heard once.
TEST(CallMedia, InBandKeysAreHeardOnce) {
    SKIP_WITHOUT_SIPP();
    auto dir = scratchDir();
    auto account = LineUnderTest::account(freeUdpPort());
    account.inbandDtmf = true;
    LineUnderTest line(account);
    line.start();
    AnsweredCall call(line, dir, "<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;8");
    ASSERT_TRUE(line.waitFor<sip::Answered>()) << line.logText();
    // Our RTP port, from the SDP of our 200 OK as SIPp received it.
    auto log = call.caller->messages();
    auto media = log.find("m=audio ", log.find("SIP/2.0 200 OK"));
    ASSERT_NE(media, std::string::npos) << log;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(log.substr(media + 8))));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const std::tuple<double, double, int> script[] = {
        {0, 0, 5}, {852, 1209, 5}, {0, 0, 5}, {852, 1209, 5},
        {0, 0, 5}, {941, 1477, 5}, {0, 0, 10}};
    uint16_t sequence = 1;
    uint32_t sample = 0;
    auto next = std::chrono::steady_clock::now();
    for (auto [low, high, frames] : script) {
        for (int f = 0; f < frames; ++f, next += milliseconds(20)) {
            uint8_t packet[12 + 160] = {0x80, 8, uint8_t(sequence >> 8), uint8_t(sequence)};
            ++sequence;
            for (int i = 0; i < 4; ++i) {
                packet[4 + i] = static_cast<uint8_t>(sample >> (24 - 8 * i));
            }
            for (int i = 0; i < 160; ++i, ++sample) {
                double t = sample / 8000.0;
                double value =
                    low > 0 ? 5000 * (std::sin(2 * M_PI * low * t) + std::sin(2 * M_PI * high * t))
                            : 0;
                packet[12 + i] = sip::linearToAlaw(static_cast<int16_t>(value));
            }
            std::this_thread::sleep_until(next);
            sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
    }
    close(fd);
    ASSERT_TRUE(line.waitFor<sip::Ended>());
    EXPECT_EQ(keysOf(line), "77#");
    EXPECT_EQ(call.caller->finish(), 0) << call.caller->messages();
}

// Blocks handed over at the relay's pace (one per 256 ms) leave as 160-byte
// PCMA frames with continuous numbers and our bytes in order.
TEST(CallMedia, SentBlocksLeaveAsPacedPcmaFrames) {
    SKIP_WITHOUT_SIPP();
    RtpCatcher catcher;
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    Sipp callee(dir, "callee", "callee_answer.xml", port,
                {{"rtp_port", std::to_string(catcher.port())}}, {"-m", "1"});
    LineUnderTest line(LineUnderTest::account(port));
    line.start();
    auto id = line.line().dial("0301234567");
    ASSERT_TRUE(line.waitFor<sip::Answered>()) << line.logText();
    std::vector<uint8_t> sent;
    auto next = Clock::now() + milliseconds(100);
    for (int k = 0; k < 20; ++k, next += milliseconds(256)) {
        std::this_thread::sleep_until(next);
        std::array<uint8_t, sip::kBlockSize> block;
        for (size_t j = 0; j < block.size(); ++j) {
            // Never CAPI silence, so the first byte of our audio is seen.
            block[j] = static_cast<uint8_t>(0x10 + (k * 7 + j) % 0x80);
        }
        line.line().sendBlock(id, block);
        sent.insert(sent.end(), block.begin(), block.end());
    }
    std::this_thread::sleep_until(next + milliseconds(200));
    line.line().hangUp(id);
    ASSERT_TRUE(line.waitFor<sip::Ended>());
    EXPECT_EQ(callee.finish(), 0) << callee.messages();

    auto packets = catcher.packets();
    ASSERT_GT(packets.size(), 200u);
    std::vector<uint8_t> audible;  // a frame the pace found short is padded with silence
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto& packet = packets[i];
        ASSERT_EQ(packet.payloadType, 8);
        ASSERT_EQ(packet.payload.size(), sip::kFrameSize);
        if (i > 0) {
            EXPECT_EQ(packet.ssrc, packets[0].ssrc);
            EXPECT_EQ(packet.sequence, static_cast<uint16_t>(packets[i - 1].sequence + 1));
            EXPECT_EQ(packet.timestamp, packets[i - 1].timestamp + 160);
        }
        std::copy_if(packet.payload.begin(), packet.payload.end(), std::back_inserter(audible),
                     [](uint8_t b) { return b != sip::kRtpAlawSilence; });
    }
    std::transform(sent.begin(), sent.end(), sent.begin(), sip::capiToPcma);
    EXPECT_BYTES_EQ(sent, audible);
}

}  // namespace
}  // namespace tellmaro::test
