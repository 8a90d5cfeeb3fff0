// Switching the relay on and off: the "&Aktiviert" menu entry, and the
// suspension while a configuration or analysis window is open. Each window
// uses the same pair, so the relay comes back the same way from all of them.
#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr std::string_view kCannotCreateLog =
    "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden. Log Datei Erstellung "
    "wurde deaktiviert!";

}  // namespace

void Engine::activationChanged(bool activated) {
    abandoned_ = false;
    if (shutDown_) {
        return;
    }
    if (activated) {
        host_.shell.setTray(kTrayReady);
        reopenCallLog(kCannotCreateLog);
        listen(capi::ListenMask::Calls);
    } else {
        host_.shell.setTray(kTrayDeactivated);
        closeCallLog();
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
    closeCallLog();
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
    host_.shell.setTray(kTrayReady);
    if (listen(capi::ListenMask::Calls)) {
        reopenCallLog(kCannotCreateLog);
    }
}

}  // namespace tellmaro::relay
