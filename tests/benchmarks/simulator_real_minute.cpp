// CPU of tellmaro-sim for a minute of a two-leg call in real time, served to
// a client through Debian's libcapi20. Target: below 1% of a core.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "capi/libcapi20_driver.h"
#include "cpu_time.h"
#include "support/simulator_process.h"
#include "two_leg_client.h"

namespace {

constexpr const char* kScenario = R"(line 0711555000
party mobile 01711234567
party target 0301234567 answer=1s
at 200ms mobile call
end 63s
)";

}  // namespace

int main() {
    using namespace std::chrono_literals;
    using namespace tellmaro;
    test::SimulatorProcess sim(TELLMARO_SIM_PATH, kScenario);
    if (!sim.spawned()) {
        std::fprintf(stderr, "tellmaro-sim did not start\n");
        return 1;
    }
    capi::LibCapi20Driver driver;
    bench::TwoLegClient client(driver, "0301234567");
    if (!client.start()) {
        std::fprintf(stderr, "registration through libcapi20 failed\n");
        return 1;
    }
    std::printf("simulator, a two-leg call for a minute in real time (about 65 s) ...\n");
    std::fflush(stdout);
    while (sim.running()) {
        client.poll();
        std::this_thread::sleep_for(10ms);
    }
    client.stop();
    double simulatorCpu = bench::cpuSeconds(RUSAGE_CHILDREN);
    double minutes = 63.0 / 60.0;
    std::printf("  blocks relayed  %llu\n",
                static_cast<unsigned long long>(client.relayedBlocks()));
    std::printf(
        "  tellmaro-sim    %.3f CPU s per minute of call = %.2f%% of a core (target below 1%%)\n",
        simulatorCpu / minutes, simulatorCpu / (minutes * 60.0) * 100.0);
    return 0;
}
