#pragma once
// A minimal CAPI application for the simulator benchmarks: it answers the
// first call, calls a second party and passes every audio block to the other
// leg, so both legs of a call carry audio in both directions.

#include <cstdint>
#include <span>
#include <string>

#include "capi/byte_order.h"
#include "capi/capi_driver.h"
#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "capi/parameter_records.h"

namespace tellmaro::bench {

class TwoLegClient {
  public:
    TwoLegClient(capi::CapiDriver& driver, std::string targetNumber)
        : driver_(driver), target_(std::move(targetNumber)) {}

    bool start() {
        if (driver_.registerApplication({3072, 2, 7, 2048}, applId_) != capi::kCapiOk) {
            return false;
        }
        templates_.setApplId(static_cast<uint16_t>(applId_));
        return put(templates_.listenReq(capi::ListenMask::Calls));
    }

    // Handles every message queued now; returns how many.
    int poll() {
        int handled = 0;
        std::span<const uint8_t> message;
        while (driver_.getMessage(applId_, message) == capi::kCapiOk) {
            handle(message);
            ++handled;
        }
        return handled;
    }

    void stop() { driver_.release(applId_); }
    uint64_t relayedBlocks() const { return relayed_; }

  private:
    using C = capi::Command;
    using S = capi::Subcommand;

    bool put(capi::MessageTemplates::Bytes bytes) {
        return driver_.putMessage(applId_, bytes) == capi::kCapiOk;
    }

    void handle(std::span<const uint8_t> message) {
        auto header = *capi::readHeader(message);
        uint32_t address = message.size() >= 12 ? capi::readU32(message, 8) : 0;
        if (header.is(C::Connect, S::Ind)) {
            mobilePlci_ = address;
            put(templates_.connectRespAnswer(address, "0711555000"));
        } else if (header.is(C::Connect, S::Conf)) {
            targetPlci_ = address;
        } else if (header.is(C::ConnectActive, S::Ind)) {
            put(templates_.connectActiveResp(address));
            if (address == targetPlci_) {
                put(templates_.connectB3Req(address));
            } else {
                put(templates_.connectReqToNumber(target_, "0711555000"));
            }
        } else if (header.is(C::ConnectB3, S::Ind)) {
            mobileNcci_ = address;
            put(templates_.connectB3Resp(address, 0));
        } else if (header.is(C::ConnectB3, S::Conf)) {
            targetNcci_ = address;
        } else if (header.is(C::ConnectB3Active, S::Ind)) {
            put(templates_.connectB3ActiveResp(address));
        } else if (header.is(C::DataB3, S::Ind)) {
            block_.fill(message);
            uint32_t other = block_.ncci() == mobileNcci_ ? targetNcci_ : mobileNcci_;
            if (other != 0) {
                put(templates_.dataB3Req(other, block_.data(), block_.dataLength(),
                                         static_cast<uint16_t>(relayed_ % 200), 0));
                ++relayed_;
            }
            put(templates_.dataB3Resp(capi::DataB3RespNumber::OnReceipt, block_.ncci(),
                                      block_.dataHandle()));
        } else if (header.is(C::DisconnectB3, S::Ind)) {
            put(templates_.disconnectB3Resp(address));
        } else if (header.is(C::Disconnect, S::Ind)) {
            put(templates_.disconnectResp(header.messageNumber, address));
        }
    }

    capi::CapiDriver& driver_;
    std::string target_;
    capi::MessageTemplates templates_;
    capi::DataB3IndParams block_;
    uint32_t applId_ = 0;
    uint32_t mobilePlci_ = 0;
    uint32_t targetPlci_ = 0;
    uint32_t mobileNcci_ = 0;
    uint32_t targetNcci_ = 0;
    uint64_t relayed_ = 0;
};

}  // namespace tellmaro::bench
