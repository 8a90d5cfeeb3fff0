// The phone book window and its entry dialog on a live engine, driven as a
// user does; the entry rules and the file's bytes are tested in tests/data.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "data/call_dir_file.h"
#include "dialogs/call_data_dialog.h"
#include "dialogs/call_dir_window.h"
#include "engine_harness.h"

using tellmaro::data::CallDirEntry;
using tellmaro::data::PhoneBook;
using tellmaro::dialogs::CallDataDialog;
using tellmaro::dialogs::CallDirWindow;
using tellmaro::test::EngineHarness;

namespace {

PhoneBook bookOf(std::initializer_list<CallDirEntry> entries) {
    PhoneBook book;
    for (const auto& entry : entries) {
        [[maybe_unused]] bool added = book.append(entry);
    }
    return book;
}

// A started engine whose "tellmaro.dir" holds `entries`.
std::unique_ptr<EngineHarness> startWith(std::initializer_list<CallDirEntry> entries) {
    auto h = std::make_unique<EngineHarness>();
    if (!tellmaro::data::SaveCallDir(h->appDir, bookOf(entries)).ok) {
        qFatal("no phone book");
    }
    h->startUp();
    return h;
}

PhoneBook inFile(const EngineHarness& h) {
    return tellmaro::data::LoadCallDir(h.appDir).phoneBook;
}

QStringList gridRows(const QTableWidget* grid) {
    QStringList rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid->columnCount(); ++c) {
            cells << grid->item(r, c)->text();
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
    void theEntryDialogShowsTheEntryToChange() {
        auto h = startWith({{"7", "*31#0815", "\xc4rztin"}});
        CallDataDialog fresh(h->engine.phoneBook(), h->shell, 0);
        QVERIFY(fresh.shortdialBox()->text().isEmpty());
        CallDataDialog change(h->engine.phoneBook(), h->shell, 1);
        QVERIFY(change.titleLabel()->text() != fresh.titleLabel()->text());
        QCOMPARE(change.shortdialBox()->text() + "|" + change.numberBox()->text() + "|" +
                     change.commentBox()->text(),
                 QString("7|*31#0815|Ärztin"));

        // Esc and "Abbrechen" change nothing.
        change.show();
        change.shortdialBox()->setText("8");
        QTest::keyClick(&change, Qt::Key_Escape);
        fresh.shortdialBox()->setText("9");
        fresh.numberBox()->setText("9");
        fresh.cancelButton()->click();
        QCOMPARE(change.result(), int(QDialog::Rejected));
        QCOMPARE(fresh.result(), int(QDialog::Rejected));
        QVERIFY(h->engine.phoneBook() == bookOf({{"7", "*31#0815", "\xc4rztin"}}));
    }

    void aRefusalFocusesItsField() {
        const struct {
            const char *code, *number, *comment, *focus;
        } rows[] = {
            {"11", "5", "", "TXTBshortdial"},
            {"33", "+", "", "TXTBnumber"},
            {"33", "4", "\u2713", "TXTBcomment"},
        };
        for (const auto& row : rows) {
            auto h = startWith({{"11", "111", "eins"}});
            CallDataDialog dialog(h->engine.phoneBook(), h->shell, 0);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            QSignalSpy stored(&dialog, &CallDataDialog::entryStored);
            dialog.shortdialBox()->setText(row.code);
            dialog.numberBox()->setText(row.number);
            dialog.commentBox()->setText(QString::fromUtf8(row.comment));
            QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

            QCOMPARE(h->shell.messages.size(), size_t{1});
            QCOMPARE(h->shell.messages[0].caption, std::string(" Tellmaro Fehler !!"));
            QCOMPARE(dialog.focusWidget()->objectName(), QString(row.focus));
            QVERIFY(dialog.isVisible());
            QCOMPARE(stored.count(), 0);
            QVERIFY(h->engine.phoneBook() == bookOf({{"11", "111", "eins"}}));
        }
    }

    void newChangeAndDeleteShowInTheGridAndOkSavesThem() {
        auto h = startWith({{"1", "111", "a"}, {"2", "222", "b"}, {"3", "333", "c"}});
        const PhoneBook original = inFile(*h);
        CallDirWindow window(h->engine, h->shell);
        QTableWidget* grid = window.grid();
        QCOMPARE(gridRows(grid), (QStringList{"1|111|a", "2|222|b", "3|333|c"}));

        // A click on a cell selects the whole row, and that row is the entry.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualItemRect(grid->item(1, 2)).center());
        QCOMPARE(grid->selectionModel()->selectedIndexes().size(), 3);
        window.deleteButton()->click();  // no question asked
        QCOMPARE(gridRows(grid), (QStringList{"1|111|a", "3|333|c"}));
        QCOMPARE(window.selectedEntry(), int16_t{2});
        window.deleteButton()->click();  // the new last row is selected
        QCOMPARE(gridRows(grid), QStringList{"1|111|a"});
        window.deleteButton()->click();
        QVERIFY(!window.editButton()->isEnabled() && !window.deleteButton()->isEnabled());

        answerWith(window, "4", "444");
        window.newButton()->click();
        QCOMPARE(gridRows(grid), QStringList{"4|444|"});
        QVERIFY(window.editButton()->isEnabled() && window.deleteButton()->isEnabled());
        answerWith(window, "4", "999");  // refused: the list stays
        window.newButton()->click();
        QCOMPARE(gridRows(grid), QStringList{"4|444|"});
        answerWith(window, "4", "654321", "neu");
        window.editButton()->click();
        QCOMPARE(gridRows(grid), QStringList{"4|654321|neu"});
        QVERIFY(inFile(*h) == original);

        window.okButton()->click();
        QVERIFY(!window.isVisible());
        QVERIFY(inFile(*h) == bookOf({{"4", "654321", "neu"}}));
        QCOMPARE(h->shell.messages.size(), size_t{1});  // the refusal's
    }

    void abbrechenReadsTheFileBack() {
        auto h = startWith({{"5", "555", "f\xfcnf"}});
        {
            CallDirWindow window(h->engine, h->shell);
            answerWith(window, "6", "666");
            window.newButton()->click();
            window.selectEntry(1);
            window.deleteButton()->click();
            QCOMPARE(gridRows(window.grid()), QStringList{"6|666|"});
            window.show();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            QTest::keyClick(&window, Qt::Key_Escape);
            QVERIFY(!window.isVisible());
        }
        QVERIFY(h->engine.phoneBook() == bookOf({{"5", "555", "f\xfcnf"}}));
        QVERIFY(inFile(*h) == h->engine.phoneBook());
        CallDirWindow again(h->engine, h->shell);
        QCOMPARE(gridRows(again.grid()), QStringList{"5|555|fünf"});
        QVERIFY(h->shell.messages.empty());
    }

    void aFailedSaveIsReportedAndKeepsTheOldFile() {
        auto h = startWith({{"1", "111", ""}});
        CallDirWindow window(h->engine, h->shell);
        window.deleteButton()->click();
        // An entry that went round the dialog's checks cannot be stored: the
        // save fails as a full disk would make it.
        QVERIFY(h->engine.phoneBook().append({"2", "222", std::string(200, 'x')}));
        window.redraw();
        window.show();
        window.okButton()->click();
        QCOMPARE(h->shell.messages.size(), size_t{1});
        // German only; the system's reason is in "error.log".
        QCOMPARE(h->shell.messages[0].text,
                 std::string("Das Telefonbuch konnte nicht gespeichert werden!"));
        QVERIFY(h->errorLogText().starts_with(
            "03.12.2001 14:05:33 Telefonbuch nicht gespeichert: phone book not saved: entry 1 "));
        QVERIFY(window.isVisible());
        QVERIFY(inFile(*h) == bookOf({{"1", "111", ""}}));
        window.cancelButton()->click();
        QVERIFY(h->engine.phoneBook() == bookOf({{"1", "111", ""}}));
    }
};

QTEST_MAIN(CallDirWindowTest)
#include "call_dir_window_test.moc"
