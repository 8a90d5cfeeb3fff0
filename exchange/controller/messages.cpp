// Messages in and out of the controller, and what it records.
#include "exchange/controller/capi_controller.h"

#include <algorithm>
#include <cstdio>

#include "capi/byte_order.h"
#include "capi/message_trace.h"
#include "exchange/controller/controller_codes.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr size_t kAddressOffset = 8;
constexpr size_t kDataHandleOffset = 18;

uint8_t subcommandOf(std::span<const uint8_t> message) {
    return message[capi::kSubcommandOffset];
}

}  // namespace

CapiController::CapiController(const Clock& clock, ControllerConfig config, Network& network)
    : clock_(clock), config_(std::move(config)), network_(network) {}

// --- Messages in and out -----------------------------------------------------

uint32_t CapiController::put(uint32_t applId, std::span<const uint8_t> message,
                             std::span<const uint8_t> data) {
    Application* app = application(applId);
    if (app && app->dropped) {
        return code::kOsResourceError;
    }
    if (failNextPut_) {
        uint32_t result = *failNextPut_;
        failNextPut_.reset();
        note("put refused by a scripted fault: " + capi::describeMessage(message));
        return result;
    }
    traceMessage(TraceDirection::ToController, applId, message);
    if (!app) {
        violation(applId, ViolationKind::UnknownApplication, code::kIllegalApplication,
                  "application " + std::to_string(applId) + " is not registered", message);
        return code::kIllegalApplication;
    }
    ParseResult parsed = parseApplicationMessage(message);
    if (parsed.failure == ParseFailure::Frame) {
        violation(applId, ViolationKind::MalformedMessage, code::kIllegalCommand, parsed.problem,
                  message);
        return code::kIllegalCommand;
    }
    const ParsedMessage& m = parsed.message;
    if (config_.requireHeaderApplId && m.header.applId != applId) {
        violation(applId, ViolationKind::UnknownApplication, code::kIllegalApplication,
                  "ApplID " + std::to_string(m.header.applId) + " in a message of application " +
                      std::to_string(applId),
                  message);
        return code::kIllegalApplication;
    }
    if (parsed.failure == ParseFailure::Coding) {
        if (m.header.subcommand == static_cast<uint8_t>(Subcommand::Req)) {
            refuse(*app, m, ViolationKind::BadCoding, code::kIllegalCoding, parsed.problem);
        } else {
            violation(applId, ViolationKind::BadCoding, 0, parsed.problem + "; response ignored",
                      message);
        }
        return capi::kCapiOk;
    }
    dispatch(*app, m, data);
    return capi::kCapiOk;
}

void CapiController::dispatch(Application& app, const ParsedMessage& m,
                              std::span<const uint8_t> data) {
    auto command = static_cast<Command>(m.header.command);
    if (m.header.subcommand == static_cast<uint8_t>(Subcommand::Req)) {
        switch (command) {
            case Command::Listen:
                return onListenReq(app, m);
            case Command::Alert:
                return onAlertReq(app, m);
            case Command::Connect:
                return onConnectReq(app, m);
            case Command::ConnectB3:
                return onConnectB3Req(app, m);
            case Command::Info:
                return onInfoReq(app, m);
            case Command::Facility:
                return onFacilityReq(app, m);
            case Command::Disconnect:
                return onDisconnectReq(app, m);
            case Command::DisconnectB3:
                return onDisconnectB3Req(app, m);
            case Command::ResetB3:
                return onResetB3Req(app, m);
            case Command::DataB3:
                return onDataB3Req(app, m, data);
            default:
                return refuse(app, m, ViolationKind::Unsupported, code::kWrongState,
                              "not offered by this line");
        }
    }
    switch (command) {
        case Command::Connect:
            return onConnectResp(app, m);
        case Command::ConnectActive:
            return onConnectActiveResp(app, m);
        case Command::ConnectB3:
            return onConnectB3Resp(app, m);
        case Command::Disconnect:
            return onDisconnectResp(app, m);
        case Command::DisconnectB3:
            return onDisconnectB3Resp(app, m);
        case Command::DataB3:
            return onDataB3Resp(app, m);
        default:
            takeResponse(app, m);  // nothing follows from the others
    }
}

