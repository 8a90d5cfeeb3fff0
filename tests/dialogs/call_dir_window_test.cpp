// The phone book window and its entry dialog on a live engine: the entry
// checks in their order, adding, changing and deleting, Ok and Abbrechen
// against "tellmaro.dir", and the relay suspended while the window is open.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <fstream>
#include <iterator>
#include <memory>

#include "data/call_dir_file.h"
#include "data/windows1252.h"
#include "dialogs/call_data_dialog.h"
#include "dialogs/call_dir_window.h"
#include "engine_harness.h"

using tellmaro::data::CallDirEntry;
using tellmaro::data::PhoneBook;
using tellmaro::dialogs::CallDataDialog;
using tellmaro::dialogs::CallDirWindow;
using tellmaro::test::EngineHarness;

namespace {

const QString kNone;  // no message expected

PhoneBook bookOf(std::initializer_list<CallDirEntry> entries) {
    PhoneBook book;
    for (const auto& entry : entries) {
        [[maybe_unused]] bool added = book.append(entry);
    }
    return book;
}

// A started engine whose "tellmaro.dir" holds `entries` before start-up.
std::unique_ptr<EngineHarness> startWith(std::initializer_list<CallDirEntry> entries) {
    auto h = std::make_unique<EngineHarness>();
    if (entries.size() > 0) {
        auto saved = tellmaro::data::SaveCallDir(h->appDir, bookOf(entries));
        if (!saved.ok) {
            qFatal("%s", saved.error.c_str());
        }
    }
    h->startUp();
    h->shell.trays.clear();
    return h;
}

QByteArray fileBytes(const EngineHarness& h) {
    std::ifstream in(h.appDir / tellmaro::data::kCallDirFileName, std::ios::binary);
    return QByteArray::fromStdString(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

QStringList listenMasks(const EngineHarness& h) {
    QStringList masks;
    for (const auto& text : h.sent()) {
        if (text.starts_with("LISTEN_REQ")) {
            masks << QString::fromStdString(text.substr(text.find("CIPMask=") + 8, 10));
        }
    }
    return masks;
}

QStringList gridRows(const QTableWidget* grid) {
    QStringList rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid->columnCount(); ++c) {
            cells << (grid->item(r, c) ? grid->item(r, c)->text() : QStringLiteral("?"));
        }
        rows << cells.join(u'|');
    }
    return rows;
}

// Answers every entry dialog the window opens by typing and pressing OK.
void answerWith(CallDirWindow& window, QString code, QString number, QString comment = {}) {
    window.setEntryDialogRunner([=](CallDataDialog& dialog) {
        dialog.shortdialBox()->setText(code);
        dialog.numberBox()->setText(number);
        dialog.commentBox()->setText(comment);
        dialog.okButton()->click();
    });
}

}  // namespace

class CallDirWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void editModeShowsTheEntryAndCancelChangesNothing();
    void entryRules_data();
    void entryRules();
    void emptyBookThenNewAndOkAddsTheFirstEntry();
    void deletingMovesLaterEntriesUpAndOnlyOkWritesTheFile();
    void deletingTheOnlyEntryAndOkWritesAnEmptyBook();
    void cancelRestoresTheListFromTheFile();
    void openingAndClosingSuspendAndResumeTheRelay();
    void closingWhenDeactivatedLeavesTheRelayOff();
    void aFailedSaveIsReportedAndKeepsTheOldFile();
};

