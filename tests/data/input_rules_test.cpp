// Typed input as dialogs and console check it: each rule's message, its field, what is stored.
#include <gtest/gtest.h>

#include "data/entry_rules.h"
#include "data/settings_rules.h"

namespace tellmaro::data {
namespace {

NumberEntries typed(std::string own, std::string mobile, std::string chars = "",
                    bool automatic = false, std::string digits = "") {
    return {std::move(own), std::move(mobile), std::move(chars), automatic, std::move(digits)};
}

// "field: message" for a refusal, else what is stored over line access "5", off, above 3 digits.
std::string settingsOutcome(const NumberEntries& entries) {
    SettingsRecord settings;
    settings.lineAccessChars = "5";
    settings.lineAccessDigits = 3;
    if (auto refusal = applyNumberEntries(entries, settings)) {
        const char* const fields[] = {"own", "mobile", "chars", "digits"};
        return fields[static_cast<int>(refusal->field)] + (": " + refusal->message);
    }
    return settings.ownNumber + "/" + std::to_string(settings.ownNumberLength) + " " +
           settings.lineAccessChars + (settings.lineAccessEnabled ? " on " : " off ") +
           std::to_string(settings.lineAccessDigits);
}

TEST(SettingsRules, EachRefusalNamesItsFieldAndWhatPassesIsStored) {
    const std::string own = "07110000000000000000/4 ";
    const std::string lineChars =
        "chars: Bitte geben sie nur Zahlen oder * und # als Zeichen für die Amtsholung ein!";
    // A refusal names the first field in the dialog's order that is wrong.
    const std::pair<NumberEntries, std::string> rows[] = {
        {typed("", "+", ",", true, ""), "own: Bitte geben Sie die Rufnummer des Computers ein!"},
        {typed("0711 5", "+", ",", true, ""),
         "own: Bitte geben Sie nur Ziffern als Rufnummer ein!"},
        {typed(std::string(256, '1'), "0171"),
         "own: Bitte geben Sie nur Ziffern als Rufnummer ein!"},
        {typed("0711", "", ",", true, ""), "mobile: Bitte geben Sie die Rufnummer des Handys ein!"},
        {typed("0711", "000"), "mobile: Bitte geben Sie die Rufnummer des Handys ein!"},
        {typed("0711", "+49171", ",", true, ""),
         "mobile: Bitte geben Sie nur Ziffern als Handynummer ein!"},
        {typed("0711", "0171", "0,", true, ""), lineChars},
        {typed("0711", "0171", std::string(256, '0')), lineChars},
        {typed("0711", "0171", "0", true, ""),
         "digits: Bitte geben Sie ein, bis wieviel Zeichen keine automatische Amtsholung "
         "erfolgen soll!"},
        {typed("0711", "0171", "0", true, "1a"),
         "digits: Bitte geben Sie nur Zahlen in das Feld 'Anzahl der Zeichen für automatische "
         "Amtsholung' ein!"},
        {typed("0711", "0171", "0", true, "123"),
         "digits: Bitte geben Sie höchstens zwei Ziffern in das Feld 'Anzahl der Zeichen für "
         "automatische Amtsholung' ein!"},
        {typed("0711", "0171", "0*#", true, "12"), own + "0*# on 12"},
        // The first 20 digits are stored, and how many were typed.
        {typed("0123456789012345678901234", "0171"), "01234567890123456789/25  off 3"},
        {typed(std::string(255, '1'), "0171", std::string(255, '#')),
         std::string(20, '1') + "/255 " + std::string(255, '#') + " off 3"},
        // Cleared characters leave the switch as it was; the count is still stored.
        {typed("0711", "0171", "", true, "7"), own + " off 7"},
        // Unticked, the count is not looked at.
        {typed("0711", "0171", "9", false, "x"), own + "9 off 3"},
    };
    for (const auto& [entries, outcome] : rows) {
        EXPECT_EQ(settingsOutcome(entries), outcome)
            << entries.ownNumber << " " << entries.mobileNumber << " " << entries.lineAccessChars;
    }
    // What passed before a refusal stays stored, as the dialog shows it until "Abbrechen".
    SettingsRecord settings;
    EXPECT_TRUE(applyNumberEntries(typed("0711", ""), settings));
    EXPECT_EQ(settings.ownNumberLength, 4);
}

// "field: message" for a refusal, else the entry stored in a book of 11 and 22 (edit 1: 11).
std::string entryOutcome(int16_t editIndex, const std::string& code, const std::string& number,
                         const std::string& comment = "") {
    PhoneBook book;
    (void)book.append({"11", "111", "eins"});
    (void)book.append({"22", "222", ""});
    auto checked = checkEntry(book, code, number, comment, editIndex);
    if (const auto* refusal = std::get_if<EntryRefusal>(&checked)) {
        const char* const fields[] = {"code", "number", "comment"};
        return fields[static_cast<int>(refusal->field)] + (": " + refusal->message);
    }
    const auto& entry = std::get<CallDirEntry>(checked);
    return entry.shortdial + "|" + entry.number + "|" + entry.comment;
}

TEST(EntryRules, EachRefusalNamesItsFieldAndWhatPassesIsStored) {
    const std::string digits20 = "12345678901234567890";
    const std::string onlyDigits = "code: Bitte geben Sie nur Ziffern als Kurzwahl ein!";
    const std::string taken = "code: Die eingegebene Kurzwahl existiert bereits!";
    const std::string dialChars = "number: Bitte geben Sie nur Ziffern, * und # als Rufnummer ein!";
    std::string umlauts;
    for (int i = 0; i < 82; ++i) {
        umlauts += "ü";
    }
    EXPECT_EQ(entryOutcome(0, "", ""), "code: Bitte geben Sie mindestens ein Kurzwahlzeichen ein!");
    EXPECT_EQ(entryOutcome(0, "12a", "5"), onlyDigits);
    EXPECT_EQ(entryOutcome(0, " 12", "5"), onlyDigits);           // not trimmed
    EXPECT_EQ(entryOutcome(0, "1\u0663", "5"), onlyDigits);       // a digit of another script
    EXPECT_EQ(entryOutcome(0, digits20 + "x", "5"), onlyDigits);  // before the length
    EXPECT_EQ(entryOutcome(0, digits20 + "1", "5"),
              "code: Bitte geben Sie nicht mehr als 20 Kurzwahlziffern ein!");
    EXPECT_EQ(entryOutcome(0, "22", "5"), taken);
    EXPECT_EQ(entryOutcome(1, "22", "5"), taken);
    EXPECT_EQ(entryOutcome(0, "2", "5"), "2|5|");    // a prefix of a code is another code
    EXPECT_EQ(entryOutcome(1, "11", "5"), "11|5|");  // a changed entry keeps its own code
    EXPECT_EQ(entryOutcome(0, "33", ""),
              "number: Bitte geben Sie die mit der Kurzwahl verbundene Rufnummer ein");
    EXPECT_EQ(entryOutcome(0, "33", "12 34"), dialChars);
    EXPECT_EQ(entryOutcome(0, "33", "+4930"), dialChars);
    EXPECT_EQ(entryOutcome(0, "33", "*" + digits20),
              "number: Bitte geben Sie nicht mehr als 20 Zeichen als Telefonnummer ein!");
    EXPECT_EQ(entryOutcome(0, "33", "*31#0815", "\u00c4rztin"), "33|*31#0815|\xc4rztin");
    // Code, number and comment at their limits fill the 128-byte record.
    EXPECT_EQ(entryOutcome(0, digits20, "#" + digits20.substr(1), umlauts),
              digits20 + "|#" + digits20.substr(1) + "|" + std::string(82, '\xfc'));
    EXPECT_EQ(entryOutcome(0, digits20, digits20, std::string(83, 'x')),
              "comment: Bitte geben Sie nicht mehr als 82 Zeichen als Bemerkung ein!");
    EXPECT_EQ(entryOutcome(0, "3", "4", std::string(121, 'x')),
              "comment: Bitte geben Sie nicht mehr als 120 Zeichen als Bemerkung ein!");
    EXPECT_EQ(entryOutcome(0, "33", "4", "Haken \u2713"),
              "comment: Die Bemerkung enthält Zeichen, die nicht gespeichert werden können!");
}

}  // namespace
}  // namespace tellmaro::data
