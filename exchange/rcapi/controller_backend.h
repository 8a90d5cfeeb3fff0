#pragma once
// A CAPI controller as the remote-CAPI server's backend, whatever network is
// behind it.

#include "exchange/controller/capi_controller.h"
#include "exchange/rcapi/rcapi_backend.h"

namespace tellmaro::exchange {

// What a controller served over remote CAPI needs: the clients number their
// applications themselves and receive DATA_B3_INDs in the 22-byte layout,
// whose data pointer their library fills in.
void adaptToRemoteCapi(ControllerConfig& config);

class ControllerBackend final : public RcapiBackend {
  public:
    explicit ControllerBackend(CapiController& controller) : controller_(controller) {}

    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override {
        return controller_.registerApplication(params, applId);
    }
    void release(uint32_t applId) override { controller_.release(applId); }
    void put(uint32_t applId, std::span<const uint8_t> message,
             std::span<const uint8_t> data) override {
        // Remote CAPI has no channel for a put's result; a refusal shows in
        // the trace and the accounting.
        (void)controller_.put(applId, message, data);
    }
    bool get(uint32_t applId, std::vector<uint8_t>& message, std::vector<uint8_t>& data) override {
        return controller_.get(applId, message, data) == capi::kCapiOk;
    }
    bool dropRequested(uint32_t applId) const override {
        return controller_.connectionDropped(applId);
    }

    capi::CapiVersion version() const override;
    capi::ManufacturerName manufacturer() const override;
    capi::CapiProfile profile(uint32_t controller) const override;
    uint32_t installed() const override { return controller_.installed(); }

    void runDueEvents() override { controller_.runDueEvents(); }
    std::optional<std::chrono::milliseconds> nextEventTime() const override {
        return controller_.nextEventTime();
    }

  private:
    CapiController& controller_;
};

}  // namespace tellmaro::exchange
