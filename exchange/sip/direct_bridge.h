#pragma once
// The line's own bridge between two of its calls that the relay joins.
//
// The relay answers each 2048-byte block of one call with the same bytes on
// the other: a byte waits up to a block to be sent up and as long again to be
// played. Once the relay has shown for a few blocks each way that it passes
// the audio on unchanged, the line passes each byte it receives on one call
// to the other at once, and drops the relay's copies as they come. At the
// first block the relay sends otherwise (a prompt, silence, one byte that
// differs), or at any change of the calls, it plays the relay's blocks again
// without playing a byte twice. The relay still gets and answers every block.
//
// Pure logic for the SIP thread; the engine does what it decides.
//
//   state        what a call plays                   leaves for
//   Idle         the relay's blocks                  Watching: two calls talk and have the
//                                                    relay's media
//   Watching     the relay's blocks; counts those    Bridged: kBlocksToTrust both ways
//                equal to the other call's blocks    Idle: the two calls no longer talk
//   Bridged      the other call's bytes at once;     FallingBack: a relay block that is not the
//                the relay's copies dropped          other call's, a change of the calls, or
//                                                    kMostUnanswered copies awaited
//   FallingBack  the relay's blocks, except what     Watching (Idle): nothing played directly is
//                was played directly already         left for the relay to confirm

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "exchange/sip/sip_events.h"

namespace tellmaro::sip {

class DirectBridge {
  public:
    enum class State { Idle, Watching, Bridged, FallingBack };
    // Blocks the relay must pass on unchanged each way before the line trusts it.
    static constexpr unsigned kBlocksToTrust = 3;
    // Blocks played directly that the relay may leave unconfirmed (2 s).
    static constexpr size_t kMostUnanswered = 8;

    // A call the relay has media on; talking: connected and not on hold.
    struct Leg {
        CallId id = 0;
        bool talking = false;
    };
    // What of a relay block plays, and whether both calls' sending starts
    // afresh (the relay's copies waiting there are dropped once).
    struct Play {
        size_t from = 0;  // kBlockSize: nothing
        bool clearSending = false;
    };
    using Log = std::function<void(const std::string& line)>;

    DirectBridge(bool enabled, Log log) : enabled_(enabled), log_(std::move(log)) {}

    State state() const { return state_; }
    // The two calls watched or bridged (0 when none).
    std::array<CallId, 2> pair() const { return {directions_[0].from, directions_[1].from}; }

    // The calls with the relay's media now, after any change of one (media
    // started, stopped or reset, a call ended, its remote media changed).
    void legsChanged(std::span<const Leg> legs, const std::string& why);
    // The bytes `from` received, in order and gaps filled, at `offset` in the
    // block being filled (never across its end). The call to pass them to at
    // once, or 0.
    CallId received(CallId from, size_t offset, std::span<const uint8_t> bytes);
    // A block of `from` handed to the relay.
    void indicated(CallId from, const Block& block);
    // A block the relay sends on `to`.
    Play relayBlock(CallId to, const Block& block);

  private:
    struct Remembered {
        Block bytes;
        size_t played;  // its first bytes already played directly
    };
    struct Direction {
        CallId from = 0;
        CallId to = 0;
        unsigned matches = 0;
        // Watching: blocks not yet answered; else blocks played directly.
        std::deque<Remembered> remembered;
        size_t position = 0;  // bytes of `from`'s block being filled
        // Of that block, when forwarding stopped in it: the bytes played.
        std::optional<size_t> partlyPlayed;
    };
    Direction* outOf(CallId from);
    Direction* into(CallId to);
    void enter(State state, const std::string& why);
    void watch(const std::string& why);
    void fallBack(const std::string& why);
    // Falling back ends once nothing played directly awaits its copy.
    void finishFallingBack();

    bool enabled_;
    Log log_;
    State state_ = State::Idle;
    std::array<Direction, 2> directions_{};
    std::optional<std::array<CallId, 2>> talking_;
};

const char* stateName(DirectBridge::State state);

}  // namespace tellmaro::sip
