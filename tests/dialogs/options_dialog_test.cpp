// The settings dialog on a live engine, driven as a user does; the rules of
// the number fields and their messages are tested in tests/data.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
#include <fstream>
#include <memory>

#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "dialogs/log_file_dialog.h"
#include "dialogs/options_dialog.h"
#include "tests/relay/engine_harness.h"

namespace data = tellmaro::data;
namespace fs = std::filesystem;

namespace {

// Answers the file dialog from a list; an exhausted list is a cancel.
class AnsweringFileDialog final : public tellmaro::dialogs::LogFileDialog {
  public:
    std::optional<QString> askForLogFile(QWidget*, const QString&) override {
        ++asked;
        return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst());
    }
    QStringList answers;
    int asked = 0;
};

constexpr const char* kMobile = "01711234567";

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

// A started engine whose settings and mobile number are stored, logging to
// "Handy.log" unless told otherwise, and the dialog on it.
struct Setup {
    explicit Setup(tellmaro::test::HarnessOptions options = {configured()})
        : h(std::move(options)) {
        (void)data::SaveMobileNumber(h.appDir, kMobile);
        h.startUp();
        before = stored();
    }
    // Shown and active, so that focus can be observed.
    void open() {
        dialog = std::make_unique<tellmaro::dialogs::Options>(h.engine, h.shell, files);
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog.get())) {
            qWarning("the dialog did not become active");
        }
    }
    template <typename Widget = QAbstractButton>
    Widget* control(const char* name) const {
        auto* widget = dialog->findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr) {
            qFatal("no control %s", name);
        }
        return widget;
    }
    void click(const char* name) const { control(name)->click(); }
    void type(const char* name, const char* text) const {
        control<QLineEdit>(name)->setText(QString::fromUtf8(text));
    }
    QString focused() const { return QApplication::focusWidget()->objectName(); }

    // What the user sees of the named controls, without their type prefix: a
    // chosen option button, a check box with its mark, a text box with its
    // text, the log file's label; "-" before a disabled control.
    QString seen(std::initializer_list<const char*> names = {
                     "RADstar_enter", "RADhash_enter", "CHKfile", "BTNclear_log", "LBLlog_file",
                     "RADtotal_esc", "RADpc_esc", "TXTown_number", "TXTmobile_number",
                     "TXTline_char", "CHKline", "TXTline_digits", "RADdirect_call",
                     "RADcall_back"}) const {
        QStringList parts;
        for (const char* name : names) {
            auto* widget = control<QWidget>(name);
            QString shown = QString(name).mid(3);
            if (auto* option = qobject_cast<QRadioButton*>(widget)) {
                if (!option->isChecked()) {
                    continue;
                }
            } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
                shown += check->isChecked() ? "[x]" : "[ ]";
            } else if (auto* text = qobject_cast<QLineEdit*>(widget)) {
                shown += "=" + text->text();
            } else if (auto* label = qobject_cast<QLabel*>(widget)) {
                shown = label->text();
            }
            parts << (widget->isEnabled() ? "" : "-") + shown;
        }
        return parts.join(' ');
    }
    // The message boxes shown since the last call, as "caption|text".
    QStringList shown() {
        QStringList texts;
        for (const auto& message : h.shell.messages) {
            texts << QString::fromStdString(message.caption + "|" + message.text);
        }
        h.shell.messages.clear();
        return texts;
    }
    data::SettingsRecord stored() const {
        return data::LoadSettings(h.appDir).settings.value_or(data::SettingsRecord{});
    }

    tellmaro::test::EngineHarness h;
    AnsweringFileDialog files;
    data::SettingsRecord before;  // as stored before the dialog opened
    std::unique_ptr<tellmaro::dialogs::Options> dialog;
};

}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void openingShowsTheStoredSettings() {
        data::SettingsRecord unset = configured();
        unset.starConfirms = unset.totalDisconnect = unset.callBack = false;
        unset.lineAccessEnabled = false;
        data::SettingsRecord longNumber = unset;
        longNumber.lineAccessChars.clear();
        longNumber.ownNumber = "01234567890123456789";
        longNumber.ownNumberLength = 25;
        const struct {
            data::SettingsRecord settings;
            bool logAndMobile;
            const char* seen;
        } rows[] = {
            {configured(), true,
             "star_enter file[x] clear_log Datei: Handy.log total_esc own_number=0711 "
             "mobile_number=01711234567 line_char=0 line[x] line_digits=5 call_back"},
            // Characters without automatic line access wait for the tick.
            {unset, false,
             "hash_enter file[ ] -clear_log -Datei:  pc_esc own_number=0711 mobile_number= "
             "line_char=0 line[ ] -line_digits= direct_call"},
            // Without characters there is nothing to switch on.
            {longNumber, false,
             "hash_enter file[ ] -clear_log -Datei:  pc_esc own_number=01234567890123456789 "
             "mobile_number= line_char= -line[ ] -line_digits= direct_call"},
        };
        for (const auto& row : rows) {
            Setup s({row.settings, kMobile, row.logAndMobile});
            if (!row.logAndMobile) {
                fs::remove(s.h.appDir / data::kMobileNumberFileName);
            }
            s.open();
            QCOMPARE(s.seen(), QString::fromUtf8(row.seen));
            QCOMPARE(s.files.asked, 0);  // a log file set from the settings is not asked for
            QVERIFY(s.shown().isEmpty());
        }
    }

    void theControlsFollowTheUser() {
        Setup s({configured(), kMobile, false});
        s.open();
        QCOMPARE(s.focused(), QString("OKButton"));
        QTest::keyClick(s.dialog.get(), Qt::Key_H, Qt::AltModifier);
        QCOMPARE(s.focused(), QString("TXTmobile_number"));
        // Each frame's two option buttons form a group of their own.
        s.click("RADhash_enter");
        s.click("RADpc_esc");
        QCOMPARE(s.seen({"RADstar_enter", "RADhash_enter", "RADtotal_esc", "RADpc_esc",
                         "RADdirect_call", "RADcall_back"}),
                 QString("hash_enter pc_esc call_back"));
        auto lineAccess = [&] { return s.seen({"TXTline_char", "CHKline", "TXTline_digits"}); };
        auto logFile = [&] { return s.seen({"CHKfile", "BTNclear_log", "LBLlog_file"}); };
        auto* chars = s.control<QLineEdit>("TXTline_char");
        s.click("CHKline");
        QCOMPARE(lineAccess(), QString("line_char=0 line[ ] -line_digits=5"));
        s.click("CHKline");
        QCOMPARE(lineAccess(), QString("line_char=0 line[x] line_digits=5"));
        chars->clear();  // disables the tick, and keeps it
        QCOMPARE(lineAccess(), QString("line_char= -line[x] -line_digits=5"));
        QTest::keyClicks(chars, "0*");
        QCOMPARE(lineAccess(), QString("line_char=0* line[x] line_digits=5"));
        s.click("CHKline");
        chars->clear();
        QTest::keyClicks(chars, "#");
        QCOMPARE(lineAccess(), QString("line_char=# line[ ] -line_digits=5"));
        s.click("CHKline");
        s.type("TXTline_digits", "");
        QTest::keyClicks(s.control<QLineEdit>("TXTline_digits"), "123");  // two characters at most
        QCOMPARE(lineAccess(), QString("line_char=# line[x] line_digits=12"));

        // Ticking asks for the file; unticking forgets it; a cancel takes the tick back.
        s.files.answers = {"/tmp/Protokolle/Mein.log"};
        s.click("CHKfile");
        QCOMPARE(logFile(), QString("file[x] clear_log Datei: Mein.log"));
        s.click("CHKfile");
        QCOMPARE(logFile(), QString("file[ ] -clear_log -Datei: "));
        s.click("CHKfile");
        QCOMPARE(logFile(), QString("file[ ] -clear_log -Datei: "));
        QCOMPARE(s.files.asked, 2);
        QVERIFY(s.shown().isEmpty());
    }

    void clearingTheLogDeletesTheStoredFile() {
        Setup s;
        const auto chosen = s.h.appDir / "Neu.log";
        std::ofstream(chosen) << "x";
        s.open();
        s.click("CHKfile");
        s.files.answers = {QString::fromStdString(chosen.string())};
        s.click("CHKfile");
        // The file in use goes, not the one chosen since opening.
        s.click("BTNclear_log");
        QVERIFY(!fs::exists(s.h.logFile) && fs::exists(chosen));
        s.click("BTNclear_log");  // nothing there is no failure
        QVERIFY(s.shown().isEmpty());
        fs::create_directories(s.h.logFile / "inside");
        s.click("BTNclear_log");
        QCOMPARE(s.shown(), QStringList{" Tellmaro Fehler !!|Die Log Datei konnte nicht gelöscht "
                                        "werden. Log Datei Erstellung wurde deaktiviert!"});
        QCOMPARE(s.seen({"CHKfile", "BTNclear_log"}), QString("file[ ] -clear_log"));
    }

    void okStoresEverythingAndHandsTheMobileNumberOver() {
        Setup s;
        s.open();
        for (const char* option : {"RADhash_enter", "RADpc_esc", "RADdirect_call"}) {
            s.click(option);
        }
        s.type("TXTline_char", "0*#");
        s.type("TXTline_digits", "12");
        s.type("TXTmobile_number", "0891234567");
        s.click("OKButton");
        QVERIFY(!s.dialog->isVisible());
        QVERIFY(s.shown().isEmpty());
        data::SettingsRecord expected = s.before;
        expected.starConfirms = expected.totalDisconnect = expected.callBack = false;
        expected.lineAccessChars = "0*#";
        expected.lineAccessDigits = 12;
        QCOMPARE(s.stored(), expected);
        QCOMPARE(s.h.engine.settings(), expected);
        QCOMPARE(data::LoadMobileNumber(s.h.appDir).number, std::string("0891234567"));

        // The relay now serves the new number only.
        auto oldPhone = s.h.addParty(kMobile);
        s.h.line.callPcAt(s.h.now() + std::chrono::seconds(1), oldPhone);
        s.h.runFor(std::chrono::seconds(2));
        QVERIFY(s.h.line.partyRecord(oldPhone).heard(tellmaro::exchange::PartyEvent::Rejected));
        s.h.line.callPcAt(s.h.now() + std::chrono::seconds(1), s.h.addParty("0891234567"));
        s.h.runFor(std::chrono::seconds(2));
        QVERIFY(s.h.phase() != tellmaro::relay::CallPhase::Idle);
    }

    // "OK" with the stored log file, without one, with a new one, and with
    // one that cannot be created: "OK" goes on then, and the relay tries the
    // file once more and gives up on logging.
    void okStoresTheLogFile() {
        const struct {
            int clicks;  // on "Erstelle Log Datei..."
            const char* chosen;
            const char* stored;
            QStringList shown;
        } rows[] = {
            {0, "", "Handy.log", {}},
            {1, "", "", {}},
            {2, "Neu.log", "Neu.log", {}},
            {2,
             "fehlt/Handy.log",
             "fehlt/Handy.log",
             {" Tellmaro Fehler !!|Die Log Datei kann an der angegebenen Stelle nicht erstellt "
              "werden!",
              " Tellmaro Fehler !!|Die Log Datei kann an der angegebenen Stelle nicht erstellt "
              "werden. Log Datei Erstellung wurde deaktiviert!"}},
        };
        for (const auto& row : rows) {
            Setup s;
            fs::remove(s.h.logFile);
            s.open();
            s.files.answers = {QString::fromStdString((s.h.appDir / row.chosen).string())};
            for (int i = 0; i < row.clicks; ++i) {
                s.click("CHKfile");
            }
            s.click("OKButton");
            QVERIFY(!s.dialog->isVisible());
            QCOMPARE(s.shown(), row.shown);
            const auto stored = s.stored();
            const bool logging = *row.stored != '\0' && row.shown.isEmpty();
            QCOMPARE(stored.logFilePath, *row.stored ? (s.h.appDir / row.stored).string() : "");
            QCOMPARE(stored.logFileName, fs::path(row.stored).filename().string());
            QCOMPARE(stored.logEnabled, logging);
            QCOMPARE(fs::is_regular_file(s.h.appDir / row.stored), logging);  // created by "OK"
            QCOMPARE(s.h.engine.callLog().isOpen(), logging);
        }
    }

    // A refusal of the shared rules shows its message and puts the focus in
    // its field; what came before it, the key here, is taken over already.
    // "Abbrechen" and Esc read the file back; the close box skips the checks
    // of both buttons and reads nothing.
    void aRefusedOkAndTheThreeWaysToCloseWithoutSaving() {
        const std::pair<std::string, const char*> rows[] = {
            {"CancelButton", "TXTown_number"},
            {"Esc", "TXTmobile_number"},
            {"close box", "TXTline_digits"},
        };
        for (const auto& [way, field] : rows) {
            Setup s;
            s.open();
            s.click("RADhash_enter");
            s.type(field, "1a");
            QTest::mouseClick(s.control("OKButton"), Qt::LeftButton);
            QCOMPARE(s.shown().size(), 1);
            QCOMPARE(s.focused(), QString(field));
            QVERIFY(s.dialog->isVisible());
            QVERIFY(!s.h.engine.settings().starConfirms);
            if (way == "Esc") {
                QTest::keyClick(s.dialog.get(), Qt::Key_Escape);
            } else if (way == "close box") {
                QVERIFY(s.dialog->close());
            } else {
                s.click(way.c_str());
            }
            QVERIFY(!s.dialog->isVisible());
            QVERIFY(s.shown().isEmpty());
            QCOMPARE(s.stored(), s.before);
            QCOMPARE(s.h.engine.settings().starConfirms, way != "close box");
        }
    }

    void abbrechenWhileUnconfiguredKeepsTheDialogOpen() {
        Setup s;
        fs::resize_file(s.h.appDir / data::kSettingsFileName, 0);
        s.open();
        s.click("CancelButton");
        QTest::keyClick(s.dialog.get(), Qt::Key_Escape);
        const QString text =
            " Tellmaro Fehler !!|Das Programm ist noch nicht Konfiguriert!\n\r"
            "Bitte stellen Sie die gewünschten Parameter ein!";
        QCOMPARE(s.shown(), (QStringList{text, text}));
        QVERIFY(s.dialog->isVisible());
        s.click("OKButton");  // confirming configures it
        QVERIFY(!s.dialog->isVisible());
        QVERIFY(data::LoadSettings(s.h.appDir).configured());
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
