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

TEST(Registration, CheckRefreshBeforeExpiryAndUnregister) {
    SKIP_WITHOUT_SIPP();
    auto dir = scratchDir();
    uint16_t port = freeUdpPort();
    Sipp registrar(dir, "registrar", "registrar.xml", port, kRegistrarKeys);
    auto account = LineUnderTest::account(port);
    // --check says in plain words what worked, and never the password.
    const std::tuple<const char*, bool, const char*> checks[] = {
        {"wrong", false, "401 Unauthorized: user name or password refused"},
        {"s3cret#1", true, "unregistered again"}};
    for (auto [password, registered, says] : checks) {
        account.password = password;
        auto report = sip::checkAccount(account, seconds(10));
        EXPECT_EQ(report.registered, registered);
        std::string text;
        for (const auto& line : report.lines) {
            (text += line) += "\n";
        }
        EXPECT_NE(text.find(says), std::string::npos) << text;
        EXPECT_EQ(text.find(password), std::string::npos) << text;
    }
    // Granted 4 s: the refresh comes before they run out, with credentials.
    const size_t digests = registrar.count("Authorization: Digest");
    const size_t unregistered = registrar.count("expires=0");
    account.keepAlive = seconds(1);
    LineUnderTest line(account, true);
    line.start();
    ASSERT_TRUE(line.waitFor<RegistrationChanged>(state(RegistrationState::Registered)))
        << line.logText();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    EXPECT_GE(registrar.count("Authorization: Digest"), digests + 2) << registrar.messages();
    EXPECT_FALSE(line.waitFor<RegistrationChanged>(state(RegistrationState::Failed),
                                                   std::chrono::milliseconds(0)));
    line.line().stop();
    EXPECT_GT(registrar.count("expires=0"), unregistered);
    // The verbose trace shows the messages, but not the credentials.
    auto log = line.logText();
    EXPECT_NE(log.find("response=\"<redacted>\""), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

// Over TCP a registrar that is gone refuses the connection at once: gone at
// start, the tries come 1 s, then 2 s apart; gone again once it was there.
TEST(Registration, RetriesWhileTheRegistrarIsGone) {
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
    registrar.reset();  // killed
    EXPECT_TRUE(line.waitFor<RegistrationChanged>(state(RegistrationState::Failed)))
        << line.logText();
}

}  // namespace
}  // namespace tellmaro::test
