#pragma once
// Where a number the relay dials ends. The relay always dials a fixed-width
// field, the number followed by '0' fill; an ISDN exchange ends the number
// from its numbering plan, but over SIP the fill must go, though a number may
// itself end in 0. The first of these that tells decides:
//  1. the keys the mobile typed on a call that is up (the line itself
//     delivered them): the most recent number typed that the field holds
//     with only fill after it; a speed-dial code of the phone book is no
//     number, and zeros alone say nothing;
//  2. the numbers of the latest callers (a call-back dials the caller);
//  3. the relay's phone book, as it is at this dial (a speed-dialled number);
//  4. sip.conf's number_lengths: the rule of the longest prefix that the
//     number (after line_access) begins with;
//  5. nothing: the trailing zeros go.
// A hint may follow a line-access prefix in the field; among callers and
// phone-book numbers the one that ends latest wins. A number never ends
// before its last digit other than 0.

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/sip_account.h"

namespace tellmaro::sip {

struct SpeedDial {
    std::string code;    // what the mobile keys after the confirm key
    std::string number;  // what the relay dials for it
};
// The phone book as it is now; asked at each dial.
using PhoneBookReader = std::function<std::vector<SpeedDial>()>;

// What the SIP line delivered that may tell where a number ends.
struct LineHints {
    std::vector<std::string> keysOfCalls;   // every key typed on each call that is up, oldest first
    std::deque<std::string> recentCallers;  // presented digits, most recent last
};

class NumberEndPolicy {
  public:
    NumberEndPolicy() = default;  // no phone book, no length rules
    NumberEndPolicy(std::vector<NumberLength> lengths, std::string lineAccess,
                    PhoneBookReader phoneBook);

    std::string numberToDial(std::string_view field, const LineHints& line) const;

  private:
    std::vector<NumberLength> lengths_;
    std::string lineAccess_;
    PhoneBookReader phoneBook_;
};

}  // namespace tellmaro::sip
