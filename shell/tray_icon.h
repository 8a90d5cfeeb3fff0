#pragma once
// The notification-area icon behind a seam: the desktop uses the system
// tray, tests a double that records what was shown.

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace tellmaro::shell {

class TrayIcon : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;
    ~TrayIcon() override = default;

    // False when the desktop has no notification area: the icon cannot be added.
    virtual bool add(const QIcon& icon, const QString& toolTip) = 0;
    virtual void modify(const QIcon& icon, const QString& toolTip) = 0;
    virtual void remove() = 0;

  signals:
    // A left or right click on the icon, released: time to pop up the menu.
    void clicked();
};

class SystemTrayIcon final : public TrayIcon {
    Q_OBJECT

  public:
    explicit SystemTrayIcon(QObject* parent = nullptr);

    bool add(const QIcon& icon, const QString& toolTip) override;
    void modify(const QIcon& icon, const QString& toolTip) override;
    void remove() override;

  private:
    QSystemTrayIcon* icon_;
};

}  // namespace tellmaro::shell
