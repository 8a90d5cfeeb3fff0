#pragma once
// Between SIP and the CAPI fields the relay sees, without the SIP stack (so
// it is fuzzed): the calling number of CONNECT_IND, the SIP status for a
// refusing CONNECT_RESP, and the hints that end the number the relay dials.

#include <cstdint>
#include <deque>
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

// Where the relay's number field may end besides its own trailing zeros:
// the numbers keyed on the calls still up, the numbers of the latest
// callers (a call-back dials the caller's number with "0" fill) and the
// phone book's. Most recent last.
std::vector<std::string> dialHints(const std::vector<std::string>& keysOfCalls,
                                   const std::deque<std::string>& recentCallers,
                                   const std::vector<std::string>& phoneBook);

}  // namespace tellmaro::sip
