#pragma once
// The simulated network behind the controller: the parties on it, how the
// exchange routes and clears calls, and everything in timed events of its
// own, so that it runs in virtual time as well as in real time.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/controller/clock.h"
#include "exchange/controller/network.h"
#include "exchange/simulated/event_schedule.h"
#include "exchange/simulated/line_config.h"
#include "exchange/simulated/party.h"

namespace tellmaro::exchange {

class SimulatedNetwork final : public Network {
  public:
    // `controller` is only called once events run or the controller calls in.
    SimulatedNetwork(const Clock& clock, LineTiming timing, ControllerPort& controller);

    // --- Parties -----------------------------------------------------------
    PartyId addParty(std::string number, PartyBehaviour behaviour = {});
    size_t partyCount() const { return parties_.size(); }
    const std::string& partyNumber(PartyId party) const { return parties_.at(party).number; }
    const PartyRecord& partyRecord(PartyId party) const { return parties_.at(party).record; }
    // The PC's call to `dialled` reaches this party: its number is the
    // longest prefix of the dialled characters.
    std::optional<PartyId> partyReachedBy(std::string_view dialled) const;

    void callPcAt(std::chrono::milliseconds at, PartyId party, CallOptions options = {});
    void hangUpAt(std::chrono::milliseconds at, PartyId party);
    void pressKeysAt(std::chrono::milliseconds at, PartyId party, std::string keys);
    // The same at the clock's time, run at once.
    void callPcNow(PartyId party, CallOptions options = {});
    void hangUpNow(PartyId party);
    void pressKeysNow(PartyId party, std::string keys);

    // --- Network: what the PC does ------------------------------------------
    void alert(CallRef call) override;
    bool accept(CallRef call) override;
    void refuse(CallRef call, uint16_t reject) override;
    void dial(CallRef call, std::string_view digits) override;
    void seize(CallRef call) override;
    void keypad(CallRef call, std::string_view digits) override;
    void release(CallRef call) override;
    void mediaStarted(CallRef call, B3Ref media) override;
    void mediaStopped(B3Ref media) override;
    void listenForKeys(B3Ref, bool) override {}  // keys are pressed all the same
    void audioToFarEnd(B3Ref media, std::span<const uint8_t> block) override;

    std::optional<std::chrono::milliseconds> nextEventTime() const override {
        return schedule_.next();
    }
    // Runs every event due at the clock's time, in time order.
    void runDueEvents() override;

  private:
    using Ms = std::chrono::milliseconds;

    struct Party {
        PartyId id = 0;
        std::string number;
        PartyBehaviour behaviour;
        PartyRecord record;
        std::optional<uint64_t> call;  // the serial of its call with the PC
    };

    // A call between the PC and the network, from offer or dial until one
    // side clears it.
    struct NetworkCall {
        enum class Phase { Offered, Dialling, Seized, Active };

        CallRef ref;
        Phase phase = Phase::Offered;
        std::optional<PartyId> party;
        Ms lastKeypad{0};  // a seized line's
    };

    // The audio of a connected call, paced block by block.
    struct Media {
        B3Ref ref;
        uint64_t call = 0;
        Ms nextBlockAt{0};
    };

    // network_calls.cpp: how the exchange offers, connects and clears calls.
    void offerCall(Party& party, const CallOptions& options);
    NetworkCall& newCall(CallRef ref, NetworkCall::Phase phase);
    // Connected: the party hangs up after its talk time, if it has one.
    void talk(NetworkCall& call);
    // Forgets the call and its media; the party, if any, notes `event`.
    void endCall(CallRef ref, std::optional<PartyEvent> event);
    // The network's side ends the call, and the controller is told.
    void clearFromNetwork(CallRef ref, std::optional<PartyEvent> event, uint16_t reason);
    void partyHangsUp(Party& party);
    void pressKeys(Party& party, const std::string& keys);
    void partyEvent(Party& party, PartyEvent event);
    void note(const std::string& text) { controller_.note(text); }

    // parties.cpp: who takes part in what.
    NetworkCall* findCall(CallRef ref);
    NetworkCall* callOf(const Party& party);
    Party* partyOf(const NetworkCall& call);
    Party* partyOfMedia(B3Ref ref);

    // network_events.cpp
    void on(event::PartyCalls& e);
    void on(event::PartyHangsUp& e);
    void on(event::PartyKeys& e);
    void on(event::CallerGivesUp& e);
    void on(event::PartyAnswers& e);
    void on(event::HangUpAfterTalk& e);
    void on(event::NetworkClears& e);
    void on(event::SeizureWatch& e);
    void on(event::AudioBlock& e);
    void on(event::ScriptedKeys& e);

    const Clock& clock_;
    LineTiming timing_;
    ControllerPort& controller_;
    EventSchedule schedule_;
    std::vector<Party> parties_;
    std::map<uint64_t, NetworkCall> calls_;  // by call serial
    std::map<uint64_t, Media> media_;        // by B3 serial
};

}  // namespace tellmaro::exchange
