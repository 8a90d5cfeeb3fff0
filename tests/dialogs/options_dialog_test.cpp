// The settings dialog on a live engine and the simulated line: what opening
// shows, the rules while it is open, each check of "OK" in its order, what
// "OK" and "Abbrechen" leave in the files, and how the relay is suspended
// and resumed around it.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
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

using tellmaro::dialogs::LogFileDialog;
using tellmaro::dialogs::Options;
namespace data = tellmaro::data;
namespace relay = tellmaro::relay;
namespace test = tellmaro::test;

namespace {

// Answers the file dialog from a list; an exhausted list is a cancel.
class AnsweringFileDialog final : public LogFileDialog {
  public:
    std::optional<QString> askForLogFile(QWidget*, const QString&) override {
        ++asked;
        if (answers.empty()) {
            return std::nullopt;
        }
        QString answer = answers.takeFirst();
        return answer;
    }

    QStringList answers;
    int asked = 0;
};

constexpr const char* kMobile = "01711234567";

struct Setup {
    explicit Setup(test::HarnessOptions options = {}) : h(std::move(options)) {
        (void)data::SaveMobileNumber(h.appDir, kMobile);
        h.startUp();
        h.shell.trays.clear();
    }

    // Opened, shown and active, so that focus can be observed.
    std::unique_ptr<Options> open() {
        auto dialog = std::make_unique<Options>(h.engine, h.shell, files);
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog.get())) {
            qWarning("the dialog did not become active");
        }
        return dialog;
    }

    std::vector<std::string> listenMasks() const {
        std::vector<std::string> masks;
        for (const auto& text : h.sent()) {
            if (text.starts_with("LISTEN_REQ")) {
                masks.push_back(text.substr(text.find("CIPMask=") + 8, 10));
            }
        }
        return masks;
    }

    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& message : h.shell.messages) {
            texts.push_back(message.text);
        }
        return texts;
    }

    data::SettingsRecord stored() const {
        return data::LoadSettings(h.appDir).settings.value_or(data::SettingsRecord{});
    }

    test::EngineHarness h;
    AnsweringFileDialog files;
};

template <typename Widget>
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
QAbstractButton* button(const QWidget& dialog, const char* name) {
    return control<QAbstractButton>(dialog, name);
}
QLabel* label(const QWidget& dialog, const char* name) {
    return control<QLabel>(dialog, name);
}

QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

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

// Valid input everywhere, so that one field at a time can be spoiled.
void fillValid(const QWidget& dialog) {
    box(dialog, "TXTown_number")->setText("0711555");
    box(dialog, "TXTmobile_number")->setText(kMobile);
    box(dialog, "TXTline_char")->setText("0");
    button(dialog, "CHKline")->setChecked(true);
    box(dialog, "TXTline_digits")->setText("4");
}

}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void windowArrangementAndKeys();
    void openingShowsTheStoredSettings();
    void openingShowsUnsetOptionsDisabled();
    void openingAndClosingSuspendAndResumeTheRelay();
    void aWindowDeletedOnCloseResumesOnce();
    void aFailedListenRequestSkipsTheRestOfTheOpening();
    void lineAccessRules();
    void logFileRules();
    void clearingTheLogActsOnTheStoredFile();
    void okChecksEachFieldInOrder();
    void okStoresTheOwnNumber_data();
    void okStoresTheOwnNumber();
    void okStoresEverythingAndHandsTheMobileNumberOver();
    void okWithLineAccessCharactersCleared();
    void okWithALogFileThatCannotBeCreated();
    void okWithoutAChosenFileKeepsTheStoredPath();
    void cancelRestoresTheFile();
    void cancelWhileUnconfiguredKeepsTheDialogOpen();
    void theWindowSystemsFileDialog();
};

