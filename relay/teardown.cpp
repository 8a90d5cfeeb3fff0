// What happens when a B3 connection or a whole leg ends: which other
// connections are cleared, whether the mobile caller may dial again, and
// when the relay is ready for the next call.
#include <algorithm>

#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr uint16_t kNormalClearing = 0x3490;
constexpr uint16_t kNormalUnspecified = 0x349F;

bool normalEnd(uint16_t reason) {
    return reason == kNormalClearing || reason == kNormalUnspecified;
}

}  // namespace

void Engine::sendDisconnectReq(uint32_t plci) {
    releaseCall(capi::DisconnectReqNumber::SendDisconnectReq, plci);
}

void Engine::releaseCall(capi::DisconnectReqNumber number, uint32_t plci) {
    // The driver refuses a second release while the first is under way.
    if (plci == 0 || releasing(plci)) {
        return;
    }
    send(templates_.disconnectReq(number, plci));
    auto& slots = releasingPlcis_;
    auto free = std::find(slots.begin(), slots.end(), 0u);
    if (free == slots.end()) {
        std::shift_left(slots.begin(), slots.end(), 1);
        free = slots.end() - 1;
    }
    *free = plci;
}

void Engine::sendDisconnectB3Req(uint32_t ncci) {
    clearB3(capi::DisconnectB3ReqNumber::First, ncci);
    if (!state_.cancelRequested) {
        state_.callPhase = CallPhase::Dialogue;
    }
    if (ncci == state_.mobileNcci && state_.callPhase != CallPhase::Dialogue) {
        clearB3(capi::DisconnectB3ReqNumber::Second, state_.targetNcci);
    }
}

bool Engine::releasing(uint32_t plci) const {
    return plci != 0 &&
           std::find(releasingPlcis_.begin(), releasingPlcis_.end(), plci) != releasingPlcis_.end();
}

void Engine::clearB3(capi::DisconnectB3ReqNumber number, uint32_t ncci) {
    if (ncci == 0 || clearing(ncci)) {
        return;
    }
    send(templates_.disconnectB3Req(number, ncci));
    // Two connections at most; should a stale entry be left, it gives way.
    auto free = std::find(clearingNccis_.begin(), clearingNccis_.end(), 0u);
    *(free == clearingNccis_.end() ? clearingNccis_.begin() : free) = ncci;
}

bool Engine::clearing(uint32_t ncci) const {
    return ncci != 0 &&
           std::find(clearingNccis_.begin(), clearingNccis_.end(), ncci) != clearingNccis_.end();
}

void Engine::enterReadyState() {
    state_.callPhase = CallPhase::Idle;
    host_.shell.setTray(kTrayReady);
    host_.shell.setConfigurationMenuEnabled(true);
}

void Engine::addressInUse(uint32_t address) {
    for (auto* slots : {&expectedEnds_, &releasingPlcis_}) {
        std::replace(slots->begin(), slots->end(), address, 0u);
    }
    std::replace(clearingNccis_.begin(), clearingNccis_.end(), address, 0u);
}

void Engine::expectEndOf(uint32_t plci) {
    auto free = std::find(expectedEnds_.begin(), expectedEnds_.end(), 0u);
    // With every slot taken the oldest expectation gives way.
    if (free == expectedEnds_.end()) {
        std::shift_left(expectedEnds_.begin(), expectedEnds_.end(), 1);
        free = expectedEnds_.end() - 1;
    }
    *free = plci;
}

bool Engine::endWasExpected(uint32_t plci) {
    auto it = std::find(expectedEnds_.begin(), expectedEnds_.end(), plci);
    if (plci == 0 || it == expectedEnds_.end()) {
        return false;
    }
    *it = 0;
    return true;
}

