#pragma once
// DTMF keys from the three ways SIP carries them (RFC 4733 events, SIP INFO,
// in-band tones), each key reported once however many ways and times it came.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tellmaro::sip {

using KeyClock = std::chrono::steady_clock;

// The key of an RFC 4733 event code (0-9, 10 '*', 11 '#', 12-15 'A'-'D'); 0 for others.
char keyOfEvent(unsigned event);

// Follows the RFC 4733 packets of one stream. Every packet of one key press
// carries the press's timestamp, and the end packet is sent three times; a
// press is reported with its first packet. A capture replayed with the same
// timestamps counts again once the earlier press has been quiet a while.
class TelephoneEvents {
  public:
    static constexpr std::chrono::milliseconds kSamePress{1000};
    std::optional<char> accept(uint32_t timestamp, std::span<const uint8_t> payload,
                               KeyClock::time_point now);

  private:
    bool seen_ = false;
    uint32_t timestamp_ = 0;
    uint8_t event_ = 0;
    KeyClock::time_point last_{};
};

// The key of a SIP INFO body: application/dtmf-relay ("Signal=5\r\nDuration=160")
// or application/dtmf ("5").
std::optional<char> keyOfInfo(std::string_view contentType, std::string_view body);

enum class KeySource { Rfc4733, Info, InBand };

// One press that arrives by several ways is one key: a key from one way
// that another way reported within kWindow, and this way not yet, is the
// same press.
class KeyDeduplicator {
  public:
    static constexpr std::chrono::milliseconds kWindow{800};
    bool accept(char key, KeySource source, KeyClock::time_point now);

  private:
    struct Recent {
        char key;
        unsigned sources;  // bit per KeySource that reported this press
        KeyClock::time_point at;
    };
    std::vector<Recent> recent_;
};

}  // namespace tellmaro::sip
