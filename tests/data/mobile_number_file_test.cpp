#include "data/mobile_number_file.h"

#include <gtest/gtest.h>

#include "data_test_files.h"
#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::fileBytes;
using test::textBytes;

TEST(MobileNumberFile, SavedDigitsAreTheWholeFileAndReadDigitsMayEndTheLine) {
    test::TempDir dir;
    EXPECT_EQ(MobileNumberStatus::missing, LoadMobileNumber(dir.path()).status);
    const auto saved = SaveMobileNumber(dir.path(), "01711234567");
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_BYTES_EQ(textBytes("01711234567"), fileBytes(dir / "tellmaro.mob"));
    const auto loaded = LoadMobileNumber(dir.path());
    EXPECT_EQ(MobileNumberStatus::present, loaded.status);
    EXPECT_EQ("01711234567", loaded.number);

    for (const char* refused : {"", "+49171", "0171\n", "12a"}) {
        EXPECT_FALSE(SaveMobileNumber(dir.path(), refused).ok) << refused;
    }
    EXPECT_BYTES_EQ(textBytes("01711234567"), fileBytes(dir / "tellmaro.mob"));

    // Digits with one line end and nothing else; anything else is set aside, an empty file left.
    for (const char* content : {"0171\n", "0171\r\n"}) {
        test::writeFile(dir / "tellmaro.mob", textBytes(content));
        const auto loaded = LoadMobileNumber(dir.path());
        EXPECT_EQ(MobileNumberStatus::present, loaded.status) << loaded.error;
        EXPECT_EQ("0171", loaded.number);
    }
    for (const char* content : {"\r\n", "0171 123", "+49171", "0171\n\n", "0171\r", " 0171"}) {
        test::writeFile(dir / "tellmaro.mob", textBytes(content));
        const auto loaded = LoadMobileNumber(dir.path());
        ASSERT_TRUE(loaded.setAside) << content;
        EXPECT_BYTES_EQ(textBytes(content), fileBytes(loaded.setAside->keptAs));
        EXPECT_EQ(MobileNumberStatus::missing, LoadMobileNumber(dir.path()).status);  // empty now
    }
}

}  // namespace
}  // namespace tellmaro::data