void OptionsDialogTest::windowArrangementAndKeys() {
    Setup s;
    auto dialog = s.open();
    QCOMPARE(dialog->windowTitle(), q("Einstellungen"));
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());

    // Left column, right column, and the buttons side by side below both.
    const auto at = [&](const char* name) {
        auto* frame = control<QGroupBox>(*dialog, name);
        return QRect(frame->mapTo(dialog.get(), QPoint(0, 0)), frame->size());
    };
    QVERIFY(at("FMEok_esc").bottom() < at("FMElog_dat").top());
    QVERIFY(at("FMElog_dat").bottom() < at("FRMesc").top());
    QVERIFY(at("FMEnumber").bottom() < at("FRMmode").top());
    QVERIFY(at("FMEok_esc").right() < at("FMEnumber").left());
    QVERIFY(at("FRMesc").right() < at("FRMmode").left());
    auto* ok = button(*dialog, "OKButton");
    auto* cancel = button(*dialog, "CancelButton");
    QCOMPARE(ok->y(), cancel->y());
    QVERIFY(ok->x() < cancel->x());
    QVERIFY(ok->mapTo(dialog.get(), QPoint(0, 0)).y() > at("FRMmode").bottom());
    QVERIFY(ok->mapTo(dialog.get(), QPoint(0, 0)).y() > at("FRMesc").bottom());

    // "OK" is first in the tab order and has the focus on opening.
    QCOMPARE(QApplication::focusWidget(), ok);
    QTest::keyClick(ok, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cancel);

    // The labels' access keys lead into their boxes.
    QTest::keyClick(dialog.get(), Qt::Key_R, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), box(*dialog, "TXTown_number"));
    QTest::keyClick(dialog.get(), Qt::Key_H, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), box(*dialog, "TXTmobile_number"));

    // The two option buttons of a frame form one group, apart from the others.
    button(*dialog, "RADtotal_esc")->click();
    button(*dialog, "RADhash_enter")->click();
    QVERIFY(!button(*dialog, "RADstar_enter")->isChecked());
    QVERIFY(button(*dialog, "RADtotal_esc")->isChecked());
    button(*dialog, "RADpc_esc")->click();
    QVERIFY(!button(*dialog, "RADtotal_esc")->isChecked());
    QVERIFY(button(*dialog, "RADhash_enter")->isChecked());
    QVERIFY(button(*dialog, "RADdirect_call")->isChecked());
}

void OptionsDialogTest::openingShowsTheStoredSettings() {
    Setup s({configured()});
    auto dialog = s.open();

    QVERIFY(button(*dialog, "RADstar_enter")->isChecked());
    QVERIFY(!button(*dialog, "RADhash_enter")->isChecked());
    // Set from the settings, so the file dialog stays closed.
    QVERIFY(button(*dialog, "CHKfile")->isChecked());
    QCOMPARE(s.files.asked, 0);
    QCOMPARE(label(*dialog, "LBLlog_file")->text(), q("Datei: Handy.log"));
    QVERIFY(label(*dialog, "LBLlog_file")->isEnabled());
    QVERIFY(button(*dialog, "BTNclear_log")->isEnabled());
    QVERIFY(button(*dialog, "RADtotal_esc")->isChecked());
    QCOMPARE(box(*dialog, "TXTown_number")->text(), q("0711"));
    QCOMPARE(box(*dialog, "TXTmobile_number")->text(), q(kMobile));
    QCOMPARE(box(*dialog, "TXTline_char")->text(), q("0"));
    QVERIFY(button(*dialog, "CHKline")->isEnabled());
    QVERIFY(button(*dialog, "CHKline")->isChecked());
    QCOMPARE(box(*dialog, "TXTline_digits")->text(), q("5"));
    QVERIFY(box(*dialog, "TXTline_digits")->isEnabled());
    QVERIFY(label(*dialog, "LBLline_digits")->isEnabled());
    QVERIFY(button(*dialog, "RADcall_back")->isChecked());
    QVERIFY(s.h.shell.messages.empty());
}

