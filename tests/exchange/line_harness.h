#pragma once
// A line simulator driven through the in-process driver in virtual time, as
// the relay drives it, with the relay's own message templates.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "exchange/controller/clock.h"
#include "exchange/controller/in_process_driver.h"
#include "exchange/simulated/line_simulator.h"

namespace tellmaro::exchange::test {

using namespace std::chrono_literals;
using capi::Command;
using capi::Subcommand;

inline constexpr char kOwnNumber[] = "0301234567";

struct Received {
    std::vector<uint8_t> bytes;
    capi::MessageHeader header;
    std::span<const uint8_t> block;  // a DATA_B3_IND's data, read through its pointer

    uint32_t address() const;
    uint16_t word(size_t offset) const;
    std::string text() const;
};

// A PLCI and, once there, the NCCI of its B3 connection.
struct Leg {
    uint32_t plci = 0;
    uint32_t ncci = 0;
};

class LineHarness {
  public:
    explicit LineHarness(LineConfig config = {});

    ManualClock clock;
    LineSimulator line;
    InProcessDriver driver{line.controller()};
    capi::MessageTemplates relay;
    uint32_t appl = 0;

    uint32_t put(std::span<const uint8_t> message) { return driver.putMessage(appl, message); }
    void putOk(std::span<const uint8_t> message);
    std::optional<Received> get();
    // The next message, which must be this one.
    Received expect(Command command, Subcommand subcommand);
    void expectNothing();
    void advance(std::chrono::milliseconds step);

    void listen();
    // A party's call as the relay answers it, up to the active B3 connection.
    Leg answerCallFrom(PartyId party);
    // The relay's call to `number`, up to the active B3 connection.
    Leg callAndConnect(const std::string& number, std::chrono::milliseconds answerWithin = 10s);
    std::string violations() const;
};

}  // namespace tellmaro::exchange::test
