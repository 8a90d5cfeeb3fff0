// The settings dialog on a live engine, driven as a user does: what opening
// shows, how the controls follow the user, what "OK", "Abbrechen" and the
// close box leave in the files and the engine. The rules of the number
// fields and their messages are tested in tests/data/input_rules_test.cpp;
// the relay's suspension while a window is open in tests/desktop.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
#include "dialogs/log_file_dialog.h"
#include "dialogs/options_dialog.h"
#include "tests/relay/engine_harness.h"

using tellmaro::dialogs::Options;
namespace data = tellmaro::data;
namespace test = tellmaro::test;

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
    settings.starConfirms = true;
    settings.ownNumber = "07110000000000000000";
    settings.ownNumberLength = 4;
    settings.totalDisconnect = true;
    settings.lineAccessEnabled = true;
    settings.lineAccessDigits = 5;
    settings.lineAccessChars = "0";
    settings.callBack = true;
    return settings;
}

struct Setup {
    explicit Setup(test::HarnessOptions options = {configured()}) : h(std::move(options)) {
        (void)data::SaveMobileNumber(h.appDir, kMobile);
        h.startUp();
    }
    // Shown and active, so that focus can be observed.
    std::unique_ptr<Options> open() {
        auto dialog = std::make_unique<Options>(h.engine, h.shell, files);
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog.get())) {
            qWarning("the dialog did not become active");
        }
        return dialog;
    }
    // The message boxes shown so far, as "caption|text"; clears them.
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

    test::EngineHarness h;
    AnsweringFileDialog files;
};

template <typename Widget = QAbstractButton>
Widget* control(const QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}
QLineEdit* box(const QWidget& dialog, const char* name) {
    return control<QLineEdit>(dialog, name);
}

