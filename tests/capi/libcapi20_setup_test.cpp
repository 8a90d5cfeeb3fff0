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
    std::optional<int> traceLevel;  // none: the library is silenced
    bool answeredBefore;            // the server served the program until now
    std::string_view says;          // parts of the text, split at "|"
};

TEST(Libcapi20Setup, SaysWhatWasTriedAndWhatFailed) {
    const auto none = std::nullopt;
    const Row rows[] = {
        {"no configuration", nullptr, Reach::refused, none, false,
         "Weder ~/.capi20rc noch /etc/capi20.conf|/nonexistent/capi20"},
        {"server refuses", "REMOTE rcapi 127.0.0.1 2662\nTRACELEVEL 0\n", Reach::refused, 0, false,
         "Gelesen: ~/.capi20rc (REMOTE rcapi 127.0.0.1:2662)|weist die Verbindung ab"},
        {"server silent", "REMOTE rcapi 10.0.0.9\n", Reach::timedOut, none, false,
         "10.0.0.9:2662|antwortet nicht"},
        {"no final newline", "REMOTE rcapi 127.0.0.1 2662", Reach::reached, none, false,
         "127.0.0.1:266)|meldet aber keinen CAPI-Controller|endet ohne Zeilenumbruch"},
        {"kernel device", "TRACELEVEL 7\n", Reach::reached, 7, false,
         "(ohne REMOTE-Zeile)|/nonexistent/capi20 fehlt"},
        {"server gone", "REMOTE rcapi 127.0.0.1 2662\n", Reach::refused, none, true,
         "Der CAPI-Server 127.0.0.1:2662 (REMOTE rcapi in ~/.capi20rc) antwortet nicht mehr"},
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
        EXPECT_EQ(config.traceLevel, row.traceLevel);
        const auto text = describeLibcapi20Setup(
            "", config, [&](const std::string&, const std::string&) { return row.reach; },
            "/nonexistent/capi20", row.answeredBefore);
        for (std::string_view rest = row.says; !rest.empty();) {
            const auto part = rest.substr(0, rest.find('|'));
            EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
            rest.remove_prefix(std::min(rest.size(), part.size() + 1));
        }
        EXPECT_EQ(text.find("?."), std::string::npos) << text;  // a question ends there
    }
    fs::remove_all(home);
    EXPECT_NE(describeLibcapi20Setup("no such file", {}).find("libcapi20-3"), std::string::npos);
}

// The probe itself, on loopback: a listening port, a closed one, a bad port name.
TEST(Libcapi20Setup, ProbesTheServer) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
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

}  // namespace
}  // namespace tellmaro::capi
