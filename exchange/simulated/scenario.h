#pragma once
// A simulator scenario read from its text form (docs/scenario-format.md):
// the parties, timed events and expectations.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tellmaro::exchange {

struct ScenarioKeys {
    std::chrono::milliseconds after{0};  // after the party's B3 connection came up
    std::string keys;                    // arrive in one indication
};

struct ScenarioParty {
    enum class OnCall { Answer, Busy, Unreachable, NoAnswer };

    std::string name;
    std::string number;
    OnCall onCall = OnCall::Answer;
    std::chrono::milliseconds answerAfter{2000};
    std::optional<std::chrono::milliseconds> hangUpAfter;
    bool acceptsCallBack = true;
    std::optional<std::chrono::milliseconds> ringTime;  // of its own calls
    std::vector<ScenarioKeys> keys;
};

struct ScenarioEvent {
    enum class Kind { Call, HangUp, Keys };

    std::chrono::milliseconds at{0};
    Kind kind = Kind::Call;
    std::string party;
    bool withheld = false;
    uint16_t cip = 16;
    std::string keys;
    int line = 0;  // in the scenario file, for messages
};

struct ScenarioExpectation {
    enum class Kind { Heard, Called, Idle, Clean };

    Kind kind = Kind::Clean;
    std::string party;
    std::string other;  // the party that was heard
    int line = 0;
};

struct Scenario {
    std::string lineNumber;
    std::vector<ScenarioParty> parties;
    std::vector<ScenarioEvent> events;  // in time order
    std::vector<ScenarioExpectation> expectations;
    std::chrono::milliseconds end{0};

    const ScenarioParty* party(std::string_view name) const;
};

struct ScenarioParseResult {
    std::optional<Scenario> scenario;
    std::string error;  // "line 7: unknown party 'bob'"
};

// Reads the statements a front-end adds to the format (the relay's flow
// tests): called with the words of each statement the scenario's own grammar
// cannot read. No value: not one of them either; an empty text: taken; any
// other text: what is wrong with it.
using ScenarioStatementHook = std::function<std::optional<std::string>(
    const std::vector<std::string>& words, const Scenario& sofar)>;

ScenarioParseResult parseScenario(std::string_view text, const ScenarioStatementHook& hook = {});

// "500ms", "12s", "1.5s", "2m".
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

}  // namespace tellmaro::exchange
