// The one reaction to a failed driver call: log it, drop the call, register
// afresh and listen again, or end the program.
#include "capi/capi_info.h"
#include "relay/engine.h"

namespace tellmaro::relay {

void Engine::dropCall() {
    // The PLCIs and NCCIs stay: the release ends their connections.
    state_.cancelRequested = false;
    state_.resetDialogue();
    stopPrompt();
    state_.promptEchoPos = -1;
    state_.callPhase = CallPhase::Idle;
    clearingNccis_ = {};
    releasingPlcis_ = {};
    expectedEnds_ = {};
    activeRespOwed_ = false;
    dropPendingCallSteps();
}

void Engine::reportCapiError(uint32_t code) {
    abandoned_ = true;
    if (host_.shell.stopRequested()) {
        return;  // the stop signal cut the driver's wait short: no fault, and the program ends
    }
    store_.appendErrorLog(capi::errorLogLine(data::dateTimeText(host_.clock.now()), code));
    dropCall();

    driver_.release(applId_);
    uint32_t registered = driver_.registerApplication(kRegistration, applId_);
    bool end = false;
    if (registered == capi::kCapiOk) {
        templates_.setApplId(static_cast<uint16_t>(applId_));
        // Not through send(): the report never reports itself.
        end = driver_.putMessage(applId_, templates_.listenReq(capi::ListenMask::Calls)) !=
              capi::kCapiOk;
    } else {
        ending_ = true;
        // What was tried and what failed: libcapi20 says only "not installed".
        std::string setup = driver_.describeSetup();
        if (!setup.empty()) {
            store_.logFailure(setup);
        }
        if (registered == capi::kCapiNotInstalled) {
            host_.shell.showMessage(kErrorCaption, driverMessage(kDriverNotInstalled, setup),
                                    MessageIcon::Critical);
        }
        end = true;
    }
    if (end) {
        ending_ = true;
        host_.shell.closeWindowsAndEnd();
    }
}

}  // namespace tellmaro::relay
