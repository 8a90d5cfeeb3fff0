#pragma once
// Between SIP and the CAPI fields the relay sees, without the SIP stack (so
// it is fuzzed): the calling number of CONNECT_IND, the SIP status for a
// refusing CONNECT_RESP, and the numbers a caller keyed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/controller/network.h"
#include "exchange/sip/sip_events.h"

namespace tellmaro::sip {

// What the controller's reject values become.
uint16_t sipStatusForReject(uint16_t reject);

// The calling number structure an ISDN exchange would present: network
// provided (P-Asserted-Identity) or user provided, not screened (From).
exchange::CallingNumber callingNumberFor(const CallingParty& party);

// The numbers a caller keyed in: each run of digits between the confirm and
// cancel keys, most recent last.
std::vector<std::string> keyedNumbers(std::string_view keys);

}  // namespace tellmaro::sip
