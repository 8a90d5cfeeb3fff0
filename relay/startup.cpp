// The start-up and shutdown steps of the engine; the shell runs them in its
// order, around its own steps (splash, single instance, tray icon).
#include <filesystem>

#include "data/call_dir_file.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
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

void Engine::reportFileTrouble(const std::string& error,
                               const std::optional<data::SetAsideFile>& setAside,
                               std::string_view consequence) {
    if (!error.empty()) {
        logFailure(error);
        host_.shell.showMessage(kErrorCaption,
                                "Auf die Dateien im Ordner " + dataDir().string() +
                                    " kann nicht zugegriffen werden.\n" + std::string(consequence),
                                MessageIcon::Critical);
    }
    if (setAside) {
        std::string message = data::setAsideMessage(*setAside);
        logFailure(message + " (" + setAside->reason + ")");
        host_.shell.showMessage(kErrorCaption, message + "\n" + std::string(consequence),
                                MessageIcon::Critical);
    }
}

bool Engine::loadSettings() {
    auto loaded = data::LoadSettings(dataDir(), host_.clock.now());
    reportFileTrouble(loaded.error, loaded.setAside,
                      "Die Einstellungen müssen neu eingegeben werden.");
    if (!loaded.configured()) {
        return false;
    }
    settings_ = *loaded.settings;
    return true;
}

bool Engine::loadMobileNumber() {
    auto loaded = data::LoadMobileNumber(dataDir(), host_.clock.now());
    reportFileTrouble(loaded.error, loaded.setAside,
                      "Die Rufnummer des Handys muss neu eingegeben werden.");
    if (loaded.status != data::MobileNumberStatus::present) {
        return false;
    }
    setRegisteredMobileNumber(std::move(loaded.number));
    return true;
}

void Engine::openCallLogAtStartUp() {
    bool wasOn = settings_.logEnabled;
    bool opened = false;
    if (settings_.logEnabled && !settings_.logFilePath.empty()) {
        // The stored file must still be there under the stored name.
        std::filesystem::path path = data::windows1252ToUtf8(settings_.logFilePath);
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error) &&
            path.filename() == data::windows1252ToUtf8(settings_.logFileName)) {
            opened = callLog_.open(path).ok;
        }
    }
    if (!opened && wasOn) {
        settings_.logEnabled = false;
        host_.shell.showMessage(kErrorCaption,
                                "Die angegebene Log Datei wurde nicht gefunden! Log Datei "
                                "Erstellung wurde deaktiviert!",
                                MessageIcon::Critical);
        saveSettings();
    }
}

void Engine::loadPhoneBook() {
    auto loaded = data::LoadCallDir(dataDir(), host_.clock.now());
    reportFileTrouble(loaded.error, loaded.setAside, "Das Telefonbuch ist leer.");
    phoneBook_ = std::move(loaded.phoneBook);
}

bool Engine::listen(capi::ListenMask mask) {
    return send(templates_.listenReq(mask));
}

void Engine::shutdown() {
    shutDown_ = true;
    driver_.release(applId_);
    (void)callLog_.close();
    promptFile_.close();
    state_.promptFileName.clear();
    for (TimerId timer :
         {TimerId::DispatcherPoll, TimerId::KeepAlive, TimerId::PlaceCall, TimerId::SeizeAgain}) {
        host_.timers.setTimerEnabled(timer, false);
    }
}

}  // namespace tellmaro::relay
