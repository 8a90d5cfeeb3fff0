#pragma once
// Sits between the relay and any driver and keeps the (NCCI, data handle)
// pairs of the DATA_B3_INDs that have not been answered yet. A DATA_B3_RESP
// that answers none of them is dropped and reported as sent: libcapi20 aborts
// the process on such a response, and the relay's flush of relayed blocks
// answers every handle up to the largest one, outstanding or not.

#include <cstdint>
#include <vector>

#include "capi/capi_driver.h"

namespace tellmaro::capi {

class DataB3Guard final : public CapiDriver {
  public:
    explicit DataB3Guard(CapiDriver& driver);

    uint32_t installed() override;
    uint32_t registerApplication(const RegisterParams& params, uint32_t& applId) override;
    uint32_t release(uint32_t applId) override;
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override;
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override;
    uint32_t getVersion(CapiVersion& version) override;
    uint32_t getManufacturer(ManufacturerName& name) override;
    uint32_t getProfile(uint32_t controller, CapiProfile& profile) override;
    std::string describeSetup() override { return driver_.describeSetup(); }

    size_t outstandingBlocks() const { return outstanding_.size(); }
    // Responses dropped because they answered no outstanding block.
    uint64_t droppedResponses() const { return dropped_; }

  private:
    struct Block {
        uint32_t applId;
        uint32_t ncci;
        uint16_t handle;
        bool operator==(const Block&) const = default;
    };

    void forgetConnection(uint32_t applId, uint32_t address, uint32_t mask);

    CapiDriver& driver_;
    std::vector<Block> outstanding_;
    uint64_t dropped_ = 0;
};

}  // namespace tellmaro::capi
