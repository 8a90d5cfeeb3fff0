#include "data/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "data_test_files.h"
#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::concat;
using test::contains;
using test::fileBytes;
using test::hexBytes;
using test::textBytes;
using namespace std::chrono_literals;

// "*" confirms, no log, own number 123, line access "0" above 5 digits.
SettingsRecord exampleRecord() {
    SettingsRecord record;
    record.starConfirms = true;
    record.ownNumber = "12300000000000000000";
    record.ownNumberLength = 3;
    record.lineAccessEnabled = true;
    record.lineAccessDigits = 5;
    record.lineAccessChars = "0";
    return record;
}

const std::vector<uint8_t> kExampleBytes = hexBytes(
    "FF FF 00 00 00 00 00 00"
    "31 32 33 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30"
    "03 00 00 FF FF 05 01 00 30 00 00");

// Every field differs from the example's, so the fields it leaves at zero are placed too.
SettingsRecord fullRecord() {
    SettingsRecord record;
    record.logEnabled = true;
    record.logFilePath = "/home/ab/Handy.log";
    record.logFileName = "H\xE4ndy\x80.log";
    record.ownNumber = "07110000000000000000";
    record.ownNumberLength = 4;
    record.totalDisconnect = true;
    record.lineAccessDigits = 99;
    record.lineAccessChars = "*0#";
    record.callBack = true;
    return record;
}

const std::vector<uint8_t> kFullBytes = concat({
    hexBytes("00 00 FF FF 12 00"),
    textBytes("/home/ab/Handy.log"),
    hexBytes("0A 00"),
    textBytes("H\xE4ndy\x80.log"),
    textBytes("07110000000000000000"),
    hexBytes("04 FF FF 00 00 63 03 00"),
    textBytes("*0#"),
    hexBytes("FF FF"),
});

TEST(SettingsCodec, RecordsMatchTheirBytesBothWays) {
    for (const auto& [record, bytes] :
         {std::pair{exampleRecord(), kExampleBytes}, std::pair{fullRecord(), kFullBytes}}) {
        const auto encoded = encodeSettings(record);
        ASSERT_TRUE(encoded.ok) << encoded.error;
        EXPECT_BYTES_EQ(bytes, encoded.bytes);
        const auto decoded = decodeSettings(bytes);
        ASSERT_TRUE(decoded.settings) << decoded.error;
        EXPECT_EQ(record, *decoded.settings);
    }
    auto oddFlag = kExampleBytes;
    oddFlag[0] = 0x01;
    oddFlag[1] = 0x00;
    EXPECT_TRUE(decodeSettings(oddFlag).settings.value_or(SettingsRecord{}).starConfirms);
}

TEST(SettingsCodec, RefusesWhatItCannotStoreExactly) {
    SettingsRecord record;
    record.logFilePath = std::string(65535, 'x');
    EXPECT_TRUE(encodeSettings(record).ok);
    record.logFilePath += 'x';
    EXPECT_TRUE(contains(encodeSettings(record).error, "Pfad der Log Datei"));
}

TEST(SettingsCodec, RejectsRecordsThatAreCutOrDoNotAddUp) {
    for (size_t length = 1; length < kFullBytes.size(); ++length) {
        const auto decoded = decodeSettings(std::span(kFullBytes).first(length));
        EXPECT_FALSE(decoded.settings) << "cut after " << length << " bytes";
        EXPECT_FALSE(decoded.error.empty());
    }
    EXPECT_TRUE(contains(decodeSettings(std::span(kExampleBytes).first(20)).error, "Rufnummer"));

    auto overrun = kExampleBytes;
    overrun[4] = 0x10;  // logFilePath claims bytes that belong to later fields
    EXPECT_FALSE(decodeSettings(overrun).settings);
    overrun[5] = 0xFF;
    EXPECT_TRUE(contains(decodeSettings(overrun).error, "Pfad der Log Datei"));

    const auto trailing = decodeSettings(concat({kExampleBytes, hexBytes("00")}));
    EXPECT_FALSE(trailing.settings);
    EXPECT_TRUE(trailing.error.ends_with("folgen noch 1 Byte")) << trailing.error;
}

// With stdin closed the new file gets descriptor 0, which is no failure.
TEST(SettingsFile, FirstStartLeavesAnEmptyFileAndIsNotConfigured) {
    test::TempDir dir;
    const int in = ::dup(0);
    ::close(0);
    const auto first = LoadSettings(dir.path());
    ::dup2(in, 0);
    ::close(in);
    for (const auto& loaded : {first, LoadSettings(dir.path())}) {
        EXPECT_FALSE(loaded.configured());
        EXPECT_EQ("", loaded.error);
        EXPECT_BYTES_EQ(std::vector<uint8_t>{}, fileBytes(dir / "tellmaro.ini"));
        EXPECT_EQ(0600,
                  static_cast<int>(std::filesystem::status(dir / "tellmaro.ini").permissions()));
    }
}

TEST(SettingsFile, SaveLeavesExactlyTheNewRecordOrNothingNew) {
    test::TempDir dir;
    ASSERT_TRUE(SaveSettings(dir.path(), fullRecord()).ok);
    const auto saved = SaveSettings(dir.path(), exampleRecord());
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_BYTES_EQ(kExampleBytes, fileBytes(dir / "tellmaro.ini"));
    EXPECT_EQ(exampleRecord(), LoadSettings(dir.path()).settings);

    SettingsRecord unstorable = fullRecord();
    unstorable.ownNumber = "123";
    EXPECT_TRUE(contains(SaveSettings(dir.path(), unstorable).error, "eigene Rufnummer"));
    EXPECT_BYTES_EQ(kExampleBytes, fileBytes(dir / "tellmaro.ini"));
    EXPECT_EQ((std::set<std::string>{"tellmaro.ini"}), dir.names());
}

// A damaged file is kept under a new name each time, never over an earlier copy.
TEST(SettingsFile, CorruptFileIsKeptUnderANewNameAndReplacedByAnEmptyOne) {
    test::TempDir dir;
    const LocalTime now = std::chrono::local_days{std::chrono::year{2026} / 12 / 6} + 5h + 18min;
    const std::vector<uint8_t> corrupt(kExampleBytes.begin(), kExampleBytes.end() - 1);
    for (const char* keptAs :
         {"tellmaro.ini.20261206-051800.bad", "tellmaro.ini.20261206-051800-2.bad"}) {
        test::writeFile(dir / "tellmaro.ini", corrupt);
        const auto loaded = LoadSettings(dir.path(), now);
        EXPECT_FALSE(loaded.configured());
        ASSERT_TRUE(loaded.setAside);
        EXPECT_TRUE(contains(loaded.setAside->reason, "Rückruf")) << loaded.setAside->reason;
        EXPECT_EQ(dir / keptAs, loaded.setAside->keptAs);
        EXPECT_BYTES_EQ(corrupt, fileBytes(dir / keptAs));
        EXPECT_BYTES_EQ(std::vector<uint8_t>{}, fileBytes(dir / "tellmaro.ini"));
    }
    EXPECT_EQ(3u, dir.names().size());
    const auto again = LoadSettings(dir.path(), now);
    EXPECT_FALSE(again.setAside);
    EXPECT_EQ("", again.error);
}

}  // namespace
}  // namespace tellmaro::data
