// Calls between the line and SIPp: how they start and end, the audio both
// ways, and keys arriving once each however they came.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>

#include "exchange/sip/audio_fifos.h"
#include "exchange/sip/g711.h"
#include "exchange/sip/sip_causes.h"
#include "sip/sip_peer.h"
#include "support/byte_compare.h"

namespace tellmaro::test {
namespace {

using namespace sip;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A SIPp caller to the line: "From;called;header;header;payload types", caller.xml's fields.
std::unique_ptr<Sipp> caller(LineUnderTest& line, const std::filesystem::path& dir,
                             const std::string& row, std::vector<std::string> extra = {}) {
    std::ofstream(dir / "caller.csv") << "SEQUENTIAL\n" << row << "\n";
    extra.insert(extra.end(), {"-inf", dir / "caller.csv", "-m", "1",
                               "127.0.0.1:" + std::to_string(line.line().sipPort())});
    return std::make_unique<Sipp>(dir, "caller", "caller.xml", freeUdpPort(),
                                  std::vector<std::pair<std::string, std::string>>{}, extra);
}

std::string keysOf(LineUnderTest& line) {
    std::string keys;
    for (const auto& dtmf : line.all<Dtmf>()) {
        keys += dtmf.key;
    }
    return keys;
}
std::vector<uint8_t> heardBy(LineUnderTest& line) {
    std::vector<uint8_t> heard;
    for (const auto& block : line.all<AudioBlock>()) {
        heard.insert(heard.end(), block.bytes.begin(), block.bytes.end());
    }
    return heard;
}

// Callers of the line. One offered to the relay presents the asserted number
// and gets our refusal; one answered keys "#" by RFC 4733 (its end packets
// repeated) and 4 by INFO, then hangs up. An offer without G.711 and a
// stranger's INVITE (neither from the registrar nor the proxy) the line
// refuses itself.
TEST(LineCalls, IncomingCallersOfferedOrRefused) {
    SKIP_WITHOUT_SIPP();
    using Party = std::optional<CallingParty>;
    const auto national = NumberType::National;
    const auto allowed = Presentation::Allowed;
    const std::tuple<const char*, const char*, Party, uint16_t, const char*, const char*> rows[] = {
        {"<sip:0301234@127.0.0.1>;030555;P-Asserted-Identity: <tel:+49-170-1234567>;"
         "Privacy: none;8 0 101",
         "127.0.0.1", CallingParty{national, allowed, "1701234567", true}, 486, "SIP/2.0 486", ""},
        {"<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;8 101", "127.0.0.1",
         CallingParty{national, allowed, "301234"}, 0, "BYE sip:", "#4"},
        {"<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;9", "127.0.0.1", {}, 0, "SIP/2.0 488", ""},
        {"<sip:01711234567@127.0.0.1>;030555;X-A: ;X-B: ;8", "127.0.0.2", {}, 0, "SIP/2.0 403", ""},
    };
    for (const auto& [row, from, offered, refusal, response, keys] : rows) {
        if (*keys && geteuid() != 0) {
            continue;  // SIPp plays its RFC 4733 capture only for root
        }
        LineUnderTest line(LineUnderTest::account(freeUdpPort()));
        line.start();
        auto sipp = caller(line, scratchDir(), row, {"-i", from});
        if (offered) {
            auto call = line.waitFor<IncomingCall>();
            ASSERT_TRUE(call) << line.logText();
            EXPECT_EQ(std::tie(call->called, call->calling), std::tie("030555", *offered));
            refusal ? line.line().reject(call->id, refusal) : line.line().answer(call->id);
            auto ended = line.waitFor<Ended>();
            ASSERT_TRUE(ended) << line.logText();
            EXPECT_EQ(ended->cause, refusal ? cause::kUserBusy : cause::kNormalClearing);
        }
        EXPECT_EQ(sipp->finish(), 0) << sipp->messages();
        EXPECT_EQ(sipp->count(response), 1u) << sipp->messages();
        EXPECT_EQ(line.all<IncomingCall>().size(), offered ? 1u : 0u) << row;
        EXPECT_EQ(keysOf(line), keys);
    }
}

// Busy through the outbound proxy: the INVITE goes to the number at the
// domain, routed by the proxy; so too over IPv6, with SDP to match. Unanswered: our timer gives up
// with a CANCEL. Answered by a peer that sends no RTP (as one that vanished): the RTP timeout.
TEST(LineCalls, OutgoingEndBusyUnansweredOrWithoutRtp) {
    SKIP_WITHOUT_SIPP();
    const std::tuple<const char*, const char*, int, int, uint8_t, const char*> rows[] = {
        {"127.0.0.1", "busy", 60, 0, cause::kUserBusy,
         R"(INVITE sip:0301234567@voip\.example\.net SIP/2\.0[^]*Route: <sip:127\.0\.0\.1:\d+;lr>)"},
        {"::1", "busy", 60, 0, cause::kUserBusy,
         R"(INVITE sip:0301234567@voip\.example\.net SIP/2\.0[^]*Route: <sip:\[::1\]:\d+;lr>[^]*c=IN IP6 ::1)"},
        {"127.0.0.1", "ring", 2, 0, cause::kNoAnswer, "CANCEL sip:"},
        {"127.0.0.1", "answer", 60, 1, cause::kTemporaryFailure, "BYE sip:"},
    };
    for (auto [host, mode, noAnswer, rtpTimeout, cause, sipp] : rows) {
        uint16_t port = freeUdpPort();
        auto account = LineUnderTest::account(port);
        const std::string at =
            std::string(host).find(':') != std::string::npos ? "[" + std::string(host) + "]" : host;
        account.domain = "voip.example.net";
        account.listenAddress = host;
        account.outboundProxy = at + ":" + std::to_string(port);
        account.rtpTimeout = seconds(rtpTimeout);
        Sipp callee(scratchDir(), "callee", "callee_answer.xml", port, {{"rtp_port", "9"}},
                    {"-m", "1", "-set", "mode", mode, "-i", host});
        LineUnderTest line(account, false, seconds(noAnswer));
        line.start();
        line.line().dial("0301234567");
        auto ended = line.waitFor<Ended>();
        ASSERT_TRUE(ended) << line.logText();
        EXPECT_EQ(ended->cause, cause) << mode;
        EXPECT_EQ(callee.finish(), 0) << callee.messages();
        EXPECT_TRUE(std::regex_search(callee.messages(), std::regex(sipp))) << callee.messages();
    }
}

// The far end's SDP names our own RTP port, so the blocks we hand over at the
// relay's pace (one per 256 ms) come back whole, in order, without gaps. They
// hold tones: 100 ms of '7', a pause, '7' again and '#'; each press heard once.
TEST(CallMedia, SentBlocksComeBackWholeAndInBandKeysAreHeardOnce) {
    SKIP_WITHOUT_SIPP();
    uint16_t port = freeUdpPort();
    auto account = LineUnderTest::account(port);
    account.inbandDtmf = true;
    account.rtpPortMin &= 0xFFFE;  // RTP takes the even port
    account.rtpPortMax = account.rtpPortMin + 1;
    Sipp callee(scratchDir(), "callee", "callee_answer.xml", port,
                {{"rtp_port", std::to_string(account.rtpPortMin)}}, {"-m", "1"});
    LineUnderTest line(account);
    line.start();
    auto id = line.line().dial("0301234567");
    ASSERT_TRUE(line.waitFor<Answered>()) << line.logText();
    const std::map<char, std::pair<double, double>> tones = {
        {'-', {0, 0}}, {'7', {852, 1209}}, {'#', {941, 1477}}};
    std::vector<uint8_t> sent;
    for (char key : std::string("7-7-#")) {
        const auto [low, high] = tones.at(key);
        for (int i = 0; i < 800; ++i) {
            const double t = static_cast<double>(sent.size()) / 8000;
            sent.push_back(pcmaToCapi(linearToAlaw(static_cast<int16_t>(
                5000 * (std::sin(2 * M_PI * low * t) + std::sin(2 * M_PI * high * t))))));
        }
    }
    sent.resize(2 * kBlockSize, kCapiAlawSilence);
    auto next = std::chrono::steady_clock::now() + milliseconds(100);
    for (size_t at = 0; at < sent.size(); at += kBlockSize, next += milliseconds(256)) {
        std::this_thread::sleep_until(next);
        line.line().sendBlock(id, std::span(sent).subspan(at).first<kBlockSize>());
    }
    std::this_thread::sleep_until(next + milliseconds(500));
    line.line().hangUp(id);
    auto ended = line.waitFor<Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(callee.finish(), 0) << callee.messages();
    const auto heard = heardBy(line);
    auto audible = [](const std::vector<uint8_t>& bytes) {
        return std::span(std::find_if(bytes.begin(), bytes.end(),
                                      [](uint8_t b) { return b != kCapiAlawSilence; }),
                         bytes.end());
    };
    const auto ours = audible(sent), back = audible(heard);
    ASSERT_GE(back.size(), ours.size()) << line.logText();
    EXPECT_BYTES_EQ(ours, back.first(ours.size()));
    EXPECT_EQ(keysOf(line), "77#");
    EXPECT_EQ(std::tie(ended->audio.timestampGaps, ended->audio.lostPackets), std::tuple(0u, 0u));
}

}  // namespace
}  // namespace tellmaro::test