void Engine::onDisconnectB3Ind() {
    if (!take(disconnectB3Ind_)) {
        return;
    }
    uint32_t ncci = disconnectB3Ind_.ncci();
    bool mobileLeg = ncci == state_.mobileNcci;
    std::replace(clearingNccis_.begin(), clearingNccis_.end(), ncci, 0u);
    if (state_.callPhase >= CallPhase::Dialogue) {
        state_.resetDialogue();
        stopPrompt();
        state_.promptEchoPos = -1;
        if (!mobileLeg) {
            calledPartysB3Ended();
        } else if (state_.targetPlci != 0) {
            mobileCallerHungUp();
        }
    }
    if (state_.callPhase == CallPhase::Idle) {
        if (mobileLeg) {
            sendDisconnectReq(state_.mobilePlci);
            // The call is over; an outgoing leg still up would be left
            // connected to nothing.
            if (state_.targetPlci != 0) {
                sendDisconnectReq(state_.targetPlci);
            }
        } else if (ncci == state_.targetNcci) {
            sendDisconnectReq(state_.targetPlci);
        }
    }
    if (mobileLeg) {
        dropPendingCallSteps();
        if (settings_.logEnabled && state_.targetNcci == 0) {
            logConnectionEnd(data::ConnectionEndUnit::mobileLegLast);
        }
        state_.mobileNcci = 0;
    } else {
        if (state_.conversationStart && settings_.logEnabled) {
            state_.conversationEnd = host_.clock.now();
            state_.conversationSeconds = static_cast<int32_t>(
                data::secondBoundariesBetween(*state_.conversationStart, state_.conversationEnd));
            callLog_.conversationEnd(state_.conversationEnd, state_.conversationSeconds);
            if (state_.mobileNcci == 0) {
                logConnectionEnd(data::ConnectionEndUnit::outgoingLegLast);
            }
        }
        state_.targetNcci = 0;
    }
    if (activeRespOwed_ && ncci == connectB3ActiveInd_.ncci()) {
        // The relay never started; its indication is answered all the same.
        activeRespOwed_ = false;
        send(templates_.connectB3ActiveResp(ncci));
    }
    send(templates_.disconnectB3Resp(ncci));
    if (state_.cancelRequested) {
        // A cancel in phases 9 and 10 goes on to release the outgoing leg.
        state_.cancelRequested = false;
        sendDisconnectReq(state_.targetPlci);
    }
}

// The called party's B3 connection ended: the mobile's blocks whose relayed
// copies will never be confirmed are answered, then the mobile leg is
// cleared or reset. Nothing goes to a mobile leg that is gone or being
// cleared.
void Engine::calledPartysB3Ended() {
    uint32_t mobile = state_.mobileNcci;
    if (mobile == 0 || clearing(mobile)) {
        return;
    }
    for (int16_t handle = 0; handle <= state_.maxRelayedHandle; ++handle) {
        send(templates_.dataB3Resp(capi::DataB3RespNumber::Flush, mobile,
                                   static_cast<uint16_t>(handle)));
    }
    state_.maxRelayedHandle = 0;
    if (settings_.totalDisconnect) {
        clearB3(capi::DisconnectB3ReqNumber::AfterB3Disconnect, mobile);
    } else {
        send(templates_.resetB3Req(mobile));
        state_.resetPendingNcci = mobile;
    }
}

// The mobile caller's B3 connection ended while the called party's leg is
// up: in the conversation its B3 connection is cleared, before it (or once
// a cancel has taken that B3 connection) its call is released.
void Engine::mobileCallerHungUp() {
    if (state_.callPhase == CallPhase::Relaying && state_.targetNcci != 0) {
        clearB3(capi::DisconnectB3ReqNumber::AfterB3Disconnect, state_.targetNcci);
        return;
    }
    if (state_.callPhase != CallPhase::Relaying && state_.callPhase >= CallPhase::NumberConfirmed &&
        settings_.logEnabled) {
        callLog_.mobileHungUp();
    }
    releaseCall(capi::DisconnectReqNumber::AfterB3Disconnect, state_.targetPlci);
}

void Engine::onDisconnectB3Conf() {
    if (!take(disconnectB3Conf_)) {
        return;
    }
    if (state_.callPhase >= CallPhase::Dialogue && disconnectB3Conf_.ncci() == state_.mobileNcci) {
        enterReadyState();
    }
}

