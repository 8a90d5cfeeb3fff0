#include "exchange/sip/call_fields.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "data/text_rules.h"

namespace tellmaro::sip {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr ==
                text.data() + i + 3) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Splits a header value at commas outside quotes and angle brackets.
std::vector<std::string_view> splitList(std::string_view value) {
    std::vector<std::string_view> items;
    bool quoted = false;
    int angle = 0;
    size_t start = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '"' && (i == 0 || value[i - 1] != '\\')) {
            quoted = !quoted;
        } else if (!quoted && c == '<') {
            ++angle;
        } else if (!quoted && c == '>' && angle > 0) {
            --angle;
        } else if (!quoted && angle == 0 && c == ',') {
            items.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    items.push_back(value.substr(start));
    return items;
}

// Where a leading quoted display name ends (after its closing quote); 0
// without one. Its text may hold '<', '>', ',' and escaped quotes.
size_t afterQuotedName(std::string_view value) {
    if (value.empty() || value.front() != '"') {
        return 0;
    }
    for (size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '\\') {
            ++i;
        } else if (value[i] == '"') {
            return i + 1;
        }
    }
    return value.size();
}

bool isAnonymous(const AddressParts& address) {
    return address.user.empty() || lower(address.user) == "anonymous" ||
           lower(address.host) == "anonymous.invalid";
}

}  // namespace

std::optional<AddressParts> parseAddress(std::string_view value) {
    value = data::trim(value);
    AddressParts parts;
    std::string_view uri;
    auto open = value.find('<', afterQuotedName(value));
    if (open != std::string_view::npos) {
        auto close = value.find('>', open);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view display = data::trim(value.substr(0, open));
        if (display.size() >= 2 && display.front() == '"' && display.back() == '"') {
            display = display.substr(1, display.size() - 2);
        }
        parts.display = std::string(display);
        uri = value.substr(open + 1, close - open - 1);
    } else {
        // addr-spec: parameters after ';' belong to the header.
        uri = data::trim(value.substr(0, value.find(';')));
    }
    auto colon = uri.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    parts.scheme = lower(uri.substr(0, colon));
    std::string_view rest = uri.substr(colon + 1);
    if (parts.scheme == "tel") {
        parts.user = percentDecoded(rest.substr(0, rest.find(';')));
        return parts;
    }
    if (parts.scheme != "sip" && parts.scheme != "sips") {
        return std::nullopt;
    }
    auto at = rest.find('@');
    std::string_view user;
    if (at != std::string_view::npos) {
        user = rest.substr(0, at);
        rest = rest.substr(at + 1);
    }
    user = user.substr(0, user.find(';'));  // user parameters, e.g. ";isub="
    user = user.substr(0, user.find(':'));  // a password
    parts.user = percentDecoded(user);
    auto hostEnd = rest.find_first_of(";?");
    parts.host = std::string(rest.substr(0, hostEnd));
    return parts;
}

CallingParty callingPartyOf(const CallerHeaders& headers, const NumberPlan& plan) {
    bool withheld = false;
    std::string privacy = lower(headers.privacy);
    for (auto token : splitList(privacy)) {
        // Privacy separates values with ';'.
        std::string_view rest = token;
        while (!rest.empty()) {
            auto semi = rest.find(';');
            auto item = data::trim(rest.substr(0, semi));
            if (item == "id" || item == "header" || item == "user") {
                withheld = true;
            }
            rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        }
    }
    const bool asserted = !data::trim(headers.assertedIdentity).empty();
    std::optional<AddressParts> chosen;
    for (auto item : splitList(asserted ? headers.assertedIdentity : headers.from)) {
        auto address = parseAddress(item);
        if (address && !isAnonymous(*address) &&
            !presentNumber(address->user, plan).digits.empty()) {
            chosen = address;
            break;
        }
        if (!asserted) {
            break;  // From holds one address
        }
    }
    if (withheld || !chosen) {
        return {NumberType::Unknown, Presentation::Restricted, {}, asserted};
    }
    CallingParty party = presentNumber(chosen->user, plan);
    party.networkProvided = asserted;
    return party;
}

std::string buildSdp(std::string_view address, uint16_t port, uint64_t sessionId,
                     const MediaOffer* answerTo, const SdpCrypto& crypto) {
    std::string family = address.find(':') != std::string_view::npos ? "IP6" : "IP4";
    std::string id = std::to_string(sessionId);
    std::string sdp = "v=0\r\no=tellmaro " + id + " " + id + " IN " + family + " " +
                      std::string(address) + "\r\ns=tellmaro\r\nc=IN " + family + " " +
                      std::string(address) + "\r\nt=0 0\r\n";
    std::string formats;
    std::string maps;
    auto add = [&](int pt, const char* name) {
        formats += " " + std::to_string(pt);
        maps += "a=rtpmap:" + std::to_string(pt) + " " + name + "/8000\r\n";
    };
    int eventPt = 101;
    if (answerTo) {
        add(answerTo->audioPayloadType, answerTo->codec == AudioCodec::Pcma ? "PCMA" : "PCMU");
        eventPt = answerTo->eventPayloadType;
    } else {
        add(8, "PCMA");
        add(0, "PCMU");
    }
    if (eventPt >= 0) {
        add(eventPt, "telephone-event");
        maps += "a=fmtp:" + std::to_string(eventPt) + " 0-15\r\n";
    }
    const char* direction = "sendrecv";
    if (answerTo) {
        switch (answerTo->direction) {
            case MediaDirection::SendOnly:
                direction = "recvonly";
                break;
            case MediaDirection::RecvOnly:
                direction = "sendonly";
                break;
            case MediaDirection::Inactive:
                direction = "inactive";
                break;
            case MediaDirection::SendRecv:
                break;
        }
    }
    for (const auto& attribute : crypto.attributes) {
        maps += "a=crypto:" + attribute + "\r\n";
    }
    sdp += "m=audio " + std::to_string(port) + (crypto.secureProfile ? " RTP/SAVP" : " RTP/AVP") +
           formats + "\r\n" + maps + "a=ptime:20\r\na=" + direction + "\r\n";
    return sdp;
}

}  // namespace tellmaro::sip
