#pragma once
// The settings dialog "Einstellungen": edits the settings record and the
// registered mobile number. The relay is suspended from construction until
// the dialog closes; make a new one for every opening.

#include <QDialog>
#include <QString>
#include <optional>

#include "dialogs/log_file_dialog.h"
#include "relay/engine.h"
#include "relay/engine_ports.h"

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tellmaro::dialogs {

class Options final : public QDialog {
    Q_OBJECT

  public:
    Options(relay::Engine& engine, relay::Store& store, relay::ShellPort& shell,
            LogFileDialog& fileDialog, QWidget* parent = nullptr);

    // Esc: the same as "Abbrechen".
    void reject() override;

  protected:
    // The close box closes without the checks of "OK" and "Abbrechen".
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void setToolTips();
    void runOpeningSteps();
    void showSettings();

    void applyLineRule();
    void lineCharsChanged(const QString& text);
    void logFileToggled(bool checked);
    void clearLogClicked();
    void okClicked();
    void cancelClicked();
    void finish(int result);

    // Shows the message and puts the focus into `field`.
    void refuse(std::string_view text, QWidget* field);
    void showError(std::string_view text);
    void createLogFile();

    relay::Engine& engine_;
    relay::Store& store_;
    relay::ShellPort& shell_;
    LogFileDialog& fileDialog_;
    bool loading_ = false;  // CHKfile is set from the settings: no file dialog
    bool closed_ = false;
    std::optional<QString> chosenLogFile_;  // the last file the file dialog returned

    QRadioButton* starEnter_ = nullptr;
    QRadioButton* hashEnter_ = nullptr;
    QCheckBox* logFile_ = nullptr;
    QPushButton* clearLog_ = nullptr;
    QLabel* logFileLabel_ = nullptr;
    QRadioButton* totalEsc_ = nullptr;
    QRadioButton* pcEsc_ = nullptr;
    QLabel* ownNumberLabel_ = nullptr;
    QLineEdit* ownNumber_ = nullptr;
    QLabel* mobileNumberLabel_ = nullptr;
    QLineEdit* mobileNumber_ = nullptr;
    QLabel* lineCharsLabel_ = nullptr;
    QLineEdit* lineChars_ = nullptr;
    QCheckBox* line_ = nullptr;
    QLabel* lineDigitsLabel_ = nullptr;
    QLineEdit* lineDigits_ = nullptr;
    QRadioButton* directCall_ = nullptr;
    QRadioButton* callBack_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace tellmaro::dialogs
