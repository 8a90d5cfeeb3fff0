#pragma once
// Checks shared by the flow tests: the state of the line after a scenario,
// the prompts a party heard, and the messages the engine sent.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "engine_harness.h"

namespace tellmaro::test {

// The registered mobile as the line presents it, and two parties it calls.
inline constexpr const char* kMobile = "01711234567";
inline constexpr const char* kTarget = "0301234567";
inline constexpr const char* kSecondTarget = "0402345678";

// Runs until the engine is in `phase`; false if it never gets there.
bool reachPhase(EngineHarness& h, relay::CallPhase phase, milliseconds limit = 60s);

// A called party that answers after `after`.
exchange::PartyBehaviour answersAfter(milliseconds after);

// Settings where "*" confirms a number, so that "#" cancels.
HarnessOptions hashCancels(bool totalDisconnect = false);

// Where most flow tests start: the registered mobile and the called party
// (kTarget) on the line, the relay started, and the mobile's call coming
// in a second later.
struct MobileCall {
    explicit MobileCall(HarnessOptions options = {},
                        exchange::PartyBehaviour target = answersAfter(1s),
                        exchange::PartyBehaviour mobile = {});

    // Keys `keys` at number entry and runs until `phase`.
    ::testing::AssertionResult dial(const std::string& keys, relay::CallPhase phase);
    void keys(const std::string& keys) { h.line.pressKeysNow(mobile, keys); }
    // The mobile hangs up; after `settle` the relay is idle and the line clean.
    void hangUpAndSettle(milliseconds settle = 2s);

    EngineHarness h;
    exchange::PartyId mobile = 0;
    exchange::PartyId target = 0;
};

// No protocol violation, no live PLCI or NCCI and no indication left or
// never answered; on failure the details and the end of the line's trace.
::testing::AssertionResult lineSettled(const EngineHarness& h);

#define EXPECT_LINE_SETTLED(h) EXPECT_TRUE(::tellmaro::test::lineSettled(h))

// One prompt as a party heard it: the run of blocks it received from one
// prompt file. A whole prompt is every record of the file plus the block of
// the read that finds the end (the file's records are whole, so that read
// brings silence).
struct HeardPrompt {
    std::string file;  // "?" for a block of no prompt file
    bool whole = false;
    size_t blocks = 0;
    milliseconds firstAt{0};
    milliseconds lastAt{0};
};

std::vector<HeardPrompt> heardPrompts(const EngineHarness& h, exchange::PartyId party);

// "welcome.pdt" for a whole prompt, "welcome.pdt (cut)" for one cut short.
std::vector<std::string> promptNames(const std::vector<HeardPrompt>& prompts);

// Blocks of 256 ms left silent between consecutive prompts.
std::vector<int> silentBlocksBetween(const std::vector<HeardPrompt>& prompts);

// The describeMessage texts of the sent messages of one kind ("INFO_REQ"),
// and how many there are, counted from message `from` on.
std::vector<std::string> sentOfKind(const EngineHarness& h, std::string_view kind, size_t from = 0);
size_t countSent(const EngineHarness& h, std::string_view kind, size_t from = 0);

// The call log without its times: each date and time becomes "<time>", so
// the lines and durations can be compared where the times are not the point.
std::string withoutTimes(const std::string& log);

// Pieces of the registered mobile's log entry, in withoutTimes form: the
// blank lines, caller and time; a dialled number; the end of the connection.
std::string logCallStart();
std::string logDialled(const std::string& number);
std::string logConnectionEnd(const std::string& duration);

// Line seizures (CONNECT_REQ without digits), and the 20 characters of every
// number dialled, in order.
size_t countSeizures(const EngineHarness& h);
std::vector<std::string> dialledNumbers(const EngineHarness& h);

// Phone book with the given (code, number) entries, written to the program
// directory for the engine to load at start-up.
void writePhoneBook(const EngineHarness& h,
                    const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace tellmaro::test
