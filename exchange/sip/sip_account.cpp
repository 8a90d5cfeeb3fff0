#include "exchange/sip/sip_account.h"

#include <fcntl.h>
#include <string.h>  // explicit_bzero
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>

#include "data/text_rules.h"
#include "exchange/sip/net_addresses.h"

namespace tellmaro::sip {

namespace {

constexpr size_t kLargestFile = 64 * 1024;
constexpr unsigned long kLongestNumber = 20;  // digits an ISDN exchange carries

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

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), lower);
    return result;
}

std::vector<std::string> splitList(std::string_view value) {
    std::vector<std::string> items;
    while (!value.empty()) {
        auto comma = value.find(',');
        auto item = data::trim(value.substr(0, comma));
        if (!item.empty()) {
            items.emplace_back(item);
        }
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    return items;
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
        if ((value.empty() && !mayBeEmpty) || !data::allDigits(value)) {
            return std::string("expected digits");
        }
        account.*field = std::string(value);
        return std::string();
    };
}

Setter list(std::vector<std::string> SipAccount::*field, bool digitsOnly) {
    return [field, digitsOnly](SipAccount& account, std::string_view value) {
        auto items = splitList(value);
        if (digitsOnly && !std::all_of(items.begin(), items.end(), data::allDigits)) {
            return std::string("expected digits, separated by commas");
        }
        account.*field = std::move(items);
        return std::string();
    };
}

