// Faults injected through the in-process line: every driver call of every
// kind of call failing in turn, the driver gone, the log file's folder
// removed, a prompt file missing and a phone book that cannot be saved.
// After each the relay is ready for the next call (or has ended) and the
// line is settled.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/call_dir_file.h"
#include "engine_harness.h"
#include "flow_checks.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using relay::CallPhase;

constexpr const char* kReady = "Tellmaro ist betriebsbereit";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

// The error.log text after "CAPI-Fehler" for each code the report tells apart;
// a code without a text ends the line there.
struct Code {
    uint32_t code;
    const char* text;
};
constexpr Code kCodes[] = {
    {0x1103, "No:0x1103 The message could not be accepted because of a queue full condition"},
    {0x1108, "No:0x1108 OS rescoue error (e.g. no memory)"},
    {0x1006, ""},
};

// One flow of a relayed call, as steps on the registered mobile, separated
// by ";": "call", "keys X", "hangup", "wait MS", and "phase N" (run until
// the relay is in call phase N).
struct Flow {
    const char* name;
    const char* steps;
    HarnessOptions options = {};
    exchange::PartyBehaviour target = answersAfter(1s);
    exchange::PartyBehaviour mobile = {};
    bool phoneBook = false;
};

HarnessOptions with(bool callBack, bool totalDisconnect) {
    HarnessOptions options;
    options.settings.callBack = callBack;
    options.settings.totalDisconnect = totalDisconnect;
    return options;
}

exchange::PartyBehaviour callingBack() {
    PartyBehaviour mobile;
    mobile.ringTime = 2s;
    mobile.answerAfter = 1s;
    return mobile;
}

exchange::PartyBehaviour hangsUpAfter(milliseconds talk, bool busy = false) {
    PartyBehaviour target = answersAfter(1s);
    target.hangUpAfter = talk;
    if (busy) {
        target.onCall = PartyBehaviour::OnCall::Busy;
    }
    return target;
}

// "#" confirms and "*" cancels.
const Flow kFlows[] = {
    {"direct answer, the mobile hangs up while relaying",
     "call; phase 5; keys 0301234567#; phase 10; wait 1000; hangup"},
    {"call-back", "call; phase 5; keys 0301234567#; phase 10; wait 600; hangup", with(true, false),
     answersAfter(1s), callingBack()},
    {"speed dial",
     "call; phase 5; keys #; wait 300; keys 42#; phase 10; wait 600; hangup",
     {},
     answersAfter(1s),
     {},
     true},
    {"cancel at number entry", "call; phase 5; keys 030; wait 300; keys *; wait 1500; hangup"},
    {"cancel while the seizure is released",
     "call; phase 5; keys 0301234567#; keys *; wait 200; phase 5; wait 600; hangup"},
    {"cancel while the called party rings",
     "call; phase 5; keys 0301234567#; phase 8; keys *; phase 5; wait 600; hangup",
     {},
     answersAfter(3s)},
    {"cancel while relaying",
     "call; phase 5; keys 0301234567#; phase 10; keys *; wait 1500; hangup"},
    {"one-sided disconnect",
     "call; phase 5; keys 0301234567#; phase 10; phase 5; wait 600; hangup",
     {},
     hangsUpAfter(1s)},
    {"total disconnect", "call; phase 5; keys 0301234567#; phase 10; phase 0", with(false, true),
     hangsUpAfter(1s)},
    {"busy called party",
     "call; phase 5; keys 0301234567#; wait 2000; hangup",
     {},
     hangsUpAfter(1s, true)},
};

// Runs the steps; a "phase" that is not reached within its limit is a
// failure only when `mustReach` (the flow without a fault).
::testing::AssertionResult runSteps(EngineHarness& h, exchange::PartyId mobile,
                                    std::string_view steps, bool mustReach) {
    std::istringstream in{std::string(steps)};
    std::string step;
    while (std::getline(in, step, ';')) {
        std::istringstream words(step);
        std::string verb, argument;
        words >> verb >> argument;
        if (verb == "call") {
            h.line.callPcNow(mobile);
        } else if (verb == "keys") {
            h.line.pressKeysNow(mobile, argument);
        } else if (verb == "hangup") {
            h.line.hangUpNow(mobile);
        } else if (verb == "wait") {
            h.runFor(milliseconds(std::stoi(argument)));
        } else if (verb == "phase") {
            auto phase = static_cast<CallPhase>(std::stoi(argument));
            if (!reachPhase(h, phase, 20s) && mustReach) {
                return ::testing::AssertionFailure() << "phase " << argument << " not reached";
            }
        } else {
            return ::testing::AssertionFailure() << "unknown step '" << step << "'";
        }
    }
    h.runFor(3s);
    return ::testing::AssertionSuccess();
}

