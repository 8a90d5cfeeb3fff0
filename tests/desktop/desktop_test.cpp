// The desktop program's hidden main window on the simulated line, used as a
// user does, through the tray menu; the tray during a call and the relay's
// suspension are tested with the engine. Time is real, Timer6 fired by hand.
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <filesystem>

#include "capi/byte_order.h"
#include "desktop_harness.h"
#include "shell/stop_signals.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

const QStringList kAllEntries = {"PMNUcapi", "PMNUcalldir", "PMNUactive", "PMNUset", "PMNUend"};
const QStringList kOnlyEnd = {"PMNUend"};
const QString kStarting = "Der Tellmaro wird gestartet";
const QString kReady = "Tellmaro ist betriebsbereit";
const QString kConfiguring = "Wegen Konfiguration deaktiviert";
const QString kOff = "Tellmaro ist deaktiviert";

void logTo(Desktop& d, bool enabled) {
    data::SettingsRecord settings = *data::LoadSettings(d.appDir).settings;
    settings.logEnabled = enabled;
    settings.logFilePath = (d.appDir / "Handy.log").string();
    settings.logFileName = "Handy.log";
    (void)data::SaveSettings(d.appDir, settings);
}

// One way start-up goes: what differs from a configured program on a working
// line, and what the user has seen when start() returns.
struct StartUp {
    const char* what;
    void (*prepare)(Desktop&);
    bool started;
    const char* tips;     // the tray's tool tips in order, separated by " / "
    const char* message;  // a part of the only message box's "caption|text"; "" for none
    bool menuLocked;      // only "&Ende" is enabled after the start
    void (*then)(Desktop&) = nullptr;
};

const StartUp kStartUps[] = {
    {"configured", [](Desktop&) {}, true,
     "Der Tellmaro wird gestartet / Tellmaro ist betriebsbereit", "", false},
    {"a first start opens the settings, behind which start-up completes",
     [](Desktop& d) {
         fs::remove(d.appDir / "tellmaro.ini");
         fs::remove(d.appDir / "tellmaro.mob");
     },
     true,
     "Der Tellmaro wird gestartet / Wegen Konfiguration deaktiviert / Tellmaro ist betriebsbereit",
     "", true,
     [](Desktop& d) {
         QVERIFY(visibleWindow("Options"));
         QCOMPARE(fs::file_size(d.appDir / "tellmaro.ini"), uintmax_t{0});
     }},
    {"no driver", [](Desktop& d) { d.driverFound = false; }, false, "",
     " Tellmaro Fehler !!|Die Treiberdatei 'libcapi20.so.3' ihrer ISDN-Karte wurde nicht gefunden!",
     false, [](Desktop& d) { QCOMPARE(d.messages.splashOpen, QList<bool>{true}); }},
    // The refused tray closes the program, and with it the splash, first.
    {"no tray", [](Desktop& d) { d.tray.available = false; }, false, "",
     "Das System Tray Icon konnte nicht gesetzt werden\nUnter GNOME installieren Sie bitte das "
     "Paket gnome-shell-extension-appindicator",
     false, [](Desktop& d) { QCOMPARE(d.messages.splashOpen, QList<bool>{false}); }},
    // The error report registers afresh and listens, or finds no driver either.
    {"the driver check fails, the error report survives",
     [](Desktop& d) { d.checked.failFirstCheck = true; }, true,
     "Der Tellmaro wird gestartet / Tellmaro ist wegen eines CAPI-Fehlers nicht betriebsbereit", "",
     true,
     [](Desktop& d) {
         QVERIFY(!d.errorLog().empty());
         QVERIFY(!d.window->timers().timerEnabled(relay::TimerId::Timer1));  // not listening
         d.entry("PMNUend")->trigger();
         QCOMPARE(d.line.accounting().applications, size_t{0});
     }},
    {"the driver check fails, and no driver either",
     [](Desktop& d) {
         d.checked.failFirstCheck = true;
         d.line.controller().setDriverPresent(false);
     },
     false, "",
     " Tellmaro Fehler !!|Die Treiberdatei 'libcapi20.so.3' ihrer ISDN-Karte ist nicht richtig "
     "installiert!",
     false},
    // A call log deleted since the last run: logging goes off, in the file
    // too, with a message; with logging off already nothing is said.
    {"the call log was deleted", [](Desktop& d) { logTo(d, true); }, true,
     "Der Tellmaro wird gestartet / Tellmaro ist betriebsbereit",
     " Tellmaro Fehler !!|Die angegebene Log Datei wurde nicht gefunden! Log Datei Erstellung "
     "wurde deaktiviert!",
     false, [](Desktop& d) { QVERIFY(!data::LoadSettings(d.appDir).settings->logEnabled); }},
    {"the call log was deleted, logging is off", [](Desktop& d) { logTo(d, false); }, true,
     "Der Tellmaro wird gestartet / Tellmaro ist betriebsbereit", "", false,
     [](Desktop& d) { QVERIFY(!fs::exists(d.appDir / "Handy.log")); }},
    // "&Ende" or SIGTERM during a message of start-up's later steps: start-up
    // ends there, rather than open the settings or run on shut down.
    {"stopped during the message of damaged settings",
     [](Desktop& d) {
         std::ofstream(d.appDir / "tellmaro.ini") << "damaged";
         d.messages.whileOpen = [&d] { d.window->shutdown(); };
     },
     false, "Der Tellmaro wird gestartet", "tellmaro.ini", false},
    {"stopped during the message of a damaged phone book, no mobile number",
     [](Desktop& d) {
         std::ofstream(d.appDir / "tellmaro.dir") << "damaged";
         fs::remove(d.appDir / "tellmaro.mob");
         d.messages.whileOpen = [&d] { d.window->shutdown(); };
     },
     false, "Der Tellmaro wird gestartet / Wegen Konfiguration deaktiviert", "tellmaro.dir", false},
};