Setter count(unsigned SipAccount::*field, unsigned long max) {
    return [field, max](SipAccount& account, std::string_view value) {
        unsigned long number = 0;
        if (!toNumber(value, max, number)) {
            return "expected 0 (no limit) to " + std::to_string(max);
        }
        account.*field = static_cast<unsigned>(number);
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
        {"registrar",
         [](SipAccount& account, std::string_view value) {
             account.sips = value.starts_with("sips:");
             account.registrar = std::string(value.substr(account.sips ? 5 : 0));
             return std::string();
         }},
        {"domain", text(&SipAccount::domain)},
        {"user", text(&SipAccount::user)},
        {"auth_user", text(&SipAccount::authUser)},
        {"password",
         [](SipAccount& account, std::string_view value) {
             account.password = value;
             return std::string();
         }},
        {"outbound_proxy", text(&SipAccount::outboundProxy)},
        {"listen", text(&SipAccount::listenAddress)},
        {"transport",
         [](SipAccount& account, std::string_view value) {
             if (value == "udp") {
                 account.transport = SipTransport::Udp;
             } else if (value == "tcp") {
                 account.transport = SipTransport::Tcp;
             } else if (value == "tls") {
                 account.transport = SipTransport::Tls;
             } else {
                 return std::string("expected udp, tcp or tls");
             }
             return std::string();
         }},
        {"tls_ca_file", text(&SipAccount::tlsCaFile)},
        {"tls_verify",
         [](SipAccount& account, std::string_view value) {
             return toBool(value, account.tlsVerify) ? std::string() : "expected yes or no";
         }},
        {"media_encryption",
         [](SipAccount& account, std::string_view value) {
             if (value != "none" && value != "srtp") {
                 return std::string("expected none or srtp");
             }
             account.mediaEncryption =
                 value == "srtp" ? MediaEncryption::Srtp : MediaEncryption::None;
             return std::string();
         }},
        {"srtp",
         [](SipAccount& account, std::string_view value) {
             static const std::map<std::string_view, SrtpPolicy> kPolicies = {
                 {"mandatory", SrtpPolicy::Mandatory},
                 {"optional", SrtpPolicy::Optional},
                 {"off", SrtpPolicy::Off}};
             auto policy = kPolicies.find(value);
             if (policy == kPolicies.end()) {
                 return std::string("expected mandatory, optional or off");
             }
             account.srtp = policy->second;
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
                 !toNumber(data::trim(value.substr(0, dash)), 65535, low) ||
                 !toNumber(data::trim(value.substr(dash + 1)), 65535, high) || low < 1024 ||
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
        {"invite_from", list(&SipAccount::inviteSources, false)},
        {"inband_dtmf",
         [](SipAccount& account, std::string_view value) {
             return toBool(value, account.inbandDtmf) ? std::string() : "expected yes or no";
         }},
        {"expires", seconds(&SipAccount::registerExpires, 10)},
        {"keepalive", seconds(&SipAccount::keepAlive, 5)},
        {"rtp_timeout", seconds(&SipAccount::rtpTimeout, 2)},
        {"retry_min", seconds(&SipAccount::retryMin, 1)},
        {"realm", list(&SipAccount::realms, false)},
        {"barred_prefixes", list(&SipAccount::barredPrefixes, true)},
        {"bar_international",
         [](SipAccount& account, std::string_view value) {
             return toBool(value, account.barInternational) ? std::string() : "expected yes or no";
         }},
        {"direct_bridge",
         [](SipAccount& account, std::string_view value) {
             return toBool(value, account.directBridge) ? std::string() : "expected yes or no";
         }},
        {"max_call_minutes",
         [](SipAccount& account, std::string_view value) {
             unsigned long minutes = 0;
             if (!toNumber(value, 1440, minutes)) {
                 return std::string("expected minutes, 0 (no limit) to 1440");
             }
             account.maxCallMinutes = std::chrono::minutes(minutes);
             return std::string();
         }},
        {"max_calls_per_hour", count(&SipAccount::maxCallsPerHour, 1000)},
        {"line_access",
         [](SipAccount& account, std::string_view value) {
             if (value.find_first_not_of("0123456789*#") != std::string_view::npos) {
                 return std::string("expected digits, '*' or '#'");
             }
             account.lineAccess = std::string(value);
             return std::string();
         }},
        {"number_lengths",
         [](SipAccount& account, std::string_view value) {
             std::vector<NumberLength> lengths;
             for (const auto& item : splitList(value)) {
                 const auto colon = item.find(':');
                 NumberLength rule{std::string(data::trim(item.substr(0, colon))), 0};
                 unsigned long length = 0;
                 if (colon == std::string::npos || rule.prefix.empty() ||
                     !data::allDigits(rule.prefix) ||
                     !toNumber(data::trim(std::string_view(item).substr(colon + 1)), kLongestNumber,
                               length) ||
                     length < rule.prefix.size() ||
                     std::any_of(lengths.begin(), lengths.end(),
                                 [&](const auto& other) { return other.prefix == rule.prefix; })) {
                     return "expected PREFIX:LENGTH, separated by commas (0301:10), each prefix "
                            "once, no longer than its length, lengths up to " +
                            std::to_string(kLongestNumber);
                 }
                 rule.length = length;
                 lengths.push_back(std::move(rule));
             }
             account.numberLengths = std::move(lengths);
             return std::string();
         }},
    };
    return table;
}

// What a message may repeat of an unknown key: a plain name that does not
// look like the password's key. "password: x=y", "Passwort = x" or a
// password with a '=' on a line of its own must not reach a log.
std::string unknownKey(std::string_view key) {
    auto name = lowered(key);
    bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
    bool passwordLike = name.starts_with("pa");
    for (std::string_view hint : {"pass", "pw", "word", "wort", "secret"}) {
        passwordLike = passwordLike || name.find(hint) != std::string::npos;
    }
    std::string message = plain && !passwordLike
                              ? "unknown key '" + std::string(key) + "'"
                              : std::string("unknown key (not shown: it may hold the password)");
    if (plain && setters().count(name) != 0) {
        message += "; keys are written in lower case";
    }
    return message;
}

}  // namespace

uint16_t defaultSipPort(SipTransport transport) {
    return transport == SipTransport::Tls ? 5061 : 5060;
}

const char* transportName(SipTransport transport) {
    static const char* const kNames[] = {"udp", "tcp", "tls"};
    return kNames[static_cast<int>(transport)];
}

std::vector<std::string> defaultBarredPrefixes(std::string_view countryCode) {
    if (countryCode == "49") {
        // 0900 premium rate, 0137 and 0138 televoting and mass calls, 118xy
        // directory enquiries (dialled without the 0), 0190 the former premium
        // rate, 012 innovative services (often premium-priced).
        return {"0900", "0137", "0138", "118", "0190", "012"};
    }
    return {};
}

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
        std::string_view key = data::trim(line.substr(0, equals));
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
        value = data::trim(value);
        auto setter = setters().find(key);
        if (setter == setters().end()) {
            return {std::nullopt, where + unknownKey(key)};
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
    // A sips: registrar means TLS; TLS settings without TLS are a mistake.
    if (account.sips && !seen["transport"]) {
        account.transport = SipTransport::Tls;
    }
    const char* needsTls = account.sips          ? "a sips: registrar"
                           : seen["tls_ca_file"] ? "tls_ca_file"
                           : seen["tls_verify"]  ? "tls_verify"
                                                 : nullptr;
    if (account.transport != SipTransport::Tls && needsTls) {
        return {std::nullopt, std::string("sip.conf: ") + needsTls + " needs transport = tls"};
    }
    if (account.domain.empty()) {
        auto colon = account.registrar.rfind(':');
        account.domain = account.registrar.substr(0, colon);
    }
    if (account.authUser.empty()) {
        account.authUser = account.user;
    }
    if (account.mediaEncryption == MediaEncryption::None) {
        if (account.srtp != SrtpPolicy::Off) {
            return {std::nullopt, "sip.conf: 'srtp' needs media_encryption = srtp"};
        }
    } else {
        if (!seen["srtp"]) {
            account.srtp = SrtpPolicy::Mandatory;
        }
        // SDES carries the audio keys inside the SIP messages.
        if (account.srtp != SrtpPolicy::Off && account.transport != SipTransport::Tls) {
            return {std::nullopt,
                    "sip.conf: media_encryption = srtp needs transport = tls: the keys travel in "
                    "the SIP messages and over udp or tcp anyone on the path could read them"};
        }
    }
    if (!seen["barred_prefixes"]) {
        account.barredPrefixes = defaultBarredPrefixes(account.countryCode);
    }
    return {std::move(account), {}};
}

SipAccountResult loadSipAccount(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return {std::nullopt, path + ": " + std::strerror(errno)};
    }
    struct stat info {};
    std::string refusal;
    if (fstat(fd, &info) != 0) {
        refusal = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        refusal = path + ": not a regular file";
    } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        refusal =
            path + " may be read by group or others and holds the password; run: chmod 600 " + path;
    }
    if (!refusal.empty()) {
        close(fd);
        return {std::nullopt, refusal};
    }
    // One buffer of fixed size, wiped after parsing: a stream's growing
    // buffers would leave copies of the password in freed memory.
    std::string text(kLargestFile + 1, '\0');
    size_t length = 0;
    int readError = 0;
    while (length < text.size()) {
        ssize_t got = read(fd, text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            readError = got < 0 ? errno : 0;
            break;
        }
        length += static_cast<size_t>(got);
    }
    close(fd);
    SipAccountResult result;
    if (readError != 0) {
        result.error = path + ": cannot be read: " + std::strerror(readError);
    } else if (length > kLargestFile) {
        result.error = path + ": larger than " + std::to_string(kLargestFile / 1024) +
                       " KiB, too large for a sip.conf";
    } else {
        result = parseSipAccount(std::string_view(text.data(), length));
    }
    explicit_bzero(text.data(), text.size());
    return result;
}

bool realmAllowed(const SipAccount& account, std::string_view realm) {
    auto same = [wanted = lowered(realm)](std::string_view name) {
        return !name.empty() && lowered(name) == wanted;
    };
    auto registrar = splitHostPort(account.registrar);
    return same(account.domain) || (registrar && same(registrar->host)) ||
           std::any_of(account.realms.begin(), account.realms.end(), same);
}

}  // namespace tellmaro::sip
