// Calls from the line to SIPp: answer, busy, our CANCEL and the no-answer
// timeout; and the audio we send, caught by a small RTP receiver: 160-byte
// PCMA frames at a 20 ms pace with continuous numbers and our bytes in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "exchange/sip/audio_fifos.h"
#include "exchange/sip/g711.h"
#include "exchange/sip/sip_causes.h"
#include "sip/rtp_catcher.h"
#include "sip/sip_peer.h"
#include "support/byte_compare.h"

namespace tellmaro::test {
namespace {

class OutgoingCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!haveSipp()) {
            GTEST_SKIP() << "SIPp (package sip-tester) is not installed";
        }
        dir_ = scratchDir();
        port_ = freeUdpPort();
    }
    std::unique_ptr<Sipp> callee(const std::string& scenarioFile, uint16_t rtpPort = 9) {
        return std::make_unique<Sipp>(
            dir_, "callee", scenarioFile, port_,
            std::vector<std::pair<std::string, std::string>>{{"rtp_port", std::to_string(rtpPort)}},
            std::vector<std::string>{"-m", "1"});
    }
    std::unique_ptr<LineUnderTest> startLine(
        std::chrono::seconds noAnswer = std::chrono::seconds(60),
        std::chrono::seconds rtpTimeout = std::chrono::seconds(0)) {
        auto account = LineUnderTest::account(port_);
        account.rtpTimeout = rtpTimeout;
        auto line = std::make_unique<LineUnderTest>(account, false, noAnswer);
        line->start();
        return line;
    }
    std::filesystem::path dir_;
    uint16_t port_ = 0;
};

// Through the outbound proxy: the INVITE names the account's domain and
// goes to the proxy with a loose Route.
TEST_F(OutgoingCalls, BusyThroughTheProxyIsCause17) {
    auto sipp = callee("callee_busy.xml");
    auto account = LineUnderTest::account(port_);
    account.domain = "voip.example.net";
    account.outboundProxy = "127.0.0.1:" + std::to_string(port_);
    LineUnderTest line(account);
    line.start();
    auto id = line.line().dial("0301234560");
    EXPECT_TRUE(line.waitFor<sip::Alerting>());
    auto ended = line.waitFor<sip::Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->id, id);
    EXPECT_EQ(ended->cause, sip::cause::kUserBusy);
    EXPECT_EQ(ended->sipStatus, 486);
    EXPECT_EQ(sip::capiReason(ended->cause), 0x3491);
    EXPECT_EQ(sipp->finish(), 0) << sipp->messages();
    EXPECT_EQ(sipp->count("INVITE sip:0301234560@voip.example.net SIP/2.0"), 1u)
        << sipp->messages();
    EXPECT_GE(sipp->count("Route: <sip:127.0.0.1:" + std::to_string(port_) + ";lr>"), 1u);
}

TEST_F(OutgoingCalls, HangingUpWhileItRingsCancels) {
    auto sipp = callee("callee_ringing.xml");
    auto line = startLine();
    auto id = line->line().dial("0301234567");
    ASSERT_TRUE(line->waitFor<sip::Alerting>());
    line->line().hangUp(id);
    auto ended = line->waitFor<sip::Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->cause, sip::cause::kNormalClearing);
    EXPECT_EQ(sipp->finish(), 0) << sipp->messages();
}

TEST_F(OutgoingCalls, UnansweredCallEndsAfterTheTimeoutWithCause19) {
    auto sipp = callee("callee_ringing.xml");
    auto line = startLine(std::chrono::seconds(2));
    line->line().dial("0301234567");
    ASSERT_TRUE(line->waitFor<sip::Alerting>());
    auto ended = line->waitFor<sip::Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->cause, sip::cause::kNoAnswer);
    EXPECT_EQ(sipp->finish(), 0) << sipp->messages();
}

TEST_F(OutgoingCalls, PeerThatFallsSilentIsHungUpAfterTheRtpTimeout) {
    auto sipp = callee("callee_answer.xml");  // answers, then sends no RTP
    auto line = startLine(std::chrono::seconds(60), std::chrono::seconds(2));
    line->line().dial("0301234567");
    ASSERT_TRUE(line->waitFor<sip::Answered>());
    auto ended = line->waitFor<sip::Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->cause, sip::cause::kTemporaryFailure);
    EXPECT_NE(ended->reason.find("no RTP for 2 s"), std::string::npos) << ended->reason;
    EXPECT_EQ(sipp->finish(), 0) << sipp->messages();  // it got our BYE
}

