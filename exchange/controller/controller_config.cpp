#include "exchange/controller/controller_config.h"

#include "capi/byte_order.h"

namespace tellmaro::exchange {

namespace {

constexpr size_t kControllers = 0;
constexpr size_t kBChannels = 2;
constexpr size_t kGlobalOptions = 4;
constexpr size_t kB1Support = 8;
constexpr size_t kB2Support = 12;
constexpr size_t kB3Support = 16;

}  // namespace

capi::CapiProfile makeProfile(const ProfileFields& fields) {
    capi::CapiProfile profile{};
    capi::writeU16(profile, kControllers, fields.controllers);
    capi::writeU16(profile, kBChannels, fields.bChannels);
    capi::writeU32(profile, kGlobalOptions, fields.globalOptions);
    capi::writeU32(profile, kB1Support, fields.b1Support);
    capi::writeU32(profile, kB2Support, fields.b2Support);
    capi::writeU32(profile, kB3Support, fields.b3Support);
    return profile;
}

ProfileFields readProfile(const capi::CapiProfile& profile) {
    return {
        .controllers = capi::readU16(profile, kControllers),
        .bChannels = capi::readU16(profile, kBChannels),
        .globalOptions = capi::readU32(profile, kGlobalOptions),
        .b1Support = capi::readU32(profile, kB1Support),
        .b2Support = capi::readU32(profile, kB2Support),
        .b3Support = capi::readU32(profile, kB3Support),
    };
}

}  // namespace tellmaro::exchange
