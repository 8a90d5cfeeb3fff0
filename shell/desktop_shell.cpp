#include "shell/desktop_shell.h"

#include <QCursor>

namespace tellmaro::shell {

namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

DesktopShell::DesktopShell(TrayIcon& tray, MessageBoxes& messages, std::filesystem::path appDir,
                           QObject* parent)
    : QObject(parent), tray_(tray), messages_(messages), appDir_(std::move(appDir)) {
    menu_.setTitle("&Systray");
    menu_.setObjectName("mPopupSys");
    capi_ = addEntry("Analysiere &CAPI", "PMNUcapi");
    menu_.addSeparator();
    callDir_ = addEntry("&Telefonbuch", "PMNUcalldir");
    menu_.addSeparator();
    active_ = addEntry("&Aktiviert", "PMNUactive");
    active_->setCheckable(true);
    active_->setChecked(true);
    settings_ = addEntry("Ein&stellungen", "PMNUset");
    end_ = addEntry("&Ende", "PMNUend");
    tray_.setMenu(menu_);
    connect(&tray_, &TrayIcon::clicked, this, [this] {
        if (!menu_.isVisible()) {
            menu_.popup(QCursor::pos());
        }
    });
}

QAction* DesktopShell::addEntry(const QString& caption, const char* objectName) {
    QAction* action = menu_.addAction(caption);
    action->setObjectName(objectName);
    return action;
}

const QIcon& DesktopShell::icon(std::string_view file) {
    auto it = icons_.find(file);
    if (it == icons_.end()) {
        it = icons_.emplace(file, QIcon(QString::fromStdString((appDir_ / file).string()))).first;
    }
    return it->second;
}

bool DesktopShell::addTray(relay::TrayState state) {
    return tray_.add(icon(state.iconFile), text(state.toolTip));
}

void DesktopShell::removeTray() {
    tray_.remove();
}

void DesktopShell::setTray(relay::TrayState state) {
    tray_.modify(icon(state.iconFile), text(state.toolTip));
}

void DesktopShell::setConfigurationMenuEnabled(bool enabled) {
    for (QAction* entry : {active_, capi_, callDir_, settings_}) {
        entry->setEnabled(enabled);
    }
}

bool DesktopShell::relayActivated() const {
    return active_->isChecked();
}

void DesktopShell::setRelayActivated(bool activated) {
    active_->setChecked(activated);
}

void DesktopShell::showMessage(std::string_view caption, std::string_view message,
                               relay::MessageIcon icon) {
    messages_.show(text(caption), text(message), icon);
}

}  // namespace tellmaro::shell
