#pragma once
// The two byte FIFOs between RTP frames and 2048-byte CAPI blocks, kept free
// of the SIP stack so their arithmetic is tested without a network.
//
// Receiving: RTP packets of any size are put in sequence (a short hold
// reorders them, a gap is filled with silence after the hold), and every
// 2048 bytes leave as a block at once. Sending: blocks are played out as
// 160-byte frames at a steady 20 ms pace; before the first block and after
// the FIFO ran dry silence is sent, and playing starts a little after the
// data came so a block arriving slightly late does not starve the pace.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "exchange/sip/sip_events.h"

namespace tellmaro::sip {

using AudioClock = std::chrono::steady_clock;
inline constexpr size_t kFrameSize = 160;  // 20 ms of 8 kHz G.711
inline constexpr std::chrono::milliseconds kFrameTime{20};

class ReceiveFifo {
  public:
    // How long a packet after a gap waits for the missing one.
    static constexpr std::chrono::milliseconds kHoldTime{60};
    static constexpr size_t kHoldPackets = 4;
    // A jump in time beyond this is a new stream, not silence to fill.
    static constexpr uint32_t kLongestFill = 8000;

    // `capi` is the payload already in CAPI coding, one byte per sample.
    void accept(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, std::span<const uint8_t> capi,
                AudioClock::time_point now);
    // A packet of the stream that carries no audio: an RFC 4733 event, which
    // shares the stream's sequence numbers. It takes its place, so the audio
    // after it is neither held for it nor counted lost.
    void skip(uint32_t ssrc, uint16_t sequence, AudioClock::time_point now);
    // Gives up on missing packets held for longer than kHoldTime.
    void poll(AudioClock::time_point now);
    std::vector<Block> takeBlocks();
    // Sees each run of bytes written into the blocks (silence filled in too),
    // with its offset in the block being filled, before the block is taken.
    using Tap = std::function<void(size_t offset, std::span<const uint8_t> bytes)>;
    void setTap(Tap tap) { tap_ = std::move(tap); }

    uint64_t framesReceived() const { return framesReceived_; }
    uint64_t timestampGaps() const { return timestampGaps_; }
    uint64_t lostPackets() const { return lostPackets_; }
    uint64_t latePackets() const { return latePackets_; }

  private:
    struct Held {
        uint32_t timestamp;
        std::vector<uint8_t> bytes;  // none for a packet without audio
        AudioClock::time_point arrived;
    };
    void restart(uint32_t ssrc, uint16_t sequence, uint32_t timestamp);
    void release(AudioClock::time_point now);
    void write(uint32_t timestamp, std::span<const uint8_t> bytes);
    void append(std::span<const uint8_t> bytes);
    void appendSilence(size_t count);

    bool started_ = false;
    uint32_t ssrc_ = 0;
    uint16_t nextSequence_ = 0;
    uint32_t nextTimestamp_ = 0;
    std::map<uint16_t, Held> held_;  // keyed by distance from nextSequence_ at arrival
    Block pending_{};
    size_t pendingBytes_ = 0;
    std::vector<Block> blocks_;
    Tap tap_;
    uint64_t framesReceived_ = 0;
    uint64_t timestampGaps_ = 0;
    uint64_t lostPackets_ = 0;
    uint64_t latePackets_ = 0;
};

class SendFifo {
  public:
    // Playing starts this long after data arrives into an empty FIFO: the
    // room a late block has before the pace starves.
    static constexpr std::chrono::milliseconds kPrimeDelay{30};
    // More than a block plus this many frames waiting means the far leg's
    // clock runs fast: the oldest bytes beyond it go.
    static constexpr size_t kSlackFrames = 3;

    static constexpr size_t kMostWaiting = kBlockSize + kSlackFrames * kFrameSize;

    // Bytes in CAPI coding; beyond `most` waiting the oldest go. Into an
    // empty FIFO they play `prime` later.
    void push(std::span<const uint8_t> capi, AudioClock::time_point now, size_t most = kMostWaiting,
              std::chrono::milliseconds prime = kPrimeDelay);
    // Drops what waits; the next bytes prime afresh.
    void clear() {
        bytes_.clear();
        playing_ = false;
    }
    // The next 160-byte frame as PCMA for RTP; silence while nothing plays.
    // A frame that finds fewer bytes than it needs is padded with silence
    // and counted as an underrun.
    std::array<uint8_t, kFrameSize> nextFrame(AudioClock::time_point now);

    size_t level() const { return bytes_.size(); }
    uint64_t underruns() const { return underruns_; }
    uint64_t bytesDropped() const { return bytesDropped_; }

  private:
    std::deque<uint8_t> bytes_;
    bool playing_ = false;
    AudioClock::time_point startAt_{};
    uint64_t underruns_ = 0;
    uint64_t bytesDropped_ = 0;
};

// The 20 ms pace of the sending side: frames are due at fixed times from the
// start, so a late timer catches up instead of drifting; after a long stall
// the missed frames are skipped (their timestamps too).
class FramePace {
  public:
    static constexpr unsigned kMostFramesAtOnce = 5;

    explicit FramePace(AudioClock::time_point start) : next_(start) {}
    // How many frames are due at `now`, and how many were skipped.
    struct Due {
        unsigned frames = 0;
        unsigned skipped = 0;
    };
    Due due(AudioClock::time_point now);
    // Time until the next frame is due (0 when it is).
    std::chrono::milliseconds untilNext(AudioClock::time_point now) const;

  private:
    AudioClock::time_point next_;
};

}  // namespace tellmaro::sip
