// CPU of an idle tellmaro-console over a minute: registered and listening
// through libcapi20 on a line served by tellmaro-sim where nothing happens,
// so all it does is fire its timers and poll the driver. Target: below 1% of
// a core.
#include <chrono>
#include <cstdio>
#include <thread>

#include "cpu_time.h"
#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tellmaro::test::ChildProcess;
using tellmaro::test::ProgramDirectory;
using tellmaro::test::SimulatorProcess;

constexpr auto kWarmUp = 2s;
constexpr auto kMeasured = 60s;

}  // namespace

int main() {
    ProgramDirectory program(TELLMARO_PROGRAM_DIR);
    if (!program.configure()) {
        std::fprintf(stderr, "cannot write the program directory's files\n");
        return 1;
    }
    // A line where nothing happens for longer than the measurement.
    SimulatorProcess sim(TELLMARO_SIM_PATH, "line 0711555000\nend 5m\n");
    if (!sim.running()) {
        std::fprintf(stderr, "tellmaro-sim did not start:\n%s\n", sim.output().c_str());
        return 1;
    }
    ChildProcess console = program.startConsole("console");
    if (!console.waitForOutput("betriebsbereit", 10s)) {
        std::fprintf(stderr, "tellmaro-console did not become ready:\n%s\n",
                     console.output().c_str());
        return 1;
    }

    std::printf("tellmaro-console, idle and listening through libcapi20, measured for %lld s ...\n",
                static_cast<long long>(kMeasured.count()));
    std::fflush(stdout);
    std::this_thread::sleep_for(kWarmUp);
    auto consoleBefore = tellmaro::bench::processCpuSeconds(console.pid());
    auto simBefore = tellmaro::bench::processCpuSeconds(sim.pid());
    auto start = Clock::now();
    std::this_thread::sleep_for(kMeasured);
    auto consoleAfter = tellmaro::bench::processCpuSeconds(console.pid());
    auto simAfter = tellmaro::bench::processCpuSeconds(sim.pid());
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    bool stillRunning = console.running();
    int exitStatus = console.stop();
    if (!consoleBefore || !consoleAfter || !simBefore || !simAfter || !stillRunning) {
        std::fprintf(stderr, "tellmaro-console ended while it was measured:\n%s\n",
                     console.output().c_str());
        return 1;
    }

    double consoleCpu = *consoleAfter - *consoleBefore;
    double simCpu = *simAfter - *simBefore;
    std::printf("  tellmaro-console  %.2f CPU s in %.1f s = %.2f%% of a core (target below 1%%)\n",
                consoleCpu, elapsed, 100.0 * consoleCpu / elapsed);
    std::printf("  tellmaro-sim      %.2f CPU s = %.2f%% of a core (serving it, for reference)\n",
                simCpu, 100.0 * simCpu / elapsed);
    std::printf("  tellmaro-console exit status %d after SIGTERM\n", exitStatus);
    return exitStatus == 0 ? 0 : 1;
}
