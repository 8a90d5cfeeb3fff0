#pragma once
// Telephone numbers between SIP and what an ISDN exchange presents: the
// calling number as type and digits. Where a dialled number ends is
// number_end_policy.h's.

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

}  // namespace tellmaro::sip
