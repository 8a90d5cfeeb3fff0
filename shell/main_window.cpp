#include "shell/main_window.h"

#include <QTimer>

#include "analysis/capi_window.h"
#include "data/mobile_number_file.h"
#include "dialogs/call_dir_window.h"
#include "dialogs/options_dialog.h"
#include "shell/single_instance.h"
#include "shell/splash_window.h"

namespace tellmaro::shell {

namespace {

constexpr int kSplashMilliseconds = 2000;  // Timer6

// A window closed by the user is gone; the next menu choice makes a fresh
// one, whose opening steps then run again.
template <typename Window, typename Make>
void openWindow(QPointer<Window>& window, Make make) {
    if (!window) {
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
      timers_(this),
      shell_(parts.tray, parts.messages, parts.appDir, this),
      engine_(relay::EngineHost{parts.driver, timers_, parts.clock, shell_, parts.appDir}) {
    setWindowTitle(QString::fromUtf8(kMainWindowTitle.data(),
                                     static_cast<qsizetype>(kMainWindowTitle.size())));
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
}

bool MainWindow::start() {
    splash_ = new SplashWindow(parts_.appDir);
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    splash_->show();
    QTimer::singleShot(kSplashMilliseconds, this, [this] { closeWindow(splash_); });
    startFailed_ = false;

    auto abandon = [this] {
        startFailed_ = true;
        closeWindow(splash_);
        emit ended();
        return false;
    };
    if (parts_.anotherInstance) {
        shell_.showMessage(relay::kNoticeCaption,
                           "Der Tellmaro ist bereits gestartet. Bitte verwenden Sie diese Instanz!",
                           relay::MessageIcon::Exclamation);
        return abandon();
    }
    if (!parts_.driverFound) {
        shell_.showMessage(relay::kErrorCaption,
                           "Die Treiberdatei 'capi2032.dll' ihrer ISDN-Karte wurde nicht gefunden!",
                           relay::MessageIcon::Critical);
        return abandon();
    }
    if (uint32_t installed = engine_.driver().installed(); installed != capi::kCapiOk) {
        engine_.reportCapiError(installed);
        // Without a tray icon yet there is nothing to run for.
        return abandon();
    }
    if (!shell_.addTray(relay::kTrayStarting)) {
        startFailed_ = true;
        shell_.showMessage(relay::kErrorCaption, "Das System Tray Icon konnte nicht gesetzt werden",
                           relay::MessageIcon::Critical);
        return abandon();
    }
    if (!engine_.registerApplication()) {
        return true;  // reported; the program stays with its red icon
    }
    auto mobile = data::LoadMobileNumber(parts_.appDir);
    bool configured = engine_.loadSettings();
    if (configured && mobile.status == data::MobileNumberStatus::present) {
        engine_.setRegisteredMobileNumber(mobile.number);
        engine_.openCallLogAtStartUp();
    } else {
        // A first start: the settings dialog opens and start-up goes on behind it.
        openSettings();
    }
    engine_.loadPhoneBook();
    if (!engine_.listen(capi::ListenMask::Calls)) {
        return true;
    }
    timers_.setTimerEnabled(relay::TimerId::Timer1, true);
    shell_.setTray(relay::kTrayReady);
    return true;
}

void MainWindow::shutdown() {
    if (!startFailed_) {
        engine_.shutdown();
        shell_.removeTray();
    }
    startFailed_ = true;
    // Their closing steps find the engine shut down and leave the driver alone.
    closeWindow(splash_);
    closeWindow(options_);
    closeWindow(phoneBook_);
    closeWindow(analysis_);
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
