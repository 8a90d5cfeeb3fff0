// The desktop program on the simulated line, used through the tray menu as a user does.
#include "desktop_harness.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;
using enum relay::StartUpOutcome;

// One way start-up goes: what differs from a configured program, and what the user saw.
struct StartUp {
    const char* what;
    void (*prepare)(Desktop&);
    relay::StartUpOutcome outcome;
    const char* tips;     // the tray's tool tips in order, separated by " / "
    const char* message;  // a part of the only message box's "caption|text"; "" for none
    bool menuLocked;      // only "&Ende" is enabled after the start
    void (*then)(Desktop&) = nullptr;
};

const char* const kReady = "Der Tellmaro wird gestartet / Tellmaro ist betriebsbereit";
const char* const kConfiguring =
    "Der Tellmaro wird gestartet / Wegen Konfiguration deaktiviert / Tellmaro ist betriebsbereit";

const StartUp kStartUps[] = {
    {"configured, the call log off and its file gone: nothing said; Timer6 closes the splash",
     [](Desktop&) {}, Running, kReady, "", false,
     [](Desktop& d) {
         QPointer<QWidget> splash = visibleWindow("frmSplash");
         QTimerEvent due(d.window->splashTimer()->timerId());
         QCoreApplication::sendEvent(d.window->splashTimer(), &due);
         QTRY_VERIFY(splash.isNull());
     }},
    {"a key closes the splash before Timer6", [](Desktop&) {}, Running, kReady, "", false,
     [](Desktop&) {
         QPointer<QWidget> splash = visibleWindow("frmSplash");
         QTest::keyClick(splash, Qt::Key_Space);
         QTRY_VERIFY(splash.isNull());
     }},
    {"a damaged mobile number, said, set aside, why in error.log: off until one is entered",
     [](Desktop& d) { std::ofstream(d.appDir / "tellmaro.mob") << "0171 1234"; }, Running,
     "Der Tellmaro wird gestartet / Wegen Konfiguration deaktiviert",
     "Die Datei tellmaro.mob ist beschädigt. Sie wurde als", true,
     [](Desktop& d) {
         act(visibleWindow("Options"), "CancelButton");
         d.entry("PMNUactive")->trigger();  // refused the same way
         QCOMPARE(d.messages.texts.filter("|Es ist keine Rufnummer des Handys").size(), 2);
         QVERIFY(!d.entry("PMNUactive")->isChecked() &&
                 d.tray.tips.last() == "Tellmaro ist deaktiviert");
         d.entry("PMNUset")->trigger();
         act(visibleWindow("Options"), "TXTmobile_number=01711234567 OKButton");
         QCOMPARE(d.tray.tips.last(), QString("Tellmaro ist betriebsbereit"));
         QVERIFY(d.entry("PMNUactive")->isChecked() && d.messages.texts.size() == 3 &&
                 d.errorLog().find("Ziffern der Handynummer") != std::string::npos);
     }},
    {"no driver", [](Desktop& d) { d.checked.found = false; }, Failed, "",
     "'libcapi20.so.3' ihrer ISDN-Karte wurde nicht gefunden!", false,
     [](Desktop& d) { QVERIFY(d.messages.texts.value(0).startsWith("splash:")); }},
    {"no tray: the program closes, and with it the splash, first",
     [](Desktop& d) { d.tray.available = false; }, TrayRefused, "",
     "nicht gesetzt werden\nUnter GNOME installieren Sie bitte das Paket "
     "gnome-shell-extension-appindicator",
     false, [](Desktop& d) { QVERIFY(!d.messages.texts.value(0).startsWith("splash:")); }},
    {"the driver check fails, the error report registers afresh: only \"&Ende\" is left",
     [](Desktop& d) { d.checked.failFirstCheck = true; }, Stopped,
     "Der Tellmaro wird gestartet / Tellmaro ist wegen eines CAPI-Fehlers nicht betriebsbereit", "",
     true,
     [](Desktop& d) {
         QVERIFY(!d.errorLog().empty());
         QVERIFY(!d.window->timers().timerEnabled(relay::TimerId::DispatcherPoll));  // no polls
         d.entry("PMNUend")->trigger();
         QCOMPARE(d.line.accounting().applications, size_t{0});
     }},
    {"a deleted call log turns logging off, in the file too",
     [](Desktop& d) {
         data::SettingsRecord settings = *data::LoadSettings(d.appDir).settings;
         settings.logEnabled = true;
         (void)data::SaveSettings(d.appDir, settings);
     },
     Running, kReady, "Log Datei wurde nicht gefunden! Log Datei Erstellung wurde deaktiviert!",
     false, [](Desktop& d) { QVERIFY(!data::LoadSettings(d.appDir).settings->logEnabled); }},
    {"unreadable settings: said, why in error.log, and the settings open as at a first start",
     [](Desktop& d) {
         fs::remove(d.appDir / "tellmaro.ini");
         fs::create_directory(d.appDir / "tellmaro.ini");
     },
     Running, kConfiguring, "kann nicht zugegriffen werden", true,
     [](Desktop& d) {
         QVERIFY(d.errorLog().find("tellmaro.ini") != std::string::npos &&
                 visibleWindow("Options"));
     }},
    {"\"&Ende\" during the message of damaged settings ends start-up, not in the settings",
     [](Desktop& d) {
         std::ofstream(d.appDir / "tellmaro.ini") << "damaged";
         d.messages.whileOpen = [&d] { d.window->shutdown(); };
     },
     EndRequested, "Der Tellmaro wird gestartet", "Einstellungen müssen neu eingegeben", false},
};

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void startUp() {
        for (const StartUp& expected : kStartUps) {
            qInfo("%s", expected.what);
            Desktop d;
            expected.prepare(d);
            QSignalSpy ended(&d.make(), &shell::MainWindow::ended);
            QVERIFY(d.window->start() == expected.outcome);
            QCOMPARE(d.tray.tips.join(" / "), QString(expected.tips));
            QCOMPARE(d.messages.texts.size(), *expected.message ? 1 : 0);
            QVERIFY2(d.messages.texts.join("").contains(QString::fromUtf8(expected.message)),
                     qPrintable(d.messages.texts.join("")));
            if (runsOn(expected.outcome)) {
                for (QAction* action : d.window->shell().menu().actions()) {
                    QVERIFY(action->isSeparator() ||
                            action->isEnabled() ==
                                (!expected.menuLocked || action->objectName() == "PMNUend"));
                }
                QCOMPARE(d.line.accounting().applications, size_t{1});
            } else {
                QVERIFY(ended.count() == 1 && d.line.accounting().applications == 0 &&
                        !d.tray.shown);
                QVERIFY(!visibleWindow("frmSplash") && !visibleWindow("Options") &&
                        !d.window->timers().timerEnabled(relay::TimerId::DispatcherPoll));
            }
            if (expected.then) {
                expected.then(d);
            }
        }
    }

    // A refused profile ends the report after the manufacturer, with no verdict.
    void theAnalysisShowsTheCardsVerdict() {
        const std::tuple<bool, uint32_t, const char*> rows[] = {
            {false, 0, "Ihre ISDN-Karte unterstützt alle nötigen Parameter"},
            {true, 0, "Ihre ISDN-Karte unterstützt leider nicht alle nötigen Parameter"},
            {false, 0x2002, ""}};
        for (const auto& [oneBChannel, refused, verdict] : rows) {
            Desktop d;
            d.checked.oneBChannel = oneBChannel;
            d.checked.profileResult = refused;
            QVERIFY(runsOn(d.make().start()));
            d.entry("PMNUcapi")->trigger();
            QWidget* window = visibleWindow("FRMcapi");
            const QString report = control<QPlainTextEdit>(window, "text1")->toPlainText();
            QVERIFY2(report.contains("Manufacturer: 1.0, Tellmaro line simulator") &&
                         report.contains("B channels:") == !refused,
                     qPrintable(report));
            const QString said = control<QLabel>(window, "LBLcompatible")->text();
            QCOMPARE(said.left(QString::fromUtf8(verdict).size()), QString::fromUtf8(verdict));
            QCOMPARE(d.errorLog().find("CAPI-Fehler") != std::string::npos, refused != 0);
        }
    }

    // The entry dialog is modal to the phone book alone: the tray takes clicks, "&Ende" ends all.
    void theTrayMenuStaysReachableWhileTheEntryDialogIsOpen() {
        Desktop d;
        QSignalSpy ended(&d.make(), &shell::MainWindow::ended);
        QVERIFY(runsOn(d.window->start()));
        d.entry("PMNUcalldir")->trigger();
        QWidget* phoneBook = visibleWindow("FRMcalldir");
        act(phoneBook, "BTNnew");
        QPointer<QWidget> entry = visibleWindow("DLGcalldata");
        QVERIFY(entry && QTest::qWaitForWindowExposed(entry));

        QPushButton trayHost;
        trayHost.show();
        QSignalSpy trayClicked(&trayHost, &QPushButton::clicked);
        QSignalSpy phoneBookOk(control(phoneBook, "BTNok"), &QPushButton::clicked);
        for (QWidget* widget :
             {static_cast<QWidget*>(&trayHost), control<QWidget>(phoneBook, "BTNok")}) {
            // Through the window system, where modality acts.
            QVERIFY(QTest::qWaitForWindowExposed(widget->window()));
            QTest::mouseClick(widget->window()->windowHandle(), Qt::LeftButton, {},
                              widget->mapTo(widget->window(), widget->rect().center()));
        }
        QVERIFY(trayClicked.count() == 1 && phoneBookOk.count() == 0);

        d.messages.whileOpen = [&] {
            d.entry("PMNUend")->trigger();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        act(entry, "OKButton");
        QCOMPARE(d.messages.texts.size(), 1);  // the empty entry's refusal
        QVERIFY(ended.count() == 1 && !phoneBook->isVisible() && (!entry || !entry->isVisible()));
        QCOMPARE(d.line.accounting().applications, size_t{0});
    }
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::DesktopTest)
#include "desktop_test.moc"
