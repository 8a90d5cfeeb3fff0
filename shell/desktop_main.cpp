// tellmaro: the relay in the desktop tray. main only wires the parts.
#include <getopt.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "capi/libcapi20_driver.h"
#include "dialogs/log_file_dialog.h"
#include "relay/system_wall_clock.h"
#include "shell/data_folder.h"
#include "shell/desktop_session.h"
#include "shell/german_qt_texts.h"
#include "shell/log_folder.h"
#include "shell/main_window.h"
#include "shell/message_boxes.h"
#include "shell/stop_signals.h"
#include "shell/tray_icon.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: tellmaro [--help | --version]\n"
    "Der Tellmaro im Infobereich der Kontrollleiste: sein Symbol zeigt, ob das Relais\n"
    "für das eingetragene Handy bereit ist; sein Menü öffnet die Einstellungen, das\n"
    "Telefonbuch und die CAPI-Analyse. Ohne Desktop läuft das Relais als\n"
    "tellmaro-console (siehe tellmaro-console --help).\n"
    "Exit-Status: 0 nach \"Ende\", SIGINT oder SIGTERM, 1 Start gescheitert, 2 falscher Aufruf.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace tellmaro;
    // Answered before any window system is needed.
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'}, {"version", no_argument, nullptr, 'V'}, {}};
    opterr = 0;  // its messages are English
    for (int opt; (opt = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1;) {
        if (opt == 'h') {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt == 'V') {
            std::printf("tellmaro %d.%d\n", TELLMARO_VERSION_MAJOR, TELLMARO_VERSION_MINOR);
            return 0;
        }
        std::string word = argv[optind - 1];
        if (!word.starts_with("--")) {
            word = "-" + std::string(1, char(optopt));
        }
        std::fprintf(stderr, "tellmaro: Unbekannte Option \"%s\". Hilfe mit: tellmaro --help\n",
                     word.c_str());
        return 2;
    }
    if (optind < argc) {
        std::fprintf(stderr, "tellmaro: Unerwartetes Argument \"%s\". Hilfe mit: tellmaro --help\n",
                     argv[optind]);
        return 2;
    }
    auto app = shell::openDesktopSession(argc, argv);
    if (!app) {
        return 1;
    }
    // The program lives in the tray; closing a window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!shell::installGermanQtTexts()) {
        std::fputs(
            "Tellmaro: Qts deutsche Übersetzungen fehlen (Paket qt6-translations-l10n); Qts eigene "
            "Texte bleiben englisch.\n",
            stderr);
    }

    capi::LibCapi20Driver driver;
    shell::SystemTrayIcon tray;
    shell::QtMessageBoxes messages;
    dialogs::QtLogFileDialog fileDialog;
    relay::SystemWallClock clock;

    const auto programDir = data::programDirectory();
    auto dataFolder = shell::chooseDataFolder(programDir, data::configHome());
    if (!dataFolder.problem.empty()) {
        messages.show(QString::fromUtf8(relay::kErrorCaption.data(),
                                        static_cast<qsizetype>(relay::kErrorCaption.size())),
                      QString::fromStdString(dataFolder.problem), relay::MessageIcon::Critical);
        return 1;
    }
    const auto moved = shell::settleLogFolder(dataFolder);
    shell::MainWindow form1(
        {driver, tray, messages, fileDialog, clock, programDir, dataFolder.path, dataFolder.logs});
    for (const std::string& line : moved) {
        form1.store().logFailure(line, true);
    }
    // exit, not quit: "&Ende" or SIGTERM may come while a message box's
    // event loop runs, during start-up too; exit ends every running loop,
    // quit only the main one, which start-up has not entered yet.
    QObject::connect(
        &form1, &shell::MainWindow::ended, app.get(), [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    shell::StopSignals stopSignals;
    QObject::connect(&stopSignals, &shell::StopSignals::stopRequested, &form1,
                     &shell::MainWindow::shutdown);
    if (const relay::StartUpOutcome outcome = form1.start(); !relay::runsOn(outcome)) {
        return outcome == relay::StartUpOutcome::EndRequested ? 0 : 1;
    }
    return QApplication::exec();
}
