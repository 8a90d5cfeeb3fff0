#include "support/flow_runner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "capi/byte_order.h"
#include "data/call_dir_file.h"
#include "data/call_log_texts.h"
#include "data/settings_file.h"
#include "exchange/simulated/audio_block.h"
#include "relay/prompt_file.h"

namespace tellmaro::test {

using Words = std::vector<std::string>;

struct FlowRun::Script {
    std::string error;
    exchange::Scenario scenario;
    HarnessOptions options;
    data::PhoneBook phoneBook;
    std::vector<Words> steps;
    std::vector<Words> expectations;
    std::vector<milliseconds> sweep;
};

namespace {

constexpr milliseconds kPhaseLimit = 30s;
constexpr milliseconds kBlockTime{256};

std::string joined(const Words& words, size_t from = 0, const char* between = " ") {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) {
        text += (i > from ? between : "") + words[i];
    }
    return text;
}

std::optional<long> number(std::string_view text, int base = 10) {
    long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc{} && end == text.data() + text.size() ? std::optional(value)
                                                                     : std::nullopt;
}

std::optional<long> hexNumber(std::string_view text) {
    return text.starts_with("0x") ? number(text.substr(2), 16) : std::nullopt;
}

// --- Reading -----------------------------------------------------------------

// "relay KEY=VALUE ...": the relay's settings, phone book and folders.
std::string relaySetting(FlowRun::Script& s, const std::string& item) {
    auto eq = item.find('=');
    std::string key = item.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    auto& settings = s.options.settings;
    auto colon = value.find(':');
    if (key == "confirm-key" && (value == "*" || value == "#")) {
        settings.starConfirms = value == "*";
    } else if (key == "disconnect" && (value == "total" || value == "one-sided")) {
        settings.totalDisconnect = value == "total";
    } else if (key == "mode" && (value == "call-back" || value == "direct")) {
        settings.callBack = value == "call-back";
    } else if (key == "line-access" && (value == "on" || value == "off")) {
        settings.lineAccessEnabled = value == "on";
    } else if (key == "line-access-digits" && number(value)) {
        settings.lineAccessDigits = static_cast<uint8_t>(*number(value));
    } else if (key == "line-access-chars") {
        settings.lineAccessChars = value;
    } else if (key == "mobile") {
        s.options.mobileNumber = value;
    } else if (key == "log-folder") {
        s.options.logFolder = value;
    } else if (key == "phonebook" && colon != std::string::npos) {
        (void)s.phoneBook.append({value.substr(0, colon), value.substr(colon + 1), "Eintrag"});
    } else {
        return "unknown relay setting '" + item + "'";
    }
    return {};
}

bool isParty(const exchange::Scenario& sofar, const Words& w, size_t at) {
    return w.size() > at && sofar.party(w[at]);
}

// The expectations of flows; those that list things continue over several statements.
bool readExpectation(FlowRun::Script& s, const Words& w, const exchange::Scenario& sofar) {
    static const std::vector<std::string> kLists = {"sent", "log", "shell"};
    static const std::vector<std::string> kSingles = {"phases",   "phase",    "timer",
                                                      "call-log", "settings", "error-log"};
    const bool ofParty = isParty(sofar, w, 1) && w.size() >= 3 &&
                         (w[2] == "events" || w[2] == "prompts" || w[2] == "heard");
    const bool list = std::count(kLists.begin(), kLists.end(), w[1]) > 0 ||
                      (ofParty && w[2] != "heard");
    if (!ofParty && !list && !(std::count(kSingles.begin(), kSingles.end(), w[1]) && w.size() >= 3)) {
        return false;
    }
    if (w[0] == "check") {
        s.steps.push_back(w);
        return true;
    }
    const size_t head = ofParty ? 3 : 2;
    for (auto& e : s.expectations) {
        if (list && e.size() >= head && std::equal(w.begin(), w.begin() + head, e.begin())) {
            e.insert(e.end(), w.begin() + head, w.end());
            return true;
        }
    }
    s.expectations.push_back(w);
    return true;
}

std::optional<std::string> readStep(FlowRun::Script& s, const Words& w,
                                    const exchange::Scenario& sofar) {
    const std::string& verb = w[0];
    const std::string arg = w.size() > 1 ? w[1] : "";
    if (verb == "wait" && w.size() == 4 && w[2] == "by") {
        auto dots = std::min(arg.find(".."), arg.size());
        auto from = exchange::parseDuration(arg.substr(0, dots)).value_or(-1ms);
        auto to = exchange::parseDuration(arg.substr(std::min(dots + 2, arg.size())));
        auto by = exchange::parseDuration(w[3]).value_or(0ms);
        if (from < 0ms || !to || by <= 0ms || !s.sweep.empty()) {
            return "a ranged wait needs FROM..TO by STEP, and a flow has at most one";
        }
        for (milliseconds t = from; t <= to.value_or(0ms); t += by) {
            s.sweep.push_back(t);
        }
    } else if (verb == "wait" && !(w.size() == 2 && exchange::parseDuration(arg)) &&
               !(w.size() == 3 && arg == "phase" && number(w[2])) &&
               !(w.size() == 3 && arg == "block" && isParty(sofar, w, 2))) {
        return "a wait needs a time, 'phase N' or 'block PARTY'";
    } else if (isParty(sofar, w, 0)) {
        if (!(arg == "call" && w.size() <= 3) && !(arg == "hangup" && w.size() == 2) &&
            !(arg == "keys" && w.size() == 3)) {
            return "a party can 'call', 'hangup' or 'keys KEYS'";
        }
    } else if (verb != "wait" && verb != "fault" && verb != "switch" && verb != "suspend" &&
               verb != "resume") {
        return std::nullopt;
    }
    s.steps.push_back(w);
    return std::string();
}

std::unique_ptr<FlowRun::Script> readScript(const Flow& flow, HarnessOptions options) {
    auto s = std::make_unique<FlowRun::Script>();
    s->options = std::move(options);
    auto hook = [&s](const Words& w, const exchange::Scenario& sofar) -> std::optional<std::string> {
        if (w[0] == "relay") {
            std::string error;
            for (size_t i = 1; i < w.size() && error.empty(); ++i) {
                error = relaySetting(*s, w[i]);
            }
            return error;
        }
        if ((w[0] == "expect" || w[0] == "check") && w.size() >= 2) {
            return readExpectation(*s, w, sofar) ? std::optional(std::string()) : std::nullopt;
        }
        return readStep(*s, w, sofar);
    };
    auto parsed = exchange::parseScenario(flow.text, hook);
    if (parsed.scenario) {
        s->scenario = std::move(*parsed.scenario);
    }
    s->error = parsed.error;
    return s;
}

// --- What happened, as tokens --------------------------------------------------

// "KIND appl=1 #N len=L Field=value ..." with the address at offset 8 as
// "@HEX", the time as "At=1020ms" and, for DATA_B3_REQ, the received block
// it points at as "Block=0x00010101/3" or "Block=prompt".
std::string messageWords(const SentMessage& m) {
    char extra[64];
    uint32_t address = m.bytes.size() >= 12 ? capi::readU32(m.bytes, 8) : 0;
    std::snprintf(extra, sizeof extra, " @%X At=%lldms", address,
                  static_cast<long long>(m.at.count()));
    std::string text = " " + m.text + extra;
    if (m.text.starts_with("DATA_B3_REQ ")) {
        text += " Block=" + (m.block.empty() ? "prompt" : m.block);
    }
    return text + " ";
}

Words logTokens(const std::string& log) {
    namespace t = data::call_log_texts;
    static const std::pair<std::string_view, const char*> kLines[] = {
        {t::kCaller, "caller"},
        {t::kCallTime, "time"},
        {t::kRefusedCaller, "refused"},
        {t::kDialledNumber, "dialled"},
        {t::kConversationStart, "talk-start"},
        {t::kConversationEnd, "talk-end"},
        {t::kConversationDuration, "talk"},
        {t::kConnectionEnd, "end"},
        {t::kConnectionDuration, "length"},
        {t::kCancelledByMobile, "cancelled"},
        {t::kNotReachable, "unreachable"},
        {t::kMobileHungUp, "hung-up"}};
    Words tokens;
    for (size_t at = 0; at < log.size();) {
        size_t end = std::min(log.find("\r\n", at), log.size());
        std::string line = log.substr(at, end - at);
        std::string token = line.empty() ? "-" : "?" + line;
        for (const auto& [label, key] : kLines) {
            if (!line.starts_with(label)) {
                continue;
            }
            token = key;
            if (label.ends_with(": ")) {
                std::string value = line.substr(label.size());
                if (value.starts_with("03.12.2001 ")) {
                    value.erase(0, 11);
                }
                std::replace(value.begin(), value.end(), ' ', '_');
                token += "=" + value;
            }
        }
        tokens.push_back(token);
        at = end + 2;
    }
    return tokens;
}

// The hashes of the blocks a prompt file yields: one per read of a record,
// the last read filling what it lacks with line silence.
std::vector<uint64_t> promptBlockHashes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<uint64_t> hashes;
    for (size_t at = 0;; at += relay::kPromptRecordLength) {
        std::vector<uint8_t> block(relay::kBlockLength, relay::kLineSilence);
        size_t got = at < bytes.size() ? std::min(relay::kBlockLength, bytes.size() - at) : 0;
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at), got, block.begin());
        hashes.push_back(exchange::audioBlockHash(block));
        if (at + relay::kPromptRecordLength > bytes.size()) {
            return hashes;
        }
    }
}

