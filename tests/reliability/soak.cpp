// Many calls in virtual time with random events from a seeded generator:
// hang-ups and cancels at random moments, busy and unreachable parties,
// blocks of the wrong size, refused blocks and second callers. After each
// call the relay must be ready again, the line settled, and the call log
// must hold a complete entry.
//
//   soak_calls [CALLS] [SEED] [TRACE LINES SHOWN PER FAILURE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/engine_harness.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using relay::CallPhase;

constexpr int kCallsPerHarness = 100;

struct Figures {
    long calls = 0;
    long invariants = 0;
    long failures = 0;
    long events = 0;
};

PartyBehaviour party(milliseconds answer, std::optional<milliseconds> hangUp = {},
                     PartyBehaviour::OnCall onCall = PartyBehaviour::OnCall::Answer) {
    PartyBehaviour behaviour;
    behaviour.answerAfter = answer;
    behaviour.hangUpAfter = hangUp;
    behaviour.onCall = onCall;
    return behaviour;
}

class Soak {
  public:
    Soak(uint64_t seed, size_t traceLines, Figures& figures)
        : random_(seed), seed_(seed), traceLines_(traceLines), figures_(figures) {}

    void run(long calls) {
        for (long call = 0; call < calls; ++call) {
            // A failed call leaves the line in a state that would fail the
            // next ones too: each failure is counted once.
            if (call % kCallsPerHarness == 0 || failedCall_) {
                freshHarness();
            }
            failedCall_ = false;
            runCall(call);
            ++figures_.calls;
        }
    }

  private:
    void freshHarness() {
        h_ = std::make_unique<EngineHarness>();
        mobile_ = h_->addParty("01711234567");
        h_->addParty("0301234567", party(1s));
        h_->addParty("0302345678", party(4s));
        h_->addParty("0303456789", party(500ms, 3s));
        h_->addParty("0304567890", party(1s, {}, PartyBehaviour::OnCall::Busy));
        h_->addParty("0305678901", party(1s, {}, PartyBehaviour::OnCall::Unreachable));
        stranger_ = h_->addParty("0891234567");
        h_->startUp();
        logSize_ = h_->callLogText().size();
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    void runCall(long call) {
        EngineHarness& h = *h_;
        // Events at offsets from the call's start, in order of time.
        std::vector<std::pair<milliseconds, std::function<void()>>> events;
        const char* numbers[] = {"0301234567#", "0302345678#", "0303456789#",
                                 "0304567890#", "0305678901#", "0399999999#"};
        auto at = [&](int low, int high, std::function<void()> action) {
            events.push_back({milliseconds(pick(low, high)), std::move(action)});
        };
        at(1500, 4000, [&] { h.line.pressKeysNow(mobile_, numbers[pick(0, 5)]); });
        if (chance(25)) {
            at(1000, 12000, [&] { h.line.pressKeysNow(mobile_, "*"); });
        }
        if (chance(25)) {
            at(1000, 12000,
               [&] { h.scripted.shortenNextDataB3Ind(static_cast<uint16_t>(pick(1, 2047))); });
        }
        if (chance(20)) {
            at(1000, 12000, [&] { h.line.controller().refuseNextDataB3Req(0x300C); });
        }
        if (chance(20)) {
            at(0, 12000, [&] { h.line.callPcNow(stranger_); });
        }
        if (chance(30)) {
            at(4000, 9000, [&] { h.line.pressKeysNow(mobile_, "0301234567#"); });
        }
        // The mobile hangs up at a random moment, from ringing to talking.
        const milliseconds hangUp(pick(200, 15000));
        std::sort(events.begin(), events.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        figures_.events += static_cast<long>(events.size()) + 1;

        const milliseconds start = h.now();
        h.line.callPcNow(mobile_);
        for (auto& [when, action] : events) {
            if (when >= hangUp) {
                break;
            }
            h.runFor(start + when - h.now());
            action();
        }
        h.runFor(start + hangUp - h.now());
        h.line.hangUpNow(mobile_);
        h.runUntil([&] { return h.phase() == CallPhase::Idle; }, 30s);
        // Let the second caller and every clearing end.
        h.runFor(3s);
        // A fault armed for a block that never came must not carry over.
        h.line.controller().refuseNextDataB3Req(0);
        check(call);
    }

    void expect(bool holds, long call, const std::string& what) {
        ++figures_.invariants;
        if (holds) {
            return;
        }
        ++figures_.failures;
        failedCall_ = true;
        std::printf("FAILURE seed %llu call %ld: %s\n--- last trace lines:\n%s\n",
                    static_cast<unsigned long long>(seed_), call, what.c_str(),
                    h_->traceText(traceLines_).c_str());
    }

    void check(long call) {
        EngineHarness& h = *h_;
        expect(h.phase() == CallPhase::Idle, call, "not back in phase 0");
        expect(h.shell.trays.back() == relay::kTrayReady.toolTip, call,
               "tray not ready: " + h.shell.trays.back());
        expect(!h.shell.ended && h.shell.messages.empty(), call, "message shown or program ended");
        expect(h.unsettled().empty(), call, h.unsettled());
        expect(h.line.accounting().unansweredDataB3Inds == 0, call, "unanswered DATA_B3_IND");
        expect(h.errorLogText().empty(), call, "error.log written: " + h.errorLogText());

        std::string log = h.callLogText();
        std::string entry = log.substr(logSize_);
        logSize_ = log.size();
        expect(entry.find("Anrufende Nummer       : 1711234567\r\n") != std::string::npos, call,
               "no entry for the call:\n" + entry);
        // The last line closes the entry: the connection's duration, or a
        // refused second caller's line after it.
        size_t lastStart = entry.rfind("\r\n", entry.size() >= 2 ? entry.size() - 3 : 0);
        std::string last = lastStart == std::string::npos ? entry : entry.substr(lastStart + 2);
        bool complete = last.starts_with("Verbindungsdauer       : ") ||
                        last.starts_with("Abbruch, Grund         : Nicht registrierte Handynummer");
        expect(complete && entry.ends_with("\r\n"), call, "entry incomplete:\n" + entry);
    }

    std::mt19937_64 random_;
    uint64_t seed_;
    size_t traceLines_;
    Figures& figures_;
    std::unique_ptr<EngineHarness> h_;
    exchange::PartyId mobile_ = 0;
    exchange::PartyId stranger_ = 0;
    size_t logSize_ = 0;
    bool failedCall_ = false;
};

}  // namespace
}  // namespace tellmaro::test

int main(int argc, char** argv) {
    long calls = argc > 1 ? std::atol(argv[1]) : 10000;
    uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20011203;
    size_t traceLines = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 20;
    tellmaro::test::Figures figures;
    auto started = std::chrono::steady_clock::now();
    tellmaro::test::Soak(seed, traceLines, figures).run(calls);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "soak seed %llu: %ld calls, %ld random events, %ld invariants checked, "
        "%ld failures, %.1f s\n",
        static_cast<unsigned long long>(seed), figures.calls, figures.events, figures.invariants,
        figures.failures, seconds);
    return figures.failures == 0 ? 0 : 1;
}
