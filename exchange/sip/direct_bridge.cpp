#include "exchange/sip/direct_bridge.h"

#include <algorithm>

namespace tellmaro::sip {

namespace {

std::string callName(CallId id) {
    return "call " + std::to_string(id);
}

}  // namespace

const char* stateName(DirectBridge::State state) {
    switch (state) {
        case DirectBridge::State::Idle:
            return "idle";
        case DirectBridge::State::Watching:
            return "watching";
        case DirectBridge::State::Bridged:
            return "bridged";
        case DirectBridge::State::FallingBack:
            return "falling back";
    }
    return "?";
}

DirectBridge::Direction* DirectBridge::outOf(CallId from) {
    for (auto& direction : directions_) {
        if (state_ != State::Idle && from != 0 && direction.from == from) {
            return &direction;
        }
    }
    return nullptr;
}

DirectBridge::Direction* DirectBridge::into(CallId to) {
    for (auto& direction : directions_) {
        if (state_ != State::Idle && to != 0 && direction.to == to) {
            return &direction;
        }
    }
    return nullptr;
}

void DirectBridge::enter(State state, const std::string& why) {
    if (log_) {
        log_(std::string("direct bridge: ") + stateName(state_) + " -> " + stateName(state) + ": " +
             why);
    }
    state_ = state;
}

void DirectBridge::watch(const std::string& why) {
    if (!talking_) {
        directions_ = {};
        if (state_ != State::Idle) {
            enter(State::Idle, why);
        }
        return;
    }
    auto [a, b] = *talking_;
    directions_ = {};
    directions_[0].from = directions_[1].to = a;
    directions_[0].to = directions_[1].from = b;
    enter(State::Watching, why);
}

void DirectBridge::legsChanged(std::span<const Leg> legs, const std::string& why) {
    talking_.reset();
    if (enabled_ && legs.size() == 2 && legs[0].talking && legs[1].talking) {
        talking_ = {legs[0].id, legs[1].id};
    }
    if (state_ == State::Idle || state_ == State::Watching) {
        watch(why);
        return;
    }
    if (state_ == State::Bridged) {
        fallBack(why);
    }
    // The relay sends nothing more on a call without its media, and a call
    // without it fills no more blocks.
    auto hasMedia = [&](CallId id) {
        return std::any_of(legs.begin(), legs.end(), [id](const Leg& leg) { return leg.id == id; });
    };
    for (auto& direction : directions_) {
        if (!hasMedia(direction.to)) {
            direction.remembered.clear();
        }
        if (!hasMedia(direction.to) || !hasMedia(direction.from)) {
            direction.partlyPlayed.reset();
        }
    }
    finishFallingBack();
}

CallId DirectBridge::received(CallId from, size_t offset, std::span<const uint8_t> bytes) {
    Direction* direction = outOf(from);
    if (!direction) {
        return 0;
    }
    direction->position = (offset + bytes.size()) % kBlockSize;
    return state_ == State::Bridged ? direction->to : 0;
}

void DirectBridge::indicated(CallId from, const Block& block) {
    Direction* direction = outOf(from);
    if (!direction) {
        return;
    }
    auto& remembered = direction->remembered;
    if (state_ == State::Watching) {
        remembered.push_back({block, 0});
        if (remembered.size() > kMostUnanswered) {
            remembered.pop_front();
        }
    } else if (state_ == State::Bridged) {
        remembered.push_back({block, kBlockSize});
        if (remembered.size() > kMostUnanswered) {
            fallBack("the relay left " + std::to_string(remembered.size()) + " blocks of " +
                     callName(from) + " unanswered");
        }
    } else if (direction->partlyPlayed) {
        remembered.push_back({block, *direction->partlyPlayed});
        direction->partlyPlayed.reset();
    }
}

DirectBridge::Play DirectBridge::relayBlock(CallId to, const Block& block) {
    Direction* direction = into(to);
    if (!direction) {
        return {};
    }
    auto& remembered = direction->remembered;
    if (state_ == State::Watching) {
        // The relay may answer late, after a later block or a prompt: the
        // blocks before the one it answers are not coming back.
        auto found = std::find_if(remembered.begin(), remembered.end(),
                                  [&](const Remembered& r) { return r.bytes == block; });
        if (found == remembered.end()) {
            direction->matches = 0;
            return {};
        }
        remembered.erase(remembered.begin(), found + 1);
        ++direction->matches;
        if (std::any_of(directions_.begin(), directions_.end(),
                        [](const Direction& d) { return d.matches < kBlocksToTrust; })) {
            return {};
        }
        // What waits to be played is skipped once: that is the delay going.
        for (auto& d : directions_) {
            for (auto& unanswered : d.remembered) {
                unanswered.played = kBlockSize;
            }
        }
        enter(State::Bridged, "the relay passed " + std::to_string(kBlocksToTrust) +
                                  " blocks each way unchanged between " +
                                  callName(directions_[0].from) + " and " +
                                  callName(directions_[1].from));
        return {kBlockSize, true};
    }
    bool confirms = !remembered.empty() && remembered.front().bytes == block;
    if (state_ == State::Bridged) {
        if (confirms) {
            remembered.pop_front();
            return {kBlockSize, false};
        }
        fallBack("the relay's block for " + callName(to) + " is not what " +
                 callName(direction->from) + " sent");
    }
    Play play;
    if (confirms) {
        play.from = remembered.front().played;
        remembered.pop_front();
    } else {
        // The relay plays something else on this call: what was played
        // directly will never come back from it.
        remembered.clear();
    }
    finishFallingBack();
    return play;
}

void DirectBridge::fallBack(const std::string& why) {
    for (auto& direction : directions_) {
        direction.matches = 0;
        if (direction.position > 0) {
            direction.partlyPlayed = direction.position;
        }
    }
    enter(State::FallingBack, why);
}

void DirectBridge::finishFallingBack() {
    bool done = std::all_of(directions_.begin(), directions_.end(), [](const Direction& d) {
        return d.remembered.empty() && !d.partlyPlayed;
    });
    if (state_ == State::FallingBack && done) {
        watch("everything played directly is answered");
    }
}

}  // namespace tellmaro::sip
