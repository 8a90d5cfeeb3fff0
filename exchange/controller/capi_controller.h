#pragma once
// One CAPI 2.0 controller (number 1) with its B channels, in front of a
// network: the simulated one, or real calls. Messages go in and out as bytes,
// a DATA_B3 block beside its message, so any front-end can drive it: the
// in-process driver in tests, a server for libcapi20. Single-threaded; time
// comes only from the clock, and nothing happens between calls.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capi/capi_driver.h"
#include "exchange/controller/capi_structures.h"
#include "exchange/controller/clock.h"
#include "exchange/controller/controller_config.h"
#include "exchange/controller/controller_records.h"
#include "exchange/controller/line_accounting.h"
#include "exchange/controller/line_trace.h"
#include "exchange/controller/message_parser.h"
#include "exchange/controller/network.h"

namespace tellmaro::exchange {

class CapiController final : public ControllerPort {
  public:
    // The network is told what the applications ask of the far ends; it
    // reports back through this controller's ControllerPort.
    CapiController(const Clock& clock, ControllerConfig config, Network& network);

    const ControllerConfig& config() const { return config_; }

    // --- The controller as a driver presents it ---------------------------
    uint32_t installed() const;
    uint32_t getVersion(capi::CapiVersion& version) const;
    uint32_t getManufacturer(capi::ManufacturerName& name) const;
    // Controller 0 fills only the number of controllers.
    uint32_t getProfile(uint32_t controller, capi::CapiProfile& profile) const;

    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId);
    // For front-ends whose clients number their applications themselves.
    uint32_t registerApplicationWithId(uint32_t applId, const capi::RegisterParams& params);
    // Ends every connection of the application; nothing more is sent to it.
    uint32_t release(uint32_t applId);
    // `message` as the application put it; `data` is a DATA_B3_REQ's block.
    uint32_t put(uint32_t applId, std::span<const uint8_t> message,
                 std::span<const uint8_t> data = {});
    // The next message for the application; a DATA_B3_IND's block goes to
    // `data`, its message carries data pointers of 0 for the front-end to set.
    uint32_t get(uint32_t applId, std::vector<uint8_t>& message, std::vector<uint8_t>& data);
    // The application's connection to the controller broke (a scripted fault).
    bool connectionDropped(uint32_t applId) const;

    // --- Time: the network's own timed events --------------------------------
    // Runs every event due at the clock's time, in time order.
    void runDueEvents() { network_.runDueEvents(); }
    std::optional<std::chrono::milliseconds> nextEventTime() const {
        return network_.nextEventTime();
    }

    // --- What the network reports (ControllerPort) ----------------------------
    std::optional<CallRef> offerCall(const IncomingCall& incoming) override;
    void farEndAnswered(CallRef ref) override;
    void farEndCleared(CallRef ref, uint16_t reason) override;
    bool audioFromFarEnd(B3Ref ref, std::vector<uint8_t> block) override;
    bool keysFromFarEnd(CallRef ref, std::string_view keys) override;
    void note(const std::string& text) override;

    // --- Faults on demand ---------------------------------------------------
    void failNextPut(uint32_t code) { failNextPut_ = code; }
    void failNextGet(uint32_t code) { failNextGet_ = code; }
    // The next DATA_B3_REQ is confirmed with this Info and not played.
    void refuseNextDataB3Req(uint16_t info) { refuseNextDataB3_ = info; }
    // Without a driver, installed() and registration give 0x1009.
    void setDriverPresent(bool present) { driverPresent_ = present; }
    // From now on every put and get of the application fails with 0x1108.
    void dropConnection(uint32_t applId);

    // --- Observation ----------------------------------------------------------
    LineAccounting accounting() const;
    const std::vector<Violation>& violations() const { return violations_; }
    void setTraceHook(TraceHook hook) { trace_ = std::move(hook); }

  private:
    // applications.cpp
    Application* application(uint32_t applId);
    void endApplication(Application& app);

    // messages.cpp: messages in and out, observation.
    void send(Application& app, std::vector<uint8_t> message, std::vector<uint8_t> data = {});
    void violation(uint32_t applId, ViolationKind kind, uint32_t answer, std::string detail,
                   std::span<const uint8_t> message);
    void traceMessage(TraceDirection direction, uint32_t applId, std::span<const uint8_t> message);
    void dispatch(Application& app, const ParsedMessage& m, std::span<const uint8_t> data);

    // pending.cpp: indications waiting for their responses.
    uint16_t nextIndicationNumber(Application& app);
    bool answerPending(uint32_t applId, uint8_t command, uint32_t address,
                       std::optional<uint16_t> handle = std::nullopt);
    void supersedePending(uint32_t applId, uint8_t command, uint32_t address);
    void endPending(uint32_t applId, uint32_t address, uint32_t mask);
    bool indicationQueued(const Application& app, uint8_t command, uint32_t address) const;
    size_t pendingCount(uint32_t applId, uint8_t command, uint32_t address) const;

