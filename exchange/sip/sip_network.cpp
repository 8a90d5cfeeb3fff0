#include "exchange/sip/sip_network.h"

#include <algorithm>
#include <array>

#include "exchange/sip/sip_causes.h"

namespace tellmaro::sip {

namespace {

constexpr uint8_t kLineSilence = 0xAB;  // A-law silence in CAPI bit order
constexpr size_t kKeysKept = 128;
constexpr size_t kCallersKept = 4;

}  // namespace

SipNetwork::SipNetwork(SipLine& line, exchange::ControllerPort& controller,
                       NumberEndPolicy numberEnds)
    : line_(line), controller_(controller), numberEnds_(std::move(numberEnds)) {}

void SipNetwork::pump() {
    for (SipEvent& event : line_.takeEvents()) {
        std::visit([this](const auto& e) { on(e); }, event);
    }
}

std::string SipNetwork::lineStatus() const {
    if (!calls_.empty()) {
        return "in a call";
    }
    switch (registration_.state) {
        case RegistrationState::Registering:
            return "registering";
        case RegistrationState::Registered:
            return "registered";
        default:
            return "not registered (" + registration_.reason + ")";
    }
}

std::optional<CallId> SipNetwork::idOf(exchange::CallRef ref) const {
    for (const auto& [id, call] : calls_) {
        if (call.ref.plci == ref.plci && call.ref.serial == ref.serial) {
            return id;
        }
    }
    return std::nullopt;
}

std::optional<CallId> SipNetwork::idOf(exchange::B3Ref media) const {
    for (const auto& [id, call] : calls_) {
        if (call.media && call.media->ncci == media.ncci && call.media->serial == media.serial) {
            return id;
        }
    }
    return std::nullopt;
}

// --- what the applications ask ----------------------------------------------------

void SipNetwork::alert(exchange::CallRef call) {
    if (auto id = idOf(call)) {
        line_.alert(*id);
    }
}

bool SipNetwork::accept(exchange::CallRef call) {
    if (auto id = idOf(call)) {
        line_.answer(*id);
    }
    return false;  // connected only by the caller's ACK
}

void SipNetwork::refuse(exchange::CallRef call, uint16_t reject) {
    if (auto id = idOf(call)) {
        line_.reject(*id, sipStatusForReject(reject));
        calls_.erase(*id);
    }
}

void SipNetwork::dial(exchange::CallRef call, std::string_view digits) {
    LineHints hints{{}, recentCallers_};
    for (const auto& [id, other] : calls_) {
        hints.keysOfCalls.push_back(other.keys);
    }
    const std::string number = numberEnds_.numberToDial(digits, hints);
    const CallId id = line_.dial(number);
    calls_[id] = Call{call, std::nullopt, true, {}};
    controller_.note("SIP call " + std::to_string(id) + " to " + number);
}

void SipNetwork::release(exchange::CallRef call) {
    if (auto id = idOf(call)) {
        line_.hangUp(*id);
        calls_.erase(*id);
    }
}

void SipNetwork::mediaStarted(exchange::CallRef call, exchange::B3Ref media) {
    if (auto id = idOf(call)) {
        calls_[*id].media = media;
        line_.relayMedia(*id, RelayMedia::Started);
    }
}

void SipNetwork::mediaStopped(exchange::B3Ref media) {
    if (auto id = idOf(media)) {
        calls_[*id].media.reset();
        line_.relayMedia(*id, RelayMedia::Stopped);
    }
}

void SipNetwork::mediaReset(exchange::B3Ref media) {
    if (auto id = idOf(media)) {
        line_.relayMedia(*id, RelayMedia::Reset);
    }
}

void SipNetwork::audioToFarEnd(exchange::B3Ref media, std::span<const uint8_t> block) {
    auto id = idOf(media);
    if (!id) {
        return;
    }
    Block whole;
    whole.fill(kLineSilence);
    std::copy_n(block.begin(), std::min(block.size(), whole.size()), whole.begin());
    line_.sendBlock(*id, whole);
}

// --- what the SIP line reports ----------------------------------------------------------

void SipNetwork::on(const IncomingCall& e) {
    exchange::IncomingCall incoming;
    incoming.calling = callingNumberFor(e.calling);
    auto ref = controller_.offerCall(incoming);
    if (!ref) {
        line_.reject(e.id, 480);  // nobody listens
        return;
    }
    if (!e.calling.digits.empty()) {
        recentCallers_.push_back(e.calling.digits);
        if (recentCallers_.size() > kCallersKept) {
            recentCallers_.pop_front();
        }
    }
    calls_[e.id] = Call{*ref, std::nullopt, false, {}};
}

void SipNetwork::on(const Answered& e) {
    auto it = calls_.find(e.id);
    if (it != calls_.end()) {
        controller_.farEndAnswered(it->second.ref);
    }
}

void SipNetwork::on(const Ended& e) {
    auto it = calls_.find(e.id);
    if (it == calls_.end()) {
        return;  // the application released it, or never took it
    }
    exchange::CallRef ref = it->second.ref;
    calls_.erase(it);
    controller_.farEndCleared(ref, capiReason(e.cause));
}

void SipNetwork::on(const AudioBlock& e) {
    auto it = calls_.find(e.id);
    if (it != calls_.end() && it->second.media) {
        (void)controller_.audioFromFarEnd(*it->second.media,
                                          std::vector<uint8_t>(e.bytes.begin(), e.bytes.end()));
    }
}

void SipNetwork::on(const Dtmf& e) {
    auto it = calls_.find(e.id);
    if (it == calls_.end()) {
        return;
    }
    if (controller_.keysFromFarEnd(it->second.ref, std::string(1, e.key))) {
        auto& keys = it->second.keys;
        keys += e.key;
        if (keys.size() > kKeysKept) {
            keys.erase(0, keys.size() - kKeysKept);
        }
    }
}

}  // namespace tellmaro::sip
