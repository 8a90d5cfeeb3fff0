// The settings dialog on a live engine, driven as a user does; the rules of
// the number fields and their messages are tested in tests/data.
#include "dialogs/options_dialog.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "engine_harness.h"
#include "window_steps.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

data::SettingsRecord configured() {
    data::SettingsRecord settings;
    settings.starConfirms = settings.totalDisconnect = settings.callBack = true;
    settings.ownNumber = "07110000000000000000";
    settings.ownNumberLength = 4;
    settings.lineAccessEnabled = true;
    settings.lineAccessDigits = 5;
    settings.lineAccessChars = "0";
    return settings;
}

// A started engine with stored settings and mobile number, and the dialog on it.
struct Setup {
    Setup() : h({configured()}) {
        h.startUp();
        before = stored();
    }
    void open() {  // shown and active, so that focus can be observed
        dialog = std::make_unique<dialogs::Options>(h.engine, h.store, h.shell, files);
        dialog->show();
        dialog->activateWindow();
        (void)QTest::qWaitForWindowActive(dialog.get());
    }
    data::SettingsRecord stored() const {
        return data::LoadSettings(h.appDir).settings.value_or(data::SettingsRecord{});
    }

    EngineHarness h;
    AnsweringFileDialog files;
    data::SettingsRecord before;  // as stored before the dialog opened
    std::unique_ptr<dialogs::Options> dialog;
};

}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    // "OK" stores every control, so what was stored comes back only if it showed.
    void whatIsStoredShowsAndOkStoresWhatIsEntered() {
        Setup s;
        s.open();
        QCOMPARE(control<QLabel>(s.dialog.get(), "LBLlog_file")->text(),
                 QString("Datei: Handy.log"));
        act(s.dialog.get(), "OKButton");
        QCOMPARE(s.stored(), s.before);  // the log file too: none was asked for, none given
        s.open();
        act(s.dialog.get(),
            "RADhash_enter RADpc_esc RADdirect_call TXTline_char=0*# TXTline_digits=12 "
            "TXTmobile_number=0891234567 OKButton");
        QVERIFY(!s.dialog->isVisible() && s.h.shell.messages.empty());
        data::SettingsRecord expected = s.before;
        expected.starConfirms = expected.totalDisconnect = expected.callBack = false;
        expected.lineAccessChars = "0*#";
        expected.lineAccessDigits = 12;
        QCOMPARE(s.stored(), expected);
        QCOMPARE(data::LoadMobileNumber(s.h.appDir).number, std::string("0891234567"));
    }

    // "OK" creates the log file; one that cannot be created is said twice, as the relay tries
    // once more and gives up on logging.
    void okStoresTheLogFile() {
        const std::tuple<const char*, const char*, size_t> rows[] = {
            {"OKButton", "Handy.log", 0},
            {"CHKfile OKButton", "", 0},
            {"CHKfile CHKfile OKButton", "Neu.log", 0},  // the file is chosen on the second
            {"CHKfile CHKfile OKButton", "fehlt/Handy.log", 2},
        };
        for (const auto& [steps, file, messages] : rows) {
            Setup s;
            fs::remove(s.h.logFile);
            s.files.answers << QString::fromStdString((s.h.appDir / file).string());
            s.open();
            act(s.dialog.get(), steps);
            QVERIFY(!s.dialog->isVisible());
            QCOMPARE(s.h.shell.messages.size(), messages);
            const auto stored = s.stored();
            const bool logging = *file != '\0' && !messages;
            QCOMPARE(stored.logFilePath, *file ? (s.h.appDir / file).string() : "");
            QCOMPARE(stored.logFileName, fs::path(file).filename().string());
            QCOMPARE(stored.logEnabled, logging);
            QCOMPARE(fs::is_regular_file(s.h.appDir / file), logging);
            QCOMPARE(s.h.store.callLog().isOpen(), logging);
        }
    }

    // A refusal focuses its field, keeping what came before it (the key); "Abbrechen" and Esc
    // read the file back, the close box skips both buttons' checks and reads nothing.
    void aRefusedOkAndTheThreeWaysToCloseWithoutSaving() {
        const std::pair<const char*, const char*> rows[] = {
            {"CancelButton", "TXTown_number"},
            {"Esc", "TXTmobile_number"},
            {"close", "TXTline_digits"},
        };
        for (const auto& [way, field] : rows) {
            Setup s;
            s.open();
            act(s.dialog.get(), QString("RADhash_enter %1=1a OKButton").arg(field));
            QCOMPARE(s.h.shell.messages.size(), size_t{1});
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(field));
            QVERIFY(s.dialog->isVisible() && !s.h.store.settings().starConfirms);
            act(s.dialog.get(), way);
            QVERIFY(!s.dialog->isVisible() && s.h.shell.messages.size() == 1);
            QCOMPARE(s.stored(), s.before);
            QCOMPARE(s.h.store.settings().starConfirms, QString(way) != "close");
        }
    }
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::OptionsDialogTest)
#include "options_dialog_test.moc"
