// The B3 connections of both legs: set-up, DTMF detection on the mobile leg,
// and the relay of audio blocks without copying them.
#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

// Relayed blocks carry the received handle plus this; prompt blocks carry
// the handle itself. Drivers number received blocks below it.
constexpr uint16_t kRelayedHandleOffset = 256;
constexpr uint32_t kPlciPart = 0xFFFF;

}  // namespace

bool Engine::isMobileLeg(uint32_t ncci) const {
    return (ncci & kPlciPart) == state_.mobilePlci;
}

void Engine::onConnectB3Ind() {
    if (!take(connectB3Ind_)) {
        return;
    }
    addressInUse(connectB3Ind_.ncci());
    if (state_.callPhase == CallPhase::MobileConnected) {
        state_.mobileNcci = connectB3Ind_.ncci();
        send(templates_.connectB3Resp(state_.mobileNcci, connectB3Ind_.ncpiLength()));
    }
}

void Engine::onConnectB3Conf() {
    if (!take(connectB3Conf_)) {
        return;
    }
    if (state_.callPhase != CallPhase::MobileConnected &&
        state_.callPhase != CallPhase::TargetConnected) {
        return;
    }
    uint32_t ncci = connectB3Conf_.ncci();
    addressInUse(ncci);
    bool mobile = isMobileLeg(ncci);
    if (connectB3Conf_.info() != 0) {
        enterReadyState();
        sendDisconnectReq(mobile ? state_.mobilePlci : state_.targetPlci);
        return;
    }
    (mobile ? state_.mobileNcci : state_.targetNcci) = ncci;
    // A cancel that came before the called party's NCCI was known clears
    // the B3 connection now.
    if (!mobile && state_.cancelRequested) {
        sendDisconnectB3Req(ncci);
    }
}

void Engine::onConnectB3ActiveInd() {
    if (!take(connectB3ActiveInd_)) {
        return;
    }
    uint32_t ncci = connectB3ActiveInd_.ncci();
    if (state_.callPhase == CallPhase::MobileConnected) {
        state_.callPhase = CallPhase::Dialogue;
        // The connection time of the call log counts from here.
        state_.callStartTime = host_.clock.now();
        send(templates_.facilityReqDtmfListen(ncci));
        send(templates_.connectB3ActiveResp(ncci));
        return;
    }
    if (clearing(ncci)) {
        // Cancelled while it came up: answered, but no conversation starts.
        send(templates_.connectB3ActiveResp(ncci));
        return;
    }
    // The called party's B3 connection: reset the mobile leg first; the
    // RESET_B3_IND answers this indication and starts the relay.
    if (settings_.logEnabled) {
        state_.conversationStart = host_.clock.now();
        callLog_.conversationStart(*state_.conversationStart);
    }
    activeRespOwed_ = true;
    // The mobile leg may have gone meanwhile; then there is nothing to reset
    // and the teardown answers this indication.
    if (state_.mobileNcci != 0) {
        send(templates_.resetB3Req(state_.mobileNcci));
        state_.resetPendingNcci = state_.mobileNcci;
    }
}

void Engine::onResetB3Ind() {
    if (!take(resetB3Ind_)) {
        return;
    }
    send(templates_.resetB3Resp(resetB3Ind_.ncci()));
    state_.resetPendingNcci = 0;
    // The reset that starts the relay is the one that follows the called
    // party's CONNECT_B3_ACTIVE_IND; a block of the wrong size may cause one
    // before it.
    if (state_.callPhase == CallPhase::TargetConnected && activeRespOwed_) {
        state_.callPhase = CallPhase::Relaying;
        activeRespOwed_ = false;
        send(templates_.connectB3ActiveResp(connectB3ActiveInd_.ncci()));
    }
}

