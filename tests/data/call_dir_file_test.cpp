#include "data/call_dir_file.h"

#include <gtest/gtest.h>

#include "data_test_files.h"
#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::concat;
using test::contains;
using test::fileBytes;
using test::hexBytes;

// One 128-byte record: the given bytes, then zero filler.
std::vector<uint8_t> record(std::vector<uint8_t> data) {
    data.resize(128, 0);
    return data;
}

const std::vector<uint8_t> kEmptyBook = concat({record(hexBytes("00 00")), record({})});

const std::vector<uint8_t> kOneEntry = concat({
    record(hexBytes("01 00")),
    record(hexBytes("00 00 00 00 00 00")),
    record(hexBytes("01 00 31 06 00 31 32 33 34 35 36 00 00")),
});

PhoneBook bookOf(CallDirEntry placeholder, std::initializer_list<CallDirEntry> entries) {
    PhoneBook book(std::move(placeholder));
    for (const auto& entry : entries) {
        (void)book.append(entry);
    }
    return book;
}

const PhoneBook kOneEntryBook = bookOf({}, {{"1", "123456", ""}});

TEST(CallDirCodec, BooksMatchTheirBytesBothWays) {
    for (const auto& [book, bytes] :
         {std::pair{PhoneBook{}, kEmptyBook}, std::pair{kOneEntryBook, kOneEntry}}) {
        const auto encoded = encodeCallDir(book);
        ASSERT_TRUE(encoded.ok) << encoded.error;
        EXPECT_BYTES_EQ(bytes, encoded.bytes);
        EXPECT_EQ(book, decodeCallDir(bytes).phoneBook);
    }
    EXPECT_EQ(kOneEntryBook, decodeCallDir(std::span(kOneEntry).first(2 * 128 + 13)).phoneBook);
}

TEST(CallDirCodec, AnEntryMayFillItsRecordButIsNeverCut) {
    PhoneBook book = bookOf(
        {}, {{"1", "2", ""}, {std::string(20, '1'), std::string(20, '#'), std::string(82, 'x')}});
    const auto encoded = encodeCallDir(book);
    ASSERT_TRUE(encoded.ok) << encoded.error;
    ASSERT_EQ(4u * 128, encoded.bytes.size());
    EXPECT_EQ('x', encoded.bytes.back());  // the comment's last byte, no filler
    EXPECT_EQ(book, decodeCallDir(encoded.bytes).phoneBook);
}

TEST(CallDirCodec, RejectsFilesThatDoNotAddUp) {
    auto overrunsRecord = concat({kOneEntry, record(hexBytes("00 00 00 00 00 00"))});
    overrunsRecord[0] = 2;
    overrunsRecord[2 * 128 + 3] = 0x7F;  // entry 1's number reaches into record 4

    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        {hexBytes("00"), "zu kurz"},
        {hexBytes("00 00"), "braucht 2 Datensätze"},
        {concat({record(hexBytes("FF FF")), record({})}), "negativ"},
        {std::vector(kOneEntry.begin(), kOneEntry.begin() + 256), "braucht 3 Datensätze"},
        // The last record may stop right after its data, not before.
        {std::vector(kOneEntry.begin(), kOneEntry.begin() + 2 * 128 + 12),
         "Bemerkung an Byte 11 reicht über das Dateiende hinaus"},
        {concat({kEmptyBook, record({})}), "braucht 2 Datensätze"},  // an entry would be lost
        {overrunsRecord,
         "Eintrag 1 (Datensatz 3): das Feld Nummer an Byte 3 reicht über das Ende seines 128"},
    };
    for (const auto& [bytes, message] : cases) {
        const auto decoded = decodeCallDir(bytes);
        EXPECT_FALSE(decoded.phoneBook) << message;
        EXPECT_TRUE(contains(decoded.error, message)) << decoded.error;
    }
}

TEST(CallDirFile, MissingOrCorruptFileLeavesAnEmptyFileAndAnEmptyBook) {
    test::TempDir dir;
    const auto missing = LoadCallDir(dir.path());
    EXPECT_EQ("", missing.error);
    EXPECT_EQ(PhoneBook{}, missing.phoneBook);
    EXPECT_BYTES_EQ(std::vector<uint8_t>{}, fileBytes(dir / "tellmaro.dir"));

    auto corrupt = kOneEntry;
    corrupt[0] = 5;
    test::writeFile(dir / "tellmaro.dir", corrupt);
    const auto loaded = LoadCallDir(dir.path());
    EXPECT_EQ(PhoneBook{}, loaded.phoneBook);
    ASSERT_TRUE(loaded.setAside);
    EXPECT_BYTES_EQ(corrupt, fileBytes(loaded.setAside->keptAs));  // the rest as in SettingsFile
}

TEST(CallDirFile, SavedBookComesBackByteForByteAndARefusedSaveChangesNothing) {
    test::TempDir dir;
    const PhoneBook book = bookOf({std::string("\0\xFF", 2), "\x80", "from another version"},
                                  {{"12", "0711*5#", "B\xE4r"}});
    ASSERT_TRUE(SaveCallDir(dir.path(), book).ok);
    const auto saved = fileBytes(dir / "tellmaro.dir");
    const auto loaded = LoadCallDir(dir.path());
    ASSERT_EQ("", loaded.error);
    EXPECT_EQ(book, loaded.phoneBook);
    ASSERT_TRUE(SaveCallDir(dir.path(), loaded.phoneBook).ok);
    EXPECT_BYTES_EQ(saved, fileBytes(dir / "tellmaro.dir"));

    // One byte more than the record holds.
    const auto refused = SaveCallDir(
        dir.path(),
        bookOf({}, {{"1", "2", ""}, {std::string(20, '1'), "#", std::string(102, 'x')}}));
    EXPECT_TRUE(contains(refused.error,
                         "Eintrag 2 passt nicht in seinen 128-Byte-Datensatz: 6 + "
                         "20 + 1 + 102 = 129 Bytes"))
        << refused.error;
    EXPECT_BYTES_EQ(saved, fileBytes(dir / "tellmaro.dir"));
    EXPECT_EQ(std::set<std::string>{"tellmaro.dir"}, dir.names());
}

}  // namespace
}  // namespace tellmaro::data
