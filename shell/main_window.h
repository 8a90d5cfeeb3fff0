#pragma once
// The hidden main window: start-up, the tray menu's entries, and shutdown.
// It is never shown; the tray icon is the program's face.

#include <QPointer>
#include <QWidget>

class QTimer;
#include <filesystem>
#include <memory>

#include "capi/capi_driver.h"
#include "dialogs/log_file_dialog.h"
#include "relay/engine.h"
#include "shell/desktop_shell.h"
#include "shell/qt_timers.h"
#include "shell/single_instance.h"

namespace tellmaro::analysis {
class CapiWindow;
}
namespace tellmaro::dialogs {
class CallDirWindow;
class Options;
}  // namespace tellmaro::dialogs

namespace tellmaro::shell {

class SplashWindow;

// What start-up finds and uses; the program passes the real ones.
struct DesktopParts {
    capi::CapiDriver& driver;
    TrayIcon& tray;
    MessageBoxes& messages;
    dialogs::LogFileDialog& fileDialog;
    const relay::WallClock& clock;
    std::filesystem::path programDir;    // prompts, icons and pictures
    std::filesystem::path dataDir = {};  // the store's files; programDir when empty
    std::filesystem::path logDir = {};   // error.log and the proposed call log; dataDir when empty
};

class MainWindow final : public QWidget {
    Q_OBJECT

  public:
    explicit MainWindow(DesktopParts parts);
    ~MainWindow() override;

    // The splash, then the engine's start-up.
    relay::StartUpOutcome start();
    // "&Ende", the error report giving up, or the end of the program.
    void shutdown();

    relay::Store& store() { return store_; }
    DesktopShell& shell() { return shell_; }
    QtTimers& timers() { return timers_; }
    // Timer6: closes the splash window 2000 ms after start-up began.
    QTimer* splashTimer() const { return splashTimer_; }
    void openSettings();
    void openPhoneBook();
    void openAnalysis();

  signals:
    void ended();

  private:
    DesktopParts parts_;
    QTimer* splashTimer_;  // Timer6
    QtTimers timers_;
    DesktopShell shell_;
    relay::Store store_;
    relay::Engine engine_;
    bool startFailed_ = false;
    QPointer<SplashWindow> splash_;
    QPointer<dialogs::Options> options_;
    QPointer<dialogs::CallDirWindow> phoneBook_;
    QPointer<analysis::CapiWindow> analysis_;
};

}  // namespace tellmaro::shell
