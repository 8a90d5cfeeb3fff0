// Switching the relay on and off: the "&Aktiviert" menu entry, and the
// suspension while a configuration or analysis window is open. Each window
// uses the same pair, so the relay comes back the same way from all of them.
#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr std::string_view kCannotCreateLog =
    "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden. Log Datei Erstellung "
    "wurde deaktiviert!";

constexpr std::string_view kNoMobileNumber =
    "Es ist keine Rufnummer des Handys eingetragen. Der Tellmaro bleibt deaktiviert, bis sie in "
    "den Einstellungen eingetragen ist!";

}  // namespace

void Engine::setRegisteredMobileNumber(std::string digits) {
    bool first = registeredMobileNumber_.empty() && !digits.empty();
    registeredMobileNumber_ = std::move(digits);
    if (first) {
        host_.shell.setRelayActivated(true);
    }
}

bool Engine::heldOffWithoutMobileNumber() {
    if (!registeredMobileNumber_.empty()) {
        return false;
    }
    host_.shell.setRelayActivated(false);
    host_.shell.setTray(kTrayDeactivated);
    host_.shell.showMessage(kNoticeCaption, kNoMobileNumber, MessageIcon::Exclamation);
    return true;
}

void Engine::activationChanged(bool activated) {
    abandoned_ = false;
    if (shutDown_) {
        return;
    }
    if (activated) {
        if (heldOffWithoutMobileNumber()) {
            return;
        }
        host_.shell.setTray(kTrayReady);
        store_.reopenCallLog(kCannotCreateLog);
        listen(capi::ListenMask::Calls);
    } else {
        host_.shell.setTray(kTrayDeactivated);
        store_.closeCallLog();
        listen(capi::ListenMask::None);
    }
}

bool Engine::suspendRelay(TrayState reason) {
    abandoned_ = false;
    if (shutDown_) {
        return false;
    }
    if (!listen(capi::ListenMask::None)) {
        return false;
    }
    host_.shell.setTray(reason);
    host_.shell.setConfigurationMenuEnabled(false);
    store_.closeCallLog();
    return true;
}

void Engine::resumeRelay() {
    abandoned_ = false;
    if (shutDown_) {
        return;
    }
    host_.shell.setConfigurationMenuEnabled(true);
    if (!host_.shell.relayActivated()) {
        host_.shell.setTray(kTrayDeactivated);
        return;
    }
    if (heldOffWithoutMobileNumber()) {
        return;
    }
    host_.shell.setTray(kTrayReady);
    if (listen(capi::ListenMask::Calls)) {
        store_.reopenCallLog(kCannotCreateLog);
    }
}

}  // namespace tellmaro::relay
