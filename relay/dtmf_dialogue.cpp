// The dialling dialogue: DTMF keys from the mobile caller collected into the
// 22-character number field, the confirm and cancel keys, speed-dial codes
// and the line-access prefix.
#include <algorithm>

#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr uint16_t kDtmfSelector = 1;
constexpr size_t kFieldEnd = kDialledFieldLength + 1;  // dialledDigitPos of a full field
constexpr size_t kDialledDigits = 20;                  // what goes out as the called number

}  // namespace

void Engine::onFacilityInd() {
    if (!take(facilityInd_)) {
        return;
    }
    bool answered = false;
    CallPhase phase = state_.callPhase;
    auto parameter = facilityInd_.parameter();
    size_t count = std::min<size_t>(parameter[0], parameter.size() - 1);
    if (inPhases(phase, CallPhase::Dialogue, CallPhase::Relaying) &&
        facilityInd_.selector() == kDtmfSelector && count > 0) {
        storeKeys(parameter.subspan(1, count));
        // Only the last key counts as a key; earlier confirm or cancel
        // characters of the same indication stay in the number.
        char key = lastKey();
        char confirmKey = settings_.starConfirms ? '*' : '#';
        char cancelKey = settings_.starConfirms ? '#' : '*';
        if (phase == CallPhase::Dialogue && key == confirmKey) {
            answered = confirmInDialogue();
        } else if (phase == CallPhase::Dialogue && key == cancelKey) {
            state_.resetDialogue();
            startPrompt("abbruch.pdt");
        } else if (phase != CallPhase::Dialogue && key == cancelKey) {
            cancelOutgoingCall();
        }
    }
    if (!answered) {
        send(templates_.facilityResp(facilityInd_.address()));
    }
}

void Engine::onFacilityConf() {
    take(facilityConf_);
}

void Engine::storeKeys(std::span<const uint8_t> keys) {
    size_t pos = state_.dialledDigitPos;
    if (pos < kFieldEnd) {
        for (size_t i = 0; i < keys.size() && pos + i <= kDialledFieldLength; ++i) {
            state_.dialled(pos + i) = static_cast<char>(keys[i]);
        }
        state_.dialledDigitPos = static_cast<uint8_t>(std::min(pos + keys.size(), kFieldEnd));
    } else {
        // A full field: each new key overwrites the last position, so the
        // confirm and cancel keys keep working.
        state_.dialled(kDialledFieldLength) = static_cast<char>(keys.back());
    }
}

char Engine::lastKey() const {
    size_t pos = state_.dialledDigitPos;
    // After a line-access prefix the position can lie beyond the field.
    return pos >= 2 && pos - 1 <= kDialledFieldLength ? state_.dialled(pos - 1) : '\0';
}

bool Engine::confirmInDialogue() {
    if (state_.dialledDigitPos == 2) {
        // The confirm key first: a speed-dial code follows.
        state_.speedDialMode = true;
        stopPrompt();
        return false;
    }
    if (state_.speedDialMode) {
        std::string_view code(&state_.dialled(2), state_.dialledDigitPos - 3u);
        auto number = phoneBook_.lookup(code);
        if (!number) {
            state_.resetDialogue();
            startPrompt("nichtvorhanden.pdt");
            return false;
        }
        state_.dialledNumber = zeroField<kDialledFieldLength>();
        size_t length = std::min(number->size(), kDialledDigits);
        std::copy_n(number->begin(), length, state_.dialledNumber.begin());
        state_.dialledDigitPos = static_cast<uint8_t>(length + 2);
    }
    dial();
    return true;
}

void Engine::dial() {
    host_.timers.setTimerEnabled(TimerId::KeepAlive, false);
    state_.callPhase = CallPhase::NumberConfirmed;

    size_t entered = state_.dialledDigitPos - 2u;
    const std::string& prefix = settings_.lineAccessChars;
    if (settings_.lineAccessEnabled && entered > settings_.lineAccessDigits && !prefix.empty()) {
        auto& field = state_.dialledNumber;
        size_t shift = std::min(prefix.size(), field.size());
        std::copy_backward(field.begin(), field.end() - static_cast<ptrdiff_t>(shift), field.end());
        std::copy_n(prefix.begin(), shift, field.begin());
        if (state_.dialledDigitPos < kFieldEnd) {
            state_.dialledDigitPos = static_cast<uint8_t>(state_.dialledDigitPos + prefix.size());
        }
    }

    if (!send(templates_.facilityResp(facilityInd_.address()))) {
        return;  // the error report has reset the dialogue and ended the call
    }

    size_t pos = state_.dialledDigitPos;
    if (settings_.logEnabled) {
        size_t shown = std::min(pos >= kFieldEnd ? pos - 3 : pos - 2, kDialledFieldLength);
        callLog_.dialledNumber(std::string_view(state_.dialledNumber.data(), shown));
    }
    // The confirm key and whatever follows it become "0" fill.
    for (size_t p = pos - 1; p <= kDialledDigits; ++p) {
        state_.dialled(p) = '0';
    }
    // The call itself is placed once the seized line's release is reported.
    // A line being seized again is released as soon as it is confirmed.
    if (state_.targetPlci != 0) {
        sendDisconnectReq(state_.targetPlci);
    }
}

void Engine::cancelOutgoingCall() {
    CallPhase phase = state_.callPhase;
    if (phase == CallPhase::TargetConnected || phase == CallPhase::Relaying) {
        startPrompt("abbruch.pdt");
        state_.cancelRequested = true;
        sendDisconnectB3Req(state_.targetNcci);
        return;
    }
    // Phases 6 to 8: the release or set-up under way sees the request and
    // seizes the line again instead of going on.
    state_.cancelRequested = true;
    if (settings_.logEnabled) {
        callLog_.cancelledByMobile();
    }
    startPrompt("abbruch.pdt");
    if (phase == CallPhase::DialConfirmed) {
        sendDisconnectReq(state_.targetPlci);
    }
}

}  // namespace tellmaro::relay
