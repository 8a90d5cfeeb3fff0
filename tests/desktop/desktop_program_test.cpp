// The real tellmaro on tellmaro-sim, its icon on the D-Bus tray of KDE and GNOME's AppIndicator,
// under Xvfb; the test is the StatusNotifierWatcher and host, and an XEmbed tray for Qt's own.
#include <xcb/xcb.h>
#include <QtDBus>
#include <QtTest>

#include "shell/desktop_shell.h"
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

// A session bus with the watcher, for the programs started after it.
class DBusDesktop {
  public:
    DBusDesktop() {
        const std::string address = bus_.waitForOutput("\n", 10s) ? bus_.output() : "";
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.substr(0, address.find('\n')).c_str());
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
    ChildProcess bus_{{"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"},
                      work_.filePath("bus.out").toStdString()};
    QDBusConnection connection_{""};
    StatusNotifierWatcher watcher_;
    QMap<QString, int> ids_;
};

class DesktopProgramTest : public QObject {
    Q_OBJECT

  private slots:
    // First, with no D-Bus tray host: the XEmbed icon's menu opens on release, not on press.
    void theMenuOpensOnReleaseOnAnXEmbedTray() {
        auto* x = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        QWindow tray;  // owns the tray's selection
        auto* atom = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, 19, "_NET_SYSTEM_TRAY_S0"), 0);
        xcb_set_selection_owner(x, tray.winId(), atom->atom, XCB_CURRENT_TIME);
        free(atom);
        shell::SystemTrayIcon icon;
        shell::QtMessageBoxes boxes;
        shell::DesktopShell shell(icon, boxes, TELLMARO_PROGRAM_DIR);
        QVERIFY(shell.addTray(relay::kTrayReady));
        QWidget* onTray = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            onTray = window->inherits("QSystemTrayIconSys") ? window : onTray;
        }
        QVERIFY(onTray);
        const std::tuple<Qt::MouseButton, int, bool> rows[] = {
            {Qt::RightButton, 5, true}, {Qt::LeftButton, 5, true}, {Qt::LeftButton, 50, false}};
        for (const auto& [button, releasedAt, opens] : rows) {
            QTest::mousePress(onTray, button, {}, {5, 5});
            QVERIFY(!shell.menu().isVisible());
            QTest::mouseRelease(onTray, button, {}, {releasedAt, 5});
            QCOMPARE(shell.menu().isVisible(), opens);
            shell.menu().hide();
        }
    }

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

int main(int argc, char** argv) {
    QTemporaryDir work;  // one Xvfb for the test's own windows and the programs it starts
    tellmaro::test::ChildProcess x({"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp"},
                                   work.filePath("xvfb.out").toStdString());
    (void)x.waitForOutput("\n", std::chrono::seconds(10));
    qputenv("DISPLAY", ":" + QByteArray::fromStdString(x.output()).trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");  // a D-Bus tray only once the test starts one
    QApplication app(argc, argv);
    tellmaro::test::DesktopProgramTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "desktop_program_test.moc"