uint32_t CapiController::get(uint32_t applId, std::vector<uint8_t>& message,
                             std::vector<uint8_t>& data) {
    Application* app = application(applId);
    if (!app) {
        return code::kIllegalApplication;
    }
    if (app->dropped) {
        return code::kOsResourceError;
    }
    if (failNextGet_) {
        uint32_t result = *failNextGet_;
        failNextGet_.reset();
        note("get refused by a scripted fault");
        return result;
    }
    if (app->queue.empty()) {
        return code::kQueueEmpty;
    }
    message = std::move(app->queue.front().message);
    data = std::move(app->queue.front().data);
    app->queue.pop_front();
    return capi::kCapiOk;
}

void CapiController::send(Application& app, std::vector<uint8_t> message,
                          std::vector<uint8_t> data) {
    traceMessage(TraceDirection::ToApplication, app.id, message);
    if (subcommandOf(message) == static_cast<uint8_t>(Subcommand::Ind)) {
        PendingIndication pending;
        pending.at = clock_.now();
        pending.applId = app.id;
        pending.command = message[capi::kCommandOffset];
        pending.address = capi::readU32(message, kAddressOffset);
        pending.message = message;
        if (pending.command == static_cast<uint8_t>(Command::DataB3)) {
            pending.dataHandle = capi::readU16(message, kDataHandleOffset);
        }
        pending_.push_back(std::move(pending));
    }
    app.queue.push_back({std::move(message), std::move(data)});
}

// --- Observation ----------------------------------------------------------------

void CapiController::violation(uint32_t applId, ViolationKind kind, uint32_t answer,
                               std::string detail, std::span<const uint8_t> message) {
    Violation v{
        clock_.now(), applId, kind, answer, std::move(detail), capi::describeMessage(message)};
    if (trace_) {
        char answerText[16];
        std::snprintf(answerText, sizeof answerText, "0x%04X", answer);
        note(std::string("violation (") + violationKindName(kind) + ", answered " + answerText +
             "): " + v.detail + " in " + v.message);
    }
    keepBounded(violations_, std::move(v));
}

void CapiController::note(const std::string& text) {
    if (trace_) {
        trace_(TraceEntry{clock_.now(), TraceDirection::Note, 0, {}, text});
    }
}

void CapiController::traceMessage(TraceDirection direction, uint32_t applId,
                                  std::span<const uint8_t> message) {
    if (trace_) {
        trace_(
            TraceEntry{clock_.now(), direction, applId, message, capi::describeMessage(message)});
    }
}

LineAccounting CapiController::accounting() const {
    LineAccounting a;
    a.applications = applications_.size();
    a.livePlcis = calls_.size();
    a.liveNccis = b3s_.size();
    a.busyChannels = busyChannels();
    for (const auto& p : pending_) {
        if (p.command == static_cast<uint8_t>(Command::DataB3)) {
            ++a.unansweredDataB3Inds;
        }
        a.unanswered.push_back(
            {p.at, p.applId, p.command, p.address, capi::describeMessage(p.message)});
    }
    a.neverAnswered = neverAnswered_;
    a.violations = violations_;
    a.droppedAudioBlocks = droppedAudioBlocks_;
    a.droppedKeys = droppedKeys_;
    a.callsNotOffered = callsNotOffered_;
    a.crossings = crossings_;
    a.refusedDataB3Reqs = refusedDataB3Reqs_;
    a.indicationsDiscardedByRelease = discardedByRelease_;
    a.indicationsClosedByRelease = closedByRelease_;
    return a;
}

}  // namespace tellmaro::exchange
