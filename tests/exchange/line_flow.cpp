#include "line_flow.h"

#include <fstream>
#include <functional>
#include <sstream>

#include "capi/byte_order.h"
#include "capi/message_trace.h"
#include "exchange/simulated/virtual_time.h"

namespace tellmaro::exchange::test {

namespace {

using Bytes = std::vector<uint8_t>;
constexpr char kOwnNumber[] = "0301234567";

uint32_t number(const std::string& text) {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 0));
}

std::string dashed(std::string text) {
    std::replace(text.begin(), text.end(), ' ', '-');
    return text;
}

// Statements of a flow text with their line numbers; `;` separates them.
std::vector<std::pair<int, Words>> statements(std::string_view text) {
    std::vector<std::pair<int, Words>> out;
    std::istringstream lines{std::string(text)};
    std::string line;
    for (int n = 1; std::getline(lines, line); ++n) {
        if (auto start = line.find_first_not_of(" \t");
            start == std::string::npos || line[start] == '#') {
            continue;
        }
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, ';');) {
            std::istringstream split(part);
            Words words{std::istream_iterator<std::string>(split), {}};
            if (!words.empty()) {
                out.emplace_back(n, words);
            }
        }
    }
    return out;
}

LineConfig configOf(std::string_view text, LineConfig config) {
    for (const auto& [n, words] : statements(text)) {
        config.indicationsLeaveAtOnce |= words[0] == "remote";
    }
    return config;
}

}  // namespace

LineFlow::LineFlow(std::string_view text, LineConfig config) : line(clock, configOf(text, config)) {
    EXPECT_EQ(driver.registerApplication(capi::RegisterParams{}, appl), 0u);
    relay.setApplId(static_cast<uint16_t>(appl));
    std::map<std::string, std::string> parties;  // a flow's own replaces a shared one
    std::vector<std::pair<int, Words>> steps;
    for (auto& [n, words] : statements(text)) {
        if (words[0] == "party") {
            std::string& party = parties[words.at(1)];
            party.clear();
            for (const auto& word : words) {
                party += word + " ";
            }
        } else if (words[0] != "remote") {
            steps.emplace_back(n, words);
        }
    }
    std::string scenario = "line " + config.lineNumber + "\n";
    for (const auto& [name, party] : parties) {
        scenario += party + "\n";
    }
    auto parsed = parseScenario(scenario + "end 1s");
    EXPECT_TRUE(parsed.scenario) << parsed.error;
    parties_ = std::make_unique<ScenarioRunner>(line, clock, parsed.scenario.value_or(Scenario{}));
    for (const auto& [n, words] : steps) {
        SCOPED_TRACE("line " + std::to_string(n));
        run(words);
    }
}

void LineFlow::play(std::string_view steps) {
    for (const auto& [n, words] : statements(steps)) {
        run(words);
    }
}

FlowLeg& LineFlow::leg(const std::string& name) {
    if (std::isdigit(static_cast<unsigned char>(name[0]))) {
        literal_ = {number(name), number(name), 1, 0};
        return literal_;
    }
    return legs_[name];
}

void LineFlow::run(const Words& w) {
    const std::string& verb = w[0];
    if (verb == "wait") {
        runLineUntil(line, clock, clock.now() + *parseDuration(w.at(1)));
    } else if (verb == "listen") {
        play("put listen; get LISTEN_CONF Info=0x0000");
    } else if (verb == "answer") {  // a party's call up to its active B3 connection
        std::string l = w.size() > 2 ? w[2] : w.at(1);
        play(w[1] + " call; get CONNECT_IND >" + l + "; put answer " + l +
             "; get CONNECT_ACTIVE_IND; put active-resp " + l +
             "; get CONNECT_B3_IND; put b3-resp " + l +
             "; get CONNECT_B3_ACTIVE_IND; put b3-active-resp " + l);
    } else if (verb == "put") {
        putTemplate(w);
    } else if (verb == "get") {
        get(w);
    } else if (verb == "nothing") {
        while (audio_ && skipAudio()) {
        }
        if (auto received = next()) {
            ADD_FAILURE() << "unexpected " << received->text();
        }
    } else if (verb == "audio") {
        audio_ = true;
    } else if (verb == "register") {
        EXPECT_EQ(driver.registerApplication(capi::RegisterParams{}, appl), 0u);
        relay.setApplId(static_cast<uint16_t>(appl));
    } else if (verb == "release") {
        EXPECT_EQ(driver.release(appl), 0u);
    } else if (verb == "check") {
        check(w);
    } else if (verb == "refuse-block") {
        line.controller().refuseNextDataB3Req(static_cast<uint16_t>(number(w.at(1))));
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
        line.callPcNow(party(w[0]), options);
    } else if (w.size() == 2 && w[1] == "hangup") {
        line.hangUpNow(party(w[0]));
    } else if (w.size() == 3 && w[1] == "keys") {
        line.pressKeysNow(party(w[0]), w[2]);
    } else {
        ADD_FAILURE() << "cannot read '" << verb << "'";
    }
}

