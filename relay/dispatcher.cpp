// The polling dispatcher: every tick of its poll timer fetches at most one message and
// hands it to the one handler for its command and subcommand.
#include "relay/engine.h"

namespace tellmaro::relay {

using capi::Command;

// Column two applies to confirmations, column three to every other
// subcommand. Rows whose handler is consumeOnly take the message and drop it.
const Engine::DispatchRow Engine::kDispatchTable[] = {
    {Command::Alert, &Engine::consumeOnly, &Engine::consumeOnly},
    {Command::Connect, &Engine::onConnectConf, &Engine::onConnectInd},
    {Command::ConnectActive, &Engine::onConnectActiveInd, &Engine::onConnectActiveInd},
    {Command::Disconnect, &Engine::consumeOnly, &Engine::onDisconnectInd},
    {Command::Listen, &Engine::consumeOnly, &Engine::consumeOnly},
    {Command::Info, &Engine::consumeOnly, &Engine::consumeOnly},
    {Command::Facility, &Engine::onFacilityConf, &Engine::onFacilityInd},
    {Command::ConnectB3, &Engine::onConnectB3Conf, &Engine::onConnectB3Ind},
    {Command::ConnectB3Active, &Engine::onConnectB3ActiveInd, &Engine::onConnectB3ActiveInd},
    {Command::DisconnectB3, &Engine::onDisconnectB3Conf, &Engine::onDisconnectB3Ind},
    {Command::DataB3, &Engine::onDataB3Conf, &Engine::onDataB3Ind},
    {Command::ResetB3, &Engine::consumeOnly, &Engine::onResetB3Ind},
};

void Engine::dispatcherTick() {
    // A tick that arrives while a handler's message box is open returns at once.
    if (dispatchBusy_) {
        return;
    }
    dispatchBusy_ = true;
    fetchMessage();
    // Also without a new message: the handler of the last one then does nothing.
    (this->*selectHandler())();
    dispatchBusy_ = false;
}

void Engine::fetchMessage() {
    // The driver's copy of the current message must stay valid until its
    // handler has taken it.
    if (messagePending_) {
        return;
    }
    std::span<const uint8_t> message;
    uint32_t result = driver_.getMessage(applId_, message);
    if (result == capi::kCapiQueueEmpty) {
        return;
    }
    if (result != capi::kCapiOk) {
        reportCapiError(result);
        return;
    }
    auto header = capi::readHeader(message);
    if (!header) {
        return;  // nothing a handler could read; fetching goes on
    }
    messagePending_ = true;
    rxHeader_ = *header;
    rxMessage_ = message;
}

Engine::Handler Engine::selectHandler() const {
    for (const auto& row : kDispatchTable) {
        if (static_cast<uint8_t>(row.command) == rxHeader_.command) {
            if (rxHeader_.subcommand == static_cast<uint8_t>(capi::Subcommand::Conf)) {
                return row.onConf;
            }
            // A driver hands out confirmations and indications only. A
            // request or response coming back carries no block pointer a
            // handler could trust, so only rows that do not look at the
            // subcommand take it.
            if (rxHeader_.subcommand == static_cast<uint8_t>(capi::Subcommand::Ind) ||
                row.onConf == row.onOther) {
                return row.onOther;
            }
            break;
        }
    }
    // Nothing else is expected, but whatever arrives is taken so that
    // fetching goes on.
    return &Engine::consumeOnly;
}

bool Engine::takeMessage() {
    if (!messagePending_) {
        return false;
    }
    messagePending_ = false;
    return true;
}

void Engine::consumeOnly() {
    (void)takeMessage();
}

}  // namespace tellmaro::relay