void Engine::onDisconnectInd() {
    if (!take(disconnectInd_)) {
        return;
    }
    uint32_t plci = disconnectInd_.plci();
    send(templates_.disconnectResp(rxHeader_.messageNumber, plci));
    std::replace(releasingPlcis_.begin(), releasingPlcis_.end(), plci, 0u);
    // A cleared call takes its B3 connection with it.
    for (uint32_t& ncci : clearingNccis_) {
        if ((ncci & 0xFFFF) == plci) {
            ncci = 0;
        }
    }
    // A refused caller or a stray seizure released while idle: nothing
    // else belongs to it.
    if (endWasExpected(plci)) {
        return;
    }
    disconnectIndByPhase(plci, disconnectInd_.reason());

    if (plci == state_.mobilePlci) {
        state_.mobilePlci = 0;
        state_.mobileNcci = 0;
        if (state_.callPhase == CallPhase::CallBackDialled) {
            return;
        }
        if (host_.shell.relayActivated()) {
            enterReadyState();
            stopPrompt();
        }
        return;
    }
    state_.targetPlci = 0;
    state_.targetNcci = 0;
    host_.timers.setTimerEnabled(TimerId::KeepAlive, false);
    switch (state_.callPhase) {
        case CallPhase::Idle:
        case CallPhase::Dialling:
            break;
        case CallPhase::Taken:
            enterReadyState();
            break;
        default:
            state_.callPhase = CallPhase::Dialogue;
            if (state_.cancelRequested) {
                state_.cancelRequested = false;
                schedule(TimerId::SeizeAgain);
            }
    }
}

void Engine::disconnectIndByPhase(uint32_t plci, uint16_t reason) {
    RelayState& s = state_;
    bool target = plci == s.targetPlci;
    bool mobile = plci == s.mobilePlci;
    switch (s.callPhase) {
        case CallPhase::Taken:
            if (mobile) {
                callBack();  // the mobile caller hung up while it rang
            } else {
                host_.timers.setTimerEnabled(TimerId::KeepAlive, false);
                sendDisconnectReq(s.mobilePlci);  // the seized line was lost
            }
            return;
        case CallPhase::CallBackConfirmed:
            if (target) {
                sendDisconnectReq(s.mobilePlci);
            } else if (mobile) {
                sendDisconnectReq(s.targetPlci);
            }
            return;
        case CallPhase::Dialogue:
            if (target) {
                sendDisconnectB3Req(s.mobileNcci);  // the seized line was lost: the call ends
            } else {
                s.resetDialogue();
            }
            return;
        case CallPhase::NumberConfirmed:
            if (!target) {
                return;
            }
            if (!s.cancelRequested) {
                s.callPhase = CallPhase::Dialling;
                schedule(TimerId::PlaceCall);  // places the call to the confirmed number
            } else {
                s.cancelRequested = false;
                schedule(TimerId::SeizeAgain);
                s.resetDialogue();
                stopPrompt();
                s.promptEchoPos = -1;
            }
            return;
        case CallPhase::Relaying:
            if (!mobile) {
                schedule(TimerId::SeizeAgain);
                s.resetDialogue();
            }
            return;
        case CallPhase::Idle:
        case CallPhase::CallBackDialled:
        case CallPhase::MobileConnected:
        case CallPhase::Dialling:
        case CallPhase::DialConfirmed:
        case CallPhase::TargetConnected:
            if (mobile && s.callPhase == CallPhase::MobileConnected && s.targetPlci != 0) {
                // Gone before its B3 connection came up: nothing else would
                // release the seized line.
                sendDisconnectReq(s.targetPlci);
            }
            if (target || (!mobile && s.targetPlci == 0)) {
                s.promptEchoPos = -1;
                // Once the call has ended nobody is left to tell or redial for.
                if (!normalEnd(reason) && s.callPhase != CallPhase::Idle) {
                    startPrompt("nicht_erreichbar.pdt");
                    schedule(TimerId::SeizeAgain);
                    if (settings_.logEnabled) {
                        callLog_.notReachable();
                    }
                } else if (inPhases(s.callPhase, CallPhase::Dialling, CallPhase::TargetConnected) &&
                           !s.cancelRequested) {
                    // After a normal end the caller may dial again, so the
                    // line is seized for that too (a cancel seizes it below).
                    schedule(TimerId::SeizeAgain);
                }
            }
            s.resetDialogue();
            return;
    }
}

}  // namespace tellmaro::relay
