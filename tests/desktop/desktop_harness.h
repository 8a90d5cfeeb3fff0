#pragma once
// The desktop program's hidden main window on the in-process line simulator,
// with doubles for the tray, the message boxes and the file dialog.

#include "capi/byte_order.h"
#include "data/call_dir_file.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "dialogs/window_steps.h"
#include "engine_harness.h"
#include "relay/system_wall_clock.h"
#include "shell/main_window.h"

namespace tellmaro::test {

class RecordingTray final : public shell::TrayIcon {
  public:
    bool available = true, shown = false;
    QStringList tips;
    bool add(const QIcon& icon, const QString& tip) override {
        return (shown = available) && (modify(icon, tip), true);
    }
    void modify(const QIcon&, const QString& tip) override { tips << tip; }
    void remove() override { shown = false; }
};

class RecordingMessages final : public shell::MessageBoxes {
  public:
    QStringList texts;                // "caption|text", after "splash:" when it was on screen
    std::function<void()> whileOpen;  // runs while a message is "open", as a box's loop would
    void show(const QString& caption, const QString& text, relay::MessageIcon) override {
        texts << (visibleWindow("frmSplash") ? "splash:" : "") + caption + "|" + text;
        if (whileOpen) {
            std::exchange(whileOpen, nullptr)();
        }
    }
};

// The line's driver, whose library can be missing, whose first check at start-up can fail and
// whose controller profile can be refused or offer a single B channel.
class CheckedDriver final : public ForwardingDriver {
  public:
    using ForwardingDriver::ForwardingDriver;
    bool found = true, failFirstCheck = false, oneBChannel = false;
    uint32_t profileResult = capi::kCapiOk;
    bool loaded() const override { return found; }

    uint32_t installed() override {
        return std::exchange(failFirstCheck, false) ? capi::kCapiNotInstalled : inner_.installed();
    }
    uint32_t getProfile(uint32_t controller, capi::CapiProfile& out) override {
        (void)inner_.getProfile(controller, out);  // the line's two B channels
        capi::writeU16(out, 2, oneBChannel ? 1 : 2);
        return profileResult;
    }
};

// A program folder configured with the speed-dial code 42 for Alice, a line
// and the parts start-up takes.
struct Desktop {
    Desktop() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));  // the single-instance lock
        data::SettingsRecord settings;
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 10;
        settings.logFilePath = (appDir / "Handy.log").string();  // logging off, the file gone
        settings.logFileName = "Handy.log";
        data::PhoneBook book;
        (void)book.append({"42", "0301234567", "Alice"});
        (void)data::SaveSettings(appDir, settings);
        (void)data::SaveMobileNumber(appDir, "01711234567");
        (void)data::SaveCallDir(appDir, book);
    }
    shell::MainWindow& make() {
        window = std::make_unique<shell::MainWindow>(
            shell::DesktopParts{checked, tray, messages, files, clock, appDir});
        return *window;
    }
    std::string errorLog() const { return readFile(appDir / "error.log"); }
    // The tray menu's entry of that name, as the user chooses it.
    QAction* entry(const QString& name) const {
        return control<QAction>(&window->shell().menu(), name);
    }

    QTemporaryDir folder;  // removed last, after the window
    std::filesystem::path appDir = folder.path().toStdString();
    exchange::SteadyClock steady;
    exchange::LineSimulator line{steady};
    exchange::InProcessDriver driver{line.controller()};
    CheckedDriver checked{driver};
    RecordingTray tray;
    RecordingMessages messages;
    AnsweringFileDialog files;  // cancels
    relay::SystemWallClock clock;
    std::unique_ptr<shell::MainWindow> window;
};

}  // namespace tellmaro::test