// The prompts a party heard: each the longest run of blocks from one prompt
// file, "welcome" when whole (every record, and the read that finds the end),
// "welcome(cut)" when not. Between two prompts one silent block follows a
// whole prompt and none a cut one; any other pause is a "pause".
Words promptTokens(const EngineHarness& h, exchange::PartyId party) {
    std::map<std::string, std::vector<uint64_t>> library;
    for (const auto& file : std::filesystem::directory_iterator(h.appDir)) {
        if (file.path().extension() == ".pdt") {
            library[file.path().stem().string()] = promptBlockHashes(file.path());
        }
    }
    std::vector<const exchange::ReceivedBlock*> blocks;
    for (const auto& block : h.line.partyRecord(party).received) {
        if (!block.origin.id) {
            blocks.push_back(&block);
        }
    }
    Words tokens;
    milliseconds lastAt{-1};
    bool lastWhole = false;
    for (size_t i = 0; i < blocks.size();) {
        std::string name = "?";
        size_t best = 1;
        bool whole = false;
        for (const auto& [file, hashes] : library) {
            size_t run = 0;
            while (run < hashes.size() && i + run < blocks.size() &&
                   blocks[i + run]->hash == hashes[run]) {
                ++run;
            }
            if (run > 0 && (name == "?" || run > best)) {
                name = file;
                best = run;
                whole = run == hashes.size();
            }
        }
        if (lastAt.count() >= 0 &&
            std::lround(static_cast<double>((blocks[i]->at - lastAt).count()) /
                        static_cast<double>(kBlockTime.count())) != (lastWhole ? 2 : 1)) {
            tokens.push_back("pause");
        }
        tokens.push_back(whole ? name : name + "(cut)");
        lastAt = blocks[i + best - 1]->at;
        lastWhole = whole;
        i += best;
    }
    return tokens;
}