    // addresses.cpp: PLCIs, NCCIs and the B channels.
    Call* findCall(CallRef ref);
    B3Connection* findB3(B3Ref ref);
    std::optional<uint32_t> allocatePlci();
    uint32_t allocateNcci(uint32_t plci);
    size_t busyChannels() const;
    bool channelFree() const;
    Call& newCall(uint32_t plci, uint32_t applId, Call::Kind kind, Call::State state);
    void removeCall(Call& call);
    void removeB3(B3Connection& b3);

    // confirmations.cpp: refusals and the confirmation of every request.
    void confirm(Application& app, const ParsedMessage& m, uint16_t info);
    // A request is confirmed with `info`, a response ignored; both recorded.
    void refuse(Application& app, const ParsedMessage& m, ViolationKind kind, uint16_t info,
                std::string detail);
    // A request for a connection that is already cleared is refused as a
    // crossing; true when it was.
    bool refusedAsCleared(Application& app, const ParsedMessage& m, const Call& call);
    bool refusedAsCleared(Application& app, const ParsedMessage& m, const B3Connection& b3);
    void refuseCrossing(Application& app, const ParsedMessage& m, ClearedBy clearedBy,
                        bool clearingQueued, const std::string& what);
    Call* requestedCall(Application& app, const ParsedMessage& m);
    B3Connection* requestedB3(Application& app, const ParsedMessage& m);
    bool clearingQueued(const Application& app, const Call& call) const;
    bool clearingQueued(const Application& app, const B3Connection& b3) const;
    bool clearingOnItsWay(const Application& app, capi::Command command, uint32_t address) const;
    std::optional<uint16_t> bProtocolRefusal(std::span<const uint8_t> content, BProtocol& protocol,
                                             std::string& detail) const;

    // requests.cpp
    void onListenReq(Application& app, const ParsedMessage& m);
    Call* liveCallOf(Application& app, const ParsedMessage& m);
    B3Connection* liveB3Of(Application& app, const ParsedMessage& m);
    void onAlertReq(Application& app, const ParsedMessage& m);
    void onConnectReq(Application& app, const ParsedMessage& m);
    void onConnectB3Req(Application& app, const ParsedMessage& m);
    void onInfoReq(Application& app, const ParsedMessage& m);
    void onFacilityReq(Application& app, const ParsedMessage& m);
    void onDisconnectReq(Application& app, const ParsedMessage& m);
    void onDisconnectB3Req(Application& app, const ParsedMessage& m);
    void onResetB3Req(Application& app, const ParsedMessage& m);
    void onDataB3Req(Application& app, const ParsedMessage& m, std::span<const uint8_t> data);

    // responses.cpp
    bool takeResponse(Application& app, const ParsedMessage& m);
    void onConnectResp(Application& app, const ParsedMessage& m);
    void onConnectActiveResp(Application& app, const ParsedMessage& m);
    void onConnectB3Resp(Application& app, const ParsedMessage& m);
    void onDisconnectResp(Application& app, const ParsedMessage& m);
    void onDisconnectB3Resp(Application& app, const ParsedMessage& m);
    void onDataB3Resp(Application& app, const ParsedMessage& m);

    // calls.cpp: how calls are set up and cleared.
    void connect(Call& call);
    void clearCall(Call& call, uint16_t reason, ClearedBy by);

    // b3_connections.cpp: B3 connections, audio and keys.
    B3Connection& newB3(Call& call, B3Connection::State state);
    void activateB3(B3Connection& b3);
    void clearB3(B3Connection& b3, ClearedBy by);

    const Clock& clock_;
    ControllerConfig config_;
    Network& network_;
    std::map<uint32_t, Application> applications_;
    std::map<uint32_t, Call> calls_;
    std::map<uint32_t, B3Connection> b3s_;
    std::vector<PendingIndication> pending_;

    uint64_t nextSerial_ = 1;
    uint8_t nextPlciNumber_ = 1;
    uint16_t nextNcciNumber_ = 1;

    std::vector<Violation> violations_;
    std::vector<IndicationRecord> neverAnswered_;
    uint64_t droppedAudioBlocks_ = 0;
    uint64_t droppedKeys_ = 0;
    uint64_t callsNotOffered_ = 0;
    uint64_t crossings_ = 0;
    uint64_t refusedDataB3Reqs_ = 0;
    uint64_t discardedByRelease_ = 0;
    uint64_t closedByRelease_ = 0;

    std::optional<uint32_t> failNextPut_;
    std::optional<uint32_t> failNextGet_;
    std::optional<uint16_t> refuseNextDataB3_;
    bool driverPresent_ = true;
    TraceHook trace_;
};

}  // namespace tellmaro::exchange
