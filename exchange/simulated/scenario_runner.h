#pragma once
// Plays a scenario on the line simulator and checks its expectations.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "exchange/simulated/line_simulator.h"
#include "exchange/simulated/scenario.h"

namespace tellmaro::exchange {

// The line a scenario asks for, on top of a front-end's configuration.
LineConfig scenarioLineConfig(const Scenario& scenario, LineConfig config);

class ScenarioRunner {
  public:
    // Adds the scenario's parties to the line.
    ScenarioRunner(LineSimulator& line, const Clock& clock, Scenario scenario);

    // Starts the timeline once an application has registered, so that event
    // times count from the relay being up. Call it as time goes by.
    void poll();
    bool started() const { return started_; }
    PartyId party(const std::string& name) const { return parties_.at(name); }
    bool finished() const;

    struct Outcome {
        bool ok = true;
        std::vector<std::string> lines;  // one per expectation, "ok ..." or "FAILED ..."
    };
    Outcome check() const;

  private:
    LineSimulator& line_;
    const Clock& clock_;
    Scenario scenario_;
    std::map<std::string, PartyId> parties_;
    bool started_ = false;
    std::chrono::milliseconds startedAt_{0};
};

}  // namespace tellmaro::exchange
