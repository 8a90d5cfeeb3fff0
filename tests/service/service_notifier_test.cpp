// What systemd hears, read from a real notify socket: in-process what the notifier
// decides, and from tellmaro-sip each of its lines.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "service/journal.h"
#include "service/service_notifier.h"
#include "support/child_process.h"

namespace tellmaro::test {
namespace {

// systemd's socket, named in NOTIFY_SOCKET; received() joins what came by "|".
struct NotifySocket {
    std::filesystem::path dir = freshFolder("notify");
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    NotifySocket() {
        sockaddr_un address{AF_UNIX, {}};
        (dir / "s").string().copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        const timeval wait{0, 50000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        setenv("NOTIFY_SOCKET", address.sun_path, 1);
        setenv("WATCHDOG_USEC", "400000", 1);
    }
    ~NotifySocket() { close(fd), std::filesystem::remove_all(dir); }
    std::string received() {
        std::string all;
        char buffer[512];
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            all += (all.empty() ? "" : "|") + std::string(buffer, static_cast<size_t>(got));
        }
        return all;
    }
};

TEST(ServiceNotifier, EachCallSendsItsLine) {
#ifndef TELLMARO_HAVE_SYSTEMD
    GTEST_SKIP() << "built without libsystemd: nothing is sent";
#endif
    NotifySocket socket;
    service::ServiceNotifier n;
    EXPECT_EQ(n.watchdogInterval(), std::chrono::milliseconds(200));
    const std::pair<std::function<void()>, const char*> rows[] = {
        {[&] { n.status("registered"); }, "STATUS=registered"},
        {[&] { n.status("registered"); }, ""},
        {[&] { n.status("x\nREADY=1"); }, "STATUS=x READY=1"},
        {[&] { n.watchdogTick(), n.watchdogTick(); }, "WATCHDOG=1"},
    };
    for (const auto& [call, sent] : rows) {
        call();
        EXPECT_EQ(socket.received(), sent);
    }
    unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(service::ServiceNotifier().watchdogInterval().count(), 0);
}

TEST(Journal, OnlyTheStreamSystemdNamesIsTheJournal) {
    struct stat err {};
    fstat(2, &err);
    for (const auto& [stream, journal] :
         {std::pair{std::to_string(err.st_dev) + ":" + std::to_string(err.st_ino), true},
          {"1:2", false}}) {
        setenv("JOURNAL_STREAM", stream.c_str(), 1);
        EXPECT_EQ(service::stderrIsJournal(), journal) << stream;
    }
    unsetenv("JOURNAL_STREAM");
}

TEST(ServiceNotifier, TellmaroSipSaysReadyStatusPingsAndStopping) {
#ifndef TELLMARO_HAVE_SYSTEMD
    GTEST_SKIP() << "built without libsystemd: nothing is sent";
#endif
    NotifySocket socket;
    // A registrar whose port is closed: refused at once over TCP.
    std::ofstream(socket.dir / "sip.conf")
        << "user = u\npassword = p\nregistrar = 127.0.0.1:9\ntransport = tcp\n";
    chmod((socket.dir / "sip.conf").c_str(), 0600);
    ChildProcess sip({TELLMARO_SIP_PATH, "--config", socket.dir / "sip.conf", "--port", "0"},
                     socket.dir / "out.txt");
    unsetenv("WATCHDOG_USEC");
    std::string heard;
    EXPECT_TRUE(waitUntil(
        [&] {
            heard += socket.received() + "|";
            return heard.find("WATCHDOG=1") != std::string::npos &&
                   heard.find("STATUS=not registered (no answer from 127.0.0.1:9") !=
                       std::string::npos;
        },
        std::chrono::seconds(10)))
        << heard << sip.output();
    EXPECT_EQ(heard.substr(heard.find_first_not_of('|'), 8), "READY=1|") << heard;
    sip.stop();
    EXPECT_EQ(socket.received(), "STOPPING=1");
}

}  // namespace
}  // namespace tellmaro::test
