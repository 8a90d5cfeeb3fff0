#include "shell/desktop_session.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tellmaro::shell {

namespace {

void report(const char* problem) {
    std::fprintf(stderr,
                 "Tellmaro kann nicht starten: %s\nBitte starten Sie Tellmaro in einer "
                 "Desktop-Sitzung. Ohne Desktop läuft das Relais als tellmaro-console.\n",
                 problem);
}

bool given(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

bool windowSystemNamed(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-platform" || arg == "--platform") {
            return true;
        }
    }
    return given("DISPLAY") || given("WAYLAND_DISPLAY") || given("QT_QPA_PLATFORM");
}

QtMessageHandler qtHandler = nullptr;

// Qt reports a platform it cannot open as a fatal message, then aborts.
void endOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        qtHandler(type, context, message);
        return;
    }
    report("Die grafische Oberfläche ist nicht erreichbar.");
    std::_Exit(1);
}

}  // namespace

std::unique_ptr<QApplication> openDesktopSession(int& argc, char** argv) {
    if (!windowSystemNamed(argc, argv)) {
        report(
            "Es gibt keine grafische Oberfläche (weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt).");
        return nullptr;
    }
    qtHandler = qInstallMessageHandler(endOnFatal);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(qtHandler);
    return app;
}

}  // namespace tellmaro::shell