struct FlowRun {
    explicit FlowRun(const Flow& flow) : h(flow.options) {
        mobile = h.addParty(kMobile, flow.mobile);
        h.addParty(kTarget, flow.target);
        if (flow.phoneBook) {
            writePhoneBook(h, {{"42", kTarget}});
        }
        h.startUp();
        base = h.scripted.countedCalls();
    }
    EngineHarness h;
    exchange::PartyId mobile = 0;
    size_t base = 0;
};

// After a report the relay is idle, registered and listening, the line
// clean, one error.log line written and nothing shown; the registered
// mobile's next call takes the same course and ends with the relay ready.
void expectRecovered(FlowRun& run, const Flow& flow, const Code& code) {
    auto& h = run.h;
    auto logged = lines(h.errorLogText());
    ASSERT_EQ(logged.size(), 1u) << h.errorLogText();
    ASSERT_GE(logged[0].size(), 19u);
    EXPECT_EQ(logged[0].substr(19), std::string("CAPI-Fehler") + code.text);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.line.accounting().applications, 1u);
    EXPECT_TRUE(h.shell.messages.empty());
    EXPECT_FALSE(h.shell.ended);
    EXPECT_LINE_SETTLED(h);
    EXPECT_TRUE(h.line.accounting().idle());

    ASSERT_TRUE(runSteps(h, run.mobile, flow.steps, true));
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.shell.trays.back(), kReady);
    EXPECT_TRUE(h.shell.menuEnabled);
    EXPECT_LINE_SETTLED(h);
}

// The driver gone: re-registration fails with 0x1009, the message is shown
// once and the program ends, with nothing left open on the line.
void expectEnded(FlowRun& run) {
    auto& h = run.h;
    ASSERT_EQ(h.shell.messages.size(), 1u);
    EXPECT_EQ(h.shell.messages[0].caption, " Tellmaro Fehler !!");
    EXPECT_EQ(h.shell.messages[0].text,
              "Die Treiberdatei 'libcapi20.so.3' ihrer ISDN-Karte ist nicht richtig installiert!");
    EXPECT_EQ(h.shell.messages[0].icon, relay::MessageIcon::Critical);
    EXPECT_TRUE(h.shell.ended);
    EXPECT_EQ(h.line.accounting().applications, 0u);
    EXPECT_EQ(lines(h.errorLogText()).size(), 1u);
    EXPECT_LINE_SETTLED(h);
    EXPECT_TRUE(h.line.accounting().idle());
}

// Every driver call of every flow fails in turn, the codes taking turns;
// for every 16th call the driver is gone as well.
TEST(FaultInjection, EveryFailedDriverCallOfEveryFlow) {
    size_t runs = 0;
    for (const Flow& flow : kFlows) {
        size_t calls = 0;
        {
            FlowRun clean(flow);
            ASSERT_TRUE(runSteps(clean.h, clean.mobile, flow.steps, true)) << flow.name;
            EXPECT_TRUE(clean.h.errorLogText().empty()) << flow.name;
            calls = clean.h.scripted.countedCalls() - clean.base;
        }
        for (size_t n = 0; n < calls; ++n) {
            const Code& code = kCodes[n % std::size(kCodes)];
            bool driverGone = n % 16 == 5;
            SCOPED_TRACE(::testing::Message()
                         << flow.name << ": call " << n << " of " << calls << " fails with 0x"
                         << std::hex << code.code << (driverGone ? ", driver gone" : ""));
            FlowRun run(flow);
            run.h.scripted.failCallAfter(run.base + n, code.code, driverGone);
            (void)runSteps(run.h, run.mobile, flow.steps, false);
            ASSERT_TRUE(run.h.scripted.faultFired());
            const auto& put = run.h.scripted.failedPut();
            if (put && put->is(capi::Command::Alert, capi::Subcommand::Req)) {
                // Whether the alert was taken is not examined: the call goes on.
                EXPECT_TRUE(run.h.errorLogText().empty());
                EXPECT_LINE_SETTLED(run.h);
            } else if (driverGone) {
                expectEnded(run);
            } else {
                expectRecovered(run, flow, code);
            }
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << run.h.traceText(40);
                return;
            }
            ++runs;
        }
    }
    RecordProperty("runs", static_cast<int>(runs));
}

