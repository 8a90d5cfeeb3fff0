// What systemd hears, read from a real notify socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

#include "service/journal.h"
#include "service/service_notifier.h"
#include "support/child_process.h"

namespace tellmaro::test {
namespace {

// A datagram socket standing in for systemd's, named in NOTIFY_SOCKET.
class NotifySocket {
  public:
    NotifySocket() : dir_(freshFolder("notify")), fd_(socket(AF_UNIX, SOCK_DGRAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (dir_ / "notify").string();
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        const timeval wait{0, 50000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        unsetenv("WATCHDOG_PID");
    }
    ~NotifySocket() {
        close(fd_);
        std::filesystem::remove_all(dir_);
    }
    // The datagrams that came within 50 ms of each other, joined by "|".
    std::string received() {
        std::string all;
        char buffer[512];
        for (ssize_t got; (got = recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            all += (all.empty() ? "" : "|") + std::string(buffer, static_cast<size_t>(got));
        }
        return all;
    }

  private:
    std::filesystem::path dir_;
    int fd_;
};

struct Row {
    const char* what;
    std::function<void(service::ServiceNotifier&)> call;
    const char* sent;
};

TEST(ServiceNotifier, EachCallSendsItsLine) {
#ifndef TELLMARO_HAVE_SYSTEMD
    GTEST_SKIP() << "built without libsystemd: nothing is sent";
#endif
    NotifySocket socket;
    setenv("WATCHDOG_USEC", "400000", 1);
    service::ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdogInterval(), std::chrono::milliseconds(200));
    const Row rows[] = {
        {"ready", [](auto& n) { n.ready(); }, "READY=1"},
        {"status", [](auto& n) { n.status("registered"); }, "STATUS=registered"},
        {"same status", [](auto& n) { n.status("registered"); }, ""},
        {"hostile status", [](auto& n) { n.status("x\nREADY=1"); }, "STATUS=x READY=1"},
        {"pings once an interval", [](auto& n) { n.watchdogTick(), n.watchdogTick(); },
         "WATCHDOG=1"},
        {"stopping", [](auto& n) { n.stopping(); }, "STOPPING=1"},
    };
    for (const Row& row : rows) {
        row.call(notifier);
        EXPECT_EQ(socket.received(), row.sent) << row.what;
    }
    unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(service::ServiceNotifier().watchdogInterval().count(), 0);
}

TEST(Journal, OnlyTheStreamSystemdNamesIsTheJournal) {
    struct stat status {};
    ASSERT_EQ(fstat(2, &status), 0);
    const std::string named = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    for (const auto& [stream, journal] :
         {std::pair{named, true}, {"1:2", false}, {"", false}}) {
        setenv("JOURNAL_STREAM", stream.c_str(), 1);
        EXPECT_EQ(service::stderrIsJournal(), journal) << stream;
    }
    unsetenv("JOURNAL_STREAM");
}

// The running program: ready once its port listens, its registration as the
// status, and the watchdog's ping.
TEST(ServiceNotifier, TellmaroSipSaysReadyStatusAndPings) {
#ifndef TELLMARO_HAVE_SYSTEMD
    GTEST_SKIP() << "built without libsystemd: nothing is sent";
#endif
    NotifySocket socket;
    setenv("WATCHDOG_USEC", "400000", 1);
    const auto dir = freshFolder("sip-service");
    // A registrar whose port is closed: refused at once over TCP.
    std::ofstream(dir / "sip.conf")
        << "user = u\npassword = p\nregistrar = 127.0.0.1:9\ntransport = tcp\n";
    chmod((dir / "sip.conf").c_str(), 0600);
    ChildProcess sip({TELLMARO_SIP_PATH, "--config", dir / "sip.conf", "--port", "0"},
                     dir / "out.txt");
    unsetenv("WATCHDOG_USEC");
    std::string heard;
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string got = socket.received();
            heard += got.empty() ? "" : got + "|";
            return heard.find("STATUS=not registered (") != std::string::npos &&
                   heard.find("WATCHDOG=1") != std::string::npos;
        },
        std::chrono::seconds(10)));
    EXPECT_TRUE(heard.starts_with("READY=1|")) << heard << sip.output();
    EXPECT_NE(heard.find("STATUS=not registered (no answer from 127.0.0.1:9"), std::string::npos)
        << heard;
    sip.stop();
    EXPECT_NE(socket.received().find("STOPPING=1"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tellmaro::test
