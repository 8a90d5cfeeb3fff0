// The line's call barring as sip.conf sets it, and the digest realms it answers.

#include <gtest/gtest.h>

#include "exchange/sip/call_barring.h"

namespace tellmaro::sip {
namespace {

SipAccount account(const std::string& lines) {
    return parseSipAccount("registrar = sip.example.net:5070\nuser = u\npassword = p\n" + lines)
        .account.value();
}

// Rows: sip.conf lines, number, Q.850 cause (52 barred, 28 bad format), log words.
TEST(CallBarring, RefusesWhatTheAccountBars) {
    const std::tuple<std::string, std::string, int, std::string> rows[] = {
        {"", "0301234567", 0, ""},
        {"", "09001234567", 52, "beginning with 0900 are barred (barred_prefixes"},
        {"", "00499001234567", 52, "0900"},                 // the same in international form
        {"", "11833", 52, "118"},                           // dialled without a prefix,
        {"", "004911833", 52, "118"},                       // and in international form
        {"", "9001234", 0, ""},                             // a local number, not 0900
        {"", "00431234567", 0, ""},                         // another country
        {"line_access = 0\n", "009001234567", 52, "0900"},  // after a PBX's outside line
        {"bar_international = yes\n", "00431234567", 52, "(bar_international"},
        {"bar_international = yes\n", "00493012345", 0, ""},
        {"barred_prefixes =\n", "09001234567", 0, ""},
        {"barred_prefixes = 0044, 0180\n", "00441234", 52, "0044"},
        {"country_code = 43\n", "09001234567", 0, ""},  // no default there
        {"", "030123456789012345678", 28, "longer than 20 digits"},
    };
    for (const auto& [lines, number, expected, words] : rows) {
        auto refusal = CallBarring(account(lines)).admit(number, {});
        EXPECT_EQ(refusal ? refusal->cause : 0, expected) << lines << number;
        EXPECT_NE((refusal ? refusal->reason : "").find(words), std::string::npos) << number;
    }
}

TEST(CallBarring, CountsThePlacedCallsOfTheLastHour) {
    CallBarring barring(account("max_calls_per_hour = 2\n"));
    const std::chrono::steady_clock::time_point start{std::chrono::hours(100)};
    const std::tuple<int, std::string, int> rows[] = {
        {0, "0301", 0},  {10, "0900", 52}, {30, "0302", 0}, {59, "0303", 52},
        {60, "0304", 0}, {89, "0305", 52}, {90, "0306", 0},
    };
    for (const auto& [minute, number, expected] : rows) {
        auto refusal = barring.admit(number, start + std::chrono::minutes(minute));
        EXPECT_EQ(refusal ? refusal->cause : 0, expected) << minute;
    }
}

// The domain, the registrar's host and `realm`, in any case.
TEST(SipAccount, AnswersTheRealmsOfTheAccountOnly) {
    const auto a = account("domain = example.org\nrealm = fritz.box, Other.Net\n");
    for (std::string_view realm : {"EXAMPLE.org", "SIP.example.net", "other.net"}) {
        EXPECT_TRUE(realmAllowed(a, realm)) << realm;
    }
    for (std::string_view realm : {"fritz.box.evil.example", "sip.example.net:5070"}) {
        EXPECT_FALSE(realmAllowed(a, realm)) << realm;
    }
}

}  // namespace
}  // namespace tellmaro::sip
