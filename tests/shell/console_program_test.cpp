// tellmaro-console for real: a copy of the program directory, libcapi20 and
// tellmaro-sim in a process of its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/flow_runner.h"
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

TEST(ConsoleProgram, RelaysASpeedDialCallRefusesASecondInstanceAndEndsNormallyOnSigterm) {
    ProgramDirectory program(TELLMARO_PROGRAM_DIR);
    ASSERT_TRUE(program.configure());
    SimulatorProcess sim(TELLMARO_SIM_PATH, kCallScenario);
    ChildProcess console = program.startConsole("console");

    // Ready again after the call; stopped while the line is still there, which it would
    // otherwise report as a lost driver.
    ASSERT_TRUE(console.waitForOutput("Verbindung\"\ntray: handygrn.ico", 15s)) << console.output();
    ChildProcess second = program.startConsole("second");  // turned away, the first goes on
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.output().find("Der Tellmaro ist bereits gestartet."), std::string::npos);
    EXPECT_EQ(console.stop(SIGTERM), 0);
    EXPECT_EQ(sim.wait(), 0) << sim.output();
    EXPECT_EQ(console.output(),
              "tray: handyred.ico \"Der Tellmaro wird gestartet\"\n"
              "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n"
              "tray: handyyel.ico \"Aktive Verbindung\"\n"
              "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n");
    // The call went through the speed-dial code; the log's lines are tested with the relay.
    EXPECT_EQ(callLogVerdict("... dialled=0301234567 ...", program.callLog()), "");
    // SIGTERM during start-up too, held up by a line that takes connections and never answers:
    // sent until one finds the driver waiting, not just before. No driver fault for error.log.
    SimulatorProcess silent(TELLMARO_SIM_PATH, "end 60s\n");
    kill(silent.pid(), SIGSTOP);
    ChildProcess held = program.startConsole("held");
    ASSERT_TRUE(held.waitForOutput("gestartet", 10s) &&
                waitUntil([&] { return kill(held.pid(), SIGTERM), !held.running(); }, 5s));
    EXPECT_TRUE(held.wait() == 0 && program.errorLog().empty()) << program.errorLog();
}

}  // namespace
}  // namespace tellmaro::test
