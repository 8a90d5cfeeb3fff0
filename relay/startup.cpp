// Start-up and shutdown: the one sequence both programs run, around the
// shell's steps (the single-instance lock, the tray icon, the settings dialog
// of a first start).
#include "relay/engine.h"

namespace tellmaro::relay {

bool Engine::registerApplication() {
    uint32_t result = driver_.registerApplication(kRegistration, applId_);
    if (result == capi::kCapiOk) {
        templates_.setApplId(static_cast<uint16_t>(applId_));
        capi::CapiVersion unused;
        result = driver_.getVersion(unused);
    }
    if (result != capi::kCapiOk) {
        reportCapiError(result);
        return false;
    }
    return true;
}

bool Engine::listen(capi::ListenMask mask) {
    return send(templates_.listenReq(mask));
}

std::optional<StartUpOutcome> Engine::endedDuringStartUp() {
    if (!ending_ && !shutDown_ && !host_.shell.stopRequested()) {
        return std::nullopt;
    }
    shutdown();
    return ending_ ? StartUpOutcome::Failed : StartUpOutcome::EndRequested;
}

// Every message a step shows may run an event loop, in which "&Ende" or a
// stop signal may come, and every driver call may end in an error report
// that ends the program: start-up then goes no further.
StartUpOutcome Engine::startUp() {
    const auto refuse = [this](std::string_view caption, const std::string& text,
                               MessageIcon icon) {
        host_.shell.showMessage(caption, text, icon);
        shutdown();
        return StartUpOutcome::Failed;
    };
    if (!host_.shell.claimSingleInstance(store_.folder())) {
        return refuse(kNoticeCaption,
                      "Der Tellmaro ist bereits gestartet. Bitte verwenden Sie diese Instanz!",
                      MessageIcon::Exclamation);
    }
    if (!host_.driver.loaded()) {
        return refuse(kErrorCaption, driverMessage(kDriverNotFound, driver_.describeSetup()),
                      MessageIcon::Critical);
    }
    const uint32_t installed = driver_.installed();
    if (installed != capi::kCapiOk) {
        reportCapiError(installed);  // registers anew and listens, or ends the program
    }
    if (auto ended = endedDuringStartUp()) {
        return *ended;
    }
    if (!host_.shell.addTray(kTrayStarting)) {
        shutdown();  // the registration the error report may have made goes
        return StartUpOutcome::TrayRefused;
    }
    if (installed != capi::kCapiOk || !registerApplication()) {
        return endedDuringStartUp().value_or(StartUpOutcome::Stopped);
    }

    setRegisteredMobileNumber(store_.loadMobileNumber());
    const bool hasMobile = !registeredMobileNumber_.empty();
    if (auto ended = endedDuringStartUp()) {
        return *ended;
    }
    const bool configured = store_.loadSettings();
    if (auto ended = endedDuringStartUp()) {
        return *ended;
    }
    if (configured && hasMobile) {
        store_.openCallLogAtStartUp();
    } else if (!host_.shell.openSettings()) {
        shutdown();
        return StartUpOutcome::NotConfigured;
    }
    if (auto ended = endedDuringStartUp()) {
        return *ended;
    }
    store_.loadPhoneBook();
    if (auto ended = endedDuringStartUp()) {
        return *ended;
    }
    if (configured && !hasMobile) {
        // Serving nobody, the relay does not listen. Closing the settings
        // switches it on once a number is entered, and leaves it
        // deactivated otherwise.
        host_.timers.setTimerEnabled(TimerId::DispatcherPoll, true);
        return StartUpOutcome::Running;
    }
    if (!listen(capi::ListenMask::Calls)) {
        return endedDuringStartUp().value_or(StartUpOutcome::Stopped);
    }
    host_.timers.setTimerEnabled(TimerId::DispatcherPoll, true);
    host_.shell.setTray(kTrayReady);
    return StartUpOutcome::Running;
}

void Engine::shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (applId_ != 0) {
        driver_.release(applId_);
    }
    (void)callLog_.close();
    promptFile_.close();
    state_.promptFileName.clear();
    for (TimerId timer :
         {TimerId::DispatcherPoll, TimerId::KeepAlive, TimerId::PlaceCall, TimerId::SeizeAgain}) {
        host_.timers.setTimerEnabled(timer, false);
    }
}

}  // namespace tellmaro::relay
