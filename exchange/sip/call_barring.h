#pragma once
// The line's call barring, as an exchange bars outgoing calls of a line: the
// account pays for every call the relay places, and a relay reached by a
// forged caller number must not run up its bill. Refused are numbers that
// begin with a barred prefix (premium rate and the like), international
// calls when the owner bars them, and calls beyond an hourly number.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/phone_numbers.h"
#include "exchange/sip/sip_account.h"

namespace tellmaro::sip {

struct Refusal {
    uint8_t cause = 0;   // Q.850: 52 outgoing calls barred, 28 invalid number format
    std::string reason;  // plain words for the log line, after "call to NUMBER refused: "
};

class CallBarring {
  public:
    explicit CallBarring(const SipAccount& account);

    // Judges a number the relay dials (digits, after the account's
    // line_access when it has one). A call admitted counts toward
    // max_calls_per_hour until an hour after `now`.
    std::optional<Refusal> admit(std::string_view number,
                                 std::chrono::steady_clock::time_point now);

  private:
    // Where a number leads: the national and international forms of the own
    // country are the same national number; a number without either prefix
    // is local (or a service code such as 118xy).
    enum class Reach { Local, National, International };
    struct Destination {
        Reach reach = Reach::Local;
        std::string digits;  // without the prefixes and the own country code
    };
    struct BarredPrefix {
        Destination where;
        std::string written;  // as in sip.conf, for the log line
    };

    Destination classify(std::string_view digits) const;
    static bool bars(const BarredPrefix& prefix, const Destination& destination);

    NumberPlan plan_;
    std::string lineAccess_;
    std::vector<BarredPrefix> barred_;
    bool barInternational_ = false;
    unsigned maxCallsPerHour_ = 0;
    std::deque<std::chrono::steady_clock::time_point> placed_;  // within the last hour
};

}  // namespace tellmaro::sip
