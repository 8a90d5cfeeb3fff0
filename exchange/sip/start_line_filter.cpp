#include "exchange/sip/start_line_filter.h"

#include <dirent.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <vector>

namespace tellmaro::sip {

bool attachStartLineFilter(int fd) {
    constexpr uint32_t kPass = 0xFFFF, kDrop = 0;
    // Classic BPF has no loops: one test per byte. A load past the end of a
    // datagram ends the filter with 0, which drops it: no line end there.
    // A UDP socket's filter sees the datagram from its UDP header on.
    constexpr uint32_t kUdpHeader = 8;
    std::vector<sock_filter> program;
    for (uint32_t at = kUdpHeader; at < kUdpHeader + kLongestStartLine; ++at) {
        program.push_back(BPF_STMT(BPF_LD | BPF_B | BPF_ABS, at));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, '\n', 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, kPass));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, kDrop));
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0;
}

int udpSocketOn(uint16_t port) {
    DIR* fds = opendir("/proc/self/fd");
    int found = -1;
    while (dirent* entry = fds ? readdir(fds) : nullptr) {
        int fd = std::atoi(entry->d_name);
        int type = 0;
        socklen_t length = sizeof type;
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            continue;
        }
        const uint16_t bound = address.ss_family == AF_INET
                                   ? ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port)
                                   : ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
        if (bound == port) {
            found = fd;
        }
    }
    if (fds) {
        closedir(fds);
    }
    return found;
}

}  // namespace tellmaro::sip
