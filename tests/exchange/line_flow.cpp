#include "line_flow.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <regex>
#include <sstream>

#include "capi/byte_order.h"
#include "capi/message_header.h"
#include "capi/message_trace.h"
#include "capi/parameter_records.h"
#include "exchange/simulated/virtual_time.h"
#include "support/flow_runner.h"

namespace tellmaro::exchange::test {

namespace {

constexpr char kOwnNumber[] = "0301234567";

uint32_t number(const std::string& text) {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 0));
}

// The scenario grammar reads the parties; every other statement is a step.
FlowScript readScript(const std::string& text) {
    FlowScript s;
    auto parsed = parseScenario(text + "\nline " + kOwnNumber + "\nend 0s",
                                [&s](const Words& w, const Scenario&) {
                                    s.steps.push_back(w);
                                    return std::optional<std::string>("");
                                });
    EXPECT_TRUE(parsed.scenario) << parsed.error;
    s.scenario = parsed.scenario.value_or(Scenario{});
    s.steps.resize(parsed.scenario ? s.steps.size() : 0);
    return s;
}

// put TEMPLATE [LEG] [@OFFSET=HH,HH...] [length=N] [size=N] [=> CODE]
void putTemplate(LineFlow& f, const Words& w) {
    using T = capi::MessageTemplates;
    static std::vector<uint8_t> block(4096, 0x5A);
    T& t = f.relay;
    const std::string& kind = w.at(1);
    FlowLeg& l = f.legs[w.size() > 2 && w[2].find_first_of("=>@") == std::string::npos ? w[2] : ""];
    using DR = capi::DisconnectReqNumber;
    using RN = capi::DataB3RespNumber;
    const std::map<std::string, std::function<T::Bytes()>> templates = {
        {"listen", [&] { return t.listenReq(capi::ListenMask::Calls); }},
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
        {"data", [&] { return t.dataB3Req(l.ncci, block.data(), 2048, 300, 0); }},
        {"data-resp", [&] { return t.dataB3Resp(RN::OnReceipt, l.ncci, l.dataHandle); }},
        {"reset", [&] { return t.resetB3Req(l.ncci); }},
        {"reset-resp", [&] { return t.resetB3Resp(l.ncci); }}};
    auto made = templates.contains(kind) ? templates.at(kind)() : T::Bytes{};
    EXPECT_FALSE(made.empty()) << "no template " << kind;
    std::vector<uint8_t> m(made.begin(), made.end());
    uint32_t expected = 0;
    for (size_t i = 2; i < w.size(); ++i) {
        const std::string& o = w[i];
        const std::string value = o.substr(o.find('=') + 1);
        if (o[0] == '@') {
            size_t at = number(o.substr(1, o.find('=') - 1));
            std::istringstream bytes(value);
            for (std::string byte; std::getline(bytes, byte, ',');) {
                m.at(at++) = static_cast<uint8_t>(std::stoul(byte, nullptr, 16));
            }
        } else if (o.starts_with("length=")) {
            capi::writeU16(m, capi::kLengthOffset, static_cast<uint16_t>(number(value)));
        } else if (o.starts_with("size=")) {
            m.resize(number(value));
        } else if (o == "=>") {
            expected = number(w.at(++i));
        }
    }
    f.put(m, expected);
}

// The next message; in audio mode blocks are answered on the way unless `kind` asks for one.
Received next(LineFlow& f, const std::string& kind) {
    for (std::span<const uint8_t> m; f.driver.getMessage(f.appl, m) == 0;) {
        Received r{{m.begin(), m.end()}, {}};
        if (capi::readHeader(m)->is(capi::Command::DataB3, capi::Subcommand::Ind)) {
            capi::DataB3IndParams ind;
            ind.fill(m);
            r.block = {ind.data(), ind.dataLength()};
            if (f.audio && kind != "DATA_B3_IND") {
                f.put(f.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, ind.ncci(),
                                         ind.dataHandle()));
                continue;
            }
        }
        return r;
    }
    return {};
}

// get KIND [>LEG] [FIELD=VALUE ...], or get => CODE for a get that fails
void get(LineFlow& f, const Words& w) {
    if (std::span<const uint8_t> m; w.at(1) == "=>") {
        EXPECT_EQ(f.driver.getMessage(f.appl, m), number(w.at(2)));
        return;
    }
    f.last = next(f, w[1]);
    const std::string text = capi::describeMessage(f.last.bytes) + " ";
    if (!text.starts_with(w[1] + " ")) {
        return ADD_FAILURE() << "got " << text;
    }
    const uint32_t address = f.last.address();
    FlowLeg* l = nullptr;
    for (size_t i = 2; i < w.size(); ++i) {
        if (w[i][0] == '>') {
            l = &f.legs[w[i].substr(1)];
        } else {
            EXPECT_NE(text.find(" " + w[i] + " "), std::string::npos) << w[i] << " in " << text;
        }
    }
    for (auto& [name, known] : f.legs) {
        if (!l && address > 0xFF && known.plci == (address & 0xFFFF)) {
            l = &known;
        }
    }
    if (auto header = capi::readHeader(f.last.bytes); l) {
        (address > 0xFFFF ? l->ncci : l->plci) = address;
        if (header->subcommand == 0x82) {  // what a response echoes
            l->messageNumber = header->messageNumber;
            l->dataHandle = f.last.word(18);
        }
    }
}

