#pragma once
// The desktop program started where there is no desktop: from an SSH
// session, a service or cron. Qt would abort with a core dump; the user gets
// a German message on stderr and exit status 1 instead.

#include <QApplication>
#include <memory>

namespace tellmaro::shell {

// The program's QApplication, or null when there is no window system to
// open: then the message is on stderr. A window system is named by
// $DISPLAY, $WAYLAND_DISPLAY, or a Qt platform ($QT_QPA_PLATFORM,
// "-platform"); one named that does not answer (a stale $DISPLAY) ends the
// program here with the message and exit status 1, after Qt's warnings that
// say which display was tried.
std::unique_ptr<QApplication> openDesktopSession(int& argc, char** argv);

}  // namespace tellmaro::shell