void OptionsDialogTest::openingShowsUnsetOptionsDisabled() {
    for (const char* chars : {"", "0"}) {
        data::SettingsRecord settings = configured();
        settings.starConfirms = false;
        settings.totalDisconnect = false;
        settings.callBack = false;
        settings.lineAccessChars = chars;
        settings.lineAccessEnabled = false;
        Setup s({settings, kMobile, false});
        std::filesystem::remove(s.h.appDir / data::kMobileNumberFileName);
        auto dialog = s.open();

        QVERIFY(button(*dialog, "RADhash_enter")->isChecked());
        QVERIFY(!button(*dialog, "CHKfile")->isChecked());
        QCOMPARE(label(*dialog, "LBLlog_file")->text(), q("Datei: "));
        QVERIFY(!label(*dialog, "LBLlog_file")->isEnabled());
        QVERIFY(!button(*dialog, "BTNclear_log")->isEnabled());
        QVERIFY(button(*dialog, "RADpc_esc")->isChecked());
        QVERIFY(box(*dialog, "TXTmobile_number")->text().isEmpty());
        // Without characters there is nothing to switch on; with them the
        // check box waits to be ticked.
        QCOMPARE(button(*dialog, "CHKline")->isEnabled(), *chars != '\0');
        QVERIFY(!button(*dialog, "CHKline")->isChecked());
        QVERIFY(!box(*dialog, "TXTline_digits")->isEnabled());
        QVERIFY(!label(*dialog, "LBLline_digits")->isEnabled());
        QVERIFY(box(*dialog, "TXTline_digits")->text().isEmpty());
        QVERIFY(button(*dialog, "RADdirect_call")->isChecked());
    }
}

void OptionsDialogTest::openingAndClosingSuspendAndResumeTheRelay() {
    for (bool activated : {true, false}) {
        Setup s({configured()});
        s.h.shell.activated = activated;
        QVERIFY(s.h.engine.callLog().isOpen());
        auto dialog = s.open();

        QCOMPARE(s.listenMasks(), (std::vector<std::string>{"0x04010032", "0x00000000"}));
        QCOMPARE(s.h.shell.trays, std::vector<std::string>{"Wegen Konfiguration deaktiviert"});
        QVERIFY(!s.h.shell.menuEnabled);
        QVERIFY(!s.h.engine.callLog().isOpen());

        // The close box skips the checks of both buttons: nothing is taken
        // over, nothing is read back, and the relay comes back.
        box(*dialog, "TXTown_number")->clear();
        button(*dialog, "RADhash_enter")->click();
        const data::SettingsRecord before = s.h.engine.settings();
        QVERIFY(dialog->close());
        QVERIFY(!dialog->isVisible());
        QVERIFY(s.h.shell.messages.empty());
        QCOMPARE(s.h.engine.settings(), before);
        QVERIFY(s.h.shell.menuEnabled);
        QCOMPARE(s.h.engine.callLog().isOpen(), activated);
        std::vector<std::string> masks = {"0x04010032", "0x00000000"};
        if (activated) {
            masks.push_back("0x04010032");
        }
        QCOMPARE(s.listenMasks(), masks);
        QCOMPARE(s.h.shell.trays.back(), std::string(activated ? "Tellmaro ist betriebsbereit"
                                                               : "Tellmaro ist deaktiviert"));

        // Closing twice resumes once.
        dialog->close();
        QCOMPARE(s.listenMasks(), masks);
    }
}

void OptionsDialogTest::aWindowDeletedOnCloseResumesOnce() {
    // As the tray program keeps it: deleted when it closes.
    Setup s({configured()});
    QPointer<Options> dialog = new Options(s.h.engine, s.h.shell, s.files);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    button(*dialog, "OKButton")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
    QCOMPARE(s.listenMasks(), (std::vector<std::string>{"0x04010032", "0x00000000", "0x04010032"}));
    QCOMPARE(s.h.shell.trays, (std::vector<std::string>{"Wegen Konfiguration deaktiviert",
                                                        "Tellmaro ist betriebsbereit"}));
}

void OptionsDialogTest::aFailedListenRequestSkipsTheRestOfTheOpening() {
    Setup s({configured()});
    s.h.line.controller().failNextPut(0x1108);
    auto dialog = s.open();

    QVERIFY(!s.h.errorLogText().empty());  // the error report
    QVERIFY(s.h.shell.menuEnabled);
    QVERIFY(s.h.shell.trays.empty());
    QVERIFY(box(*dialog, "TXTown_number")->text().isEmpty());
    QVERIFY(box(*dialog, "TXTown_number")->toolTip().isEmpty());
    QVERIFY(!button(*dialog, "RADstar_enter")->isChecked());
    QVERIFY(!button(*dialog, "CHKfile")->isChecked());
}

