// SRTP keys in the SDP: what a call takes under each policy, and that keys
// exchanged this way work in libre's SRTP both ways and nothing else does.

#include "exchange/sip/sdes_keys.h"

#include <gtest/gtest.h>
#include <re.h>

namespace tellmaro::sip {
namespace {

constexpr const char* kKey = "PS1uQCVeeCFCanVmcjkpPywjNWhcYD0mXXtxaVBR";  // 30 bytes
using Outcome = MediaKeying::Outcome;

TEST(SdesKeys, WhatACallTakesUnderEachPolicy) {
    const std::string k80 = std::string("1 AES_CM_128_HMAC_SHA1_80 inline:") + kKey;
    const std::string k32 = std::string("2 AES_CM_128_HMAC_SHA1_32 inline:") + kKey;
    const std::string unknown = std::string("3 AES_256_CM_HMAC_SHA1_80 inline:") + kKey;
    const auto P = SrtpPolicy::Mandatory;
    const auto O = SrtpPolicy::Optional;
    const auto F = SrtpPolicy::Off;
    auto _80 = SrtpSuite::AesCm128Sha1_80;
    auto _32 = SrtpSuite::AesCm128Sha1_32;
    struct Row {
        SrtpPolicy policy;
        const char* profile;
        std::vector<std::string> crypto;
        bool overTls;
        bool answer;  // to our offer of tag 1 (_80) and tag 2 (_32)
        Outcome outcome;
        SrtpSuite suite;
    };
    const Row rows[] = {
        {P, "RTP/AVP", {}, true, false, Outcome::Refused, _80},
        {O, "RTP/AVP", {}, true, false, Outcome::Plain, _80},
        {F, "RTP/AVP", {k80}, true, false, Outcome::Plain, _80},
        {F, "RTP/SAVP", {k80}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k80}, true, false, Outcome::Encrypted, _80},
        {P, "RTP/SAVPF", {k32}, true, false, Outcome::Encrypted, _32},
        {O, "RTP/AVP", {k80}, true, false, Outcome::Encrypted, _80},
        {P, "RTP/SAVP", {unknown}, true, false, Outcome::Refused, _80},
        {O, "RTP/AVP", {unknown}, true, false, Outcome::Plain, _80},
        {O, "RTP/SAVP", {unknown}, true, false, Outcome::Refused, _80},
        {P,
         "RTP/SAVP",
         {"1 AES_CM_128_HMAC_SHA1_80 inline:!!"},
         true,
         false,
         Outcome::Refused,
         _80},
        {P,
         "RTP/SAVP",
         {"1 AES_CM_128_HMAC_SHA1_80 inline:MTIzNDU2Nzg5MDEyMzQ1Ng=="},
         true,
         false,
         Outcome::Refused,
         _80},
        {P, "RTP/SAVP", {k80 + "|2^20|1:4"}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k80 + " KDR=1"}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k80 + "|2^31"}, true, false, Outcome::Encrypted, _80},
        {P, "RTP/SAVP", {unknown, k32, k80}, true, false, Outcome::Encrypted, _32},
        {P, "RTP/SAVP", {k80}, false, false, Outcome::Refused, _80},
        {O, "RTP/AVP", {k80}, false, false, Outcome::Plain, _80},
        {O, "RTP/SAVP", {k80}, false, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k32}, true, true, Outcome::Encrypted, _32},
        {P,
         "RTP/SAVP",
         {"1 AES_CM_128_HMAC_SHA1_32 inline:" + std::string(kKey)},
         true,
         true,
         Outcome::Refused,
         _80},
        {P, "RTP/SAVP", {k80, k32}, true, true, Outcome::Refused, _80},
        {O, "RTP/AVP", {}, true, true, Outcome::Plain, _80},
    };
    const SdesKey offered[] = {newSdesKey(1, _80), newSdesKey(2, _32)};
    for (const auto& row : rows) {
        std::string sdp =
            "v=0\r\no=- 1 1 IN IP4 192.0.2.9\r\ns=-\r\nc=IN IP4 192.0.2.9\r\nt=0 0\r\n"
            "m=audio 4000 " +
            std::string(row.profile) + " 8\r\n";
        for (const auto& value : row.crypto) {
            sdp += "a=crypto:" + value + "\r\n";
        }
        auto media = chooseMedia(sdp);
        ASSERT_TRUE(media) << sdp;
        auto keying = decideKeying(
            row.policy, *media, row.overTls,
            row.answer ? std::span<const SdesKey>(offered) : std::span<const SdesKey>());
        EXPECT_EQ(keying.outcome, row.outcome) << sdp << keying.refusal;
        if (keying.outcome == Outcome::Encrypted) {
            EXPECT_EQ(keying.peer.suite, row.suite) << sdp;
        } else if (keying.outcome == Outcome::Refused) {
            EXPECT_FALSE(keying.refusal.empty()) << sdp;
        }
    }
}