void check(LineFlow& f, const Words& w) {
    auto dashed = [](std::string t) { return std::replace(t.begin(), t.end(), ' ', '-'), t; };
    auto accounting = f.line.accounting();
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
            {"held-blocks", f.driver.heldBlocks()},
            {"events-due", f.line.nextEventTime().has_value()}};
        for (const auto& count : std::span(w).subspan(2)) {
            auto eq = count.find('=');
            EXPECT_EQ(counts.at(count.substr(0, eq)), number(count.substr(eq + 1))) << count;
        }
    } else {
        const PartyRecord& r = f.line.partyRecord(f.party(w[1]));
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

void step(LineFlow& f, const Words& w) {
    SCOPED_TRACE(
        std::accumulate(w.begin(), w.end(), std::string(),
                        [](const std::string& a, const std::string& b) { return a + b + " "; }));
    const std::string& verb = w[0];
    CapiController& controller = f.line.controller();
    if (verb == "wait") {
        runLineUntil(f.line, f.clock, f.clock.now() + *parseDuration(w.at(1)));
    } else if (verb == "listen") {
        f.play("put listen; get LISTEN_CONF Info=0x0000");
    } else if (verb == "answer") {  // a party's call up to its active B3 connection
        const std::string& l = w.back();
        f.play(w.at(1) + " call; get CONNECT_IND >" + l + "; put answer " + l +
               "; get CONNECT_ACTIVE_IND; put active-resp " + l +
               "; get CONNECT_B3_IND; put b3-resp " + l +
               "; get CONNECT_B3_ACTIVE_IND; put b3-active-resp " + l);
    } else if (verb == "put") {
        putTemplate(f, w);
    } else if (verb == "get") {
        get(f, w);
    } else if (auto r = verb == "nothing" ? next(f, "") : Received{}; !r.bytes.empty()) {
        ADD_FAILURE() << "unexpected " << capi::describeMessage(r.bytes);
    } else if (verb == "audio") {
        f.audio = true;
    } else if (verb == "register") {
        EXPECT_EQ(f.driver.registerApplication(capi::RegisterParams{}, f.appl), 0u);
        f.relay.setApplId(static_cast<uint16_t>(f.appl));
    } else if (verb == "release") {
        EXPECT_EQ(f.driver.release(f.appl), 0u);
    } else if (verb == "check") {
        check(f, w);
    } else if (verb == "fault") {  // the next put, get or DATA_B3_REQ fails with the code
        const uint32_t code = w.size() > 2 ? number(w[2]) : 0;
        w.at(1) == "put" ? controller.failNextPut(code)
        : w[1] == "get"  ? controller.failNextGet(code)
        : w[1] == "drop" ? controller.dropConnection(f.appl)
                         : controller.refuseNextDataB3Req(static_cast<uint16_t>(code));
    } else if (w.size() >= 2 && w[1] == "call") {
        const std::map<std::string, CallerId> ids = {{"withheld", CallerId::Restricted},
                                                     {"absent", CallerId::Absent},
                                                     {"type-only", CallerId::TypeOnly}};
        CallOptions options;
        for (const auto& o : std::span(w).subspan(2)) {
            o.starts_with("cip=") ? void(options.cip = static_cast<uint16_t>(number(o.substr(4))))
                                  : void(options.callerId = ids.at(o));
        }
        f.line.callPcNow(f.party(verb), options);
    } else if (w.size() == 2 && w[1] == "hangup") {
        f.line.hangUpNow(f.party(verb));
    } else if (w.size() == 3 && w[1] == "keys") {
        f.line.pressKeysNow(f.party(verb), w[2]);
    } else if (verb != "remote" && verb != "nothing") {
        ADD_FAILURE() << "cannot do this";
    }
}

}  // namespace

LineFlow::LineFlow(const std::string& text, LineConfig config)
    : script(readScript(text)), line(clock, [&] {
          config.indicationsLeaveAtOnce |= std::ranges::count(script.steps, Words{"remote"}) > 0;
          return scenarioLineConfig(script.scenario, config);
      }()) {
    runner = std::make_unique<ScenarioRunner>(line, clock, script.scenario);
    play("register");
    for (const auto& w : script.steps) {
        step(*this, w);
    }
}

Received LineFlow::play(const std::string& steps) {
    for (const auto& w : readScript(steps).steps) {
        step(*this, w);
    }
    return last;
}

void LineFlow::put(std::span<const uint8_t> message, uint32_t expected) {
    EXPECT_EQ(driver.putMessage(appl, message), expected) << capi::describeMessage(message);
}

// Every flow of every file; "flow NAME; STEPS" is a flow on one line.
TEST(LineFlows, PlayAsWritten) {
    for (const auto& file : std::filesystem::directory_iterator(TELLMARO_LINE_FLOWS_DIR)) {
        std::stringstream text;
        text << std::ifstream(file.path()).rdbuf();
        auto flows = tellmaro::test::flowsOf(
            std::regex_replace(text.str(), std::regex("(^|\n)(flow [^;\n]*); *"), "$1$2\n"));
        EXPECT_FALSE(flows.empty()) << file.path();
        for (const auto& flow : flows) {
            SCOPED_TRACE(file.path().filename().string() + ": " + flow.name);
            for (const auto& variant : flow.texts) {
                LineFlow run(variant.substr(0, variant.rfind("\nend ")));
            }
        }
    }
}

}  // namespace tellmaro::exchange::test
