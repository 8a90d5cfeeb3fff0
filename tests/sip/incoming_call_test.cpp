// Calls from SIPp to the line: what the line presents, refusals and their
// causes, the far end giving up or hanging up, our hang-up, the sources
// INVITEs are taken from, and the limit of simultaneous calls.

#include <gtest/gtest.h>

#include "exchange/sip/sip_causes.h"
#include "sip/rtp_catcher.h"
#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

using sip::Answered;
using sip::Ended;
using sip::IncomingCall;

using Keys = std::vector<std::pair<std::string, std::string>>;

Keys callerKeys(const std::string& from, const std::string& pai, const std::string& privacy) {
    return {{"cg_from", from},
            {"cg_pai", pai},
            {"cg_privacy", privacy},
            {"called", "030555"},
            {"codecs", "8 0 101"}};
}

// SIPp calling the line once.
std::unique_ptr<Sipp> callLine(const std::filesystem::path& dir, const std::string& name,
                               const std::string& scenarioFile, LineUnderTest& line,
                               const Keys& keys) {
    return std::make_unique<Sipp>(
        dir, name, scenarioFile, freeUdpPort(), keys,
        std::vector<std::string>{"-m", "1", "127.0.0.1:" + std::to_string(line.line().sipPort())});
}

class IncomingCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!haveSipp()) {
            GTEST_SKIP() << "SIPp (package sip-tester) is not installed";
        }
        dir_ = scratchDir();
    }
    // The line takes INVITEs from 127.0.0.1 (its registrar's address).
    std::unique_ptr<LineUnderTest> startLine(sip::SipAccount account) {
        auto line = std::make_unique<LineUnderTest>(std::move(account));
        line->start();
        return line;
    }
    sip::SipAccount account() { return LineUnderTest::account(freeUdpPort()); }
    std::filesystem::path dir_;
};

TEST_F(IncomingCalls, PresentedNumberAndRefusalCause) {
    struct Row {
        std::string from, pai, privacy;
        sip::CallingParty expected;
        uint16_t refusal;
        uint8_t cause;
    };
    const Row rows[] = {
        // The asserted identity wins over From.
        {"<sip:0301234@127.0.0.1>",
         "<tel:+49-170-1234567>",
         "none",
         {sip::NumberType::National, sip::Presentation::Allowed, "1701234567"},
         486,
         17},
        {"\"Anna\" <sip:0041441234567@127.0.0.1>",
         "<sip:0041441234567@127.0.0.1>",
         "none",
         {sip::NumberType::International, sip::Presentation::Allowed, "41441234567"},
         603,
         21},
        {"<sip:+491701234567@127.0.0.1>",
         "<sip:+491701234567@127.0.0.1>",
         "id",
         {sip::NumberType::Unknown, sip::Presentation::Restricted, ""},
         480,
         18},
    };
    auto line = startLine(account());
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pai);
        auto caller = callLine(dir_, "caller" + std::to_string(n++), "caller.xml", *line,
                               callerKeys(row.from, row.pai, row.privacy));
        auto call = line->waitFor<IncomingCall>();
        ASSERT_TRUE(call) << line->logText();
        EXPECT_EQ(call->calling, row.expected) << call->calling.digits;
        EXPECT_EQ(call->called, "030555");
        line->line().reject(call->id, row.refusal);
        auto ended = line->waitFor<Ended>();
        ASSERT_TRUE(ended);
        EXPECT_EQ(ended->id, call->id);
        EXPECT_EQ(ended->cause, row.cause);
        EXPECT_EQ(caller->finish(), 0) << caller->messages();
        EXPECT_EQ(caller->count("SIP/2.0 " + std::to_string(row.refusal)), 1u);
    }
}

TEST_F(IncomingCalls, FarEndHangsUpAfterTheAnswer) {
    auto line = startLine(account());
    auto caller =
        callLine(dir_, "caller", "caller.xml", *line,
                 callerKeys("<sip:0301234@127.0.0.1>", "<sip:0301234@127.0.0.1>", "none"));
    auto call = line->waitFor<IncomingCall>();
    ASSERT_TRUE(call);
    line->line().alert(call->id);
    line->line().answer(call->id);
    EXPECT_TRUE(line->waitFor<Answered>());
    auto ended = line->waitFor<Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->cause, sip::cause::kNormalClearing);
    EXPECT_NE(ended->reason.find("BYE"), std::string::npos) << ended->reason;
    EXPECT_EQ(caller->finish(), 0) << caller->messages();
    EXPECT_EQ(caller->count("SIP/2.0 180 Ringing"), 1u);
}

