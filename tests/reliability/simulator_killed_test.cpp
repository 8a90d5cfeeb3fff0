// tellmaro-sim dies under tellmaro-console in a relayed call: the lost driver is reported and the
// program ends by itself.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "support/child_process.h"
#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;

// The call would go on for a minute; the simulator is killed long before.
constexpr const char* kLongCall = R"(line 0711555000
party mobile 01711234567; party alice 0301234567 answer=1s
at 500ms mobile call; at 2500ms mobile keys 0301234567#; end 60s
)";

TEST(SimulatorKilled, ConsoleReportsTheLostDriverAndEnds) {
    ProgramDirectory program(TELLMARO_PROGRAM_DIR);
    ASSERT_TRUE(program.configure());
    SimulatorProcess sim(TELLMARO_SIM_PATH, kLongCall);
    ASSERT_TRUE(sim.spawned());
    ChildProcess console = program.startConsole("console");
    ASSERT_TRUE(console.spawned());
    ASSERT_TRUE(console.waitForOutput("tray: handyyel.ico \"Aktive Verbindung\"\n", 15s))
        << console.output();
    std::this_thread::sleep_for(2s);  // into the relayed conversation
    ASSERT_TRUE(console.running()) << console.output();
    kill(sim.pid(), SIGKILL);
    sim.wait();
    ASSERT_TRUE(waitUntil([&] { return !console.running(); }, 5s)) << console.output();
    EXPECT_EQ(console.wait(), 1) << console.output();
    // The library is there: the server went away.
    EXPECT_NE(program.errorLog().find("antwortet nicht mehr"), std::string::npos)
        << program.errorLog();
    EXPECT_NE(program.errorLog().find("CAPI-Fehler"), std::string::npos) << program.errorLog();
}

}  // namespace
}  // namespace tellmaro::test
