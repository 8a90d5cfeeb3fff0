// Calls between the line and SIPp, a row each: what the line presents, what
// it is told to do, the cause and reason its call ends with, and what SIPp saw.

#include <gtest/gtest.h>

#include <regex>

#include "exchange/sip/sip_causes.h"
#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

using namespace sip;
using std::chrono::seconds;

struct Row {
    const char* name;
    const char* caller = "";      // a row of caller.xml; empty: the line dials
    const char* mode = "answer";  // of callee_answer.xml
    uint16_t refuse = 0;          // incoming: refused with this status, else answered
    bool hangUp = false;          // after the answer (incoming) or while it rings (outgoing)
    CallingParty calling = {};    // incoming: as presented
    uint8_t cause = 0;
    const char* reason = "";             // in the end's reason
    const char* sipp = "";               // a regex SIPp's messages match
    int noAnswer = 60, rtpTimeout = 0;   // s
    const char* refusedInLog = nullptr;  // refused before it became a call
};

constexpr auto kNational = NumberType::National;
constexpr auto kAllowed = Presentation::Allowed;
const Row kRows[] = {
    {.name = "AssertedIdentityWinsRefused486",
     .caller = "<sip:0301234@127.0.0.1>;030555;P-Asserted-Identity: <tel:+49-170-1234567>;"
               "Privacy: none;8 0 101",
     .refuse = 486,
     .calling = {kNational, kAllowed, "1701234567"},
     .cause = cause::kUserBusy,
     .sipp = "SIP/2.0 486"},
    {.name = "InternationalRefused603",
     .caller = "\"Anna\" <sip:0041441234567@127.0.0.1>;030555;X-A: ;X-B: ;8 0 101",
     .refuse = 603,
     .calling = {NumberType::International, kAllowed, "41441234567"},
     .cause = cause::kCallRejected,
     .sipp = "SIP/2.0 603"},
    {.name = "WithheldRefused480",
     .caller = "<sip:+491701234567@127.0.0.1>;030555;X-A: ;Privacy: id;8 0 101",
     .refuse = 480,
     .calling = {NumberType::Unknown, Presentation::Restricted, ""},
     .cause = cause::kNoUserResponding,
     .sipp = "SIP/2.0 480"},
    {.name = "FarEndHangsUp",
     .caller = "<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;8 0 101",
     .calling = {kNational, kAllowed, "301234"},
     .cause = cause::kNormalClearing,
     .reason = "BYE",
     .sipp = "SIP/2.0 180 Ringing"},
    {.name = "OurHangUpSendsBye",
     .caller = "<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;8",
     .hangUp = true,
     .calling = {kNational, kAllowed, "301234"},
     .cause = cause::kNormalClearing,
     .sipp = "BYE sip:"},
    {.name = "InviteFromElsewhereIsForbidden",
     .caller = "<sip:0301234@127.0.0.1>;030555;X-A: ;X-B: ;8",
     .sipp = "SIP/2.0 403 Forbidden",
     .refusedInLog = "refused with 403"},
    {.name = "BusyThroughTheProxy",
     .mode = "busy",
     .cause = cause::kUserBusy,
     .reason = "486",
     .sipp =
         R"(INVITE sip:0301234567@voip\.example\.net SIP/2\.0[^]*Route: <sip:127\.0\.0\.1:\d+;lr>)"},
    {.name = "HangingUpWhileItRingsCancels",
     .mode = "ring",
     .hangUp = true,
     .cause = cause::kNormalClearing,
     .sipp = "CANCEL sip:"},
    {.name = "UnansweredAfterTheTimeout",
     .mode = "ring",
     .cause = cause::kNoAnswer,
     .sipp = "CANCEL sip:",
     .noAnswer = 2},
    {.name = "SilentPeerAfterTheRtpTimeout",
     .cause = cause::kTemporaryFailure,
     .reason = "no RTP for 2 s",
     .sipp = "BYE sip:",
     .rtpTimeout = 2},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class LineCalls : public ::testing::TestWithParam<Row> {};

TEST_P(LineCalls, EndAsExpected) {
    SKIP_WITHOUT_SIPP();
    const Row& row = GetParam();
    const bool incoming = *row.caller != '\0';
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    auto account = LineUnderTest::account(port);
    account.rtpTimeout = seconds(row.rtpTimeout);
    if (row.refusedInLog) {
        account.inviteSources = {"127.0.0.2"};
    }
    if (!incoming && row.mode == std::string("busy")) {
        account.domain = "voip.example.net";
        account.outboundProxy = "127.0.0.1:" + std::to_string(port);
    }
    LineUnderTest line(account, false, seconds(row.noAnswer));
    line.start();
    std::unique_ptr<Sipp> sipp;
    CallId id = 0;
    if (incoming) {
        sipp = std::make_unique<Sipp>(
            dir, "caller", "caller.xml", port, std::vector<std::pair<std::string, std::string>>{},
            std::vector<std::string>{"-inf", callerRows(dir, "caller", {row.caller}), "-m", "1",
                                     "127.0.0.1:" + std::to_string(line.line().sipPort())});
        if (row.refusedInLog) {
            EXPECT_EQ(sipp->finish(), 0) << sipp->messages();
            EXPECT_FALSE(line.waitFor<IncomingCall>({}, std::chrono::milliseconds(0)));
            EXPECT_NE(line.logText().find(row.refusedInLog), std::string::npos) << line.logText();
        } else {
            auto call = line.waitFor<IncomingCall>();
            ASSERT_TRUE(call) << line.logText();
            EXPECT_EQ(call->calling, row.calling) << call->calling.digits;
            EXPECT_EQ(call->called, "030555");
            id = call->id;
            if (row.refuse) {
                line.line().reject(id, row.refuse);
            } else {
                line.line().alert(id);
                line.line().answer(id);
                ASSERT_TRUE(line.waitFor<Answered>());
            }
        }
    } else {
        sipp = std::make_unique<Sipp>(
            dir, "callee", "callee_answer.xml", port,
            std::vector<std::pair<std::string, std::string>>{{"rtp_port", "9"}},
            std::vector<std::string>{"-m", "1", "-set", "mode", row.mode});
        id = line.line().dial("0301234567");
        ASSERT_TRUE(line.waitFor<Alerting>()) << line.logText();
    }
    if (!row.refusedInLog) {
        if (row.hangUp) {
            line.line().hangUp(id);
        }
        auto ended = line.waitFor<Ended>();
        ASSERT_TRUE(ended) << line.logText();
        EXPECT_EQ(ended->cause, row.cause);
        EXPECT_NE(ended->reason.find(row.reason), std::string::npos) << ended->reason;
        EXPECT_EQ(sipp->finish(), 0) << sipp->messages();
    }
    EXPECT_TRUE(std::regex_search(sipp->messages(), std::regex(row.sipp))) << sipp->messages();
}

INSTANTIATE_TEST_SUITE_P(Rows, LineCalls, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tellmaro::test
