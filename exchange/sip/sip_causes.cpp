#include "exchange/sip/sip_causes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>
#include <utility>

#include "data/text_rules.h"

namespace tellmaro::sip {

namespace {

struct Row {
    uint16_t status;
    uint8_t cause;
    const char* phrase;
};

// RFC 3398 section 8.2.6.1, except 408: after ringing it means the far end
// did not answer, which an ISDN caller knows as "no user responding".
constexpr std::array kTable = {
    Row{400, 41, "Bad Request"},
    Row{401, 21, "Unauthorized"},
    Row{402, 21, "Payment Required"},
    Row{403, 21, "Forbidden"},
    Row{404, 1, "Not Found"},
    Row{405, 63, "Method Not Allowed"},
    Row{406, 79, "Not Acceptable"},
    Row{407, 21, "Proxy Authentication Required"},
    Row{408, 18, "Request Timeout"},
    Row{410, 22, "Gone"},
    Row{413, 127, "Request Entity Too Large"},
    Row{414, 127, "Request-URI Too Long"},
    Row{415, 79, "Unsupported Media Type"},
    Row{416, 127, "Unsupported URI Scheme"},
    Row{420, 127, "Bad Extension"},
    Row{421, 127, "Extension Required"},
    Row{423, 127, "Interval Too Brief"},
    Row{480, 18, "Temporarily Unavailable"},
    Row{481, 41, "Call/Transaction Does Not Exist"},
    Row{482, 25, "Loop Detected"},
    Row{483, 25, "Too Many Hops"},
    Row{484, 28, "Address Incomplete"},
    Row{485, 1, "Ambiguous"},
    Row{486, 17, "Busy Here"},
    Row{487, 127, "Request Terminated"},
    Row{488, 127, "Not Acceptable Here"},
    Row{500, 41, "Server Internal Error"},
    Row{501, 79, "Not Implemented"},
    Row{502, 38, "Bad Gateway"},
    Row{503, 41, "Service Unavailable"},
    Row{504, 102, "Server Time-out"},
    Row{505, 127, "Version Not Supported"},
    Row{513, 127, "Message Too Large"},
    Row{600, 17, "Busy Everywhere"},
    Row{603, 21, "Decline"},
    Row{604, 1, "Does Not Exist Anywhere"},
    Row{606, 58, "Not Acceptable"},
};

const Row* find(uint16_t status) {
    auto row = std::find_if(kTable.begin(), kTable.end(),
                            [status](const Row& r) { return r.status == status; });
    return row == kTable.end() ? nullptr : &*row;
}

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The pieces of `text` between `separator`s outside quoted strings.
template <typename Visit>
void splitOutsideQuotes(std::string_view text, char separator, Visit visit) {
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (quoted && text[i] == '\\') {
            ++i;  // a quoted pair
        } else if (text[i] == '"') {
            quoted = !quoted;
        } else if (text[i] == separator && !quoted) {
            visit(data::trim(text.substr(start, i - start)));
            start = i + 1;
        }
    }
    visit(data::trim(text.substr(std::min(start, text.size()))));
}

// "Q.850;cause=17;text=\"busy\"": its cause; nothing for another protocol
// or a cause that is no Q.850 cause.
std::optional<uint8_t> q850Cause(std::string_view reason) {
    bool q850 = false;
    bool first = true;
    std::optional<uint8_t> found;
    splitOutsideQuotes(reason, ';', [&](std::string_view part) {
        if (std::exchange(first, false)) {
            q850 = sameWord(part, "Q.850");
            return;
        }
        const auto equals = part.find('=');
        if (!q850 || found || equals == std::string_view::npos ||
            !sameWord(data::trim(part.substr(0, equals)), "cause")) {
            return;
        }
        const auto value = data::trim(part.substr(equals + 1));
        unsigned cause = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), cause);
        if (error == std::errc() && end == value.data() + value.size() && cause >= 1 &&
            cause <= 127) {
            found = static_cast<uint8_t>(cause);
        }
    });
    return found;
}

}  // namespace

uint8_t causeForSipResponse(uint16_t status, std::string_view reasons) {
    std::optional<uint8_t> stated;
    splitOutsideQuotes(reasons, ',', [&](std::string_view reason) {
        if (!stated) {
            stated = q850Cause(reason);
        }
    });
    return stated ? *stated : causeForSipStatus(status);
}

uint8_t causeForSipStatus(uint16_t status) {
    if (const Row* row = find(status)) {
        return row->cause;
    }
    // Unknown codes count as the first of their class.
    if (status >= 600) {
        return cause::kNormalUnspecified;
    }
    if (status >= 500) {
        return cause::kTemporaryFailure;
    }
    if (status >= 400) {
        return cause::kInterworking;
    }
    return cause::kInterworking;  // 3xx: redirection is not followed
}

uint16_t sipStatusForCause(uint8_t q850) {
    switch (q850) {
        case 1:
            return 404;
        case 17:
            return 486;
        case 18:
            return 408;
        case 19:
            return 480;
        case 20:
            return 480;
        case 21:
            return 603;
        case 22:
            return 410;
        case 27:
            return 502;
        case 28:
            return 484;
        case 34:
        case 38:
        case 41:
        case 42:
        case 47:
            return 503;
        default:
            return q850 < 32 ? 480 : 500;
    }
}

std::string reasonPhrase(uint16_t status) {
    if (status == 180) {
        return "Ringing";
    }
    if (status == 183) {
        return "Session Progress";
    }
    if (status == 200) {
        return "OK";
    }
    const Row* row = find(status);
    return row ? row->phrase : "";
}

}  // namespace tellmaro::sip
