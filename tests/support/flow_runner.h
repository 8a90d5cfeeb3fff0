#pragma once
// Flows: scenarios of the line simulator that also set up the relay, play
// steps in order and expect things of the relay (docs/scenario-format.md,
// "Flows"), played on a fresh engine harness in virtual time. A flow file
// holds several flows: the statements before its first "flow NAME" line
// belong to every flow, a flow's own party replacing a shared one of the
// same name.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/simulated/scenario_runner.h"
#include "support/engine_harness.h"

namespace tellmaro::test {

struct Flow {
    std::string name;
    // The whole file with the other flows' lines blank, one text for each
    // alternative of its "each" line.
    std::vector<std::string> texts;
};

std::vector<Flow> flowsOf(std::string_view text);
std::vector<Flow> readFlows(const std::filesystem::path& file);

class FlowRun {
  public:
    // Reads the flow, prepares the program folder and the parties, and
    // starts the relay. `variant` picks the alternative of its "each" line
    // and the value of its ranged wait.
    explicit FlowRun(const Flow& flow, size_t variant = 0, HarnessOptions options = {});
    ~FlowRun();

    // Plays the steps. Not `strict` (a fault was injected): a phase that is
    // never reached is no failure, and checks are left out.
    void play(bool strict = true);
    // The expectations, then what every flow must leave behind.
    void check();
    // Empty when everything held, else one line per failure.
    const std::string& failures() const { return failures_; }
    // How many plays the flow takes: its alternatives times its wait's values.
    size_t variants() const;
    EngineHarness& harness() { return *h_; }

    struct Script;

  private:
    void step(const std::vector<std::string>& words, bool strict);
    std::string verdict(const std::vector<std::string>& words);
    void fail(const std::string& what) { failures_ += what + "\n"; }

    std::unique_ptr<Script> script_;
    size_t texts_;
    size_t sweep_;
    std::unique_ptr<EngineHarness> h_;
    std::unique_ptr<exchange::ScenarioRunner> line_;
    std::string failures_;
};

// Plays every variant of the flow; the failures of the first that fails.
std::string playFlow(const Flow& flow);

}  // namespace tellmaro::test
