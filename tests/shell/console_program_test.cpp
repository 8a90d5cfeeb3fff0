// tellmaro-console for real: a copy of the program directory, libcapi20 and
// tellmaro-sim in a process of its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCallScenario = R"(line 0711555000
party mobile 01711234567
party alice 0301234567 answer=1s hangup=4s
at 500ms mobile call
at 2500ms mobile keys #
at 3500ms mobile keys 42#
at 11s mobile hangup
expect alice heard mobile
expect mobile heard alice
expect idle
expect clean
end 12s
)";

TEST(ConsoleProgram, RelaysASpeedDialCallAndShutsDownOnSigterm) {
    ProgramDirectory program(TELLMARO_PROGRAM_DIR);
    ASSERT_TRUE(program.configure());
    SimulatorProcess sim(TELLMARO_SIM_PATH, kCallScenario);
    ASSERT_TRUE(sim.spawned());
    ChildProcess console = program.startConsole("console");
    ASSERT_TRUE(console.spawned());

    // Stopped while the line is still there: when the simulator goes away,
    // the relay reports the lost driver and ends by itself.
    const std::string readyAgain =
        "tray: handyyel.ico \"Aktive Verbindung\"\n"
        "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n";
    ASSERT_TRUE(console.waitForOutput(readyAgain, 15s)) << console.output();
    EXPECT_EQ(console.stop(SIGTERM), 0);
    EXPECT_EQ(sim.wait(), 0) << sim.output();
    EXPECT_EQ(console.output(),
              "tray: handyred.ico \"Der Tellmaro wird gestartet\"\n"
              "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n"
              "tray: handyyel.ico \"Aktive Verbindung\"\n"
              "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n");
    std::string log = program.callLog();
    EXPECT_NE(log.find("Anrufende Nummer       : 1711234567\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("   Gewählte Nummer     : 0301234567\r\n"), std::string::npos) << log;
    // Four seconds of talk in real time cross three to five second boundaries.
    const std::string talk = "   Gesprächsdauer      : ";
    auto at = log.find(talk);
    ASSERT_NE(at, std::string::npos) << log;
    char seconds = log[at + talk.size()];
    EXPECT_TRUE(seconds >= '3' && seconds <= '5') << log;
    EXPECT_EQ(log.substr(at + talk.size() + 1, 4), " s\r\n") << log;
    EXPECT_NE(log.find("Verbindungsdauer       : "), std::string::npos) << log;
}

TEST(ConsoleProgram, RefusesToRunWithoutAMobileNumberOrTwice) {
    ProgramDirectory program(TELLMARO_PROGRAM_DIR);
    SimulatorProcess sim(TELLMARO_SIM_PATH, "end 60s\n");
    ASSERT_TRUE(sim.spawned());
    const std::string notConfigured =
        "message (critical): \" Tellmaro Fehler !!\" \"Das Programm ist noch nicht "
        "Konfiguriert!\\n\\rBitte stellen Sie die gewünschten Parameter ein!\\n";

    // Settings but no registered mobile number.
    ASSERT_TRUE(program.configure());
    std::filesystem::remove(program.dir() / "tellmaro.mob");
    ChildProcess noMobile = program.startConsole("no-mobile");
    EXPECT_EQ(noMobile.wait(), 2);
    EXPECT_NE(noMobile.output().find(notConfigured), std::string::npos) << noMobile.output();

    // Configured: runs; a second instance is turned away and the first goes on.
    ASSERT_TRUE(program.configure());
    ChildProcess running = program.startConsole("running");
    ASSERT_TRUE(running.waitForOutput("Tellmaro ist betriebsbereit", 5s)) << running.output();
    ChildProcess second = program.startConsole("second");
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(second.output(),
              "message (exclamation): \"Tellmaro Hinweis !!\" \"Der Tellmaro ist bereits "
              "gestartet. Bitte verwenden Sie diese Instanz!\"\n");
    EXPECT_TRUE(running.running());
    EXPECT_EQ(running.stop(SIGINT), 0);
}

}  // namespace
}  // namespace tellmaro::test
