// Many calls in virtual time with seeded random events; after each the relay is ready, the line
// settled and the call log complete.   soak_calls [CALLS] [SEED]
#include <cstdio>
#include <cstdlib>
#include <random>

#include "support/flow_runner.h"

using namespace tellmaro;
using namespace tellmaro::test;

namespace {

const Flow kParties = flowsOf(R"(party mobile 01711234567
party a 0301234567 answer=1s; party b 0302345678 answer=4s; party c 0303456789 answer=500ms hangup=3s
party d 0304567890 busy; party e 0305678901 unreachable; party stranger 0891234567
flow soak)")[0];

struct Soak {
    std::mt19937_64 random;
    long invariants = 0, failures = 0, events = 0;
    std::unique_ptr<FlowRun> run;
    EngineHarness* h = nullptr;
    size_t logSize = 0;
    bool failed = true;  // a failed call would fail the next ones: a fresh harness

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    void freshHarness() {
        run = std::make_unique<FlowRun>(kParties);
        h = &run->harness();
        logSize = h->callLogText().size();
        failed = false;
    }

    void runCall(long call) {
        const exchange::PartyId mobile = run->party("mobile");
        // Events at offsets from the call's start, each with its chance in percent.
        const char* numbers[] = {"0301234567#", "0302345678#", "0303456789#",
                                 "0304567890#", "0305678901#", "0399999999#"};
        std::vector<std::pair<milliseconds, std::function<void()>>> plan;
        auto at = [&](int percent, int low, int high, std::function<void()> action) {
            if (pick(1, 100) <= percent) {
                plan.emplace_back(milliseconds(pick(low, high)), std::move(action));
            }
        };
        at(100, 1500, 4000, [&] { h->line.pressKeysNow(mobile, numbers[pick(0, 5)]); });
        at(25, 1000, 12000, [&] { h->line.pressKeysNow(mobile, "*"); });
        at(25, 1000, 12000,
           [&] { h->scripted.shortenNextDataB3Ind(static_cast<uint16_t>(pick(1, 2047))); });
        at(20, 1000, 12000, [&] { h->line.controller().refuseNextDataB3Req(0x300C); });
        at(20, 0, 12000, [&] { h->line.callPcNow(run->party("stranger")); });
        at(30, 4000, 9000, [&] { h->line.pressKeysNow(mobile, "0301234567#"); });
        const milliseconds hangUp(pick(200, 15000));
        std::sort(plan.begin(), plan.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        events += static_cast<long>(plan.size()) + 1;

        const milliseconds start = h->now();
        h->line.callPcNow(mobile);
        for (auto& [when, action] : plan) {
            if (when < hangUp) {
                h->runFor(start + when - h->now());
                action();
            }
        }
        h->runFor(std::max(start + hangUp - h->now(), 0ms));
        h->line.hangUpNow(mobile);
        h->runUntil([&] { return h->phase() == relay::CallPhase::Idle; }, 30s);
        h->runFor(3s);                                // the second caller and every clearing end
        h->line.controller().refuseNextDataB3Req(0);  // one armed for no block must not carry over
        check(call);
    }

    void expect(bool holds, long call, const std::string& what) {
        ++invariants;
        if (!holds) {
            ++failures;
            failed = true;
            std::printf("FAILURE call %ld: %s\n", call, what.c_str());
        }
    }

    // What every flow must leave behind (the line idle and clean, the relay ready and registered,
    // nothing shown or in error.log), phase 0, and the call's entry in the call log, complete.
    void check(long call) {
        run->check();
        expect(run->failures().empty() && h->phase() == relay::CallPhase::Idle, call,
               "phase " + std::to_string(static_cast<int>(h->phase())) + "\n" + run->failures());
        const std::string log = h->callLogText(), entry = log.substr(logSize);
        logSize = log.size();
        // The entry ends with the connection's duration, or a refused second caller after it.
        expect(callLogVerdict("... caller=1711234567 ...", entry).empty() &&
                   entry.ends_with("\r\n") &&
                   (callLogVerdict("... length=*", entry).empty() ||
                    callLogVerdict("... refused", entry).empty()),
               call, "call log entry:\n" + entry + h->traceText(20));
    }
};

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 10000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20011203;
    Soak soak;
    soak.random.seed(seed);
    const auto started = std::chrono::steady_clock::now();
    for (long call = 0; call < calls; ++call) {
        if (call % 100 == 0 || soak.failed) {
            soak.freshHarness();
        }
        soak.runCall(call);
    }
    std::printf(
        "soak seed %llu: %ld calls, %ld random events, %ld invariants checked, "
        "%ld failures, %.1f s\n",
        static_cast<unsigned long long>(seed), calls, soak.events, soak.invariants, soak.failures,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return soak.failures == 0 ? 0 : 1;
}
