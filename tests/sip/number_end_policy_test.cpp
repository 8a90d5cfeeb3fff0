// Where the number the relay dials ends; the relay's files found as it finds them, left alone.

#include <gtest/gtest.h>

#include "data/call_dir_file.h"
#include "data/settings_file.h"
#include "exchange/sip/relay_phone_book.h"
#include "support/child_process.h"

namespace tellmaro::sip {
namespace {

namespace fs = std::filesystem;

void writePhoneBook(const fs::path& folder, std::string_view entry) {
    data::PhoneBook book;
    const auto code = entry.substr(0, entry.find('='));
    ASSERT_TRUE(book.append({std::string(code), std::string(entry.substr(code.size() + 1)), ""}));
    ASSERT_TRUE(data::SaveCallDir(folder, book).ok);
}

// The data folder's phone book ("CODE=NUMBER", "damaged" or none), portable or not, sip.conf's
// number_lengths, the keys typed, the caller; the field up to its fill, the number dialled.
TEST(NumberEndPolicy, KeysTypedThenCallersThePhoneBookLengthRulesElseTheFillGoes) {
    using Text = const char*;
    const std::tuple<Text, bool, Text, Text, Text, Text, Text> rows[] = {
        {"", false, "", "", "", "030123456", "030123456"},  // nothing tells: its own 0 goes
        {"", false, "030:11, 0301:10", "", "", "030123456", "0301234560"},
        {"", false, "0301:10", "", "", "030123456789", "030123456789"},
        {"", false, "0301:10\nline_access = 0", "", "", "0030123456", "00301234560"},
        {"7=08912340", false, "", "0891234#", "", "0891234", "0891234"},
        {"7=08912340", false, "", "#7#", "", "0891234", "08912340"},
        {"50=0891234500", false, "", "#50#", "", "08912345", "0891234500"},
        {"", false, "", "0301234560#030123456#", "", "030123456", "030123456"},
        {"", false, "", "0301234560#0#", "", "0030123456", "00301234560"},
        {"", false, "", "", "1711234560", "0171123456", "01711234560"},
        {"42=0899990", true, "", "#42#", "", "089999", "0899990"},
        {"damaged", false, "", "", "", "089999", "089999"},
    };
    for (const auto& [book, portable, lengths, keys, caller, number, dialled] : rows) {
        const fs::path root = test::freshFolder("tellmaro-numbers-"), program = root / "bin";
        const fs::path data = portable ? program : root / "home/tellmaro";
        fs::create_directories(data);
        std::ofstream(data / data::kSettingsFileName) << "settings";
        if (std::string_view(book) == "damaged") {
            std::ofstream(data / data::kCallDirFileName) << std::string("\x05\x00 bad", 6);
        } else if (*book) {
            writePhoneBook(data, book);
        }
        const std::string conf = "registrar = r\nuser = u\npassword = p\nnumber_lengths = ";
        const auto account = parseSipAccount(conf + lengths).account.value();
        const NumberEndPolicy policy(account.numberLengths, account.lineAccess,
                                     relayPhoneBook(program, root / "home", {}));
        auto entries = [&] { return std::distance(fs::directory_iterator(data), {}); };
        const auto before = entries();
        const std::string field = (std::string(number) + std::string(20, '0')).substr(0, 20);
        EXPECT_EQ(policy.numberToDial(field, {{keys}, {caller}}), dialled) << field << " " << keys;
        EXPECT_EQ(entries(), before) << "a file was created or set aside";
        fs::remove_all(root);
    }
}

}  // namespace
}  // namespace tellmaro::sip