void OptionsDialogTest::lineAccessRules() {
    Setup s({configured()});
    auto dialog = s.open();
    auto* line = button(*dialog, "CHKline");
    auto* chars = box(*dialog, "TXTline_char");
    auto* digits = box(*dialog, "TXTline_digits");
    auto* digitsLabel = label(*dialog, "LBLline_digits");

    line->click();
    QVERIFY(!digits->isEnabled() && !digitsLabel->isEnabled());
    line->click();
    QVERIFY(digits->isEnabled() && digitsLabel->isEnabled());

    // Clearing the characters disables all three but keeps the check mark.
    chars->clear();
    QVERIFY(!line->isEnabled() && !digits->isEnabled() && !digitsLabel->isEnabled());
    QVERIFY(line->isChecked());
    QTest::keyClicks(chars, "0*");
    QVERIFY(line->isEnabled() && digits->isEnabled() && digitsLabel->isEnabled());

    line->click();
    chars->clear();
    QTest::keyClicks(chars, "#");
    QVERIFY(line->isEnabled());
    QVERIFY(!digits->isEnabled() && !digitsLabel->isEnabled());

    // At most two characters for the count.
    line->click();
    digits->clear();
    QTest::keyClicks(digits, "123");
    QCOMPARE(digits->text(), q("12"));
}

void OptionsDialogTest::logFileRules() {
    Setup s({configured(), kMobile, false});
    auto dialog = s.open();
    auto* file = button(*dialog, "CHKfile");
    auto* clear = button(*dialog, "BTNclear_log");
    auto* fileLabel = label(*dialog, "LBLlog_file");

    s.files.answers = {q("/tmp/Protokolle/Mein.log")};
    file->click();
    QCOMPARE(s.files.asked, 1);
    QVERIFY(file->isChecked());
    QCOMPARE(fileLabel->text(), q("Datei: Mein.log"));
    QVERIFY(fileLabel->isEnabled() && clear->isEnabled());

    file->click();
    QCOMPARE(s.files.asked, 1);
    QCOMPARE(fileLabel->text(), q("Datei: "));
    QVERIFY(!fileLabel->isEnabled() && !clear->isEnabled());

    // Checking again asks again; a cancel takes the check mark back.
    file->click();
    QCOMPARE(s.files.asked, 2);
    QVERIFY(!file->isChecked());
    QCOMPARE(fileLabel->text(), q("Datei: "));
    QVERIFY(!fileLabel->isEnabled() && !clear->isEnabled());
    QVERIFY(s.h.shell.messages.empty());
}

void OptionsDialogTest::clearingTheLogActsOnTheStoredFile() {
    Setup s;
    const auto chosen = s.h.appDir / "Neu.log";
    std::ofstream(chosen) << "x";
    auto dialog = s.open();
    auto* file = button(*dialog, "CHKfile");

    file->click();
    s.files.answers = {QString::fromStdString(chosen.string())};
    file->click();
    QCOMPARE(label(*dialog, "LBLlog_file")->text(), q("Datei: Neu.log"));
    button(*dialog, "BTNclear_log")->click();
    QVERIFY(!std::filesystem::exists(s.h.logFile));
    QVERIFY(std::filesystem::exists(chosen));
    QVERIFY(file->isChecked());
    // Nothing there to delete is no failure.
    button(*dialog, "BTNclear_log")->click();
    QVERIFY(s.h.shell.messages.empty());

    // Something that cannot be deleted there.
    std::filesystem::create_directories(s.h.logFile / "inside");
    button(*dialog, "BTNclear_log")->click();
    QCOMPARE(s.messageTexts(),
             std::vector<std::string>{"Die Log Datei konnte nicht gelöscht werden. Log Datei "
                                      "Erstellung wurde deaktiviert!"});
    QCOMPARE(s.h.shell.messages[0].caption, std::string(relay::kErrorCaption));
    QVERIFY(s.h.shell.messages[0].icon == relay::MessageIcon::Critical);
    QVERIFY(!file->isChecked());
    QVERIFY(!button(*dialog, "BTNclear_log")->isEnabled());
}

