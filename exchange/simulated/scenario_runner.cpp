#include "exchange/simulated/scenario_runner.h"

namespace tellmaro::exchange {

namespace {

PartyBehaviour behaviourOf(const ScenarioParty& party) {
    PartyBehaviour behaviour;
    switch (party.onCall) {
        case ScenarioParty::OnCall::Answer:
            behaviour.onCall = PartyBehaviour::OnCall::Answer;
            break;
        case ScenarioParty::OnCall::Busy:
            behaviour.onCall = PartyBehaviour::OnCall::Busy;
            break;
        case ScenarioParty::OnCall::Unreachable:
            behaviour.onCall = PartyBehaviour::OnCall::Unreachable;
            break;
        case ScenarioParty::OnCall::NoAnswer:
            behaviour.onCall = PartyBehaviour::OnCall::NoAnswer;
            break;
    }
    behaviour.answerAfter = party.answerAfter;
    behaviour.hangUpAfter = party.hangUpAfter;
    behaviour.acceptsCallBack = party.acceptsCallBack;
    behaviour.ringTime = party.ringTime;
    for (const auto& keys : party.keys) {
        behaviour.keys.push_back({keys.after, keys.keys});
    }
    return behaviour;
}

}  // namespace

LineConfig scenarioLineConfig(const Scenario& scenario, LineConfig config) {
    if (!scenario.lineNumber.empty()) {
        config.lineNumber = scenario.lineNumber;
    }
    return config;
}

ScenarioRunner::ScenarioRunner(LineSimulator& line, const Clock& clock, Scenario scenario)
    : line_(line), clock_(clock), scenario_(std::move(scenario)) {
    for (const auto& party : scenario_.parties) {
        parties_[party.name] = line_.addParty(party.number, behaviourOf(party));
    }
}

void ScenarioRunner::poll() {
    if (started_ || line_.accounting().applications == 0) {
        return;
    }
    started_ = true;
    startedAt_ = clock_.now();
    for (const auto& event : scenario_.events) {
        PartyId party = parties_.at(event.party);
        auto at = startedAt_ + event.at;
        switch (event.kind) {
            case ScenarioEvent::Kind::Call: {
                CallOptions options;
                options.cip = event.cip;
                options.callerId = event.withheld ? CallerId::Restricted : CallerId::Number;
                line_.callPcAt(at, party, options);
                break;
            }
            case ScenarioEvent::Kind::HangUp:
                line_.hangUpAt(at, party);
                break;
            case ScenarioEvent::Kind::Keys:
                line_.pressKeysAt(at, party, event.keys);
                break;
        }
    }
}

bool ScenarioRunner::finished() const {
    return started_ && clock_.now() >= startedAt_ + scenario_.end;
}

ScenarioRunner::Outcome ScenarioRunner::check() const {
    Outcome outcome;
    auto report = [&](bool ok, const std::string& what, const std::string& why = {}) {
        outcome.ok = outcome.ok && ok;
        outcome.lines.push_back((ok ? "ok      " : "FAILED  ") + what +
                                (why.empty() ? "" : ": " + why));
    };
    if (!started_) {
        report(false, "the scenario started", "no application registered");
    }
    auto accounting = line_.accounting();
    for (const auto& e : scenario_.expectations) {
        std::string where = " (line " + std::to_string(e.line) + ")";
        switch (e.kind) {
            case ScenarioExpectation::Kind::Heard: {
                auto heard =
                    checkHeard(line_.partyRecord(parties_.at(e.party)), parties_.at(e.other));
                report(heard.ok(), e.party + " heard " + e.other + where, heard.describe());
                break;
            }
            case ScenarioExpectation::Kind::Called: {
                // A busy party was called too, even if its telephone never rang.
                const auto& record = line_.partyRecord(parties_.at(e.party));
                auto calls = record.callsFromPc + record.count(PartyEvent::BusyCall);
                report(calls > 0, e.party + " was called" + where,
                       std::to_string(calls) + " calls from the PC");
                break;
            }
            case ScenarioExpectation::Kind::Idle:
                report(accounting.idle(), "the line is idle" + where,
                       std::to_string(accounting.livePlcis) + " PLCIs and " +
                           std::to_string(accounting.liveNccis) + " NCCIs live");
                break;
            case ScenarioExpectation::Kind::Clean: {
                std::string why = std::to_string(accounting.violations.size()) + " violations, " +
                                  std::to_string(accounting.unanswered.size()) + " unanswered, " +
                                  std::to_string(accounting.neverAnswered.size()) +
                                  " never answered";
                for (const auto& v : accounting.violations) {
                    why += "\n        " + v.detail + ": " + v.message;
                }
                for (const auto& i : accounting.neverAnswered) {
                    why += "\n        never answered: " + i.message;
                }
                for (const auto& i : accounting.unanswered) {
                    why += "\n        unanswered: " + i.message;
                }
                report(accounting.clean(), "no violations, nothing unanswered" + where, why);
                break;
            }
        }
    }
    return outcome;
}

}  // namespace tellmaro::exchange
