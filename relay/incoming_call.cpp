// Taking the mobile owner's call: the verdict on every CONNECT_IND, the line
// seizure, answering or calling back, and the connection of placed calls.
#include <algorithm>

#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

std::string_view withoutLeadingZeros(std::string_view digits) {
    size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

// Writes `text` into `field` from 1-based position `pos`; what does not fit is dropped.
void writeAt(CallerField& field, size_t pos, std::string_view text) {
    for (size_t i = 0; i < text.size() && pos - 1 + i < field.size(); ++i) {
        field[pos - 1 + i] = text[i];
    }
}

// The digits of the calling party number: its length byte sits right after
// the called party number; type and presentation octets precede the digits.
std::string callerDigits(std::span<const uint8_t> numbers) {
    if (numbers.empty()) {
        return {};
    }
    size_t callingAt = size_t{numbers[0]} + 1;
    if (callingAt >= numbers.size()) {
        return {};
    }
    size_t length = numbers[callingAt];
    if (length <= 2) {
        return {};  // no number, or a withheld one
    }
    size_t first = callingAt + 3;
    size_t last = std::min(callingAt + 1 + length, numbers.size());
    return first < last ? std::string(numbers.begin() + static_cast<ptrdiff_t>(first),
                                      numbers.begin() + static_cast<ptrdiff_t>(last))
                        : std::string{};
}

}  // namespace

void Engine::onConnectInd() {
    if (!takeMessage()) {
        return;
    }
    if (state_.callPhase != CallPhase::Idle) {
        // A second caller: answered from its own message, the running call untouched.
        capi::ConnectIndParams second;
        second.fill(rxMessage_);
        addressInUse(second.plci());
        takeOrRefuseCall(false, {}, second.plci());
        return;
    }
    connectInd_.fill(rxMessage_);
    state_.mobilePlci = connectInd_.plci();
    addressInUse(state_.mobilePlci);

    std::string raw = callerDigits(connectInd_.numbers());
    std::string_view digits = withoutLeadingZeros(raw);
    if (raw.empty()) {
        takeOrRefuseCall(false, {}, state_.mobilePlci);
        return;
    }
    if (settings_.logEnabled) {
        callLog_.callSeparator();
    }
    state_.callerNumberField = zeroField<kCallerFieldLength>();
    writeAt(state_.callerNumberField, 1, digits);

    CallerField registered = zeroField<kCallerFieldLength>();
    std::string_view registeredDigits = withoutLeadingZeros(registeredMobileNumber_);
    writeAt(registered, 1, registeredDigits);
    // Without a registered number nobody is served, not even a caller "0".
    if (registeredDigits.empty() || state_.callerNumberField != registered) {
        takeOrRefuseCall(false, digits, state_.mobilePlci);
        return;
    }
    // The call-back number: line access, the national "0" that normalising
    // removed, the caller's digits.
    state_.callerNumberField = zeroField<kCallerFieldLength>();
    writeAt(state_.callerNumberField, 1, settings_.lineAccessChars);
    writeAt(state_.callerNumberField, settings_.lineAccessChars.size() + 2, digits);
    takeOrRefuseCall(true, digits, state_.mobilePlci);
}

void Engine::takeOrRefuseCall(bool accepted, std::string_view callerDigits, uint32_t plci) {
    state_.connectionEnd = notYetSet();
    state_.conversationEnd = notYetSet();
    if (settings_.logEnabled) {
        callLog_.caller(callerDigits);
        state_.callStartTime = host_.clock.now();
        callLog_.callTime(state_.callStartTime);
    }
    if (!accepted) {
        if (settings_.logEnabled) {
            callLog_.refusedCaller();
        }
        expectEndOf(plci);
        send(templates_.connectRespRefuse(rxHeader_.messageNumber, plci));
        return;
    }
    stopPrompt();
    // What an earlier call left behind (an error report keeps its addresses)
    // names connections that are gone; the seizure's confirmation must find
    // the outgoing leg free.
    state_.targetPlci = 0;
    state_.mobileNcci = 0;
    state_.targetNcci = 0;
    state_.resetPendingNcci = 0;
    state_.maxRelayedHandle = 0;
    // The caller hears ringing; whether the driver took the alert is not examined.
    (void)driver_.putMessage(applId_, templates_.alertReq(rxHeader_.messageNumber, plci));
    uint32_t seized =
        driver_.putMessage(applId_, templates_.connectReqSeizure(settings_.ownNumber));
    state_.callPhase = CallPhase::Taken;
    host_.shell.setTray(kTrayCallActive);
    host_.shell.setConfigurationMenuEnabled(false);
    host_.timers.setTimerEnabled(TimerId::KeepAlive, true);
    if (seized != capi::kCapiOk) {
        reportCapiError(seized);
    }
}

