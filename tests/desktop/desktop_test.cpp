// The desktop program's hidden main window on the simulated line: start-up
// and its splash, the tray states and menu entries through a call, and the
// ways start-up gives up or stops. The tray and the message boxes are
// doubles; time is real, and Timer6 is fired by hand.
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <filesystem>

#include "desktop_harness.h"
#include "shell/splash_window.h"
#include "shell/stop_signals.h"

namespace tellmaro::test {

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    // The single-instance lock lives in $XDG_RUNTIME_DIR: a private one.
    void initTestCase() {
        QVERIFY(runtimeDir.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    }

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

    void aFirstStartOpensTheSettingsDialogBehindWhichStartUpCompletes() {
        Desktop d(false);
        auto& form1 = d.make();
        QVERIFY(form1.start());
        QCOMPARE(d.tray.tips,
                 QStringList({"Der Tellmaro wird gestartet", "Wegen Konfiguration deaktiviert",
                              "Tellmaro ist betriebsbereit"}));
        // The configuration entries stay locked while the dialog is open.
        QCOMPARE(d.enabledEntries(), QStringList({"PMNUend"}));
        QVERIFY(visibleWindow("Options") != nullptr);
        QCOMPARE(std::filesystem::file_size(d.appDir / "tellmaro.ini"), uintmax_t{0});
    }

    // Settings but no mobile phone: the relay serves nobody, so it never
    // says it is ready, until a number is entered.
    void withoutAMobileNumberTheRelayStaysOffUntilOneIsEntered() {
        Desktop d;
        std::filesystem::remove(d.appDir / "tellmaro.mob");
        auto& form1 = d.make();
        QVERIFY(form1.start());
        QCOMPARE(d.tray.tips,
                 QStringList({"Der Tellmaro wird gestartet", "Wegen Konfiguration deaktiviert"}));
        const QString told =
            "Tellmaro Hinweis !!|Es ist keine Rufnummer des Handys eingetragen. Der Tellmaro "
            "bleibt deaktiviert, bis sie in den Einstellungen eingetragen ist!";
        QAction* active = form1.shell().activeEntry();

        visibleWindow("Options")->findChild<QPushButton*>("CancelButton")->click();
        QCOMPARE(d.messages.texts, QStringList{told});
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist deaktiviert"));
        QVERIFY(!active->isChecked());
        QCOMPARE(d.enabledEntries().size(), 5);

        // Switching it on is refused the same way.
        active->trigger();
        QCOMPARE(d.messages.texts, QStringList({told, told}));
        QVERIFY(!active->isChecked());
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist deaktiviert"));

        form1.shell().settingsEntry()->trigger();
        QWidget* options = visibleWindow("Options");
        options->findChild<QLineEdit*>("TXTmobile_number")->setText("01711234567");
        options->findChild<QPushButton*>("OKButton")->click();
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist betriebsbereit"));
        QVERIFY(active->isChecked());
        QCOMPARE(d.messages.texts.size(), 2);
    }

    // Timer6 closes the splash 2 s after start-up began, unless a key or a
    // click on its frame did so before; it fires once either way.
    void theSplashClosesByTimer6OrEarlierOnAKeyOrItsFrame_data() {
        QTest::addColumn<QString>("closedBy");
        QTest::newRow("Timer6") << "";
        QTest::newRow("key") << "key";
        QTest::newRow("frame") << "Frame1";
    }
    void theSplashClosesByTimer6OrEarlierOnAKeyOrItsFrame() {
        QFETCH(QString, closedBy);
        QCOMPARE(shell::SplashWindow::versionText(), QString("Version 1.2"));
        Desktop d;
        auto& form1 = d.make();
        QVERIFY(form1.start());
        QPointer<QWidget> splash = visibleWindow("frmSplash");
        QVERIFY(splash);
        QTimer* timer6 = form1.splashTimer();
        QCOMPARE(timer6->interval(), 2000);
        QVERIFY(timer6->isActive() && timer6->isSingleShot());

        // A click on a picture or on the version does nothing.
        QTest::mouseClick(splash->findChild<QWidget*>("Image1"), Qt::LeftButton);
        QTest::mouseClick(splash->findChild<QWidget*>("lblVersion"), Qt::LeftButton);
        QVERIFY(splash->isVisible());
        if (closedBy == "key") {
            QTest::keyClick(splash, Qt::Key_Space);
        } else if (!closedBy.isEmpty()) {
            QTest::mouseClick(splash->findChild<QWidget*>(closedBy), Qt::LeftButton);
        }
        QCOMPARE(splash->isVisible(), closedBy.isEmpty());

        QTimerEvent due(timer6->timerId());
        QCoreApplication::sendEvent(timer6, &due);
        QVERIFY(!timer6->isActive());
        QTRY_VERIFY(splash.isNull());
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
        visibleWindow("FRMcalldir")->close();
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist deaktiviert"));
        QCOMPARE(d.enabledEntries().size(), 5);
    }

    // The entry dialog is modal to the phone book window alone: the tray
    // host's window still takes clicks, and "&Ende", chosen while a message
    // of the dialog is open, ends everything.
    void theTrayMenuStaysReachableWhileTheEntryDialogIsOpen() {
        Desktop d;
        auto& form1 = d.make();
        QSignalSpy ended(&form1, &shell::MainWindow::ended);
        QVERIFY(form1.start());
        form1.openPhoneBook();
        QWidget* phoneBook = visibleWindow("FRMcalldir");
        QVERIFY(QTest::qWaitForWindowExposed(phoneBook));
        QTest::mouseClick(phoneBook->findChild<QPushButton*>("BTNnew"), Qt::LeftButton);
        QPointer<QWidget> entry = phoneBook->findChild<QWidget*>("DLGcalldata");
        QVERIFY(entry && entry->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(entry));

        QPushButton trayHost;
        trayHost.show();
        QVERIFY(QTest::qWaitForWindowExposed(&trayHost));
        // Clicks through the window system, where modal dialogs block them.
        auto click = [](QWidget* widget) {
            QTest::mouseClick(widget->window()->windowHandle(), Qt::LeftButton, {},
                              widget->mapTo(widget->window(), widget->rect().center()));
        };
        QPushButton* ok = phoneBook->findChild<QPushButton*>("BTNok");
        QSignalSpy trayClicked(&trayHost, &QPushButton::clicked);
        QSignalSpy phoneBookOk(ok, &QPushButton::clicked);
        click(&trayHost);
        click(ok);
        QCOMPARE(trayClicked.count(), 1);
        QCOMPARE(phoneBookOk.count(), 0);

        d.messages.whileOpen = [&] {
            form1.shell().endEntry()->trigger();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        QTest::mouseClick(entry->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
        QCOMPARE(d.messages.texts, QStringList{" Tellmaro Fehler !!|Bitte geben Sie mindestens "
                                               "ein Kurzwahlzeichen ein!"});
        QCOMPARE(ended.count(), 1);
        QVERIFY(!phoneBook->isVisible());
        QVERIFY(!entry || !entry->isVisible());
        QCOMPARE(d.line.accounting().applications, size_t{0});
    }

    // A second start meets the first one's lock, as a second process would.
    void aSecondStartLeavesTheFirstRunning() {
        Desktop first;
        QVERIFY(first.make().start());
        {
            Desktop second;
            QVERIFY(!second.make().start());
            QCOMPARE(second.messages.texts,
                     QStringList{"Tellmaro Hinweis !!|Der Tellmaro ist bereits gestartet. Bitte "
                                 "verwenden Sie diese Instanz!"});
            QCOMPARE(second.line.accounting().applications, size_t{0});
            QVERIFY(!second.tray.shown);
        }
        QCOMPARE(first.line.accounting().applications, size_t{1});
        QVERIFY(first.tray.shown);
        QCOMPARE(first.tray.tips.last(), QString("Tellmaro ist betriebsbereit"));

        first.window.reset();  // the lock ends with the first instance
        Desktop third;
        QVERIFY(third.make().start());
    }

    void startUpGivesUpWithItsMessage_data() {
        QTest::addColumn<bool>("driverFound");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("splashOpen");
        QTest::newRow("no driver") << false
                                   << " Tellmaro Fehler !!|Die Treiberdatei 'libcapi20.so.3' ihrer "
                                      "ISDN-Karte wurde nicht gefunden!"
                                   << true;
        // The refused tray closes the program, and with it the splash, first.
        QTest::newRow("no tray")
            << true
            << " Tellmaro Fehler !!|Das System Tray Icon konnte nicht gesetzt werden\nUnter GNOME "
               "installieren Sie bitte das Paket gnome-shell-extension-appindicator, melden sich "
               "ab und wieder an und schalten die Erweiterung dann mit „gnome-extensions enable "
               "ubuntu-appindicators@ubuntu.com“ ein; andere Desktops brauchen eine Leiste mit "
               "Infobereich (System Tray)."
            << false;
    }
    void startUpGivesUpWithItsMessage() {
        QFETCH(bool, driverFound);
        QFETCH(QString, message);
        QFETCH(bool, splashOpen);
        Desktop d;
        d.tray.available = !driverFound;
        auto& form1 = d.make(driverFound);
        QVERIFY(!form1.start());
        QCOMPARE(d.messages.texts, QStringList({message}));
        QCOMPARE(d.messages.splashOpen, QList<bool>({splashOpen}));
        QVERIFY(visibleWindow("frmSplash") == nullptr);
        // Nothing was registered and no icon is left behind.
        QCOMPARE(d.line.accounting().applications, size_t{0});
        QVERIFY(!d.tray.shown);
    }

    // SIGTERM or "&Ende" during a message of start-up's later steps: start-up
    // ends there, rather than open the settings or run on shut down.
    void aStopDuringAStartUpMessageEndsStartUp_data() {
        QTest::addColumn<QString>("damaged");
        QTest::addColumn<bool>("withMobile");
        QTest::newRow("settings") << "tellmaro.ini" << true;
        QTest::newRow("phone book, no mobile number") << "tellmaro.dir" << false;
    }
    void aStopDuringAStartUpMessageEndsStartUp() {
        QFETCH(QString, damaged);
        QFETCH(bool, withMobile);
        Desktop d;
        std::ofstream(d.appDir / damaged.toStdString()) << "damaged";
        if (!withMobile) {
            std::filesystem::remove(d.appDir / "tellmaro.mob");
        }
        auto& form1 = d.make();
        d.messages.whileOpen = [&] { form1.shutdown(); };
        QVERIFY(!form1.start());
        QCOMPARE(d.messages.texts.size(), 1);
        QVERIFY(visibleWindow("Options") == nullptr);
        QVERIFY(!form1.timers().timerEnabled(relay::TimerId::Timer1));
        QCOMPARE(d.line.accounting().applications, size_t{0});
    }

    // The driver check fails; the error report registers afresh and
    // listens, or finds no driver either and ends the program.
    void aFailedDriverCheckKeepsTheProgramIfTheErrorReportSurvives_data() {
        QTest::addColumn<bool>("driverThere");
        QTest::newRow("report survives") << true;
        QTest::newRow("no driver") << false;
    }
    void aFailedDriverCheckKeepsTheProgramIfTheErrorReportSurvives() {
        QFETCH(bool, driverThere);
        Desktop d;
        d.checked.failFirstCheck = true;
        d.line.controller().setDriverPresent(driverThere);
        auto& form1 = d.make();
        QSignalSpy ended(&form1, &shell::MainWindow::ended);
        QCOMPARE(form1.start(), driverThere);
        QVERIFY(!d.errorLog().empty());
        if (!driverThere) {
            QCOMPARE(d.messages.texts, QStringList{" Tellmaro Fehler !!|Die Treiberdatei "
                                                   "'libcapi20.so.3' ihrer ISDN-Karte ist nicht "
                                                   "richtig installiert!"});
            QCOMPARE(ended.count(), 1);
            QVERIFY(!d.tray.shown);
            return;
        }
        QCOMPARE(ended.count(), 0);
        QVERIFY(d.messages.texts.isEmpty());
        QCOMPARE(d.tray.tips, QStringList({"Der Tellmaro wird gestartet",
                                           "Tellmaro ist wegen eines CAPI-Fehlers nicht "
                                           "betriebsbereit"}));
        QCOMPARE(d.enabledEntries(), QStringList({"PMNUend"}));
        QCOMPARE(d.line.accounting().applications, size_t{1});
        QVERIFY(!form1.timers().timerEnabled(relay::TimerId::Timer1));
        form1.shell().endEntry()->trigger();
        QCOMPARE(d.line.accounting().applications, size_t{0});
        QVERIFY(!d.tray.shown);
    }

    // A call log deleted since the last run: logging goes off, in the file
    // too, with a message; with logging off already nothing is said.
    void aCallLogDeletedSinceTheLastRun_data() {
        QTest::addColumn<bool>("logging");
        QTest::newRow("logging on") << true;
        QTest::newRow("logging off") << false;
    }
    void aCallLogDeletedSinceTheLastRun() {
        QFETCH(bool, logging);
        Desktop d;
        data::SettingsRecord settings = *data::LoadSettings(d.appDir).settings;
        settings.logEnabled = logging;
        settings.logFilePath = (d.appDir / "Handy.log").string();
        settings.logFileName = "Handy.log";
        QVERIFY(data::SaveSettings(d.appDir, settings).ok);
        const std::string before = d.settingsBytes();
        QVERIFY(d.make().start());
        if (logging) {
            QCOMPARE(d.messages.texts,
                     QStringList{" Tellmaro Fehler !!|Die angegebene Log Datei wurde nicht "
                                 "gefunden! Log Datei Erstellung wurde deaktiviert!"});
            settings.logEnabled = false;
            std::filesystem::create_directory(d.appDir / "expected");
            QVERIFY(data::SaveSettings(d.appDir / "expected", settings).ok);
            QCOMPARE(d.settingsBytes(), d.settingsBytes("expected"));
        } else {
            QVERIFY(d.messages.texts.isEmpty());
            QCOMPARE(d.settingsBytes(), before);
        }
        QVERIFY(!std::filesystem::exists(d.appDir / "Handy.log"));
        QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist betriebsbereit"));
    }

  private:
    QTemporaryDir runtimeDir;
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::DesktopTest)
#include "desktop_test.moc"
