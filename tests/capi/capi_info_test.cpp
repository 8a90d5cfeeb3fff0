// Texts of CAPI codes and the "error.log" line.
#include <gtest/gtest.h>

#include <cstdio>

#include "capi/capi_info.h"

namespace tellmaro::capi {
namespace {

// Users search their logs for these texts, so their misspellings stay.
TEST(CapiInfo, KnownCodesHaveTheirOwnTextsLetterForLetter) {
    int withText = 0;
    for (uint32_t code = 0; code <= 0xFFFF; ++code) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "No:0x%04X ", code);
        auto text = describeCapiInfo(code);
        withText += !text.empty();
        EXPECT_TRUE(text.empty() || text.starts_with(prefix)) << text;
    }
    EXPECT_EQ(withText, 46);
    EXPECT_EQ(describeCapiInfo(0x11103), "");
    const std::pair<uint32_t, const char*> rows[] = {
        {0x0002, "Flags not supported by current protocol, flags ingored"},
        {0x1005, "Max. mumber of logical connections not supposrted"},
        {0x1106, "Unknown notificationparameter"},
        {0x1108, "OS rescoue error (e.g. no memory)"},
        {0x2002, "Illegal Controoller/PLCI/NCCI"},
        {0x300E, "TEI assignment faild / overlapping channel masks"},
        {0x300F, "Unsupproted interoperability"},
    };
    for (const auto& [code, text] : rows) {
        EXPECT_EQ(describeCapiInfo(code).substr(10), text);
    }
}

TEST(CapiInfo, ErrorLogLineHasNothingBetweenItsParts) {
    EXPECT_EQ(errorLogLine("03.12.2001 14:05:33", 0x1103),
              "03.12.2001 14:05:33CAPI-FehlerNo:0x1103 The message could not be accepted "
              "because of a queue full condition");
    EXPECT_EQ(errorLogLine("03.12.2001 14:05:33", 0x1006), "03.12.2001 14:05:33CAPI-Fehler");
}

}  // namespace
}  // namespace tellmaro::capi
