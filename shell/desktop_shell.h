#pragma once
// What the engine needs of the desktop: the tray icon with its popup menu
// "&Systray", message boxes, the settings of a first start, and ending the
// program.

#include <QAction>
#include <QMenu>
#include <QObject>
#include <filesystem>
#include <map>
#include <string>

#include "relay/engine_ports.h"
#include "shell/message_boxes.h"
#include "shell/single_instance.h"
#include "shell/tray_icon.h"

namespace tellmaro::shell {

class DesktopShell final : public QObject, public relay::ShellPort {
    Q_OBJECT

  public:
    DesktopShell(TrayIcon& tray, MessageBoxes& messages, std::filesystem::path appDir,
                 QObject* parent = nullptr);

    bool claimSingleInstance(const std::filesystem::path& dataFolder) override {
        return instance_.acquire(dataFolder);
    }
    bool addTray(relay::TrayState state) override;
    void removeTray();

    void setTray(relay::TrayState state) override;
    void setConfigurationMenuEnabled(bool enabled) override;
    bool relayActivated() const override;
    void setRelayActivated(bool activated) override;
    void showMessage(std::string_view caption, std::string_view text,
                     relay::MessageIcon icon) override;
    void closeWindowsAndEnd() override { emit endRequested(); }
    bool openSettings() override {
        emit settingsRequested();
        return true;
    }

    QMenu& menu() { return menu_; }
    QAction* analysisEntry() const { return capi_; }      // PMNUcapi
    QAction* phoneBookEntry() const { return callDir_; }  // PMNUcalldir
    QAction* activeEntry() const { return active_; }      // PMNUactive
    QAction* settingsEntry() const { return settings_; }  // PMNUset
    QAction* endEntry() const { return end_; }            // PMNUend

  signals:
    // The error report gave up: close the windows and end the program.
    void endRequested();
    // A first start: the settings dialog opens.
    void settingsRequested();

  private:
    QAction* addEntry(const QString& caption, const char* objectName);
    // Each icon file is loaded once: a new QIcon for every change of the
    // tray would leave a new set of rendered pixmaps in Qt's cache each time.
    const QIcon& icon(std::string_view file);

    SingleInstanceLock instance_;
    TrayIcon& tray_;
    MessageBoxes& messages_;
    std::filesystem::path appDir_;
    std::map<std::string, QIcon, std::less<>> icons_;
    QMenu menu_;
    QAction* capi_;
    QAction* callDir_;
    QAction* active_;
    QAction* settings_;
    QAction* end_;
};

}  // namespace tellmaro::shell
