#include "exchange/simulated/scenario.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace tellmaro::exchange {

namespace {

using std::chrono::milliseconds;

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::istringstream in{std::string(line)};
    std::string word;
    while (in >> word) {
        out.push_back(word);
    }
    return out;
}

bool isDialString(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
    });
}

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class Parser {
  public:
    explicit Parser(const ScenarioStatementHook& hook) : hook_(hook) {}

    ScenarioParseResult run(std::string_view text) {
        size_t start = 0;
        while (start <= text.size() && error_.empty()) {
            size_t end = text.find('\n', start);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            ++lineNo_;
            auto line = text.substr(start, end - start);
            auto w = words(line);
            // "#" is also a DTMF key, so only whole lines are comments.
            if (!w.empty() && !w[0].starts_with('#')) {
                statements(line);
            }
            start = end + 1;
        }
        if (error_.empty() && !sawEnd_) {
            error_ = "the scenario has no 'end' statement";
        }
        // Parties call the PC's line and hear its number; an idle line needs none.
        if (error_.empty() && scenario_.lineNumber.empty() && !scenario_.parties.empty()) {
            error_ = "the scenario has parties but no 'line' statement giving the PC's number";
        }
        if (!error_.empty()) {
            return {std::nullopt, error_};
        }
        std::stable_sort(scenario_.events.begin(), scenario_.events.end(),
                         [](const auto& a, const auto& b) { return a.at < b.at; });
        return {std::move(scenario_), {}};
    }

  private:
    // Statements may share a line, separated by ";".
    void statements(std::string_view line) {
        size_t start = 0;
        while (start <= line.size() && error_.empty()) {
            size_t end = std::min(line.find(';', start), line.size());
            if (auto w = words(line.substr(start, end - start)); !w.empty()) {
                statement(w);
            }
            start = end + 1;
        }
    }

    // False when the hook does not know the statement either.
    bool hooked(const std::vector<std::string>& w) {
        auto verdict = hook_ ? hook_(w, scenario_) : std::nullopt;
        if (verdict && !verdict->empty()) {
            fail(*verdict);
        }
        return verdict.has_value();
    }

    void fail(const std::string& message) {
        if (error_.empty()) {
            error_ = "line " + std::to_string(lineNo_) + ": " + message;
        }
    }

    std::optional<milliseconds> duration(const std::string& text) {
        auto d = parseDuration(text);
        if (!d) {
            fail("'" + text + "' is not a time such as 500ms, 12s or 2m");
        }
        return d;
    }

    bool knownParty(const std::string& name) {
        if (!scenario_.party(name)) {
            fail("unknown party '" + name + "'");
            return false;
        }
        return true;
    }

    void statement(const std::vector<std::string>& w) {
        const std::string& keyword = w[0];
        if (sawEnd_) {
            fail(keyword == "end"
                     ? "a second 'end' statement"
                     : "'" + keyword + "' after the 'end' statement, which must come last");
            return;
        }
        if (keyword == "line" && !scenario_.lineNumber.empty()) {
            fail("a second 'line' statement");
        } else if (keyword == "line" && w.size() == 2 && isDigits(w[1])) {
            scenario_.lineNumber = w[1];
        } else if (keyword == "party" && w.size() >= 3) {
            party(w);
        } else if (keyword == "at" && w.size() >= 4) {
            event(w);
        } else if (keyword == "expect" && w.size() >= 2) {
            expectation(w);
        } else if (keyword == "end" && w.size() == 2) {
            if (auto d = duration(w[1])) {
                scenario_.end = *d;
                sawEnd_ = true;
            }
        } else if (!hooked(w)) {
            fail("cannot read '" + keyword + "' statement");
        }
    }

    void party(const std::vector<std::string>& w) {
        ScenarioParty p;
        p.name = w[1];
        p.number = w[2];
        if (scenario_.party(p.name)) {
            fail("party '" + p.name + "' is defined twice");
            return;
        }
        if (!isDigits(p.number)) {
            fail("party number '" + p.number + "' is not made of digits");
            return;
        }
        for (size_t i = 3; i < w.size() && error_.empty(); ++i) {
            option(p, w[i]);
        }
        scenario_.parties.push_back(std::move(p));
    }

    void option(ScenarioParty& p, const std::string& option) {
        auto eq = option.find('=');
        std::string name = option.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
        if (name == "busy" && value.empty()) {
            p.onCall = ScenarioParty::OnCall::Busy;
        } else if (name == "unreachable" && value.empty()) {
            p.onCall = ScenarioParty::OnCall::Unreachable;
        } else if (name == "no-answer" && value.empty()) {
            p.onCall = ScenarioParty::OnCall::NoAnswer;
        } else if (name == "answer") {
            if (auto d = duration(value)) {
                p.onCall = ScenarioParty::OnCall::Answer;
                p.answerAfter = *d;
            }
        } else if (name == "hangup") {
            p.hangUpAfter = duration(value);
        } else if (name == "ring") {
            p.ringTime = duration(value);
        } else if (name == "callback" && (value == "refuse" || value == "accept")) {
            p.acceptsCallBack = value == "accept";
        } else if (name == "keys") {
            keyList(p, value);
        } else {
            fail("unknown party option '" + option + "'");
        }
    }

    void keyList(ScenarioParty& p, const std::string& value) {
        std::istringstream in(value);
        std::string item;
        while (std::getline(in, item, ',') && error_.empty()) {
            auto colon = item.find(':');
            if (colon == std::string::npos || !isDialString(item.substr(colon + 1))) {
                fail("keys need the form TIME:KEYS, not '" + item + "'");
                return;
            }
            if (auto d = duration(item.substr(0, colon))) {
                p.keys.push_back({*d, item.substr(colon + 1)});
            }
        }
    }

    void event(const std::vector<std::string>& w) {
        ScenarioEvent e;
        e.line = lineNo_;
        auto at = duration(w[1]);
        if (!at || !knownParty(w[2])) {
            return;
        }
        e.at = *at;
        e.party = w[2];
        const std::string& what = w[3];
        if (what == "call") {
            e.kind = ScenarioEvent::Kind::Call;
            for (size_t i = 4; i < w.size(); ++i) {
                unsigned cip = 0;
                if (w[i] == "withheld") {
                    e.withheld = true;
                } else if (w[i].starts_with("cip=") &&
                           std::from_chars(w[i].data() + 4, w[i].data() + w[i].size(), cip).ec ==
                               std::errc{} &&
                           cip <= 0xFFFF) {
                    e.cip = static_cast<uint16_t>(cip);
                } else {
                    fail("unknown call option '" + w[i] + "'");
                }
            }
        } else if (what == "hangup" && w.size() == 4) {
            e.kind = ScenarioEvent::Kind::HangUp;
        } else if (what == "keys" && w.size() == 5 && isDialString(w[4])) {
            e.kind = ScenarioEvent::Kind::Keys;
            e.keys = w[4];
        } else {
            fail("unknown event '" + what + "'");
        }
        scenario_.events.push_back(std::move(e));
    }

    void expectation(const std::vector<std::string>& w) {
        ScenarioExpectation e;
        e.line = lineNo_;
        if (w.size() == 4 && w[2] == "heard") {
            if (!knownParty(w[1]) || !knownParty(w[3])) {
                return;
            }
            e.kind = ScenarioExpectation::Kind::Heard;
            e.party = w[1];
            e.other = w[3];
        } else if (w.size() == 3 && w[2] == "called") {
            if (!knownParty(w[1])) {
                return;
            }
            e.kind = ScenarioExpectation::Kind::Called;
            e.party = w[1];
        } else if (w.size() == 2 && w[1] == "idle") {
            e.kind = ScenarioExpectation::Kind::Idle;
        } else if (w.size() == 2 && w[1] == "clean") {
            e.kind = ScenarioExpectation::Kind::Clean;
        } else {
            if (!hooked(w)) {
                fail("unknown expectation");
            }
            return;
        }
        scenario_.expectations.push_back(std::move(e));
    }

    const ScenarioStatementHook& hook_;
    Scenario scenario_;
    std::string error_;
    int lineNo_ = 0;
    bool sawEnd_ = false;
};

}  // namespace

const ScenarioParty* Scenario::party(std::string_view name) const {
    for (const auto& p : parties) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

ScenarioParseResult parseScenario(std::string_view text, const ScenarioStatementHook& hook) {
    return Parser(hook).run(text);
}

std::optional<milliseconds> parseDuration(std::string_view text) {
    double factor = 0;
    std::string_view number;
    if (text.ends_with("ms")) {
        factor = 1;
        number = text.substr(0, text.size() - 2);
    } else if (text.ends_with("s")) {
        factor = 1000;
        number = text.substr(0, text.size() - 1);
    } else if (text.ends_with("m")) {
        factor = 60000;
        number = text.substr(0, text.size() - 1);
    } else {
        return std::nullopt;
    }
    double value = 0;
    auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || result.ec != std::errc{} || result.ptr != number.data() + number.size() ||
        !(value >= 0) || value > 1e9) {
        return std::nullopt;
    }
    return milliseconds(static_cast<int64_t>(std::llround(value * factor)));
}

}  // namespace tellmaro::exchange
