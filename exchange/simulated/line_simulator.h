#pragma once
// The simulated ISDN line: the CAPI controller with the simulated network and
// its parties behind it, as tests, benchmarks and tellmaro-sim use it. Front-
// ends drive controller(); time comes only from the clock, and nothing
// happens between calls.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/controller/capi_controller.h"
#include "exchange/controller/clock.h"
#include "exchange/simulated/line_config.h"
#include "exchange/simulated/party.h"
#include "exchange/simulated/simulated_network.h"

namespace tellmaro::exchange {

class LineSimulator {
  public:
    explicit LineSimulator(const Clock& clock, LineConfig config = {});
    LineSimulator(const LineSimulator&) = delete;
    LineSimulator& operator=(const LineSimulator&) = delete;

    const LineConfig& config() const { return config_; }
    CapiController& controller() { return controller_; }
    const CapiController& controller() const { return controller_; }

    // --- Time ---------------------------------------------------------------
    // Runs every event due at the clock's time, in time order.
    void runDueEvents() { network_.runDueEvents(); }
    std::optional<std::chrono::milliseconds> nextEventTime() const {
        return network_.nextEventTime();
    }

    // --- Parties ------------------------------------------------------------
    PartyId addParty(std::string number, PartyBehaviour behaviour = {}) {
        return network_.addParty(std::move(number), std::move(behaviour));
    }
    size_t partyCount() const { return network_.partyCount(); }
    const std::string& partyNumber(PartyId party) const { return network_.partyNumber(party); }
    const PartyRecord& partyRecord(PartyId party) const { return network_.partyRecord(party); }
    std::optional<PartyId> partyReachedBy(std::string_view dialled) const {
        return network_.partyReachedBy(dialled);
    }

    void callPcAt(std::chrono::milliseconds at, PartyId party, CallOptions options = {}) {
        network_.callPcAt(at, party, options);
    }
    void hangUpAt(std::chrono::milliseconds at, PartyId party) { network_.hangUpAt(at, party); }
    void pressKeysAt(std::chrono::milliseconds at, PartyId party, std::string keys) {
        network_.pressKeysAt(at, party, std::move(keys));
    }
    void callPcNow(PartyId party, CallOptions options = {}) { network_.callPcNow(party, options); }
    void hangUpNow(PartyId party) { network_.hangUpNow(party); }
    void pressKeysNow(PartyId party, std::string keys) {
        network_.pressKeysNow(party, std::move(keys));
    }

    // --- Observation ----------------------------------------------------------
    LineAccounting accounting() const { return controller_.accounting(); }
    const std::vector<Violation>& violations() const { return controller_.violations(); }
    void setTraceHook(TraceHook hook) { controller_.setTraceHook(std::move(hook)); }

  private:
    LineConfig config_;
    SimulatedNetwork network_;
    CapiController controller_;
};

}  // namespace tellmaro::exchange
