#include "exchange/sip/call_barring.h"

#include <algorithm>

#include "data/text_rules.h"

#include "exchange/sip/sip_causes.h"

namespace tellmaro::sip {

namespace {

// An ISDN exchange carries at most this many digits of a called number.
constexpr size_t kLongestNumber = 20;
constexpr auto kHour = std::chrono::hours(1);

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

CallBarring::CallBarring(const SipAccount& account)
    : plan_{account.countryCode, account.nationalPrefix, account.internationalPrefix},
      lineAccess_(account.lineAccess),
      barInternational_(account.barInternational),
      maxCallsPerHour_(account.maxCallsPerHour) {
    for (const auto& prefix : account.barredPrefixes) {
        barred_.push_back({classify(prefix), prefix});
    }
}

CallBarring::Destination CallBarring::classify(std::string_view digits) const {
    if (startsWith(digits, plan_.internationalPrefix)) {
        auto rest = digits.substr(plan_.internationalPrefix.size());
        if (!startsWith(rest, plan_.countryCode)) {
            return {Reach::International, std::string(rest)};
        }
        auto national = rest.substr(plan_.countryCode.size());
        // "+49 (0) 900...": the national prefix written in by habit.
        if (startsWith(national, plan_.nationalPrefix)) {
            national.remove_prefix(plan_.nationalPrefix.size());
        }
        return {Reach::National, std::string(national)};
    }
    if (startsWith(digits, plan_.nationalPrefix)) {
        return {Reach::National, std::string(digits.substr(plan_.nationalPrefix.size()))};
    }
    return {Reach::Local, std::string(digits)};
}

bool CallBarring::bars(const BarredPrefix& prefix, const Destination& destination) {
    // A service code dialled without a prefix (118xy) is barred in its
    // national form too; a national prefix does not bar local numbers.
    bool sameReach = prefix.where.reach == destination.reach ||
                     (prefix.where.reach == Reach::Local && destination.reach == Reach::National);
    return sameReach && startsWith(destination.digits, prefix.where.digits);
}

std::optional<Refusal> CallBarring::admit(std::string_view number,
                                          std::chrono::steady_clock::time_point now) {
    if (number.size() > kLongestNumber) {
        return Refusal{cause::kInvalidNumberFormat,
                       "longer than " + std::to_string(kLongestNumber) +
                           " digits, more than an ISDN exchange carries"};
    }
    if (!lineAccess_.empty() && startsWith(number, lineAccess_)) {
        number.remove_prefix(lineAccess_.size());
    }
    if (number.empty() || !data::allDigits(number)) {
        return Refusal{cause::kInvalidNumberFormat,
                       "not a number of digits (a line-access prefix? see line_access in "
                       "sip.conf)"};
    }
    auto destination = classify(number);
    for (const auto& prefix : barred_) {
        if (bars(prefix, destination)) {
            return Refusal{cause::kOutgoingCallsBarred,
                           "numbers beginning with " + prefix.written +
                               " are barred (barred_prefixes in sip.conf)"};
        }
    }
    if (barInternational_ && destination.reach == Reach::International) {
        return Refusal{cause::kOutgoingCallsBarred,
                       "international calls are barred (bar_international in sip.conf)"};
    }
    while (!placed_.empty() && placed_.front() <= now - kHour) {
        placed_.pop_front();
    }
    if (maxCallsPerHour_ != 0 && placed_.size() >= maxCallsPerHour_) {
        return Refusal{cause::kOutgoingCallsBarred,
                       std::to_string(placed_.size()) +
                           " calls placed within the last hour, the most allowed "
                           "(max_calls_per_hour in sip.conf)"};
    }
    placed_.push_back(now);
    return std::nullopt;
}

}  // namespace tellmaro::sip
