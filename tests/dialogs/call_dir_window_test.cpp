// The phone book window and its entry dialog on a live engine, driven as a
// user does; the entry rules and the file's bytes are tested in tests/data.
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "data/call_dir_file.h"
#include "dialogs/call_data_dialog.h"
#include "dialogs/call_dir_window.h"
#include "engine_harness.h"

using tellmaro::data::PhoneBook;
using tellmaro::dialogs::CallDataDialog;
using tellmaro::dialogs::CallDirWindow;
using tellmaro::test::EngineHarness;

namespace {

PhoneBook bookOf(std::initializer_list<tellmaro::data::CallDirEntry> entries) {
    PhoneBook book;
    for (const auto& entry : entries) {
        [[maybe_unused]] bool added = book.append(entry);
    }
    return book;
}

// A started engine whose "tellmaro.dir" holds `book`.
std::unique_ptr<EngineHarness> startWith(const PhoneBook& book) {
    auto h = std::make_unique<EngineHarness>();
    if (!tellmaro::data::SaveCallDir(h->appDir, book).ok) {
        qFatal("no phone book");
    }
    h->startUp();
    return h;
}

PhoneBook inFile(const EngineHarness& h) {
    return tellmaro::data::LoadCallDir(h.appDir).phoneBook;
}

// The grid's rows, "code|number|comment" each, separated by spaces.
QString gridRows(const QTableWidget* grid) {
    QStringList rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        rows << grid->item(r, 0)->text() + "|" + grid->item(r, 1)->text() + "|" +
                    grid->item(r, 2)->text();
    }
    return rows.join(' ');
}

// "del" clicks "Löschen"; "new CODE NUMBER [COMMENT]" and "edit …" fill in the entry dialog
// and press its OK; `shown` gets what the dialog showed first.
void act(CallDirWindow& window, const QString& step, QString* shown = nullptr) {
    const QStringList part = step.split(' ');
    window.setEntryDialogRunner([part, shown](CallDataDialog& dialog) {
        if (shown) {
            *shown = dialog.shortdialBox()->text() + "|" + dialog.numberBox()->text() + "|" +
                     dialog.commentBox()->text();
        }
        dialog.shortdialBox()->setText(part.value(1));
        dialog.numberBox()->setText(part.value(2));
        dialog.commentBox()->setText(part.value(3));
        dialog.okButton()->click();
    });
    (part[0] == "del"   ? window.deleteButton()
     : part[0] == "new" ? window.newButton()
                        : window.editButton())
        ->click();
}

}  // namespace

class CallDirWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // Each step shows in the grid; "OK" saves them, Esc reads the file back.
    void newChangeAndDeleteShowInTheGridAndOkSavesThem() {
        for (bool ok : {true, false}) {
            const PhoneBook original =
                bookOf({{"1", "111", "a"}, {"2", "222", "b"}, {"3", "333", "c"}});
            auto h = startWith(original);
            CallDirWindow window(h->engine, h->shell);
            QTableWidget* grid = window.grid();
            QCOMPARE(gridRows(grid), QString("1|111|a 2|222|b 3|333|c"));
            // A click on a cell selects the whole row, and that row is the entry.
            window.show();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                              grid->visualItemRect(grid->item(1, 2)).center());
            QCOMPARE(grid->selectionModel()->selectedIndexes().size(), 3);
            const std::pair<const char*, const char*> steps[] = {
                {"del", "1|111|a 3|333|c"},  // no question asked
                {"del", "1|111|a"},          // the new last row was selected
                {"del", ""},
                {"new 4 444 Zahnärztin", "4|444|Zahnärztin"},
                {"new 4 999", "4|444|Zahnärztin"},  // refused: the list stays
                {"edit 4 654321 neu", "4|654321|neu"},
            };
            QString shown;
            for (const auto& [step, rows] : steps) {
                act(window, step, &shown);
                QCOMPARE(gridRows(grid), QString(rows));
                QCOMPARE(window.editButton()->isEnabled() && window.deleteButton()->isEnabled(),
                         grid->rowCount() > 0);  // nothing to change or delete in an empty list
            }
            QCOMPARE(shown, QString("4|444|Zahnärztin"));  // the entry to change
            QVERIFY(inFile(*h) == original);
            ok ? window.okButton()->click() : QTest::keyClick(&window, Qt::Key_Escape);
            QVERIFY(!window.isVisible());
            const PhoneBook expected = ok ? bookOf({{"4", "654321", "neu"}}) : original;
            QVERIFY(inFile(*h) == expected && h->engine.phoneBook() == expected);
            QCOMPARE(h->shell.messages.size(), size_t{1});  // the refusal's
        }
    }

    // An entry that went round the dialog's checks cannot be stored, as on a full disk: the
    // German message, the system's reason in "error.log", the old file kept.
    void aFailedSaveIsReportedAndKeepsTheOldFile() {
        const PhoneBook book = bookOf({{"1", "111", ""}});
        auto h = startWith(book);
        CallDirWindow window(h->engine, h->shell);
        act(window, "del");
        QVERIFY(h->engine.phoneBook().append({"2", "222", std::string(200, 'x')}));
        window.redraw();
        window.show();
        window.okButton()->click();
        QCOMPARE(h->shell.messages.size(), size_t{1});
        QCOMPARE(h->shell.messages[0].text,
                 std::string("Das Telefonbuch konnte nicht gespeichert werden!"));
        QVERIFY(h->errorLogText().starts_with(
            "03.12.2001 14:05:33 Telefonbuch nicht gespeichert: phone book not saved: entry 1 "));
        QVERIFY(window.isVisible() && inFile(*h) == book);
        window.cancelButton()->click();
        QVERIFY(h->engine.phoneBook() == book);
    }
};

QTEST_MAIN(CallDirWindowTest)
#include "call_dir_window_test.moc"
