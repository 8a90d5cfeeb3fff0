// "phonebook": the speed-dial phone book as the phone book window shows it,
// and its entries added, changed and removed with the entry dialog's checks.
#include <optional>

#include "data/call_dir_file.h"
#include "data/entry_rules.h"
#include "data/windows1252.h"
#include "shell/console_commands.h"

namespace tellmaro::shell {

namespace {

constexpr const char* kUsage =
    "Aufruf: tellmaro-console phonebook [add KURZWAHL NUMMER [BEMERKUNG] | change KURZWAHL "
    "NEUE-KURZWAHL NUMMER [BEMERKUNG] | remove KURZWAHL]";

int16_t indexOf(const data::PhoneBook& book, const std::string& code) {
    for (int16_t i = 1; i <= book.callDirCount(); ++i) {
        if (book.callDir()[static_cast<size_t>(i)].shortdial == code) {
            return i;
        }
    }
    return 0;
}

void list(const data::PhoneBook& book, const CommandOutput& io) {
    std::fprintf(io.out, "%-20s  %-20s  %s\n", "Kurzwahl", "Nummer", "Bemerkung");
    for (int16_t i = 1; i <= book.callDirCount(); ++i) {
        const auto& entry = book.callDir()[static_cast<size_t>(i)];
        std::fprintf(io.out, "%-20s  %-20s  %s\n", entry.shortdial.c_str(), entry.number.c_str(),
                     data::windows1252ToUtf8(entry.comment).c_str());
    }
}

}  // namespace

int phoneBookCommand(const DataFolder& folder, const std::vector<std::string>& args,
                     const CommandOutput& io) {
    // Listing reads only: a damaged file stays where it is, for the relay or
    // a change to set aside.
    if (args.empty()) {
        const auto read = data::readCallDir(folder.path);
        if (!read.error.empty()) {
            tell(io, "Das Telefonbuch konnte nicht gelesen werden! (" + read.error + ")");
            return kCommandFileError;
        }
        list(read.phoneBook, io);
        return kCommandDone;
    }
    auto loaded = data::LoadCallDir(folder.path);
    if (loaded.setAside) {
        tell(io, data::setAsideMessage(*loaded.setAside));
    }
    if (!loaded.error.empty()) {
        tell(io, "Das Telefonbuch konnte nicht gelesen werden! (" + loaded.error + ")");
        return kCommandFileError;
    }
    data::PhoneBook book = std::move(loaded.phoneBook);
    const std::string verb = args.empty() ? "list" : args[0];
    if (verb == "list" && args.size() <= 1) {
        list(book, io);
        return kCommandDone;
    }
    // add: code number [comment]; change: old code, then as add; remove: code.
    const size_t first = verb == "change" ? 2 : 1;
    const bool known = verb == "add" || verb == "change" || verb == "remove";
    const size_t needed = verb == "remove" ? 2 : first + 2;
    if (!known || args.size() < needed || args.size() > (verb == "remove" ? 2 : needed + 1)) {
        tell(io, kUsage);
        return kCommandRefused;
    }
    int16_t index = 0;
    if (verb != "add") {
        index = indexOf(book, args[1]);
        if (index == 0) {
            tell(io, "Die Kurzwahl " + args[1] + " gibt es im Telefonbuch nicht.");
            return kCommandRefused;
        }
    }
    bool changed = false;
    if (verb == "remove") {
        changed = book.remove(index);
    } else {
        const std::string comment = args.size() > first + 2 ? args[first + 2] : "";
        auto checked = data::checkEntry(book, args[first], args[first + 1], comment, index);
        if (auto* refusal = std::get_if<data::EntryRefusal>(&checked)) {
            tell(io, refusal->message);
            return kCommandRefused;
        }
        auto entry = std::get<data::CallDirEntry>(std::move(checked));
        changed = verb == "add" ? book.append(std::move(entry)) : book.replace(index, entry);
        if (!changed) {
            tell(io, "Das Telefonbuch ist voll!");
            return kCommandRefused;
        }
    }
    const data::FileResult saved = data::SaveCallDir(folder.path, book);
    if (!saved.ok) {
        tell(io, "Das Telefonbuch konnte nicht gespeichert werden! (" + saved.error + ")");
        return kCommandFileError;
    }
    list(book, io);
    return kCommandDone;
}

}  // namespace tellmaro::shell