void OptionsDialogTest::okChecksEachFieldInOrder() {
    Setup s({configured()});
    const auto fileBefore = s.stored();
    auto dialog = s.open();
    fillValid(*dialog);
    button(*dialog, "RADhash_enter")->click();
    button(*dialog, "RADpc_esc")->click();
    button(*dialog, "RADdirect_call")->click();

    struct Step {
        const char* field;
        const char* input;
        const char* message;
    };
    // Every field spoiled at once; each "OK" reports the first one still
    // wrong, and putting it right moves on to the next.
    const std::vector<Step> steps = {
        {"TXTown_number", "", "Bitte geben Sie die Rufnummer des Computers ein!"},
        {"TXTown_number", "0711 5", "Bitte geben Sie nur Ziffern als Rufnummer ein!"},
        {"TXTmobile_number", "", "Bitte geben Sie die Rufnummer des Handys ein!"},
        {"TXTmobile_number", "000", "Bitte geben Sie die Rufnummer des Handys ein!"},
        {"TXTmobile_number", "+49171", "Bitte geben Sie nur Ziffern als Handynummer ein!"},
        {"TXTline_char", "0,",
         "Bitte geben sie nur Zahlen oder * und # als Zeichen für die "
         "Amtsholung ein!"},
        {"TXTline_digits", "",
         "Bitte geben Sie ein, bis wieviel Zeichen keine automatische "
         "Amtsholung erfolgen soll!"},
        {"TXTline_digits", "1a",
         "Bitte geben Sie nur Zahlen in das Feld 'Anzahl der Zeichen für "
         "automatische Amtsholung' ein!"},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        // Later steps first, so that each field holds its earliest remaining input.
        fillValid(*dialog);
        for (size_t j = steps.size(); j-- > i;) {
            box(*dialog, steps[j].field)->setText(q(steps[j].input));
        }
        s.h.shell.messages.clear();
        QTest::mouseClick(button(*dialog, "OKButton"), Qt::LeftButton);

        QCOMPARE(s.messageTexts(), std::vector<std::string>{steps[i].message});
        QCOMPARE(s.h.shell.messages[0].caption, std::string(relay::kErrorCaption));
        QVERIFY(s.h.shell.messages[0].icon == relay::MessageIcon::Critical);
        QCOMPARE(QApplication::focusWidget(), box(*dialog, steps[i].field));
        QVERIFY(dialog->isVisible());
        QVERIFY(!s.h.shell.menuEnabled);
        QCOMPARE(s.stored(), fileBefore);
        if (i == 0) {
            // What came before the failed check is taken over, in memory only.
            QVERIFY(!s.h.engine.settings().starConfirms);
            QVERIFY(!s.h.engine.settings().totalDisconnect);
            QCOMPARE(s.h.engine.settings().ownNumberLength, uint8_t{4});
        }
    }
    s.h.shell.messages.clear();
    fillValid(*dialog);
    button(*dialog, "OKButton")->click();
    QVERIFY(s.h.shell.messages.empty());
    QVERIFY(!dialog->isVisible());
}

void OptionsDialogTest::okStoresTheOwnNumber_data() {
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("length");
    QTest::newRow("short") << q("0711") << QByteArray("07110000000000000000") << 4;
    QTest::newRow("longer than 20")
        << q("0123456789012345678901234") << QByteArray("01234567890123456789") << 25;
}

void OptionsDialogTest::okStoresTheOwnNumber() {
    QFETCH(QString, entered);
    QFETCH(QByteArray, stored);
    QFETCH(int, length);
    Setup s;
    {
        auto dialog = s.open();
        box(*dialog, "TXTown_number")->setText(entered);
        button(*dialog, "OKButton")->click();
        QVERIFY(!dialog->isVisible());
    }
    const data::SettingsRecord file = s.stored();
    QCOMPARE(QByteArray::fromStdString(file.ownNumber), stored);
    QCOMPARE(int{file.ownNumberLength}, length);

    auto again = s.open();
    QCOMPARE(box(*again, "TXTown_number")->text(), QString::fromLatin1(stored.left(length)));
}