// --- Matching ------------------------------------------------------------------

// "talk=*" matches any value; a trailing "?" marks an item that may be missing.
bool sameToken(std::string expected, const std::string& actual) {
    if (expected.ends_with('?')) {
        expected.pop_back();
    }
    return expected.ends_with("=*") ? actual.starts_with(expected.substr(0, expected.size() - 1))
                                    : expected == actual;
}

// A message item: "KIND#N@ADDR" and the "Field=value" words after it; each
// part present in the message's words.
bool sameMessage(const Words& item, const std::string& words) {
    std::string head = item[0];
    if (head.ends_with('?')) {
        head.pop_back();
    }
    auto number = head.find('#');
    auto address = head.find('@');
    Words parts = {head.substr(0, std::min(number, address))};
    if (number != std::string::npos) {
        parts.push_back(head.substr(number, address - number));
    }
    if (address != std::string::npos) {
        parts.push_back(head.substr(address));
    }
    parts.insert(parts.end(), item.begin() + 1, item.end());
    return std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
        return words.find(" " + part + " ") != std::string::npos;
    });
}

// Whether `actual` is `items` in order; "..." stands for any run.
template <typename Same>
bool matches(const std::vector<Words>& items, size_t i, const Words& actual, size_t j,
             const Same& same) {
    if (i == items.size()) {
        return j == actual.size();
    }
    if (items[i][0] == "...") {
        for (size_t k = j; k <= actual.size(); ++k) {
            if (matches(items, i + 1, actual, k, same)) {
                return true;
            }
        }
        return false;
    }
    if (j < actual.size() && same(items[i], actual[j]) && matches(items, i + 1, actual, j + 1, same)) {
        return true;
    }
    return items[i][0].ends_with('?') && matches(items, i + 1, actual, j, same);
}

