#include "shell/main_window.h"

#include <QTimer>

#include "analysis/capi_window.h"
#include "dialogs/call_dir_window.h"
#include "dialogs/options_dialog.h"
#include "shell/splash_window.h"

namespace tellmaro::shell {

namespace {

constexpr int kSplashMilliseconds = 2000;  // Timer6

// A start-up that a CAPI error stopped: the relay cannot run, so only
// "&Ende" is left; "error.log" says what failed.
constexpr relay::TrayState kTrayStartUpStopped{
    "handyred.ico", "Tellmaro ist wegen eines CAPI-Fehlers nicht betriebsbereit"};

// No tray to put the icon in: stock GNOME has none, other desktops need a
// panel with a notification area. The lines after the first say what to
// install; the command to type is indented, so the box never breaks it.
constexpr const char* kNoTray =
    "Das System Tray Icon konnte nicht gesetzt werden\n"
    "Unter GNOME installieren Sie bitte das Paket gnome-shell-extension-appindicator, melden sich "
    "ab und wieder an und schalten die Erweiterung dann ein mit:\n"
    "    gnome-extensions enable ubuntu-appindicators@ubuntu.com\n"
    "Andere Desktops brauchen eine Leiste mit Infobereich (System Tray).";

// A window closed by the user is gone, or about to be; the next menu choice
// makes a fresh one, whose opening steps then run again.
template <typename Window, typename Make>
void openWindow(QPointer<Window>& window, Make make) {
    if (!window || !window->isVisible()) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void closeWindow(QWidget* window) {
    if (window) {
        window->close();
    }
}

}  // namespace

MainWindow::MainWindow(DesktopParts parts)
    : parts_(parts),
      splashTimer_(new QTimer(this)),
      timers_(this),
      shell_(parts.tray, parts.messages, parts.programDir, this),
      store_(parts.dataDir.empty() ? parts.programDir : parts.dataDir, shell_, parts.clock,
             parts.logDir),
      engine_(
          relay::EngineHost{parts.driver, timers_, parts.clock, shell_, store_, parts.programDir}) {
    setWindowTitle(QString::fromUtf8(kMainWindowTitle.data(),
                                     static_cast<qsizetype>(kMainWindowTitle.size())));
    splashTimer_->setObjectName("Timer6");
    splashTimer_->setInterval(kSplashMilliseconds);
    splashTimer_->setSingleShot(true);  // it switches itself off when it fires
    connect(splashTimer_, &QTimer::timeout, this, [this] { closeWindow(splash_); });
    timers_.onTick([this](relay::TimerId timer) { engine_.onTimer(timer); });
    connect(shell_.analysisEntry(), &QAction::triggered, this, &MainWindow::openAnalysis);
    connect(shell_.phoneBookEntry(), &QAction::triggered, this, &MainWindow::openPhoneBook);
    connect(shell_.settingsEntry(), &QAction::triggered, this, &MainWindow::openSettings);
    connect(shell_.activeEntry(), &QAction::triggered, this,
            [this](bool checked) { engine_.activationChanged(checked); });
    connect(shell_.endEntry(), &QAction::triggered, this, &MainWindow::shutdown);
    connect(&shell_, &DesktopShell::endRequested, this, &MainWindow::shutdown);
    connect(&shell_, &DesktopShell::settingsRequested, this, &MainWindow::openSettings);
}

MainWindow::~MainWindow() {
    // Termination repeats the clean-up of a shutdown that has not run.
    if (!startFailed_) {
        shutdown();
    }
    delete splash_;
    delete options_;
    delete phoneBook_;
    delete analysis_;
}

relay::StartUpOutcome MainWindow::start() {
    splash_ = new SplashWindow(parts_.programDir);
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    splash_->show();
    splashTimer_->start();
    startFailed_ = false;
    const relay::StartUpOutcome outcome = engine_.startUp();
    if (outcome == relay::StartUpOutcome::Stopped) {
        shell_.setTray(kTrayStartUpStopped);
        shell_.setConfigurationMenuEnabled(false);
    } else if (outcome == relay::StartUpOutcome::TrayRefused) {
        // The splash goes before the message, the program after it.
        startFailed_ = true;
        closeWindow(splash_);
        shell_.showMessage(relay::kErrorCaption, kNoTray, relay::MessageIcon::Critical);
        emit ended();
    } else if (!relay::runsOn(outcome) && !startFailed_) {
        shutdown();  // a check that failed before the engine had anything to end
    }
    return outcome;
}

void MainWindow::shutdown() {
    if (!startFailed_) {
        engine_.shutdown();
        shell_.removeTray();
    }
    startFailed_ = true;
    // Their closing steps find the engine shut down and leave the driver
    // alone. They are deleted only with this window: "&Ende" may have been
    // chosen while one of them waits in a message box's event loop.
    for (QWidget* window :
         std::initializer_list<QWidget*>{splash_, options_, phoneBook_, analysis_}) {
        if (window) {
            window->setAttribute(Qt::WA_DeleteOnClose, false);
            window->close();
        }
    }
    emit ended();
}

void MainWindow::openSettings() {
    openWindow(options_,
               [this] { return new dialogs::Options(engine_, store_, shell_, parts_.fileDialog); });
}

void MainWindow::openPhoneBook() {
    openWindow(phoneBook_, [this] { return new dialogs::CallDirWindow(engine_, store_, shell_); });
}

void MainWindow::openAnalysis() {
    openWindow(analysis_, [this] { return new analysis::CapiWindow(engine_, shell_); });
}

}  // namespace tellmaro::shell
