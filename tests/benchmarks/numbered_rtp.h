#pragma once
// One far end's audio for the end-to-end benchmark: a UDP socket on
// 127.0.0.1 that sends numbered 20 ms PCMA frames at a steady pace, with
// RFC 4733 keys in between when asked, and keeps every RTP packet it hears
// with its arrival time. A frame's first three bytes carry its number (six
// bits each, from 0x10) and the rest is 0x55, so the frame can be found again
// in the bytes heard however the 2048-byte blocks in between cut them.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_udp.h"

namespace tellmaro::bench {

using RtpClock = std::chrono::steady_clock;

inline constexpr size_t kFrameBytes = 160;
inline constexpr uint8_t kFrameFill = 0x55;
inline constexpr uint8_t kPcmaType = 8;
inline constexpr uint8_t kEventType = 101;

struct HeardPacket {
    RtpClock::time_point at;
    uint8_t payloadType = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::vector<uint8_t> payload;
};

class RtpPeer {
  public:
    RtpPeer() {
        fd_ = test::bindLoopbackUdp(port_);
        receiver_ = std::thread([this] { receive(); });
    }
    ~RtpPeer() {
        stopSending();
        stop_ = true;
        receiver_.join();
        close(fd_);
    }
    RtpPeer(const RtpPeer&) = delete;
    RtpPeer& operator=(const RtpPeer&) = delete;

    uint16_t port() const { return port_; }

    // Starts sending to 127.0.0.1:`remotePort`, a frame every 20 ms.
    void startSending(uint16_t remotePort) {
        remote_.sin_family = AF_INET;
        remote_.sin_port = htons(remotePort);
        remote_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sender_ = std::thread([this] { send(); });
    }
    void stopSending() {
        sending_ = false;
        if (sender_.joinable()) {
            sender_.join();
        }
    }
    // Keys ('0'-'9', '*', '#') to send as RFC 4733 events, one after another.
    void pressKeys(const std::string& keys) {
        std::lock_guard lock(mutex_);
        keys_.insert(keys_.end(), keys.begin(), keys.end());
    }
    // When each frame was sent, by its number; after stopSending().
    const std::vector<RtpClock::time_point>& frameSentTimes() const { return sentAt_; }
    std::vector<HeardPacket> heard() {
        std::lock_guard lock(mutex_);
        return heard_;
    }

  private:
    // A key lasts five packets (100 ms), the last one sent three times as
    // RFC 4733 asks; the audio pauses meanwhile and for three frames after.
    static constexpr int kKeyPackets = 5;
    static constexpr int kEndRepeats = 2;
    static constexpr int kPauseAfterKey = 3;

    static uint8_t eventCode(char key) {
        return key == '*' ? 10 : key == '#' ? 11 : static_cast<uint8_t>(key - '0');
    }

