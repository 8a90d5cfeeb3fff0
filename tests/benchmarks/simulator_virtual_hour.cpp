// CPU for one hour of a two-leg call on the in-process simulator in virtual
// time. Target: below 0.5 s.
#include <cstdio>

#include "cpu_time.h"
#include "exchange/controller/in_process_driver.h"
#include "exchange/simulated/line_simulator.h"
#include "exchange/simulated/virtual_time.h"
#include "two_leg_client.h"

int main() {
    using namespace std::chrono_literals;
    using namespace tellmaro;
    exchange::ManualClock clock;
    exchange::LineSimulator line(clock);
    exchange::InProcessDriver driver(line.controller());
    auto mobile = line.addParty("01711234567");
    exchange::PartyBehaviour target;
    target.answerAfter = 1s;
    auto targetId = line.addParty("0301234567", target);
    bench::TwoLegClient client(driver, "0301234567");
    if (!client.start()) {
        std::fprintf(stderr, "registration failed\n");
        return 1;
    }
    line.callPcNow(mobile);

    double before = bench::cpuSeconds();
    constexpr auto kHour = std::chrono::milliseconds(3600s);
    auto end = clock.now() + kHour;
    // The application looks at its queue every 10 ms, as the relay's timer does.
    while (clock.now() < end) {
        exchange::runLineUntil(line, clock, clock.now() + 10ms);
        client.poll();
    }
    double used = bench::cpuSeconds() - before;

    auto heard = exchange::checkHeard(line.partyRecord(targetId), mobile);
    std::printf("simulator, one hour of a two-leg call in virtual time\n");
    std::printf("  blocks relayed          %llu\n",
                static_cast<unsigned long long>(client.relayedBlocks()));
    std::printf("  target heard the mobile %s\n", heard.ok() ? "yes, every block in order" : "NO");
    std::printf("  CPU                     %.3f s (target below 0.5 s)\n", used);
    return heard.ok() ? 0 : 1;
}
