// Line flows: the simulator driven as an application drives it, one flow file
// per family (docs/scenario-format.md, "Line flows").
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "capi/byte_order.h"
#include "capi/message_trace.h"
#include "exchange/simulated/scenario_runner.h"
#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

using Words = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

struct Step {
    int line;
    Words words;
};

struct Flow {
    std::string name;
    std::vector<Step> steps;  // the file's shared statements first
};

std::vector<Flow> readFlows(const std::string& file) {
    std::ifstream in(std::string(TELLMARO_LINE_FLOWS_DIR) + "/" + file);
    std::vector<Step> shared;
    std::vector<Flow> flows;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (auto start = text.find_first_not_of(" \t");
            start == std::string::npos || text[start] == '#') {
            continue;
        }
        std::istringstream statements(text);
        for (std::string statement; std::getline(statements, statement, ';');) {
            std::istringstream split(statement);
            Step step{number, {}};
            for (std::string word; split >> word;) {
                step.words.push_back(word);
            }
            if (step.words.empty()) {
                continue;
            }
            if (step.words[0] == "flow") {
                flows.push_back({step.words.at(1), shared});
            } else {
                (flows.empty() ? shared : flows.back().steps).push_back(step);
            }
        }
    }
    EXPECT_FALSE(flows.empty()) << file;
    return flows;
}

std::string dashed(std::string text) {
    std::replace(text.begin(), text.end(), ' ', '-');
    return text;
}

uint32_t number(const std::string& text) {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 0));
}

// One leg as the flow names it: its PLCI, NCCI, and what its last
// indication carried that a response echoes.
struct FlowLeg {
    uint32_t plci = 0;
    uint32_t ncci = 0;
    uint16_t messageNumber = 0;
    uint16_t dataHandle = 0;
};

class Player {
  public:
    explicit Player(const Flow& flow) {
        LineConfig config;
        std::map<std::string, std::string> parties;  // a flow's own replaces a shared one
        for (const auto& step : flow.steps) {
            if (step.words[0] == "party") {
                std::string& line = parties[step.words.at(1)];
                line.clear();
                for (const auto& word : step.words) {
                    line += word + " ";
                }
            } else if (step.words[0] == "remote") {
                config.indicationsLeaveAtOnce = true;
            } else {
                steps_.push_back(step);
            }
        }
        std::string text = "line " + config.lineNumber + "\n";
        for (const auto& [name, line] : parties) {
            text += line + "\n";
        }
        auto scenario = parseScenario(text + "end 1s");
        EXPECT_TRUE(scenario.scenario) << scenario.error;
        h_ = std::make_unique<LineHarness>(config);
        parties_ = std::make_unique<ScenarioRunner>(h_->line, h_->clock, *scenario.scenario);
    }

    void play() {
        for (const auto& step : steps_) {
            SCOPED_TRACE("line " + std::to_string(step.line));
            run(step.words);
        }
    }

  private:
    PartyId party(const std::string& name) { return parties_->party(name); }

    FlowLeg& leg(const std::string& name) {
        if (std::isdigit(static_cast<unsigned char>(name[0]))) {
            literal_ = {number(name), number(name), 1, 0};
            return literal_;
        }
        return legs_[name];
    }

    void run(const Words& w) {
        LineHarness& h = *h_;
        const std::string& verb = w[0];
        if (verb == "wait") {
            h.advance(*parseDuration(w.at(1)));
        } else if (verb == "listen") {
            h.listen();
        } else if (verb == "answer") {  // a party's call up to its active B3 connection
            Leg leg = h.answerCallFrom(party(w.at(1)));
            legs_[w.size() > 2 ? w[2] : w[1]] = {leg.plci, leg.ncci, 0, 0};
        } else if (verb == "put") {
            put(w);
        } else if (verb == "get") {
            get(w);
        } else if (verb == "nothing") {
            while (audio_ && skipAudio()) {
            }
            if (held_) {
                ADD_FAILURE() << "unexpected " << held_->text();
                held_.reset();
            }
            h.expectNothing();
        } else if (verb == "audio") {  // blocks are answered as they come, unless expected
            audio_ = true;
        } else if (verb == "register") {
            EXPECT_EQ(h.driver.registerApplication(capi::RegisterParams{}, h.appl), 0u);
            h.relay.setApplId(static_cast<uint16_t>(h.appl));
        } else if (verb == "release") {
            EXPECT_EQ(h.driver.release(h.appl), 0u);
        } else if (verb == "check") {
            check(w);
        } else if (verb == "refuse-block") {
            h.line.controller().refuseNextDataB3Req(static_cast<uint16_t>(number(w.at(1))));
        } else if (w.size() >= 2 && w[1] == "call") {
            CallOptions options;
            for (size_t i = 2; i < w.size(); ++i) {
                if (w[i].starts_with("cip=")) {
                    options.cip = static_cast<uint16_t>(number(w[i].substr(4)));
                } else {
                    options.callerId = w[i] == "withheld" ? CallerId::Restricted
                                       : w[i] == "absent" ? CallerId::Absent
                                                          : CallerId::TypeOnly;
                }
            }
            h.line.callPcNow(party(w[0]), options);
        } else if (w.size() == 2 && w[1] == "hangup") {
            h.line.hangUpNow(party(w[0]));
        } else if (w.size() == 3 && w[1] == "keys") {
            h.line.pressKeysNow(party(w[0]), w[2]);
        } else {
            ADD_FAILURE() << "cannot read '" << verb << "'";
        }
    }