void LineFlow::put(std::span<const uint8_t> message, uint32_t expected, uint32_t applId) {
    EXPECT_EQ(driver.putMessage(applId ? applId : appl, message), expected)
        << capi::describeMessage(message);
}

// put TEMPLATE [LEG] [@OFFSET=BYTE,...] [length=N] [size=N] [appl=N] [=> CODE]
void LineFlow::putTemplate(const Words& w) {
    auto& t = relay;
    const std::string& kind = w.at(1);
    bool named = w.size() > 2 && w[2].find_first_of("=>@") == std::string::npos;
    FlowLeg& l = leg(named ? w[2] : "-");
    using DR = capi::DisconnectReqNumber;
    using RN = capi::DataB3RespNumber;
    const std::map<std::string, std::function<capi::MessageTemplates::Bytes()>> templates = {
        {"listen", [&] { return t.listenReq(capi::ListenMask::Calls); }},
        {"listen-none", [&] { return t.listenReq(capi::ListenMask::None); }},
        {"seize", [&] { return t.connectReqSeizure(kOwnNumber); }},
        {"dial", [&] { return t.connectReqToNumber(w.at(2), kOwnNumber); }},
        {"alert", [&] { return t.alertReq(l.messageNumber, l.plci); }},
        {"answer", [&] { return t.connectRespAnswer(l.plci, kOwnNumber); }},
        {"refuse", [&] { return t.connectRespRefuse(l.messageNumber, l.plci); }},
        {"active-resp", [&] { return t.connectActiveResp(l.plci); }},
        {"b3", [&] { return t.connectB3Req(l.plci); }},
        {"b3-resp", [&] { return t.connectB3Resp(l.ncci, 0); }},
        {"b3-active-resp", [&] { return t.connectB3ActiveResp(l.ncci); }},
        {"keypad", [&] { return t.infoReqKeypad(l.plci); }},
        {"dtmf", [&] { return t.facilityReqDtmfListen(l.ncci); }},
        {"facility-resp", [&] { return t.facilityResp(l.ncci); }},
        {"disconnect", [&] { return t.disconnectReq(DR::SendDisconnectReq, l.plci); }},
        {"disconnect-resp", [&] { return t.disconnectResp(l.messageNumber, l.plci); }},
        {"b3-disconnect",
         [&] { return t.disconnectB3Req(capi::DisconnectB3ReqNumber::First, l.ncci); }},
        {"b3-disconnect-resp", [&] { return t.disconnectB3Resp(l.ncci); }},
        {"data", [&] { return t.dataB3Req(l.ncci, block_.data(), 2048, 300, 0); }},
        {"big-data", [&] { return t.dataB3Req(l.ncci, block_.data(), 4096, 1, 0); }},
        {"data-resp", [&] { return t.dataB3Resp(RN::OnReceipt, l.ncci, l.dataHandle); }},
        {"reset", [&] { return t.resetB3Req(l.ncci); }},
        {"reset-resp", [&] { return t.resetB3Resp(l.ncci); }},
    };
    if (!templates.contains(kind)) {
        ADD_FAILURE() << "no template '" << kind << "'";
        return;
    }
    auto made = templates.at(kind)();
    Bytes m(made.begin(), made.end());
    uint32_t expected = 0;
    uint32_t applId = 0;
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
            applId = number(w[i].substr(5));
        } else if (w[i] == "=>") {
            expected = number(w.at(++i));
        }
    }
    put(m, expected, applId);
}

