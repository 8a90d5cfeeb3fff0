#include "support/flow_runner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "capi/byte_order.h"
#include "data/call_dir_file.h"
#include "data/call_log_texts.h"
#include "data/settings_file.h"
#include "exchange/simulated/audio_block.h"
#include "relay/prompt_file.h"
#include "support/child_process.h"

namespace tellmaro::test {

using Words = std::vector<std::string>;

constexpr milliseconds kBlockTime{256};

struct FlowRun::Script {
    std::string error;
    exchange::Scenario scenario;
    HarnessOptions options;
    data::PhoneBook phoneBook;
    std::vector<Words> steps, expectations;
    std::vector<milliseconds> sweep;
};

namespace {

std::string joined(const Words& words, size_t from = 0, const char* between = " ") {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) {
        text += (i > from ? between : "") + words[i];
    }
    return text;
}

long number(std::string_view text, int base = 10) {
    long value = -1;
    std::from_chars(text.data(), text.data() + text.size(), value, base);
    return value;
}

// "relay KEY=VALUE ...": the relay's settings, phone book and log folder.
std::string relaySetting(FlowRun::Script& s, const std::string& item) {
    const auto eq = std::min(item.find('='), item.size());
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(std::min(eq + 1, item.size()));
    auto& set = s.options.settings;
    const std::map<std::string, std::function<void()>> keys = {
        {"confirm-key", [&] { set.starConfirms = value == "*"; }},
        {"disconnect", [&] { set.totalDisconnect = value == "total"; }},
        {"mode", [&] { set.callBack = value == "call-back"; }},
        {"line-access", [&] { set.lineAccessEnabled = value == "on"; }},
        {"line-access-digits", [&] { set.lineAccessDigits = static_cast<uint8_t>(number(value)); }},
        {"line-access-chars", [&] { set.lineAccessChars = value; }},
        {"mobile", [&] { s.options.mobileNumber = value; }},
        {"log-folder", [&] { s.options.logFolder = value; }},
        {"phonebook", [&] {
             const auto colon = value.find(':');
             (void)s.phoneBook.append({value.substr(0, colon), value.substr(colon + 1), "Eintrag"});
         }}};
    if (!keys.contains(key)) {
        return "unknown relay setting '" + item + "'";
    }
    keys.at(key)();
    return {};
}

std::optional<std::string> readStatement(FlowRun::Script& s, const Words& w,
                                         const exchange::Scenario& sofar) {
    static const Words kSteps = {"check", "wait", "fault", "switch", "suspend", "resume"};
    if (w[0] == "relay") {
        std::string error;
        for (size_t i = 1; i < w.size() && error.empty(); ++i) {
            error = relaySetting(s, w[i]);
        }
        return error;
    }
    if (w[0] == "expect") {
        // Lists go on over several statements: sent, log, shell, PARTY events, PARTY prompts.
        const size_t head = sofar.party(w[1]) ? 3 : 2;
        const bool list = w[1] == "sent" || w[1] == "log" || w[1] == "shell" ||
                          (head == 3 && w.size() >= 3 && w[2] != "heard");
        for (auto& e : s.expectations) {
            if (list && w.size() >= head && e.size() >= head &&
                std::equal(w.begin(), w.begin() + static_cast<ptrdiff_t>(head), e.begin())) {
                e.insert(e.end(), w.begin() + static_cast<ptrdiff_t>(head), w.end());
                return "";
            }
        }
        s.expectations.push_back(w);
        return "";
    }
    if (std::find(kSteps.begin(), kSteps.end(), w[0]) == kSteps.end() && !sofar.party(w[0])) {
        return std::nullopt;
    }
    if (w[0] == "wait" && w.size() == 4 && w[2] == "by") {
        const auto dots = std::min(w[1].find(".."), w[1].size());
        auto from = exchange::parseDuration(w[1].substr(0, dots)).value_or(-1ms);
        auto to = exchange::parseDuration(w[1].substr(std::min(dots + 2, w[1].size())));
        auto by = exchange::parseDuration(w[3]).value_or(0ms);
        if (from < 0ms || !to || by <= 0ms || !s.sweep.empty()) {
            return "a ranged wait needs FROM..TO by STEP, and a flow has at most one";
        }
        for (milliseconds t = from; t <= to.value_or(0ms); t += by) {
            s.sweep.push_back(t);
        }
    }
    s.steps.push_back(w);
    return "";
}

// " KIND appl=1 #N len=L Field=value ... @ADDRESS At=1020ms ", the address at offset 8.
std::string messageWords(const SentMessage& m) {
    char extra[48];
    std::snprintf(extra, sizeof extra, " @%X At=%lldms ",
                  m.bytes.size() >= 12 ? capi::readU32(m.bytes, 8) : 0,
                  static_cast<long long>(m.at.count()));
    return " " + m.text + extra;
}

// Each call-log line as a word: "caller=1711234567", "time=14:05:34", "talk=4_s", "-" when blank.
Words logWords(const std::string& log) {
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
    Words words;
    for (size_t at = 0; at < log.size();) {
        const size_t end = std::min(log.find("\r\n", at), log.size());
        const std::string line = log.substr(at, end - at);
        std::string word = line.empty() ? "-" : "?" + line;
        for (const auto& [label, key] : kLines) {
            if (line.starts_with(label)) {
                std::string value = line.substr(label.size());
                value.erase(0, value.starts_with("03.12.2001 ") ? 11 : 0);
                std::replace(value.begin(), value.end(), ' ', '_');
                word = key + (label.ends_with(": ") ? "=" + value : "");
            }
        }
        words.push_back(word);
        at = end + 2;
    }
    return words;
}

// The hashes of a prompt file's blocks, the last filled up with line silence.
std::vector<uint64_t> promptBlockHashes(const std::filesystem::path& file) {
    const std::string bytes = readFile(file);
    std::vector<uint64_t> hashes;
    for (size_t at = 0;; at += relay::kPromptRecordLength) {
        std::vector<uint8_t> block(relay::kBlockLength, relay::kLineSilence);
        const size_t got = at < bytes.size() ? std::min(relay::kBlockLength, bytes.size() - at) : 0;
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at), got, block.begin());
        hashes.push_back(exchange::audioBlockHash(block));
        if (at + relay::kPromptRecordLength > bytes.size()) {
            return hashes;
        }
    }
}

