// Faults of the line and the driver: a block of the wrong size, a relayed
// block the line refuses, a failed send and a driver that is gone.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine_harness.h"
#include "flow_checks.h"
#include "message_layout.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using exchange::PartyEvent;
using relay::CallPhase;

constexpr uint32_t kMobileNcci = 0x00010101;
constexpr uint32_t kTargetNcci = 0x00020301;

// A relayed call with the mobile (PLCI 0x101, NCCI 0x10101) and the called
// party (PLCI 0x301, NCCI 0x20301) talking.
struct Conversation : MobileCall {
    explicit Conversation(bool totalDisconnect = false) : MobileCall(options(totalDisconnect)) {
        EXPECT_TRUE(dial("0301234567#", CallPhase::Relaying));
        h.runFor(2s);
    }
    static HarnessOptions options(bool totalDisconnect) {
        HarnessOptions o;
        o.settings.totalDisconnect = totalDisconnect;
        return o;
    }
    // Runs until `party` has just spoken its next block; nothing else is
    // waiting for the engine then.
    void untilNextBlockOf(exchange::PartyId party) {
        uint32_t sent = h.line.partyRecord(party).blocksSent;
        EXPECT_TRUE(h.runUntil([&] { return h.line.partyRecord(party).blocksSent > sent; }, 1s));
    }
};

// A block of the wrong size resets its connection; it and whatever arrives
// before the reset is confirmed are answered and dropped, then the relay
// goes on. (The line only sends whole blocks; the driver layer between the
// engine and the line shortens this one.)
TEST(DriverFaults, BlockOfTheWrongSizeResetsItsConnection) {
    for (uint32_t ncci : {kMobileNcci, kTargetNcci}) {
        SCOPED_TRACE(ncci == kMobileNcci ? "from the mobile" : "from the called party");
        Conversation c;
        c.h.scripted.shortenNextDataB3Ind(1024, ncci);
        size_t before = c.h.sentMessages().size();
        c.h.runFor(2s);

        std::vector<std::string> after;
        for (size_t i = before; i < c.h.sentMessages().size(); ++i) {
            after.push_back(layoutOf(c.h.sentMessages()[i]));
        }
        char reset[64];
        std::snprintf(reset, sizeof reset, "RESET_B3_REQ #0 8:0x%08X 12:00", ncci);
        auto at = std::find(after.begin(), after.end(), reset);
        ASSERT_NE(at, after.end()) << ::testing::PrintToString(after);
        ASSERT_NE(at + 1, after.end());
        char answer[64];
        std::snprintf(answer, sizeof answer, "DATA_B3_RESP #135 8:0x%08X", ncci);
        EXPECT_TRUE((at + 1)->starts_with(answer)) << *(at + 1);
        EXPECT_EQ(c.h.phase(), CallPhase::Relaying);
        EXPECT_EQ(c.h.engine.state().resetPendingNcci, 0u);

        // The short block is the one block the other side misses.
        exchange::PartyId speaker = ncci == kMobileNcci ? c.mobile : c.target;
        exchange::PartyId listener = ncci == kMobileNcci ? c.target : c.mobile;
        auto heard = exchange::checkHeard(c.h.line.partyRecord(listener), speaker);
        EXPECT_EQ(heard.missing, 1u) << heard.describe();
        EXPECT_EQ(heard.repeated + heard.reordered + heard.damaged, 0u) << heard.describe();
        c.hangUpAndSettle();
    }
}

// At number entry a short block gets no prompt block; the greeting goes on
// with its next block after the reset.
TEST(DriverFaults, BlockOfTheWrongSizeAtNumberEntry) {
    MobileCall c;
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Dialogue));
    c.h.runFor(2s);
    c.h.scripted.shortenNextDataB3Ind(2000);
    c.h.runFor(2s);

    EXPECT_EQ(countSent(c.h, "RESET_B3_REQ"), 1u);
    auto prompts = heardPrompts(c.h, c.mobile);
    ASSERT_EQ(promptNames(prompts), std::vector<std::string>{"welcome.pdt (cut)"});
    EXPECT_EQ(silentBlocksBetween(prompts), std::vector<int>{});
    // Every block the mobile sent but that one brought a prompt block.
    EXPECT_EQ(prompts[0].blocks + 1, c.h.line.partyRecord(c.mobile).blocksSent);
    c.hangUpAndSettle();
}

// The line refuses the relayed copy of a mobile block: the called party's
// B3 connection is cleared and the mobile caller is back at number entry;
// hanging up then releases the called party too.
TEST(DriverFaults, RefusedBlockToTheCalledParty) {
    Conversation c;
    c.untilNextBlockOf(c.mobile);
    c.h.line.controller().refuseNextDataB3Req(0x300C);
    c.h.runFor(1s);

    EXPECT_EQ(c.h.line.accounting().refusedDataB3Reqs, 1u);
    EXPECT_EQ(c.h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(c.h.engine.state().targetNcci, 0u);
    EXPECT_EQ(countSent(c.h, "DISCONNECT_B3_REQ"), 1u);
    EXPECT_NE(sentOfKind(c.h, "DISCONNECT_B3_REQ")[0].find("NCCI=0x00020301"), std::string::npos);
    c.h.runFor(2s);
    auto prompts = promptNames(heardPrompts(c.h, c.mobile));
    EXPECT_EQ(prompts.back(), "welcome.pdt (cut)");
    EXPECT_NE(withoutTimes(c.h.callLogText()).find("   Ende des Gesprächs  : <time>\r\n"),
              std::string::npos);

    c.hangUpAndSettle();
    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::ClearedByPc), 1u);
}

// The line refuses the relayed copy of a called party's block: the mobile
// leg's B3 connection is cleared, which ends the call, and the called party
// is released with it.
TEST(DriverFaults, RefusedBlockToTheMobile) {
    Conversation c;
    c.untilNextBlockOf(c.target);
    c.h.line.controller().refuseNextDataB3Req(0x300C);
    c.h.runFor(1s);

    EXPECT_EQ(c.h.line.accounting().refusedDataB3Reqs, 1u);
    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_EQ(c.h.line.partyRecord(c.mobile).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_EQ(c.h.shell.trays.back(), "Tellmaro ist betriebsbereit");
    EXPECT_LINE_SETTLED(c.h);
}

// The report goes on when error.log cannot be written.
TEST(DriverFaults, UnwritableErrorLogDoesNotStopTheReport) {
    Conversation c;
    std::filesystem::create_directory(c.h.appDir / "error.log");
    c.h.line.controller().failNextPut(0x1103);
    c.h.runFor(1s);
    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_EQ(c.h.line.accounting().applications, 1u);
    EXPECT_FALSE(c.h.shell.ended);
    EXPECT_LINE_SETTLED(c.h);
}

}  // namespace
}  // namespace tellmaro::test
