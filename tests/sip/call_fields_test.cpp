// What SIP headers and SDP mean for a call: the presented calling number,
// the codec, the causes.

#include <gtest/gtest.h>

#include "exchange/sip/call_fields.h"
#include "exchange/sip/sip_causes.h"

namespace tellmaro::sip {
namespace {

constexpr auto N = NumberType::National;
constexpr auto I = NumberType::International;
constexpr auto U = NumberType::Unknown;
constexpr auto A = Presentation::Allowed;
constexpr auto R = Presentation::Restricted;

// P-Asserted-Identity, when present, decides alone (network provided);
// without it From does (user provided). No number in it: withheld.
TEST(CallFields, CallingPartyAsAnExchangePresentsIt) {
    const std::tuple<const char*, const char*, const char*, CallingParty> rows[] = {
        {"<sip:+491701234567@h>;tag=1", "", "", {N, A, "1701234567"}},
        {"sip:00491701234567@h;tag=1", "", "", {N, A, "1701234567"}},
        {"<sip:491701234567@h>", "", "", {N, A, "1701234567"}},
        {"<sip:4930123@h>", "", "", {U, A, "4930123"}},  // could be national
        {"<sip:01701234567@h;user=phone>", "", "", {N, A, "1701234567"}},
        {"<tel:+49-30-1234567>", "", "", {N, A, "301234567"}},
        {"<sip:%2B41441234567@h>", "", "", {I, A, "41441234567"}},
        {"<sip:0041441234567@h>", "", "", {I, A, "41441234567"}},
        {"<sip:+49(0)301234@h>", "", "", {N, A, "301234"}},
        {"\"Front desk\" <sip:reception@h>", "", "", {U, R, ""}},
        {"\"Mallory <x>, \\\"M\\\"\" <sip:+4930999888@h>;tag=1", "", "", {N, A, "30999888"}},
        {"<sip:0301@h>",
         "\"X\" <sip:+491701234567@h>, <tel:+491709999>",
         "",
         {N, A, "1701234567", true}},
        {"<sip:0301@h>", "<sip:gateway@h>, <tel:+41441234567>", "", {I, A, "41441234567", true}},
        {"<sip:01711234567@h>", "<sip:anonymous@anonymous.invalid>", "", {U, R, "", true}},
        {"<sip:01711234567@h>", "<sip:alice@carrier.example>", "", {U, R, "", true}},
        {"<sip:01711234567@h>", "<sip:alice@h>, garbage, <sip:anonymous@h>", "", {U, R, "", true}},
        {"<sip:0301@h>", "<sip:+491701234567@h>", "id", {U, R, "", true}},
        {"<sip:0301@h>", "", "header; id", {U, R, ""}},
        {"<sip:0301@h>", "", "none", {N, A, "301"}},
        {"\"Anonymous\" <sip:anonymous@anonymous.invalid>", "", "", {U, R, ""}},
        {"<sip:h>", "", "", {U, R, ""}},
        {"garbage", "", "", {U, R, ""}},
    };
    for (const auto& [from, asserted, privacy, expected] : rows) {
        EXPECT_EQ(callingPartyOf({from, asserted, privacy}, NumberPlan{}), expected)
            << from << " / " << asserted << " / " << privacy;
    }
}

// The codec, event type and address taken from an offer; its direction,
// session-wide or for the audio, read and mirrored in our answer.
TEST(CallFields, MediaChoiceAndHoldDirections) {
    struct Row {
        const char* sdp;
        bool usable;
        AudioCodec codec = {};
        int payloadType = 0, eventType = 0;
        const char* address = "";
        uint16_t port = 0;
        const char* ours = "";
    };
    const char* head = "v=0\r\no=- 1 1 IN IP4 192.0.2.1\r\ns=-\r\nc=IN IP4 192.0.2.1\r\nt=0 0\r\n";
    const Row rows[] = {
        {"m=audio 4000 RTP/AVP 8 101\r\na=rtpmap:101 telephone-event/8000\r\n", true,
         AudioCodec::Pcma, 8, 101, "192.0.2.1", 4000, "a=sendrecv"},
        {"m=audio 4000 RTP/AVP 0 8 96\r\na=rtpmap:96 telephone-event/8000\r\na=sendonly\r\n", true,
         AudioCodec::Pcma, 8, 96, "192.0.2.1", 4000, "a=recvonly"},
        {"a=sendonly\r\nm=audio 4002 RTP/AVP 0\r\nc=IN IP4 192.0.2.9\r\na=inactive\r\n", true,
         AudioCodec::Pcmu, 0, -1, "192.0.2.9", 4002, "a=inactive"},
        {"a=recvonly\r\nm=audio 4000 RTP/AVP 8\r\n", true, AudioCodec::Pcma, 8, -1, "192.0.2.1",
         4000, "a=sendonly"},
        {"m=audio 4000 RTP/AVP 98\r\na=rtpmap:98 PCMA/16000\r\n", false},
        {"m=video 4000 RTP/AVP 8\r\n", false},
        {"m=audio 0x RTP/AVP 8\r\n", false},
    };
    EXPECT_NE(buildSdp("192.0.2.5", 5000, 7, nullptr).find("m=audio 5000 RTP/AVP 8 0 101\r\n"),
              std::string::npos);
    for (const auto& row : rows) {
        auto offer = chooseMedia(std::string(head) + row.sdp);
        ASSERT_EQ(offer.has_value(), row.usable) << row.sdp;
        if (offer) {
            EXPECT_EQ(std::tie(offer->codec, offer->audioPayloadType, offer->eventPayloadType,
                               offer->address, offer->port),
                      std::tie(row.codec, row.payloadType, row.eventType, row.address, row.port))
                << row.sdp;
            const std::string ours = row.ours;
            EXPECT_EQ(offer->peerSends(), ours == "a=sendrecv" || ours == "a=recvonly") << row.sdp;
            EXPECT_EQ(offer->peerReceives(), ours == "a=sendrecv" || ours == "a=sendonly")
                << row.sdp;
            // Our answer carries what we took, and our offer all we can take.
            const auto answer = buildSdp("192.0.2.5", 5000, 7, &*offer);
            EXPECT_NE(answer.find(ours), std::string::npos) << row.sdp;
            auto reread = chooseMedia(answer);
            ASSERT_TRUE(reread) << answer;
            EXPECT_EQ(std::tie(reread->codec, reread->eventPayloadType),
                      std::tie(offer->codec, offer->eventPayloadType));
        }
    }
}

TEST(CallFields, SipStatusToCauseAndBack) {
    const std::pair<uint16_t, uint8_t> failures[] = {
        {404, 1},  {486, 17}, {600, 17}, {480, 18},  {408, 18},  {603, 21}, {403, 21},
        {484, 28}, {503, 41}, {502, 38}, {487, 127}, {499, 127}, {599, 41}, {699, 31},
    };
    for (auto [status, q850] : failures) {
        EXPECT_EQ(causeForSipStatus(status), q850) << status;
    }
    // A Q.850 cause the far end states (RFC 3326) wins; nothing else in Reason counts.
    const std::tuple<uint16_t, std::string_view, uint8_t> stated[] = {
        {480, "Q.850;cause=17;text=\"User busy\"", 17},
        {503, "SIP;cause=503, q.850 ; CAUSE = 21 ;text=\"cause=1, \\\"x\\\"\", Q.850;cause=17", 21},
        {480, "SIP;cause=486, Q.850;cause=0, Q.850;cause=128, Q.850;cause=1x, Q.850;cause=", 18},
        {480, "Q.850, Q.850;cause=99999999999999999999, Q.850;text=\"cause=17\";x=\"\\", 18},
    };
    for (auto [status, reasons, q850] : stated) {
        EXPECT_EQ(causeForSipResponse(status, reasons), q850) << reasons;
    }
    const std::pair<uint8_t, uint16_t> refusals[] = {
        {17, 486}, {21, 603}, {19, 480}, {1, 404}, {34, 503}, {16, 480}, {100, 500},
    };
    for (auto [q850, status] : refusals) {
        EXPECT_EQ(sipStatusForCause(q850), status) << int(q850);
    }
    EXPECT_EQ(capiReason(cause::kUserBusy), 0x3491);
    EXPECT_EQ(capiReason(cause::kNormalClearing), 0x3490);
}

}  // namespace
}  // namespace tellmaro::sip
