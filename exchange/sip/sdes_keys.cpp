// SDES attributes on libre's base64 and random source; the choice of what a
// call takes is decided here.

#include "exchange/sip/sdes_keys.h"

#include <re.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "data/text_rules.h"

namespace tellmaro::sip {

namespace {

constexpr size_t kInlineKeyLength = 40;  // 30 bytes in base64, no padding
constexpr size_t kLongestTag = 9;        // RFC 4568 allows 1 to 9 digits

std::optional<SrtpSuite> suiteNamed(std::string_view name) {
    for (auto suite : {SrtpSuite::AesCm128Sha1_80, SrtpSuite::AesCm128Sha1_32}) {
        if (name == suiteName(suite)) {
            return suite;
        }
    }
    return std::nullopt;
}

bool base64Text(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '/';
    });
}

// Splits off the text up to the first space.
std::string_view word(std::string_view& text) {
    text = data::trim(text);
    auto space = text.find_first_of(" \t");
    auto first = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space);
    return first;
}

MediaKeying refused(std::string why) {
    return {MediaKeying::Outcome::Refused, {}, std::move(why)};
}

}  // namespace

const char* suiteName(SrtpSuite suite) {
    return suite == SrtpSuite::AesCm128Sha1_32 ? "AES_CM_128_HMAC_SHA1_32"
                                               : "AES_CM_128_HMAC_SHA1_80";
}

ParsedCrypto parseCrypto(std::string_view value) {
    auto tag = word(value);
    auto suiteText = word(value);
    auto keyParams = word(value);
    if (tag.empty() || tag.size() > kLongestTag || !data::allDigits(tag)) {
        return {std::nullopt, "no tag"};
    }
    auto suite = suiteNamed(suiteText);
    if (!suite) {
        const bool printable =
            suiteText.size() <= 40 && std::all_of(suiteText.begin(), suiteText.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
            });
        return {std::nullopt,
                (printable ? "suite " + std::string(suiteText) : std::string("a suite")) +
                    " not supported"};
    }
    if (!keyParams.starts_with("inline:")) {
        return {std::nullopt, "no inline key"};
    }
    if (keyParams.find(';') != std::string_view::npos) {
        return {std::nullopt, "several keys"};
    }
    if (!data::trim(value).empty()) {
        return {std::nullopt, "session parameters not supported"};
    }
    auto keyInfo = keyParams.substr(7);
    auto bar = keyInfo.find('|');
    auto encoded = keyInfo.substr(0, bar);
    // A lifetime may follow ("|2^31"); an MKI ("|1:4") would be in every packet.
    if (bar != std::string_view::npos) {
        auto rest = keyInfo.substr(bar + 1);
        if (rest.find(':') != std::string_view::npos || rest.find('|') != std::string_view::npos) {
            return {std::nullopt, "an MKI is not supported"};
        }
    }
    SdesKey key;
    key.suite = *suite;
    key.tag = static_cast<unsigned>(std::stoul(std::string(tag)));
    size_t length = key.key.size();
    if (encoded.size() != kInlineKeyLength || !base64Text(encoded) ||
        base64_decode(encoded.data(), encoded.size(), key.key.data(), &length) != 0 ||
        length != key.key.size()) {
        return {std::nullopt, "the inline key is not 30 bytes of base64"};
    }
    return {key, {}};
}

std::string cryptoAttribute(const SdesKey& key) {
    char encoded[kInlineKeyLength + 4] = {};
    size_t length = sizeof encoded;
    base64_encode(key.key.data(), key.key.size(), encoded, &length);
    return std::to_string(key.tag) + " " + suiteName(key.suite) +
           " inline:" + std::string(encoded, length);
}

SdesKey newSdesKey(unsigned tag, SrtpSuite suite) {
    SdesKey key;
    key.tag = tag;
    key.suite = suite;
    rand_bytes(key.key.data(), key.key.size());
    // libre leaves the bytes as they were when OpenSSL fails: all zero, a
    // key anyone could use. Nothing is sent under it.
    if (std::all_of(key.key.begin(), key.key.end(), [](uint8_t byte) { return byte == 0; })) {
        std::fputs("tellmaro-sip: the random source failed: no SRTP key can be made\n", stderr);
        std::abort();
    }
    return key;
}

MediaKeying decideKeying(SrtpPolicy policy, const MediaOffer& peer, bool overTls,
                         std::span<const SdesKey> offered) {
    const bool answer = !offered.empty();
    const MediaKeying plain;
    if (policy == SrtpPolicy::Off || !overTls) {
        if (peer.secureProfile) {
            return refused(policy == SrtpPolicy::Off
                               ? "the peer wants SRTP (RTP/SAVP) and srtp is off here"
                               : "the peer wants SRTP but its keys came without TLS");
        }
        if (policy == SrtpPolicy::Mandatory) {
            return refused("SRTP keys came without TLS, where anyone on the path can read them");
        }
        return plain;
    }
    std::string problems;
    for (const auto& value : peer.crypto) {
        auto parsed = parseCrypto(value);
        if (parsed.key && answer) {
            auto ours = std::find_if(offered.begin(), offered.end(), [&](const SdesKey& key) {
                return key.tag == parsed.key->tag && key.suite == parsed.key->suite;
            });
            if (ours == offered.end()) {
                parsed = {std::nullopt, "tag and suite not among those offered"};
            } else if (peer.crypto.size() > 1) {
                return refused("the answer carries several crypto attributes");
            }
        }
        if (parsed.key) {
            return {MediaKeying::Outcome::Encrypted, *parsed.key, {}};
        }
        problems += (problems.empty() ? "" : "; ") + parsed.problem;
    }
    if (policy == SrtpPolicy::Mandatory || peer.secureProfile) {
        return refused(peer.crypto.empty() ? "no SRTP key (a=crypto) offered"
                                           : "no usable SRTP key: " + problems);
    }
    return plain;
}

}  // namespace tellmaro::sip
