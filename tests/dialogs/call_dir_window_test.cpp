// The phone book window and its entry dialog on a live engine, driven as a
// user does; the entry rules and the file's bytes are tested in tests/data.
#include "dialogs/call_dir_window.h"
#include "data/call_dir_file.h"
#include "engine_harness.h"
#include "window_steps.h"

namespace tellmaro::test {
namespace {

data::PhoneBook bookOf(std::initializer_list<data::CallDirEntry> entries) {
    data::PhoneBook book;
    for (const auto& entry : entries) {
        (void)book.append(entry);
    }
    return book;
}

// A started engine whose "tellmaro.dir" holds `book`, and the window on it.
struct Setup {
    explicit Setup(const data::PhoneBook& book) {
        (void)data::SaveCallDir(h.appDir, book);
        h.startUp();
        window = std::make_unique<dialogs::CallDirWindow>(h.engine, h.store, h.shell);
        window->show();
        (void)QTest::qWaitForWindowActive(window.get());
    }
    data::PhoneBook inFile() const { return data::LoadCallDir(h.appDir).phoneBook; }
    // The grid's rows, "code|number|comment" each, separated by spaces.
    QString rows() const {
        QStringList rows;
        for (int r = 0; r < window->grid()->rowCount(); ++r) {
            for (int c = 0; c < 3; ++c) {
                rows << (c ? "|" : " ") + window->grid()->item(r, c)->text();
            }
        }
        return rows.join("").trimmed();
    }

    EngineHarness h;
    std::unique_ptr<dialogs::CallDirWindow> window;
};

}  // namespace

class CallDirWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // Each step shows in the grid; "OK" saves them.
    void newChangeAndDeleteShowInTheGridAndOkSavesThem() {
        const data::PhoneBook original =
            bookOf({{"1", "111", "a"}, {"2", "222", "b"}, {"3", "333", "c"}});
        Setup s(original);
        QTableWidget* grid = s.window->grid();
        QCOMPARE(s.rows(), QString("1|111|a 2|222|b 3|333|c"));
        // A click on a cell selects the whole row, and that row is the entry.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualItemRect(grid->item(1, 2)).center());
        QCOMPARE(grid->selectionModel()->selectedIndexes().size(), 3);
        const std::pair<const char*, const char*> steps[] = {
            {"BTNdel", "1|111|a 3|333|c"},  // no question asked
            {"BTNdel", "1|111|a"},          // the new last row was selected
            {"BTNdel", ""},
            {"BTNnew TXTBshortdial=4 TXTBnumber=444 TXTBcomment=Zahnärztin OKButton",
             "4|444|Zahnärztin"},
            {"BTNnew TXTBshortdial=4 TXTBnumber=999 OKButton CancelButton",  // refused
             "4|444|Zahnärztin"},
            {"BTNedit TXTBnumber=654321 OKButton", "4|654321|Zahnärztin"},  // the rest shown
        };
        for (const auto& [step, rows] : steps) {
            act(s.window.get(), QString::fromUtf8(step));
            QCOMPARE(s.rows(), QString::fromUtf8(rows));
            QCOMPARE(control(s.window.get(), "BTNedit")->isEnabled() &&
                         control(s.window.get(), "BTNdel")->isEnabled(),
                     grid->rowCount() > 0);  // nothing to change or delete in an empty list
        }
        QVERIFY(s.inFile() == original);
        act(s.window.get(), "BTNok");
        const data::PhoneBook expected =
            bookOf({{"4", "654321", "Zahn\xe4rztin"}});  // Windows-1252
        QVERIFY(!s.window->isVisible() && s.inFile() == expected &&
                s.h.store.phoneBook() == expected);
        QCOMPARE(s.h.shell.messages.size(), size_t{1});  // the refusal's
    }

    // An entry that went round the dialog's checks cannot be stored (a full disk): the German
    // message, the reason in "error.log", the old file kept; then unreadable, Esc keeps the list.
    void aFailedSaveIsReportedAndKeepsTheOldFile() {
        const data::PhoneBook book = bookOf({{"1", "111", ""}});
        Setup s(book);
        QVERIFY(s.h.store.phoneBook().append({"2", "222", std::string(200, 'x')}));
        act(s.window.get(), "BTNok");
        QCOMPARE(s.h.shell.messages.at(0).text,
                 std::string("Das Telefonbuch konnte nicht gespeichert werden!"));
        QVERIFY(s.h.errorLogText().starts_with(
            "03.12.2001 14:05:33 Telefonbuch nicht gespeichert: Eintrag 2 passt nicht "));
        QVERIFY(s.window->isVisible() && s.inFile() == book && s.h.shell.messages.size() == 1);
        std::filesystem::remove(s.h.appDir / "tellmaro.dir");
        std::filesystem::create_directory(s.h.appDir / "tellmaro.dir");
        act(s.window.get(), "Esc");
        QVERIFY(!s.window->isVisible() && s.h.store.phoneBook() == book &&
                s.h.errorLogText().ends_with("kann nicht gelesen werden: Ist ein Verzeichnis\r\n"));
    }
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::CallDirWindowTest)
#include "call_dir_window_test.moc"
