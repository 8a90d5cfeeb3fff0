// Registration against SIPp as a registrar that checks the digest: the
// credentials, refreshes before expiry, and retries when the registrar is
// gone and comes back.

#include <gtest/gtest.h>

#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

using sip::RegistrationChanged;
using sip::RegistrationState;

auto state(RegistrationState wanted) {
    return std::function<bool(const RegistrationChanged&)>(
        [wanted](const RegistrationChanged& changed) { return changed.state == wanted; });
}

std::vector<std::pair<std::string, std::string>> registrarKeys(const std::string& grant = "4") {
    return {{"auth_user", "4930123456"}, {"auth_password", "s3cret#1"}, {"grant", grant}};
}

TEST(Registration, DigestAcceptedAndRefreshedBeforeExpiry) {
    SKIP_WITHOUT_SIPP();
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    Sipp registrar(dir, "registrar", "registrar.xml", port, registrarKeys());
    auto account = LineUnderTest::account(port);
    account.keepAlive = std::chrono::seconds(1);
    LineUnderTest line(account, true, std::chrono::seconds(60), true);
    line.start();
    auto registered = line.waitFor<RegistrationChanged>(state(RegistrationState::Registered));
    ASSERT_TRUE(registered) << line.logText();
    EXPECT_NE(registered->reason.find("200 OK"), std::string::npos) << registered->reason;
    // Granted 4 s: the refresh comes before they run out, with credentials.
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    EXPECT_GE(registrar.count("Authorization: Digest"), 2u) << registrar.messages();
    EXPECT_FALSE(line.waitFor<RegistrationChanged>(state(RegistrationState::Failed),
                                                   std::chrono::milliseconds(0)));
    line.line().stop();
    // Stopping unregisters.
    EXPECT_NE(registrar.messages().find("expires=0"), std::string::npos);
    // The verbose trace shows the messages, but not the credentials.
    auto log = line.logText();
    EXPECT_NE(log.find("SIP sent to"), std::string::npos) << log;
    EXPECT_NE(log.find("response=\"<redacted>\""), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

TEST(Registration, WrongPasswordIsReportedInPlainWords) {
    SKIP_WITHOUT_SIPP();
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    Sipp registrar(dir, "registrar", "registrar.xml", port, registrarKeys());
    auto account = LineUnderTest::account(port);
    account.password = "wrong";
    auto report = sip::checkAccount(account, std::chrono::seconds(10));
    EXPECT_FALSE(report.registered);
    std::string text;
    for (const auto& line : report.lines) {
        text += line + "\n";
    }
    EXPECT_NE(text.find("401 Unauthorized: user name or password refused"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("wrong"), std::string::npos) << text;
}

TEST(Registration, CheckSaysWhatWorked) {
    SKIP_WITHOUT_SIPP();
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    Sipp registrar(dir, "registrar", "registrar.xml", port, registrarKeys("60"));
    auto report = sip::checkAccount(LineUnderTest::account(port), std::chrono::seconds(10));
    EXPECT_TRUE(report.registered);
    ASSERT_GE(report.lines.size(), 3u);
    EXPECT_EQ(report.lines.back(), "unregistered again");
}

TEST(Registration, RetriesWhenTheRegistrarIsGoneAndBack) {
    SKIP_WITHOUT_SIPP();
    // Over TCP a registrar that is gone refuses the connection at once.
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    auto account = LineUnderTest::account(port);
    account.transport = sip::SipTransport::Tcp;
    account.retryMin = std::chrono::seconds(1);
    auto registrar = std::make_unique<Sipp>(dir, "first", "registrar.xml", port, registrarKeys(),
                                            std::vector<std::string>{"-t", "t1"});
    LineUnderTest line(account, true);
    line.start();
    ASSERT_TRUE(line.waitFor<RegistrationChanged>(state(RegistrationState::Registered)))
        << line.logText();
    line.forget();
    registrar->process().stop(SIGKILL);
    registrar.reset();
    auto failed = line.waitFor<RegistrationChanged>(state(RegistrationState::Failed));
    ASSERT_TRUE(failed) << line.logText();
    EXPECT_NE(failed->reason.find("next try in"), std::string::npos) << failed->reason;
    Sipp again(dir, "again", "registrar.xml", port, registrarKeys(),
               std::vector<std::string>{"-t", "t1"});
    EXPECT_TRUE(line.waitFor<RegistrationChanged>(state(RegistrationState::Registered),
                                                  std::chrono::seconds(20)))
        << line.logText();
}

}  // namespace
}  // namespace tellmaro::test
