// The timers that keep a seized line open, place the call to the confirmed
// number and seize the line again. The last two run on their timer's first
// tick after a handler switched it on, so no handler ever waits.
#include "relay/engine.h"

namespace tellmaro::relay {

void Engine::schedule(TimerId timer) {
    host_.timers.setTimerEnabled(timer, true);
}

void Engine::dropPendingCallSteps() {
    host_.timers.setTimerEnabled(TimerId::PlaceCall, false);
    host_.timers.setTimerEnabled(TimerId::SeizeAgain, false);
}

void Engine::keepSeizedLineAlive() {
    // Only the running call's seized line is kept open: after an error
    // report the timer runs on, but the old address belongs to the released
    // application and may name someone else's call by now.
    if (state_.targetPlci == 0 ||
        !inPhases(state_.callPhase, CallPhase::Taken, CallPhase::Dialogue)) {
        return;
    }
    send(templates_.infoReqKeypad(state_.targetPlci));
}

void Engine::placeConfirmedCall() {
    host_.timers.setTimerEnabled(TimerId::PlaceCall, false);
    if (state_.callPhase != CallPhase::Dialling) {
        return;  // the call ended, or was dropped by an error report, meanwhile
    }
    if (state_.cancelRequested) {
        // Cancelled after the seizure's release: seize again instead and go
        // back to number entry, as a cancel during the release does.
        state_.cancelRequested = false;
        state_.resetDialogue();
        state_.promptEchoPos = -1;
        state_.callPhase = CallPhase::Dialogue;
        schedule(TimerId::SeizeAgain);
        return;
    }
    std::string_view number(state_.dialledNumber.data(), 20);
    send(templates_.connectReqToNumber(number, settings_.ownNumber));
}

void Engine::seizeLineAgain() {
    host_.timers.setTimerEnabled(TimerId::SeizeAgain, false);
    send(templates_.connectReqSeizure(settings_.ownNumber));
}

}  // namespace tellmaro::relay
