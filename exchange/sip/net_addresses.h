#pragma once
// Host names and addresses for the SIP line, with the system resolver:
// where the registrar and proxy are, and which local address reaches them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tellmaro::sip {

struct HostPort {
    std::string host;
    uint16_t port = 0;  // 0: not given
};

// "host", "host:port", "[v6]:port".
std::optional<HostPort> splitHostPort(std::string_view text);

// The numeric addresses of a host (the host itself when it is one).
std::vector<std::string> resolveHost(const std::string& host);

// The local address the system would send from to reach `address`.
std::optional<std::string> localAddressToward(const std::string& address);

}  // namespace tellmaro::sip
