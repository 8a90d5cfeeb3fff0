// The real tellmaro on tellmaro-sim, its icon on the D-Bus tray of KDE and GNOME's
// AppIndicator, under Xvfb; the test is the StatusNotifierWatcher and reads the menu as a host.
#include <QtDBus>
#include <QtTest>

#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace tellmaro::test {

using namespace std::chrono_literals;

// Qt puts its icon on D-Bus only when a watcher runs and says a host is there.
class StatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
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
    DBusDesktop() {
        auto firstLine = [](const ChildProcess& server) {
            const std::string text = server.waitForOutput("\n", 10s) ? server.output() : "";
            return text.substr(0, text.find('\n'));
        };
        qputenv("DISPLAY", (":" + firstLine(x_)).c_str());
        qputenv("DBUS_SESSION_BUS_ADDRESS", firstLine(bus_).c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
        connection_ = QDBusConnection::connectToBus(qgetenv("DBUS_SESSION_BUS_ADDRESS"), "host");
        ready = connection_.registerObject("/StatusNotifierWatcher", &watcher_,
                                           QDBusConnection::ExportAllContents) &&
                connection_.registerService("org.kde.StatusNotifierWatcher");
    }
    ~DBusDesktop() { QDBusConnection::disconnectFromBus("host"); }

    QList<QVariant> call(const QString& path, const QString& interface, const QString& method,
                         const QVariantList& arguments) {
        auto message =
            QDBusMessage::createMethodCall(watcher_.items.value(0), path, interface, method);
        message.setArguments(arguments);
        return connection_.call(message, QDBus::BlockWithGui, 5000).arguments();
    }
    // Where Qt exports the item's menu, as its Menu property says.
    static constexpr const char* kMenu = "/MenuBar";
    // The exported menu as a host shows it: "" a separator, " [x]" a mark, "(…)" disabled.
    QStringList menu() {
        if (watcher_.items.isEmpty()) {
            return {};  // not registered yet: a call to no one would block
        }
        const auto root = call(kMenu, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()})
                              .value(1)
                              .value<QDBusArgument>();  // empty when the call failed
        QStringList entries;
        int id = 0;
        QVariantMap item;
        root.beginStructure();
        root >> id >> item;
        root.beginArray();
        while (!root.atEnd()) {
            const auto child = qdbus_cast<QDBusVariant>(root).variant().value<QDBusArgument>();
            child.beginStructure();
            child >> id >> item;
            QString text = item.value("label").toString();
            text = item.value("enabled", true).toBool() ? text : "(" + text + ")";
            if (item.value("toggle-type") == "checkmark") {
                text += item.value("toggle-state").toInt() == 1 ? " [x]" : " [ ]";
            }
            ids_[text] = id;
            entries << text;
        }
        return entries;
    }
    void click(const QString& entry) {
        call(kMenu, "com.canonical.dbusmenu", "Event",
             {ids_.value(entry, -1), "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    }

    bool ready = false;

  private:
    QTemporaryDir work_;
    ChildProcess x_{
        {"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"},
        work_.filePath("xvfb.out").toStdString()};
    ChildProcess bus_{{"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"},
                      work_.filePath("bus.out").toStdString()};
    QDBusConnection connection_{""};
    StatusNotifierWatcher watcher_;
    QMap<QString, int> ids_;
};

class DesktopProgramTest : public QObject {
    Q_OBJECT

  private slots:
    // Every entry enabled once start-up has finished, a click there acts; SIGTERM, as when the
    // session ends, ends the program as "&Ende" does.
    void theIconAndItsMenuOnTheDBusTray() {
        ProgramDirectory program(TELLMARO_PROGRAM_DIR);
        QVERIFY(program.configure());
        SimulatorProcess sim(TELLMARO_SIM_PATH, "end 60s\n");
        DBusDesktop desktop;
        QVERIFY(desktop.ready);
        ChildProcess tellmaro = program.start("tellmaro", "tray");

        QTRY_COMPARE_WITH_TIMEOUT(desktop.menu(),
                                  QStringList({"Analysiere _CAPI", "", "_Telefonbuch", "",
                                               "_Aktiviert [x]", "Ein_stellungen", "_Ende"}),
                                  10000);
        desktop.click("_Aktiviert [x]");
        QTRY_COMPARE(desktop.menu().value(4), QString("_Aktiviert [ ]"));
        QCOMPARE(tellmaro.stop(SIGTERM), 0);
        QVERIFY2(sim.output().find("application 1 released") != std::string::npos,
                 sim.output().c_str());
    }
};

}  // namespace tellmaro::test

QTEST_GUILESS_MAIN(tellmaro::test::DesktopProgramTest)
#include "desktop_program_test.moc"
