#include "exchange/rcapi/controller_backend.h"

namespace tellmaro::exchange {

namespace {
constexpr size_t kDataB3IndOnTheWire = 22;
}

LineConfig remoteLineConfig(LineConfig config) {
    config.requireHeaderApplId = false;
    config.dataB3IndLength = kDataB3IndOnTheWire;
    config.indicationsLeaveAtOnce = true;
    return config;
}

capi::CapiVersion SimulatorBackend::version() const {
    capi::CapiVersion version;
    line_.getVersion(version);
    return version;
}

capi::ManufacturerName SimulatorBackend::manufacturer() const {
    capi::ManufacturerName name{};
    line_.getManufacturer(name);
    return name;
}

capi::CapiProfile SimulatorBackend::profile(uint32_t controller) const {
    capi::CapiProfile profile{};
    line_.getProfile(controller, profile);
    return profile;
}

}  // namespace tellmaro::exchange
