// The controller's identity and the applications registered with it.
#include <algorithm>
#include <cstring>

#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"

namespace tellmaro::exchange {

namespace {

constexpr uint32_t kController = 1;
constexpr uint32_t kMaxApplId = 0xFFFF;
// Below these the registration is refused, as CAPI 2.0 sets them.
constexpr uint32_t kMinBlockSize = 128;
constexpr uint32_t kMinMessageBuffer = 1024;

}  // namespace

uint32_t CapiController::installed() const {
    return driverPresent_ ? capi::kCapiOk : code::kNotInstalled;
}

uint32_t CapiController::getVersion(capi::CapiVersion& version) const {
    if (!driverPresent_) {
        return code::kNotInstalled;
    }
    version = config_.identity.version;
    return capi::kCapiOk;
}

uint32_t CapiController::getManufacturer(capi::ManufacturerName& name) const {
    if (!driverPresent_) {
        return code::kNotInstalled;
    }
    name.fill(0);
    const std::string& text = config_.identity.manufacturer;
    std::memcpy(name.data(), text.data(), std::min(text.size(), name.size() - 1));
    return capi::kCapiOk;
}

uint32_t CapiController::getProfile(uint32_t controller, capi::CapiProfile& profile) const {
    if (!driverPresent_) {
        return code::kNotInstalled;
    }
    if (controller == 0) {
        profile.fill(0);
        std::copy_n(config_.identity.profile.begin(), 2, profile.begin());
        return capi::kCapiOk;
    }
    if (controller != kController) {
        return code::kIllegalController;
    }
    profile = config_.identity.profile;
    return capi::kCapiOk;
}

uint32_t CapiController::registerApplication(const capi::RegisterParams& params, uint32_t& applId) {
    uint32_t id = 1;
    while (applications_.contains(id) && id < kMaxApplId) {
        ++id;
    }
    uint32_t result = registerApplicationWithId(id, params);
    if (result == capi::kCapiOk) {
        applId = id;
    }
    return result;
}

uint32_t CapiController::registerApplicationWithId(uint32_t applId,
                                                   const capi::RegisterParams& params) {
    if (!driverPresent_) {
        return code::kNotInstalled;
    }
    if (applications_.size() >= config_.maxApplications) {
        return code::kTooManyApplications;
    }
    if (applId == 0 || applId > kMaxApplId || applications_.contains(applId)) {
        return code::kIllegalApplication;
    }
    if (params.maxB3BlockSize < kMinBlockSize) {
        return code::kBlockSizeTooSmall;
    }
    if (params.messageBufferSize < kMinMessageBuffer) {
        return code::kMessageBufferTooSmall;
    }
    if (params.maxLogicalConnections == 0) {
        return code::kLogicalConnectionsNotSupported;
    }
    Application& app = applications_[applId];
    app.id = applId;
    app.params = params;
    note("application " + std::to_string(applId) + " registered");
    return capi::kCapiOk;
}

uint32_t CapiController::release(uint32_t applId) {
    auto it = applications_.find(applId);
    if (it == applications_.end()) {
        return code::kIllegalApplication;
    }
    endApplication(it->second);
    applications_.erase(it);
    note("application " + std::to_string(applId) + " released");
    return capi::kCapiOk;
}

void CapiController::endApplication(Application& app) {
    for (auto it = calls_.begin(); it != calls_.end();) {
        Call& call = it->second;
        ++it;
        if (call.applId != app.id) {
            continue;
        }
        if (call.state != Call::State::Cleared) {
            network_.release(call.ref());
        }
        if (call.ncci) {
            b3s_.erase(*call.ncci);
        }
        uint32_t plci = call.plci;
        calls_.erase(plci);
    }
    discardedByRelease_ += static_cast<uint64_t>(
        std::erase_if(pending_, [&](const auto& p) { return p.applId == app.id; }));
}

void CapiController::dropConnection(uint32_t applId) {
    if (Application* app = application(applId)) {
        app->dropped = true;
        note("connection to application " + std::to_string(applId) + " dropped");
    }
}

bool CapiController::connectionDropped(uint32_t applId) const {
    auto it = applications_.find(applId);
    return it != applications_.end() && it->second.dropped;
}

Application* CapiController::application(uint32_t applId) {
    auto it = applications_.find(applId);
    return it == applications_.end() ? nullptr : &it->second;
}

}  // namespace tellmaro::exchange