struct Deref {
    void operator()(void* object) const { mem_deref(object); }
};
using Srtp = std::unique_ptr<struct srtp, Deref>;

Srtp context(const SdesKey& key) {
    struct srtp* made = nullptr;
    EXPECT_EQ(srtp_alloc(&made,
                         key.suite == SrtpSuite::AesCm128Sha1_32 ? SRTP_AES_CM_128_HMAC_SHA1_32
                                                                 : SRTP_AES_CM_128_HMAC_SHA1_80,
                         key.key.data(), key.key.size(), 0),
              0);
    return Srtp(made);
}

// An RTP packet (sequence `seq`) through the sender's context; then what the
// receiver's context makes of it, with one byte changed where `tamper` says.
int roundTrip(struct srtp* sender, struct srtp* receiver, uint16_t seq, long tamper) {
    std::unique_ptr<struct mbuf, Deref> mb(mbuf_alloc(256));
    struct rtp_header header {};
    header.ver = 2;
    header.pt = 8;
    header.seq = seq;
    header.ts = 160u * seq;
    header.ssrc = 0x1234;
    rtp_hdr_encode(mb.get(), &header);
    const std::vector<uint8_t> audio(160, 0x55);
    mbuf_write_mem(mb.get(), audio.data(), audio.size());
    mb->pos = 0;
    EXPECT_EQ(srtp_encrypt(sender, mb.get()), 0);
    EXPECT_NE(std::vector<uint8_t>(mb->buf + 12, mb->buf + 172), audio);
    if (tamper >= 0) {
        mb->buf[tamper] ^= 1;
    }
    mb->pos = 0;
    int err = srtp_decrypt(receiver, mb.get());
    if (!err) {
        EXPECT_EQ(std::vector<uint8_t>(mb->buf + 12, mb->buf + 172), audio);
    }
    return err;
}

TEST(SdesKeys, KeysFromTheSdpWorkInLibreSrtpAndNothingElseDoes) {
    for (auto suite : {SrtpSuite::AesCm128Sha1_80, SrtpSuite::AesCm128Sha1_32}) {
        // Each side keys what it sends; the other reads the key from its attribute.
        const SdesKey offer = newSdesKey(1, suite);
        const SdesKey answer = newSdesKey(1, suite);
        auto offerRead = parseCrypto(cryptoAttribute(offer));
        auto answerRead = parseCrypto(cryptoAttribute(answer));
        ASSERT_TRUE(offerRead.key && answerRead.key) << offerRead.problem << answerRead.problem;
        EXPECT_EQ(*offerRead.key, offer);
        auto offererSends = context(offer);
        auto answererReceives = context(*offerRead.key);
        auto answererSends = context(answer);
        auto offererReceives = context(*answerRead.key);
        EXPECT_EQ(roundTrip(offererSends.get(), answererReceives.get(), 1, -1), 0);
        EXPECT_EQ(roundTrip(answererSends.get(), offererReceives.get(), 1, -1), 0);
        // A changed payload byte or authentication tag, or the wrong key, is refused.
        EXPECT_NE(roundTrip(offererSends.get(), answererReceives.get(), 2, 40), 0);
        EXPECT_NE(roundTrip(offererSends.get(), answererReceives.get(), 3, 173), 0);
        auto wrong = context(answer);
        EXPECT_NE(roundTrip(offererSends.get(), wrong.get(), 4, -1), 0);
    }
}

}  // namespace
}  // namespace tellmaro::sip
