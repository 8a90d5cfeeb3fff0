#include "dialogs/options_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "data/call_log.h"
#include "data/settings_rules.h"
#include "data/windows1252.h"
#include "dialogs/named.h"

namespace tellmaro::dialogs {

namespace {

constexpr int kMaxTextLength = 255;
const QString kFileCaption = QStringLiteral("Datei: ");

QString fromStored(const std::string& windows1252) {
    return QString::fromStdString(data::windows1252ToUtf8(windows1252));
}

std::filesystem::path storedPath(const std::string& windows1252) {
    return std::filesystem::path(data::windows1252ToUtf8(windows1252));
}

QLineEdit* textBox(const char* name, int maxLength = kMaxTextLength) {
    auto* box = named(new QLineEdit, name);
    box->setMaxLength(maxLength);
    return box;
}

QLabel* label(const char* name, const QString& caption, QWidget* buddy = nullptr) {
    auto* result = named(new QLabel(caption), name);
    result->setWordWrap(true);
    if (buddy != nullptr) {
        result->setBuddy(buddy);
    }
    return result;
}

QGroupBox* frame(const char* name, const QString& caption) {
    auto* box = named(new QGroupBox(caption), name);
    new QVBoxLayout(box);
    return box;
}

void addTo(QGroupBox* box, std::initializer_list<QWidget*> widgets) {
    for (QWidget* widget : widgets) {
        box->layout()->addWidget(widget);
    }
}

}  // namespace

Options::Options(relay::Engine& engine, relay::Store& store, relay::ShellPort& shell,
                 LogFileDialog& fileDialog, QWidget* parent)
    : QDialog(parent), engine_(engine), store_(store), shell_(shell), fileDialog_(fileDialog) {
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setModal(false);
    setSizeGripEnabled(false);
    buildControls();
    runOpeningSteps();
}

void Options::buildControls() {
    starEnter_ = named(new QRadioButton(QStringLiteral("&*=Ok #=Esc")), "RADstar_enter");
    hashEnter_ = named(new QRadioButton(QStringLiteral("&#=Ok *=Esc")), "RADhash_enter");
    logFile_ = named(new QCheckBox(QStringLiteral("&Erstelle Log Datei...")), "CHKfile");
    clearLog_ = named(new QPushButton(QStringLiteral("&Lösche Log Datei")), "BTNclear_log");
    clearLog_->setAutoDefault(false);
    logFileLabel_ = label("LBLlog_file", kFileCaption);
    totalEsc_ =
        named(new QRadioButton(QStringLiteral("&Kompletter Verbindungsabbau")), "RADtotal_esc");
    pcEsc_ = named(new QRadioButton(QStringLiteral("Einseitiger &Verbindungsabbau")), "RADpc_esc");
    ownNumber_ = textBox("TXTown_number");
    ownNumberLabel_ =
        label("LBLown_number", QStringLiteral("&Rufnummer des Computeranschlusses"), ownNumber_);
    mobileNumber_ = textBox("TXTmobile_number");
    mobileNumberLabel_ =
        label("LBLmobile_number", QStringLiteral("Rufnummer des &Handys"), mobileNumber_);
    lineChars_ = textBox("TXTline_char");
    lineCharsLabel_ = label("LBLline_char", QStringLiteral("Zeichen für Amtsholung"), lineChars_);
    line_ = named(new QCheckBox(QStringLiteral("&Automatische Amtsholung")), "CHKline");
    lineDigits_ = textBox("TXTline_digits", 2);
    lineDigitsLabel_ =
        label("LBLline_digits", QStringLiteral("Anzahl der Zeichen für automatische Amtsholung"),
              lineDigits_);
    directCall_ =
        named(new QRadioButton(QStringLiteral("&Direkter Verbindungsaufbau")), "RADdirect_call");
    callBack_ =
        named(new QRadioButton(QStringLiteral("Verbindungsaufbau nach R&ückruf ")), "RADcall_back");
    okButton_ = named(new QPushButton(QStringLiteral("OK")), "OKButton");
    okButton_->setDefault(true);
    cancelButton_ = named(new QPushButton(QStringLiteral("Abbrechen")), "CancelButton");

    // Each frame is its own parent, so its two option buttons form one group.
    QGroupBox* keys = frame("FMEok_esc", QStringLiteral("Bestätiguns- und Abbruchzeichen"));
    addTo(keys, {starEnter_, hashEnter_});
    QGroupBox* log = frame("FMElog_dat", QStringLiteral("Log Datei"));
    addTo(log, {logFile_, clearLog_, logFileLabel_});
    QGroupBox* disconnect = frame("FRMesc", QStringLiteral("Verbindungsabbau"));
    addTo(disconnect, {totalEsc_, pcEsc_});
    QGroupBox* numbers = frame("FMEnumber", QStringLiteral("Rufnummereinstellungen"));
    addTo(numbers, {ownNumberLabel_, ownNumber_, mobileNumberLabel_, mobileNumber_, lineCharsLabel_,
                    lineChars_, line_, lineDigitsLabel_, lineDigits_});
    QGroupBox* mode = frame("FRMmode", QStringLiteral("Verbindungs-Modus"));
    addTo(mode, {directCall_, callBack_});

    auto* left = new QVBoxLayout;
    left->addWidget(keys);
    left->addWidget(log);
    left->addWidget(disconnect);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(numbers);
    right->addWidget(mode);
    right->addStretch();
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    buttons->addStretch();
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(columns);
    whole->addLayout(buttons);
    whole->setSizeConstraint(QLayout::SetFixedSize);

    QWidget* const order[] = {okButton_,  cancelButton_, starEnter_,  hashEnter_,  logFile_,
                              clearLog_,  totalEsc_,     pcEsc_,      ownNumber_,  mobileNumber_,
                              lineChars_, line_,         lineDigits_, directCall_, callBack_};
    for (size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
    okButton_->setFocus();

    connect(line_, &QCheckBox::toggled, this, [this] { applyLineRule(); });
    connect(lineChars_, &QLineEdit::textChanged, this, &Options::lineCharsChanged);
    connect(logFile_, &QCheckBox::toggled, this, &Options::logFileToggled);
    connect(clearLog_, &QPushButton::clicked, this, &Options::clearLogClicked);
    connect(okButton_, &QPushButton::clicked, this, &Options::okClicked);
    connect(cancelButton_, &QPushButton::clicked, this, &Options::cancelClicked);
}

void Options::setToolTips() {
    clearLog_->setToolTip(QStringLiteral(
        "Löscht aktuelle Log Datei. Neue Daten werden in Datei gleichen Namens geschrieben"));
    hashEnter_->setToolTip(
        QStringLiteral("Ausgewählt: #: Eingegebene Nummer wird angerufen. *: bestehende "
                       "Verbindung wird abgebrochen, bzw. eingegebenen Zahlen gelöscht"));
    starEnter_->setToolTip(
        QStringLiteral("Ausgewählt: *: Eingegebene Nummer wird angerufen. #: bestehende "
                       "Verbindung wird abgebrochen, bzw. eingegebenen Zahlen gelöscht"));
    logFile_->setToolTip(
        QStringLiteral("Ausgewählt: Angerufene Nummer, Uhrzeit und Dauer des Gespräches werden "
                       "in beliebiger Textdatei gespeichert"));
    const QString own = QStringLiteral("Bitte hier Rufnummer des PCs eintragen");
    ownNumber_->setToolTip(own);
    ownNumberLabel_->setToolTip(own);
    const QString mobile = QStringLiteral(
        "Bitte hier Rufnummer des Handys eintragen, dessen Anrufe vermittelt werden");
    mobileNumber_->setToolTip(mobile);
    mobileNumberLabel_->setToolTip(mobile);
    line_->setToolTip(
        QStringLiteral("Ausgewählt: Automatisches holen eines Amts, falls beim Wählen eine "
                       "bestimmte Ziffernanzahl überschritten wird"));
    const QString digits = QStringLiteral(
        "Bitte hier Anzahl der Zeichen eintragen, bei deren Überschreitung eine "
        "automatische Amtsholung erfolgen soll");
    lineDigits_->setToolTip(digits);
    lineDigitsLabel_->setToolTip(digits);
    const QString chars = QStringLiteral(
        " Bitte hier Zeichen eintragen, die zur Amtsholung gewählt werden müssen. "
        "Offenlassen falls nicht benötigt");
    lineChars_->setToolTip(chars);
    lineCharsLabel_->setToolTip(chars);
    pcEsc_->setToolTip(
        QStringLiteral("Ausgewählt: Nur Verbindungsabbruch zwischen PC und Angerufenem, wenn der "
                       "Angerufene auflegt"));
    totalEsc_->setToolTip(QStringLiteral(
        "Ausgewählt: Sämtliche Verbindungen werden getrennt, wenn der Angerufene auflegt"));
    directCall_->setToolTip(QStringLiteral("Ausgewählt: PC nimmt Anruf entgegen"));
    callBack_->setToolTip(
        QStringLiteral("Ausgewählt: PC nimmt Anruf nicht entgegen, ruft stattdessen zurück"));
}

void Options::runOpeningSteps() {
    // A failed listen request has been reported; the controls stay as built.
    if (!engine_.suspendRelay(relay::kTraySuspendedForConfiguration)) {
        return;
    }
    setToolTips();
    showSettings();
}

void Options::showSettings() {
    const data::SettingsRecord& settings = store_.settings();
    (settings.starConfirms ? starEnter_ : hashEnter_)->setChecked(true);

    if (!settings.logFilePath.empty() && settings.logEnabled) {
        loading_ = true;
        logFile_->setChecked(true);
        loading_ = false;
        logFileLabel_->setEnabled(true);
        logFileLabel_->setText(kFileCaption + fromStored(settings.logFileName));
        clearLog_->setEnabled(true);
    } else {
        logFileLabel_->setEnabled(false);
        logFileLabel_->setText(kFileCaption);
        clearLog_->setEnabled(false);
    }

    (settings.totalDisconnect ? totalEsc_ : pcEsc_)->setChecked(true);

    const size_t ownLength = std::min<size_t>(settings.ownNumberLength, settings.ownNumber.size());
    ownNumber_->setText(fromStored(settings.ownNumber.substr(0, ownLength)));
    mobileNumber_->setText(QString::fromStdString(store_.storedMobileNumber()));

    lineChars_->setText(fromStored(settings.lineAccessChars));
    if (lineChars_->text().isEmpty()) {
        line_->setEnabled(false);
        lineDigits_->setEnabled(false);
        lineDigitsLabel_->setEnabled(false);
    } else if (settings.lineAccessEnabled) {
        line_->setChecked(true);
        lineDigits_->setText(QString::number(settings.lineAccessDigits));
    }

    (settings.callBack ? callBack_ : directCall_)->setChecked(true);
    applyLineRule();
}

void Options::applyLineRule() {
    lineDigits_->setEnabled(line_->isChecked());
    lineDigitsLabel_->setEnabled(line_->isChecked());
}

void Options::lineCharsChanged(const QString& text) {
    if (text.isEmpty()) {
        line_->setEnabled(false);
        lineDigits_->setEnabled(false);
        lineDigitsLabel_->setEnabled(false);
        return;
    }
    line_->setEnabled(true);
    applyLineRule();
}

void Options::logFileToggled(bool checked) {
    if (loading_) {
        return;
    }
    clearLog_->setEnabled(checked);
    logFileLabel_->setEnabled(checked);
    if (!checked) {
        logFileLabel_->setText(kFileCaption);
        return;
    }
    std::optional<QString> chosen =
        fileDialog_.askForLogFile(this, QString::fromStdString(store_.logFolder().string()));
    if (!chosen) {
        // Unchecking runs this rule again, which disables and clears the label.
        logFile_->setChecked(false);
        return;
    }
    chosenLogFile_ = std::move(chosen);
    logFileLabel_->setText(kFileCaption + QFileInfo(*chosenLogFile_).fileName());
}

void Options::clearLogClicked() {
    // The stored path: a file chosen since opening is not in use yet.
    const std::filesystem::path path = storedPath(store_.settings().logFilePath);
    if (path.empty()) {
        return;
    }
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status)) {
        return;
    }
    if (std::filesystem::is_directory(status) || !std::filesystem::remove(path, error)) {
        showError(
            "Die Log Datei konnte nicht gelöscht werden. Log Datei Erstellung wurde deaktiviert!");
        logFile_->setChecked(false);
    }
}

