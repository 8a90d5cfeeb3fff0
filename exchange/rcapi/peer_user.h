#pragma once
// Who is at the other end of a TCP connection: the kernel lists every TCP
// socket of this machine with its owner in /proc/net/tcp (and, for sockets
// opened as IPv6, /proc/net/tcp6); a client on this machine has a row there
// whose ends are the connection's ends seen from its side.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tellmaro::exchange {

struct TcpEndpoint {
    uint32_t address = 0;  // IPv4, host order
    uint16_t port = 0;
};

struct SocketOwner {
    bool found = false;  // a socket of this machine has these two ends
    // Its owner; none when the socket is closed already (the kernel then
    // shows uid 0, which says nothing).
    std::optional<uid_t> uid;
};

// The owner of the socket whose local end is `local` and whose remote end is
// `remote`, from the text of /proc/net/tcp or /proc/net/tcp6.
SocketOwner tcpSocketOwner(std::string_view table, TcpEndpoint local, TcpEndpoint remote);

struct Peer {
    std::string address;  // "127.0.0.1:40000"
    bool onThisMachine = false;
    std::optional<uid_t> uid;  // known only on this machine
};

// The other end of the connected IPv4 socket `fd`. A peer on loopback is on
// this machine even when its row cannot be found (then its user is unknown).
Peer identifyPeer(int fd);

// "root", or the number when the uid has no name.
std::string userName(uid_t uid);
// A user given by name or number; none when this machine has no such user.
std::optional<uid_t> userId(const std::string& nameOrNumber);

}  // namespace tellmaro::exchange
