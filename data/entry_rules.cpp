#include "data/entry_rules.h"

#include <algorithm>

#include "data/call_dir_file.h"
#include "data/text_rules.h"
#include "data/windows1252.h"

namespace tellmaro::data {

namespace {

constexpr size_t kMaxCodeLength = 20;
constexpr size_t kMaxNumberLength = 20;
constexpr size_t kRecordOverhead = 6;  // the three length fields of a record

bool codeIsTaken(const PhoneBook& book, std::string_view code, int16_t editIndex) {
    for (int16_t i = 1; i <= book.callDirCount(); ++i) {
        if (i != editIndex && book.callDir()[static_cast<size_t>(i)].shortdial == code) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::variant<CallDirEntry, EntryRefusal> checkEntry(const PhoneBook& book, std::string_view code,
                                                    std::string_view number,
                                                    std::string_view comment, int16_t editIndex) {
    auto refuse = [](EntryField field, std::string message) {
        return EntryRefusal{field, std::move(message)};
    };
    if (code.empty()) {
        return refuse(EntryField::code, "Bitte geben Sie mindestens ein Kurzwahlzeichen ein!");
    }
    // Bytes, not characters: anything beyond ASCII fails here first.
    if (!allDigits(code)) {
        return refuse(EntryField::code, "Bitte geben Sie nur Ziffern als Kurzwahl ein!");
    }
    if (code.size() > kMaxCodeLength) {
        return refuse(EntryField::code, "Bitte geben Sie nicht mehr als 20 Kurzwahlziffern ein!");
    }
    if (codeIsTaken(book, code, editIndex)) {
        return refuse(EntryField::code, "Die eingegebene Kurzwahl existiert bereits!");
    }
    if (number.empty()) {
        return refuse(EntryField::number,
                      "Bitte geben Sie die mit der Kurzwahl verbundene Rufnummer ein");
    }
    if (!std::all_of(number.begin(), number.end(), isDialChar)) {
        return refuse(EntryField::number,
                      "Bitte geben Sie nur Ziffern, * und # als Rufnummer ein!");
    }
    if (number.size() > kMaxNumberLength) {
        return refuse(EntryField::number,
                      "Bitte geben Sie nicht mehr als 20 Zeichen als Telefonnummer ein!");
    }
    // The comment is free, but it is stored as Windows-1252 and the whole
    // entry must fit its 128-byte record.
    const Utf8ToWindows1252Result stored = utf8ToWindows1252(comment);
    if (!stored.ok()) {
        return refuse(EntryField::comment,
                      "Die Bemerkung enthält Zeichen, die nicht gespeichert werden können!");
    }
    const size_t room = kCallDirRecordSize - kRecordOverhead - code.size() - number.size();
    if (stored.text->size() > room) {
        return refuse(EntryField::comment, "Bitte geben Sie nicht mehr als " +
                                               std::to_string(room) +
                                               " Zeichen als Bemerkung ein!");
    }
    return CallDirEntry{std::string(code), std::string(number), *stored.text};
}

}  // namespace tellmaro::data
