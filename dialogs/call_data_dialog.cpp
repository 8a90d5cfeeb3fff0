#include "dialogs/call_data_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <string>

#include "data/call_dir_file.h"
#include "data/windows1252.h"

#include "dialogs/named.h"
#include "dialogs/twips.h"

namespace tellmaro::dialogs {

namespace {

constexpr qsizetype kMaxShortdialLength = 20;
constexpr qsizetype kMaxNumberLength = 20;
// The three length fields of a record.
constexpr size_t kRecordOverhead = 6;

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool isDialChar(QChar c) {
    return isDigit(c) || c == u'*' || c == u'#';
}

template <typename Pred>
bool allOf(const QString& text, Pred pred) {
    for (QChar c : text) {
        if (!pred(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

CallDataDialog::CallDataDialog(data::PhoneBook& phoneBook, relay::ShellPort& shell,
                               int16_t editIndex, QWidget* parent)
    : QDialog(parent),
      phoneBook_(phoneBook),
      shell_(shell),
      editIndex_(editIndex),
      titleLabel_(named(new QLabel(this), "LBLtitel")),
      shortdialBox_(named(new QLineEdit(this), "TXTBshortdial")),
      numberBox_(named(new QLineEdit(this), "TXTBnumber")),
      commentBox_(named(new QLineEdit(this), "TXTBcomment")),
      okButton_(named(new QPushButton(QStringLiteral("&OK"), this), "OKButton")),
      cancelButton_(named(new QPushButton(QStringLiteral("&Abbrechen"), this), "CancelButton")) {
    setObjectName(QStringLiteral("DLGcalldata"));
    setWindowTitle(QStringLiteral("Telefonbucheintrag"));
    // Modal over the phone book window only: an application-modal dialog
    // would lock the tray icon and its menu.
    setWindowModality(Qt::WindowModal);
    setFixedSize(px(5580), px(2040));

    auto* shortdialLabel = named(new QLabel(QStringLiteral("&Kurzwahl"), this), "Label2");
    auto* numberLabel = named(new QLabel(QStringLiteral("&Nummer"), this), "Label3");
    auto* commentLabel = named(new QLabel(QStringLiteral("&Bemerkung"), this), "Label4");
    shortdialLabel->setBuddy(shortdialBox_);
    numberLabel->setBuddy(numberBox_);
    commentLabel->setBuddy(commentBox_);

    place(shortdialLabel, 120, 600, 900, 255);
    place(shortdialBox_, 120, 840, 900, 285);
    place(numberLabel, 1080, 600, 1605, 255);
    place(numberBox_, 1080, 840, 1600, 285);
    place(commentLabel, 2760, 600, 2700, 255);
    place(commentBox_, 2760, 840, 2700, 285);
    place(okButton_, 1200, 1440, 1215, 375);
    place(cancelButton_, 3240, 1440, 1215, 375);
    place(titleLabel_, 120, 120, 5295, 255);

    setTabOrder(shortdialBox_, numberBox_);
    setTabOrder(numberBox_, commentBox_);
    setTabOrder(commentBox_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    shortdialBox_->setFocus();

    // Return does not confirm; Escape cancels through QDialog::reject.
    okButton_->setAutoDefault(false);
    cancelButton_->setAutoDefault(false);

    if (editMode()) {
        titleLabel_->setText(QStringLiteral("Bitte machen Sie die gewünschten Änderungen"));
        const data::CallDirEntry& entry = phoneBook_.callDir().at(static_cast<size_t>(editIndex_));
        auto show = [](const std::string& text) {
            return QString::fromStdString(data::windows1252ToUtf8(text));
        };
        shortdialBox_->setText(show(entry.shortdial));
        numberBox_->setText(show(entry.number));
        commentBox_->setText(show(entry.comment));
    } else {
        titleLabel_->setText(QStringLiteral("Bitte geben Sie die neuen Daten ein"));
    }

    shortdialBox_->setToolTip(QStringLiteral(
        "Bitte hier Tasten eingeben die zum wählen der Nummer gedrückt werden müssen"));
    numberBox_->setToolTip(QStringLiteral("Bitte hier die Telefonnummer eingeben"));
    commentBox_->setToolTip(QStringLiteral("Hier kann ein beliebiger Kommentar eingegeben werden"));

    connect(okButton_, &QPushButton::clicked, this, &CallDataDialog::onOk);
    connect(cancelButton_, &QPushButton::clicked, this, &CallDataDialog::reject);
}

void CallDataDialog::refuse(const QString& text, QLineEdit* box) {
    shell_.showMessage(relay::kErrorCaption, text.toStdString(), relay::MessageIcon::Critical);
    box->setFocus();
}

bool CallDataDialog::codeIsTaken(const std::string& code) const {
    const auto& entries = phoneBook_.callDir();
    for (int16_t i = 1; i <= phoneBook_.callDirCount(); ++i) {
        if (i != editIndex_ && entries[static_cast<size_t>(i)].shortdial == code) {
            return true;
        }
    }
    return false;
}

void CallDataDialog::onOk() {
    const QString code = shortdialBox_->text();
    const QString number = numberBox_->text();

    if (code.isEmpty()) {
        refuse(QStringLiteral("Bitte geben Sie mindestens ein Kurzwahlzeichen ein!"),
               shortdialBox_);
        return;
    }
    if (!allOf(code, isDigit)) {
        refuse(QStringLiteral("Bitte geben Sie nur Ziffern als Kurzwahl ein!"), shortdialBox_);
        return;
    }
    if (code.size() > kMaxShortdialLength) {
        refuse(QStringLiteral("Bitte geben Sie nicht mehr als 20 Kurzwahlziffern ein!"),
               shortdialBox_);
        return;
    }
    // Both are plain ASCII from here on, so bytes and characters agree.
    const std::string codeBytes = code.toStdString();
    if (codeIsTaken(codeBytes)) {
        refuse(QStringLiteral("Die eingegebene Kurzwahl existiert bereits!"), shortdialBox_);
        return;
    }
    if (number.isEmpty()) {
        refuse(QStringLiteral("Bitte geben Sie die mit der Kurzwahl verbundene Rufnummer ein"),
               numberBox_);
        return;
    }
    if (!allOf(number, isDialChar)) {
        refuse(QStringLiteral("Bitte geben Sie nur Ziffern, * und # als Rufnummer ein!"),
               numberBox_);
        return;
    }
    if (number.size() > kMaxNumberLength) {
        refuse(QStringLiteral("Bitte geben Sie nicht mehr als 20 Zeichen als Telefonnummer ein!"),
               numberBox_);
        return;
    }
    const std::string numberBytes = number.toStdString();

    // The comment is free, but it is stored as Windows-1252 and the whole
    // entry must fit its 128-byte record, so what is left of it is checked.
    const data::Utf8ToWindows1252Result comment =
        data::utf8ToWindows1252(commentBox_->text().toStdString());
    if (!comment.ok()) {
        refuse(QStringLiteral("Die Bemerkung enthält Zeichen, die nicht gespeichert werden "
                              "können!"),
               commentBox_);
        return;
    }
    const size_t commentRoom =
        data::kCallDirRecordSize - kRecordOverhead - codeBytes.size() - numberBytes.size();
    if (comment.text->size() > commentRoom) {
        refuse(QStringLiteral("Bitte geben Sie nicht mehr als %1 Zeichen als Bemerkung ein!")
                   .arg(commentRoom),
               commentBox_);
        return;
    }

    data::CallDirEntry entry{codeBytes, numberBytes, *comment.text};
    const bool stored = editMode() ? phoneBook_.replace(editIndex_, std::move(entry))
                                   : phoneBook_.append(std::move(entry));
    if (!stored) {
        // Only a book of 32767 entries gets here: one more has no index.
        refuse(QStringLiteral("Das Telefonbuch ist voll!"), shortdialBox_);
        return;
    }
    emit entryStored();
    accept();
}

}  // namespace tellmaro::dialogs
