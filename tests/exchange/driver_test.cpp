// What an application sees through the in-process driver: the controller and its limits, blocks
// behind pointers as libcapi20 lays them out, and audio played and heard.
#include "capi/byte_order.h"
#include "exchange/simulated/audio_block.h"
#include "line_flow.h"

namespace tellmaro::exchange::test {
namespace {

// Blocks come through Data64 (Data 0), held until answered or their call ends; requests alike.
TEST(InProcessDriver, DataBlocksTravelThroughTheirPointers) {
    LineFlow f("party mobile 0171\nlisten; answer mobile m; wait 512ms");
    auto first = f.play("get DATA_B3_IND");
    f.play("get DATA_B3_IND; check line held-blocks=2; put data-resp m; check line held-blocks=1");
    EXPECT_EQ(first.bytes.size() == 30 && capi::readU32(first.bytes, 12) == 0,
              capi::kDataB3Uses64BitPointer);
    const auto expected = makeAudioBlock({f.party("mobile"), 0});
    EXPECT_TRUE(std::ranges::equal(expected, first.block));
    f.play("put data m; get DATA_B3_CONF Info=0x0000; check mobile received 1");
    f.play("put data m @12=00,00,00,00 size=22 length=22; get DATA_B3_CONF Info=0x2007");
    f.play("mobile hangup; get DISCONNECT_B3_IND");
    EXPECT_TRUE(std::ranges::equal(expected, first.block)) << "readable until its call ends";
    f.play("get DISCONNECT_IND; check line held-blocks=0");
}

TEST(InProcessDriver, PresentsTheControllerItsProfileAllowsAndRefusesWhatItCannot) {
    LineConfig config;
    config.maxApplications = 2;
    config.identity.profile = makeProfile({.bChannels = 1});
    LineFlow f("put seize; put seize; get CONNECT_CONF Info=0x0000; get CONNECT_CONF Info=0x2003",
               config);
    capi::CapiProfile count{};
    count.fill(0xEE);
    ASSERT_EQ(f.driver.getProfile(0, count), 0u);
    EXPECT_EQ(count[0] | count[1] << 8 | count[2] << 16, 1) << "one controller, reserved 0";
    EXPECT_EQ(f.driver.getProfile(2, count), 0x2002u);

    auto& controller = f.line.controller();
    uint32_t appl = 0;
    EXPECT_EQ(f.driver.registerApplication({.maxB3BlockSize = 64}, appl), 0x1002u);
    EXPECT_EQ(f.driver.registerApplication({.maxLogicalConnections = 0}, appl), 0x1005u);
    EXPECT_EQ(controller.registerApplicationWithId(f.appl, {}), 0x1101u) << "id in use";
    EXPECT_EQ(controller.registerApplicationWithId(77, {}), 0u);
    EXPECT_EQ(f.driver.registerApplication({}, appl), 0x1001u);
    EXPECT_EQ(f.driver.release(77), 0u);
    EXPECT_EQ(f.driver.release(77), 0x1101u);

    controller.setDriverPresent(false);
    EXPECT_EQ(f.driver.installed(), 0x1009u);
    EXPECT_EQ(f.driver.registerApplication({}, appl), 0x1009u);
    controller.setDriverPresent(true);
    EXPECT_EQ(f.driver.registerApplication({}, appl), 0u);
}

// One block per leg and 256 ms, with handles below 256 that never repeat the last one. The
// relay's way: every block from one leg is sent on to the other with its handle plus 256, and
// answered once its copy is confirmed.
TEST(Audio, BlocksPutOnALegArePlayedToItsPartyInOrderAndConfirmed) {
    LineFlow f(R"(party mobile 0171; party alice 0301 answer=1s
        listen; put dial 0301; get CONNECT_CONF >a; wait 1s; get CONNECT_ACTIVE_IND
        put active-resp a; put b3 a; get CONNECT_B3_CONF; get CONNECT_B3_ACTIVE_IND
        put b3-active-resp a; answer mobile m)");
    uint32_t mobile = f.legs.at("m").ncci, alice = f.legs.at("a").ncci;
    std::vector<uint8_t> prompt(2048, 0xD5);
    std::map<uint32_t, int> previous;            // each leg's last handle, plus 1
    for (int round = 0; round < 300; ++round) {  // past a wrap of the handles
        Received blocks[] = {f.play("wait 256ms; get DATA_B3_IND DataLength=2048"),
                             f.play("get DATA_B3_IND DataLength=2048")};
        f.play("nothing");
        for (const auto& ind : blocks) {
            ASSERT_LT(ind.word(18), 256u);
            ASSERT_NE(std::exchange(previous[ind.address()], ind.word(18) + 1), ind.word(18) + 1);
            bool fromMobile = ind.address() == mobile;
            f.put(f.relay.dataB3Req(fromMobile ? alice : mobile,
                                    fromMobile ? ind.block.data() : prompt.data(), 2048,
                                    ind.word(18) + 256, 0));
        }
        for (const auto& ind : blocks) {
            EXPECT_EQ(f.play("get DATA_B3_CONF Info=0x0000").word(12), ind.word(18) + 256);
            f.put(f.relay.dataB3Resp(capi::DataB3RespNumber::AfterConfirmation, ind.address(),
                                     ind.word(18)));
        }
    }
    HeardCheck heard = checkHeard(f.line.partyRecord(f.party("alice")), f.party("mobile"));
    EXPECT_TRUE(heard.ok()) << heard.describe();
    EXPECT_GE(heard.blocks, 295u);
    auto prompts = unnumberedHashes(f.line.partyRecord(f.party("mobile")));
    EXPECT_EQ(prompts.size(), f.line.partyRecord(f.party("alice")).blocksSent);
    EXPECT_EQ(prompts.front(), audioBlockHash(prompt));
    f.play("check clean");
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
