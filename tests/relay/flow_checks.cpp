#include "flow_checks.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

#include "data/call_dir_file.h"
#include "exchange/simulated/audio_block.h"
#include "relay/prompt_file.h"

namespace tellmaro::test {

namespace {

constexpr size_t kRecord = relay::kPromptRecordLength;
constexpr size_t kHeard = relay::kBlockLength;
constexpr milliseconds kBlockTime{256};

// The hashes of the blocks a prompt file yields: one per read of a record,
// the last read filling what it lacks with line silence.
std::vector<uint64_t> promptBlockHashes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<uint64_t> hashes;
    for (size_t at = 0;; at += kRecord) {
        std::vector<uint8_t> block(kHeard, relay::kLineSilence);
        size_t got = at < bytes.size() ? std::min(kHeard, bytes.size() - at) : 0;
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at), got, block.begin());
        hashes.push_back(exchange::audioBlockHash(block));
        if (at + kRecord > bytes.size()) {
            return hashes;
        }
    }
}

std::map<std::string, std::vector<uint64_t>> promptLibrary(const std::filesystem::path& dir) {
    std::map<std::string, std::vector<uint64_t>> library;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".pdt") {
            library[entry.path().filename().string()] = promptBlockHashes(entry.path());
        }
    }
    return library;
}

}  // namespace

bool reachPhase(EngineHarness& h, relay::CallPhase phase, milliseconds limit) {
    return h.runUntil([&] { return h.phase() == phase; }, limit);
}

exchange::PartyBehaviour answersAfter(milliseconds after) {
    exchange::PartyBehaviour behaviour;
    behaviour.answerAfter = after;
    return behaviour;
}

HarnessOptions hashCancels(bool totalDisconnect) {
    HarnessOptions options;
    options.settings.starConfirms = true;
    options.settings.totalDisconnect = totalDisconnect;
    return options;
}

MobileCall::MobileCall(HarnessOptions options, exchange::PartyBehaviour target,
                       exchange::PartyBehaviour mobile)
    : h(std::move(options)) {
    this->mobile = h.addParty(kMobile, std::move(mobile));
    this->target = h.addParty(kTarget, std::move(target));
    h.startUp();
    h.line.callPcAt(h.now() + 1s, this->mobile);
}

::testing::AssertionResult MobileCall::dial(const std::string& keys, relay::CallPhase phase) {
    if (!reachPhase(h, relay::CallPhase::Dialogue)) {
        return ::testing::AssertionFailure() << "never at number entry";
    }
    this->keys(keys);
    if (!reachPhase(h, phase)) {
        return ::testing::AssertionFailure() << "never in " << relay::callPhaseName(phase) << "\n"
                                             << h.traceText(30);
    }
    return ::testing::AssertionSuccess();
}

void MobileCall::hangUpAndSettle(milliseconds settle) {
    h.line.hangUpNow(mobile);
    h.runFor(settle);
    EXPECT_EQ(h.phase(), relay::CallPhase::Idle);
    EXPECT_EQ(h.shell.trays.back(), "Tellmaro ist betriebsbereit");
    EXPECT_LINE_SETTLED(h);
}

::testing::AssertionResult lineSettled(const EngineHarness& h) {
    auto accounting = h.line.accounting();
    if (accounting.idle() && accounting.clean()) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure();
    failure << accounting.livePlcis << " live PLCIs, " << accounting.liveNccis << " live NCCIs\n";
    for (const auto& v : accounting.violations) {
        failure << "violation at " << v.at.count() << " ms (" << exchange::violationKindName(v.kind)
                << "): " << v.detail << ": " << v.message << "\n";
    }
    for (const auto& i : accounting.unanswered) {
        failure << "unanswered since " << i.at.count() << " ms: " << i.message << "\n";
    }
    for (const auto& i : accounting.neverAnswered) {
        failure << "never answered, sent at " << i.at.count() << " ms: " << i.message << "\n";
    }
    failure << "end of the trace:\n" << h.traceText(60);
    return failure;
}