// Whether any text box, report or grid of the window holds something.
bool showsSomething(const QWidget* window) {
    const auto boxes = window->findChildren<QLineEdit*>();
    const auto reports = window->findChildren<QPlainTextEdit*>();
    const auto grids = window->findChildren<QTableWidget*>();
    return std::any_of(boxes.begin(), boxes.end(), [](auto* b) { return !b->text().isEmpty(); }) ||
           std::any_of(reports.begin(), reports.end(),
                       [](auto* r) { return !r->toPlainText().isEmpty(); }) ||
           std::any_of(grids.begin(), grids.end(), [](auto* g) { return g->rowCount() > 0; });
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    // The single-instance lock lives in $XDG_RUNTIME_DIR: a private one.
    void initTestCase() {
        QVERIFY(runtimeDir.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    }

    void startUp_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kStartUps)); ++row) {
            QTest::newRow(kStartUps[row].what) << row;
        }
    }
    void startUp() {
        QFETCH(int, row);
        const StartUp& expected = kStartUps[row];
        Desktop d;
        expected.prepare(d);
        QSignalSpy ended(&d.make(), &shell::MainWindow::ended);
        QCOMPARE(d.window->start(), expected.started);
        QCOMPARE(d.tray.tips.join(" / "), QString(expected.tips));
        QCOMPARE(d.messages.texts.size(), *expected.message ? 1 : 0);
        QVERIFY2(d.messages.texts.join("").contains(QString::fromUtf8(expected.message)),
                 qPrintable(d.messages.texts.join("")));
        if (expected.started) {
            QCOMPARE(d.enabledEntries(), expected.menuLocked ? kOnlyEnd : kAllEntries);
            QCOMPARE(d.line.accounting().applications, size_t{1});
        } else {
            // Nothing is left behind: no registration, no icon, no window, no timer.
            QCOMPARE(ended.count(), 1);
            QCOMPARE(d.line.accounting().applications, size_t{0});
            QVERIFY(!d.tray.shown);
            QVERIFY(!visibleWindow("frmSplash") && !visibleWindow("Options"));
            QVERIFY(!d.window->timers().timerEnabled(relay::TimerId::Timer1));
        }
        if (expected.then) {
            expected.then(d);
        }
    }

    // "&Ende", or SIGTERM when the session ends.
    void endsFromTheMenuOrOnSigterm() {
        for (bool bySignal : {false, true}) {
            Desktop d;
            shell::StopSignals stopSignals;
            connect(&stopSignals, &shell::StopSignals::stopRequested, &d.make(),
                    &shell::MainWindow::shutdown);
            QSignalSpy ended(d.window.get(), &shell::MainWindow::ended);
            QVERIFY(d.window->start());
            bySignal ? (void)raise(SIGTERM) : d.entry("PMNUend")->trigger();
            QTRY_COMPARE(ended.count(), 1);
            QVERIFY(!d.tray.shown && d.line.accounting().applications == 0);
        }
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
        QCOMPARE(first.tray.tips.last(), kReady);
        first.window.reset();  // the lock ends with the first instance
        Desktop third;
        QVERIFY(third.make().start());
    }

    // Settings but no mobile phone: the relay serves nobody, so it never
    // says it is ready, until a number is entered.
    void withoutAMobileNumberTheRelayStaysOffUntilOneIsEntered() {
        Desktop d;
        fs::remove(d.appDir / "tellmaro.mob");
        QVERIFY(d.make().start());
        QCOMPARE(d.tray.tips, QStringList({kStarting, kConfiguring}));
        const QString told =
            "Tellmaro Hinweis !!|Es ist keine Rufnummer des Handys eingetragen. Der Tellmaro "
            "bleibt deaktiviert, bis sie in den Einstellungen eingetragen ist!";
        QAction* active = d.entry("PMNUactive");
        visibleWindow("Options")->findChild<QPushButton*>("CancelButton")->click();
        QCOMPARE(d.messages.texts, QStringList{told});
        QCOMPARE(d.tray.tips.last(), kOff);
        QVERIFY(!active->isChecked());
        QCOMPARE(d.enabledEntries(), kAllEntries);

        active->trigger();  // refused the same way
        QCOMPARE(d.messages.texts, QStringList({told, told}));
        QVERIFY(!active->isChecked());
        QCOMPARE(d.tray.tips.last(), kOff);

        d.entry("PMNUset")->trigger();
        QWidget* options = visibleWindow("Options");
        options->findChild<QLineEdit*>("TXTmobile_number")->setText("01711234567");
        options->findChild<QPushButton*>("OKButton")->click();
        QCOMPARE(d.tray.tips.last(), kReady);
        QVERIFY(active->isChecked());
        QCOMPARE(d.messages.texts.size(), 2);
    }

    // Timer6 closes the splash, unless a key or a click on its frame did so
    // before; it fires once either way.
    void theSplashClosesByTimer6OrEarlierOnAKeyOrItsFrame_data() {
        QTest::addColumn<QString>("closedBy");
        QTest::newRow("Timer6") << "";
        QTest::newRow("key") << "key";
        QTest::newRow("frame") << "Frame1";
    }
    void theSplashClosesByTimer6OrEarlierOnAKeyOrItsFrame() {
        QFETCH(QString, closedBy);
        Desktop d;
        QVERIFY(d.make().start());
        QPointer<QWidget> splash = visibleWindow("frmSplash");
        QVERIFY(splash);
        QTimer* timer6 = d.window->splashTimer();
        QVERIFY(timer6->isActive());
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

    // Each entry opens its window behind the relay's suspension, and its "OK"
    // resumes the relay once; a refused listen request leaves the window empty.
    void eachWindowSuspendsTheRelayWhileOpen_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("suspended");  // the tray's tip while it is open
        const QString analysing = "Wegen CAPI-Analyse daktiviert";
        QTest::newRow("settings") << "PMNUset"
                                  << "Options" << false << kConfiguring;
        QTest::newRow("phone book") << "PMNUcalldir"
                                    << "FRMcalldir" << false << kConfiguring;
        QTest::newRow("analysis") << "PMNUcapi"
                                  << "FRMcapi" << false << analysing;
        QTest::newRow("settings, refused") << "PMNUset"
                                           << "Options" << true << "";
        QTest::newRow("phone book, refused") << "PMNUcalldir"
                                             << "FRMcalldir" << true << "";
        QTest::newRow("analysis, refused") << "PMNUcapi"
                                           << "FRMcapi" << true << "";
    }
    void eachWindowSuspendsTheRelayWhileOpen() {
        QFETCH(QString, entry);
        QFETCH(QString, window);
        QFETCH(bool, refused);
        QFETCH(QString, suspended);
        Desktop d;
        QVERIFY(d.make().start());
        d.tray.tips.clear();
        if (refused) {
            d.line.controller().failNextPut(0x1103);
        }
        d.entry(entry)->trigger();
        QCOMPARE(d.tray.tips.join(""), suspended);
        QCOMPARE(d.enabledEntries(), refused ? kAllEntries : kOnlyEnd);
        QWidget* opened = visibleWindow(window);
        QVERIFY(opened);
        QCOMPARE(showsSomething(opened), !refused);
        if (refused) {
            opened->close();
        } else {
            opened->findChild<QPushButton*>(window == "Options" ? "OKButton" : "BTNok")->click();
        }
        // Deleted on closing, which resumes nothing more.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(d.tray.tips, refused ? QStringList{kReady} : QStringList({suspended, kReady}));
        QCOMPARE(d.enabledEntries(), kAllEntries);
        // Each icon is the one loaded at start-up, not a copy per change.
        QCOMPARE(d.tray.icons.last(), d.tray.icons.at(1));
    }

    // The verdict icons are plain green and red squares here.
    void theAnalysisShowsTheCardsVerdict_data() {
        QTest::addColumn<int>("bChannels");
        QTest::addColumn<uint>("refused");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QColor>("light");
        QTest::newRow("two B channels and DTMF")
            << 2 << 0u
            << "Ihre ISDN-Karte unterstützt alle nötigen Parameter um den Tellmaro nutzen zu können"
            << QColor(Qt::green);
        QTest::newRow("one B channel") << 1 << 0u
                                       << "Ihre ISDN-Karte unterstützt leider nicht alle nötigen "
                                          "Parameter um den Tellmaro nutzen zu können"
                                       << QColor(Qt::red);
        // The report ends after the manufacturer, and the light stays unlit.
        QTest::newRow("profile refused") << 2 << 0x2002u << "" << QColor();
    }
    void theAnalysisShowsTheCardsVerdict() {
        QFETCH(int, bChannels);
        QFETCH(uint, refused);
        QFETCH(QString, verdict);
        QFETCH(QColor, light);
        Desktop d;
        for (const auto& [file, colour] :
             {std::pair{"trffc10a.ico", Qt::green}, std::pair{"trffc10c.ico", Qt::red}}) {
            QImage icon(32, 32, QImage::Format_ARGB32);
            icon.fill(colour);
            QVERIFY(icon.save(QFile::decodeName((d.appDir / file).c_str()), "ICO"));
        }
        d.checked.profile.emplace();
        capi::writeU16(*d.checked.profile, 0, 1);
        capi::writeU16(*d.checked.profile, 2, static_cast<uint16_t>(bChannels));
        capi::writeU32(*d.checked.profile, 4, 0x08);  // DTMF
        d.checked.profileResult = refused;
        QVERIFY(d.make().start());
        d.entry("PMNUcapi")->trigger();
        QWidget* window = visibleWindow("FRMcapi");
        QVERIFY(window);

        const QString report = window->findChild<QPlainTextEdit*>("text1")->toPlainText();
        QVERIFY2(report.contains("ISDN-Card Manufacturer: 1.0, Tellmaro line simulator"),
                 qPrintable(report));
        QCOMPARE(report.contains(QString("Number of supported B channels: %1\n").arg(bChannels)),
                 refused == 0);
        QCOMPARE(window->findChild<QLabel*>("LBLcompatible")->text(), verdict);
        const QColor shown =
            window->findChild<QLabel*>("IMGtrafficlight")->pixmap().toImage().pixelColor(16, 16);
        if (light.isValid()) {
            QCOMPARE(shown, light);
        } else {
            QVERIFY(shown.isValid() && shown != QColor(Qt::green) && shown != QColor(Qt::red));
            QVERIFY2(d.errorLog().find("CAPI-Fehler") != std::string::npos, d.errorLog().c_str());
        }
    }

    // The entry dialog is modal to the phone book window alone: the tray
    // host's window still takes clicks, and "&Ende", chosen while a message
    // of the dialog is open, ends everything.
    void theTrayMenuStaysReachableWhileTheEntryDialogIsOpen() {
        Desktop d;
        QSignalSpy ended(&d.make(), &shell::MainWindow::ended);
        QVERIFY(d.window->start());
        d.entry("PMNUcalldir")->trigger();
        QWidget* phoneBook = visibleWindow("FRMcalldir");
        QVERIFY(QTest::qWaitForWindowExposed(phoneBook));
        QTest::mouseClick(phoneBook->findChild<QPushButton*>("BTNnew"), Qt::LeftButton);
        QPointer<QWidget> entry = phoneBook->findChild<QWidget*>("DLGcalldata");
        QVERIFY(entry && QTest::qWaitForWindowExposed(entry));

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
            d.entry("PMNUend")->trigger();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        QTest::mouseClick(entry->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
        QCOMPARE(d.messages.texts.size(), 1);  // the empty entry's refusal
        QCOMPARE(ended.count(), 1);
        QVERIFY(!phoneBook->isVisible());
        QVERIFY(!entry || !entry->isVisible());
        QCOMPARE(d.line.accounting().applications, size_t{0});
    }

  private:
    QTemporaryDir runtimeDir;
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::DesktopTest)
#include "desktop_test.moc"
