#pragma once
// A small RTP receiver for the SIP benchmarks.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "support/loopback_udp.h"

namespace tellmaro::test {

using Clock = std::chrono::steady_clock;

// Receives RTP on a port of its own until destroyed; keeps each packet's
// payload with its arrival time and source port.
class RtpCatcher {
  public:
    struct Packet {
        Clock::time_point at;
        uint16_t sourcePort;
        std::vector<uint8_t> payload;  // after the header and its contributing sources
    };
    RtpCatcher() : fd_(bindLoopbackUdp(port_)), thread_([this] { run(); }) {}
    ~RtpCatcher() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    uint16_t port() const { return port_; }
    std::vector<Packet> packets() {
        std::lock_guard lock(mutex_);
        return packets_;
    }

  private:
    void run() {
        uint8_t b[2048] = {};
        sockaddr_in source{};
        socklen_t length = sizeof source;
        for (pollfd fd{fd_, POLLIN, 0}; !stop_;) {
            ssize_t got =
                poll(&fd, 1, 50) <= 0
                    ? 0
                    : recvfrom(fd_, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&source), &length);
            const ssize_t header = 12 + (b[0] & 0x0F) * 4;
            if (got >= header) {
                std::lock_guard lock(mutex_);
                packets_.push_back({Clock::now(), ntohs(source.sin_port), {b + header, b + got}});
            }
        }
    }
    uint16_t port_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Packet> packets_;
    std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace tellmaro::test
