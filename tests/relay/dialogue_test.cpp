// The dialling dialogue and the prompts the mobile caller hears: numbers,
// speed-dial codes, the line-access prefix, a full number field, the cancel
// key at number entry, the greeting and the read-back of the number.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "flow_checks.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using relay::CallPhase;
using Names = std::vector<std::string>;

// Call from the mobile with `keys`, run `duration`, then hang up the mobile.
struct Dialogue {
    explicit Dialogue(HarnessOptions options = {}) : h(std::move(options)) {}

    void call(std::vector<exchange::KeyPress> keys, milliseconds duration) {
        PartyBehaviour behaviour;
        behaviour.keys = std::move(keys);
        mobile = h.addParty(kMobile, behaviour);
        h.startUp();
        h.line.callPcAt(h.now() + 1s, mobile);
        h.runFor(duration);
    }
    void hangUp() {
        h.line.hangUpNow(mobile);
        h.runFor(2s);
        EXPECT_EQ(h.phase(), CallPhase::Idle);
        EXPECT_LINE_SETTLED(h);
    }
    Names prompts() const { return promptNames(heardPrompts(h, mobile)); }

    EngineHarness h;
    exchange::PartyId mobile = 0;
};

std::string dialledLines(const EngineHarness& h) {
    std::string lines;
    std::string log = h.callLogText();
    for (size_t at = log.find("   Gewählte"); at != std::string::npos;
         at = log.find("   Gewählte", at + 1)) {
        lines += log.substr(at, log.find("\r\n", at) - at) + "\n";
    }
    return lines;
}

