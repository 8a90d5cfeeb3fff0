#include "exchange/sip/sip_account.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace tellmaro::sip {

namespace {

std::string_view trim(std::string_view text) {
    const char* blanks = " \t\r";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool toNumber(std::string_view text, unsigned long max, unsigned long& out) {
    if (text.empty()) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

bool toBool(std::string_view text, bool& out) {
    if (text == "yes" || text == "on" || text == "true" || text == "1") {
        out = true;
        return true;
    }
    if (text == "no" || text == "off" || text == "false" || text == "0") {
        out = false;
        return true;
    }
    return false;
}

bool allDigits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Applies one key; an empty result means it was taken.
using Setter = std::function<std::string(SipAccount&, std::string_view)>;

Setter text(std::string SipAccount::*field) {
    return [field](SipAccount& account, std::string_view value) {
        account.*field = std::string(value);
        return std::string();
    };
}

Setter digits(std::string SipAccount::*field, bool mayBeEmpty) {
    return [field, mayBeEmpty](SipAccount& account, std::string_view value) {
        if ((value.empty() && !mayBeEmpty) || !allDigits(value)) {
            return std::string("expected digits");
        }
        account.*field = std::string(value);
        return std::string();
    };
}

Setter seconds(std::chrono::seconds SipAccount::*field, unsigned long min) {
    return [field, min](SipAccount& account, std::string_view value) {
        unsigned long number = 0;
        if (!toNumber(value, 86400, number) || (number != 0 && number < min)) {
            return "expected seconds, 0 or " + std::to_string(min) + " to 86400";
        }
        account.*field = std::chrono::seconds(number);
        return std::string();
    };
}

const std::map<std::string, Setter, std::less<>>& setters() {
    static const std::map<std::string, Setter, std::less<>> table = {
        {"registrar", text(&SipAccount::registrar)},
        {"domain", text(&SipAccount::domain)},
        {"user", text(&SipAccount::user)},
        {"auth_user", text(&SipAccount::authUser)},
        {"password", text(&SipAccount::password)},
        {"outbound_proxy", text(&SipAccount::outboundProxy)},
        {"listen", text(&SipAccount::listenAddress)},
        {"transport",
         [](SipAccount& account, std::string_view value) {
             if (value == "udp") {
                 account.transport = SipTransport::Udp;
             } else if (value == "tcp") {
                 account.transport = SipTransport::Tcp;
             } else {
                 return std::string("expected udp or tcp");
             }
             return std::string();
         }},
        {"port",
         [](SipAccount& account, std::string_view value) {
             unsigned long port = 0;
             if (!toNumber(value, 65535, port)) {
                 return std::string("expected a port number");
             }
             account.localPort = static_cast<uint16_t>(port);
             return std::string();
         }},
        {"rtp_ports",
         [](SipAccount& account, std::string_view value) {
             auto dash = value.find('-');
             unsigned long low = 0;
             unsigned long high = 0;
             if (dash == std::string_view::npos ||
                 !toNumber(trim(value.substr(0, dash)), 65535, low) ||
                 !toNumber(trim(value.substr(dash + 1)), 65535, high) || low < 1024 ||
                 high < low + 2) {
                 return std::string("expected a range such as 16384-16482");
             }
             account.rtpPortMin = static_cast<uint16_t>(low);
             account.rtpPortMax = static_cast<uint16_t>(high);
             return std::string();
         }},
        {"country_code", digits(&SipAccount::countryCode, false)},
        {"national_prefix", digits(&SipAccount::nationalPrefix, false)},
        {"international_prefix", digits(&SipAccount::internationalPrefix, false)},
        {"max_calls",
         [](SipAccount& account, std::string_view value) {
             unsigned long calls = 0;
             if (!toNumber(value, 30, calls) || calls == 0) {
                 return std::string("expected 1 to 30");
             }
             account.maxCalls = static_cast<unsigned>(calls);
             return std::string();
         }},
        {"invite_from",
         [](SipAccount& account, std::string_view value) {
             account.inviteSources.clear();
             while (!value.empty()) {
                 auto comma = value.find(',');
                 auto item = trim(value.substr(0, comma));
                 if (!item.empty()) {
                     account.inviteSources.emplace_back(item);
                 }
                 value =
                     comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
             }
             return std::string();
         }},
        {"inband_dtmf",
         [](SipAccount& account, std::string_view value) {
             return toBool(value, account.inbandDtmf) ? std::string() : "expected yes or no";
         }},
        {"expires", seconds(&SipAccount::registerExpires, 10)},
        {"keepalive", seconds(&SipAccount::keepAlive, 5)},
        {"rtp_timeout", seconds(&SipAccount::rtpTimeout, 2)},
        {"retry_min", seconds(&SipAccount::retryMin, 1)},
    };
    return table;
}

}  // namespace

SipAccountResult parseSipAccount(std::string_view content) {
    SipAccount account;
    std::map<std::string, bool, std::less<>> seen;
    unsigned lineNumber = 0;
    while (!content.empty()) {
        ++lineNumber;
        auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
        // A '#' starts a comment, except in the password, which may hold one.
        auto equals = line.find('=');
        std::string_view key = trim(line.substr(0, equals));
        if (key.empty() || key.front() == '#') {
            continue;
        }
        auto where = "sip.conf line " + std::to_string(lineNumber) + ": ";
        if (equals == std::string_view::npos) {
            // The line may be a mistyped password: never repeat it.
            return {std::nullopt, where + "expected \"key = value\""};
        }
        std::string_view value = line.substr(equals + 1);
        if (key != "password") {
            value = value.substr(0, value.find('#'));
        }
        value = trim(value);
        auto setter = setters().find(key);
        if (setter == setters().end()) {
            return {std::nullopt, where + "unknown key '" + std::string(key) + "'"};
        }
        if (seen[std::string(key)]) {
            return {std::nullopt, where + "'" + std::string(key) + "' given twice"};
        }
        seen[std::string(key)] = true;
        auto problem = setter->second(account, value);
        if (!problem.empty()) {
            return {std::nullopt, where + std::string(key) + ": " + problem};
        }
    }
    for (const char* required : {"registrar", "user", "password"}) {
        if (!seen[required]) {
            return {std::nullopt, std::string("sip.conf: '") + required + "' is missing"};
        }
    }
    if (account.domain.empty()) {
        auto colon = account.registrar.rfind(':');
        account.domain = account.registrar.substr(0, colon);
    }
    if (account.authUser.empty()) {
        account.authUser = account.user;
    }
    return {std::move(account), {}};
}

SipAccountResult loadSipAccount(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return {std::nullopt, path + ": " + std::strerror(errno)};
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return {std::nullopt, path +
                                  " may be read by group or others and holds the password; "
                                  "run: chmod 600 " +
                                  path};
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in.good() && !in.eof()) {
        return {std::nullopt, path + ": cannot be read"};
    }
    return parseSipAccount(content.str());
}

}  // namespace tellmaro::sip