void OptionsDialogTest::okStoresEverythingAndHandsTheMobileNumberOver() {
    Setup s({configured()});
    // An older, longer record must not leave bytes behind.
    data::SettingsRecord longer = configured();
    longer.logFilePath = std::string(300, 'x');
    QVERIFY(data::SaveSettings(s.h.appDir, longer).ok);
    auto dialog = s.open();
    const auto chosen = s.h.appDir / "Neu.log";
    s.files.answers = {QString::fromStdString(chosen.string())};
    button(*dialog, "CHKfile")->click();
    button(*dialog, "CHKfile")->click();
    button(*dialog, "RADhash_enter")->click();
    button(*dialog, "RADpc_esc")->click();
    box(*dialog, "TXTline_char")->setText("0*#");
    box(*dialog, "TXTline_digits")->setText("12");
    box(*dialog, "TXTmobile_number")->setText("0891234567");
    button(*dialog, "RADdirect_call")->click();
    button(*dialog, "OKButton")->click();
    QVERIFY(!dialog->isVisible());
    QVERIFY(s.h.shell.messages.empty());

    data::SettingsRecord expected = configured();
    expected.starConfirms = false;
    expected.logEnabled = true;
    expected.logFilePath = chosen.string();
    expected.logFileName = "Neu.log";
    expected.totalDisconnect = false;
    expected.lineAccessChars = "0*#";
    expected.lineAccessDigits = 12;
    expected.callBack = false;
    QCOMPARE(s.stored(), expected);
    QCOMPARE(s.h.engine.settings(), expected);
    QCOMPARE(std::filesystem::file_size(s.h.appDir / data::kSettingsFileName),
             38 + chosen.string().size() + 7 + 3);
    QVERIFY(std::filesystem::exists(chosen));
    const auto mobile = data::LoadMobileNumber(s.h.appDir);
    QCOMPARE(mobile.number, std::string("0891234567"));

    // Back on the line, the relay now serves the new number only.
    QCOMPARE(s.listenMasks().back(), std::string("0x04010032"));
    QVERIFY(s.h.engine.callLog().isOpen());
    auto oldPhone = s.h.addParty(kMobile);
    s.h.line.callPcAt(s.h.now() + std::chrono::seconds(1), oldPhone);
    s.h.runFor(std::chrono::seconds(2));
    QCOMPARE(s.h.line.partyRecord(oldPhone).count(tellmaro::exchange::PartyEvent::Rejected),
             size_t{1});
    auto newPhone = s.h.addParty("0891234567");
    s.h.line.callPcAt(s.h.now() + std::chrono::seconds(1), newPhone);
    s.h.runFor(std::chrono::seconds(2));
    QCOMPARE(s.h.line.partyRecord(newPhone).count(tellmaro::exchange::PartyEvent::Rejected),
             size_t{0});
    QVERIFY(s.h.phase() != relay::CallPhase::Idle);
}

void OptionsDialogTest::okWithLineAccessCharactersCleared() {
    Setup s({configured()});
    auto dialog = s.open();
    // Cleared while checked: the earlier switch stays, the count is still checked and stored.
    box(*dialog, "TXTline_char")->clear();
    box(*dialog, "TXTline_digits")->setText("7");
    button(*dialog, "OKButton")->click();
    QVERIFY(!dialog->isVisible());
    QVERIFY(s.stored().lineAccessEnabled);
    QVERIFY(s.stored().lineAccessChars.empty());
    QCOMPARE(int{s.stored().lineAccessDigits}, 7);

    auto again = s.open();
    box(*again, "TXTline_char")->setText("9");
    button(*again, "CHKline")->setChecked(false);
    box(*again, "TXTline_digits")->setText("x");  // not looked at when unchecked
    button(*again, "OKButton")->click();
    QVERIFY(!again->isVisible());
    QVERIFY(!s.stored().lineAccessEnabled);
    QCOMPARE(s.stored().lineAccessChars, std::string("9"));
}

void OptionsDialogTest::okWithALogFileThatCannotBeCreated() {
    Setup s({configured(), kMobile, false});
    auto dialog = s.open();
    const auto unreachable = s.h.appDir / "fehlt" / "Handy.log";
    s.files.answers = {QString::fromStdString(unreachable.string())};
    button(*dialog, "CHKfile")->click();
    button(*dialog, "OKButton")->click();

    // "OK" goes on; closing tries the file once more and then gives up on logging.
    QVERIFY(!dialog->isVisible());
    QCOMPARE(s.messageTexts(),
             (std::vector<std::string>{
                 "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden!",
                 "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden. Log Datei "
                 "Erstellung wurde deaktiviert!"}));
    QVERIFY(!button(*dialog, "CHKfile")->isChecked());
    QCOMPARE(s.stored().logFilePath, unreachable.string());
    QVERIFY(!s.stored().logEnabled);
    QVERIFY(!s.h.engine.callLog().isOpen());
}