    Bytes message(const Words& w) {
        auto& t = h_->relay;
        const std::string& kind = w.at(1);
        FlowLeg& l =
            leg(w.size() > 2 && w[2].find_first_of("=>") == std::string::npos ? w[2] : "-");
        auto bytes = [](std::span<const uint8_t> m) { return Bytes(m.begin(), m.end()); };
        using DR = capi::DisconnectReqNumber;
        const std::map<std::string, std::function<Bytes()>> templates = {
            {"listen", [&] { return bytes(t.listenReq(capi::ListenMask::Calls)); }},
            {"listen-none", [&] { return bytes(t.listenReq(capi::ListenMask::None)); }},
            {"seize", [&] { return bytes(t.connectReqSeizure(kOwnNumber)); }},
            {"dial", [&] { return bytes(t.connectReqToNumber(w.at(2), kOwnNumber)); }},
            {"alert", [&] { return bytes(t.alertReq(l.messageNumber, l.plci)); }},
            {"answer", [&] { return bytes(t.connectRespAnswer(l.plci, kOwnNumber)); }},
            {"refuse", [&] { return bytes(t.connectRespRefuse(l.messageNumber, l.plci)); }},
            {"active-resp", [&] { return bytes(t.connectActiveResp(l.plci)); }},
            {"b3", [&] { return bytes(t.connectB3Req(l.plci)); }},
            {"b3-resp", [&] { return bytes(t.connectB3Resp(l.ncci, 0)); }},
            {"b3-active-resp", [&] { return bytes(t.connectB3ActiveResp(l.ncci)); }},
            {"keypad", [&] { return bytes(t.infoReqKeypad(l.plci)); }},
            {"dtmf", [&] { return bytes(t.facilityReqDtmfListen(l.ncci)); }},
            {"facility-resp", [&] { return bytes(t.facilityResp(l.ncci)); }},
            {"disconnect", [&] { return bytes(t.disconnectReq(DR::SendDisconnectReq, l.plci)); }},
            {"disconnect-resp", [&] { return bytes(t.disconnectResp(l.messageNumber, l.plci)); }},
            {"b3-disconnect",
             [&] { return bytes(t.disconnectB3Req(capi::DisconnectB3ReqNumber::First, l.ncci)); }},
            {"b3-disconnect-resp", [&] { return bytes(t.disconnectB3Resp(l.ncci)); }},
            {"data", [&] { return bytes(t.dataB3Req(l.ncci, block_.data(), 2048, 300, 0)); }},
            {"big-data", [&] { return bytes(t.dataB3Req(l.ncci, block_.data(), 4096, 1, 0)); }},
            {"data-resp",
             [&] {
                 return bytes(
                     t.dataB3Resp(capi::DataB3RespNumber::OnReceipt, l.ncci, l.dataHandle));
             }},
            {"reset", [&] { return bytes(t.resetB3Req(l.ncci)); }},
            {"reset-resp", [&] { return bytes(t.resetB3Resp(l.ncci)); }},
        };
        auto found = templates.find(kind);
        if (found == templates.end()) {
            ADD_FAILURE() << "no template '" << kind << "'";
            return {};
        }
        return found->second();
    }

    // put TEMPLATE [LEG] [@OFFSET=BYTE,...] [length=N] [size=N] [=> CODE]
    void put(const Words& w) {
        Bytes m = message(w);
        uint32_t expected = 0;
        uint32_t appl = 0;
        for (size_t i = 2; i < w.size(); ++i) {
            if (w[i][0] == '@') {
                size_t at = number(w[i].substr(1, w[i].find('=') - 1));
                std::istringstream values(w[i].substr(w[i].find('=') + 1));
                for (std::string value; std::getline(values, value, ',');) {
                    m.at(at++) = static_cast<uint8_t>(std::stoul(value, nullptr, 16));
                }
            } else if (w[i].starts_with("length=")) {
                capi::writeU16(m, 0, static_cast<uint16_t>(number(w[i].substr(7))));
            } else if (w[i].starts_with("size=")) {
                m.resize(number(w[i].substr(5)));
            } else if (w[i].starts_with("appl=")) {
                appl = number(w[i].substr(5));
            } else if (w[i] == "=>") {
                expected = number(w.at(++i));
            }
        }
        EXPECT_EQ(appl ? h_->driver.putMessage(appl, m) : h_->put(m), expected)
            << capi::describeMessage(m);
    }

