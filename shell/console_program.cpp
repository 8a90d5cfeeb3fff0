#include "shell/console_program.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "capi/libcapi20_driver.h"
#include "data/mobile_number_file.h"
#include "relay/engine.h"
#include "relay/system_wall_clock.h"
#include "relay/timer_schedule.h"
#include "shell/console_shell.h"
#include "shell/program_dir.h"
#include "shell/single_instance.h"

namespace tellmaro::shell {

namespace {

using std::chrono::milliseconds;

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int) {
    stopSignal = 1;
}

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the wait in the loop must end at once.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

milliseconds steadyNow() {
    return std::chrono::duration_cast<milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

constexpr const char* kNotConfigured =
    "Das Programm ist noch nicht Konfiguriert!\n\rBitte stellen Sie die gewünschten Parameter ein!";

// Fires the main window's timers until asked to stop.
void runTimers(relay::TimerSchedule& timers, relay::Engine& engine, const ConsoleShell& shell) {
    constexpr milliseconds kLongestWait(1000);
    while (!stopSignal && !shell.endRequested()) {
        milliseconds wait = kLongestWait;
        if (auto due = timers.nextDue()) {
            wait = std::clamp(*due - steadyNow(), milliseconds(0), kLongestWait);
        }
        if (wait.count() > 0) {
            poll(nullptr, 0, static_cast<int>(wait.count()));
        }
        timers.fireDue([&engine](relay::TimerId timer) { engine.onTimer(timer); });
    }
}

}  // namespace

int runConsoleProgram() {
    catchStopSignals();
    ConsoleShell shell;

    SingleInstanceLock instance;
    if (!instance.acquire()) {
        shell.showMessage(relay::kNoticeCaption,
                          "Der Tellmaro ist bereits gestartet. Bitte verwenden Sie diese Instanz!",
                          relay::MessageIcon::Exclamation);
        return kExitStartFailed;
    }
    capi::LibCapi20Driver driver;
    if (!driver.loaded()) {
        shell.showMessage(relay::kErrorCaption,
                          relay::driverMessage(relay::kDriverNotFound, driver.describeSetup()),
                          relay::MessageIcon::Critical);
        return kExitStartFailed;
    }

    auto appDir = programDirectory();
    relay::TimerSchedule timers(steadyNow);
    relay::SystemWallClock clock;
    relay::Engine engine(relay::EngineHost{driver, timers, clock, shell, appDir});

    if (uint32_t installed = engine.driver().installed(); installed != capi::kCapiOk) {
        engine.reportCapiError(installed);
        return kExitStartFailed;
    }
    shell.setTray(relay::kTrayStarting);
    if (!engine.registerApplication()) {
        engine.shutdown();
        return kExitStartFailed;
    }
    auto mobile = data::LoadMobileNumber(appDir);
    bool configured = engine.loadSettings();
    if (!configured || mobile.status != data::MobileNumberStatus::present) {
        if (!mobile.error.empty()) {
            std::fprintf(stderr, "tellmaro-console: %s\n", mobile.error.c_str());
        }
        shell.showMessage(relay::kErrorCaption, kNotConfigured, relay::MessageIcon::Critical);
        engine.shutdown();
        return kExitNotConfigured;
    }
    engine.setRegisteredMobileNumber(mobile.number);
    engine.openCallLogAtStartUp();
    engine.loadPhoneBook();
    if (!engine.listen(capi::ListenMask::Calls)) {
        engine.shutdown();
        return kExitStartFailed;
    }
    timers.setTimerEnabled(relay::TimerId::Timer1, true);
    shell.setTray(relay::kTrayReady);

    runTimers(timers, engine, shell);

    engine.shutdown();
    return shell.endRequested() ? kExitStartFailed : kExitNormal;
}

}  // namespace tellmaro::shell
