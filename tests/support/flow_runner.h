#pragma once
// Flows (docs/scenario-format.md): line scenarios that also set up the relay, play steps and
// expect things of it, on a fresh engine harness in virtual time.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/simulated/scenario_runner.h"
#include "support/engine_harness.h"

namespace tellmaro::test {

// One flow: the whole file with the other flows' lines blank, once per alternative of its "each".
struct Flow {
    std::string name;
    std::vector<std::string> texts;
};

std::vector<Flow> flowsOf(std::string_view text);

class FlowRun {
  public:
    // Prepares the folder and parties, starts the relay; `variant`: "each" and ranged wait's value.
    explicit FlowRun(const Flow& flow, size_t variant = 0, HarnessOptions options = {});
    ~FlowRun();

    // Not `strict` (a fault was injected): unreached phases and failed checks are no failures.
    void play(bool strict = true);
    // The expectations, then what every flow must leave behind.
    void check();
    // The line's expectations that fail now, as idle and clean: empty when all hold.
    std::string unsettled() const;
    const std::string& failures() const { return failures_; }  // one line per failure
    size_t variants() const;  // alternatives times the ranged wait's values
    EngineHarness& harness() { return *h_; }
    exchange::PartyId party(const std::string& name) const { return line_->party(name); }

    struct Script;

  private:
    void step(const std::vector<std::string>& words, bool strict);
    std::string verdict(const std::vector<std::string>& words);
    void fail(const std::string& what) { failures_ += what + "\n"; }

    std::unique_ptr<Script> script_;
    size_t texts_, sweep_;
    std::unique_ptr<EngineHarness> h_;
    std::unique_ptr<exchange::ScenarioRunner> line_;
    std::string failures_;
};

// Plays every variant of the flow; the failures of the first that fails.
std::string playFlow(const Flow& flow);

// Empty when the call log reads as the words of an "expect log" statement, else what it read.
std::string callLogVerdict(const std::string& expected, const std::string& log);
// The call log's lines as the words of an "expect log" statement.
std::vector<std::string> callLogWords(const std::string& log);

}  // namespace tellmaro::test
