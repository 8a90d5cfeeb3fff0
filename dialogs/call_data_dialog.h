#pragma once
// "Telefonbucheintrag": the modal dialog in which one phone book entry is
// typed in or changed. Its OK button checks the entry and stores it in the
// engine's phone book at once; the file follows only when the phone book
// window is confirmed.

#include <QDialog>
#include <cstdint>

#include "data/call_dir.h"
#include "relay/engine_ports.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tellmaro::dialogs {

class CallDataDialog : public QDialog {
    Q_OBJECT

  public:
    // `editIndex` 1..N changes that entry; 0 adds a new one.
    CallDataDialog(data::PhoneBook& phoneBook, relay::ShellPort& shell, int16_t editIndex,
                   QWidget* parent = nullptr);

    bool editMode() const { return editIndex_ != 0; }

  signals:
    // The phone book in memory was changed; emitted before the dialog closes.
    void entryStored();

  private:
    void onOk();
    // Shows `text` as an error and puts the focus into `box`.
    void refuse(const QString& text, QLineEdit* box);
    data::PhoneBook& phoneBook_;
    relay::ShellPort& shell_;
    int16_t editIndex_;

    QLabel* titleLabel_;
    QLineEdit* shortdialBox_;
    QLineEdit* numberBox_;
    QLineEdit* commentBox_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

}  // namespace tellmaro::dialogs