// The prompts a party heard, each the longest run of one file's blocks: "welcome", "welcome(cut)",
// and "pause" for a gap other than the one silent block after a whole prompt.
Words promptWords(const EngineHarness& h, exchange::PartyId party) {
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
    Words words;
    std::optional<milliseconds> gapEnds;
    for (size_t i = 0, run = 1; i < blocks.size(); i += run) {
        std::string name = "?";
        bool whole = false;
        run = 1;
        for (const auto& [file, hashes] : library) {
            size_t n = 0;
            while (n < hashes.size() && i + n < blocks.size() && blocks[i + n]->hash == hashes[n]) {
                ++n;
            }
            if (n > 0 && (name == "?" || n > run)) {
                whole = n == hashes.size();
                name = file + (whole ? "" : "(cut)");
                run = n;
            }
        }
        if (gapEnds && std::abs((blocks[i]->at - *gapEnds).count()) > kBlockTime.count() / 2) {
            words.push_back("pause");
        }
        words.push_back(name);
        gapEnds = blocks[i + run - 1]->at + kBlockTime * (whole ? 2 : 1);
    }
    return words;
}

// "talk=*" takes any value, "X?" may be missing; "KIND#N@ADDRESS Field=value" parts in a message.
bool sameItem(const Words& item, const std::string& actual) {
    std::string head = item[0];
    head.erase(head.size() - (head.ends_with('?') ? 1 : 0));
    if (!actual.starts_with(" ")) {
        return head.ends_with("=*") ? actual.starts_with(head.substr(0, head.size() - 1))
                                    : head == actual;
    }
    Words parts(item.begin() + 1, item.end());  // and KIND, #N and @ADDRESS as words of their own
    std::istringstream words(std::regex_replace(head, std::regex("[#@]"), " $&"));
    for (std::string part; words >> part;) {
        parts.push_back(part);
    }
    return std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
        return actual.find(" " + part + " ") != std::string::npos;
    });
}