// The call log's folder removed during a call: the call goes on and ends
// normally; the next call is served too.
TEST(FaultInjection, LogFolderRemovedDuringACall) {
    EngineHarness h(
        HarnessOptions{.settings = {}, .mobileNumber = "01711234567", .logging = false});
    auto folder = h.appDir / "logs";
    std::filesystem::create_directory(folder);
    auto& settings = h.engine.settings();
    settings.logEnabled = true;
    settings.logFilePath = (folder / "Handy.log").string();
    settings.logFileName = "Handy.log";
    auto mobile = h.addParty(kMobile);
    PartyBehaviour behaviour;
    behaviour.answerAfter = 1s;
    h.addParty(kTarget, behaviour);
    h.startUp();
    h.line.callPcAt(h.now() + 500ms, mobile);
    ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
    std::filesystem::remove_all(folder);
    h.line.pressKeysNow(mobile, "0301234567#");
    ASSERT_TRUE(reachPhase(h, CallPhase::Relaying));
    h.runFor(3s);
    h.line.hangUpNow(mobile);
    h.runFor(2s);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_FALSE(h.shell.ended);
    EXPECT_EQ(h.shell.trays.back(), kReady);
    EXPECT_LINE_SETTLED(h);

    h.line.callPcNow(mobile);
    ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
    h.line.hangUpNow(mobile);
    h.runFor(2s);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_LINE_SETTLED(h);
}

// A missing prompt file is silence; the caller can still dial and talk.
TEST(FaultInjection, MissingPromptIsSilence) {
    FlowRun c(kFlows[0]);
    std::filesystem::remove(c.h.appDir / "welcome.pdt");
    ASSERT_TRUE(runSteps(c.h, c.mobile, "call; wait 3000; keys 0301234567#; phase 10", true));
    auto prompts = promptNames(heardPrompts(c.h, c.mobile));
    for (const auto& prompt : prompts) {
        EXPECT_EQ(prompt.find("welcome.pdt"), std::string::npos) << prompt;
    }
    ASSERT_TRUE(runSteps(c.h, c.mobile, "hangup", true));
    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_TRUE(c.h.errorLogText().empty());
    EXPECT_LINE_SETTLED(c.h);
    EXPECT_TRUE(c.h.line.accounting().idle());
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Saving the phone book where it cannot be written fails and leaves the old
// file as it was, with no temporary file beside it; a call in progress is
// not disturbed. (A write limit stands in for a full or read-only disk,
// which folder permissions cannot make for root.)
TEST(FaultInjection, PhoneBookThatCannotBeSavedLeavesTheOldFile) {
    FlowRun c(kFlows[2]);  // with a phone book
    const auto file = c.h.appDir / data::kCallDirFileName;
    const std::string before = fileText(file);
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(runSteps(c.h, c.mobile, "call; phase 5; keys 0301234567#; phase 10", true));

    data::PhoneBook book;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(book.append({std::to_string(10 + i), "0301234567", "Eintrag"}));
    }
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    data::FileResult saved = data::SaveCallDir(c.h.appDir, book);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved.ok);

    if (geteuid() != 0) {
        std::filesystem::permissions(c.h.appDir, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        EXPECT_FALSE(data::SaveCallDir(c.h.appDir, book).ok);
        std::filesystem::permissions(c.h.appDir, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    EXPECT_EQ(fileText(file), before);
    for (const auto& entry : std::filesystem::directory_iterator(c.h.appDir)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }

    EXPECT_EQ(c.h.phase(), CallPhase::Relaying);
    ASSERT_TRUE(runSteps(c.h, c.mobile, "hangup", true));
    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_LINE_SETTLED(c.h);
}

}  // namespace
}  // namespace tellmaro::test
