#include "exchange/sip/call_fields.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tellmaro::sip {

namespace {

std::string_view trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

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
    value = trim(value);
    AddressParts parts;
    std::string_view uri;
    auto open = value.find('<', afterQuotedName(value));
    if (open != std::string_view::npos) {
        auto close = value.find('>', open);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view display = trim(value.substr(0, open));
        if (display.size() >= 2 && display.front() == '"' && display.back() == '"') {
            display = display.substr(1, display.size() - 2);
        }
        parts.display = std::string(display);
        uri = value.substr(open + 1, close - open - 1);
    } else {
        // addr-spec: parameters after ';' belong to the header.
        uri = trim(value.substr(0, value.find(';')));
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
            auto item = trim(rest.substr(0, semi));
            if (item == "id" || item == "header" || item == "user") {
                withheld = true;
            }
            rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        }
    }
    const bool asserted = !trim(headers.assertedIdentity).empty();
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

std::optional<MediaOffer> chooseMedia(std::string_view sdp) {
    struct Format {
        int payloadType;
        std::string name;
        unsigned rate;
    };
    std::string sessionAddress;
    std::string mediaAddress;
    uint16_t port = 0;
    std::vector<int> order;
    std::vector<Format> formats;
    unsigned ptime = 20;
    std::optional<MediaDirection> sessionDirection;
    std::optional<MediaDirection> mediaDirection;
    bool inAudio = false;
    bool done = false;
    auto toInt = [](std::string_view text, int& out) {
        return std::from_chars(text.data(), text.data() + text.size(), out).ec == std::errc() &&
               !text.empty();
    };
    while (!sdp.empty() && !done) {
        auto end = sdp.find('\n');
        std::string_view line = trim(sdp.substr(0, end));
        sdp = end == std::string_view::npos ? std::string_view() : sdp.substr(end + 1);
        if (line.size() < 2 || line[1] != '=') {
            continue;
        }
        std::string_view body = line.substr(2);
        switch (line[0]) {
            case 'm': {
                if (inAudio) {
                    done = true;  // only the first usable audio stream counts
                    break;
                }
                // m=audio PORT RTP/AVP 8 0 101
                std::vector<std::string_view> words;
                while (!body.empty()) {
                    auto space = body.find(' ');
                    if (space != 0) {
                        words.push_back(body.substr(0, space));
                    }
                    body = space == std::string_view::npos ? std::string_view()
                                                           : body.substr(space + 1);
                }
                int number = 0;
                if (words.size() >= 4 && words[0] == "audio" && toInt(words[1], number) &&
                    number > 0 && number < 65536 && words[2].substr(0, 7) == "RTP/AVP") {
                    inAudio = true;
                    port = static_cast<uint16_t>(number);
                    for (size_t i = 3; i < words.size(); ++i) {
                        int pt = 0;
                        if (toInt(words[i], pt) && pt >= 0 && pt < 128) {
                            order.push_back(pt);
                        }
                    }
                }
                break;
            }
            case 'c': {
                // c=IN IP4 192.0.2.1
                if (body.substr(0, 7) == "IN IP4 " || body.substr(0, 7) == "IN IP6 ") {
                    auto address = std::string(trim(body.substr(7)));
                    address = address.substr(0, address.find('/'));
                    (inAudio ? mediaAddress : sessionAddress) = address;
                }
                break;
            }
            case 'a': {
                std::optional<MediaDirection> direction;
                if (body == "sendrecv") {
                    direction = MediaDirection::SendRecv;
                } else if (body == "sendonly") {
                    direction = MediaDirection::SendOnly;
                } else if (body == "recvonly") {
                    direction = MediaDirection::RecvOnly;
                } else if (body == "inactive") {
                    direction = MediaDirection::Inactive;
                }
                if (direction) {
                    (inAudio ? mediaDirection : sessionDirection) = direction;
                    break;
                }
                if (!inAudio) {
                    break;
                }
                if (body.substr(0, 7) == "rtpmap:") {
                    // a=rtpmap:101 telephone-event/8000
                    auto rest = body.substr(7);
                    auto space = rest.find(' ');
                    int pt = 0;
                    if (space == std::string_view::npos || !toInt(rest.substr(0, space), pt)) {
                        break;
                    }
                    auto encoding = rest.substr(space + 1);
                    auto slash = encoding.find('/');
                    int rate = 0;
                    if (slash == std::string_view::npos) {
                        break;
                    }
                    auto rateText = encoding.substr(slash + 1);
                    rateText = rateText.substr(0, rateText.find('/'));
                    if (!toInt(rateText, rate) || rate <= 0) {
                        break;
                    }
                    formats.push_back(
                        {pt, lower(encoding.substr(0, slash)), static_cast<unsigned>(rate)});
                } else if (body.substr(0, 6) == "ptime:") {
                    int value = 0;
                    if (toInt(trim(body.substr(6)), value) && value >= 10 && value <= 200) {
                        ptime = static_cast<unsigned>(value);
                    }
                }
                break;
            }
            default:
                break;
        }
    }
    if (!inAudio) {
        return std::nullopt;
    }
    auto describe = [&](int pt) -> Format {
        for (const auto& format : formats) {
            if (format.payloadType == pt) {
                return format;
            }
        }
        // Static payload types need no rtpmap.
        if (pt == 8) {
            return {8, "pcma", 8000};
        }
        if (pt == 0) {
            return {0, "pcmu", 8000};
        }
        return {pt, "", 0};
    };
    MediaOffer offer;
    offer.port = port;
    offer.packetTime = ptime;
    offer.direction = mediaDirection.value_or(sessionDirection.value_or(MediaDirection::SendRecv));
    offer.address = mediaAddress.empty() ? sessionAddress : mediaAddress;
    int pcma = -1;
    int pcmu = -1;
    for (int pt : order) {
        auto format = describe(pt);
        if (format.rate != 8000) {
            continue;
        }
        if (format.name == "pcma" && pcma < 0) {
            pcma = pt;
        } else if (format.name == "pcmu" && pcmu < 0) {
            pcmu = pt;
        } else if (format.name == "telephone-event" && offer.eventPayloadType < 0) {
            offer.eventPayloadType = pt;
        }
    }
    if (pcma >= 0) {
        offer.codec = AudioCodec::Pcma;
        offer.audioPayloadType = pcma;
    } else if (pcmu >= 0) {
        offer.codec = AudioCodec::Pcmu;
        offer.audioPayloadType = pcmu;
    } else {
        return std::nullopt;
    }
    if (offer.address.empty()) {
        return std::nullopt;
    }
    return offer;
}

std::string buildSdp(std::string_view address, uint16_t port, uint64_t sessionId,
                     const MediaOffer* answerTo) {
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
    sdp += "m=audio " + std::to_string(port) + " RTP/AVP" + formats + "\r\n" + maps +
           "a=ptime:20\r\na=" + direction + "\r\n";
    return sdp;
}

}  // namespace tellmaro::sip