void CallDirWindowTest::editModeShowsTheEntryAndCancelChangesNothing() {
    auto h = startWith({{"7", "*31#0815", "\xc4rztin"}});
    CallDataDialog fresh(h->engine.phoneBook(), h->shell, 0);
    QCOMPARE(fresh.titleLabel()->text(), QStringLiteral("Bitte geben Sie die neuen Daten ein"));
    QVERIFY(fresh.shortdialBox()->text().isEmpty());

    CallDataDialog change(h->engine.phoneBook(), h->shell, 1);
    QCOMPARE(change.titleLabel()->text(),
             QStringLiteral("Bitte machen Sie die gewünschten Änderungen"));
    QCOMPARE(change.shortdialBox()->text(), QStringLiteral("7"));
    QCOMPARE(change.numberBox()->text(), QStringLiteral("*31#0815"));
    QCOMPARE(change.commentBox()->text(), QStringLiteral("Ärztin"));

    const PhoneBook before = h->engine.phoneBook();
    change.show();
    change.shortdialBox()->setText(QStringLiteral("8"));
    QTest::keyClick(&change, Qt::Key_Escape);
    QCOMPARE(change.result(), int(QDialog::Rejected));
    fresh.shortdialBox()->setText(QStringLiteral("9"));
    fresh.numberBox()->setText(QStringLiteral("9"));
    fresh.cancelButton()->click();
    QCOMPARE(fresh.result(), int(QDialog::Rejected));
    QVERIFY(h->engine.phoneBook() == before);
}

// Each row types one entry and presses OK in a book with the codes 11 and
// 22: editIndex 0 adds, 1 changes the entry with code 11.
void CallDirWindowTest::entryRules_data() {
    QTest::addColumn<int>("editIndex");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");

    const QString codeBox = "TXTBshortdial";
    const QString numberBox = "TXTBnumber";
    const QString commentBox = "TXTBcomment";
    const QString rule1 = "Bitte geben Sie mindestens ein Kurzwahlzeichen ein!";
    const QString rule2 = "Bitte geben Sie nur Ziffern als Kurzwahl ein!";
    const QString rule3 = "Bitte geben Sie nicht mehr als 20 Kurzwahlziffern ein!";
    const QString rule4 = "Die eingegebene Kurzwahl existiert bereits!";
    const QString rule5 = "Bitte geben Sie die mit der Kurzwahl verbundene Rufnummer ein";
    const QString rule6 = "Bitte geben Sie nur Ziffern, * und # als Rufnummer ein!";
    const QString rule7 = "Bitte geben Sie nicht mehr als 20 Zeichen als Telefonnummer ein!";
    const QString digits20 = "12345678901234567890";

    QTest::newRow("empty code and number: rule 1 only") << 0 << ""
                                                        << ""
                                                        << "" << rule1 << codeBox;
    QTest::newRow("digits and a letter") << 0 << "12a"
                                         << "5"
                                         << "" << rule2 << codeBox;
    QTest::newRow("a leading blank is not trimmed") << 0 << " 12"
                                                    << "5"
                                                    << "" << rule2 << codeBox;
    QTest::newRow("a digit of another script") << 0 << "1\u0663"
                                               << "5"
                                               << "" << rule2 << codeBox;
    QTest::newRow("21 digits") << 0 << digits20 + "1"
                               << "5"
                               << "" << rule3 << codeBox;
    QTest::newRow("21 characters with a letter: rule 2, not 3") << 0 << digits20 + "x"
                                                                << "5"
                                                                << "" << rule2 << codeBox;
    QTest::newRow("a new entry with an existing code") << 0 << "22"
                                                       << "5"
                                                       << "" << rule4 << codeBox;
    QTest::newRow("a changed entry given another's code") << 1 << "22"
                                                          << "5"
                                                          << "" << rule4 << codeBox;
    QTest::newRow("a prefix of a code is another code") << 0 << "2"
                                                        << "5"
                                                        << "" << kNone << "";
    QTest::newRow("a changed entry keeping its own code") << 1 << "11"
                                                          << "5"
                                                          << "" << kNone << "";
    QTest::newRow("no number") << 0 << "33"
                               << ""
                               << "" << rule5 << numberBox;
    QTest::newRow("a blank between the digits") << 0 << "33"
                                                << "12 34"
                                                << "" << rule6 << numberBox;
    QTest::newRow("a plus sign") << 0 << "33"
                                 << "+4930"
                                 << "" << rule6 << numberBox;
    QTest::newRow("21 characters") << 0 << "33"
                                   << "*" + digits20 << "" << rule7 << numberBox;
    QTest::newRow("star, hash and digits") << 0 << "33"
                                           << "*31#0815"
                                           << "" << kNone << "";
    QTest::newRow("everything at its limit fills the record")
        << 0 << digits20 << "#" + digits20.left(19) << QString(82, u'ü') << kNone << "";
    QTest::newRow("one comment character too many")
        << 0 << digits20 << digits20 << QString(83, u'x')
        << "Bitte geben Sie nicht mehr als 82 Zeichen als Bemerkung ein!" << commentBox;
    QTest::newRow("the room for the comment grows as code and number shrink")
        << 0 << "3"
        << "4" << QString(121, u'x')
        << "Bitte geben Sie nicht mehr als 120 Zeichen als Bemerkung ein!" << commentBox;
    QTest::newRow("a comment the code page cannot hold")
        << 0 << "33"
        << "4"
        << "Haken \u2713"
        << "Die Bemerkung enthält Zeichen, die nicht gespeichert werden können!" << commentBox;
}

