// The line under a driver message: what libcapi20 read and what failed.
#include "capi/libcapi20_setup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>

namespace tellmaro::capi {
namespace {

namespace fs = std::filesystem;

struct Row {
    const char* what;
    const char* capi20rc;  // nullptr: no file
    Reach reach;
    std::vector<const char*> says;
};

TEST(Libcapi20Setup, SaysWhatWasTriedAndWhatFailed) {
    const Row rows[] = {
        {"no configuration",
         nullptr,
         Reach::refused,
         {"Weder ~/.capi20rc noch /etc/capi20.conf", "/nonexistent/capi20"}},
        {"server refuses",
         "REMOTE rcapi 127.0.0.1 2662\nTRACELEVEL 0\n",
         Reach::refused,
         {"Gelesen: ~/.capi20rc (REMOTE rcapi 127.0.0.1:2662)", "weist die Verbindung ab"}},
        {"server silent",
         "REMOTE rcapi 10.0.0.9\n",
         Reach::timedOut,
         {"10.0.0.9:2662", "antwortet nicht"}},
        {"no final newline",
         "REMOTE rcapi 127.0.0.1 2662",
         Reach::reached,
         {"127.0.0.1:266)", "meldet aber keinen CAPI-Controller", "endet ohne Zeilenumbruch"}},
        {"kernel device",
         "TRACELEVEL 1\n",
         Reach::reached,
         {"(ohne REMOTE-Zeile)", "/nonexistent/capi20 fehlt"}},
    };
    std::random_device random;
    const fs::path home = fs::temp_directory_path() / ("capi20rc-" + std::to_string(random()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(home);
        fs::create_directories(home);
        if (row.capi20rc) {
            std::ofstream(home / ".capi20rc") << row.capi20rc;
        }
        const auto config = readLibcapi20Config(home, home / "no-system-file");
        const auto text = describeLibcapi20Setup(
            "", config, [&](const std::string&, const std::string&) { return row.reach; },
            "/nonexistent/capi20");
        for (const char* part : row.says) {
            EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
        }
    }
    fs::remove_all(home);
    EXPECT_NE(describeLibcapi20Setup("no such file", {}).find("libcapi20-3"), std::string::npos);
}

// The probe itself, on loopback: a listening port, a closed one, a bad port name.
TEST(Libcapi20Setup, ProbesTheServer) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string port = std::to_string(ntohs(address.sin_port));
    EXPECT_EQ(probeTcp("127.0.0.1", port), Reach::reached);
    close(listener);
    EXPECT_EQ(probeTcp("127.0.0.1", port), Reach::refused);
    EXPECT_EQ(probeTcp("127.0.0.1", "no-such-service"), Reach::badPort);
}

// A configured trace level is the user's wish; without one the library is silenced.
TEST(Libcapi20Setup, ReadsTheTraceLevel) {
    const fs::path home = fs::temp_directory_path() / "capi20rc-trace";
    fs::create_directories(home);
    std::ofstream(home / ".capi20rc") << "TRACELEVEL 7\n";
    EXPECT_EQ(readLibcapi20Config(home, home / "none").traceLevel, 7);
    std::ofstream(home / ".capi20rc") << "REMOTE rcapi 127.0.0.1\n";
    EXPECT_FALSE(readLibcapi20Config(home, home / "none").traceLevel);
    fs::remove_all(home);
}

}  // namespace
}  // namespace tellmaro::capi
