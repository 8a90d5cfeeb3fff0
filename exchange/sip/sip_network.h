#pragma once
// The SIP line as the network behind the CAPI controller: what the
// applications ask of the far ends becomes SIP, and what the SIP line
// reports becomes CAPI indications. The controller never learns that its
// line is SIP.
//
// Threading: every method runs on the controller's thread. The SIP line
// queues its events; the owner calls pump() whenever eventFd() is readable
// (RcapiServer::watch), which hands them to the controller in order.

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "exchange/controller/capi_controller.h"
#include "exchange/controller/network.h"
#include "exchange/sip/capi_fields.h"
#include "exchange/sip/number_end_policy.h"
#include "exchange/sip/sip_line.h"

namespace tellmaro::sip {

class SipNetwork final : public exchange::Network {
  public:
    // `line` is started and stopped by the owner; `controller` only kept.
    SipNetwork(SipLine& line, exchange::ControllerPort& controller,
               NumberEndPolicy numberEnds = {});

    // Hands the SIP line's waiting events to the controller.
    void pump();
    // The line in a few words, for the service manager: "registering",
    // "registered", "not registered (why)", "in a call".
    std::string lineStatus() const;

    void alert(exchange::CallRef call) override;
    bool accept(exchange::CallRef call) override;
    void refuse(exchange::CallRef call, uint16_t reject) override;
    void dial(exchange::CallRef call, std::string_view digits) override;
    // A line taken without dialling: SIP has none, so it stays local and
    // silent until released.
    void seize(exchange::CallRef) override {}
    void keypad(exchange::CallRef, std::string_view) override {}
    void release(exchange::CallRef call) override;
    void mediaStarted(exchange::CallRef call, exchange::B3Ref media) override;
    void mediaStopped(exchange::B3Ref media) override;
    void mediaReset(exchange::B3Ref media) override;
    void listenForKeys(exchange::B3Ref, bool) override {}
    void audioToFarEnd(exchange::B3Ref media, std::span<const uint8_t> block) override;
    std::optional<std::chrono::milliseconds> nextEventTime() const override { return {}; }
    void runDueEvents() override {}

  private:
    struct Call {
        exchange::CallRef ref;
        std::optional<exchange::B3Ref> media;
        bool outgoing = false;
        std::string keys;  // what the far end keyed, for the numbers the relay dials
    };

    void on(const RegistrationChanged& e) { registration_ = e; }
    void on(const IncomingCall& e);
    void on(const Alerting&) {}
    void on(const Progress&) {}
    void on(const Answered& e);
    void on(const Ended& e);
    void on(const AudioBlock& e);
    void on(const Dtmf& e);

    std::optional<CallId> idOf(exchange::CallRef ref) const;
    std::optional<CallId> idOf(exchange::B3Ref media) const;

    SipLine& line_;
    exchange::ControllerPort& controller_;
    NumberEndPolicy numberEnds_;
    std::map<CallId, Call> calls_;
    std::deque<std::string> recentCallers_;
    RegistrationChanged registration_;
};

// The controller and the SIP line behind it, wired to each other.
struct SipExchange {
    SipExchange(const exchange::Clock& clock, exchange::ControllerConfig config, SipLine& line,
                NumberEndPolicy numberEnds = {})
        : network(line, controller, std::move(numberEnds)),
          controller(clock, std::move(config), network) {}

    SipNetwork network;  // keeps only the controller's address until events come
    exchange::CapiController controller;
};

}  // namespace tellmaro::sip
