#include "exchange/sip/number_end_policy.h"

#include <algorithm>

#include "exchange/sip/capi_fields.h"

namespace tellmaro::sip {

namespace {

bool onlyFill(std::string_view text) {
    return text.find_first_not_of('0') == std::string_view::npos;
}

// Where `hint` ends in `field` with only fill after it; 0 when it does not.
size_t endOf(std::string_view field, std::string_view hint) {
    if (onlyFill(hint)) {
        return 0;
    }
    for (size_t at = field.find(hint); at != std::string_view::npos;
         at = field.find(hint, at + 1)) {
        if (onlyFill(field.substr(at + hint.size()))) {
            return at + hint.size();
        }
    }
    return 0;
}

template <typename Hints>
size_t latestEnd(std::string_view field, const Hints& hints) {
    size_t end = 0;
    for (const auto& hint : hints) {
        end = std::max(end, endOf(field, hint));
    }
    return end;
}

}  // namespace

NumberEndPolicy::NumberEndPolicy(std::vector<NumberLength> lengths, std::string lineAccess,
                                 PhoneBookReader phoneBook)
    : lengths_(std::move(lengths)),
      lineAccess_(std::move(lineAccess)),
      phoneBook_(std::move(phoneBook)) {}

std::string NumberEndPolicy::numberToDial(std::string_view field, const LineHints& line) const {
    const std::vector<SpeedDial> book = phoneBook_ ? phoneBook_() : std::vector<SpeedDial>{};
    auto isCode = [&](const std::string& keyed) {
        return std::any_of(book.begin(), book.end(),
                           [&](const SpeedDial& entry) { return entry.code == keyed; });
    };
    for (auto keys = line.keysOfCalls.rbegin(); keys != line.keysOfCalls.rend(); ++keys) {
        const auto typed = keyedNumbers(*keys);
        for (auto number = typed.rbegin(); number != typed.rend(); ++number) {
            if (size_t end = endOf(field, *number); end != 0 && !isCode(*number)) {
                return std::string(field.substr(0, end));
            }
        }
    }
    if (size_t end = latestEnd(field, line.recentCallers); end != 0) {
        return std::string(field.substr(0, end));
    }
    std::vector<std::string> numbers;
    for (const auto& entry : book) {
        numbers.push_back(entry.number);
    }
    if (size_t end = latestEnd(field, numbers); end != 0) {
        return std::string(field.substr(0, end));
    }
    const size_t lastDigit = field.find_last_not_of('0');
    const size_t digitsEnd = lastDigit == std::string_view::npos ? 0 : lastDigit + 1;
    const size_t access =
        !lineAccess_.empty() && field.starts_with(lineAccess_) ? lineAccess_.size() : 0;
    const NumberLength* rule = nullptr;
    for (const auto& candidate : lengths_) {
        if (field.substr(access).starts_with(candidate.prefix) &&
            (!rule || candidate.prefix.size() > rule->prefix.size())) {
            rule = &candidate;
        }
    }
    if (rule && digitsEnd > access) {
        return std::string(field.substr(0, std::max(digitsEnd, access + rule->length)));
    }
    return std::string(field.substr(0, digitsEnd));
}

}  // namespace tellmaro::sip
