#include "exchange/sip/sip_redaction.h"

#include <algorithm>
#include <cctype>

namespace tellmaro::sip {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Digest: the response (and a cnonce-bound value) goes; Basic: everything after the scheme.
std::string redactLine(std::string_view line) {
    auto colon = line.find(':');
    std::string out(line.substr(0, colon + 1));
    std::string_view value = line.substr(colon + 1);
    auto first = value.find_first_not_of(' ');
    if (first != std::string_view::npos && startsWithNoCase(value.substr(first), "basic")) {
        return out + " Basic <redacted>";
    }
    std::string rest(value);
    std::string lowered = rest;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (std::string_view name : {"response=", "password="}) {
        size_t at = 0;
        while ((at = lowered.find(name, at)) != std::string::npos) {
            size_t start = at + name.size();
            size_t end = start;
            if (end < rest.size() && rest[end] == '"') {
                end = rest.find('"', end + 1);
                end = end == std::string::npos ? rest.size() : end + 1;
            } else {
                end = rest.find_first_of(",\r", end);
                end = end == std::string::npos ? rest.size() : end;
            }
            rest.replace(start, end - start, "\"<redacted>\"");
            lowered.replace(start, end - start, "\"<redacted>\"");
            at = start;
        }
    }
    return out + rest;
}

}  // namespace

std::string redactCredentials(std::string_view message) {
    std::string out;
    while (!message.empty()) {
        auto end = message.find('\n');
        auto line = message.substr(0, end == std::string_view::npos ? message.size() : end + 1);
        message.remove_prefix(line.size());
        if (startsWithNoCase(line, "authorization:") ||
            startsWithNoCase(line, "proxy-authorization:")) {
            bool newline = !line.empty() && line.back() == '\n';
            auto body = line.substr(0, line.size() - (newline ? 1 : 0));
            bool cr = !body.empty() && body.back() == '\r';
            out += redactLine(body.substr(0, body.size() - (cr ? 1 : 0)));
            out += cr ? "\r" : "";
            out += newline ? "\n" : "";
        } else {
            out += line;
        }
    }
    return out;
}

}  // namespace tellmaro::sip