TEST_F(IncomingCalls, OurHangUpSendsBye) {
    auto line = startLine(account());
    auto caller =
        callLine(dir_, "caller", "caller.xml", *line,
                 callerKeys("<sip:0301234@127.0.0.1>", "<sip:0301234@127.0.0.1>", "none"));
    auto call = line->waitFor<IncomingCall>();
    ASSERT_TRUE(call);
    line->line().answer(call->id);
    ASSERT_TRUE(line->waitFor<Answered>());
    line->line().hangUp(call->id);
    auto ended = line->waitFor<Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->cause, sip::cause::kNormalClearing);
    EXPECT_EQ(caller->finish(), 0) << caller->messages();
    EXPECT_EQ(caller->count("BYE sip:"), 1u);
}

// An INVITE without SDP: our offer goes in the 200, the answer in the ACK,
// and our audio goes where that answer says.
TEST_F(IncomingCalls, LateOfferIsAnsweredInTheAck) {
    RtpCatcher catcher;
    auto line = startLine(account());
    auto keys = callerKeys("<sip:0301234@127.0.0.1>", "<sip:0301234@127.0.0.1>", "none");
    keys.emplace_back("rtp_port", std::to_string(catcher.port()));
    auto caller = callLine(dir_, "caller", "caller_late_offer.xml", *line, keys);
    auto call = line->waitFor<IncomingCall>();
    ASSERT_TRUE(call) << line->logText();
    line->line().answer(call->id);
    ASSERT_TRUE(line->waitFor<Answered>());
    ASSERT_TRUE(line->waitFor<Ended>());
    EXPECT_EQ(caller->finish(), 0) << caller->messages();
    EXPECT_EQ(caller->count("m=audio"), 2u);  // our offer and its answer
    EXPECT_GT(catcher.packets().size(), 20u);
}

TEST_F(IncomingCalls, CallerGivesUpBeforeTheAnswer) {
    auto line = startLine(account());
    auto caller =
        callLine(dir_, "caller", "caller_cancel.xml", *line,
                 callerKeys("<sip:0301234@127.0.0.1>", "<sip:0301234@127.0.0.1>", "none"));
    auto call = line->waitFor<IncomingCall>();
    ASSERT_TRUE(call);
    auto ended = line->waitFor<Ended>();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->cause, sip::cause::kNormalClearing);
    EXPECT_NE(ended->reason.find("CANCEL"), std::string::npos) << ended->reason;
    EXPECT_EQ(caller->finish(), 0) << caller->messages();
}

TEST_F(IncomingCalls, InviteFromElsewhereIsForbidden) {
    auto account = this->account();
    account.inviteSources = {"127.0.0.2"};
    auto line = startLine(account);
    auto caller =
        callLine(dir_, "caller", "caller.xml", *line,
                 callerKeys("<sip:0301234@127.0.0.1>", "<sip:0301234@127.0.0.1>", "none"));
    EXPECT_EQ(caller->finish(), 0) << caller->messages();
    EXPECT_EQ(caller->count("SIP/2.0 403 Forbidden"), 1u);
    EXPECT_FALSE(line->waitFor<IncomingCall>({}, std::chrono::milliseconds(0)));
    EXPECT_NE(line->logText().find("refused with 403"), std::string::npos) << line->logText();
}

TEST_F(IncomingCalls, CallsBeyondTheLimitAreBusy) {
    auto account = this->account();
    account.maxCalls = 1;
    auto line = startLine(account);
    auto keys = callerKeys("<sip:0301234@127.0.0.1>", "<sip:0301234@127.0.0.1>", "none");
    auto first = callLine(dir_, "first", "caller.xml", *line, keys);
    auto call = line->waitFor<IncomingCall>();
    ASSERT_TRUE(call);
    auto second = callLine(dir_, "second", "caller.xml", *line, keys);
    EXPECT_EQ(second->finish(), 0) << second->messages();
    EXPECT_EQ(second->count("SIP/2.0 486 Busy Here"), 1u);
    line->line().reject(call->id, 480);
    EXPECT_EQ(first->finish(), 0) << first->messages();
}

}  // namespace
}  // namespace tellmaro::test