void OptionsDialogTest::okWithoutAChosenFileKeepsTheStoredPath() {
    Setup s({configured()});
    std::filesystem::remove(s.h.logFile);
    {
        auto dialog = s.open();
        button(*dialog, "OKButton")->click();
        QVERIFY(!dialog->isVisible());
    }
    QCOMPARE(data::windows1252ToUtf8(s.stored().logFilePath), s.h.logFile.string());
    QCOMPARE(s.stored().logFileName, std::string("Handy.log"));
    QVERIFY(s.stored().logEnabled);
    QVERIFY(std::filesystem::exists(s.h.logFile));  // created by "OK"

    auto again = s.open();
    button(*again, "CHKfile")->click();
    button(*again, "OKButton")->click();
    QVERIFY(!s.stored().logEnabled);
    QVERIFY(s.stored().logFilePath.empty());
    QVERIFY(s.stored().logFileName.empty());
}

void OptionsDialogTest::cancelRestoresTheFile() {
    for (bool byEsc : {false, true}) {
        Setup s({configured()});
        const data::SettingsRecord before = s.stored();
        auto dialog = s.open();
        button(*dialog, "RADhash_enter")->click();
        box(*dialog, "TXTown_number")->setText("x");
        button(*dialog, "OKButton")->click();
        QVERIFY(!s.h.engine.settings().starConfirms);

        if (byEsc) {
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        } else {
            button(*dialog, "CancelButton")->click();
        }
        QVERIFY(!dialog->isVisible());
        QCOMPARE(s.h.engine.settings(), before);
        QCOMPARE(s.stored(), before);
        QVERIFY(s.h.shell.menuEnabled);
        QCOMPARE(s.listenMasks().back(), std::string("0x04010032"));
    }
}

void OptionsDialogTest::cancelWhileUnconfiguredKeepsTheDialogOpen() {
    Setup s;
    std::filesystem::resize_file(s.h.appDir / data::kSettingsFileName, 0);
    auto dialog = s.open();
    button(*dialog, "CancelButton")->click();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);

    const std::string text =
        "Das Programm ist noch nicht Konfiguriert!\n\rBitte stellen Sie die gewünschten Parameter "
        "ein!";
    QCOMPARE(s.messageTexts(), (std::vector<std::string>{text, text}));
    QCOMPARE(s.h.shell.messages[0].caption, std::string(relay::kErrorCaption));
    QVERIFY(s.h.shell.messages[0].icon == relay::MessageIcon::Critical);
    QVERIFY(dialog->isVisible());
    QVERIFY(!s.h.shell.menuEnabled);
    QCOMPARE(s.listenMasks().back(), std::string("0x00000000"));

    // Confirming configures it.
    button(*dialog, "OKButton")->click();
    QVERIFY(!dialog->isVisible());
    QVERIFY(data::LoadSettings(s.h.appDir).configured());
}

void OptionsDialogTest::theWindowSystemsFileDialog() {
    const QString folder = QDir::tempPath();
    const QString target = folder + q("/Handy.log");
    for (bool accept : {true, false}) {
        QStringList filters;
        QString proposed;
        bool asksBeforeOverwriting = true;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            filters = dialog->nameFilters();
            proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            asksBeforeOverwriting = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            mode = dialog->acceptMode();
            if (accept) {
                dialog->setDirectory(folder);
                dialog->selectFile(target);
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
        tellmaro::dialogs::QtLogFileDialog files;
        const std::optional<QString> chosen = files.askForLogFile(nullptr, {});

        QCOMPARE(filters,
                 (QStringList{q("Protokoll (*.log)"), q("Text (*.txt)"), q("Alle Dateien (*.*)")}));
        QCOMPARE(proposed, q("Handy.log"));
        QVERIFY(!asksBeforeOverwriting);
        QCOMPARE(mode, QFileDialog::AcceptSave);
        QCOMPARE(chosen.has_value(), accept);
        if (accept) {
            QCOMPARE(QFileInfo(*chosen).absoluteFilePath(), QFileInfo(target).absoluteFilePath());
        }
    }
}

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
