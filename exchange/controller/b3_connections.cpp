// B3 connections: the far end's audio and keys for the application, within
// the window it leaves, and clearing.
#include <algorithm>

#include "capi/message_header.h"
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/message_builder.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr uint16_t kDtmfSelector = 1;
// Data handles stay below 256: applications may add 256 to tell their own
// blocks from the received ones.
constexpr uint16_t kHandleCount = 256;
constexpr size_t kDataB3With64BitPointer = 30;
// Keys a far end may have waiting for the application: a flood of telephone
// events beyond what any caller can key is dropped, not queued without end.
constexpr size_t kMostUnansweredKeyIndications = 32;
constexpr size_t kMostKeysPerIndication = 32;

}  // namespace

B3Connection& CapiController::newB3(Call& call, B3Connection::State state) {
    uint32_t ncci = allocateNcci(call.plci);
    B3Connection& b3 = b3s_[ncci];
    b3 = B3Connection{};
    b3.ncci = ncci;
    b3.plci = call.plci;
    b3.applId = call.applId;
    b3.serial = nextSerial_++;
    b3.state = state;
    call.ncci = ncci;
    return b3;
}

void CapiController::activateB3(B3Connection& b3) {
    b3.state = B3Connection::State::Active;
    Application& app = applications_.at(b3.applId);
    send(app, MessageBuilder(Command::ConnectB3Active, Subcommand::Ind,
                             static_cast<uint16_t>(app.id), nextIndicationNumber(app))
                  .dword(b3.ncci)
                  .emptyStructs(1)  // NCPI
                  .take());
    network_.mediaStarted(calls_.at(b3.plci).ref(), b3.ref());
}

void CapiController::clearB3(B3Connection& b3, ClearedBy by) {
    bool mediaFlowed = b3.state == B3Connection::State::Active;
    Application& app = applications_.at(b3.applId);
    supersedePending(app.id, static_cast<uint8_t>(Command::ConnectB3), b3.ncci);
    b3.state = B3Connection::State::Cleared;
    b3.clearedBy = by;
    send(app, MessageBuilder(Command::DisconnectB3, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(b3.ncci)
                  .word(0)          // Reason_B3: normal
                  .emptyStructs(1)  // NCPI
                  .take());
    if (mediaFlowed) {
        network_.mediaStopped(b3.ref());
    }
}

// A controller must drop a block when the application has left 7 of them
// unanswered on the connection, and one larger than the application
// registered for: libcapi20 copies it into a buffer of that size.
bool CapiController::audioFromFarEnd(B3Ref ref, std::vector<uint8_t> block) {
    B3Connection* b3 = findB3(ref);
    if (!b3 || b3->state != B3Connection::State::Active) {
        return false;
    }
    Application& app = applications_.at(b3->applId);
    if (b3->outstandingHandles.size() >= app.blockLimit() ||
        block.size() > std::min<size_t>(app.params.maxB3BlockSize, kAudioBlockSize)) {
        ++droppedAudioBlocks_;
        return false;
    }
    uint16_t handle = b3->nextHandle;
    while (std::find(b3->outstandingHandles.begin(), b3->outstandingHandles.end(), handle) !=
           b3->outstandingHandles.end()) {
        handle = (handle + 1) % kHandleCount;
    }
    b3->nextHandle = (handle + 1) % kHandleCount;
    b3->outstandingHandles.push_back(handle);
    MessageBuilder ind(Command::DataB3, Subcommand::Ind, static_cast<uint16_t>(app.id),
                       nextIndicationNumber(app));
    ind.dword(b3->ncci).dword(0).word(static_cast<uint16_t>(block.size())).word(handle).word(0);
    if (config_.dataB3IndLength >= kDataB3With64BitPointer) {
        ind.qword(0);
    }
    send(app, ind.take(), std::move(block));
    return true;
}

bool CapiController::keysFromFarEnd(CallRef ref, std::string_view keys) {
    Call* call = findCall(ref);
    auto b3 = call && call->ncci ? b3s_.find(*call->ncci) : b3s_.end();
    if (b3 == b3s_.end() || b3->second.state != B3Connection::State::Active ||
        !b3->second.dtmfListening) {
        return false;
    }
    Application& app = applications_.at(b3->second.applId);
    if (keys.size() > kMostKeysPerIndication ||
        pendingCount(app.id, static_cast<uint8_t>(Command::Facility), b3->second.ncci) >=
            kMostUnansweredKeyIndications) {
        if (droppedKeys_++ == 0) {
            note("keys dropped: more than " + std::to_string(kMostKeysPerIndication) +
                 " at once, or " + std::to_string(kMostUnansweredKeyIndications) +
                 " indications of them unanswered");
        }
        return false;
    }
    std::vector<uint8_t> characters(keys.begin(), keys.end());
    send(app, MessageBuilder(Command::Facility, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(b3->second.ncci)
                  .word(kDtmfSelector)
                  .structure(characters)
                  .take());
    return true;
}

}  // namespace tellmaro::exchange
