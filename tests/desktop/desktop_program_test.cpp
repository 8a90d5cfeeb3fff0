// The real tellmaro against tellmaro-sim through libcapi20, with its icon on
// the D-Bus tray (StatusNotifierItem) of KDE and of GNOME's AppIndicator
// extension, under Xvfb and a session bus of its own; the test is the bus's
// StatusNotifierWatcher and reads the item and its menu as a tray host does.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTemporaryDir>
#include <QtTest>

#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace tellmaro::test {

using namespace std::chrono_literals;

// The tray host's registry: Qt puts its icon on D-Bus only when one runs
// and says a host is there.
class StatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

  public:
    QStringList items;
    bool hostRegistered() const { return true; }

  public slots:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
};

// Xvfb and a session bus with the watcher on it, for the programs started
// after it; and the item of the first icon that registered, read over D-Bus.
class DBusDesktop {
  public:
    DBusDesktop()
        : x_({"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"},
             work_.filePath("xvfb.out").toStdString()),
          bus_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"},
               work_.filePath("bus.out").toStdString()),
          display_(firstLine(x_)),
          address_(firstLine(bus_)),
          connection_(QDBusConnection::connectToBus(QString::fromStdString(address_), "host")) {
        ready_ = !display_.empty() && connection_.isConnected() &&
                 connection_.registerObject("/StatusNotifierWatcher", &watcher_,
                                            QDBusConnection::ExportAllContents) &&
                 connection_.registerService("org.kde.StatusNotifierWatcher");
        qputenv("DISPLAY", (":" + display_).c_str());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    ~DBusDesktop() { QDBusConnection::disconnectFromBus("host"); }

    bool ready() const { return ready_; }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments) {
        auto message =
            QDBusMessage::createMethodCall(watcher_.items.value(0), path, interface, method);
        message.setArguments(arguments);
        return connection_.call(message, QDBus::BlockWithGui, 5000);
    }
    QVariant property(const QString& name) {
        if (watcher_.items.isEmpty()) {
            return {};
        }
        QDBusMessage reply = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                  {"org.kde.StatusNotifierItem", name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    // ToolTip is (icon name, pictures (width, height, ARGB), title, text); the title is the tip.
    QString toolTip() {
        QString title;
        QVariant tip = property("ToolTip");
        if (tip.canConvert<QDBusArgument>()) {
            const auto parts = tip.value<QDBusArgument>();
            parts.beginStructure();
            parts >> title;
            parts.beginArray();
            while (!parts.atEnd()) {
                int width = 0, height = 0;
                QByteArray argb;
                parts.beginStructure();
                parts >> width >> height >> argb;
                parts.endStructure();
            }
            parts.endArray();
            parts >> title;
        }
        return title;
    }

    // The menu the item exports (com.canonical.dbusmenu) as a host shows it:
    // "&" before the access key (D-Bus writes "_"), "-" for a separator, a
    // check mark as " [x]". Keeps each entry's id for click().
    QStringList menu() {
        menuPath_ = property("Menu").value<QDBusObjectPath>().path();
        QDBusMessage reply =
            call(menuPath_, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        if (reply.arguments().size() != 2) {
            return {"no menu at " + menuPath_ + ": " + reply.errorMessage()};
        }
        QStringList entries;
        const auto root = reply.arguments().at(1).value<QDBusArgument>();
        int id = 0;
        QVariantMap properties;
        root.beginStructure();
        root >> id >> properties;
        root.beginArray();
        while (!root.atEnd()) {
            QDBusVariant child;
            root >> child;
            entries << entry(child.variant().value<QDBusArgument>());
        }
        root.endArray();
        return entries;
    }
    bool click(const QString& entry) {
        return ids_.contains(entry) &&
               call(menuPath_, "com.canonical.dbusmenu", "Event",
                    {ids_[entry], "clicked", QVariant::fromValue(QDBusVariant(0)), 0u})
                       .type() == QDBusMessage::ReplyMessage;
    }

  private:
    QString entry(const QDBusArgument& item) {
        int id = 0;
        QVariantMap properties;
        item.beginStructure();
        item >> id >> properties;
        if (properties.value("type") == "separator") {
            return "-";
        }
        QString text = properties.value("label").toString().replace('_', '&');
        if (properties.value("toggle-type") == "checkmark") {
            text += properties.value("toggle-state").toInt() == 1 ? " [x]" : " [ ]";
        }
        ids_[text] = id;
        return text;
    }

    // Xvfb prints its display number, dbus-daemon its address, once ready.
    static std::string firstLine(const ChildProcess& server) {
        if (!server.waitForOutput("\n", 10s)) {
            return {};
        }
        std::string text = server.output();
        return text.substr(0, text.find('\n'));
    }

    QTemporaryDir work_;
    ChildProcess x_;
    ChildProcess bus_;
    std::string display_;
    std::string address_;
    QDBusConnection connection_;
    StatusNotifierWatcher watcher_;
    bool ready_ = false;
    QString menuPath_;
    QMap<QString, int> ids_;
};

class DesktopProgramTest : public QObject {
    Q_OBJECT

  private slots:
    // The icon's tips and the menu a host shows, with "&Aktiviert" and "&Ende" chosen there.
    void theIconAndItsMenuOnTheDBusTray() {
        ProgramDirectory program(TELLMARO_PROGRAM_DIR);
        QVERIFY(program.configure());
        SimulatorProcess sim(TELLMARO_SIM_PATH, "end 60s\n");
        DBusDesktop desktop;
        QVERIFY(desktop.ready());
        ChildProcess tellmaro = program.start("tellmaro", "tray");

        QTRY_COMPARE_WITH_TIMEOUT(desktop.toolTip(), QString("Tellmaro ist betriebsbereit"), 10000);
        QCOMPARE(desktop.menu(), QStringList({"Analysiere &CAPI", "-", "&Telefonbuch", "-",
                                              "&Aktiviert [x]", "Ein&stellungen", "&Ende"}));

        QVERIFY(desktop.click("&Aktiviert [x]"));
        QTRY_COMPARE(desktop.toolTip(), QString("Tellmaro ist deaktiviert"));
        QCOMPARE(desktop.menu().value(4), QString("&Aktiviert [ ]"));

        QVERIFY(desktop.click("&Ende"));
        QTRY_VERIFY_WITH_TIMEOUT(!tellmaro.running(), 5000);
        QCOMPARE(tellmaro.wait(), 0);
        QVERIFY2(sim.output().find("application 1 released") != std::string::npos,
                 sim.output().c_str());
    }
};

}  // namespace tellmaro::test

QTEST_GUILESS_MAIN(tellmaro::test::DesktopProgramTest)
#include "desktop_program_test.moc"