std::string listVerdict(const Words& expected, size_t from, const Words& actual) {
    std::vector<Words> items;
    for (size_t i = from; i < expected.size(); ++i) {
        items.push_back({expected[i]});
    }
    if (matches(items, 0, actual, 0,
                [](const Words& e, const std::string& a) { return sameToken(e[0], a); })) {
        return {};
    }
    return "   was: " + joined(actual);
}

std::string sentVerdict(const EngineHarness& h, const Words& expected) {
    std::vector<Words> items;
    Words kinds;
    for (size_t i = 2; i < expected.size(); ++i) {
        const std::string& token = expected[i];
        if (token == "..." || token.find('=') == std::string::npos || items.empty()) {
            items.push_back({token});
            kinds.push_back(" " + token.substr(0, token.find_first_of("#@?")) + " ");
        } else {
            items.back().push_back(token);
        }
    }
    Words actual;
    for (const auto& message : h.sentMessages()) {
        std::string words = messageWords(message);
        if (std::any_of(kinds.begin(), kinds.end(),
                        [&](const std::string& kind) { return words.starts_with(kind); })) {
            actual.push_back(words);
        }
    }
    if (matches(items, 0, actual, 0, sameMessage)) {
        return {};
    }
    return "   sent:\n" + joined(actual, 0, "\n");
}

}  // namespace

// --- Flow files ------------------------------------------------------------------

std::vector<Flow> flowsOf(std::string_view text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at <= text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::vector<Flow> flows;
    std::vector<size_t> starts;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with("flow ")) {
            flows.push_back({lines[i].substr(5), {}});
            starts.push_back(i);
        }
    }
    starts.push_back(lines.size());
    for (size_t f = 0; f < flows.size(); ++f) {
        std::vector<std::string> text(lines.size());
        std::copy(lines.begin(), lines.begin() + static_cast<ptrdiff_t>(starts[0]), text.begin());
        bool hasEnd = false;
        for (size_t i = starts[f] + 1; i < starts[f + 1]; ++i) {
            std::istringstream words(lines[i]);
            std::string first, name;
            words >> first >> name;
            hasEnd = hasEnd || first == "end";
            // A party the flow defines anew takes the shared one's place.
            auto shared = std::find_if(text.begin(), text.begin() + static_cast<ptrdiff_t>(starts[0]),
                                       [&](const std::string& line) {
                                           return line.starts_with("party " + name + " ");
                                       });
            (first == "party" && shared != text.begin() + static_cast<ptrdiff_t>(starts[0])
                 ? *shared
                 : text[i]) = lines[i];
        }
        for (const auto& line : text) {
            flows[f].text += line + "\n";
        }
        if (!hasEnd) {
            flows[f].text += "end 0s\n";
        }
    }
    return flows;
}

std::vector<Flow> readFlows(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return flowsOf(text.str());
}

// --- Playing ---------------------------------------------------------------------

FlowRun::FlowRun(const Flow& flow, size_t sweep, HarnessOptions options)
    : script_(readScript(flow, std::move(options))), sweep_(sweep) {
    if (!script_->error.empty()) {
        fail(flow.name + ": " + script_->error);
    }
    h_ = std::make_unique<EngineHarness>(script_->options);
    if (script_->phoneBook.callDirCount() > 0) {
        (void)data::SaveCallDir(h_->appDir, script_->phoneBook);
    }
    line_ = std::make_unique<exchange::ScenarioRunner>(h_->line, h_->clock, script_->scenario);
    h_->startUp();
    line_->poll();
}

FlowRun::~FlowRun() = default;

size_t FlowRun::sweepValues() const {
    return std::max<size_t>(1, script_->sweep.size());
}

void FlowRun::play(bool strict) {
    if (!script_->error.empty()) {
        return;
    }
    for (const auto& words : script_->steps) {
        step(words, strict);
    }
    h_->runFor(std::max(script_->scenario.end - h_->now(), milliseconds(0)));
}