// Whether `actual` is `items` in order; "..." stands for any run.
bool matches(const std::vector<Words>& items, size_t i, const Words& actual, size_t j) {
    if (i == items.size()) {
        return j == actual.size();
    }
    if (items[i][0] == "...") {
        for (size_t k = j; k <= actual.size(); ++k) {
            if (matches(items, i + 1, actual, k)) {
                return true;
            }
        }
        return false;
    }
    return (j < actual.size() && sameItem(items[i], actual[j]) &&
            matches(items, i + 1, actual, j + 1)) ||
           (items[i][0].ends_with('?') && matches(items, i + 1, actual, j));
}

// Expected words from `from` on; only messages of the kinds named are compared.
std::string listVerdict(const Words& expected, size_t from, Words actual, bool messages = false) {
    std::vector<Words> items;
    Words kinds;
    for (size_t i = from; i < expected.size(); ++i) {
        if (!messages || items.empty() || expected[i] == "..." ||
            expected[i].find('=') == std::string::npos) {
            items.push_back({expected[i]});
            kinds.push_back(" " + expected[i].substr(0, expected[i].find_first_of("#@?")) + " ");
        } else {
            items.back().push_back(expected[i]);
        }
    }
    if (messages) {
        std::erase_if(actual, [&](const std::string& m) {
            return std::none_of(kinds.begin(), kinds.end(),
                                [&](const std::string& kind) { return m.starts_with(kind); });
        });
    }
    return matches(items, 0, actual, 0) ? ""
                                        : "   was: " + joined(actual, 0, messages ? "\n" : " ");
}

// The shared lines, then the flow's own in their places; a flow's line that defines parties takes
// the place of the first shared line defining one of them, and those shared lines are blanked.
std::string flowText(Words lines, size_t shared, size_t first, size_t last) {
    Words text(lines.begin(), lines.begin() + static_cast<ptrdiff_t>(shared));
    text.resize(lines.size());
    bool ends = false;
    for (size_t i = first; i < last; ++i) {
        const std::string& line = lines[i];
        ends = ends || line.starts_with("end ");
        size_t place = i;
        std::istringstream statements(line);
        for (std::string statement, party, name; std::getline(statements, statement, ';');) {
            std::istringstream(statement) >> party >> name;
            for (size_t j = 0; j < shared; ++j) {
                if (party == "party" && text[j].starts_with("party " + name + " ")) {
                    text[j].clear();
                    place = std::min(place, j);
                }
            }
        }
        text[place] = line;
    }
    return joined(text, 0, "\n") + (ends ? "" : "\nend 0s");
}

}  // namespace

std::vector<Flow> flowsOf(std::string_view text) {
    Words lines;
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line(text.substr(at, end - at));
        at = end + 1;
        // "flow NAME; STEPS": the steps on a line of their own.
        const size_t semi = line.starts_with("flow ") ? line.find(';') : std::string::npos;
        lines.push_back(line.substr(0, semi));
        if (semi != std::string::npos) {
            lines.push_back(
                line.substr(std::min(line.find_first_not_of(' ', semi + 1), line.size())));
        }
    }
    std::vector<size_t> starts;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with("flow ")) {
            starts.push_back(i);
        }
    }
    starts.push_back(lines.size());
    std::vector<Flow> flows;
    for (size_t f = 0; f + 1 < starts.size(); ++f) {
        Flow flow{lines[starts[f]].substr(5), {}};
        // "each A | B | C": the flow once with A in that line's place, once with B, ...
        auto each = std::find_if(lines.begin() + static_cast<ptrdiff_t>(starts[f]),
                                 lines.begin() + static_cast<ptrdiff_t>(starts[f + 1]),
                                 [](const std::string& line) { return line.starts_with("each "); });
        std::istringstream alternatives(each == lines.end() ? "" : each->substr(5));
        for (std::string alternative;
             std::getline(alternatives, alternative, '|') || flow.texts.empty();) {
            Words variant = lines;
            if (each != lines.end()) {
                alternative.erase(0, alternative.find_first_not_of(' '));
                variant[static_cast<size_t>(each - lines.begin())] = alternative;
            }
            flow.texts.push_back(flowText(variant, starts[0], starts[f] + 1, starts[f + 1]));
        }
        flows.push_back(flow);
    }
    return flows;
}

