#include "exchange/sip/dtmf_keys.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "data/text_rules.h"

namespace tellmaro::sip {

char keyOfEvent(unsigned event) {
    static constexpr char kKeys[] = "0123456789*#ABCD";
    return event < 16 ? kKeys[event] : 0;
}

std::optional<char> TelephoneEvents::accept(uint32_t timestamp, std::span<const uint8_t> payload,
                                            KeyClock::time_point now) {
    if (payload.size() < 4) {
        return std::nullopt;
    }
    uint8_t event = payload[0];
    char key = keyOfEvent(event);
    if (key == 0) {
        return std::nullopt;
    }
    bool samePress =
        seen_ && timestamp == timestamp_ && event == event_ && now - last_ < kSamePress;
    seen_ = true;
    timestamp_ = timestamp;
    event_ = event;
    last_ = now;
    if (samePress) {
        return std::nullopt;
    }
    return key;
}

std::optional<char> keyOfInfo(std::string_view contentType, std::string_view body) {
    std::string type(contentType.substr(0, contentType.find(';')));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
    auto keyOf = [](std::string_view text) -> std::optional<char> {
        text = data::trim(text);
        if (text == "10") {
            return '*';
        }
        if (text == "11") {
            return '#';
        }
        if (text.size() != 1) {
            return std::nullopt;
        }
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (data::isDialChar(c) || (c >= 'A' && c <= 'D')) {
            return c;
        }
        return std::nullopt;
    };
    if (type == "application/dtmf") {
        return keyOf(body);
    }
    if (type != "application/dtmf-relay") {
        return std::nullopt;
    }
    while (!body.empty()) {
        auto end = body.find('\n');
        auto line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        std::string name(line.substr(0, equals));
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name == "signal") {
            return keyOf(line.substr(equals + 1));
        }
    }
    return std::nullopt;
}

bool KeyDeduplicator::accept(char key, KeySource source, KeyClock::time_point now) {
    std::erase_if(recent_, [now](const Recent& r) { return now - r.at > kWindow; });
    unsigned bit = 1u << static_cast<unsigned>(source);
    for (auto& earlier : recent_) {
        if (earlier.key == key && (earlier.sources & bit) == 0) {
            earlier.sources |= bit;
            return false;
        }
    }
    recent_.push_back({key, bit, now});
    return true;
}

}  // namespace tellmaro::sip
