#include "shell/console_program.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "capi/libcapi20_driver.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "relay/engine.h"
#include "relay/system_wall_clock.h"
#include "relay/timer_schedule.h"
#include "shell/console_commands.h"
#include "shell/console_shell.h"
#include "shell/data_folder.h"
#include "shell/log_folder.h"

namespace tellmaro::shell {

namespace {

using std::chrono::milliseconds;

milliseconds steadyNow() {
    return std::chrono::duration_cast<milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

constexpr const char* kNotConfigured =
    "Das Programm ist noch nicht Konfiguriert!\n\rBitte stellen Sie die gewünschten Parameter ein!";

constexpr const char* kUsage =
    "Aufruf: tellmaro-console [BEFEHL]\n"
    "Ohne Befehl vermittelt tellmaro-console die Anrufe des eingetragenen Handys (Ende mit\n"
    "Strg-C oder SIGTERM).\n"
    "\n"
    "Befehle:\n"
    "  show                      zeigt die Einstellungen als SCHLUESSEL=WERT\n"
    "  set SCHLUESSEL=WERT ...   ändert Einstellungen, geprüft wie im Einstellungsdialog:\n"
    "      confirm-key=#|*  log=PFAD|on|off  own-number=ZIFFERN  mobile=ZIFFERN\n"
    "      disconnect=total|one-sided  line-access-chars=ZEICHEN  line-access=on|off\n"
    "      line-access-digits=N  mode=direct|call-back\n"
    "  phonebook                 zeigt das Kurzwahl-Telefonbuch\n"
    "  phonebook add KURZWAHL NUMMER [BEMERKUNG]\n"
    "  phonebook change KURZWAHL NEUE-KURZWAHL NUMMER [BEMERKUNG]\n"
    "  phonebook remove KURZWAHL\n"
    "  --help, --version\n"
    "\n"
    "Die Dateien liegen in $XDG_CONFIG_HOME/tellmaro (sonst ~/.config/tellmaro), error.log und\n"
    "Handy.log in $XDG_STATE_HOME/tellmaro (sonst ~/.local/state/tellmaro), außer der\n"
    "Programmordner enthält eine eigene, beschreibbare tellmaro.ini. Änderungen gelten ab dem\n"
    "nächsten Start des Tellmaro.\n"
    "Exit-Status: 0 normal, 1 Start gescheitert oder CAPI-Fehler, 2 nicht eingerichtet oder\n"
    "ungültige Eingabe.\n";

// Fires the main window's timers until asked to stop.
void runTimers(relay::TimerSchedule& timers, relay::Engine& engine, ConsoleShell& shell) {
    constexpr milliseconds kLongestWait(1000);
    while (!shell.stopRequested() && !shell.endRequested()) {
        milliseconds wait = kLongestWait;
        if (auto due = timers.nextDue()) {
            wait = std::clamp(*due - steadyNow(), milliseconds(0), kLongestWait);
        }
        if (wait.count() > 0) {
            poll(nullptr, 0, static_cast<int>(wait.count()));
        }
        timers.fireDue([&engine](relay::TimerId timer) { engine.onTimer(timer); });
        shell.service().watchdogTick();
    }
}

int runRelay(DataFolder folder) {
    const auto moved = settleLogFolder(folder);
    ConsoleShell::catchStopSignals();
    ConsoleShell shell;
    capi::LibCapi20Driver driver;
    relay::TimerSchedule timers(steadyNow);
    relay::SystemWallClock clock;
    relay::Store store(folder.path, shell, clock, folder.logs);
    for (const std::string& line : moved) {
        store.logFailure(line, true);
    }
    relay::Engine engine(
        relay::EngineHost{driver, timers, clock, shell, store, data::programDirectory()});

    switch (engine.startUp()) {
        case relay::StartUpOutcome::Running:
            shell.service().ready();
            break;
        case relay::StartUpOutcome::EndRequested:
            return kExitNormal;
        case relay::StartUpOutcome::NotConfigured:
            shell.showMessage(relay::kErrorCaption,
                              std::string(kNotConfigured) + "\nDie Einstellungen gehören nach " +
                                  (folder.path / data::kSettingsFileName).string() +
                                  ", die Handynummer nach " +
                                  (folder.path / data::kMobileNumberFileName).string() +
                                  ". Einrichten mit: tellmaro-console set own-number=RUFNUMMER "
                                  "mobile=HANDYNUMMER (mehr mit --help).",
                              relay::MessageIcon::Critical);
            return kExitNotConfigured;
        default:  // the console has no tray to show a stopped start-up in
            engine.shutdown();
            return kExitStartFailed;
    }
    runTimers(timers, engine, shell);
    shell.service().stopping();

    engine.shutdown();
    return shell.endRequested() ? kExitStartFailed : kExitNormal;
}

}  // namespace

int runConsoleProgram(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? "" : args[0];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitNormal;
    }
    if (command == "--version") {
        std::printf("tellmaro-console %s\n", TELLMARO_VERSION);
        return kExitNormal;
    }
    const DataFolder folder = chooseDataFolder(data::programDirectory(), data::configHome());
    const CommandOutput io;
    if (!folder.problem.empty()) {
        tell(io, folder.problem);
        return kExitStartFailed;
    }
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (command.empty()) {
        return runRelay(folder);
    }
    if (command == "show" && rest.empty()) {
        return showSettings(folder, io);
    }
    if (command == "set") {
        return setSettings(folder, rest, io);
    }
    if (command == "phonebook") {
        return phoneBookCommand(folder, rest, io);
    }
    tell(io, "Unbekannter Befehl \"" + command + "\". Hilfe mit: tellmaro-console --help");
    return kExitNotConfigured;
}

}  // namespace tellmaro::shell
