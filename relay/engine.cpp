#include "relay/engine.h"

namespace tellmaro::relay {

Engine::Engine(EngineHost host)
    : host_(std::move(host)),
      driver_(host_.driver),
      store_(host_.store),
      settings_(store_.settings()),
      phoneBook_(store_.phoneBook()),
      callLog_(store_.callLog()) {}

void Engine::onTimer(TimerId timer) {
    if (ending_) {
        return;
    }
    abandoned_ = false;
    switch (timer) {
        case TimerId::DispatcherPoll:
            dispatcherTick();
            break;
        case TimerId::KeepAlive:
            keepSeizedLineAlive();
            break;
        case TimerId::PlaceCall:
            placeConfirmedCall();
            break;
        case TimerId::SeizeAgain:
            seizeLineAgain();
            break;
    }
    if (abandoned_ && !shutDown_) {
        // The handler or timer that hit the error went on with its steps;
        // what they changed belonged to the dropped call.
        dropCall();
    }
}

bool Engine::send(capi::MessageTemplates::Bytes message) {
    if (shutDown_ || abandoned_) {
        return false;  // released: nothing more goes to the driver
    }
    uint32_t result = driver_.putMessage(applId_, message);
    if (result != capi::kCapiOk) {
        reportCapiError(result);
        return false;
    }
    return true;
}

void Engine::logConnectionEnd(data::ConnectionEndUnit unit) {
    state_.connectionEnd = host_.clock.now();
    state_.connectionSeconds = static_cast<int32_t>(
        data::secondBoundariesBetween(state_.callStartTime, state_.connectionEnd));
    callLog_.connectionEnd(state_.connectionEnd, state_.connectionSeconds, unit);
}

}  // namespace tellmaro::relay