void FlowRun::step(const Words& w, bool strict) {
    EngineHarness& h = *h_;
    const std::string arg = w.size() > 1 ? w[1] : "";
    if (w[0] == "wait" && arg == "phase") {
        auto wanted = static_cast<relay::CallPhase>(*number(w[2]));
        if (!h.runUntil([&] { return h.phase() == wanted; }, kPhaseLimit) && strict) {
            fail(joined(w) + ": never reached");
        }
    } else if (w[0] == "wait" && arg == "block") {
        const auto& record = h.line.partyRecord(line_->party(w[2]));
        auto sent = record.blocksSent;
        h.runUntil([&] { return record.blocksSent > sent; }, 1s);
    } else if (w[0] == "wait") {
        h.runFor(w.size() == 4 ? script_->sweep.at(sweep_) : *exchange::parseDuration(arg));
    } else if (w[0] == "check") {
        if (auto verdict = this->verdict(w); strict && !verdict.empty()) {
            fail(verdict);
        }
    } else if (w[0] == "switch") {
        h.shell.activated = arg == "on";
        h.engine.activationChanged(h.shell.activated);
    } else if (w[0] == "suspend") {
        bool done = h.engine.suspendRelay(arg == "analysis" ? relay::kTraySuspendedForAnalysis
                                                            : relay::kTraySuspendedForConfiguration);
        if (done != (w.size() == 2)) {
            fail(joined(w) + (done ? ": suspended" : ": not suspended"));
        }
    } else if (w[0] == "resume") {
        h.engine.resumeRelay();
    } else if (w[0] == "fault" && arg == "short-block") {
        auto on = w.size() > 3 ? number(w[3].substr(1), 16) : std::optional<long>(0);
        h.scripted.shortenNextDataB3Ind(static_cast<uint16_t>(*number(w[2])),
                                        static_cast<uint32_t>(on.value_or(0)));
    } else if (w[0] == "fault" && arg == "refuse-block") {
        h.line.controller().refuseNextDataB3Req(0x300C);
    } else if (w[0] == "fault" && arg == "put") {
        h.line.controller().failNextPut(static_cast<uint16_t>(hexNumber(w[2]).value_or(0x1103)));
    } else if (w[0] == "fault" && arg == "error-log") {
        std::filesystem::create_directory(h.appDir / "error.log");
    } else if (w[0] == "fault" && arg == "log-folder") {
        std::filesystem::remove_all(h.logFile.parent_path());
    } else if (w[0] == "fault" && arg == "keep-alive") {
        h.timers.setTimerEnabled(relay::TimerId::Timer2, false);
    } else if (w[0] == "fault" && arg == "missing") {
        std::filesystem::remove(h.appDir / w[2]);
    } else if (w[0] == "fault") {
        fail(joined(w) + ": no such fault");
    } else if (arg == "call") {
        exchange::CallOptions call;
        std::string id = w.size() > 2 ? w[2] : "";
        call.callerId = id == "withheld"    ? exchange::CallerId::Restricted
                        : id == "absent"    ? exchange::CallerId::Absent
                        : id == "type-only" ? exchange::CallerId::TypeOnly
                                            : exchange::CallerId::Number;
        h.line.callPcNow(line_->party(w[0]), call);
    } else if (arg == "hangup") {
        h.line.hangUpNow(line_->party(w[0]));
    } else {
        h.line.pressKeysNow(line_->party(w[0]), w[2]);
    }
    h.notePhase();
}