void Engine::onConnectConf() {
    if (!take(connectConf_)) {
        return;
    }
    uint32_t plci = connectConf_.plci();
    if (connectConf_.info() == 0) {
        addressInUse(plci);
    }
    CallPhase phase = state_.callPhase;
    bool placing = phase == CallPhase::Taken || phase == CallPhase::CallBackDialled ||
                   phase == CallPhase::Dialogue || phase == CallPhase::Dialling;
    if (phase == CallPhase::NumberConfirmed && connectConf_.info() == 0 && state_.targetPlci == 0) {
        // The line was seized again only after the number was confirmed:
        // release it now, and its release places the call.
        state_.targetPlci = plci;
        sendDisconnectReq(plci);
        return;
    }
    if (!placing) {
        // A seizure confirmed after the call ended would hold a B channel for nothing.
        if (phase == CallPhase::Idle && connectConf_.info() == 0 && plci != state_.mobilePlci &&
            plci != state_.targetPlci) {
            expectEndOf(plci);
            sendDisconnectReq(plci);
        }
        return;
    }
    if (connectConf_.info() != 0) {
        sendDisconnectReq(plci);
        enterReadyState();
        return;
    }
    if (state_.mobilePlci == 0) {
        state_.mobilePlci = plci;  // the call-back
    } else if (state_.targetPlci == 0) {
        state_.targetPlci = plci;
        if (phase == CallPhase::Taken || phase == CallPhase::Dialogue) {
            keepSeizedLineAlive();
        }
        if (phase == CallPhase::Taken && !settings_.callBack) {
            // Answered only now that the second B channel is ours.
            send(templates_.connectRespAnswer(state_.mobilePlci, settings_.ownNumber));
        }
    }
    if (phase == CallPhase::CallBackDialled || phase == CallPhase::Dialling) {
        state_.callPhase = static_cast<CallPhase>(static_cast<uint8_t>(phase) + 1);
        if (state_.cancelRequested) {
            state_.cancelRequested = false;
            sendDisconnectReq(plci);
            schedule(TimerId::SeizeAgain);
        }
    }
}

void Engine::onConnectActiveInd() {
    if (!take(connectActiveInd_)) {
        return;
    }
    CallPhase phase = state_.callPhase;
    bool answered = phase == CallPhase::Taken && !settings_.callBack;
    bool placed = phase == CallPhase::CallBackConfirmed || phase == CallPhase::DialConfirmed;
    uint32_t plci = connectActiveInd_.plci();
    // A call the relay is already releasing (a cancel crossed the answer)
    // is not taken up: its release ends it without a response.
    if ((!answered && !placed) || releasing(plci)) {
        return;
    }
    send(templates_.connectActiveResp(plci));
    if (placed) {
        // The PC called this connection, so it opens the B3 connection itself.
        state_.callPhase = static_cast<CallPhase>(static_cast<uint8_t>(phase) + 1);
        send(templates_.connectB3Req(plci));
    } else {
        state_.callPhase = CallPhase::MobileConnected;
    }
}

void Engine::callBack() {
    state_.callPhase = CallPhase::CallBackDialled;
    std::string_view number(state_.callerNumberField.data(), state_.callerNumberField.size());
    send(templates_.connectReqToNumber(number, settings_.ownNumber));
}

}  // namespace tellmaro::relay
