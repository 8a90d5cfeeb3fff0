#include "exchange/sip/sip_network.h"

#include <algorithm>
#include <array>

#include "exchange/sip/phone_numbers.h"
#include "exchange/sip/sip_causes.h"

namespace tellmaro::sip {

namespace {

using exchange::CallingNumber;

constexpr uint8_t kIsdnPlan = 0x01;
constexpr uint8_t kNational = 0x20;
constexpr uint8_t kInternational = 0x10;
constexpr uint8_t kLineSilence = 0xAB;  // A-law silence in CAPI bit order
constexpr size_t kKeysKept = 128;
constexpr size_t kCallersKept = 4;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

uint16_t sipStatusForReject(uint16_t reject) {
    switch (reject) {
        case 1:  // ignored, and nobody else took it
            return 480;
        case 3:  // user busy
            return 486;
        case 4:  // no channel
        case 6:
            return 503;
        case 7:  // incompatible destination
            return 488;
        case 8:  // out of order
            return 480;
        default:  // normal call clearing and the rest: declined
            return 603;
    }
}

CallingNumber callingNumberFor(const CallingParty& party) {
    CallingNumber number;
    if (party.presentation == Presentation::Restricted || party.digits.empty()) {
        number.typeAndPlan = kIsdnPlan;
        number.presentation = CallingNumber::kPresentationRestricted;
        return number;
    }
    uint8_t type = party.type == NumberType::National        ? kNational
                   : party.type == NumberType::International ? kInternational
                                                             : 0;
    number.typeAndPlan = static_cast<uint8_t>(type | kIsdnPlan);
    number.presentation = CallingNumber::kPresentationAllowed;
    number.digits = party.digits;
    return number;
}

std::vector<std::string> keyedNumbers(std::string_view keys) {
    std::vector<std::string> numbers;
    std::string run;
    for (char key : keys) {
        if (isDigit(key)) {
            run += key;
        } else if (!run.empty()) {
            numbers.push_back(std::move(run));
            run.clear();
        }
    }
    if (!run.empty()) {
        numbers.push_back(std::move(run));
    }
    return numbers;
}

std::vector<std::string> dialHints(const std::vector<std::string>& keysOfCalls,
                                   const std::deque<std::string>& recentCallers,
                                   const std::vector<std::string>& phoneBook) {
    std::vector<std::string> hints(phoneBook);
    hints.insert(hints.end(), recentCallers.begin(), recentCallers.end());
    for (const auto& keys : keysOfCalls) {
        auto numbers = keyedNumbers(keys);
        hints.insert(hints.end(), numbers.begin(), numbers.end());
    }
    return hints;
}

SipNetwork::SipNetwork(SipLine& line, exchange::ControllerPort& controller, DialHints hints)
    : line_(line), controller_(controller), hints_(std::move(hints)) {}

void SipNetwork::pump() {
    for (SipEvent& event : line_.takeEvents()) {
        std::visit([this](const auto& e) { on(e); }, event);
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

void SipNetwork::accept(exchange::CallRef call) {
    if (auto id = idOf(call)) {
        line_.answer(*id);
    }
}

void SipNetwork::refuse(exchange::CallRef call, uint16_t reject) {
    if (auto id = idOf(call)) {
        line_.reject(*id, sipStatusForReject(reject));
        calls_.erase(*id);
    }
}

void SipNetwork::dial(exchange::CallRef call, std::string_view digits) {
    std::vector<std::string> keys;
    for (const auto& [id, other] : calls_) {
        keys.push_back(other.keys);
    }
    const auto hints =
        dialHints(keys, recentCallers_, hints_ ? hints_() : std::vector<std::string>{});
    const std::string number = numberToDial(digits, hints);
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
    }
}

void SipNetwork::mediaStopped(exchange::B3Ref media) {
    if (auto id = idOf(media)) {
        calls_[*id].media.reset();
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
    // An incoming call is connected from the application's answer on.
    if (it != calls_.end() && it->second.outgoing) {
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