std::string FlowRun::verdict(const Words& w) {
    EngineHarness& h = *h_;
    const std::string& kind = w[1];
    std::string wrong;
    if (kind == "phases") {
        Words seen;
        for (auto phase : h.phases()) {
            seen.push_back(std::to_string(static_cast<int>(phase)));
        }
        wrong = listVerdict(w, 2, seen);
    } else if (kind == "phase") {
        wrong = std::to_string(static_cast<int>(h.phase())) == w[2]
                    ? ""
                    : "   was " + std::to_string(static_cast<int>(h.phase()));
    } else if (kind == "sent") {
        wrong = sentVerdict(h, w);
    } else if (kind == "log") {
        wrong = listVerdict(w, 2, logTokens(h.callLogText()));
    } else if (kind == "shell") {
        wrong = listVerdict(w, 2, h.shell.changes);
    } else if (kind == "timer") {
        auto id = static_cast<size_t>(number(w[2]).value_or(0));
        bool on = id >= 1 && id <= 3 && h.timers.timerEnabled(static_cast<relay::TimerId>(id));
        wrong = (on ? "on" : "off") == w.back() ? "" : std::string("   was ") + (on ? "on" : "off");
    } else if (kind == "call-log") {
        bool open = h.engine.callLog().isOpen();
        wrong = (open ? "open" : "closed") == w[2] ? "" : "   it is not";
    } else if (kind == "settings") {
        auto stored = data::LoadSettings(h.appDir);
        bool log = h.engine.settings().logEnabled;
        bool saved = stored.settings && stored.settings->logEnabled;
        wrong = w[2] == (log && saved ? "log=on" : !log && !saved ? "log=off" : "")
                    ? ""
                    : "   logging in the engine and in the file differ, or not as expected";
    } else if (kind == "error-log") {
        wrong = h.errorLogText().find(joined(w, 2)) != std::string::npos
                    ? ""
                    : "   error.log: " + h.errorLogText();
    } else if (w[2] == "events") {
        Words events;
        for (const auto& e : h.line.partyRecord(line_->party(kind)).events) {
            std::string name = exchange::partyEventName(e.event);
            std::replace(name.begin(), name.end(), ' ', '-');
            events.push_back(name);
        }
        wrong = listVerdict(w, 3, events);
    } else if (w[2] == "prompts") {
        wrong = listVerdict(w, 3, promptTokens(h, line_->party(kind)));
    } else {  // NAME heard NAME blocks=N missing=N
        auto heard = exchange::checkHeard(h.line.partyRecord(line_->party(kind)),
                                          line_->party(w[3]));
        size_t missing = 0;
        bool blocks = true;
        for (size_t i = 4; i < w.size(); ++i) {
            auto value = static_cast<size_t>(number(w[i].substr(w[i].find('=') + 1)).value_or(0));
            if (w[i].starts_with("missing=")) {
                missing = value;
            } else {
                blocks = heard.blocks == value;
            }
        }
        bool ok = heard.blocks > 0 && blocks && heard.missing == missing && heard.repeated == 0 &&
                  heard.reordered == 0 && heard.damaged == 0;
        wrong = ok ? "" : "   " + heard.describe() + ", " + std::to_string(heard.blocks) + " blocks";
    }
    return wrong.empty() ? "" : joined(w) + "\n" + wrong;
}

void FlowRun::check() {
    EngineHarness& h = *h_;
    if (!script_->error.empty()) {
        return;
    }
    for (const auto& line : line_->check().lines) {
        if (line.starts_with("FAILED")) {
            fail(line);
        }
    }
    bool shellExpected = false;
    bool errorExpected = false;
    for (const auto& e : script_->expectations) {
        shellExpected = shellExpected || e[1] == "shell";
        errorExpected = errorExpected || e[1] == "error-log";
        if (auto verdict = this->verdict(e); !verdict.empty()) {
            fail(verdict);
        }
    }
    for (const auto& message : h.sentMessages()) {
        if (message.bytes.size() >= 12 && capi::readU32(message.bytes, 8) == 0) {
            fail("sent to address 0: " + message.text);
        }
    }
    // Unless the flow says what the shell showed: nothing but tray states,
    // and ready with the menu on once the call is over.
    if (!shellExpected && (h.shell.ended || !h.shell.messages.empty() ||
                           (h.phase() == relay::CallPhase::Idle &&
                            (h.shell.trays.back() != relay::kTrayReady.toolTip ||
                             !h.shell.menuEnabled)))) {
        fail("shown: " + joined(h.shell.changes));
    }
    if (!errorExpected && !h.errorLogText().empty()) {
        fail("error.log: " + h.errorLogText());
    }
    if (!h.shell.ended && h.line.accounting().applications != 1) {
        fail("the relay is not registered");
    }
    if (!failures_.empty()) {
        failures_ += "end of the trace:\n" + h.traceText(40);
    }
}

std::string playFlow(const Flow& flow) {
    for (size_t value = 0, values = 1; value < values; ++value) {
        FlowRun run(flow, value);
        values = run.sweepValues();
        run.play();
        run.check();
        if (!run.failures().empty()) {
            return values > 1 ? "with the ranged wait's value #" + std::to_string(value) + ":\n" +
                                    run.failures()
                              : run.failures();
        }
    }
    return {};
}

}  // namespace tellmaro::test
