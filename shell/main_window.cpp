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
      engine_(relay::EngineHost{parts.driver, timers_, parts.clock, shell_, parts.programDir,
                                parts.dataDir}) {
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

// Every message box start-up shows runs a nested event loop, in which the
// tray menu's "&Ende" or SIGTERM may run shutdown: start-up then goes no
// further, so that the program ends instead of running on shut down.
bool MainWindow::start() {
    splash_ = new SplashWindow(parts_.programDir);
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    splash_->show();
    splashTimer_->start();
    startFailed_ = false;

    auto abandon = [this] {
        startFailed_ = true;
        closeWindow(splash_);
        emit ended();
        return false;
    };
    if (!instance_.acquire(engine_.dataDir())) {
        shell_.showMessage(relay::kNoticeCaption,
                           "Der Tellmaro ist bereits gestartet. Bitte verwenden Sie diese Instanz!",
                           relay::MessageIcon::Exclamation);
        return abandon();
    }
    if (!parts_.driverFound) {
        shell_.showMessage(
            relay::kErrorCaption,
            relay::driverMessage(relay::kDriverNotFound, parts_.driver.describeSetup()),
            relay::MessageIcon::Critical);
        return abandon();
    }
    const uint32_t installed = engine_.driver().installed();
    if (installed != capi::kCapiOk) {
        // The report registers anew and listens, or ends the program.
        engine_.reportCapiError(installed);
        if (startFailed_) {
            return false;
        }
    }
    if (!shell_.addTray(relay::kTrayStarting)) {
        // Shutdown before the message: the splash goes, and the registration
        // the error report may have made is released.
        if (engine_.applId() != 0) {
            engine_.shutdown();
        }
        startFailed_ = true;
        closeWindow(splash_);
        shell_.showMessage(relay::kErrorCaption, kNoTray, relay::MessageIcon::Critical);
        emit ended();
        return false;
    }
    if (installed != capi::kCapiOk || !engine_.registerApplication()) {
        return stopStartUp();
    }

    const bool hasMobile = engine_.loadMobileNumber();
    if (startFailed_) {
        return false;
    }
    const bool configured = engine_.loadSettings();
    if (startFailed_) {
        return false;
    }
    if (configured && hasMobile) {
        engine_.openCallLogAtStartUp();
        if (startFailed_) {
            return false;
        }
    } else {
        // A first start, or no mobile phone to serve: the settings dialog
        // opens and start-up goes on behind it.
        openSettings();
    }
    engine_.loadPhoneBook();
    if (startFailed_) {
        return false;
    }
    if (configured && !hasMobile) {
        // Serving nobody, the relay does not listen. Closing the dialog
        // switches it on once a number is entered, and leaves it
        // deactivated otherwise.
        timers_.setTimerEnabled(relay::TimerId::DispatcherPoll, true);
        return true;
    }
    if (!engine_.listen(capi::ListenMask::Calls)) {
        return stopStartUp();
    }
    timers_.setTimerEnabled(relay::TimerId::DispatcherPoll, true);
    shell_.setTray(relay::kTrayReady);
    return true;
}

bool MainWindow::stopStartUp() {
    if (startFailed_) {
        return false;
    }
    shell_.setTray(kTrayStartUpStopped);
    shell_.setConfigurationMenuEnabled(false);
    return true;
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
               [this] { return new dialogs::Options(engine_, shell_, parts_.fileDialog); });
}

void MainWindow::openPhoneBook() {
    openWindow(phoneBook_, [this] { return new dialogs::CallDirWindow(engine_, shell_); });
}

void MainWindow::openAnalysis() {
    openWindow(analysis_, [this] { return new analysis::CapiWindow(engine_, shell_); });
}

}  // namespace tellmaro::shell