// The confirm key alone switches to code entry: the greeting stops at once
// and "dir.pdt" plays until the code is confirmed and looked up. The code's
// number is dialled, and read back after the prompt that was playing.
TEST(Dialogue, SpeedDialCodeFoundIsDialledAndReadBack) {
    Dialogue d;
    writePhoneBook(d.h, {{"4", "0899"}, {"42", kTarget}});
    PartyBehaviour target;
    target.answerAfter = 20s;
    d.h.addParty(kTarget, target);
    d.call({{1s, "#"}, {3s, "42#"}}, 26s);

    EXPECT_EQ(d.h.phase(), CallPhase::Relaying);
    EXPECT_EQ(dialledNumbers(d.h), Names{"03012345670000000000"});
    EXPECT_EQ(dialledLines(d.h), "   Gewählte Nummer     : 0301234567\n");
    auto prompts = heardPrompts(d.h, d.mobile);
    EXPECT_EQ(promptNames(prompts), (Names{"welcome.pdt (cut)", "dir.pdt", "waehle.pdt", "0.pdt",
                                           "3.pdt", "0.pdt", "1.pdt", "2.pdt", "3.pdt", "4.pdt",
                                           "5.pdt", "6.pdt", "7.pdt", "waehle.pdt", "0.pdt"}));
    // One silent block between prompts that end, none where one is cut.
    EXPECT_EQ(silentBlocksBetween(prompts),
              (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    d.hangUp();
}

// An unknown code plays "nichtvorhanden.pdt", then the greeting from its
// start; the next key begins a new number.
TEST(Dialogue, SpeedDialCodeNotFoundLetsTheCallerStartAgain) {
    Dialogue d;
    writePhoneBook(d.h, {{"42", kTarget}});
    d.h.addParty(kTarget);
    d.call({{1s, "#"}, {2s, "99#"}, {8s, "0301234567#"}}, 7s);

    EXPECT_EQ(d.h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(d.h.engine.state().dialledDigitPos, 1);
    EXPECT_FALSE(d.h.engine.state().speedDialMode);
    auto prompts = heardPrompts(d.h, d.mobile);
    EXPECT_EQ(promptNames(prompts), (Names{"welcome.pdt (cut)", "dir.pdt (cut)",
                                           "nichtvorhanden.pdt", "welcome.pdt (cut)"}));
    EXPECT_EQ(silentBlocksBetween(prompts), (std::vector<int>{0, 0, 1}));

    d.h.runFor(5s);
    EXPECT_EQ(d.h.phase(), CallPhase::Relaying);
    EXPECT_EQ(dialledNumbers(d.h), Names{"03012345670000000000"});
    d.hangUp();
}

// The cancel key at number entry throws the keys away and plays
// "abbruch.pdt"; the greeting then starts again from its beginning.
TEST(Dialogue, CancelAtNumberEntryClearsTheNumber) {
    Dialogue d;
    d.h.addParty(kTarget);
    d.call({{1s, "0301*"}, {7s, "0301234567#"}}, 6s);

    EXPECT_EQ(d.h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(d.h.engine.state().dialledDigitPos, 1);
    auto prompts = heardPrompts(d.h, d.mobile);
    EXPECT_EQ(promptNames(prompts),
              (Names{"welcome.pdt (cut)", "abbruch.pdt", "welcome.pdt (cut)"}));
    EXPECT_EQ(silentBlocksBetween(prompts), (std::vector<int>{0, 1}));

    d.h.runFor(5s);
    EXPECT_EQ(dialledNumbers(d.h), Names{"03012345670000000000"});
    EXPECT_EQ(dialledLines(d.h), "   Gewählte Nummer     : 0301234567\n");
    d.hangUp();
}

// With nothing keyed in, the greeting repeats with one silent block between.
TEST(Dialogue, GreetingRepeatsWhileNothingIsKeyed) {
    Dialogue d;
    d.call({}, 26s);
    auto prompts = heardPrompts(d.h, d.mobile);
    EXPECT_EQ(promptNames(prompts), (Names{"welcome.pdt", "welcome.pdt", "welcome.pdt (cut)"}));
    EXPECT_EQ(silentBlocksBetween(prompts), (std::vector<int>{1, 1}));
    d.hangUp();
}

// Only the last character of an indication counts as a key: a confirm key
// before other characters stays in the number, and is dialled.
TEST(Dialogue, OnlyTheLastKeyOfAnIndicationCounts) {
    Dialogue d;
    d.h.addParty("#12");
    d.call({{1s, "#12"}}, 3s);
    EXPECT_EQ(d.h.phase(), CallPhase::Dialogue);
    EXPECT_FALSE(d.h.engine.state().speedDialMode);

    d.h.line.pressKeysNow(d.mobile, "#");
    d.h.runFor(5s);
    EXPECT_EQ(dialledNumbers(d.h), Names{"#1200000000000000000"});
    EXPECT_EQ(dialledLines(d.h), "   Gewählte Nummer     : #12\n");
    d.hangUp();
}

// Numbers longer than the threshold get the line-access prefix, which is
// dialled, logged and read back; shorter ones go out as keyed.
TEST(Dialogue, LineAccessPrefixForLongNumbers) {
    HarnessOptions options;
    options.settings.lineAccessEnabled = true;
    options.settings.lineAccessDigits = 4;
    options.settings.lineAccessChars = "0";
    Dialogue d(options);
    std::filesystem::remove(d.h.appDir / "welcome.pdt");  // so the read-back starts at once
    PartyBehaviour shortNumber;
    shortNumber.answerAfter = 1s;
    shortNumber.hangUpAfter = 2s;
    d.h.addParty("1234", shortNumber);
    PartyBehaviour longNumber;
    longNumber.answerAfter = 10s;
    d.h.addParty("012345", longNumber);
    d.call({{1s, "1234#"}, {8s, "12345#"}}, 18s);

    EXPECT_EQ(dialledNumbers(d.h), (Names{"12340000000000000000", "01234500000000000000"}));
    EXPECT_EQ(dialledLines(d.h),
              "   Gewählte Nummer     : 1234\n"
              "   Gewählte Nummer     : 012345\n");
    auto prompts = promptNames(heardPrompts(d.h, d.mobile));
    Names secondEcho(prompts.end() - 7, prompts.end());
    EXPECT_EQ(secondEcho,
              (Names{"waehle.pdt", "0.pdt", "1.pdt", "2.pdt", "3.pdt", "4.pdt", "5.pdt"}));
    d.hangUp();
}

// From the 23rd key on each key overwrites the last position, so the
// confirm key still works; 20 characters are dialled, logged and read back.
TEST(Dialogue, MoreKeysThanTheFieldHolds) {
    Dialogue d;
    std::filesystem::remove(d.h.appDir / "welcome.pdt");
    PartyBehaviour target;
    target.answerAfter = 40s;
    d.h.addParty("123456789", target);
    d.call({{1s, "1234567890123456789012345"}, {2s, "#"}}, 33s);

    EXPECT_EQ(d.h.phase(), CallPhase::DialConfirmed);
    EXPECT_EQ(dialledNumbers(d.h), Names{"12345678901234567890"});
    EXPECT_EQ(dialledLines(d.h), "   Gewählte Nummer     : 12345678901234567890\n");
    auto prompts = promptNames(heardPrompts(d.h, d.mobile));
    ASSERT_GE(prompts.size(), 22u);
    Names cycle(prompts.begin(), prompts.begin() + 22);
    EXPECT_EQ(cycle, (Names{"waehle.pdt", "1.pdt", "2.pdt", "3.pdt",     "4.pdt", "5.pdt",
                            "6.pdt",      "7.pdt", "8.pdt", "9.pdt",     "0.pdt", "1.pdt",
                            "2.pdt",      "3.pdt", "4.pdt", "5.pdt",     "6.pdt", "7.pdt",
                            "8.pdt",      "9.pdt", "0.pdt", "waehle.pdt"}));
    d.hangUp();
}

// DTMF letters are dialled like digits but have no prompt of their own.
TEST(Dialogue, LettersAreDialledButNotReadBack) {
    Dialogue d;
    std::filesystem::remove(d.h.appDir / "welcome.pdt");
    PartyBehaviour target;
    target.answerAfter = 10s;
    d.h.addParty("12A3", target);
    d.call({{1s, "12A3#"}}, 8s);

    EXPECT_EQ(dialledNumbers(d.h), Names{"12A30000000000000000"});
    auto prompts = promptNames(heardPrompts(d.h, d.mobile));
    ASSERT_GE(prompts.size(), 5u);
    EXPECT_EQ(Names(prompts.begin(), prompts.begin() + 4),
              (Names{"waehle.pdt", "1.pdt", "2.pdt", "3.pdt"}));
    EXPECT_TRUE(prompts[4].starts_with("waehle.pdt")) << prompts[4];
    d.hangUp();
}

// A prompt file that is missing counts as ended at once: nothing is played,
// every block is still answered, and the dialogue goes on.
TEST(Dialogue, MissingGreetingIsSilence) {
    Dialogue d;
    std::filesystem::remove(d.h.appDir / "welcome.pdt");
    d.call({}, 5s);
    EXPECT_EQ(d.h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(countSent(d.h, "DATA_B3_REQ"), 0u);
    EXPECT_EQ(countSent(d.h, "DATA_B3_RESP"), d.h.line.partyRecord(d.mobile).blocksSent);
    EXPECT_EQ(d.h.line.accounting().unansweredDataB3Inds, 0u);
    d.hangUp();
}

}  // namespace
}  // namespace tellmaro::test
