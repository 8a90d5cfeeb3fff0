// PLCIs, NCCIs and the B channels of the controller.
#include <algorithm>

#include "exchange/controller/capi_controller.h"

namespace tellmaro::exchange {

namespace {

constexpr uint32_t kController = 1;
constexpr uint32_t kPlciShift = 8;
constexpr uint32_t kNcciShift = 16;
constexpr uint32_t kPlciMask = 0xFFFF;

}  // namespace

Call* CapiController::findCall(CallRef ref) {
    auto it = calls_.find(ref.plci);
    return it != calls_.end() && it->second.serial == ref.serial ? &it->second : nullptr;
}

B3Connection* CapiController::findB3(B3Ref ref) {
    auto it = b3s_.find(ref.ncci);
    return it != b3s_.end() && it->second.serial == ref.serial ? &it->second : nullptr;
}

// PLCI numbers go round 1..255 so that a new call rarely gets the PLCI of
// the one just ended, as on real controllers.
std::optional<uint32_t> CapiController::allocatePlci() {
    for (int tries = 0; tries < 255; ++tries) {
        uint32_t plci = (static_cast<uint32_t>(nextPlciNumber_) << kPlciShift) | kController;
        nextPlciNumber_ = nextPlciNumber_ == 255 ? 1 : nextPlciNumber_ + 1;
        if (!calls_.contains(plci)) {
            return plci;
        }
    }
    return std::nullopt;
}

uint32_t CapiController::allocateNcci(uint32_t plci) {
    for (;;) {
        uint32_t ncci = (static_cast<uint32_t>(nextNcciNumber_) << kNcciShift) | plci;
        nextNcciNumber_ = nextNcciNumber_ == 0xFFFF ? 1 : nextNcciNumber_ + 1;
        if (!b3s_.contains(ncci)) {
            return ncci;
        }
    }
}

size_t CapiController::busyChannels() const {
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(),
                                             [](const auto& c) { return c.second.holdsChannel; }));
}

bool CapiController::channelFree() const {
    return busyChannels() < readProfile(config_.identity.profile).bChannels;
}

Call& CapiController::newCall(uint32_t plci, uint32_t applId, Call::Kind kind, Call::State state) {
    Call& call = calls_[plci];
    call = Call{};
    call.plci = plci;
    call.applId = applId;
    call.serial = nextSerial_++;
    call.kind = kind;
    call.state = state;
    return call;
}

// After DISCONNECT_RESP: the PLCI and whatever it still held are gone.
void CapiController::removeCall(Call& call) {
    if (call.ncci) {
        if (auto it = b3s_.find(*call.ncci); it != b3s_.end()) {
            removeB3(it->second);
        }
    }
    uint32_t plci = call.plci;
    endPending(call.applId, plci, kPlciMask);
    calls_.erase(plci);
}

void CapiController::removeB3(B3Connection& b3) {
    endPending(b3.applId, b3.ncci, 0xFFFFFFFF);
    if (auto it = calls_.find(b3.plci); it != calls_.end() && it->second.ncci == b3.ncci) {
        it->second.ncci.reset();
    }
    uint32_t ncci = b3.ncci;
    b3s_.erase(ncci);
}

}  // namespace tellmaro::exchange