std::vector<HeardPrompt> heardPrompts(const EngineHarness& h, exchange::PartyId party) {
    auto library = promptLibrary(h.appDir);
    std::vector<const exchange::ReceivedBlock*> blocks;
    for (const auto& block : h.line.partyRecord(party).received) {
        if (!block.origin.id) {
            blocks.push_back(&block);
        }
    }
    std::vector<HeardPrompt> prompts;
    for (size_t i = 0; i < blocks.size();) {
        HeardPrompt best{"?", false, 1, blocks[i]->at, blocks[i]->at};
        for (const auto& [file, hashes] : library) {
            size_t run = 0;
            while (run < hashes.size() && i + run < blocks.size() &&
                   blocks[i + run]->hash == hashes[run]) {
                ++run;
            }
            if (run > 0 && (best.file == "?" || run > best.blocks)) {
                best = {file, run == hashes.size(), run, blocks[i]->at, blocks[i + run - 1]->at};
            }
        }
        prompts.push_back(best);
        i += best.blocks;
    }
    return prompts;
}

std::vector<std::string> promptNames(const std::vector<HeardPrompt>& prompts) {
    std::vector<std::string> names;
    for (const auto& p : prompts) {
        names.push_back(p.whole ? p.file : p.file + " (cut)");
    }
    return names;
}

std::vector<int> silentBlocksBetween(const std::vector<HeardPrompt>& prompts) {
    std::vector<int> gaps;
    for (size_t i = 1; i < prompts.size(); ++i) {
        double blocks = static_cast<double>((prompts[i].firstAt - prompts[i - 1].lastAt).count()) /
                        static_cast<double>(kBlockTime.count());
        gaps.push_back(static_cast<int>(std::lround(blocks)) - 1);
    }
    return gaps;
}

std::vector<std::string> sentOfKind(const EngineHarness& h, std::string_view kind, size_t from) {
    std::vector<std::string> texts;
    const auto& sent = h.sentMessages();
    for (size_t i = from; i < sent.size(); ++i) {
        std::string_view text = sent[i].text;
        if (text.starts_with(kind) && text.size() > kind.size() && text[kind.size()] == ' ') {
            texts.push_back(sent[i].text);
        }
    }
    return texts;
}

size_t countSent(const EngineHarness& h, std::string_view kind, size_t from) {
    return sentOfKind(h, kind, from).size();
}

std::string withoutTimes(const std::string& log) {
    static const std::regex time(R"(\d\d\.\d\d\.\d\d\d\d \d\d:\d\d:\d\d)");
    return std::regex_replace(log, time, "<time>");
}

std::string logCallStart() {
    return "\r\n\r\n\r\n"
           "Anrufende Nummer       : 1711234567\r\n"
           "Datum/Uhrzeit          : <time>\r\n";
}

std::string logDialled(const std::string& number) {
    return "\r\n   Gewählte Nummer     : " + number + "\r\n";
}

std::string logConnectionEnd(const std::string& duration) {
    return "\r\nEnde der Verbindung    : <time>\r\nVerbindungsdauer       : " + duration + "\r\n";
}

size_t countSeizures(const EngineHarness& h) {
    size_t n = 0;
    for (const auto& request : sentOfKind(h, "CONNECT_REQ")) {
        n += request.find("CalledNumber=80:\"\"") != std::string::npos ? 1 : 0;
    }
    return n;
}

std::vector<std::string> dialledNumbers(const EngineHarness& h) {
    constexpr std::string_view kCalled = "CalledNumber=80:\"";
    std::vector<std::string> numbers;
    for (const auto& request : sentOfKind(h, "CONNECT_REQ")) {
        auto at = request.find(kCalled);
        if (at != std::string::npos && request[at + kCalled.size()] != '"') {
            numbers.push_back(request.substr(at + kCalled.size(), 20));
        }
    }
    return numbers;
}

void writePhoneBook(const EngineHarness& h,
                    const std::vector<std::pair<std::string, std::string>>& entries) {
    data::PhoneBook book;
    for (const auto& [code, number] : entries) {
        ASSERT_TRUE(book.append({code, number, "Eintrag " + code}));
    }
    ASSERT_TRUE(data::SaveCallDir(h.appDir, book).ok);
}

}  // namespace tellmaro::test