FlowRun::FlowRun(const Flow& flow, size_t variant, HarnessOptions options)
    : script_(std::make_unique<Script>()),
      texts_(flow.texts.size()),
      sweep_(variant / flow.texts.size()) {
    Script& s = *script_;
    s.options = std::move(options);
    // Every flow: the harness's line, left idle and clean.
    std::string text = flow.texts[variant % texts_];
    text.insert(text.rfind("\nend "), "\nline 0711555000\nexpect idle; expect clean");
    auto parsed =
        exchange::parseScenario(text, [&s](const Words& w, const exchange::Scenario& sofar) {
            return readStatement(s, w, sofar);
        });
    s.scenario = parsed.scenario.value_or(exchange::Scenario{});
    s.error = parsed.error;
    if (!s.error.empty()) {
        fail(flow.name + ": " + s.error);
    }
    h_ = std::make_unique<EngineHarness>(s.options);
    if (s.phoneBook.callDirCount() > 0) {
        (void)data::SaveCallDir(h_->appDir, s.phoneBook);
    }
    line_ = std::make_unique<exchange::ScenarioRunner>(h_->line, h_->clock, s.scenario);
    h_->startUp();
    line_->poll();
}

FlowRun::~FlowRun() = default;

size_t FlowRun::variants() const {
    return texts_ * std::max<size_t>(1, script_->sweep.size());
}

void FlowRun::play(bool strict) {
    for (const auto& words : script_->error.empty() ? script_->steps : std::vector<Words>{}) {
        step(words, strict);
        h_->notePhase();
    }
    h_->runFor(std::max(script_->scenario.end - h_->now(), 0ms));
}

