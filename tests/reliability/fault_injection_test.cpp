// Every driver call of every flow in fault_flows.scenario failing in turn: after the report the
// relay is idle and listening and the same steps run again; with the driver gone it ends.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/flow_runner.h"

namespace tellmaro::test {
namespace {

constexpr uint32_t kCodes[] = {0x1103, 0x1108, 0x1006};  // the kinds the report tells apart

// The one error.log line, without its time stamp.
std::string errorLine(const EngineHarness& h) {
    std::string log = h.errorLogText();
    size_t end = log.find("\r\n");
    return end == log.size() - 2 && end > 19 ? log.substr(19, end - 19) : "not one line: " + log;
}

// The failed code reported, idle and settled; the same steps then run again as every flow must.
void expectRecovered(FlowRun& run, uint32_t code) {
    auto& h = run.harness();
    char reported[32];
    std::snprintf(reported, sizeof reported, code == 0x1006 ? "CAPI-Fehler" : "CAPI-FehlerNo:0x%X ",
                  code);
    EXPECT_TRUE(errorLine(h).starts_with(reported)) << errorLine(h);
    std::filesystem::remove(h.appDir / "error.log");
    EXPECT_EQ(h.phase(), relay::CallPhase::Idle);
    EXPECT_EQ(run.unsettled(), "");
    run.play();
    run.check();
    EXPECT_EQ(run.failures(), "");
    EXPECT_EQ(h.phase(), relay::CallPhase::Idle);
}

// Re-registration gives 0x1009: the message is shown once, the program ends once, the line settled.
void expectEnded(FlowRun& run) {
    const auto& h = run.harness();
    EXPECT_EQ(h.shell.messages.size(), 1u);
    EXPECT_EQ(std::count(h.shell.changes.begin(), h.shell.changes.end(), "end"), 1);
    EXPECT_EQ(h.line.accounting().applications, 0u);
    EXPECT_EQ(errorLine(h).substr(0, 11), "CAPI-Fehler");
    EXPECT_EQ(run.unsettled(), "");
}

// What a call log holds after a fault (docs/BEHAVIOUR.md): whole lines; the call the error dropped
// has the flow's lines up to the error and no more, then a call after the recovery has them all.
void expectCallLog(const std::string& log, const std::vector<std::string>& call, bool recovered) {
    auto got = callLogWords(log);
    if (recovered) {  // the replay comes later: its times and durations differ
        const auto label = [](const std::string& a, const std::string& b) {
            return a.substr(0, a.find('=')) == b.substr(0, b.find('='));
        };
        EXPECT_TRUE(got.size() >= call.size() &&
                    std::equal(call.begin(), call.end(), got.end() - std::ssize(call), label))
            << log;
        got.resize(got.size() - std::min(got.size(), call.size()));
    }
    EXPECT_TRUE((log.empty() || log.ends_with("\r\n")) && got.size() <= call.size() &&
                std::equal(got.begin(), got.end(), call.begin()))
        << log;
}

// The codes take turns; each call fails once with the driver there and once with it gone.
TEST(FaultInjection, EveryFailedDriverCallOfEveryFlow) {
    for (const Flow& flow : flowsOf(readFile(TELLMARO_FAULT_FLOWS))) {
        FlowRun clean(flow);
        const size_t base = clean.harness().scripted.countedCalls();
        clean.play();
        clean.check();
        ASSERT_EQ(clean.failures(), "") << flow.name;
        const size_t calls = clean.harness().scripted.countedCalls() - base;
        const auto call = callLogWords(clean.harness().callLogText());
        for (size_t n = 0; n < calls; ++n) {
            for (const bool driverGone : {false, true}) {
                const uint32_t code = kCodes[n % std::size(kCodes)];
                SCOPED_TRACE(::testing::Message()
                             << flow.name << ": call " << n << " of " << calls << " fails with 0x"
                             << std::hex << code << (driverGone ? ", driver gone" : ""));
                FlowRun run(flow);
                auto& h = run.harness();
                h.scripted.failCallAfter(base + n, code, driverGone);
                // As a modal message box does, the timer ticks on while it is open.
                h.shell.whileShown = [&h] { h.engine.onTimer(relay::TimerId::DispatcherPoll); };
                run.play(false);
                ASSERT_TRUE(h.scripted.faultFired());
                const auto& put = h.scripted.failedPut();
                const bool alert = put && put->is(capi::Command::Alert, capi::Subcommand::Req);
                if (alert) {
                    // Whether the alert was taken is not examined: the call goes on.
                    EXPECT_EQ(h.errorLogText() + run.unsettled(), "");
                } else if (driverGone) {
                    expectEnded(run);
                } else {
                    expectRecovered(run, code);
                }
                expectCallLog(h.callLogText(), call, !driverGone && !alert);
                ASSERT_FALSE(::testing::Test::HasFailure()) << h.traceText(40);
            }
        }
    }
}

}  // namespace
}  // namespace tellmaro::test
