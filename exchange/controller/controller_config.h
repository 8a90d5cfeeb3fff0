#pragma once
// What the controller presents to its applications and how strictly it
// reads them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "capi/capi_driver.h"
#include "capi/message_templates.h"

namespace tellmaro::exchange {

struct ProfileFields {
    uint16_t controllers = 1;
    uint16_t bChannels = 2;
    uint32_t globalOptions = 0x09;  // internal controller, DTMF
    uint32_t b1Support = 0x03;      // 64 kbit/s HDLC and bit-transparent
    uint32_t b2Support = 0x03;      // X.75 and transparent
    uint32_t b3Support = 0x01;      // transparent
};

// The 64-byte CAPI profile with these fields; the reserved and
// manufacturer-specific bytes are zero.
capi::CapiProfile makeProfile(const ProfileFields& fields);
ProfileFields readProfile(const capi::CapiProfile& profile);

struct ControllerIdentity {
    capi::CapiProfile profile = makeProfile({});
    capi::CapiVersion version{2, 0, 1, 0};
    std::string manufacturer = "Tellmaro line simulator";
};

struct ControllerConfig {
    ControllerIdentity identity;
    // The PC's own number: the called number of every call offered to it.
    std::string lineNumber = "0301234567";
    size_t maxApplications = 8;
    // A message's ApplID must be the application it is put for. A front-end
    // whose clients choose their own ids rewrites the header or turns this off.
    bool requireHeaderApplId = true;
    // DATA_B3_IND as the application's host lays it out (Data64 on 64-bit
    // hosts); the front-end fills in the pointer.
    size_t dataB3IndLength = capi::kDataB3MessageLength;
    // Indications leave for a remote application as soon as they are queued,
    // so the controller cannot see when it read one: a request meeting the far
    // end's clearing counts as crossing it until the clearing is answered.
    bool indicationsLeaveAtOnce = false;
};

}  // namespace tellmaro::exchange
