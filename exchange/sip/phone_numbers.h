#pragma once
// Telephone numbers between SIP and what an ISDN exchange presents: the
// calling number as type and digits, and the number to dial from the
// relay's fixed-width number field.

#include <span>
#include <string>
#include <string_view>

#include "exchange/sip/sip_events.h"

namespace tellmaro::sip {

struct NumberPlan {
    std::string countryCode = "49";
    std::string nationalPrefix = "0";
    std::string internationalPrefix = "00";
};

// A user part or tel: number ("+49 170-123", "0049170123", "0170123") as an
// exchange presents it: own country -> national without prefix, other
// countries -> international without prefix, anything else unknown.
CallingParty presentNumber(std::string_view number, const NumberPlan& plan);

// The relay always dials a fixed-width field: the number followed by '0'
// fill. An exchange ends the number by its numbering knowledge; over SIP the
// fill must go, though a number may itself end in 0. A hint (a number the
// caller is known to mean, e.g. the keys typed or a phone-book entry)
// matches where only '0's follow it in the field, after a line-access
// prefix too; the number then ends with the hint, and the hint that ends
// latest wins. Without one, trailing '0's are dropped.
std::string numberToDial(std::string_view field, std::span<const std::string> hints = {});

}  // namespace tellmaro::sip