void CallDirWindowTest::entryRules() {
    QFETCH(int, editIndex);
    QFETCH(QString, code);
    QFETCH(QString, number);
    QFETCH(QString, comment);
    QFETCH(QString, message);
    QFETCH(QString, focus);

    auto h = startWith({{"11", "111", "eins"}, {"22", "222", ""}});
    const PhoneBook before = h->engine.phoneBook();
    CallDataDialog dialog(h->engine.phoneBook(), h->shell, static_cast<int16_t>(editIndex));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    bool stored = false;
    connect(&dialog, &CallDataDialog::entryStored, this, [&] { stored = true; });
    dialog.shortdialBox()->setText(code);
    dialog.numberBox()->setText(number);
    dialog.commentBox()->setText(comment);
    dialog.okButton()->setFocus();
    dialog.okButton()->click();

    if (message.isEmpty()) {
        QVERIFY(h->shell.messages.empty());
        QVERIFY(stored);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const int16_t index = editIndex != 0 ? static_cast<int16_t>(editIndex) : 3;
        QCOMPARE(h->engine.phoneBook().callDirCount(), editIndex != 0 ? 2 : 3);
        const CallDirEntry& entry = h->engine.phoneBook().callDir()[static_cast<size_t>(index)];
        QCOMPARE(QString::fromStdString(entry.shortdial), code);
        QCOMPARE(QString::fromStdString(entry.number), number);
        QCOMPARE(QString::fromStdString(tellmaro::data::windows1252ToUtf8(entry.comment)), comment);
        QVERIFY(tellmaro::data::SaveCallDir(h->appDir, h->engine.phoneBook()).ok);
        return;
    }
    QCOMPARE(h->shell.messages.size(), size_t{1});
    const auto& shown = h->shell.messages.front();
    QCOMPARE(QString::fromStdString(shown.text), message);
    QCOMPARE(shown.caption, std::string(" Tellmaro Fehler !!"));
    QVERIFY(shown.icon == tellmaro::relay::MessageIcon::Critical);
    QVERIFY(dialog.isVisible());
    QVERIFY(!stored);
    QVERIFY(h->engine.phoneBook() == before);
    QVERIFY(dialog.focusWidget());
    QCOMPARE(dialog.focusWidget()->objectName(), focus);
}

