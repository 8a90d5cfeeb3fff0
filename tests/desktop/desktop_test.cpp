// The desktop program's hidden main window on the simulated line: start-up,
// the tray states and menu entries through a call, and the ways start-up
// gives up. The tray and the message boxes are doubles; time is real.
#include <QtTest>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <random>

#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "exchange/controller/clock.h"
#include "exchange/controller/in_process_driver.h"
#include "exchange/simulated/line_simulator.h"
#include "relay/system_wall_clock.h"
#include "shell/main_window.h"
#include "shell/splash_window.h"
#include "shell/stop_signals.h"

namespace tellmaro::test {

class RecordingTray final : public shell::TrayIcon {
  public:
    bool available = true;
    bool shown = false;
    QStringList tips;
    QList<qint64> icons;  // cache keys
    bool add(const QIcon& icon, const QString& tip) override {
        if (!available) {
            return false;
        }
        shown = true;
        tips << tip;
        icons << icon.cacheKey();
        return true;
    }
    void modify(const QIcon& icon, const QString& tip) override {
        tips << tip;
        icons << icon.cacheKey();
    }
    void remove() override { shown = false; }
};

class RecordingMessages final : public shell::MessageBoxes {
  public:
    QStringList texts;
    void show(const QString& caption, const QString& text, relay::MessageIcon) override {
        texts << caption + "|" + text;
    }
};

class NoFileDialog final : public dialogs::LogFileDialog {
  public:
    std::optional<QString> askForLogFile(QWidget*) override { return std::nullopt; }
};

// A program directory, a line and the parts start-up takes.
struct Desktop {
    Desktop(bool configured = true) {
        std::random_device random;
        appDir = std::filesystem::temp_directory_path() /
                 ("tellmaro-desktop-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(appDir);
        if (configured) {
            data::SettingsRecord settings;
            settings.ownNumber = "07115550000000000000";
            settings.ownNumberLength = 10;
            (void)data::SaveSettings(appDir, settings);
            (void)data::SaveMobileNumber(appDir, "01711234567");
        }
    }
    ~Desktop() {
        window.reset();
        std::error_code ignored;
        std::filesystem::remove_all(appDir, ignored);
    }
    shell::MainWindow& make(bool driverFound = true, bool anotherInstance = false) {
        window = std::make_unique<shell::MainWindow>(shell::DesktopParts{
            driver, driverFound, anotherInstance, tray, messages, files, clock, appDir});
        return *window;
    }
    QStringList enabledEntries() const {
        QStringList entries;
        for (QAction* action : window->shell().menu().actions()) {
            if (!action->isSeparator() && action->isEnabled()) {
                entries << action->objectName();
            }
        }
        return entries;
    }

    std::filesystem::path appDir;
    exchange::SteadyClock steady;
    exchange::LineSimulator line{steady};
    exchange::InProcessDriver driver{line.controller()};
    RecordingTray tray;
    RecordingMessages messages;
    NoFileDialog files;
    relay::SystemWallClock clock;
    std::unique_ptr<shell::MainWindow> window;
};

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void startsReadyAndEndsFromTheMenu() {
        Desktop d;
        auto& form1 = d.make();
        QSignalSpy ended(&form1, &shell::MainWindow::ended);
        QVERIFY(form1.start());
        QCOMPARE(d.tray.tips,
                 QStringList({"Der Tellmaro wird gestartet", "Tellmaro ist betriebsbereit"}));
        QCOMPARE(d.enabledEntries(),
                 QStringList({"PMNUcapi", "PMNUcalldir", "PMNUactive", "PMNUset", "PMNUend"}));
        QVERIFY(form1.shell().activeEntry()->isChecked());
        QCOMPARE(form1.windowTitle(), QString("CAPI Message Analyzer V0.1"));

        form1.shell().endEntry()->trigger();
        QCOMPARE(ended.count(), 1);
        QVERIFY(!d.tray.shown);
        QCOMPARE(d.line.accounting().applications, size_t{0});
    }

    // SIGTERM (a session that ends) shuts down as "Ende" does.
    void aStopSignalEndsLikeTheMenu() {
        Desktop d;
        auto& form1 = d.make();
        shell::StopSignals stopSignals;
        connect(&stopSignals, &shell::StopSignals::stopRequested, &form1,
                &shell::MainWindow::shutdown);
        QSignalSpy ended(&form1, &shell::MainWindow::ended);
        QVERIFY(form1.start());
        raise(SIGTERM);
        QTRY_COMPARE(ended.count(), 1);
        QVERIFY(!d.tray.shown);
        QCOMPARE(d.line.accounting().applications, size_t{0});
    }

