#pragma once
// The line simulator driven as the relay drives it, through the in-process
// driver in virtual time with the relay's own message templates, by the steps
// of a line flow (docs/scenario-format.md, "Line flows").

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "capi/message_trace.h"
#include "exchange/controller/clock.h"
#include "exchange/controller/in_process_driver.h"
#include "exchange/simulated/line_simulator.h"
#include "exchange/simulated/scenario_runner.h"

namespace tellmaro::exchange::test {

using namespace std::chrono_literals;
using Words = std::vector<std::string>;

struct Received {
    std::vector<uint8_t> bytes;
    capi::MessageHeader header;
    std::span<const uint8_t> block;  // a DATA_B3_IND's data, read through its pointer

    // A message that failed to arrive reads as zeros, so the test goes on to report it.
    uint32_t address() const { return word(8) | uint32_t{word(10)} << 16; }
    uint16_t word(size_t at) const {
        return bytes.size() >= at + 2 ? static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8) : 0;
    }
    std::string text() const { return capi::describeMessage(bytes); }
};

// A PLCI and its NCCI as a flow names them, and what the last indication on
// them carried that a response echoes.
struct FlowLeg {
    uint32_t plci = 0;
    uint32_t ncci = 0;
    uint16_t messageNumber = 0;
    uint16_t dataHandle = 0;
};

class LineFlow {
  public:
    // `text`: party lines and steps, as in a flow file.
    explicit LineFlow(std::string_view text, LineConfig config = {});

    void play(std::string_view steps);
    void put(std::span<const uint8_t> message, uint32_t expected = 0, uint32_t applId = 0);
    // The next message, of this kind and with these fields ("KIND [FIELD=VALUE...]").
    Received get(std::string_view kindAndFields);
    PartyId party(const std::string& name) const { return parties_->party(name); }
    FlowLeg& leg(const std::string& name);

    ManualClock clock;
    LineSimulator line;
    InProcessDriver driver{line.controller()};
    capi::MessageTemplates relay;
    uint32_t appl = 0;

  private:
    void run(const Words& w);
    void putTemplate(const Words& w);
    Received get(const Words& w);
    std::optional<Received> next();
    bool skipAudio();
    void check(const Words& w);

    std::unique_ptr<ScenarioRunner> parties_;
    std::map<std::string, FlowLeg> legs_;
    FlowLeg literal_;
    bool audio_ = false;
    std::optional<Received> held_;  // read while skipping audio
    std::vector<uint8_t> block_ = std::vector<uint8_t>(4096, 0x5A);
};

// The flows of a file under tests/exchange/flows: a name, and the file's
// shared statements with the flow's own.
std::vector<std::pair<std::string, std::string>> readLineFlows(const std::string& file);

}  // namespace tellmaro::exchange::test
