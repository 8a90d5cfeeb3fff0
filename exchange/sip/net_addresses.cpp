#include "exchange/sip/net_addresses.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>

namespace tellmaro::sip {

std::optional<HostPort> splitHostPort(std::string_view text) {
    HostPort result;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        result.host = std::string(text.substr(1, close - 1));
        auto rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return std::nullopt;
            }
            portText = rest.substr(1);
        }
    } else {
        auto colon = text.find(':');
        result.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = text.substr(colon + 1);
        }
    }
    if (result.host.empty()) {
        return std::nullopt;
    }
    if (!portText.empty()) {
        unsigned port = 0;
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (ec != std::errc() || end != portText.data() + portText.size() || port == 0 ||
            port > 65535) {
            return std::nullopt;
        }
        result.port = static_cast<uint16_t>(port);
    }
    return result;
}

std::vector<std::string> resolveHost(const std::string& host) {
    std::vector<std::string> addresses;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return addresses;
    }
    for (addrinfo* entry = found; entry; entry = entry->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = entry->ai_family == AF_INET
                              ? static_cast<const void*>(
                                    &reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr)
                              : static_cast<const void*>(
                                    &reinterpret_cast<sockaddr_in6*>(entry->ai_addr)->sin6_addr);
        if (inet_ntop(entry->ai_family, raw, text, sizeof text)) {
            addresses.emplace_back(text);
        }
    }
    freeaddrinfo(found);
    return addresses;
}

std::optional<std::string> localAddressToward(const std::string& address) {
    sockaddr_storage peer{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&peer);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&peer);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(9);
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(9);
        length = sizeof *v6;
    } else {
        return std::nullopt;
    }
    int fd = socket(peer.ss_family, SOCK_DGRAM, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (connect(fd, reinterpret_cast<sockaddr*>(&peer), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw =
            local.ss_family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&local)->sin_addr)
                : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr);
        if (inet_ntop(local.ss_family, raw, text, sizeof text)) {
            result = text;
        }
    }
    close(fd);
    return result;
}

}  // namespace tellmaro::sip
