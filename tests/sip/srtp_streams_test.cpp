// A call's SRTP hooked onto libre's RTP sockets: what one side sends arrives
// decrypted at the other; a plain packet to a keyed socket never reaches
// the RTP handler and is counted.

#include "exchange/sip/srtp_streams.h"

#include <gtest/gtest.h>
#include <re.h>

namespace tellmaro::sip {
namespace {

struct Side {
    struct rtp_sock* rtp = nullptr;
    SrtpStreams srtp;
    std::vector<std::vector<uint8_t>> heard;
    ~Side() {
        srtp.detach();
        mem_deref(rtp);
    }
    static void handler(const struct sa*, const struct rtp_header*, struct mbuf* mb, void* arg) {
        static_cast<Side*>(arg)->heard.emplace_back(mbuf_buf(mb), mbuf_buf(mb) + mbuf_get_left(mb));
    }
    struct sa address() const {
        return *rtp_local(rtp);
    }
};

TEST(SrtpStreams, KeyedSocketsHearEachOtherAndDropPlainPackets) {
    ASSERT_EQ(libre_init(), 0);
    {
        struct sa local;
        sa_set_str(&local, "127.0.0.1", 0);
        Side a, b;
        for (Side* side : {&a, &b}) {
            ASSERT_EQ(rtp_listen(&side->rtp, IPPROTO_UDP, &local, 20000, 40000, false,
                                 Side::handler, nullptr, side),
                      0);
            ASSERT_EQ(side->srtp.attach(side->rtp, [](const struct sa&, uint32_t) { return true; }),
                      0);
        }
        const SdesKey ofA = newSdesKey(1, SrtpSuite::AesCm128Sha1_32);
        const SdesKey ofB = newSdesKey(1, SrtpSuite::AesCm128Sha1_32);
        ASSERT_EQ(a.srtp.key(ofA, ofB), 0);
        ASSERT_EQ(b.srtp.key(ofB, ofA), 0);
        const std::vector<uint8_t> audio(160, 0x55);
        auto send = [&](Side& from, Side& to) {
            struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + audio.size());
            mb->pos = mb->end = RTP_HEADER_SIZE;
            mbuf_write_mem(mb, audio.data(), audio.size());
            mb->pos = RTP_HEADER_SIZE;
            struct sa to_address = to.address();
            EXPECT_EQ(rtp_send(from.rtp, &to_address, false, false, 8, 160, mb), 0);
            mem_deref(mb);
        };
        auto deliver = [] {
            struct tmr stop;
            tmr_init(&stop);
            tmr_start(
                &stop, 100, [](void*) { re_cancel(); }, nullptr);
            re_main(nullptr);
        };
        send(a, b);
        send(b, a);
        deliver();
        // b sends plain now: a's context refuses the packet.
        b.srtp.plain();
        send(b, a);
        deliver();
        EXPECT_EQ(b.heard, std::vector<std::vector<uint8_t>>{audio});
        EXPECT_EQ(a.heard, std::vector<std::vector<uint8_t>>{audio});
        EXPECT_EQ(a.srtp.refused(), 1u);
        EXPECT_EQ(b.srtp.refused(), 0u);
    }
    libre_close();
}

}  // namespace
}  // namespace tellmaro::sip
