#pragma once
// A small RTP receiver for the SIP line's tests and benchmarks.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "support/loopback_udp.h"

namespace tellmaro::test {

using Clock = std::chrono::steady_clock;

// Receives RTP on a port of its own until stopped; keeps each packet with its arrival time.
class RtpCatcher {
  public:
    struct Packet {
        Clock::time_point at;
        uint8_t payloadType;
        uint16_t sequence;
        uint32_t timestamp;
        uint32_t ssrc;
        uint16_t sourcePort;
        std::vector<uint8_t> payload;
    };
    RtpCatcher() {
        fd_ = bindLoopbackUdp(port_);
        thread_ = std::thread([this] { run(); });
    }
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
        while (!stop_) {
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, 50) <= 0) {
                continue;
            }
            uint8_t buffer[2048];
            sockaddr_in source{};
            socklen_t length = sizeof source;
            ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&source), &length);
            if (got < 12) {
                continue;
            }
            auto be = [&](int at, int bytes) {
                uint32_t value = 0;
                for (int i = 0; i < bytes; ++i) {
                    value = value << 8 | buffer[at + i];
                }
                return value;
            };
            Packet packet{
                Clock::now(), uint8_t(buffer[1] & 0x7F), uint16_t(be(2, 2)),         be(4, 4),
                be(8, 4),     ntohs(source.sin_port),    {buffer + 12, buffer + got}};
            std::lock_guard lock(mutex_);
            packets_.push_back(std::move(packet));
        }
    }
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Packet> packets_;
};

}  // namespace tellmaro::test