void CallDirWindowTest::emptyBookThenNewAndOkAddsTheFirstEntry() {
    auto h = startWith({});
    CallDirWindow window(h->engine, h->shell);
    QCOMPARE(window.grid()->rowCount(), 0);
    QVERIFY(!window.editButton()->isEnabled());
    QVERIFY(!window.deleteButton()->isEnabled());

    answerWith(window, "1", "123456");
    window.newButton()->click();
    QCOMPARE(gridRows(window.grid()), QStringList{"1|123456|"});
    QVERIFY(window.editButton()->isEnabled());
    QVERIFY(window.deleteButton()->isEnabled());
    QCOMPARE(window.selectedEntry(), int16_t{1});

    // A refused entry leaves the list as it was; the runner gives up.
    answerWith(window, "1", "999");
    window.newButton()->click();
    QCOMPARE(gridRows(window.grid()), QStringList{"1|123456|"});
    QCOMPARE(h->shell.messages.size(), size_t{1});

    // Bearbeiten changes the selected entry in place.
    answerWith(window, "1", "654321", "neu");
    window.editButton()->click();
    QCOMPARE(gridRows(window.grid()), QStringList{"1|654321|neu"});

    window.show();
    window.okButton()->click();
    QVERIFY(!window.isVisible());
    const QByteArray file = fileBytes(*h);
    QCOMPARE(file.size(), 384);
    QCOMPARE(file.left(2), QByteArray("\x01\x00", 2));
    QCOMPARE(file.mid(256, 16), QByteArray("\x01\x00"
                                           "1"
                                           "\x06\x00"
                                           "654321"
                                           "\x03\x00"
                                           "neu",
                                           16));
}

void CallDirWindowTest::deletingMovesLaterEntriesUpAndOnlyOkWritesTheFile() {
    auto h = startWith({{"1", "111", "a"}, {"2", "222", "b"}, {"3", "333", "c"}});
    const QByteArray original = fileBytes(*h);
    CallDirWindow window(h->engine, h->shell);
    QCOMPARE(gridRows(window.grid()), (QStringList{"1|111|a", "2|222|b", "3|333|c"}));

    // A click on a cell selects the whole row, and that row is the entry.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTableWidget* grid = window.grid();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualItemRect(grid->item(1, 2)).center());
    QCOMPARE(window.selectedEntry(), int16_t{2});
    QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(grid->selectionModel()->selectedIndexes().size(), 3);

    window.deleteButton()->click();
    QVERIFY(h->shell.messages.empty());  // no question asked
    QCOMPARE(h->engine.phoneBook().callDirCount(), int16_t{2});
    QCOMPARE(gridRows(grid), (QStringList{"1|111|a", "3|333|c"}));
    QCOMPARE(window.selectedEntry(), int16_t{2});
    QCOMPARE(fileBytes(*h), original);

    // Deleting the last row leaves the new last one selected.
    window.deleteButton()->click();
    QCOMPARE(gridRows(grid), QStringList{"1|111|a"});
    QCOMPARE(window.selectedEntry(), int16_t{1});
    QCOMPARE(fileBytes(*h), original);

    window.okButton()->click();
    const auto reread = tellmaro::data::LoadCallDir(h->appDir);
    QVERIFY(reread.error.empty());
    QVERIFY(reread.phoneBook == bookOf({{"1", "111", "a"}}));
}

void CallDirWindowTest::deletingTheOnlyEntryAndOkWritesAnEmptyBook() {
    auto h = startWith({{"1", "123456", ""}});
    QCOMPARE(fileBytes(*h).size(), 384);
    CallDirWindow window(h->engine, h->shell);
    window.deleteButton()->click();
    QCOMPARE(window.grid()->rowCount(), 0);
    QVERIFY(!window.editButton()->isEnabled());
    QVERIFY(!window.deleteButton()->isEnabled());
    window.okButton()->click();
    const QByteArray file = fileBytes(*h);
    QCOMPARE(file.size(), 256);
    QCOMPARE(file.left(2), QByteArray(2, '\0'));      // no entries
    QCOMPARE(file.mid(128, 6), QByteArray(6, '\0'));  // the empty placeholder
    QVERIFY(tellmaro::data::LoadCallDir(h->appDir).phoneBook == PhoneBook{});
}

