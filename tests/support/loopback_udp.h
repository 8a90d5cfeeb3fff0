#pragma once
// A UDP socket on a free port of 127.0.0.1, for the tests' own SIP and RTP peers, and a port
// free for a program to take.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace tellmaro::test {

// The socket, its port in `port`.
inline int bindLoopbackUdp(uint16_t& port, uint32_t host = INADDR_LOOPBACK) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// A port nobody listens on right now (UDP and TCP).
inline uint16_t freeUdpPort() {
    for (;;) {
        uint16_t port = 0;
        close(bindLoopbackUdp(port));
        sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        int tcp = socket(AF_INET, SOCK_STREAM, 0);
        bool free = bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(tcp);
        if (free) {
            return port;
        }
    }
}

}  // namespace tellmaro::test