void FlowRun::step(const Words& w, bool strict) {
    EngineHarness& h = *h_;
    const std::string a = w.size() > 1 ? w[1] : "", b = w.size() > 2 ? w[2] : "";
    const auto code = [&] { return static_cast<uint16_t>(number(b.substr(2), 16)); };
    namespace fs = std::filesystem;
    const std::map<std::string, std::function<void()>> faults = {
        {"short-block",
         [&] {
             h.scripted.shortenNextDataB3Ind(static_cast<uint16_t>(number(b)),
                                             w.size() > 3 ? number(w[3].substr(1), 16) : 0);
         }},
        {"connect-conf", [&] { h.scripted.refuseNextConnectConf(code()); }},
        {"refuse-block", [&] { h.line.controller().refuseNextDataB3Req(0x300C); }},
        {"put", [&] { h.line.controller().failNextPut(code()); }},
        {"error-log", [&] { fs::create_directory(h.appDir / "error.log"); }},
        {"log-folder", [&] { fs::remove_all(h.logFile.parent_path()); }},
        {"keep-alive", [&] { h.timers.setTimerEnabled(relay::TimerId::KeepAlive, false); }},
        {"missing", [&] { fs::remove(h.appDir / b); }}};
    const bool party = script_->scenario.party(w[0]) != nullptr;
    if (w[0] == "wait" && a == "phase") {
        auto wanted = static_cast<relay::CallPhase>(number(b));
        if (!h.runUntil([&] { return h.phase() == wanted; }, 30s) && strict) {
            fail(joined(w) + ": never reached");
        }
    } else if (w[0] == "wait" && a == "block") {
        const auto& record = h.line.partyRecord(line_->party(b));
        h.runUntil([&, sent = record.blocksSent] { return record.blocksSent > sent; }, 1s);
    } else if (w[0] == "wait" && (w.size() == 4 || exchange::parseDuration(a))) {
        h.runFor(w.size() == 4 ? script_->sweep.at(sweep_) : *exchange::parseDuration(a));
    } else if (w[0] == "check") {
        if (auto wrong = verdict(w); strict && !wrong.empty()) {
            fail(wrong);
        }
    } else if (w[0] == "switch") {
        h.shell.activated = a == "on";
        h.engine.activationChanged(h.shell.activated);
    } else if (w[0] == "suspend") {
        const bool done =
            h.engine.suspendRelay(a == "analysis" ? relay::kTraySuspendedForAnalysis
                                                  : relay::kTraySuspendedForConfiguration);
        if (done != (b != "fails")) {
            fail(joined(w) + (done ? ": suspended" : ": not suspended"));
        }
    } else if (w[0] == "resume") {
        h.engine.resumeRelay();
    } else if (w[0] == "fault" && faults.contains(a)) {
        faults.at(a)();
    } else if (party && a == "call") {
        exchange::CallOptions call;
        call.callerId = b == "withheld"    ? exchange::CallerId::Restricted
                        : b == "absent"    ? exchange::CallerId::Absent
                        : b == "type-only" ? exchange::CallerId::TypeOnly
                                           : exchange::CallerId::Number;
        h.line.callPcNow(line_->party(w[0]), call);
    } else if (party && a == "hangup") {
        h.line.hangUpNow(line_->party(w[0]));
    } else if (party && a == "keys" && !b.empty()) {
        h.line.pressKeysNow(line_->party(w[0]), b);
    } else {
        fail("cannot do '" + joined(w) + "'");
    }
}

std::string FlowRun::verdict(const Words& w) {
    EngineHarness& h = *h_;
    const std::string& kind = w.at(1);
    const std::string arg = w.size() > 2 ? w[2] : "";
    const auto onOff = [](bool on) -> std::string { return on ? "on" : "off"; };
    const bool party = script_->scenario.party(kind) != nullptr;
    Words actual;  // what the expected words from w[2] (a party's: w[3]) must match
    if (kind == "phases" || kind == "phase") {
        for (auto phase : h.phases()) {
            actual.push_back(std::to_string(static_cast<int>(phase)));
        }
        actual.erase(actual.begin(), kind == "phase" ? actual.end() - 1 : actual.begin());
    } else if (kind == "sent") {
        for (const auto& message : h.sentMessages()) {
            actual.push_back(messageWords(message));
        }
    } else if (kind == "log") {
        actual = logWords(h.callLogText());
    } else if (kind == "shell") {
        actual = h.shell.changes;
    } else if (kind == "timer") {
        actual = {arg, onOff(h.timers.timerEnabled(static_cast<relay::TimerId>(number(arg) - 1)))};
    } else if (kind == "call-log") {
        actual = {h.store.callLog().isOpen() ? "open" : "closed"};
    } else if (kind == "settings") {  // log=on|off, in the engine and in the file alike
        const bool on = h.store.settings().logEnabled;
        const bool stored =
            data::LoadSettings(h.appDir).settings.value_or(data::SettingsRecord{}).logEnabled;
        actual = {"log=" + onOff(on) + (on == stored ? "" : ", stored " + onOff(stored))};
    } else if (kind == "error-log") {
        const bool holds = h.errorLogText().find(joined(w, 2)) != std::string::npos;
        actual = holds ? Words(w.begin() + 2, w.end()) : Words{h.errorLogText()};
    } else if (party && arg == "events") {
        for (const auto& e : h.line.partyRecord(line_->party(kind)).events) {
            actual.push_back(exchange::partyEventName(e.event));
            std::replace(actual.back().begin(), actual.back().end(), ' ', '-');
        }
    } else if (party && arg == "prompts") {
        actual = promptWords(h, line_->party(kind));
    } else if (party && arg == "heard" && w.size() >= 4) {  // blocks=N and missing=N may follow
        auto heard =
            exchange::checkHeard(h.line.partyRecord(line_->party(kind)), line_->party(w[3]));
        const std::string got =
            "blocks=" + std::to_string(heard.blocks) + " missing=" + std::to_string(heard.missing);
        bool holds = heard.blocks > 0 && heard.repeated + heard.reordered + heard.damaged == 0 &&
                     (heard.missing == 0 || joined(w).find(" missing=") != std::string::npos);
        for (size_t i = 4; i < w.size(); ++i) {
            holds = holds && (" " + got + " ").find(" " + w[i] + " ") != std::string::npos;
        }
        return holds ? "" : joined(w) + "\n   was: " + got + ", " + heard.describe();
    } else {
        return joined(w) + "\n   no such expectation";
    }
    const std::string wrong = listVerdict(w, party ? 3 : 2, actual, kind == "sent");
    return wrong.empty() ? "" : joined(w) + "\n" + wrong;
}

