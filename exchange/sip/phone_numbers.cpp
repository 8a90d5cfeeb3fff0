#include "exchange/sip/phone_numbers.h"

#include <algorithm>

#include "data/text_rules.h"

namespace tellmaro::sip {

namespace {

// National significant numbers are at most this long (Germany: 11); a
// longer number starting with the country code carries the code.
constexpr size_t kLongestNationalNumber = 11;

bool startsWith(std::string_view text, std::string_view prefix) {
    return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

CallingParty withCountry(std::string_view digits, const NumberPlan& plan) {
    if (startsWith(digits, plan.countryCode)) {
        auto national = digits.substr(plan.countryCode.size());
        // "+49 (0) 170...": the trunk prefix written in by habit.
        if (startsWith(national, plan.nationalPrefix)) {
            national.remove_prefix(plan.nationalPrefix.size());
        }
        return {NumberType::National, Presentation::Allowed, std::string(national)};
    }
    return {NumberType::International, Presentation::Allowed, std::string(digits)};
}

}  // namespace

CallingParty presentNumber(std::string_view number, const NumberPlan& plan) {
    std::string cleaned;
    for (char c : number) {
        if (c == ' ' || c == '-' || c == '.' || c == '(' || c == ')') {
            continue;  // visual separators of tel: URIs
        }
        cleaned += c;
    }
    bool plus = !cleaned.empty() && cleaned.front() == '+';
    std::string_view digits(cleaned);
    if (plus) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || !data::allDigits(digits)) {
        return {};
    }
    if (plus) {
        return withCountry(digits, plan);
    }
    if (startsWith(digits, plan.internationalPrefix)) {
        return withCountry(digits.substr(plan.internationalPrefix.size()), plan);
    }
    if (startsWith(digits, plan.nationalPrefix)) {
        return {NumberType::National, Presentation::Allowed,
                std::string(digits.substr(plan.nationalPrefix.size()))};
    }
    if (startsWith(digits, plan.countryCode) && digits.size() > kLongestNationalNumber) {
        return withCountry(digits, plan);
    }
    return {NumberType::Unknown, Presentation::Allowed, std::string(digits)};
}

}  // namespace tellmaro::sip