    void showsTheCallInTheTrayAndLocksTheMenu() {
        Desktop d;
        auto mobile = d.line.addParty("01711234567");
        exchange::PartyBehaviour target;
        target.answerAfter = std::chrono::milliseconds(300);
        target.hangUpAfter = std::chrono::milliseconds(800);
        d.line.addParty("0301234567", target);
        auto& form1 = d.make();
        QVERIFY(form1.start());
        d.line.callPcAt(d.steady.now() + std::chrono::milliseconds(100), mobile);
        d.line.pressKeysAt(d.steady.now() + std::chrono::milliseconds(900), mobile, "0301234567#");
        QTRY_VERIFY_WITH_TIMEOUT(d.tray.tips.contains("Aktive Verbindung"), 3000);
        QCOMPARE(d.enabledEntries(), QStringList({"PMNUend"}));
        d.line.hangUpAt(d.steady.now() + std::chrono::milliseconds(2500), mobile);
        QTRY_COMPARE_WITH_TIMEOUT(d.tray.tips.last(), QString("Tellmaro ist betriebsbereit"), 6000);
        QCOMPARE(d.enabledEntries().size(), 5);
        // The green icon is the one loaded at start-up, not a copy per call.
        QCOMPARE(d.tray.icons.last(), d.tray.icons.at(1));
        // The seized line follows the mobile's leg down a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(d.line.accounting().idle(), 3000);
        QVERIFY(d.line.accounting().clean());
    }

    void aFirstStartOpensTheSettingsDialogBehindWhichStartUpCompletes_data() {
        QTest::addColumn<bool>("settingsStored");
        QTest::newRow("nothing configured") << false;
        QTest::newRow("no registered mobile number") << true;
    }
    void aFirstStartOpensTheSettingsDialogBehindWhichStartUpCompletes() {
        QFETCH(bool, settingsStored);
        Desktop d(settingsStored);
        std::filesystem::remove(d.appDir / "tellmaro.mob");
        auto& form1 = d.make();
        QVERIFY(form1.start());
        QCOMPARE(d.tray.tips,
                 QStringList({"Der Tellmaro wird gestartet", "Wegen Konfiguration deaktiviert",
                              "Tellmaro ist betriebsbereit"}));
        // The configuration entries stay locked while the dialog is open.
        QCOMPARE(d.enabledEntries(), QStringList({"PMNUend"}));
        QWidget* options = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->objectName() == "Options") {
                options = w;
            }
        }
        QVERIFY(options != nullptr);
        if (!settingsStored) {
            QCOMPARE(std::filesystem::file_size(d.appDir / "tellmaro.ini"), uintmax_t{0});
        }
        options->close();
    }

    void theSplashShowsTheVersionAndClosesOnAKeyOrOnItsFrame() {
        Desktop d;
        QCOMPARE(shell::SplashWindow::versionText(), QString("Version 1.2"));
        for (bool byKey : {true, false}) {
            auto* splash = new shell::SplashWindow(d.appDir);
            splash->setAttribute(Qt::WA_DeleteOnClose);
            QPointer<shell::SplashWindow> alive(splash);
            splash->show();
            // A click on a picture or on the version does nothing.
            QTest::mouseClick(splash->findChild<QWidget*>("Image1"), Qt::LeftButton);
            QTest::mouseClick(splash->findChild<QWidget*>("lblVersion"), Qt::LeftButton);
            QVERIFY(splash->isVisible());
            if (byKey) {
                QTest::keyClick(splash, Qt::Key_Space);
            } else {
                QTest::mouseClick(splash->findChild<QWidget*>("Frame1"), Qt::LeftButton);
            }
            QTRY_VERIFY(alive.isNull());
        }
    }

    void switchingTheRelayOffAndOnFromTheMenu() {
        Desktop d;
        auto& form1 = d.make();
        QVERIFY(form1.start());
        form1.shell().activeEntry()->trigger();
        QVERIFY(!form1.shell().activeEntry()->isChecked());
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist deaktiviert"));
        form1.shell().activeEntry()->trigger();
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist betriebsbereit"));
        // Opening and closing a window while switched off leaves it off.
        form1.shell().activeEntry()->trigger();
        form1.openPhoneBook();
        QCOMPARE(d.tray.tips.last(), QString("Wegen Konfiguration deaktiviert"));
        QCOMPARE(d.enabledEntries(), QStringList({"PMNUend"}));
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == "FRMcalldir") {
                w->close();
            }
        }
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist deaktiviert"));
        QCOMPARE(d.enabledEntries().size(), 5);
    }

    void startUpGivesUpWithItsMessage_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("another instance")
            << 0
            << "Tellmaro Hinweis !!|Der Tellmaro ist bereits gestartet. Bitte verwenden Sie "
               "diese Instanz!";
        QTest::newRow("no driver") << 1
                                   << " Tellmaro Fehler !!|Die Treiberdatei 'capi2032.dll' ihrer "
                                      "ISDN-Karte wurde nicht gefunden!";
        QTest::newRow("no tray")
            << 2 << " Tellmaro Fehler !!|Das System Tray Icon konnte nicht gesetzt werden";
    }
    void startUpGivesUpWithItsMessage() {
        QFETCH(int, fault);
        QFETCH(QString, message);
        Desktop d;
        d.tray.available = fault != 2;
        auto& form1 = d.make(fault != 1, fault == 0);
        QVERIFY(!form1.start());
        QCOMPARE(d.messages.texts, QStringList({message}));
        // Nothing was registered and no icon is left behind.
        QCOMPARE(d.line.accounting().applications, size_t{0});
        QVERIFY(!d.tray.shown);
    }
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::DesktopTest)
#include "desktop_test.moc"