void FlowRun::check() {
    EngineHarness& h = *h_;
    if (!script_->error.empty()) {
        return;
    }
    failures_ += unsettled();
    bool shellExpected = false, errorExpected = false;
    for (const auto& e : script_->expectations) {
        shellExpected = shellExpected || e[1] == "shell";
        errorExpected = errorExpected || e[1] == "error-log";
        if (auto wrong = verdict(e); !wrong.empty()) {
            fail(wrong);
        }
    }
    // Every flow: nothing sent to address 0, registered; unless expected, no error.log or message.
    for (const auto& message : h.sentMessages()) {
        if (message.bytes.size() >= 12 && capi::readU32(message.bytes, 8) == 0) {
            fail("sent to address 0: " + message.text);
        }
    }
    if (!errorExpected && !h.errorLogText().empty()) {
        fail("error.log: " + h.errorLogText());
    }
    if (!shellExpected &&
        (h.shell.ended || !h.shell.messages.empty() ||
         (h.phase() == relay::CallPhase::Idle &&
          (h.shell.trays.back() != relay::kTrayReady.toolTip || !h.shell.menuEnabled)))) {
        fail("shown: " + joined(h.shell.changes));
    }
    if (!h.shell.ended && h.line.accounting().applications != 1) {
        fail("the relay is not registered");
    }
    // A leg whose 7 blocks all wait for an answer gets no more: the far end is heard no longer.
    if (const auto dropped = h.line.accounting().droppedAudioBlocks; dropped != 0) {
        fail(std::to_string(dropped) + " blocks dropped, 7 of their leg's left unanswered");
    }
    if (!failures_.empty()) {
        failures_ += "end of the trace:\n" + h.traceText(40);
    }
}

std::string FlowRun::unsettled() const {
    std::string failed;
    for (const auto& line : line_->check().lines) {
        failed += line.starts_with("FAILED") ? line + "\n" : "";
    }
    return failed;
}

std::string callLogVerdict(const std::string& expected, const std::string& log) {
    std::istringstream words(expected);
    return listVerdict({std::istream_iterator<std::string>(words), {}}, 0, logWords(log));
}

std::vector<std::string> callLogWords(const std::string& log) {
    return logWords(log);
}

std::string playFlow(const Flow& flow) {
    for (size_t value = 0, values = 1; value < values; ++value) {
        FlowRun run(flow, value);
        values = run.variants();
        run.play();
        run.check();
        if (!run.failures().empty()) {
            return values > 1 ? "variant " + std::to_string(value) + ":\n" + run.failures()
                              : run.failures();
        }
    }
    return {};
}

}  // namespace tellmaro::test
