#include "dialogs/call_data_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <string>

#include "data/entry_rules.h"
#include "data/windows1252.h"

#include "dialogs/named.h"
#include "ui/twips.h"

namespace tellmaro::dialogs {

using ui::place;
using ui::px;

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

void CallDataDialog::onOk() {
    auto checked = data::checkEntry(phoneBook_, shortdialBox_->text().toStdString(),
                                    numberBox_->text().toStdString(),
                                    commentBox_->text().toStdString(), editMode() ? editIndex_ : 0);
    if (auto* refusal = std::get_if<data::EntryRefusal>(&checked)) {
        QLineEdit* box = refusal->field == data::EntryField::code     ? shortdialBox_
                         : refusal->field == data::EntryField::number ? numberBox_
                                                                      : commentBox_;
        refuse(QString::fromStdString(refusal->message), box);
        return;
    }
    data::CallDirEntry entry = std::get<data::CallDirEntry>(std::move(checked));
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
