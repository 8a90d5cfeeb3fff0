// The real tellmaro on tellmaro-sim, its icon on the D-Bus tray of KDE and GNOME's
// AppIndicator, under Xvfb; the test is the StatusNotifierWatcher and reads the menu as a host.
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

// Qt puts its icon on D-Bus only when a watcher runs and says a host is there.
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

// Xvfb and a session bus with the watcher, for the programs started after it.
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
    // The exported menu as a host shows it: "&" for D-Bus's "_", "-" a separator, " [x]" a
    // mark, "(…)" disabled.
    QStringList menu() {
        if (watcher_.items.isEmpty()) {
            return {};
        }
        menuPath_ = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                         {"org.kde.StatusNotifierItem", "Menu"})
                        .arguments()
                        .value(0)
                        .value<QDBusVariant>()
                        .variant()
                        .value<QDBusObjectPath>()
                        .path();
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
            const auto item = child.variant().value<QDBusArgument>();
            item.beginStructure();
            item >> id >> properties;
            QString text = properties.value("label").toString().replace('_', '&');
            text = properties.value("type") == "separator"      ? "-"
                   : properties.value("enabled", true).toBool() ? text
                                                                : "(" + text + ")";
            if (properties.value("toggle-type") == "checkmark") {
                text += properties.value("toggle-state").toInt() == 1 ? " [x]" : " [ ]";
            }
            ids_[text] = id;
            entries << text;
        }
        return entries;
    }
    bool click(const QString& entry) {
        return ids_.contains(entry) &&
               call(menuPath_, "com.canonical.dbusmenu", "Event",
                    {ids_[entry], "clicked", QVariant::fromValue(QDBusVariant(0)), 0u})
                       .type() == QDBusMessage::ReplyMessage;
    }

  private:
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
    // The menu a host shows, with "&Aktiviert" and "&Ende" chosen there.
    void theIconAndItsMenuOnTheDBusTray() {
        ProgramDirectory program(TELLMARO_PROGRAM_DIR);
        QVERIFY(program.configure());
        SimulatorProcess sim(TELLMARO_SIM_PATH, "end 60s\n");
        DBusDesktop desktop;
        QVERIFY(desktop.ready());
        ChildProcess tellmaro = program.start("tellmaro", "tray");

        // Every entry enabled once start-up has finished; a disabled one would show in "()".
        QTRY_COMPARE_WITH_TIMEOUT(desktop.menu(),
                                  QStringList({"Analysiere &CAPI", "-", "&Telefonbuch", "-",
                                               "&Aktiviert [x]", "Ein&stellungen", "&Ende"}),
                                  10000);
        QVERIFY(desktop.click("&Aktiviert [x]"));
        QTRY_COMPARE(desktop.menu().value(4), QString("&Aktiviert [ ]"));

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