// Blocks handed to the line at the relay's pace (one per 256 ms) leave as
// steady 20 ms frames; prints the pace and the delay a block takes to leave.
TEST_F(OutgoingCalls, SentBlocksLeaveAsPacedPcmaFrames) {
    RtpCatcher catcher;
    auto sipp = callee("callee_answer.xml", catcher.port());
    auto line = startLine();
    auto id = line->line().dial("0301234567");
    ASSERT_TRUE(line->waitFor<sip::Answered>()) << line->logText();

    constexpr int kBlocks = 20;
    std::vector<uint8_t> sent;
    std::vector<Clock::time_point> handedOver;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto next = Clock::now();
    for (int k = 0; k < kBlocks; ++k) {
        std::this_thread::sleep_until(next);
        std::array<uint8_t, sip::kBlockSize> block;
        for (size_t j = 0; j < block.size(); ++j) {
            // Never CAPI silence, so the first byte of our audio is seen.
            block[j] = static_cast<uint8_t>(0x10 + (k * 7 + j) % 0x80);
        }
        handedOver.push_back(Clock::now());
        line->line().sendBlock(id, block);
        sent.insert(sent.end(), block.begin(), block.end());
        next += std::chrono::milliseconds(256);
    }
    std::this_thread::sleep_until(next + std::chrono::milliseconds(200));
    line->line().hangUp(id);
    auto ended = line->waitFor<sip::Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(sipp->finish(), 0) << sipp->messages();

    auto packets = catcher.packets();
    ASSERT_GT(packets.size(), 200u);
    std::vector<uint8_t> heard;
    std::vector<Clock::time_point> byteTime;
    std::vector<double> gaps;
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto& packet = packets[i];
        ASSERT_EQ(packet.payloadType, 8);
        ASSERT_EQ(packet.payload.size(), sip::kFrameSize);
        if (i > 0) {
            EXPECT_EQ(packet.ssrc, packets[0].ssrc);
            EXPECT_EQ(packet.sequence, static_cast<uint16_t>(packets[i - 1].sequence + 1));
            EXPECT_EQ(packet.timestamp, packets[i - 1].timestamp + 160);
            gaps.push_back(
                std::chrono::duration<double, std::milli>(packet.at - packets[i - 1].at).count());
        }
        for (uint8_t byte : packet.payload) {
            heard.push_back(byte);
            byteTime.push_back(packet.at);
        }
    }
    // Silence until our audio starts, then our bytes in order. A frame the
    // pace found short is padded with silence (a loaded machine may starve
    // it), so silence is left out of the comparison; our bytes never are silence.
    auto start = std::find_if(heard.begin(), heard.end(),
                              [](uint8_t b) { return b != sip::kRtpAlawSilence; });
    ASSERT_NE(start, heard.end());
    size_t offset = static_cast<size_t>(start - heard.begin());
    std::vector<uint8_t> expected(sent.size());
    std::transform(sent.begin(), sent.end(), expected.begin(), sip::capiToPcma);
    std::vector<uint8_t> audible;
    std::vector<Clock::time_point> audibleTime;
    for (size_t i = offset; i < heard.size(); ++i) {
        if (heard[i] != sip::kRtpAlawSilence) {
            audible.push_back(heard[i]);
            audibleTime.push_back(byteTime[i]);
        }
    }
    EXPECT_BYTES_EQ(expected, audible);
    ASSERT_EQ(audible.size(), expected.size());

    std::vector<double> delays;
    for (int k = 0; k < kBlocks; ++k) {
        auto out = audibleTime[static_cast<size_t>(k) * sip::kBlockSize];
        delays.push_back(std::chrono::duration<double, std::milli>(out - handedOver[k]).count());
    }
    std::sort(gaps.begin(), gaps.end());
    std::sort(delays.begin(), delays.end());
    std::printf(
        "[ figures  ] %zu frames; pace min %.2f p50 %.2f p99 %.2f max %.2f ms; block to first "
        "frame min %.1f p50 %.1f max %.1f ms; %llu underruns, %llu bytes dropped\n",
        packets.size(), gaps.front(), gaps[gaps.size() / 2], gaps[gaps.size() * 99 / 100],
        gaps.back(), delays.front(), delays[delays.size() / 2], delays.back(),
        static_cast<unsigned long long>(ended->audio.underruns),
        static_cast<unsigned long long>(ended->audio.bytesDropped));
}

}  // namespace
}  // namespace tellmaro::test
