#include "exchange/rcapi/controller_backend.h"

namespace tellmaro::exchange {

namespace {
constexpr size_t kDataB3IndOnTheWire = 22;
}

void adaptToRemoteCapi(ControllerConfig& config) {
    config.requireHeaderApplId = false;
    config.dataB3IndLength = kDataB3IndOnTheWire;
    config.indicationsLeaveAtOnce = true;
}

capi::CapiVersion ControllerBackend::version() const {
    capi::CapiVersion version;
    controller_.getVersion(version);
    return version;
}

capi::ManufacturerName ControllerBackend::manufacturer() const {
    capi::ManufacturerName name{};
    controller_.getManufacturer(name);
    return name;
}

capi::CapiProfile ControllerBackend::profile(uint32_t controller) const {
    capi::CapiProfile profile{};
    controller_.getProfile(controller, profile);
    return profile;
}

}  // namespace tellmaro::exchange
