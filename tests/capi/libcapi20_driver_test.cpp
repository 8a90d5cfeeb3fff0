// Without libcapi20 the program still starts: every operation reads "CAPI not installed".
#include <gtest/gtest.h>

#include "capi/libcapi20_driver.h"

namespace tellmaro::capi {
namespace {

TEST(LibCapi20Driver, AMissingLibraryReadsAsCapiNotInstalled) {
    LibCapi20Driver driver("libcapi20-that-is-not-there.so.3");
    EXPECT_FALSE(driver.loaded());
    EXPECT_EQ(driver.loadError(), "libcapi20-that-is-not-there.so.3: Datei nicht gefunden");
    uint32_t applId = 77;
    std::span<const uint8_t> message;
    CapiVersion version;
    ManufacturerName name{};
    CapiProfile profile{};
    const uint8_t listen[26] = {26, 0, 1, 0, 0x05, 0x80, 1, 0};
    for (uint32_t result :
         {driver.installed(), driver.registerApplication({}, applId), driver.putMessage(1, listen),
          driver.getMessage(1, message), driver.getVersion(version), driver.getManufacturer(name),
          driver.getProfile(1, profile), driver.release(1)}) {
        EXPECT_EQ(result, kCapiNotInstalled);
    }
    EXPECT_EQ(applId, 77u);
    // Broken, or not libcapi20 at all: said in German too.
    EXPECT_EQ(LibCapi20Driver("/dev/null").loadError(), "/dev/null: die Datei ist zu kurz");
    EXPECT_EQ(LibCapi20Driver("libc.so.6").loadError(),
              "in libcapi20 fehlt die Funktion capi20_isinstalled");
}

}  // namespace
}  // namespace tellmaro::capi
