#pragma once
// The notification-area icon behind a seam: the desktop uses the system
// tray, tests a double that records what was shown. Qt shows the icon
// through a StatusNotifierItem on D-Bus where the desktop runs a
// StatusNotifierWatcher (KDE, GNOME with the AppIndicator extension), and
// through an XEmbed tray elsewhere.

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
    // The menu for trays that draw it themselves: a D-Bus tray exports it
    // (com.canonical.dbusmenu) and shows it natively, on Wayland too, when
    // its host decides to.
    virtual void setMenu(QMenu&) {}

  signals:
    // A left or right click on the icon, its button released over it: time
    // to pop up the menu, unless the tray has done so already.
    void clicked();
};

class SystemTrayIcon final : public TrayIcon {
    Q_OBJECT

  public:
    explicit SystemTrayIcon(QObject* parent = nullptr);

    bool add(const QIcon& icon, const QString& toolTip) override;
    void modify(const QIcon& icon, const QString& toolTip) override;
    void remove() override;
    void setMenu(QMenu& menu) override;

  protected:
    // Qt's XEmbed icon reports a click, and pops the menu up, when a button
    // goes down; its button events are taken here, and a release over the
    // icon is the click.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QSystemTrayIcon* icon_;
};

}  // namespace tellmaro::shell
