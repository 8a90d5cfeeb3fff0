// What a SIP peer controls, split at '\0' into From, P-Asserted-Identity, Privacy, SDP and the
// rest (INFO body, sip.conf, dial field): numbers stay digits, a chosen codec reads back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/call_fields.h"
#include "exchange/sip/capi_fields.h"
#include "exchange/sip/dtmf_keys.h"
#include "exchange/sip/number_end_policy.h"
#include "exchange/sip/sdes_keys.h"
#include "exchange/sip/sip_account.h"
#include "exchange/sip/sip_redaction.h"

using namespace tellmaro::sip;

#define require(holds) ((holds) ? (void)0 : std::abort())

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
    require(calling.digits.find_first_not_of("0123456789") == std::string::npos);
    require(calling.presentation != Presentation::Restricted || calling.digits.empty());
    // CONNECT_IND's calling party number: type and plan, presentation, digits.
    const auto capi = callingNumberFor(calling).encode();
    require(capi.size() == 2 + calling.digits.size() && (capi[0] & 0x8F) == 0x01 &&
            capi[1] == (calling.digits.empty()    ? 0xA3
                        : calling.networkProvided ? 0x83
                                                  : 0x80) &&
            std::string(capi.begin() + 2, capi.end()) == calling.digits);
    if (auto offer = chooseMedia(parts[3])) {
        auto reread = chooseMedia(buildSdp("192.0.2.1", 4000, 1, &*offer));
        require(reread && reread->codec == offer->codec &&
                reread->audioPayloadType == offer->audioPayloadType &&
                reread->eventPayloadType == offer->eventPayloadType);
        // A key taken reads back from our own attribute.
        auto keying = decideKeying(SrtpPolicy::Mandatory, *offer, true, {});
        require(keying.outcome != MediaKeying::Outcome::Plain);
        require(keying.outcome == MediaKeying::Outcome::Refused ||
                parseCrypto(cryptoAttribute(keying.peer)).key == keying.peer);
    }
    (void)keyOfInfo(parts[2], parts[4]);
    auto account = parseSipAccount(parts[4]);
    require(account.account || !account.error.empty());
    (void)redactCredentials(parts[4]);
    require(NumberEndPolicy().numberToDial(parts[4], {{std::string(parts[0])}, {}}).size() <=
            parts[4].size());
    return 0;
}