    void send() {
        std::mt19937 random{std::random_device{}()};
        const uint32_t ssrc = random();
        const uint32_t firstTimestamp = random();
        uint16_t sequence = static_cast<uint16_t>(random());
        uint32_t frame = 0;
        char key = 0;
        int keySlot = 0;
        uint32_t keyTimestamp = 0;
        int pause = 0;
        auto next = RtpClock::now();
        for (uint32_t slot = 0; sending_; ++slot, next += std::chrono::milliseconds(20)) {
            std::this_thread::sleep_until(next);
            uint8_t packet[12 + kFrameBytes] = {0x80, kPcmaType};
            uint32_t timestamp = firstTimestamp + slot * static_cast<uint32_t>(kFrameBytes);
            size_t length = 12 + kFrameBytes;
            if (key == 0 && pause == 0) {
                std::lock_guard lock(mutex_);
                if (!keys_.empty()) {
                    key = keys_.front();
                    keys_.pop_front();
                    keySlot = 0;
                    keyTimestamp = timestamp;
                }
            }
            if (key != 0) {
                int step = std::min(keySlot, kKeyPackets - 1);
                uint16_t duration = static_cast<uint16_t>((step + 1) * kFrameBytes);
                bool end = keySlot >= kKeyPackets - 1;
                packet[1] = static_cast<uint8_t>(kEventType | (keySlot == 0 ? 0x80 : 0));
                timestamp = keyTimestamp;
                packet[12] = eventCode(key);
                packet[13] = static_cast<uint8_t>((end ? 0x80 : 0) | 10);
                packet[14] = static_cast<uint8_t>(duration >> 8);
                packet[15] = static_cast<uint8_t>(duration);
                length = 16;
                if (++keySlot == kKeyPackets + kEndRepeats) {
                    key = 0;
                    pause = kPauseAfterKey;
                }
            } else {
                if (pause > 0) {
                    --pause;
                }
                // The number, six bits a byte, then the fill.
                packet[12] = static_cast<uint8_t>(0x10 + (frame & 0x3F));
                packet[13] = static_cast<uint8_t>(0x10 + ((frame >> 6) & 0x3F));
                packet[14] = static_cast<uint8_t>(0x10 + ((frame >> 12) & 0x3F));
                std::fill(packet + 15, packet + sizeof packet, kFrameFill);
                if (frame == 0) {
                    packet[1] |= 0x80;
                }
                sentAt_.push_back(RtpClock::now());
                ++frame;
            }
            packet[2] = static_cast<uint8_t>(sequence >> 8);
            packet[3] = static_cast<uint8_t>(sequence);
            ++sequence;
            for (int i = 0; i < 4; ++i) {
                packet[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
                packet[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
            }
            sendto(fd_, packet, length, 0, reinterpret_cast<const sockaddr*>(&remote_),
                   sizeof remote_);
        }
    }

    void receive() {
        while (!stop_) {
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, 50) <= 0) {
                continue;
            }
            uint8_t buffer[2048];
            ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got < 12) {
                continue;
            }
            HeardPacket packet;
            packet.at = RtpClock::now();
            packet.payloadType = buffer[1] & 0x7F;
            packet.sequence = static_cast<uint16_t>((buffer[2] << 8) | buffer[3]);
            packet.timestamp = (uint32_t(buffer[4]) << 24) | (uint32_t(buffer[5]) << 16) |
                               (uint32_t(buffer[6]) << 8) | buffer[7];
            packet.ssrc = (uint32_t(buffer[8]) << 24) | (uint32_t(buffer[9]) << 16) |
                          (uint32_t(buffer[10]) << 8) | buffer[11];
            packet.payload.assign(buffer + 12, buffer + got);
            std::lock_guard lock(mutex_);
            heard_.push_back(std::move(packet));
        }
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    sockaddr_in remote_{};
    std::atomic<bool> stop_{false};
    std::atomic<bool> sending_{true};
    std::thread receiver_;
    std::thread sender_;
    std::mutex mutex_;
    std::deque<char> keys_;
    std::vector<HeardPacket> heard_;
    std::vector<RtpClock::time_point> sentAt_;
};

// A numbered frame found in the audio a peer heard.
struct FoundFrame {
    uint32_t number = 0;
    size_t offset = 0;          // of its first byte in all audio bytes heard
    RtpClock::time_point at{};  // arrival of the packet that held its first byte
};

inline bool isNumberByte(uint8_t byte) {
    return byte >= 0x10 && byte < 0x50;
}

// The numbered frames in the audio packets heard, in the order heard.
inline std::vector<FoundFrame> findFrames(const std::vector<HeardPacket>& packets) {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<size_t, RtpClock::time_point>> starts;
    for (const auto& packet : packets) {
        if (packet.payloadType == kPcmaType) {
            starts.emplace_back(bytes.size(), packet.at);
            bytes.insert(bytes.end(), packet.payload.begin(), packet.payload.end());
        }
    }
    std::vector<FoundFrame> frames;
    size_t packet = 0;
    for (size_t at = 0; at + kFrameBytes <= bytes.size();) {
        bool found = isNumberByte(bytes[at]) && isNumberByte(bytes[at + 1]) &&
                     isNumberByte(bytes[at + 2]) &&
                     std::all_of(bytes.begin() + static_cast<long>(at) + 3,
                                 bytes.begin() + static_cast<long>(at + kFrameBytes),
                                 [](uint8_t byte) { return byte == kFrameFill; });
        if (!found) {
            ++at;
            continue;
        }
        while (packet + 1 < starts.size() && starts[packet + 1].first <= at) {
            ++packet;
        }
        uint32_t number = static_cast<uint32_t>(bytes[at] - 0x10) |
                          (static_cast<uint32_t>(bytes[at + 1] - 0x10) << 6) |
                          (static_cast<uint32_t>(bytes[at + 2] - 0x10) << 12);
        frames.push_back({number, at, starts[packet].second});
        at += kFrameBytes;
    }
    return frames;
}

}  // namespace tellmaro::bench