void CallDirWindowTest::cancelRestoresTheListFromTheFile() {
    auto h = startWith({{"5", "555", "f\xfcnf"}});
    const QByteArray original = fileBytes(*h);
    {
        CallDirWindow window(h->engine, h->shell);
        answerWith(window, "6", "666");
        window.newButton()->click();
        answerWith(window, "7", "777");
        window.newButton()->click();
        window.selectEntry(3);
        window.deleteButton()->click();
        QCOMPARE(gridRows(window.grid()), (QStringList{"5|555|fünf", "6|666|"}));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Escape);  // Abbrechen
        QVERIFY(!window.isVisible());
    }
    QVERIFY(h->engine.phoneBook() == bookOf({{"5", "555", "f\xfcnf"}}));
    QCOMPARE(fileBytes(*h), original);

    CallDirWindow again(h->engine, h->shell);
    QCOMPARE(gridRows(again.grid()), QStringList{"5|555|fünf"});
    QVERIFY(h->shell.messages.empty());
}

void CallDirWindowTest::openingAndClosingSuspendAndResumeTheRelay() {
    auto h = startWith({});
    const QStringList atStart = listenMasks(*h);
    {
        CallDirWindow window(h->engine, h->shell);
        QCOMPARE(listenMasks(*h), atStart + QStringList{"0x00000000"});
        QVERIFY(!h->shell.menuEnabled);
        QVERIFY(!h->engine.callLog().isOpen());
        QCOMPARE(h->shell.trays, std::vector<std::string>{"Wegen Konfiguration deaktiviert"});

        // Closing through the title bar resumes; a window shown again after
        // that was not suspended again, so it does not resume twice.
        window.show();
        window.close();
        window.show();
        window.close();
        QCOMPARE(listenMasks(*h), atStart + QStringList({"0x00000000", "0x04010032"}));
        QVERIFY(h->shell.menuEnabled);
        QVERIFY(h->engine.callLog().isOpen());
        QCOMPARE(h->shell.trays.back(), std::string("Tellmaro ist betriebsbereit"));
    }
    QCOMPARE(listenMasks(*h).size(), atStart.size() + 2);
}

void CallDirWindowTest::closingWhenDeactivatedLeavesTheRelayOff() {
    auto h = startWith({});
    h->shell.activated = false;
    const QStringList atStart = listenMasks(*h);
    CallDirWindow window(h->engine, h->shell);
    window.okButton()->click();
    QVERIFY(h->shell.menuEnabled);
    QCOMPARE(h->shell.trays.back(), std::string("Tellmaro ist deaktiviert"));
    QCOMPARE(listenMasks(*h), atStart + QStringList{"0x00000000"});
    QVERIFY(!h->engine.callLog().isOpen());
}

void CallDirWindowTest::aFailedSaveIsReportedAndKeepsTheOldFile() {
    auto h = startWith({{"1", "111", ""}});
    const QByteArray original = fileBytes(*h);
    CallDirWindow window(h->engine, h->shell);
    window.deleteButton()->click();
    // An entry that went round the dialog's checks cannot be stored: the
    // save fails as a full disk would make it.
    QVERIFY(h->engine.phoneBook().append({"2", "222", std::string(200, 'x')}));
    window.redraw();
    window.show();
    window.okButton()->click();
    QCOMPARE(h->shell.messages.size(), size_t{1});
    QCOMPARE(h->shell.messages.front().caption, std::string(" Tellmaro Fehler !!"));
    // German only; the system's reason is in "error.log".
    QCOMPARE(h->shell.messages.front().text,
             std::string("Das Telefonbuch konnte nicht gespeichert werden!"));
    QCOMPARE(h->errorLogText(),
             std::string("03.12.2001 14:05:33 Telefonbuch nicht gespeichert: phone book not saved: "
                         "entry 1 does not fit its 128-byte record: 6 + 1 + 3 + 200 = 210 "
                         "bytes\r\n"));
    QVERIFY(window.isVisible());
    QVERIFY(!h->shell.menuEnabled);  // still suspended
    QCOMPARE(fileBytes(*h), original);
    window.cancelButton()->click();
    QVERIFY(h->engine.phoneBook() == bookOf({{"1", "111", ""}}));
}

QTEST_MAIN(CallDirWindowTest)
#include "call_dir_window_test.moc"