    // get KIND [>LEG] [FIELD=VALUE ...]: the next message, of this kind and
    // with these fields as the trace writes them.
    bool skipAudio() {
        auto received = h_->get();
        if (!received || !received->header.is(Command::DataB3, Subcommand::Ind)) {
            held_ = received;
            return false;
        }
        h_->putOk(h_->relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, received->address(),
                                       received->word(18)));
        return true;
    }

    void get(const Words& w) {
        if (audio_ && w.at(1) != "DATA_B3_IND") {
            while (skipAudio()) {
            }
        }
        auto received = held_ ? held_ : h_->get();
        held_.reset();
        if (!received) {
            ADD_FAILURE() << "no message, expected " << w.at(1);
            return;
        }
        std::string text = received->text() + " ";
        if (!text.starts_with(w.at(1) + " ")) {
            ADD_FAILURE() << "got " << text << ", expected " << w[1];
            return;
        }
        uint32_t address = received->address();
        FlowLeg* l = nullptr;
        for (size_t i = 2; i < w.size(); ++i) {
            if (w[i][0] == '>') {
                l = &legs_[w[i].substr(1)];
            } else {
                EXPECT_NE(text.find(" " + w[i] + " "), std::string::npos) << w[i] << " in " << text;
            }
        }
        for (auto& [name, known] : legs_) {
            if (!l && address > 0xFF && known.plci == (address & 0xFFFF)) {
                l = &known;
            }
        }
        if (l) {
            (address > 0xFFFF ? l->ncci : l->plci) = address;
            if (received->header.subcommand == 0x82) {  // what a response echoes
                l->messageNumber = received->header.messageNumber;
                l->dataHandle = received->word(18);
            }
        }
    }

    void check(const Words& w) {
        LineHarness& h = *h_;
        auto accounting = h.line.accounting();
        if (w.at(1) == "idle") {
            EXPECT_TRUE(accounting.idle());
        } else if (w[1] == "clean") {
            EXPECT_TRUE(accounting.clean()) << h.violations();
        } else if (w[1] == "violations") {
            Words kinds;
            for (const auto& v : accounting.violations) {
                kinds.push_back(dashed(violationKindName(v.kind)));
            }
            EXPECT_EQ(kinds, Words(w.begin() + 2, w.end())) << h.violations();
        } else if (w[1] == "line") {
            const std::map<std::string, uint64_t> counts = {
                {"applications", accounting.applications},
                {"plcis", accounting.livePlcis},
                {"nccis", accounting.liveNccis},
                {"channels", accounting.busyChannels},
                {"crossings", accounting.crossings},
                {"not-offered", accounting.callsNotOffered},
                {"dropped", accounting.droppedAudioBlocks},
                {"unanswered-blocks", accounting.unansweredDataB3Inds},
                {"refused-blocks", accounting.refusedDataB3Reqs},
                {"closed-by-release", accounting.indicationsClosedByRelease},
                {"never-answered", accounting.neverAnswered.size()},
                {"unanswered", accounting.unanswered.size()},
                {"discarded-by-release", accounting.indicationsDiscardedByRelease},
                {"held-blocks", h.driver.heldBlocks()},
                {"events-due", h.line.nextEventTime().has_value()},
            };
            for (size_t i = 2; i < w.size(); ++i) {
                auto eq = w[i].find('=');
                EXPECT_EQ(counts.at(w[i].substr(0, eq)), number(w[i].substr(eq + 1))) << w[i];
            }
        } else {
            const PartyRecord& r = h.line.partyRecord(party(w[1]));
            Words events;
            for (const auto& e : r.events) {
                events.push_back(dashed(partyEventName(e.event)));
            }
            if (w.at(2) == "events") {
                EXPECT_EQ(events, Words(w.begin() + 3, w.end()));
            } else if (w[2] == "keys") {
                EXPECT_EQ(r.keysPressed + "/" + r.keysUnheard + "/" + r.keysDelivered, w.at(3));
            } else if (w[2] == "heard") {
                auto heard = checkHeard(r, party(w.at(3)));
                EXPECT_TRUE(heard.ok()) << heard.describe();
            } else {
                EXPECT_EQ(r.received.size(), number(w.at(3))) << "blocks received";
            }
        }
    }

    std::unique_ptr<LineHarness> h_;
    std::unique_ptr<ScenarioRunner> parties_;
    std::vector<Step> steps_;
    std::map<std::string, FlowLeg> legs_;
    FlowLeg literal_;
    bool audio_ = false;
    std::optional<Received> held_;  // read while skipping audio
    Bytes block_ = Bytes(4096, 0x5A);
};

class LineFlows : public ::testing::TestWithParam<const char*> {};

TEST_P(LineFlows, PlayAsWritten) {
    for (const Flow& flow : readFlows(GetParam())) {
        SCOPED_TRACE(flow.name);
        Player(flow).play();
    }
}

INSTANTIATE_TEST_SUITE_P(Files, LineFlows,
                         ::testing::Values("calls.scenario", "clearing.scenario",
                                           "strictness.scenario"));

}  // namespace
}  // namespace tellmaro::exchange::test
