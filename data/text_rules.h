#pragma once
// The character rules that the readers of files, settings and entries share.

#include <algorithm>
#include <string_view>

namespace tellmaro::data {

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// What a dial string may hold: digits, "*" and "#".
constexpr bool isDialChar(char c) {
    return isDigit(c) || c == '*' || c == '#';
}

// True for an empty text too: whether one is allowed is the caller's rule.
constexpr bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isDigit);
}

// Without the blanks, tabs and line ends around it.
constexpr std::string_view trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = text.find_first_not_of(kBlanks);
    return first == std::string_view::npos
               ? std::string_view()
               : text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace tellmaro::data