void Options::okClicked() {
    data::SettingsRecord& settings = store_.settings();
    settings.starConfirms = starEnter_->isChecked();

    if (logFile_->isChecked()) {
        createLogFile();
    } else {
        settings.logEnabled = false;
        settings.logFilePath.clear();
        settings.logFileName.clear();
    }

    settings.totalDisconnect = !pcEsc_->isChecked();

    const data::NumberEntries entries{
        ownNumber_->text().toStdString(), mobileNumber_->text().toStdString(),
        lineChars_->text().toStdString(), line_->isChecked(), lineDigits_->text().toStdString()};
    if (auto refusal = data::applyNumberEntries(entries, settings)) {
        QWidget* const fields[] = {ownNumber_, mobileNumber_, lineChars_, lineDigits_};
        return refuse(refusal->message, fields[static_cast<int>(refusal->field)]);
    }

    settings.callBack = callBack_->isChecked();

    if (!store_.saveSettings(entries.mobileNumber)) {
        return;
    }
    engine_.setRegisteredMobileNumber(entries.mobileNumber);
    finish(QDialog::Accepted);
}

void Options::createLogFile() {
    data::SettingsRecord& settings = store_.settings();
    settings.logEnabled = true;
    bool usable = true;
    if (chosenLogFile_) {
        auto path = data::utf8ToWindows1252(chosenLogFile_->toStdString());
        auto name = data::utf8ToWindows1252(QFileInfo(*chosenLogFile_).fileName().toStdString());
        if (path.ok() && name.ok()) {
            settings.logFilePath = *path.text;
            settings.logFileName = *name.text;
        } else {
            // A path the settings file cannot hold: nothing to try again on closing.
            settings.logEnabled = false;
            usable = false;
        }
    }
    if (usable) {
        data::CallLog file;
        usable = file.open(storedPath(settings.logFilePath)).ok && file.close().ok;
    }
    if (!usable) {
        showError("Die Log Datei kann an der angegebenen Stelle nicht erstellt werden!");
        logFile_->setChecked(false);
    }
}

void Options::cancelClicked() {
    if (!store_.reloadSettings()) {
        showError(
            "Das Programm ist noch nicht Konfiguriert!\n\rBitte stellen Sie die gewünschten "
            "Parameter ein!");
        return;
    }
    finish(QDialog::Rejected);
}

void Options::reject() {
    cancelClicked();
}

void Options::finish(int result) {
    if (!closed_) {
        closed_ = true;
        engine_.resumeRelay();
    }
    QDialog::done(result);
}

void Options::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        finish(QDialog::Rejected);
    }
    event->accept();
}

void Options::refuse(std::string_view text, QWidget* field) {
    showError(text);
    field->setFocus();
}

void Options::showError(std::string_view text) {
    shell_.showMessage(relay::kErrorCaption, text, relay::MessageIcon::Critical);
}

}  // namespace tellmaro::dialogs