void Engine::onDataB3Ind() {
    if (!take(dataB3Ind_)) {
        return;
    }
    const auto& block = dataB3Ind_;
    auto answerNow = [&] {
        send(templates_.dataB3Resp(capi::DataB3RespNumber::OnReceipt, block.ncci(),
                                   block.dataHandle()));
    };
    // Nothing is relayed or played while a reset is pending, and a
    // connection being cleared is neither reset nor played to.
    if (state_.resetPendingNcci != 0 || clearing(block.ncci())) {
        answerNow();
        return;
    }
    if (block.dataLength() != kBlockLength) {
        send(templates_.resetB3Req(block.ncci()));
        state_.resetPendingNcci = block.ncci();
        answerNow();  // the driver's receive buffers are few; none may be kept
        return;
    }
    CallPhase phase = state_.callPhase;
    bool fromMobile = block.ncci() == state_.mobileNcci;
    uint32_t destination = fromMobile ? state_.targetNcci : state_.mobileNcci;
    if (clearing(phase == CallPhase::Relaying ? destination : state_.mobileNcci)) {
        // The connection it would go to is being cleared at our request.
        answerNow();
        return;
    }
    if (phase == CallPhase::Relaying) {
        uint16_t handle = block.dataHandle();
        // Not copied: the block stays the driver's and is answered only when
        // its relayed copy is confirmed.
        send(templates_.dataB3Req(destination, block.data(), block.dataLength(),
                                  static_cast<uint16_t>(handle + kRelayedHandleOffset),
                                  block.flags()));
        if (fromMobile && static_cast<int16_t>(handle) > state_.maxRelayedHandle) {
            state_.maxRelayedHandle = static_cast<int16_t>(handle);
        }
    } else if (inPhases(phase, CallPhase::Dialogue, CallPhase::TargetConnected)) {
        promptStep(block);
    } else {
        answerNow();  // no leg is ready for it
    }
}

void Engine::onDataB3Conf() {
    if (!take(dataB3Conf_)) {
        return;
    }
    uint16_t handle = dataB3Conf_.dataHandle();
    if (handle < kRelayedHandleOffset) {
        return;  // a prompt block
    }
    uint32_t ncci = dataB3Conf_.ncci();
    uint16_t carried = static_cast<uint16_t>(handle - kRelayedHandleOffset);
    if (state_.resetPendingNcci != 0) {
        // Nothing is relayed until the reset is done, but the block this copy carried is
        // answered: the driver takes no more blocks from a leg with 7 unanswered. Not when
        // either leg has ended meanwhile: the flush after the called party's end answers the
        // mobile's blocks, and the called party's go with its connection, cleared after the
        // mobile's.
        uint32_t source = ncci == state_.mobileNcci   ? state_.targetNcci
                          : ncci == state_.targetNcci ? state_.mobileNcci
                                                      : 0;
        if (ncci != 0 && source != 0) {
            send(templates_.dataB3Resp(capi::DataB3RespNumber::AfterConfirmation, source, carried));
        }
        return;
    }
    if (dataB3Conf_.info() != 0) {
        // Its copy is lost, but the received block is answered all the same:
        // every block is, and the other leg may be gone before it could be.
        uint32_t source = ncci == state_.mobileNcci   ? state_.targetNcci
                          : ncci == state_.targetNcci ? state_.mobileNcci
                          : state_.mobileNcci != 0    ? state_.mobileNcci
                                                      : state_.targetNcci;
        if (source != 0) {
            send(templates_.dataB3Resp(capi::DataB3RespNumber::AfterConfirmation, source, carried));
        }
        // A refusal that crossed the end of its connection, or one already
        // being cleared, clears nothing.
        bool live = ncci == state_.mobileNcci || ncci == state_.targetNcci;
        if (ncci != 0 && live && !clearing(ncci)) {
            sendDisconnectB3Req(ncci);
        }
        return;
    }
    uint32_t source = ncci == state_.mobileNcci ? state_.targetNcci : state_.mobileNcci;
    send(templates_.dataB3Resp(capi::DataB3RespNumber::AfterConfirmation, source, carried));
}

}  // namespace tellmaro::relay
