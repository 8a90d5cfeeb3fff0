#pragma once
// The line driven as the relay drives it, in the steps of docs/scenario-format.md's "Line flows".

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "capi/message_templates.h"
#include "exchange/controller/in_process_driver.h"
#include "exchange/simulated/scenario_runner.h"

namespace tellmaro::exchange::test {

using Words = std::vector<std::string>;

struct Received {
    std::vector<uint8_t> bytes;      // empty when nothing came
    std::span<const uint8_t> block;  // a DATA_B3_IND's data, read through its pointer

    uint16_t word(size_t at) const {
        return bytes.size() >= at + 2 ? static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8) : 0;
    }
    uint32_t address() const { return word(8) | uint32_t{word(10)} << 16; }
};

// A PLCI, its NCCI, and what the last indication on them carried that a response echoes.
struct FlowLeg {
    uint32_t plci = 0, ncci = 0;
    uint16_t messageNumber = 0, dataHandle = 0;
};

struct FlowScript {
    Scenario scenario;  // its parties
    std::vector<Words> steps;
};

// Party lines and steps as in a flow file; the line's number is 0301234567.
struct LineFlow {
    explicit LineFlow(const std::string& text, LineConfig config = {});
    Received play(const std::string& steps);  // the message the last `get` read
    void put(std::span<const uint8_t> message, uint32_t expected = 0);
    PartyId party(const std::string& name) const { return runner->party(name); }

    FlowScript script;  // read first: "remote" makes the line one over remote CAPI
    ManualClock clock;
    LineSimulator line;
    InProcessDriver driver{line.controller()};
    capi::MessageTemplates relay;
    uint32_t appl = 0;
    std::unique_ptr<ScenarioRunner> runner;
    std::map<std::string, FlowLeg> legs;
    bool audio = false;  // blocks are answered unless a step gets them
    Received last;
};

}  // namespace tellmaro::exchange::test
