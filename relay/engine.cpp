#include "relay/engine.h"

#include "data/call_dir_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"

namespace tellmaro::relay {

Engine::Engine(EngineHost host) : host_(std::move(host)), driver_(host_.driver) {}

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

void Engine::saveSettings() {
    (void)data::SaveSettings(dataDir(), settings_);
}

void Engine::reopenCallLog(std::string_view failureText) {
    if (settings_.logFilePath.empty() || !settings_.logEnabled) {
        return;
    }
    auto opened = callLog_.open(data::windows1252ToUtf8(settings_.logFilePath));
    if (!opened.ok) {
        host_.shell.showMessage(kErrorCaption, failureText, MessageIcon::Critical);
        settings_.logEnabled = false;
        saveSettings();
    }
}

void Engine::closeCallLog() {
    if (!callLog_.isOpen()) {
        return;
    }
    if (!callLog_.close().ok) {
        host_.shell.showMessage(kErrorCaption,
                                "Auf die Log Datei kann nicht zugegriffen werden. Log Datei "
                                "Erstellung wurde deaktiviert!",
                                MessageIcon::Critical);
        settings_.logEnabled = false;
        saveSettings();
    }
}

void Engine::logConnectionEnd(data::ConnectionEndUnit unit) {
    state_.connectionEnd = host_.clock.now();
    state_.connectionSeconds = static_cast<int32_t>(
        data::secondBoundariesBetween(state_.callStartTime, state_.connectionEnd));
    callLog_.connectionEnd(state_.connectionEnd, state_.connectionSeconds, unit);
}

}  // namespace tellmaro::relay
