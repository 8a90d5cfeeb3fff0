#include "capi/data_b3_guard.h"

#include <algorithm>

#include "capi/byte_order.h"
#include "capi/message_header.h"

namespace tellmaro::capi {

namespace {

// Parameter offsets within the message.
constexpr size_t kAddress = 8;
constexpr size_t kIndHandle = 18;   // DATA_B3_IND
constexpr size_t kRespHandle = 12;  // DATA_B3_RESP

// The low 16 bits of an NCCI are its controller and PLCI.
constexpr uint32_t kPlciMask = 0xFFFF;
constexpr uint32_t kNcciMask = 0xFFFFFFFF;

// Room for every receive buffer of two connections many times over, so that
// tracking blocks never allocates once the relay runs.
constexpr size_t kInitialCapacity = 64;

}  // namespace

DataB3Guard::DataB3Guard(CapiDriver& driver) : driver_(driver) {
    outstanding_.reserve(kInitialCapacity);
}

uint32_t DataB3Guard::installed() {
    return driver_.installed();
}

uint32_t DataB3Guard::registerApplication(const RegisterParams& params, uint32_t& applId) {
    uint32_t result = driver_.registerApplication(params, applId);
    if (result == kCapiOk) {
        std::erase_if(outstanding_, [&](const Block& b) { return b.applId == applId; });
    }
    return result;
}

uint32_t DataB3Guard::release(uint32_t applId) {
    std::erase_if(outstanding_, [&](const Block& b) { return b.applId == applId; });
    return driver_.release(applId);
}

uint32_t DataB3Guard::putMessage(uint32_t applId, std::span<const uint8_t> message) {
    auto header = readHeader(message);
    if (header && header->is(Command::DataB3, Subcommand::Resp) &&
        message.size() >= kRespHandle + 2) {
        Block block{applId, readU32(message, kAddress), readU16(message, kRespHandle)};
        auto it = std::find(outstanding_.begin(), outstanding_.end(), block);
        if (it == outstanding_.end()) {
            ++dropped_;
            return kCapiOk;
        }
        uint32_t result = driver_.putMessage(applId, message);
        if (result == kCapiOk) {
            outstanding_.erase(it);
        }
        return result;
    }
    uint32_t result = driver_.putMessage(applId, message);
    if (result == kCapiOk && header && header->is(Command::DisconnectB3, Subcommand::Resp) &&
        message.size() >= kAddress + 4) {
        // The driver takes back the buffers of a connection whose end was answered.
        forgetConnection(applId, readU32(message, kAddress), kNcciMask);
    }
    return result;
}

uint32_t DataB3Guard::getMessage(uint32_t applId, std::span<const uint8_t>& message) {
    uint32_t result = driver_.getMessage(applId, message);
    if (result != kCapiOk) {
        return result;
    }
    auto header = readHeader(message);
    if (!header) {
        return result;
    }
    if (header->is(Command::DataB3, Subcommand::Ind) && message.size() >= kIndHandle + 2) {
        Block block{applId, readU32(message, kAddress), readU16(message, kIndHandle)};
        if (std::find(outstanding_.begin(), outstanding_.end(), block) == outstanding_.end()) {
            outstanding_.push_back(block);
        }
    } else if (header->is(Command::Disconnect, Subcommand::Ind) && message.size() >= kAddress + 4) {
        // A cleared call frees the buffers of all its B3 connections.
        forgetConnection(applId, readU32(message, kAddress), kPlciMask);
    }
    return result;
}

void DataB3Guard::forgetConnection(uint32_t applId, uint32_t address, uint32_t mask) {
    std::erase_if(outstanding_, [&](const Block& b) {
        return b.applId == applId && (b.ncci & mask) == (address & mask);
    });
}

uint32_t DataB3Guard::getVersion(CapiVersion& version) {
    return driver_.getVersion(version);
}

uint32_t DataB3Guard::getManufacturer(ManufacturerName& name) {
    return driver_.getManufacturer(name);
}

uint32_t DataB3Guard::getProfile(uint32_t controller, CapiProfile& profile) {
    return driver_.getProfile(controller, profile);
}

}  // namespace tellmaro::capi
