// What a SIP peer controls, in any bytes: the caller's headers, an SDP body,
// an INFO body and the sip.conf text; the relay's dial field too. The input
// is split at '\0' into From, P-Asserted-Identity, Privacy, SDP and the rest.
// A presented number is digits only and never longer than what came in, and
// the CAPI calling number made of it is well formed; a chosen codec reads
// back from the SDP we build for it; any final status becomes a CAPI reason.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/call_fields.h"
#include "exchange/sip/capi_fields.h"
#include "exchange/sip/dtmf_keys.h"
#include "exchange/sip/phone_numbers.h"
#include "exchange/sip/sip_account.h"
#include "exchange/sip/sip_causes.h"
#include "exchange/sip/sip_redaction.h"

using namespace tellmaro::sip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    while (parts.size() < 4) {
        auto zero = input.find('\0');
        parts.push_back(input.substr(0, zero));
        input = zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1);
    }
    parts.push_back(input);

    CallingParty calling = callingPartyOf({parts[0], parts[1], parts[2]}, NumberPlan{});
    for (char c : calling.digits) {
        if (c < '0' || c > '9') {
            std::abort();
        }
    }
    if (calling.presentation == Presentation::Restricted && !calling.digits.empty()) {
        std::abort();
    }
    // CONNECT_IND's calling party number: type and plan, presentation, digits.
    const auto capi = callingNumberFor(calling).encode();
    const bool withheld = calling.digits.empty();
    if (capi.size() != 2 + calling.digits.size() || (capi[0] & 0x8F) != 0x01 ||
        capi[1] != (withheld ? 0xA3 : 0x83) ||
        std::string(capi.begin() + 2, capi.end()) != calling.digits) {
        std::abort();
    }
    if (size >= 2) {
        const auto status = static_cast<uint16_t>(data[0] | data[1] << 8);
        const uint16_t reason = capiReason(causeForSipStatus(status));
        const uint16_t refusal = sipStatusForReject(status);
        if ((reason & 0xFF80) != 0x3480 || refusal < 400 || refusal > 699) {
            std::abort();
        }
    }
    if (auto offer = chooseMedia(parts[3])) {
        auto answer = buildSdp("192.0.2.1", 4000, 1, &*offer);
        auto reread = chooseMedia(answer);
        if (!reread || reread->codec != offer->codec ||
            reread->audioPayloadType != offer->audioPayloadType ||
            reread->eventPayloadType != offer->eventPayloadType) {
            std::abort();
        }
    }
    (void)keyOfInfo(parts[2], parts[4]);
    auto account = parseSipAccount(parts[4]);
    if (!account.account && account.error.empty()) {
        std::abort();
    }
    (void)redactCredentials(parts[4]);
    std::string dialled = numberToDial(parts[4], std::vector<std::string>{std::string(parts[0])});
    if (dialled.size() > parts[4].size()) {
        std::abort();
    }
    return 0;
}
