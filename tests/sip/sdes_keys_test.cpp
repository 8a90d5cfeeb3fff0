// SRTP keys in the SDP: what a call takes under each policy.

#include "exchange/sip/sdes_keys.h"

#include <gtest/gtest.h>

namespace tellmaro::sip {
namespace {

constexpr const char* kKey = "PS1uQCVeeCFCanVmcjkpPywjNWhcYD0mXXtxaVBR";  // 30 bytes
using Outcome = MediaKeying::Outcome;

TEST(SdesKeys, WhatACallTakesUnderEachPolicy) {
    const std::string k80 = std::string("1 AES_CM_128_HMAC_SHA1_80 inline:") + kKey;
    const std::string k32 = std::string("2 AES_CM_128_HMAC_SHA1_32 inline:") + kKey;
    const std::string unknown = std::string("3 AES_256_CM_HMAC_SHA1_80 inline:") + kKey;
    const std::string notBase64 = "1 AES_CM_128_HMAC_SHA1_80 inline:!!";
    const std::string short16 = "1 AES_CM_128_HMAC_SHA1_80 inline:MTIzNDU2Nzg5MDEyMzQ1Ng==";
    const std::string k32AsTag1 = std::string("1 AES_CM_128_HMAC_SHA1_32 inline:") + kKey;
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
        {P, "RTP/SAVP", {notBase64}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {short16}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k80 + "|2^20|1:4"}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k80 + " KDR=1"}, true, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k80 + "|2^31"}, true, false, Outcome::Encrypted, _80},
        {P, "RTP/SAVP", {unknown, k32, k80}, true, false, Outcome::Encrypted, _32},
        {P, "RTP/SAVP", {k80}, false, false, Outcome::Refused, _80},
        {O, "RTP/AVP", {k80}, false, false, Outcome::Plain, _80},
        {O, "RTP/SAVP", {k80}, false, false, Outcome::Refused, _80},
        {P, "RTP/SAVP", {k32}, true, true, Outcome::Encrypted, _32},
        {P, "RTP/SAVP", {k32AsTag1}, true, true, Outcome::Refused, _80},
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

}  // namespace
}  // namespace tellmaro::sip
