// Faults injected through the in-process line at random points of a call:
// failed puts and gets, the driver gone, the log file's folder removed, a
// prompt file missing and a phone book that cannot be saved. After each the
// relay is ready for the next call (or has ended) and the line is settled.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
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

// The mobile calls and dials the called party, who answers; the call goes
// on until someone hangs up, so a fault armed at any point meets a put.
struct Call {
    Call() {
        mobile = h.addParty(kMobile);
        PartyBehaviour behaviour;
        behaviour.answerAfter = 1s;
        target = h.addParty(kTarget, behaviour);
        h.startUp();
    }
    void start() {
        h.line.callPcAt(h.now() + 500ms, mobile);
        h.line.pressKeysAt(h.now() + 3s, mobile, "0301234567#");
    }
    // A short call after the fault: the relay serves it and is ready again.
    void shortCall() {
        h.line.callPcNow(mobile);
        ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
        h.line.hangUpNow(mobile);
        h.runFor(2s);
        EXPECT_EQ(h.phase(), CallPhase::Idle);
        EXPECT_EQ(h.shell.trays.back(), kReady);
        EXPECT_LINE_SETTLED(h);
    }

    EngineHarness h;
    exchange::PartyId mobile = 0;
    exchange::PartyId target = 0;
};

// The error.log text after "CAPI-Fehler" for each code the report tells apart;
// a code without a text ends the line there.
struct Code {
    uint32_t code;
    const char* text;
};
constexpr Code kCodes[] = {
    {0x1103, "No:0x1103 The message could not be accepted because of a queue full condition"},
    {0x1108, "No:0x1108 OS rescoue error (e.g. no memory)"},
    {0x1101, "No:0x1101 Illegal application number"},
    {0x1006, ""},
};

// After a report: one error.log line for `code`, the call dropped, registered
// and listening again, nothing shown, and the next call served.
void expectRecovered(Call& c, const Code& code) {
    auto logged = lines(c.h.errorLogText());
    ASSERT_EQ(logged.size(), 1u) << c.h.errorLogText();
    ASSERT_GE(logged[0].size(), 19u);
    EXPECT_EQ(logged[0].substr(19), std::string("CAPI-Fehler") + code.text);
    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_EQ(c.h.line.accounting().applications, 1u);
    EXPECT_TRUE(c.h.shell.messages.empty());
    EXPECT_FALSE(c.h.shell.ended);
    EXPECT_LINE_SETTLED(c.h);
    EXPECT_TRUE(c.h.line.accounting().idle());
    c.shortCall();
}

// A failed put at random points of a call: puts let through counted from the
// call's start (`fromRelaying` false) or from the start of the relayed
// conversation.
void failPutsAtRandomPoints(bool fromRelaying, uint32_t seed) {
    std::mt19937 random(seed);
    for (const Code& code : kCodes) {
        for (int point = 0; point < 4; ++point) {
            // Let this many puts through, then fail the next one.
            size_t through = std::uniform_int_distribution<size_t>(1, 60)(random);
            SCOPED_TRACE(::testing::Message() << std::hex << "code 0x" << code.code << std::dec
                                              << " after " << through << " puts");
            Call c;
            c.start();
            if (fromRelaying) {
                ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
            }
            size_t base = c.h.sentMessages().size();
            ASSERT_TRUE(
                c.h.runUntil([&] { return c.h.sentMessages().size() >= base + through; }, 30s));
            c.h.line.controller().failNextPut(code.code);
            c.h.runFor(2s);
            expectRecovered(c, code);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << c.h.traceText(30);
                return;
            }
        }
    }
}

TEST(FaultInjection, FailedPutAtRandomPointsOfTheConversation) {
    failPutsAtRandomPoints(true, 20011203);
}

// From the first ring on: a handler whose put failed sends nothing more,
// since its addresses belong to the released application.
TEST(FaultInjection, FailedPutAtRandomPointsOfTheWholeCall) {
    failPutsAtRandomPoints(false, 20011203);
}

TEST(FaultInjection, FailedGetAtRandomPointsOfACall) {
    std::mt19937 random(7);
    for (int point = 0; point < 6; ++point) {
        auto after = milliseconds(std::uniform_int_distribution<int>(200, 9000)(random));
        SCOPED_TRACE(::testing::Message() << "get fails after " << after.count() << " ms");
        Call c;
        c.start();
        c.h.runFor(after);
        c.h.line.controller().failNextGet(0x1101);
        c.h.runFor(2s);
        expectRecovered(c, kCodes[2]);
    }
}

// The driver gone: re-registration fails with 0x1009, the message is shown
// once and the program ends, with nothing left open on the line.
TEST(FaultInjection, DriverGoneEndsTheProgramDuringTheConversation) {
    std::mt19937 random(11);
    for (int point = 0; point < 4; ++point) {
        size_t through = std::uniform_int_distribution<size_t>(1, 60)(random);
        SCOPED_TRACE(::testing::Message() << "after " << through << " puts");
        Call c;
        c.start();
        ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
        size_t base = c.h.sentMessages().size();
        ASSERT_TRUE(c.h.runUntil([&] { return c.h.sentMessages().size() >= base + through; }, 30s));
        c.h.line.controller().setDriverPresent(false);
        c.h.line.controller().failNextPut(0x1108);
        c.h.runFor(2s);

        ASSERT_EQ(c.h.shell.messages.size(), 1u);
        EXPECT_EQ(c.h.shell.messages[0].text,
                  "Die Treiberdatei 'capi2032.dll' ihrer ISDN-Karte ist nicht richtig "
                  "installiert!");
        EXPECT_TRUE(c.h.shell.ended);
        EXPECT_EQ(c.h.line.accounting().applications, 0u);
        EXPECT_EQ(lines(c.h.errorLogText()).size(), 1u);
        EXPECT_LINE_SETTLED(c.h);
        EXPECT_TRUE(c.h.line.accounting().idle());
    }
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
    Call c;
    std::filesystem::remove(c.h.appDir / "welcome.pdt");
    c.start();
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
    auto prompts = promptNames(heardPrompts(c.h, c.mobile));
    for (const auto& prompt : prompts) {
        EXPECT_EQ(prompt.find("welcome.pdt"), std::string::npos) << prompt;
    }
    c.h.runFor(2s);
    c.h.line.hangUpNow(c.mobile);
    c.h.runFor(2s);
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
    Call c;
    writePhoneBook(c.h, {{"42", kTarget}});
    const auto file = c.h.appDir / data::kCallDirFileName;
    const std::string before = fileText(file);
    ASSERT_FALSE(before.empty());
    c.start();
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));

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

    c.h.runFor(2s);
    EXPECT_EQ(c.h.phase(), CallPhase::Relaying);
    c.h.line.hangUpNow(c.mobile);
    c.h.runFor(2s);
    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_LINE_SETTLED(c.h);
}

}  // namespace
}  // namespace tellmaro::test
