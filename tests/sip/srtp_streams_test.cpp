// A call's SRTP hooked onto libre's RTP sockets, keyed from one SDES
// exchange: what one side sends arrives decrypted at the other; a plain
// packet, or one under another key, never reaches the RTP handler and is
// counted.

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
        // Each side reads the other's key from its attribute.
        const SdesKey offer = newSdesKey(1, SrtpSuite::AesCm128Sha1_32);
        const SdesKey answer = newSdesKey(1, SrtpSuite::AesCm128Sha1_32);
        auto offerRead = parseCrypto(cryptoAttribute(offer)).key;
        auto answerRead = parseCrypto(cryptoAttribute(answer)).key;
        ASSERT_TRUE(offerRead && answerRead);
        ASSERT_EQ(a.srtp.key(offer, *answerRead), 0);
        ASSERT_EQ(b.srtp.key(answer, *offerRead), 0);
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
        // b sends plain, then under a key of its own: a refuses both.
        b.srtp.plain();
        send(b, a);
        ASSERT_EQ(b.srtp.key(newSdesKey(1, SrtpSuite::AesCm128Sha1_32), offer), 0);
        send(b, a);
        deliver();
        EXPECT_EQ(b.heard, std::vector<std::vector<uint8_t>>{audio});
        EXPECT_EQ(a.heard, std::vector<std::vector<uint8_t>>{audio});
        EXPECT_EQ(a.srtp.refused(), 2u);
        EXPECT_EQ(b.srtp.refused(), 0u);
    }
    libre_close();
}

}  // namespace
}  // namespace tellmaro::sip
