#include "exchange/sip/audio_fifos.h"

#include <algorithm>
#include <utility>

#include "exchange/sip/g711.h"

namespace tellmaro::sip {

void ReceiveFifo::restart(uint32_t ssrc, uint16_t sequence, uint32_t timestamp) {
    started_ = true;
    ssrc_ = ssrc;
    nextSequence_ = sequence;
    nextTimestamp_ = timestamp;
    held_.clear();
}

void ReceiveFifo::accept(uint32_t ssrc, uint16_t sequence, uint32_t timestamp,
                         std::span<const uint8_t> capi, AudioClock::time_point now) {
    if (!started_ || ssrc != ssrc_) {
        restart(ssrc, sequence, timestamp);
    }
    auto distance = static_cast<int16_t>(static_cast<uint16_t>(sequence - nextSequence_));
    if (distance < -100 || distance > 100) {
        // The sender started over (or lost a great deal): follow it.
        restart(ssrc, sequence, timestamp);
        distance = 0;
    }
    if (distance < 0 || held_.count(static_cast<uint16_t>(distance)) != 0) {
        ++latePackets_;
        return;
    }
    ++framesReceived_;
    held_[static_cast<uint16_t>(distance)] = {timestamp, {capi.begin(), capi.end()}, now};
    release(now);
}

void ReceiveFifo::skip(uint32_t ssrc, uint16_t sequence, AudioClock::time_point now) {
    auto distance = static_cast<int16_t>(static_cast<uint16_t>(sequence - nextSequence_));
    if (!started_ || ssrc != ssrc_ || distance < 0 || distance > 100 ||
        held_.count(static_cast<uint16_t>(distance)) != 0) {
        return;
    }
    held_[static_cast<uint16_t>(distance)] = {0, {}, now};
    release(now);
}

void ReceiveFifo::poll(AudioClock::time_point now) {
    release(now);
}

void ReceiveFifo::release(AudioClock::time_point now) {
    while (!held_.empty()) {
        auto first = held_.begin();
        if (first->first != 0) {
            bool waitedEnough =
                held_.size() >= kHoldPackets || now - first->second.arrived >= kHoldTime;
            if (!waitedEnough) {
                return;
            }
            lostPackets_ += first->first;
        }
        Held packet = std::move(first->second);
        uint16_t skipped = first->first;
        held_.erase(first);
        nextSequence_ = static_cast<uint16_t>(nextSequence_ + skipped + 1);
        // The keys count from the old next sequence number.
        std::map<uint16_t, Held> rekeyed;
        for (auto& [distance, waiting] : held_) {
            rekeyed[static_cast<uint16_t>(distance - skipped - 1)] = std::move(waiting);
        }
        held_ = std::move(rekeyed);
        if (!packet.bytes.empty()) {
            write(packet.timestamp, packet.bytes);
        }
    }
}

void ReceiveFifo::write(uint32_t timestamp, std::span<const uint8_t> bytes) {
    auto gap = static_cast<int32_t>(timestamp - nextTimestamp_);
    if (gap > 0 && static_cast<uint32_t>(gap) <= kLongestFill) {
        ++timestampGaps_;
        appendSilence(static_cast<size_t>(gap));
    } else if (gap < 0 && -gap < static_cast<int32_t>(kLongestFill)) {
        // Overlaps what was written already: keep only the new part.
        auto overlap = static_cast<size_t>(-gap);
        if (overlap >= bytes.size()) {
            return;
        }
        timestamp += static_cast<uint32_t>(overlap);
        bytes = bytes.subspan(overlap);
    }
    append(bytes);
    nextTimestamp_ = timestamp + static_cast<uint32_t>(bytes.size());
}

void ReceiveFifo::append(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        size_t take = std::min(bytes.size(), kBlockSize - pendingBytes_);
        std::copy_n(bytes.begin(), take, pending_.begin() + static_cast<long>(pendingBytes_));
        if (tap_) {
            tap_(pendingBytes_, bytes.first(take));
        }
        pendingBytes_ += take;
        bytes = bytes.subspan(take);
        if (pendingBytes_ == kBlockSize) {
            blocks_.push_back(pending_);
            pendingBytes_ = 0;
        }
    }
}

void ReceiveFifo::appendSilence(size_t count) {
    static const std::vector<uint8_t> silence(kLongestFill, kCapiAlawSilence);
    append(std::span<const uint8_t>(silence).first(std::min(count, silence.size())));
}

std::vector<Block> ReceiveFifo::takeBlocks() {
    return std::exchange(blocks_, {});
}

void SendFifo::push(std::span<const uint8_t> capi, AudioClock::time_point now, size_t most,
                    std::chrono::milliseconds prime) {
    if (bytes_.empty() && !playing_) {
        startAt_ = now + prime;
    }
    for (uint8_t byte : capi) {
        bytes_.push_back(capiToPcma(byte));
    }
    if (bytes_.size() > most) {
        size_t excess = bytes_.size() - most;
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(excess));
        bytesDropped_ += excess;
    }
}

std::array<uint8_t, kFrameSize> SendFifo::nextFrame(AudioClock::time_point now) {
    std::array<uint8_t, kFrameSize> frame;
    frame.fill(kRtpAlawSilence);
    if (!playing_ && !bytes_.empty() && now >= startAt_) {
        playing_ = true;
    }
    if (!playing_) {
        return frame;
    }
    size_t take = std::min(kFrameSize, bytes_.size());
    std::copy_n(bytes_.begin(), take, frame.begin());
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(take));
    if (take < kFrameSize) {
        // Starved: count it once and prime again with the next block, which
        // gives a late stream the room it evidently needs.
        ++underruns_;
        playing_ = false;
    }
    return frame;
}

FramePace::Due FramePace::due(AudioClock::time_point now) {
    Due result;
    while (next_ <= now) {
        if (result.frames < kMostFramesAtOnce) {
            ++result.frames;
        } else {
            ++result.skipped;
        }
        next_ += kFrameTime;
    }
    return result;
}

std::chrono::milliseconds FramePace::untilNext(AudioClock::time_point now) const {
    if (next_ <= now) {
        return std::chrono::milliseconds(0);
    }
    return std::chrono::ceil<std::chrono::milliseconds>(next_ - now);
}

}  // namespace tellmaro::sip
