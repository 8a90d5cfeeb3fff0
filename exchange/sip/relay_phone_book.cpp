#include "exchange/sip/relay_phone_book.h"

#include <memory>

#include "data/call_dir_file.h"
#include "data/data_folder.h"

namespace tellmaro::sip {

PhoneBookReader relayPhoneBook(std::filesystem::path programDir, std::filesystem::path configHome,
                               LogSink log) {
    auto lastError = std::make_shared<std::string>();
    return [programDir = std::move(programDir), configHome = std::move(configHome),
            log = std::move(log), lastError] {
        const auto folder = data::locateDataFolder(programDir, configHome);
        data::ReadCallDirResult read;
        if (!folder.path.empty()) {
            read = data::readCallDir(folder.path);
        }
        if (read.error != *lastError) {
            *lastError = read.error;
            if (log && !read.error.empty()) {
                log("the relay's phone book counts as empty: " + read.error);
            }
        }
        std::vector<SpeedDial> entries;
        for (int16_t i = 1; i <= read.phoneBook.callDirCount(); ++i) {
            const auto& entry = read.phoneBook.callDir()[static_cast<size_t>(i)];
            entries.push_back({entry.shortdial, entry.number});
        }
        return entries;
    };
}

}  // namespace tellmaro::sip
