#include "exchange/sip/capi_fields.h"

#include "data/text_rules.h"

namespace tellmaro::sip {

namespace {

using exchange::CallingNumber;

constexpr uint8_t kIsdnPlan = 0x01;
constexpr uint8_t kNational = 0x20;
constexpr uint8_t kInternational = 0x10;
constexpr uint8_t kPresentationAllowedUserProvided = 0x80;  // allowed, user provided, not screened

}  // namespace

uint16_t sipStatusForReject(uint16_t reject) {
    switch (reject) {
        case 1:  // ignored, and nobody else took it
            return 480;
        case 3:  // user busy
            return 486;
        case 4:  // no channel
        case 6:
            return 503;
        case 7:  // incompatible destination
            return 488;
        case 8:  // out of order
            return 480;
        default:  // normal call clearing and the rest: declined
            return 603;
    }
}

CallingNumber callingNumberFor(const CallingParty& party) {
    CallingNumber number;
    if (party.presentation == Presentation::Restricted || party.digits.empty()) {
        number.typeAndPlan = kIsdnPlan;
        number.presentation = CallingNumber::kPresentationRestricted;
        return number;
    }
    uint8_t type = party.type == NumberType::National        ? kNational
                   : party.type == NumberType::International ? kInternational
                                                             : 0;
    number.typeAndPlan = static_cast<uint8_t>(type | kIsdnPlan);
    // The screening indicator says honestly who vouches for the number.
    number.presentation = party.networkProvided ? CallingNumber::kPresentationAllowed
                                                : kPresentationAllowedUserProvided;
    number.digits = party.digits;
    return number;
}

std::vector<std::string> keyedNumbers(std::string_view keys) {
    std::vector<std::string> numbers;
    std::string run;
    for (char key : keys) {
        if (data::isDigit(key)) {
            run += key;
        } else if (!run.empty()) {
            numbers.push_back(std::move(run));
            run.clear();
        }
    }
    if (!run.empty()) {
        numbers.push_back(std::move(run));
    }
    return numbers;
}

}  // namespace tellmaro::sip
