// Switching the relay off and on, and suspending it while a configuration or
// analysis window is open.
#include <gtest/gtest.h>

#include <algorithm>

#include "data/settings_file.h"
#include "engine_harness.h"

namespace tellmaro::test {
namespace {

std::vector<std::string> listenMasks(const EngineHarness& h) {
    std::vector<std::string> masks;
    for (const auto& text : h.sent()) {
        if (text.starts_with("LISTEN_REQ")) {
            auto at = text.find("CIPMask=");
            masks.push_back(text.substr(at + 8, 10));
        }
    }
    return masks;
}

TEST(Activation, SwitchingOffAndOnAgainRestoresListeningAndTheCallLog) {
    EngineHarness h;
    h.startUp();
    h.shell.trays.clear();
    ASSERT_TRUE(h.engine.callLog().isOpen());

    h.engine.activationChanged(false);
    EXPECT_FALSE(h.engine.callLog().isOpen());
    h.engine.activationChanged(true);
    EXPECT_TRUE(h.engine.callLog().isOpen());
    EXPECT_EQ(h.shell.trays, (std::vector<std::string>{"Tellmaro ist deaktiviert",
                                                       "Tellmaro ist betriebsbereit"}));
    EXPECT_EQ(listenMasks(h), (std::vector<std::string>{"0x04010032", "0x00000000", "0x04010032"}));

    // While switched off nobody's call is offered.
    auto caller = h.addParty("01711234567");
    h.engine.activationChanged(false);
    h.line.callPcNow(caller);
    h.runFor(1s);
    EXPECT_TRUE(h.line.partyRecord(caller).heard(exchange::PartyEvent::NotOffered));
    EXPECT_EQ(h.phase(), relay::CallPhase::Idle);
}

TEST(Activation, AConfigurationWindowSuspendsAndResumesTheRelay) {
    for (bool activated : {true, false}) {
        SCOPED_TRACE(activated ? "activated" : "deactivated");
        EngineHarness h;
        h.startUp();
        h.shell.trays.clear();
        h.shell.activated = activated;

        ASSERT_TRUE(h.engine.suspendRelay(relay::kTraySuspendedForConfiguration));
        EXPECT_FALSE(h.shell.menuEnabled);
        EXPECT_FALSE(h.engine.callLog().isOpen());
        h.engine.resumeRelay();
        EXPECT_TRUE(h.shell.menuEnabled);
        EXPECT_EQ(h.engine.callLog().isOpen(), activated);
        EXPECT_EQ(h.shell.trays,
                  (std::vector<std::string>{
                      "Wegen Konfiguration deaktiviert",
                      activated ? "Tellmaro ist betriebsbereit" : "Tellmaro ist deaktiviert"}));
        std::vector<std::string> expected = {"0x04010032", "0x00000000"};
        if (activated) {
            expected.push_back("0x04010032");
        }
        EXPECT_EQ(listenMasks(h), expected);
    }
}

TEST(Activation, ALogFileThatCannotBeOpenedSwitchesLoggingOffForGood) {
    EngineHarness h;
    h.startUp();
    h.engine.activationChanged(false);
    // The log's folder is gone when the relay is switched on again.
    h.engine.settings().logFilePath = (h.appDir / "gone" / "Handy.log").string();
    h.engine.activationChanged(true);

    ASSERT_EQ(h.shell.messages.size(), 1u);
    EXPECT_EQ(h.shell.messages[0].caption, " Tellmaro Fehler !!");
    EXPECT_EQ(h.shell.messages[0].text,
              "Die Log Datei kann an der angegebenen Stelle nicht erstellt werden. Log Datei "
              "Erstellung wurde deaktiviert!");
    EXPECT_FALSE(h.engine.settings().logEnabled);
    auto stored = data::LoadSettings(h.appDir);
    ASSERT_TRUE(stored.configured());
    EXPECT_FALSE(stored.settings->logEnabled);
    // Listening goes on all the same.
    EXPECT_EQ(listenMasks(h).back(), "0x04010032");
}

TEST(Activation, AFailedListenRequestLeavesTheWindowUnprepared) {
    EngineHarness h;
    h.startUp();
    h.shell.trays.clear();
    h.line.controller().failNextPut(0x1103);
    EXPECT_FALSE(h.engine.suspendRelay(relay::kTraySuspendedForAnalysis));
    EXPECT_TRUE(h.shell.trays.empty());
    EXPECT_TRUE(h.shell.menuEnabled);
    EXPECT_NE(h.errorLogText().find("CAPI-FehlerNo:0x1103"), std::string::npos);
}

}  // namespace
}  // namespace tellmaro::test
