#pragma once
// The checks of a phone book entry, in the order the entry dialog makes
// them, with its messages: shared by the dialog and the command line.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "data/call_dir.h"

namespace tellmaro::data {

enum class EntryField { code, number, comment };

struct EntryRefusal {
    EntryField field;     // where the user has to correct it
    std::string message;  // German, UTF-8
};

// The code, the number and the comment as typed (UTF-8); `editIndex` is the
// entry being changed (1..N), or 0 for a new one, which is then not compared
// with itself. The entry as stored (Windows-1252), or why it is refused.
std::variant<CallDirEntry, EntryRefusal> checkEntry(const PhoneBook& book, std::string_view code,
                                                    std::string_view number,
                                                    std::string_view comment, int16_t editIndex);

}  // namespace tellmaro::data
