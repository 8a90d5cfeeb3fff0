#pragma once
// SRTP keys exchanged in the SDP (SDES, RFC 4568: "a=crypto:1
// AES_CM_128_HMAC_SHA1_80 inline:<base64 key and salt>"): reading and
// writing the attributes, and what a call does with a peer's offer or answer
// under the account's policy. The keys themselves are used by libre's SRTP
// (srtp_streams.h).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/call_fields.h"
#include "exchange/sip/sip_account.h"

namespace tellmaro::sip {

enum class SrtpSuite { AesCm128Sha1_80, AesCm128Sha1_32 };

// An AES-128 master key and its 112-bit salt, as the inline key carries them.
constexpr size_t kSdesKeySize = 30;

struct SdesKey {
    unsigned tag = 1;
    SrtpSuite suite = SrtpSuite::AesCm128Sha1_80;
    std::array<uint8_t, kSdesKeySize> key{};
    bool operator==(const SdesKey&) const = default;
};

const char* suiteName(SrtpSuite suite);

// One a=crypto value (without "crypto:"), or why it cannot be used: an
// unknown suite, another key method, a key that is no base64 of 30 bytes,
// several keys, an MKI or session parameters (libre's SRTP takes none).
struct ParsedCrypto {
    std::optional<SdesKey> key;
    std::string problem;
};
ParsedCrypto parseCrypto(std::string_view value);

// The value of our a=crypto attribute for `key`.
std::string cryptoAttribute(const SdesKey& key);

// A fresh key for `suite` from libre's random source (OpenSSL's); the
// process ends with a message when that source fails.
SdesKey newSdesKey(unsigned tag, SrtpSuite suite);

struct MediaKeying {
    enum class Outcome { Plain, Encrypted, Refused };
    Outcome outcome = Outcome::Plain;
    SdesKey peer;         // Encrypted: the key the peer sends with
    std::string refusal;  // Refused: why, for the log
};

// What to do with the peer's SDP. `offered`: our keys when `peer` answers
// our offer (its one attribute must carry the tag and suite of one of them),
// empty when the peer offers. `overTls`: whether the SIP message came over
// TLS; keys that anyone on the path could read are never used.
MediaKeying decideKeying(SrtpPolicy policy, const MediaOffer& peer, bool overTls,
                         std::span<const SdesKey> offered);

}  // namespace tellmaro::sip
