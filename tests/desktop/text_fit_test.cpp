// Every text of every window, dialog and message box fits its widget with the
// fonts of a plain Debian desktop, measured on screen in the font it is drawn in.
#include "desktop_harness.h"
#include "shell/german_qt_texts.h"
#include "shell/message_boxes.h"

namespace tellmaro::test {
namespace {

// Adds the window, widget, text, and the size it needs and has, unless the text fits.
void check(const QWidget* widget, const QString& text, QSize needed, QSize room,
           QStringList& misfits) {
    if (needed.boundedTo(room) != needed) {
        QDebug(&misfits.emplace_back())
            << widget->window()->objectName() << widget->metaObject()->className() << text
            << "needs" << needed << "has" << room;
    }
}

void checkLabel(const QLabel* label, QStringList& misfits) {
    QSize needed = label->sizeHint();
    if (label->wordWrap()) {  // wrapped at its width: no word may be wider
        const int frame = label->width() - label->contentsRect().width() + 2 * label->margin();
        int widestWord = 0;
        for (const QString& word : label->text().split(QRegularExpression("\\s+"))) {
            widestWord = std::max(widestWord, label->fontMetrics().horizontalAdvance(word));
        }
        needed = QSize(widestWord + frame, label->heightForWidth(label->width()));
    }
    check(label, label->text(), needed, label->size(), misfits);
}

void checkButton(const QAbstractButton* button, QStringList& misfits) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();  // no button has an icon
    const auto contents = qobject_cast<const QCheckBox*>(button) ? QStyle::SE_CheckBoxContents
                          : qobject_cast<const QRadioButton*>(button)
                              ? QStyle::SE_RadioButtonContents
                              : QStyle::SE_PushButtonContents;
    const QSize room = button->style()->subElementRect(contents, &option, button).size();
    check(button, button->text(), button->fontMetrics().size(Qt::TextShowMnemonic, button->text()),
          room, misfits);
}

void checkHeader(const QHeaderView* header, QStringList& misfits) {
    // Measured in bold where a selected row sets them so.
    QFont font = header->font();
    font.setBold(header->highlightSections());
    const QFontMetrics metrics(font);
    for (int section = 0; section < header->count(); ++section) {
        QStyleOptionHeader option;
        option.initFrom(header);
        option.section = section;
        option.text = header->model()->headerData(section, header->orientation()).toString();
        option.rect = QRect(0, 0, header->sectionSize(section), header->height());
        const QSize room =
            header->style()->subElementRect(QStyle::SE_HeaderLabel, &option, header).size();
        check(header, option.text, metrics.size(0, option.text), room, misfits);
    }
}

QStringList misfitsOnScreen() {
    QStringList misfits;
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (!widget->isVisible() || (label && label->text().isEmpty())) {
            continue;  // unseen, or a picture
        } else if (label) {
            checkLabel(label, misfits);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            checkButton(button, misfits);
        } else if (auto* header = qobject_cast<QHeaderView*>(widget)) {
            checkHeader(header, misfits);
        }
    }
    return misfits;
}

}  // namespace

class TextFitTest : public QObject {
    Q_OBJECT

  private slots:
    void everyTextFitsItsWidget() {
        const QFontInfo font(QApplication::font());
        QVERIFY(shell::installGermanQtTexts() && QFileDialog().windowTitle() == "Öffnen");

        // A message box grows with its text: of the fixed texts the tray's is the longest and has
        // the widest words, so it is measured, read where the program shows it.
        QString message;
        {
            Desktop noTray;
            noTray.tray.available = false;
            QVERIFY(!runsOn(noTray.make().start()));
            message = noTray.messages.texts.value(0).section('|', 1);
        }
        Desktop d;
        QVERIFY(runsOn(d.make().start()));
        QVERIFY(d.window->store().phoneBook().append(
            {"12345678901234567890", "*31#12345678901234", "Zahn\xe4rztin"}));  // the widest
        QStringList misfits = misfitsOnScreen();                                // the splash
        const QImage splash = visibleWindow("frmSplash")->grab().toImage();
        int lines = 0;  // the frame's top and bottom in a column left of the pictures
        for (int y = 0; y < splash.height(); ++y) {
            lines += qGray(splash.pixel(20, y)) < 128;
        }
        QCOMPARE(lines, 2);

        d.entry("PMNUset")->trigger();
        misfits << misfitsOnScreen();
        visibleWindow("Options")->close();
        for (bool oneBChannel : {false, true}) {  // both verdicts
            d.checked.oneBChannel = oneBChannel;
            d.entry("PMNUcapi")->trigger();
            misfits << misfitsOnScreen();
            visibleWindow("FRMcapi")->close();
        }
        d.entry("PMNUcalldir")->trigger();
        QWidget* phoneBook = visibleWindow("FRMcalldir");
        phoneBook->findChild<QTableWidget*>()->selectRow(1);
        act(phoneBook, "BTNedit");  // its title is longer than a new entry's
        misfits << misfitsOnScreen();
        act(visibleWindow("DLGcalldata"), "CancelButton");
        phoneBook->close();

        std::unique_ptr<QMessageBox> box(shell::QtMessageBoxes::create(
            " Tellmaro Fehler !!", message, relay::MessageIcon::Critical, nullptr));
        box->show();
        misfits << misfitsOnScreen();
        const QLabel* text = control<QLabel>(box.get(), "qt_msgbox_label");  // a command unbroken
        QVERIFY(text->fontMetrics().horizontalAdvance(message.section('\n', 2, 2).trimmed()) <=
                text->contentsRect().width());
        misfits.removeDuplicates();
        QVERIFY2(misfits.isEmpty(),
                 qPrintable(QString("with %1 %2 pt:\n").arg(font.family()).arg(font.pointSizeF()) +
                            misfits.join('\n')));
    }
};

}  // namespace tellmaro::test

QTEST_MAIN(tellmaro::test::TextFitTest)
#include "text_fit_test.moc"
