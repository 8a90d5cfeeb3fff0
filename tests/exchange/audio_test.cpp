// Audio on a B3 connection: one numbered block per 256 ms, at most 7
// unanswered, blocks played to the far party, and the blocks' numbering.
#include <gtest/gtest.h>

#include <set>

#include "exchange/simulated/audio_block.h"
#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

constexpr size_t kHandle = 18;

TEST(Audio, OneBlockPer256MillisecondsWithFreshHandlesBelow256) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);

    h.advance(255ms);
    h.expectNothing();
    std::set<uint16_t> recent;
    uint16_t previous = 0;
    for (uint32_t i = 0; i < 600; ++i) {  // past a wrap of the handles
        h.advance(i == 0 ? 1ms : 256ms);
        auto ind = h.expect(Command::DataB3, Subcommand::Ind);
        ASSERT_EQ(ind.address(), leg.ncci);
        ASSERT_EQ(ind.word(16), 2048u) << "Data length";
        uint16_t handle = ind.word(kHandle);
        ASSERT_LT(handle, 256u);
        if (i > 0) {
            ASSERT_NE(handle, previous);
        }
        previous = handle;
        auto origin = recogniseAudioBlock(ind.block);
        ASSERT_TRUE(origin.id);
        EXPECT_EQ(*origin.id, (AudioBlockId{mobile, i}));
        EXPECT_FALSE(origin.damaged);
        h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, handle));
        h.expectNothing();
    }
    EXPECT_EQ(h.line.partyRecord(mobile).blocksSent, 600u);
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();
}

TEST(Audio, ConnectionWithSevenUnansweredBlocksDropsTheRestAndCountsThem) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);

    h.advance(10 * 256ms);
    std::set<uint16_t> handles;
    std::vector<Received> blocks;
    while (auto ind = h.get()) {
        handles.insert(ind->word(kHandle));
        blocks.push_back(*ind);
    }
    EXPECT_EQ(blocks.size(), 7u);
    EXPECT_EQ(handles.size(), 7u) << "handles of unanswered blocks are not reused";
    auto accounting = h.line.accounting();
    EXPECT_EQ(accounting.droppedAudioBlocks, 3u);
    EXPECT_EQ(accounting.unansweredDataB3Inds, 7u);

    for (const auto& block : blocks) {
        h.putOk(
            h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, block.word(kHandle)));
    }
    h.advance(256ms);
    auto next = h.expect(Command::DataB3, Subcommand::Ind);
    EXPECT_EQ(recogniseAudioBlock(next.block).id, (AudioBlockId{mobile, 10}))
        << "blocks 7 to 9 were lost";
    EXPECT_EQ(handles.count(next.word(kHandle)), 0u);
}

// The relay's way: every block from one leg is sent on to the other with
// its handle plus 256, and answered once its copy is confirmed.
TEST(Audio, BlocksPutOnALegArePlayedToItsPartyInOrderAndConfirmed) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    PartyId alice = h.line.addParty("0301", [] {
        PartyBehaviour b;
        b.answerAfter = 1s;
        return b;
    }());
    h.listen();
    Leg aliceLeg = h.callAndConnect("0301");
    Leg mobileLeg = h.answerCallFrom(mobile);
    std::vector<uint8_t> prompt(2048, 0xD5);

    for (int round = 0; round < 120; ++round) {
        h.advance(256ms);
        std::vector<Received> blocks;
        while (auto ind = h.get()) {
            ASSERT_TRUE(ind->header.is(Command::DataB3, Subcommand::Ind)) << ind->text();
            blocks.push_back(*ind);
        }
        ASSERT_EQ(blocks.size(), 2u);
        for (const auto& ind : blocks) {
            bool fromMobile = ind.address() == mobileLeg.ncci;
            uint32_t to = fromMobile ? aliceLeg.ncci : mobileLeg.ncci;
            // Alice hears the mobile; the mobile hears a prompt block.
            const uint8_t* data = fromMobile ? ind.block.data() : prompt.data();
            h.putOk(h.relay.dataB3Req(to, data, 2048, ind.word(kHandle) + 256, 0));
        }
        for (const auto& ind : blocks) {
            auto conf = h.expect(Command::DataB3, Subcommand::Conf);
            EXPECT_EQ(conf.word(12), ind.word(kHandle) + 256);
            EXPECT_EQ(conf.word(14), 0u) << "Info";
            h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::AfterConfirmation, ind.address(),
                                       ind.word(kHandle)));
        }
    }
    HeardCheck heard = checkHeard(h.line.partyRecord(alice), mobile);
    EXPECT_TRUE(heard.ok()) << heard.describe();
    EXPECT_GE(heard.blocks, 115u);
    auto prompts = unnumberedHashes(h.line.partyRecord(mobile));
    EXPECT_EQ(prompts.size(), h.line.partyRecord(alice).blocksSent);
    EXPECT_EQ(prompts.front(), audioBlockHash(prompt));
    EXPECT_TRUE(h.clean()) << h.violations();
}

TEST(Audio, ScriptedRefusalOfADataBlockConfirmsWithItsInfoAndPlaysNothing) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    std::vector<uint8_t> block(2048, 1);

    h.line.controller().refuseNextDataB3Req(0x300C);
    h.putOk(h.relay.dataB3Req(leg.ncci, block.data(), 2048, 3, 0));
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0x300Cu);
    h.putOk(h.relay.dataB3Req(leg.ncci, block.data(), 2048, 4, 0));
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0u);
    EXPECT_EQ(h.line.partyRecord(mobile).received.size(), 1u);
    EXPECT_EQ(h.line.accounting().refusedDataB3Reqs, 1u);
    EXPECT_TRUE(h.line.violations().empty());
}

TEST(Audio, CheckHeardFindsGapsRepeatsAndDamage) {
    auto record = [](std::initializer_list<uint32_t> sequences, bool damageLast = false) {
        PartyRecord r;
        for (uint32_t s : sequences) {
            auto block = makeAudioBlock({7, s});
            ReceivedBlock received;
            received.origin = recogniseAudioBlock(block);
            r.received.push_back(received);
        }
        if (damageLast) {
            auto block = makeAudioBlock({7, 99});
            block[100] ^= 1;
            r.received.back().origin = recogniseAudioBlock(block);
        }
        return r;
    };
    EXPECT_TRUE(checkHeard(record({4, 5, 6}), 7).ok());
    EXPECT_FALSE(checkHeard(record({4, 5, 6}), 8).ok()) << "nothing from another party";
    EXPECT_EQ(checkHeard(record({4, 6, 7}), 7).missing, 1u);
    EXPECT_EQ(checkHeard(record({4, 5, 5}), 7).repeated, 1u);
    EXPECT_EQ(checkHeard(record({4, 6, 5}), 7).reordered, 1u);
    EXPECT_EQ(checkHeard(record({4, 5, 6}, true), 7).damaged, 1u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
