#pragma once
// The CAPI driver interface served by a controller in the same process, for
// deterministic tests in virtual time. Messages look as libcapi20 presents
// them: a DATA_B3_IND carries a pointer to its block (Data64 on 64-bit
// hosts), valid until the block is answered or its connection ends; a
// received message stays valid until the next get.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "capi/capi_driver.h"
#include "exchange/controller/capi_controller.h"

namespace tellmaro::exchange {

class InProcessDriver final : public capi::CapiDriver {
  public:
    explicit InProcessDriver(CapiController& controller) : controller_(controller) {}

    uint32_t installed() override { return controller_.installed(); }
    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override;
    uint32_t release(uint32_t applId) override;
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override;
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override;
    uint32_t getVersion(capi::CapiVersion& version) override {
        return controller_.getVersion(version);
    }
    uint32_t getManufacturer(capi::ManufacturerName& name) override {
        return controller_.getManufacturer(name);
    }
    uint32_t getProfile(uint32_t controller, capi::CapiProfile& profile) override {
        return controller_.getProfile(controller, profile);
    }

    // Received blocks whose memory is still held for the application.
    size_t heldBlocks() const { return blocks_.size(); }

  private:
    struct HeldBlock {
        uint32_t applId;
        uint32_t ncci;
        uint16_t handle;
        std::unique_ptr<std::vector<uint8_t>> bytes;
    };

    std::span<const uint8_t> requestData(std::span<const uint8_t> message) const;
    void hold(uint32_t applId, std::vector<uint8_t> block);
    void forget(uint32_t applId, uint32_t address, uint32_t mask,
                std::optional<uint16_t> handle = std::nullopt);

    CapiController& controller_;
    std::vector<uint8_t> current_;
    std::vector<HeldBlock> blocks_;
};

}  // namespace tellmaro::exchange
