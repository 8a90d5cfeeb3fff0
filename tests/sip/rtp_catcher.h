#pragma once
// RTP packets read: a small receiver for the SIP benchmarks, and a parser.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "support/loopback_udp.h"

namespace tellmaro::test {

using Clock = std::chrono::steady_clock;

struct RtpPacket {
    uint8_t payloadType;
    uint16_t sequence;
    uint32_t timestamp, ssrc;
    std::vector<uint8_t> payload;
};

// The header fields and payload of an RTP packet; nothing when it is shorter than its header.
inline std::optional<RtpPacket> parseRtp(std::span<const uint8_t> b) {
    const size_t header = 12 + (b.empty() ? 0 : (b[0] & 0x0F) * 4u);
    if (b.size() < header) {
        return std::nullopt;
    }
    auto be32 = [&](size_t at) {
        return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 |
               b[at + 3];
    };
    return RtpPacket{uint8_t(b[1] & 0x7F),
                     uint16_t(b[2] << 8 | b[3]),
                     be32(4),
                     be32(8),
                     {b.begin() + static_cast<ptrdiff_t>(header), b.end()}};
}

// Receives RTP on a port of its own until destroyed; keeps each packet with its arrival time.
class RtpCatcher {
  public:
    struct Packet : RtpPacket {
        Clock::time_point at;
        uint16_t sourcePort;
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
        uint8_t b[2048];
        sockaddr_in source{};
        socklen_t length = sizeof source;
        for (pollfd fd{fd_, POLLIN, 0}; !stop_;) {
            ssize_t got =
                poll(&fd, 1, 50) <= 0
                    ? 0
                    : recvfrom(fd_, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&source), &length);
            if (auto rtp = got > 0 ? parseRtp({b, static_cast<size_t>(got)}) : std::nullopt) {
                std::lock_guard lock(mutex_);
                packets_.push_back({std::move(*rtp), Clock::now(), ntohs(source.sin_port)});
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
