#pragma once
// The text of the CAPI analysis: what the driver and controller 1 report,
// and whether the card can carry the relay. Built piece by piece as the
// window queries the driver; every line ends with CR LF. UTF-8.

#include <string>
#include <string_view>

#include "capi/capi_driver.h"

namespace tellmaro::analysis {

// Driver version and manufacturer: written before the profile is asked for,
// so it stands alone when the profile cannot be read.
std::string manufacturerBlock(const capi::CapiVersion& version,
                              const capi::ManufacturerName& manufacturer);

struct ProfileReport {
    std::string text;  // controllers, B channels, and the four capability lists
    int score = 0;     // 1 for more than one B channel, +1 for DTMF
};

ProfileReport profileBlocks(const capi::CapiProfile& profile);

struct Verdict {
    std::string_view trafficLight;  // icon file in the program directory
    std::string_view sentence;
};

// Two B channels (both legs at once) and DTMF (the caller's keys) are what
// the relay needs; the protocol lists take no part.
Verdict verdictFor(int score);

}  // namespace tellmaro::analysis
