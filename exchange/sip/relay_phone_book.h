#pragma once
// The relay's phone book as tellmaro-sip reads it at each dial: in the data
// folder the relay uses (data::locateDataFolder, with tellmaro-sip's program
// folder, which is the relay's), read without changing a byte. The relay owns
// those files: tellmaro-sip never creates, repairs or sets one aside.

#include <filesystem>

#include "exchange/sip/number_end_policy.h"
#include "exchange/sip/sip_line.h"

namespace tellmaro::sip {

// A phone book that cannot be read counts as empty; `log` hears why, once
// until the reason changes.
PhoneBookReader relayPhoneBook(std::filesystem::path programDir, std::filesystem::path configHome,
                               LogSink log);

}  // namespace tellmaro::sip
