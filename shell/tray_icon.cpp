#include "shell/tray_icon.h"

#include <QSystemTrayIcon>

namespace tellmaro::shell {

SystemTrayIcon::SystemTrayIcon(QObject* parent)
    : TrayIcon(parent), icon_(new QSystemTrayIcon(this)) {
    // Both buttons open the same menu; double clicks and the middle button do nothing.
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
                    emit clicked();
                }
            });
}

bool SystemTrayIcon::add(const QIcon& icon, const QString& toolTip) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    modify(icon, toolTip);
    icon_->show();
    return true;
}

void SystemTrayIcon::modify(const QIcon& icon, const QString& toolTip) {
    icon_->setIcon(icon);
    icon_->setToolTip(toolTip);
}

void SystemTrayIcon::remove() {
    icon_->hide();
}

void SystemTrayIcon::setMenu(QMenu& menu) {
    icon_->setContextMenu(&menu);
}

}  // namespace tellmaro::shell
