// Audio on a B3 connection: one numbered block per 256 ms with fresh handles,
// at most 7 unanswered, blocks played to the far party, and the check of
// what a party heard.
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
    uint16_t previous = 0xFFFF;
    for (uint32_t i = 0; i < 600; ++i) {  // past a wrap of the handles
        h.advance(i == 0 ? 1ms : 256ms);
        auto ind = h.expect(Command::DataB3, Subcommand::Ind);
        ASSERT_EQ(ind.address(), leg.ncci);
        ASSERT_EQ(ind.word(16), 2048u) << "Data length";
        uint16_t handle = ind.word(kHandle);
        ASSERT_LT(handle, 256u);
        ASSERT_NE(handle, previous);
        previous = handle;
        auto origin = recogniseAudioBlock(ind.block);
        ASSERT_EQ(origin.id, (AudioBlockId{mobile, i}));
        EXPECT_FALSE(origin.damaged);
        h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, handle));
        h.expectNothing();
    }
}

TEST(Audio, HandlesOfUnansweredBlocksAreNotReusedAndDroppedBlocksAreLost) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    h.advance(10 * 256ms);
    std::set<uint16_t> handles;
    while (auto ind = h.get()) {
        handles.insert(ind->word(kHandle));
    }
    ASSERT_EQ(handles.size(), 7u);
    for (uint16_t handle : handles) {
        h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, handle));
    }
    h.advance(256ms);
    auto next = h.expect(Command::DataB3, Subcommand::Ind);
    EXPECT_EQ(recogniseAudioBlock(next.block).id, (AudioBlockId{mobile, 10}));
    EXPECT_EQ(handles.count(next.word(kHandle)), 0u);
}

// The relay's way: every block from one leg is sent on to the other with
// its handle plus 256, and answered once its copy is confirmed.
TEST(Audio, BlocksPutOnALegArePlayedToItsPartyInOrderAndConfirmed) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    PartyBehaviour answersAfter1s;
    answersAfter1s.answerAfter = 1s;
    PartyId alice = h.line.addParty("0301", answersAfter1s);
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
            const uint8_t* data = fromMobile ? ind.block.data() : prompt.data();
            h.putOk(h.relay.dataB3Req(fromMobile ? aliceLeg.ncci : mobileLeg.ncci, data, 2048,
                                      ind.word(kHandle) + 256, 0));
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
    EXPECT_TRUE(h.line.accounting().clean()) << h.violations();
}

TEST(Audio, CheckHeardFindsGapsRepeatsAndDamage) {
    auto record = [](std::initializer_list<uint32_t> sequences, bool damageLast = false) {
        PartyRecord r;
        for (uint32_t s : sequences) {
            auto block = makeAudioBlock({7, s});
            block[100] ^= damageLast && r.received.size() + 1 == sequences.size() ? 1 : 0;
            r.received.push_back({{}, 0, recogniseAudioBlock(block), {}});
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
