// Indications that wait for their responses, and what is still queued.
#include <algorithm>

#include "capi/byte_order.h"
#include "capi/message_trace.h"
#include "exchange/controller/capi_controller.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr size_t kAddressOffset = 8;

}  // namespace

uint16_t CapiController::nextIndicationNumber(Application& app) {
    return app.nextMessageNumber++;
}

bool CapiController::answerPending(uint32_t applId, uint8_t command, uint32_t address,
                                   std::optional<uint16_t> handle) {
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const PendingIndication& p) {
        return p.applId == applId && p.command == command && p.address == address &&
               (!handle || p.dataHandle == *handle);
    });
    if (it == pending_.end()) {
        return false;
    }
    pending_.erase(it);
    return true;
}

// An indication that CAPI 2.0 closes without a response: CONNECT_IND once
// DISCONNECT_IND follows, CONNECT_B3_IND once DISCONNECT_B3_IND follows.
void CapiController::supersedePending(uint32_t applId, uint8_t command, uint32_t address) {
    std::erase_if(pending_, [&](const PendingIndication& p) {
        return p.applId == applId && p.command == command && p.address == address;
    });
}

// The connection is gone. Two kinds of indication need no response then:
// a received block, whose buffer the release frees in libcapi20 as in every
// CAPI driver, and a CONNECT_ACTIVE_IND of a call the application was
// already clearing. Anything else left was never answered.
void CapiController::endPending(uint32_t applId, uint32_t address, uint32_t mask) {
    std::erase_if(pending_, [&](const PendingIndication& p) {
        if (p.applId != applId || (p.address & mask) != (address & mask)) {
            return false;
        }
        if (p.command == static_cast<uint8_t>(Command::DataB3) ||
            p.command == static_cast<uint8_t>(Command::ConnectActive)) {
            ++closedByRelease_;
            return true;
        }
        keepBounded(neverAnswered_,
                    {p.at, p.applId, p.command, p.address, capi::describeMessage(p.message)});
        return true;
    });
}

size_t CapiController::pendingCount(uint32_t applId, uint8_t command, uint32_t address) const {
    return static_cast<size_t>(
        std::count_if(pending_.begin(), pending_.end(), [&](const PendingIndication& p) {
            return p.applId == applId && p.command == command && p.address == address;
        }));
}

bool CapiController::indicationQueued(const Application& app, uint8_t command,
                                      uint32_t address) const {
    return std::any_of(app.queue.begin(), app.queue.end(), [&](const QueuedMessage& q) {
        return q.message[capi::kCommandOffset] == command &&
               q.message[capi::kSubcommandOffset] == static_cast<uint8_t>(Subcommand::Ind) &&
               capi::readU32(q.message, kAddressOffset) == address;
    });
}

}  // namespace tellmaro::exchange
