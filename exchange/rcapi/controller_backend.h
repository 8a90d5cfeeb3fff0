#pragma once
// The line simulator as the remote-CAPI server's controller.

#include "exchange/controller/capi_controller.h"
#include "exchange/rcapi/rcapi_backend.h"

namespace tellmaro::exchange {

// What a line served over remote CAPI needs: the clients number their
// applications themselves and receive DATA_B3_INDs in the 22-byte layout,
// whose data pointer their library fills in.
LineConfig remoteLineConfig(LineConfig config = {});

class SimulatorBackend final : public RcapiBackend {
  public:
    explicit SimulatorBackend(LineSimulator& line) : line_(line) {}

    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override {
        return line_.registerApplication(params, applId);
    }
    void release(uint32_t applId) override { line_.release(applId); }
    void put(uint32_t applId, std::span<const uint8_t> message,
             std::span<const uint8_t> data) override {
        // Remote CAPI has no channel for a put's result; a refusal shows in
        // the trace and the accounting.
        (void)line_.put(applId, message, data);
    }
    bool get(uint32_t applId, std::vector<uint8_t>& message, std::vector<uint8_t>& data) override {
        return line_.get(applId, message, data) == capi::kCapiOk;
    }
    bool dropRequested(uint32_t applId) const override { return line_.connectionDropped(applId); }

    capi::CapiVersion version() const override;
    capi::ManufacturerName manufacturer() const override;
    capi::CapiProfile profile(uint32_t controller) const override;
    uint32_t installed() const override { return line_.installed(); }

    void runDueEvents() override { line_.runDueEvents(); }
    std::optional<std::chrono::milliseconds> nextEventTime() const override {
        return line_.nextEventTime();
    }

  private:
    LineSimulator& line_;
};

}  // namespace tellmaro::exchange
