#include "data/call_dir.h"

#include <gtest/gtest.h>

namespace tellmaro::data {
namespace {

TEST(PhoneBook, EditsKeepDisplayOrderAndThePlaceholder) {
    PhoneBook book(CallDirEntry{"p", "", ""});
    EXPECT_EQ(0, book.callDirCount());
    for (const char* code : {"1", "2", "3", "4"}) {
        ASSERT_TRUE(book.append({code, "0711", ""}));
    }
    ASSERT_TRUE(book.replace(2, {"22", "0712", "new"}));
    ASSERT_TRUE(book.remove(1));
    ASSERT_TRUE(book.remove(3));
    EXPECT_EQ(book.callDir(),
              (std::vector<CallDirEntry>{{"p", "", ""}, {"22", "0712", "new"}, {"3", "0711", ""}}));
    EXPECT_EQ(2, book.callDirCount());

    // The placeholder and indices past the end are out of reach.
    const PhoneBook before = book;
    EXPECT_FALSE(book.replace(0, {}));
    EXPECT_FALSE(book.remove(0));
    EXPECT_FALSE(book.replace(3, {}));
    EXPECT_FALSE(book.remove(-1));
    EXPECT_EQ(before, book);
}

TEST(PhoneBook, LookupTakesTheFirstExactCodeAndNeverThePlaceholder) {
    PhoneBook book(CallDirEntry{"7", "placeholder", ""});
    ASSERT_TRUE(book.append({"012", "A", ""}));
    ASSERT_TRUE(book.append({"12", "B", ""}));
    ASSERT_TRUE(book.append({"12", "C", ""}));
    EXPECT_EQ("B", book.lookup("12"));
    EXPECT_EQ("A", book.lookup("012"));
    EXPECT_EQ(std::nullopt, book.lookup("1"));
    EXPECT_EQ(std::nullopt, book.lookup("7"));
}

TEST(PhoneBook, CountStopsAtItsLargestValue) {
    PhoneBook book;
    for (int i = 0; i < PhoneBook::kMaxEntries; ++i) {
        ASSERT_TRUE(book.append({}));
    }
    EXPECT_EQ(32767, book.callDirCount());
    EXPECT_FALSE(book.append({}));
    EXPECT_EQ(32767, book.callDirCount());
}

}  // namespace
}  // namespace tellmaro::data
