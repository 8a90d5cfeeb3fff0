// tellmaro-sip --check over TLS against Kamailio (tls_provider.sh): a good
// certificate registers and is described; a wrong CA, host or date is
// refused with its reason; tls_verify = no registers with a warning.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "support/child_process.h"
#include "support/loopback_udp.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(SipTls, CheckTellsWhyACertificateIsRefused) {
    for (const char* needed : {"/usr/sbin/kamailio", "/usr/bin/openssl",
                               "/usr/lib/x86_64-linux-gnu/kamailio/modules/tls.so"}) {
        if (!fs::exists(needed)) {
            GTEST_SKIP() << needed << " is missing (kamailio-tls-modules, openssl)";
        }
    }
    const auto dir = freshFolder("tellmaro-sip-tls-");
    const uint16_t port = freeUdpPort();
    // Kamailio's main process ends its others on SIGTERM, not on SIGKILL.
    std::unique_ptr<ChildProcess, void (*)(ChildProcess*)> provider(
        new ChildProcess(
            {TELLMARO_SIP_TLS_DIR "/tls_provider.sh", (dir / "provider").string(),
             std::to_string(port), std::to_string(freeUdpPort()), "0711555000:tls#Secret"},
            (dir / "provider.out").string()),
        [](ChildProcess* kamailio) {
            if (kamailio->running()) {
                kamailio->stop(SIGTERM);
            }
            delete kamailio;
        });
    char listening[32];  // in /proc/net/tcp
    std::snprintf(listening, sizeof listening, ":%04X 00000000:0000 0A", port + 3);
    ASSERT_TRUE(waitUntil(
        [&] { return readFile("/proc/net/tcp").find(listening) != std::string::npos; }, 10s))
        << readFile(dir / "provider.out");
    // Registrar port offset (tls_provider.sh), its scheme, more of sip.conf,
    // the exit status and what the output shows (a regular expression).
    const char* kCa = "tls_ca_file = ca.pem\n";
    const std::tuple<int, const char*, const char*, int, const char*> rows[] = {
        {0, "", kCa, 0,
         "TLS: TLSv1.3, cipher .*\n.*certificate: CN=127.0.0.1, expires .*, verified"},
        {0, "sips:", kCa, 0, "REGISTER sips:127.0.0.1"},
        {0, "", "", 1, "failed: certificate of 127.0.0.1 not signed by a trusted CA .*CA ca\\)"},
        {1, "", kCa, 1, "failed: certificate of 127.0.0.1 issued for another host .other.example"},
        {2, "", kCa, 1, "failed: certificate of 127.0.0.1 expired on 2025-01-01"},
        {3, "", kCa, 1, "failed: certificate of 127.0.0.1 not signed .* CA other-ca\\)"},
        {2, "", "tls_verify = no\n", 0, "warning: tls_verify = no[\\s\\S]*NOT verified"},
    };
    for (const auto& [offset, scheme, extra, status, says] : rows) {
        std::ofstream(dir / "provider" / "sip.conf")
            << "registrar = " << scheme << "127.0.0.1:" << port + offset
            << "\nuser = 0711555000\npassword = tls#Secret\ntransport = tls\nport = 0\n"
            << extra;
        chmod((dir / "provider" / "sip.conf").c_str(), 0600);
        ChildProcess check(
            {TELLMARO_PROGRAM_DIR "/tellmaro-sip", "--check", "--verbose", "--config", "sip.conf"},
            (dir / "check.out").string(), (dir / "provider").string());
        EXPECT_EQ(check.wait(), status) << says;
        const auto out = check.output();
        EXPECT_TRUE(std::regex_search(out, std::regex(says))) << says << "\n" << out;
        EXPECT_EQ(out.find("tls#Secret"), std::string::npos) << says;
    }
    provider.reset();
    HasFailure() ? void() : void(fs::remove_all(dir));
}

}  // namespace
}  // namespace tellmaro::test
