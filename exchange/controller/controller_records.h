#pragma once
// The inner records of the controller: registered applications, calls
// (PLCIs), B3 connections (NCCIs) and unanswered indications.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "capi/capi_driver.h"
#include "exchange/controller/network.h"

namespace tellmaro::exchange {

struct QueuedMessage {
    std::vector<uint8_t> message;
    std::vector<uint8_t> data;  // a DATA_B3_IND's block
};

// CAPI 2.0 allows at most 7 unanswered data blocks per connection.
inline constexpr uint32_t kMaxB3Blocks = 7;

struct Application {
    uint32_t id = 0;
    capi::RegisterParams params;
    uint32_t cipMask = 0;
    std::deque<QueuedMessage> queue;
    uint16_t nextMessageNumber = 1;
    bool dropped = false;  // its connection to the controller broke

    bool listensFor(uint16_t cip) const {
        // Bit 0 asks for every service.
        return (cipMask & 1u) != 0 || (cip < 32 && (cipMask & (1u << cip)) != 0);
    }
    size_t blockLimit() const { return std::clamp<uint32_t>(params.maxB3Blocks, 1, kMaxB3Blocks); }
};

enum class ClearedBy { Nobody, Network, Application };

struct Call {
    enum class Kind { Incoming, Outgoing, Seizure };
    enum class State {
        Offered,    // CONNECT_IND sent, not answered
        Answering,  // CONNECT_RESP accepted it; the network has not confirmed yet
        Dialling,   // outgoing, the network is still working on it
        Seized,     // a line taken without digits; never connects
        Active,     // CONNECT_ACTIVE_IND sent
        Cleared,    // DISCONNECT_IND sent, waiting for DISCONNECT_RESP
    };

    uint32_t plci = 0;
    uint32_t applId = 0;
    uint64_t serial = 0;  // tells events of an earlier call on the same PLCI apart
    Kind kind = Kind::Incoming;
    State state = State::Offered;
    ClearedBy clearedBy = ClearedBy::Nobody;
    bool holdsChannel = false;
    bool alerted = false;
    std::optional<uint32_t> ncci;

    CallRef ref() const { return {plci, serial}; }
};

struct B3Connection {
    enum class State {
        Offered,  // CONNECT_B3_IND sent, not answered
        Active,   // CONNECT_B3_ACTIVE_IND sent: audio flows
        Cleared,  // DISCONNECT_B3_IND sent, waiting for DISCONNECT_B3_RESP
    };

    uint32_t ncci = 0;
    uint32_t plci = 0;
    uint32_t applId = 0;
    uint64_t serial = 0;
    State state = State::Offered;
    ClearedBy clearedBy = ClearedBy::Nobody;
    bool dtmfListening = false;
    std::vector<uint16_t> outstandingHandles;  // DATA_B3_INDs not answered
    uint16_t nextHandle = 0;

    B3Ref ref() const { return {ncci, serial}; }
};

struct PendingIndication {
    std::chrono::milliseconds at{0};
    uint32_t applId = 0;
    uint8_t command = 0;
    uint32_t address = 0;
    uint16_t dataHandle = 0;  // DATA_B3_IND only
    std::vector<uint8_t> message;
};

// What the controller records for its observers (violations, indications
// never answered) is kept up to a bound: a line that serves a hostile
// network for months must not grow with it. Later records are not kept.
inline constexpr size_t kMostRecordsKept = 256;
template <typename Record>
void keepBounded(std::vector<Record>& records, Record record) {
    if (records.size() < kMostRecordsKept) {
        records.push_back(std::move(record));
    }
}

// "0x201": PLCIs, NCCIs and controllers in violation texts.
inline std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace tellmaro::exchange
