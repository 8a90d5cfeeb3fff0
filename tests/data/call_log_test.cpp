#include "data/call_log.h"

#include <gtest/gtest.h>

#include "data_test_files.h"
#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::concat;
using test::fileBytes;
using test::textBytes;
using test::writeFile;
using namespace std::chrono;

LocalTime at(int h, int mi, int s) {
    return local_days{year{2001} / 12 / 3} + hours{h} + minutes{mi} + seconds{s};
}

// The file holds Windows-1252 ("\344" is "ä") with CR LF line ends.
TEST(CallLog, RelayedCallWritesItsLinesInOrder) {
    test::TempDir dir;
    CallLog log;
    ASSERT_TRUE(log.open(dir / "Handy.log").ok);
    EXPECT_TRUE(log.callSeparator());
    EXPECT_TRUE(log.caller("01711234567"));
    EXPECT_TRUE(log.callTime(at(14, 5, 33)));
    EXPECT_TRUE(log.dialledNumber("00711555"));
    EXPECT_TRUE(log.conversationStart(at(14, 6, 0)));
    EXPECT_TRUE(log.conversationEnd(at(14, 7, 42), 102));
    EXPECT_TRUE(log.connectionEnd(at(14, 7, 43), 130, ConnectionEndUnit::mobileLegLast));
    ASSERT_TRUE(log.close().ok);

    EXPECT_EQ(0600, static_cast<int>(std::filesystem::status(dir / "Handy.log").permissions()));
    EXPECT_BYTES_EQ(textBytes("\r\n\r\n\r\n"
                              "Anrufende Nummer       : 01711234567\r\n"
                              "Datum/Uhrzeit          : 03.12.2001 14:05:33\r\n"
                              "\r\n"
                              "   Gew\344hlte Nummer     : 00711555\r\n"
                              "   Beginn des Gespr\344chs: 03.12.2001 14:06:00\r\n"
                              "   Ende des Gespr\344chs  : 03.12.2001 14:07:42\r\n"
                              "   Gespr\344chsdauer      : 102 s\r\n"
                              "\r\n"
                              "Ende der Verbindung    : 03.12.2001 14:07:43\r\n"
                              "Verbindungsdauer       : 130s\r\n"),
                    fileBytes(dir / "Handy.log"));
}

TEST(CallLog, ReasonLinesAndTheSpacedUnitAppendToEarlierCalls) {
    test::TempDir dir;
    writeFile(dir / "Handy.log", textBytes("earlier\r\n"));
    CallLog log;
    ASSERT_TRUE(log.open(dir / "Handy.log").ok);
    EXPECT_TRUE(log.caller(""));
    EXPECT_TRUE(log.refusedCaller());
    EXPECT_TRUE(log.cancelledByMobile());
    EXPECT_TRUE(log.notReachable());
    EXPECT_TRUE(log.mobileHungUp());
    EXPECT_TRUE(log.connectionEnd(at(9, 0, 0), 7, ConnectionEndUnit::outgoingLegLast));
    EXPECT_TRUE(log.writeLine("free text"));
    EXPECT_TRUE(log.writeBlankLine());
    ASSERT_TRUE(log.close().ok);

    EXPECT_BYTES_EQ(textBytes("earlier\r\n"
                              "Anrufende Nummer       : \r\n"
                              "Abbruch, Grund         : Nicht registrierte Handynummer\r\n"
                              "   Abbruch, Grund      : Abbruch durch den Handybenutzer\r\n"
                              "   Abbruch, Grund      : Der Angerufene ist nicht erreichbar\r\n"
                              "   Abbruch, Grund      : Handybenutzer hat aufgelegt\r\n"
                              "\r\n"
                              "Ende der Verbindung    : 03.12.2001 09:00:00\r\n"
                              "Verbindungsdauer       : 7 s\r\n"
                              "free text\r\n"
                              "\r\n"),
                    fileBytes(dir / "Handy.log"));
}

TEST(CallLog, FailuresAreReportedAndNeverStopTheCaller) {
    test::TempDir dir;
    CallLog log;
    EXPECT_FALSE(log.caller("0171"));  // nothing open

    writeFile(dir / "file", textBytes("x"));
    const auto opened = log.open(dir / "file" / "Handy.log");
    EXPECT_TRUE(test::contains(opened.error, "Ist kein Verzeichnis")) << opened.error;
    EXPECT_FALSE(log.isOpen());

    ASSERT_TRUE(log.open("/dev/full").ok);  // every write fails: disk full
    EXPECT_TRUE(log.isOpen());
    EXPECT_FALSE(log.callSeparator());
    EXPECT_FALSE(log.connectionEnd(at(9, 0, 0), 7, ConnectionEndUnit::mobileLegLast));
    EXPECT_TRUE(log.close().ok);
    EXPECT_FALSE(log.isOpen());
}

}  // namespace
}  // namespace tellmaro::data
