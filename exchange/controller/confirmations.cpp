// Confirmations of requests, and how the controller refuses what it cannot do.
#include <algorithm>

#include "capi/byte_order.h"
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"
#include "exchange/controller/message_builder.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr uint32_t kControllerMask = 0x7F;
constexpr uint32_t kExternalBit = 0x80;
constexpr uint32_t kController = 1;
constexpr size_t kAddressOffset = 8;

// Parameter positions in FACILITY_REQ and DATA_B3_REQ.
constexpr size_t kFacilitySelector = 1;
constexpr size_t kDataHandle = 3;

bool isRequest(const ParsedMessage& m) {
    return m.header.subcommand == static_cast<uint8_t>(Subcommand::Req);
}

bool supports(uint32_t mask, uint16_t protocol) {
    return protocol < 32 && (mask & (1u << protocol)) != 0;
}

}  // namespace

void CapiController::confirm(Application& app, const ParsedMessage& m, uint16_t info) {
    auto command = static_cast<Command>(m.header.command);
    MessageBuilder conf(command, Subcommand::Conf, static_cast<uint16_t>(app.id),
                        m.header.messageNumber);
    conf.dword(capi::readU32(m.bytes, kAddressOffset));
    if (command == Command::DataB3) {
        conf.word(m.has(kDataHandle) ? m.word(kDataHandle) : 0);
    }
    conf.word(info);
    if (command == Command::Facility) {
        conf.word(m.has(kFacilitySelector) ? m.word(kFacilitySelector) : 0).emptyStructs(1);
    }
    send(app, conf.take());
}

void CapiController::refuse(Application& app, const ParsedMessage& m, ViolationKind kind,
                            uint16_t info, std::string detail) {
    if (isRequest(m)) {
        violation(app.id, kind, info, std::move(detail), m.bytes);
        confirm(app, m, info);
    } else {
        violation(app.id, kind, 0, detail + "; response ignored", m.bytes);
    }
}

// The far end cleared first and its indication is still on the way: the
// application could not know, so this is no violation, but the controller
// refuses the request all the same.
bool CapiController::refusedAsCleared(Application& app, const ParsedMessage& m, const Call& call) {
    if (call.state != Call::State::Cleared) {
        return false;
    }
    refuseCrossing(app, m, call.clearedBy, clearingQueued(app, call), "PLCI " + hex(call.plci));
    return true;
}

bool CapiController::refusedAsCleared(Application& app, const ParsedMessage& m,
                                      const B3Connection& b3) {
    if (b3.state != B3Connection::State::Cleared) {
        return false;
    }
    refuseCrossing(app, m, b3.clearedBy, clearingQueued(app, b3), "NCCI " + hex(b3.ncci));
    return true;
}

void CapiController::refuseCrossing(Application& app, const ParsedMessage& m, ClearedBy clearedBy,
                                    bool clearingQueued, const std::string& what) {
    if (clearedBy == ClearedBy::Network && clearingQueued) {
        ++crossings_;
        note("crossed the clearing of " + what);
        if (isRequest(m)) {
            confirm(app, m, code::kWrongState);
        }
        return;
    }
    refuse(app, m, ViolationKind::WrongState, code::kWrongState, what + " is being cleared");
}

Call* CapiController::requestedCall(Application& app, const ParsedMessage& m) {
    uint32_t address = m.dword(0);
    bool plciForm = (address & kControllerMask) == kController && (address & kExternalBit) == 0 &&
                    (address >> 16) == 0 && (address >> 8) != 0;
    auto it = plciForm ? calls_.find(address) : calls_.end();
    if (it == calls_.end()) {
        refuse(app, m, ViolationKind::UnknownAddress, code::kIllegalAddress, "no such PLCI");
        return nullptr;
    }
    if (it->second.applId != app.id) {
        refuse(app, m, ViolationKind::ForeignAddress, code::kIllegalAddress,
               "PLCI of application " + std::to_string(it->second.applId));
        return nullptr;
    }
    return &it->second;
}

B3Connection* CapiController::requestedB3(Application& app, const ParsedMessage& m) {
    uint32_t address = m.dword(0);
    bool ncciForm = (address & kControllerMask) == kController && (address & kExternalBit) == 0 &&
                    (address >> 16) != 0 && ((address >> 8) & 0xFF) != 0;
    auto it = ncciForm ? b3s_.find(address) : b3s_.end();
    if (it == b3s_.end()) {
        refuse(app, m, ViolationKind::UnknownAddress, code::kIllegalAddress, "no such NCCI");
        return nullptr;
    }
    if (it->second.applId != app.id) {
        refuse(app, m, ViolationKind::ForeignAddress, code::kIllegalAddress,
               "NCCI of application " + std::to_string(it->second.applId));
        return nullptr;
    }
    return &it->second;
}

bool CapiController::clearingQueued(const Application& app, const Call& call) const {
    return clearingOnItsWay(app, Command::Disconnect, call.plci);
}

bool CapiController::clearingQueued(const Application& app, const B3Connection& b3) const {
    return clearingOnItsWay(app, Command::DisconnectB3, b3.ncci) ||
           clearingOnItsWay(app, Command::Disconnect, b3.plci);
}

bool CapiController::clearingOnItsWay(const Application& app, Command command,
                                      uint32_t address) const {
    auto code = static_cast<uint8_t>(command);
    if (indicationQueued(app, code, address)) {
        return true;
    }
    return config_.indicationsLeaveAtOnce &&
           std::any_of(pending_.begin(), pending_.end(), [&](const PendingIndication& p) {
               return p.applId == app.id && p.command == code && p.address == address;
           });
}

std::optional<uint16_t> CapiController::bProtocolRefusal(std::span<const uint8_t> content,
                                                         BProtocol& protocol,
                                                         std::string& detail) const {
    protocol = parseBProtocol(content, detail);
    if (!detail.empty()) {
        return code::kIllegalCoding;
    }
    ProfileFields profile = readProfile(config_.identity.profile);
    if (!supports(profile.b1Support, protocol.b1)) {
        detail = "B1 protocol " + std::to_string(protocol.b1);
        return code::kB1NotSupported;
    }
    if (!supports(profile.b2Support, protocol.b2)) {
        detail = "B2 protocol " + std::to_string(protocol.b2);
        return code::kB2NotSupported;
    }
    if (!supports(profile.b3Support, protocol.b3)) {
        detail = "B3 protocol " + std::to_string(protocol.b3);
        return code::kB3NotSupported;
    }
    return std::nullopt;
}

}  // namespace tellmaro::exchange
