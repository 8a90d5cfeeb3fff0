// Registration against SIPp as a registrar that checks the digest.

#include <gtest/gtest.h>

#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

using sip::RegistrationChanged;
using sip::RegistrationState;
using std::chrono::seconds;

std::function<bool(const RegistrationChanged&)> state(RegistrationState wanted) {
    return [wanted](const RegistrationChanged& changed) { return changed.state == wanted; };
}

const std::vector<std::pair<std::string, std::string>> kRegistrarKeys = {
    {"auth_user", "4930123456"}, {"auth_password", "s3cret#1"}, {"grant", "4"}};

// --check says in plain words what failed, and never the password (that it
// registers is scripts/package-test's).
TEST(Registration, CheckSaysWhatFailed) {
    SKIP_WITHOUT_SIPP();
    uint16_t port = freeUdpPort();
    Sipp registrar(scratchDir(), "registrar", "registrar.xml", port, kRegistrarKeys);
    auto account = LineUnderTest::account(port);
    account.password = "wrong";
    auto report = sip::checkAccount(account, seconds(10));
    EXPECT_FALSE(report.registered);
    std::string text;
    for (const auto& line : report.lines) {
        (text += line) += "\n";
    }
    EXPECT_NE(text.find("401 Unauthorized: user name or password refused"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("wrong"), std::string::npos) << text;
}

// Over TCP a registrar that is gone refuses the connection at once: gone at
// start, the tries come 1 s, then 2 s apart. Once it is there, the digest
// registration is refreshed before the 4 s granted run out; when it goes
// again, the line fails. The trace shows no credentials.
TEST(Registration, RetriesWhileTheRegistrarIsGoneAndRefreshes) {
    SKIP_WITHOUT_SIPP();
    uint16_t port = freeUdpPort();
    auto account = LineUnderTest::account(port);
    account.transport = sip::SipTransport::Tcp;
    account.retryMin = seconds(1);
    LineUnderTest line(account, true);
    line.start();
    for (const char* wait : {"next try in 1 s", "next try in 2 s"}) {
        auto failed = line.waitFor<RegistrationChanged>(state(RegistrationState::Failed));
        ASSERT_TRUE(failed) << line.logText();
        EXPECT_NE(failed->reason.find(wait), std::string::npos) << failed->reason;
    }
    auto registrar = std::make_unique<Sipp>(scratchDir(), "registrar", "registrar.xml", port,
                                            kRegistrarKeys, std::vector<std::string>{"-t", "t1"});
    ASSERT_TRUE(line.waitFor<RegistrationChanged>(state(RegistrationState::Registered)))
        << line.logText();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    EXPECT_GE(registrar->count("Authorization: Digest"), 2u) << registrar->messages();
    EXPECT_FALSE(line.waitFor<RegistrationChanged>(state(RegistrationState::Failed),
                                                   std::chrono::milliseconds(0)));
    registrar.reset();  // killed
    EXPECT_TRUE(line.waitFor<RegistrationChanged>(state(RegistrationState::Failed)))
        << line.logText();
    auto log = line.logText();
    EXPECT_NE(log.find("response=\"<redacted>\""), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

}  // namespace
}  // namespace tellmaro::test
