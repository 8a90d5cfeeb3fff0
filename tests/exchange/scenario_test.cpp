// Reading scenario files, and their clear errors.
#include <gtest/gtest.h>

#include "exchange/simulated/scenario.h"

namespace tellmaro::exchange {
namespace {

using std::chrono::milliseconds;

TEST(Scenario, ReadsPartiesEventsInTimeOrderAndExpectations) {
    auto parsed = parseScenario(R"(line 0711555000
        party mobile 01711234567 answer=1.5s keys=500ms:12,2s:#; party bob 089999 busy callback=refuse
        # parties and events may come in any order
        at 40s mobile hangup; at 1s mobile call; at 2s bob call withheld cip=4
        party alice 0301234567 answer=3s hangup=2m; expect alice heard mobile; expect mobile called
        expect idle; expect clean; end 45s)");
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    const Scenario& s = *parsed.scenario;
    EXPECT_EQ(s.lineNumber + " " + std::to_string(s.parties.size()), "0711555000 3");
    ASSERT_EQ(s.events.size(), 3u);
    EXPECT_EQ(s.events[0].party + s.events[1].party, "mobilebob");
    EXPECT_TRUE(s.events[1].withheld && s.events[1].cip == 4);
    EXPECT_EQ(s.events[2].kind, ScenarioEvent::Kind::HangUp);
    EXPECT_EQ(s.expectations.size(), 4u);
    EXPECT_EQ(s.end, milliseconds(45000));
    EXPECT_EQ(s.parties[0].answerAfter + *s.parties[2].hangUpAfter, milliseconds(121500));
}

TEST(Scenario, NamesTheLineOfEveryMistake) {
    const std::pair<const char*, const char*> cases[] = {
        {"party a 1\nat 1s b call\nend 2s", "line 2: unknown party 'b'"},
        {"party a 1 answer=soon\nend 2s", "line 1: 'soon' is not a time such as 500ms, 12s or 2m"},
        {"party a 1\nparty a 2\nend 1s", "line 2: party 'a' is defined twice"},
        {"party a 12x\nend 1s", "line 1: party number '12x' is not made of digits"},
        {"party a 1 keys=1s\nend 1s", "line 1: keys need the form TIME:KEYS, not '1s'"},
        {"party a 1\nexpect a heard b\nend 1s", "line 2: unknown party 'b'"},
        {"party a 1\nat 1s a dance\nend 1s", "line 2: unknown event 'dance'"},
        {"party a 1\n", "the scenario has no 'end' statement"},
        {"hello\nend 1s", "line 1: cannot read 'hello' statement"},
        {"end 5", "line 1: '5' is not a time such as 500ms, 12s or 2m"},
        {"end -1s", "line 1: '-1s' is not a time such as 500ms, 12s or 2m"},
        {"end 1.5.2s", "line 1: '1.5.2s' is not a time such as 500ms, 12s or 2m"},
    };
    for (const auto& [text, error] : cases) {
        auto parsed = parseScenario(text);
        EXPECT_FALSE(parsed.scenario) << text;
        EXPECT_EQ(parsed.error, error);
    }
}

}  // namespace
}  // namespace tellmaro::exchange