std::optional<Received> LineFlow::next() {
    if (held_) {
        return std::exchange(held_, std::nullopt);
    }
    std::span<const uint8_t> message;
    if (driver.getMessage(appl, message) != 0) {
        return std::nullopt;
    }
    Received received{{message.begin(), message.end()}, *capi::readHeader(message), {}};
    if (received.header.is(capi::Command::DataB3, capi::Subcommand::Ind)) {
        uint64_t pointer =
            capi::kDataB3Uses64BitPointer ? capi::readU64(message, 22) : capi::readU32(message, 12);
        received.block = {reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(pointer)),
                          capi::readU16(message, 16)};
    }
    return received;
}

bool LineFlow::skipAudio() {
    held_ = next();
    if (!held_ || !held_->header.is(capi::Command::DataB3, capi::Subcommand::Ind)) {
        return false;
    }
    put(relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, held_->address(), held_->word(18)));
    held_.reset();
    return true;
}

Received LineFlow::get(std::string_view kindAndFields) {
    return get(statements("get " + std::string(kindAndFields)).at(0).second);
}

// get KIND [>LEG] [FIELD=VALUE ...]
Received LineFlow::get(const Words& w) {
    if (audio_ && w.at(1) != "DATA_B3_IND") {
        while (skipAudio()) {
        }
    }
    auto received = next();
    if (!received) {
        ADD_FAILURE() << "no message, expected " << w.at(1);
        return {};
    }
    std::string text = received->text() + " ";
    if (!text.starts_with(w.at(1) + " ")) {
        ADD_FAILURE() << "got " << text << ", expected " << w[1];
        return *received;
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
    return *received;
}

void LineFlow::check(const Words& w) {
    auto accounting = line.accounting();
    std::string violations;
    Words kinds;
    for (const auto& v : accounting.violations) {
        kinds.push_back(dashed(violationKindName(v.kind)));
        violations += v.detail + " in " + v.message + "\n";
    }
    if (w.at(1) == "idle") {
        EXPECT_TRUE(accounting.idle());
    } else if (w[1] == "clean") {
        EXPECT_TRUE(accounting.clean()) << violations;
    } else if (w[1] == "violations") {
        EXPECT_EQ(kinds, Words(w.begin() + 2, w.end())) << violations;
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
            {"held-blocks", driver.heldBlocks()},
            {"events-due", line.nextEventTime().has_value()},
        };
        for (size_t i = 2; i < w.size(); ++i) {
            auto eq = w[i].find('=');
            EXPECT_EQ(counts.at(w[i].substr(0, eq)), number(w[i].substr(eq + 1))) << w[i];
        }
    } else {
        const PartyRecord& r = line.partyRecord(party(w[1]));
        Words events;
        for (const auto& e : r.events) {
            events.push_back(dashed(partyEventName(e.event)));
        }
        if (w.at(2) == "events") {
            EXPECT_EQ(events, Words(w.begin() + 3, w.end()));
        } else if (w[2] == "keys") {
            EXPECT_EQ(r.keysPressed + "/" + r.keysUnheard + "/" + r.keysDelivered, w.at(3));
        } else {
            EXPECT_EQ(r.received.size(), number(w.at(3))) << "blocks received";
        }
    }
}

std::vector<std::pair<std::string, std::string>> readLineFlows(const std::string& file) {
    std::ifstream in(std::string(TELLMARO_LINE_FLOWS_DIR) + "/" + file);
    std::string shared;
    std::vector<std::pair<std::string, std::string>> flows;
    size_t lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        if (line.starts_with("flow ")) {  // blank lines keep the file's line numbers
            auto name = line.substr(5, line.find(';') - 5);
            auto rest = line.find(';') == std::string::npos ? "" : line.substr(line.find(';') + 1);
            auto skipped = std::count(shared.begin(), shared.end(), '\n');
            flows.emplace_back(name, shared + std::string(lines - skipped, '\n') + rest);
        } else {
            (flows.empty() ? shared : flows.back().second) += line;
        }
        (flows.empty() ? shared : flows.back().second) += "\n";
    }
    EXPECT_FALSE(flows.empty()) << file;
    return flows;
}

}  // namespace tellmaro::exchange::test
