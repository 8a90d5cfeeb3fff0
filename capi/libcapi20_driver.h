#pragma once
// The production driver: Debian's libcapi20, loaded at run time so that the
// program builds and starts without it (a missing library reads as "CAPI not
// installed").

#include <array>
#include <cstdint>
#include <string>

#include "capi/capi_driver.h"

namespace tellmaro::capi {

inline constexpr const char* kLibCapi20Name = "libcapi20.so.3";

class LibCapi20Driver final : public CapiDriver {
  public:
    explicit LibCapi20Driver(const char* libraryName = kLibCapi20Name);
    ~LibCapi20Driver() override;
    LibCapi20Driver(const LibCapi20Driver&) = delete;
    LibCapi20Driver& operator=(const LibCapi20Driver&) = delete;

    bool loaded() const override { return library_ != nullptr; }
    // Why loading failed, for the program's diagnostics.
    const std::string& loadError() const { return loadError_; }

    uint32_t installed() override;
    uint32_t registerApplication(const RegisterParams& params, uint32_t& applId) override;
    uint32_t release(uint32_t applId) override;
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override;
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override;
    uint32_t getVersion(CapiVersion& version) override;
    uint32_t getManufacturer(ManufacturerName& name) override;
    uint32_t getProfile(uint32_t controller, CapiProfile& profile) override;
    std::string describeSetup() override;

  private:
    struct Api;

    bool connectionClosed(uint32_t applId) const;

    void* library_ = nullptr;
    std::string loadError_;
    Api* api_ = nullptr;
    bool registeredOnce_ = false;  // the controller answered: a later failure is its loss
    // libcapi20 appends a DATA_B3_REQ's data block inside the buffer it is
    // given, so every message is copied into a buffer with room for it.
    alignas(8) std::array<uint8_t, 128 + 2048> sendBuffer_{};
};

}  // namespace tellmaro::capi
