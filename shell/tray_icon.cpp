#include "shell/tray_icon.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QWidget>

namespace tellmaro::shell {

SystemTrayIcon::SystemTrayIcon(QObject* parent)
    : TrayIcon(parent), icon_(new QSystemTrayIcon(this)) {
    // Both buttons open the same menu; double clicks and the middle button
    // do nothing. A D-Bus tray host calls Activate or ContextMenu once the
    // button is released; Qt's XEmbed icon signals on the press, and is
    // handled by eventFilter instead.
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
    // Without a D-Bus tray host Qt shows the icon as a window of its own.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->inherits("QSystemTrayIconSys")) {
            window->installEventFilter(this);
        }
    }
    return true;
}

bool SystemTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonRelease &&
        (mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton) &&
        static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint())) {
        emit clicked();
    }
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
