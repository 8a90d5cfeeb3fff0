// Texts of CAPI codes and the "error.log" line.
#include <gtest/gtest.h>

#include <cstdio>

#include "capi/capi_info.h"

namespace tellmaro::capi {
namespace {

// Users search their logs for these texts, so their misspellings stay.
TEST(CapiInfo, KnownCodesHaveTheirOwnTextsLetterForLetter) {
    EXPECT_EQ(describeCapiInfo(0x11103), "") << "a code is not cut to 16 bits";
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
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "No:0x%04X ", code);
        EXPECT_EQ(describeCapiInfo(code), prefix + std::string(text));
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
