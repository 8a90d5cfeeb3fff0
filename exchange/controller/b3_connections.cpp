// B3 connections: the paced audio of the far party, the keys it presses and
// the blocks the application plays to it.
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

}  // namespace

B3Connection& LineSimulator::newB3(Call& call, B3Connection::State state) {
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

void LineSimulator::activateB3(B3Connection& b3) {
    b3.state = B3Connection::State::Active;
    Application& app = applications_.at(b3.applId);
    send(app, MessageBuilder(Command::ConnectB3Active, Subcommand::Ind,
                             static_cast<uint16_t>(app.id), nextIndicationNumber(app))
                  .dword(b3.ncci)
                  .emptyStructs(1)  // NCPI
                  .take());
    B3Ref ref{b3.ncci, b3.serial};
    // The first block is there once 256 ms of audio have come in.
    b3.nextBlockAt = clock_.now() + config_.timing.blockInterval;
    schedule_.at(b3.nextBlockAt, event::AudioBlock{ref});
    if (Party* party = partyOf(calls_.at(b3.plci))) {
        for (const auto& press : party->behaviour.keys) {
            schedule_.at(clock_.now() + press.after, event::ScriptedKeys{ref, press.keys});
        }
    }
}

// Every block the far party speaks is numbered, also the ones a controller
// must drop because the application has left 7 of them unanswered.
void LineSimulator::sendAudioBlock(B3Connection& b3) {
    Party* party = partyOf(calls_.at(b3.plci));
    if (!party) {
        return;
    }
    Application& app = applications_.at(b3.applId);
    uint32_t sequence = party->record.blocksSent++;
    if (b3.outstandingHandles.size() >= app.blockLimit()) {
        ++droppedAudioBlocks_;
    } else {
        uint16_t handle = b3.nextHandle;
        while (std::find(b3.outstandingHandles.begin(), b3.outstandingHandles.end(), handle) !=
               b3.outstandingHandles.end()) {
            handle = (handle + 1) % kHandleCount;
        }
        b3.nextHandle = (handle + 1) % kHandleCount;
        b3.outstandingHandles.push_back(handle);
        MessageBuilder ind(Command::DataB3, Subcommand::Ind, static_cast<uint16_t>(app.id),
                           nextIndicationNumber(app));
        ind.dword(b3.ncci).dword(0).word(kAudioBlockSize).word(handle).word(0);
        if (config_.dataB3IndLength >= kDataB3With64BitPointer) {
            ind.qword(0);
        }
        send(app, ind.take(), makeAudioBlock({party->id, sequence}));
    }
    b3.nextBlockAt += config_.timing.blockInterval;
    schedule_.at(b3.nextBlockAt, event::AudioBlock{{b3.ncci, b3.serial}});
}

void LineSimulator::pressKeys(Party& party, const std::string& keys) {
    party.record.keysPressed += keys;
    auto call = party.plci ? calls_.find(*party.plci) : calls_.end();
    auto b3 =
        call != calls_.end() && call->second.ncci ? b3s_.find(*call->second.ncci) : b3s_.end();
    if (b3 == b3s_.end() || b3->second.state != B3Connection::State::Active ||
        !b3->second.dtmfListening) {
        party.record.keysUnheard += keys;
        note(party.number + " keys " + keys + " unheard");
        return;
    }
    party.record.keysDelivered += keys;
    Application& app = applications_.at(b3->second.applId);
    std::vector<uint8_t> characters(keys.begin(), keys.end());
    send(app, MessageBuilder(Command::Facility, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(b3->second.ncci)
                  .word(kDtmfSelector)
                  .structure(characters)
                  .take());
}

void LineSimulator::playToParty(const B3Connection& b3, std::span<const uint8_t> block) {
    Party* party = partyOf(calls_.at(b3.plci));
    if (!party) {
        return;
    }
    ReceivedBlock received{clock_.now(), audioBlockHash(block), recogniseAudioBlock(block), {}};
    if (party->behaviour.keepReceivedAudio) {
        received.bytes.assign(block.begin(), block.end());
    }
    party->record.received.push_back(std::move(received));
}

}  // namespace tellmaro::exchange
