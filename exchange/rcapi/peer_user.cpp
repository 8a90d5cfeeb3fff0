#include "exchange/rcapi/peer_user.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace tellmaro::exchange {

namespace {

// Columns of a table row: "sl local_address rem_address st tx:rx tr:when
// retrnsmt uid timeout inode ...".
constexpr size_t kLocalColumn = 1;
constexpr size_t kRemoteColumn = 2;
constexpr size_t kUidColumn = 7;
constexpr size_t kInodeColumn = 9;

// The kernel prints each 32-bit word of an address as it lies in memory,
// read as a native number, and the port in host order.
std::string hexWord(uint32_t networkOrder) {
    std::array<char, 9> text{};
    std::snprintf(text.data(), text.size(), "%08X", networkOrder);
    return text.data();
}

std::string portText(uint16_t port) {
    std::array<char, 6> text{};
    std::snprintf(text.data(), text.size(), ":%04X", port);
    return text.data();
}

bool sameEnd(std::string_view column, TcpEndpoint end) {
    const std::string address = hexWord(htonl(end.address));
    const std::string port = portText(end.port);
    // IPv4 as in /proc/net/tcp, or as ::ffff:a.b.c.d in /proc/net/tcp6.
    return column == address + port ||
           column == "0000000000000000" + hexWord(htonl(0xFFFF)) + address + port;
}

std::vector<std::string_view> columns(std::string_view line) {
    std::vector<std::string_view> result;
    for (size_t at = 0; (at = line.find_first_not_of(' ', at)) != std::string_view::npos;) {
        size_t end = std::min(line.find(' ', at), line.size());
        result.push_back(line.substr(at, end - at));
        at = end;
    }
    return result;
}

std::string readAll(const char* path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

}  // namespace

SocketOwner tcpSocketOwner(std::string_view table, TcpEndpoint local, TcpEndpoint remote) {
    for (size_t start = 0; start < table.size();) {
        size_t end = std::min(table.find('\n', start), table.size());
        const auto row = columns(table.substr(start, end - start));
        start = end + 1;
        if (row.size() <= kInodeColumn || !sameEnd(row[kLocalColumn], local) ||
            !sameEnd(row[kRemoteColumn], remote)) {
            continue;
        }
        SocketOwner owner{true, std::nullopt};
        uid_t uid = 0;
        const auto uidText = row[kUidColumn];
        const bool number =
            std::from_chars(uidText.data(), uidText.data() + uidText.size(), uid).ptr ==
            uidText.data() + uidText.size();
        if (number && row[kInodeColumn] != "0") {
            owner.uid = uid;
        }
        return owner;
    }
    return {};
}

Peer identifyPeer(int fd) {
    sockaddr_in peer{};
    sockaddr_in self{};
    socklen_t peerLength = sizeof peer;
    socklen_t selfLength = sizeof self;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLength) != 0 ||
        peer.sin_family != AF_INET) {
        return {"an unknown address", true, std::nullopt};  // refused: nothing to check
    }
    const TcpEndpoint peerEnd{ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)};
    const TcpEndpoint selfEnd{ntohl(self.sin_addr.s_addr), ntohs(self.sin_port)};
    std::array<char, INET_ADDRSTRLEN> address{};
    inet_ntop(AF_INET, &peer.sin_addr, address.data(), address.size());
    Peer result{std::string(address.data()) + ":" + std::to_string(peerEnd.port),
                (peerEnd.address >> 24) == 127, std::nullopt};
    // The client's socket: its local end is the peer, its remote end is us.
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const SocketOwner owner = tcpSocketOwner(readAll(table), peerEnd, selfEnd);
        if (owner.found) {
            result.onThisMachine = true;
            result.uid = owner.uid;
            break;
        }
    }
    return result;
}

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::array<char, 4096> buffer{};
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

std::optional<uid_t> userId(const std::string& nameOrNumber) {
    passwd entry{};
    passwd* found = nullptr;
    std::array<char, 4096> buffer{};
    if (getpwnam_r(nameOrNumber.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found) {
        return found->pw_uid;
    }
    uid_t uid = 0;
    const char* end = nameOrNumber.data() + nameOrNumber.size();
    if (!nameOrNumber.empty() && std::from_chars(nameOrNumber.data(), end, uid).ptr == end) {
        return uid;
    }
    return std::nullopt;
}

}  // namespace tellmaro::exchange