// What the user sees of the named controls, without their type prefix: a
// chosen option button, a check box with its mark, a text box with its text,
// the log file's label; "-" before a disabled control.
QString seen(const QWidget& dialog,
             std::initializer_list<const char*> names = {
                 "RADstar_enter", "RADhash_enter", "CHKfile", "BTNclear_log", "LBLlog_file",
                 "RADtotal_esc", "RADpc_esc", "TXTown_number", "TXTmobile_number", "TXTline_char",
                 "CHKline", "TXTline_digits", "RADdirect_call", "RADcall_back"}) {
    QStringList parts;
    for (const char* name : names) {
        auto* widget = control<QWidget>(dialog, name);
        QString shown = QString(name).mid(3);
        if (auto* option = qobject_cast<QRadioButton*>(widget); option && !option->isChecked()) {
            continue;
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
                std::filesystem::remove(s.h.appDir / data::kMobileNumberFileName);
            }
            auto dialog = s.open();
            QCOMPARE(seen(*dialog), QString::fromUtf8(row.seen));
            QCOMPARE(s.files.asked, 0);  // a log file set from the settings is not asked for
            QVERIFY(s.h.shell.messages.empty());
        }
    }

    void keysLeadToTheControls() {
        Setup s;
        auto dialog = s.open();
        QCOMPARE(QApplication::focusWidget(), control(*dialog, "OKButton"));
        QTest::keyClick(dialog.get(), Qt::Key_R, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), box(*dialog, "TXTown_number"));
        QTest::keyClick(dialog.get(), Qt::Key_H, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), box(*dialog, "TXTmobile_number"));
        // Each frame's two option buttons form a group of their own.
        control(*dialog, "RADhash_enter")->click();
        control(*dialog, "RADpc_esc")->click();
        QCOMPARE(seen(*dialog, {"RADstar_enter", "RADhash_enter", "RADtotal_esc", "RADpc_esc",
                                "RADdirect_call", "RADcall_back"}),
                 QString("hash_enter pc_esc call_back"));
    }

    void theControlsFollowTheUser() {
        Setup s({configured(), kMobile, false});
        auto dialog = s.open();
        auto* line = control(*dialog, "CHKline");
        auto* chars = box(*dialog, "TXTline_char");
        auto* digits = box(*dialog, "TXTline_digits");
        auto* file = control(*dialog, "CHKfile");
        const auto lineAccess = [&] {
            return seen(*dialog, {"TXTline_char", "CHKline", "TXTline_digits"});
        };
        const auto logFile = [&] {
            return seen(*dialog, {"CHKfile", "BTNclear_log", "LBLlog_file"});
        };

        line->click();
        QCOMPARE(lineAccess(), QString("line_char=0 line[ ] -line_digits=5"));
        line->click();
        QCOMPARE(lineAccess(), QString("line_char=0 line[x] line_digits=5"));
        chars->clear();  // disables the tick, and keeps it
        QCOMPARE(lineAccess(), QString("line_char= -line[x] -line_digits=5"));
        QTest::keyClicks(chars, "0*");
        QCOMPARE(lineAccess(), QString("line_char=0* line[x] line_digits=5"));
        line->click();
        chars->clear();
        QTest::keyClicks(chars, "#");
        QCOMPARE(lineAccess(), QString("line_char=# line[ ] -line_digits=5"));
        line->click();
        digits->clear();
        QTest::keyClicks(digits, "123");  // two characters at most
        QCOMPARE(lineAccess(), QString("line_char=# line[x] line_digits=12"));

        // Ticking asks for the file; unticking forgets it; a cancel takes the tick back.
        s.files.answers = {"/tmp/Protokolle/Mein.log"};
        file->click();
        QCOMPARE(logFile(), QString("file[x] clear_log Datei: Mein.log"));
        file->click();
        QCOMPARE(logFile(), QString("file[ ] -clear_log -Datei: "));
        file->click();
        QCOMPARE(logFile(), QString("file[ ] -clear_log -Datei: "));
        QCOMPARE(s.files.asked, 2);
        QVERIFY(s.h.shell.messages.empty());
    }

    void clearingTheLogDeletesTheStoredFile() {
        Setup s;
        const auto chosen = s.h.appDir / "Neu.log";
        std::ofstream(chosen) << "x";
        auto dialog = s.open();
        auto* file = control(*dialog, "CHKfile");
        file->click();
        s.files.answers = {QString::fromStdString(chosen.string())};
        file->click();
        // The file in use goes, not the one chosen since opening.
        control(*dialog, "BTNclear_log")->click();
        QVERIFY(!std::filesystem::exists(s.h.logFile));
        QVERIFY(std::filesystem::exists(chosen));
        control(*dialog, "BTNclear_log")->click();  // nothing there is no failure
        QVERIFY(s.shown().isEmpty());

        std::filesystem::create_directories(s.h.logFile / "inside");
        control(*dialog, "BTNclear_log")->click();
        QCOMPARE(s.shown(), QStringList{" Tellmaro Fehler !!|Die Log Datei konnte nicht gelöscht "
                                        "werden. Log Datei Erstellung wurde deaktiviert!"});
        QCOMPARE(seen(*dialog, {"CHKfile", "BTNclear_log"}), QString("file[ ] -clear_log"));
    }

    // A refusal of the shared rules: its message, the focus in its field, the
    // dialog still open and the file as it was.
    void okRefusesWithAMessageAndTheFieldFocused() {
        for (const char* field : {"TXTown_number", "TXTline_digits"}) {
            Setup s;
            const auto before = s.stored();
            auto dialog = s.open();
            box(*dialog, field)->setText("1a");
            QTest::mouseClick(control(*dialog, "OKButton"), Qt::LeftButton);
            QCOMPARE(s.shown().size(), 1);
            QCOMPARE(QApplication::focusWidget(), box(*dialog, field));
            QVERIFY(dialog->isVisible());
            QCOMPARE(s.stored(), before);
        }
    }

    void okStoresEverythingAndHandsTheMobileNumberOver() {
        Setup s;
        const auto before = s.stored();
        auto dialog = s.open();
        control(*dialog, "RADhash_enter")->click();
        control(*dialog, "RADpc_esc")->click();
        control(*dialog, "RADdirect_call")->click();
        box(*dialog, "TXTline_char")->setText("0*#");
        box(*dialog, "TXTline_digits")->setText("12");
        box(*dialog, "TXTmobile_number")->setText("0891234567");
        control(*dialog, "OKButton")->click();
        QVERIFY(!dialog->isVisible());
        QVERIFY(s.shown().isEmpty());

        data::SettingsRecord expected = before;
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
            std::filesystem::remove(s.h.logFile);
            auto dialog = s.open();
            s.files.answers = {QString::fromStdString((s.h.appDir / row.chosen).string())};
            for (int i = 0; i < row.clicks; ++i) {
                control(*dialog, "CHKfile")->click();
            }
            control(*dialog, "OKButton")->click();
            QVERIFY(!dialog->isVisible());
            QCOMPARE(s.shown(), row.shown);
            const auto stored = s.stored();
            const bool logging = *row.stored != '\0' && row.shown.isEmpty();
            QCOMPARE(stored.logFilePath, *row.stored ? (s.h.appDir / row.stored).string() : "");
            QCOMPARE(stored.logFileName, std::filesystem::path(row.stored).filename().string());
            QCOMPARE(stored.logEnabled, logging);
            QCOMPARE(std::filesystem::is_regular_file(s.h.appDir / row.stored), logging);
            QCOMPARE(s.h.engine.callLog().isOpen(), logging);
        }
    }

    // A refused "OK" has taken the key over; "Abbrechen" and Esc read the file
    // back, the close box skips the checks of both buttons and reads nothing.
    void theThreeWaysToCloseWithoutSaving() {
        for (const char* way : {"CancelButton", "Esc", "close box"}) {
            Setup s;
            const auto before = s.stored();
            auto dialog = s.open();
            control(*dialog, "RADhash_enter")->click();
            box(*dialog, "TXTown_number")->setText("x");
            control(*dialog, "OKButton")->click();
            QCOMPARE(s.shown().size(), 1);
            if (way == std::string("Esc")) {
                QTest::keyClick(dialog.get(), Qt::Key_Escape);
            } else if (way == std::string("close box")) {
                QVERIFY(dialog->close());
            } else {
                control(*dialog, way)->click();
            }
            QVERIFY(!dialog->isVisible());
            QVERIFY(s.shown().isEmpty());
            QCOMPARE(s.stored(), before);
            QCOMPARE(s.h.engine.settings().starConfirms, way != std::string("close box"));
        }
    }

    void abbrechenWhileUnconfiguredKeepsTheDialogOpen() {
        Setup s;
        std::filesystem::resize_file(s.h.appDir / data::kSettingsFileName, 0);
        auto dialog = s.open();
        control(*dialog, "CancelButton")->click();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        const QString text =
            " Tellmaro Fehler !!|Das Programm ist noch nicht Konfiguriert!\n\rBitte stellen Sie "
            "die "
            "gewünschten Parameter ein!";
        QCOMPARE(s.shown(), (QStringList{text, text}));
        QVERIFY(dialog->isVisible());

        control(*dialog, "OKButton")->click();  // confirming configures it
        QVERIFY(!dialog->isVisible());
        QVERIFY(data::LoadSettings(s.h.appDir).configured());
    }

    void theWindowSystemsFileDialog() {
        const QString target = QDir::tempPath() + "/Handy.log";
        for (bool accept : {true, false}) {
            QString asked;
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (dialog == nullptr) {
                    return;
                }
                // Save mode without a question before reusing a file, "Handy.log" proposed.
                asked = dialog->nameFilters().join(';') + " " +
                        QFileInfo(dialog->selectedFiles().value(0)).fileName() +
                        (dialog->acceptMode() == QFileDialog::AcceptSave ? " save" : " open") +
                        (dialog->testOption(QFileDialog::DontConfirmOverwrite) ? "" : " confirms");
                if (accept) {
                    dialog->setDirectory(QDir::tempPath());
                    dialog->selectFile(target);
                    static_cast<QDialog*>(dialog)->accept();
                } else {
                    dialog->reject();
                }
            });
            const auto chosen = tellmaro::dialogs::QtLogFileDialog().askForLogFile(nullptr, {});
            QCOMPARE(asked,
                     QString("Protokoll (*.log);Text (*.txt);Alle Dateien (*.*) Handy.log save"));
            QCOMPARE(chosen.has_value(), accept);
            if (accept) {
                QCOMPARE(QFileInfo(*chosen).absoluteFilePath(),
                         QFileInfo(target).absoluteFilePath());
            }
        }
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
