#pragma once
// What the remote-CAPI server needs of the controller it serves: the
// application side of a CAPI controller with messages as bytes, and a way to
// let time-driven events happen.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "capi/capi_driver.h"

namespace tellmaro::exchange {

class RcapiBackend {
  public:
    virtual ~RcapiBackend() = default;

    virtual uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) = 0;
    virtual void release(uint32_t applId) = 0;
    // A message from the application, with a DATA_B3_REQ's block in `data`.
    virtual void put(uint32_t applId, std::span<const uint8_t> message,
                     std::span<const uint8_t> data) = 0;
    // The next message for the application, with a DATA_B3_IND's block.
    virtual bool get(uint32_t applId, std::vector<uint8_t>& message,
                     std::vector<uint8_t>& data) = 0;
    // True once the application's connection is to be dropped (a scripted fault).
    virtual bool dropRequested(uint32_t applId) const = 0;

    virtual capi::CapiVersion version() const = 0;
    virtual capi::ManufacturerName manufacturer() const = 0;
    virtual capi::CapiProfile profile(uint32_t controller) const = 0;
    virtual uint32_t installed() const = 0;

    // Runs the events that are due now; tells when the next one is.
    virtual void runDueEvents() = 0;
    virtual std::optional<std::chrono::milliseconds> nextEventTime() const = 0;
};

}  // namespace tellmaro::exchange
