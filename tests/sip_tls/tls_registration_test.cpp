// tellmaro-sip --check over TLS against Kamailio (tls_provider.sh): a good
// certificate registers and is described; a wrong CA, host or date is
// refused with its reason; tls_verify = no registers with a warning.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

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
    const std::string ca = "tls_ca_file = " + (dir / "provider" / "ca.pem").string() + "\n";

    struct Row {
        const char* name;
        std::string registrar, extra;  // extra: sip.conf lines
        bool registers;
        std::vector<std::string> says;
    };
    const std::string host = "127.0.0.1:";
    const Row rows[] = {
        {"good",
         host + std::to_string(port),
         ca,
         true,
         {"TLS: TLSv1.3, cipher ", "certificate: CN=127.0.0.1, expires ",
          "verified for 127.0.0.1"}},
        {"sips", "sips:" + host + std::to_string(port), ca, true, {"REGISTER sips:127.0.0.1"}},
        {"system CAs only",
         host + std::to_string(port),
         "",
         false,
         {"registration failed: certificate of 127.0.0.1 not signed by a trusted CA (issuer "
          "CN=Tellmaro test CA ca)"}},
        {"other host",
         host + std::to_string(port + 1),
         ca,
         false,
         {"certificate of 127.0.0.1 issued for another host (other.example)"}},
        {"expired",
         host + std::to_string(port + 2),
         ca,
         false,
         {"certificate of 127.0.0.1 expired on 2025-01-01"}},
        {"other CA",
         host + std::to_string(port + 3),
         ca,
         false,
         {"not signed by a trusted CA (issuer CN=Tellmaro test CA other-ca)"}},
        {"unchecked",
         host + std::to_string(port + 2),
         "tls_verify = no\n",
         true,
         {"warning: tls_verify = no: the certificate of 127.0.0.1 is not checked",
          "NOT verified (tls_verify = no)"}},
    };
    for (const auto& row : rows) {
        const auto conf = dir / "sip.conf";
        std::ofstream(conf) << "registrar = " << row.registrar
                            << "\nuser = 0711555000\npassword = tls#Secret\ntransport = tls\n"
                            << "listen = 127.0.0.1\nport = 0\n"
                            << row.extra;
        chmod(conf.c_str(), 0600);
        ChildProcess check({TELLMARO_PROGRAM_DIR "/tellmaro-sip", "--check", "--verbose",
                            "--config", conf.string()},
                           (dir / "check.out").string());
        EXPECT_EQ(check.wait(), row.registers ? 0 : 1) << row.name;
        const auto out = check.output();
        for (const auto& line : row.says) {
            EXPECT_NE(out.find(line), std::string::npos) << row.name << ": " << line << "\n" << out;
        }
        EXPECT_EQ(out.find("tls#Secret"), std::string::npos) << row.name;
    }
    provider.reset();
    HasFailure() ? void() : void(fs::remove_all(dir));
}

}  // namespace
}  // namespace tellmaro::test
