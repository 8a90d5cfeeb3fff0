#pragma once
// The CAPI 2.0 driver as the relay uses it: eight operations with the
// results of the published standard. Implemented by the libcapi20 driver and
// by the in-process line simulator; every driver is used through the
// DATA_B3 guard (data_b3_guard.h).

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tellmaro::capi {

// Result codes the relay relies on.
inline constexpr uint32_t kCapiOk = 0;
inline constexpr uint32_t kCapiNotInstalled = 0x1009;
inline constexpr uint32_t kCapiQueueEmpty = 0x1104;
inline constexpr uint32_t kCapiOsResourceError = 0x1108;

struct RegisterParams {
    uint32_t messageBufferSize = 3072;
    uint32_t maxLogicalConnections = 2;
    uint32_t maxB3Blocks = 7;
    uint32_t maxB3BlockSize = 2048;
};

struct CapiVersion {
    uint32_t capiMajor = 0;
    uint32_t capiMinor = 0;
    uint32_t manufacturerMajor = 0;
    uint32_t manufacturerMinor = 0;
};

using ManufacturerName = std::array<char, 64>;  // zero-terminated within
using CapiProfile = std::array<uint8_t, 64>;

class CapiDriver {
  public:
    virtual ~CapiDriver() = default;

    // Whether the driver's library is there at all; nothing else works without it.
    virtual bool loaded() const { return true; }
    // 0 when a driver is present, else a CAPI error code.
    virtual uint32_t installed() = 0;
    virtual uint32_t registerApplication(const RegisterParams& params, uint32_t& applId) = 0;
    virtual uint32_t release(uint32_t applId) = 0;
    // `message` is a complete message (header and parameters); for DATA_B3_REQ
    // the data block is reached through the message's data pointer.
    virtual uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) = 0;
    // On 0, `message` is the next message; it stays valid until the next call.
    // 0x1104 when the queue is empty.
    virtual uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) = 0;
    virtual uint32_t getVersion(CapiVersion& version) = 0;
    virtual uint32_t getManufacturer(ManufacturerName& name) = 0;
    virtual uint32_t getProfile(uint32_t controller, CapiProfile& profile) = 0;

    // One line for the user under a driver message: what was tried to reach
    // the controller and what failed. Empty where there is nothing to add.
    virtual std::string describeSetup() { return {}; }
};

}  // namespace tellmaro::capi
