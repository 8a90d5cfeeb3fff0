#pragma once
// The dispatcher fuzzer's rig, shared with the regression tests: a short flow puts the engine into
// a phase, then a driver layer hands out given messages and holds the engine to libcapi20's rules.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>

#include "capi/byte_order.h"
#include "capi/message_header.h"
#include "support/flow_runner.h"

namespace tellmaro::fuzz {

using namespace test;

// DATA_B3 field offsets, and the registered block size.
inline constexpr size_t kData32 = 12, kDataLength = 16, kData64 = 22, kLayout64 = 30,
                        kBlockSize = 2048;

inline bool isDataB3(std::span<const uint8_t> message, capi::Subcommand sub) {
    return capi::readHeader(message).value_or(capi::MessageHeader{}).is(capi::Command::DataB3, sub);
}

// Passes everything on until armed, then hands out the fuzzed messages and keeps the puts. A
// DATA_B3_REQ's block must be readable and at most 2048 bytes (the guard owns the responses' rule).
class FuzzDriver final : public ForwardingDriver {
  public:
    explicit FuzzDriver(capi::CapiDriver& inner) : ForwardingDriver(inner) {
        for (auto& block : blocks_) {  // one allocation each, so that reading past one is caught
            block = std::make_unique<uint8_t[]>(kBlockSize);
            std::memset(block.get(), 0xD5, kBlockSize);
        }
    }

    void arm() { armed_ = true; }
    std::function<void(std::span<const uint8_t>)> onPut = [](auto) {};
    // False: a test checks the DATA_B3_REQ's pointers itself instead of faulting on a wild one.
    bool readBlocks = true;
    void queue(std::span<const uint8_t> bytes) { queue_.emplace_back(bytes.begin(), bytes.end()); }

    uint32_t release(uint32_t applId) override {
        return armed_ ? capi::kCapiOk : inner_.release(applId);
    }
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override {
        if (isDataB3(message, capi::Subcommand::Req)) {
            checkRequestBlock(message);
        }
        onPut(message);
        return armed_ ? capi::kCapiOk : inner_.putMessage(applId, message);
    }
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override {
        if (!armed_ || queue_.empty()) {
            return armed_ ? capi::kCapiQueueEmpty : inner_.getMessage(applId, message);
        }
        current_ = std::move(queue_.front());
        queue_.pop_front();
        // As libcapi20_driver.cpp: at least a header, as long as its Length says, in our buffer.
        current_.resize(std::max<size_t>(current_.size(), capi::kHeaderSize));
        const size_t length =
            std::max<size_t>(capi::readU16(current_, capi::kLengthOffset), capi::kHeaderSize);
        current_.resize(std::max(current_.size(), length));
        message = std::span<const uint8_t>(current_.data(), length);
        if (isDataB3(message, capi::Subcommand::Ind) && message.size() >= kDataLength) {
            // The one thing a real driver guarantees: the block pointer is its own buffer.
            const auto pointer = reinterpret_cast<uintptr_t>(blocks_[nextBlock_].get());
            nextBlock_ = (nextBlock_ + 1) % blocks_.size();
            const bool layout64 = message.size() >= kLayout64;
            capi::writeU32(current_, kData32, layout64 ? 0 : static_cast<uint32_t>(pointer));
            if (layout64) {
                capi::writeU64(current_, kData64, pointer);
            }
        }
        return capi::kCapiOk;
    }

  private:
    void checkRequestBlock(std::span<const uint8_t> message) {
        if (message.size() < kDataLength + 2 || capi::readU16(message, kDataLength) > kBlockSize) {
            std::fprintf(stderr, "libcapi20 rule broken: DATA_B3_REQ short or block too large\n");
            std::abort();
        }
        uint64_t pointer = 0;
        if (capi::readU16(message, capi::kLengthOffset) >= kLayout64 &&
            message.size() >= kLayout64) {
            pointer = capi::readU64(message, kData64);
        }
        pointer = pointer != 0 ? pointer : capi::readU32(message, kData32);
        const uint8_t* block = nullptr;
        for (const auto& own : blocks_) {
            const auto address = reinterpret_cast<uintptr_t>(own.get());
            if (pointer == address || pointer == static_cast<uint32_t>(address)) {
                block = own.get();
            }
        }
        if (block == nullptr && pointer > 0xFFFFFFFFu) {
            block = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(pointer));
        }
        if (block != nullptr && readBlocks) {
            // The library copies the block: let the sanitizer see that read.
            std::memcpy(scratch_.data(), block, capi::readU16(message, kDataLength));
        }
    }

    bool armed_ = false;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<uint8_t> current_;
    std::array<std::unique_ptr<uint8_t[]>, 8> blocks_;
    size_t nextBlock_ = 0;
    std::array<uint8_t, 65536> scratch_{};
};

// The phases the first input byte picks from, as flows.
inline const std::vector<Flow>& scripts() {
    static const auto flows = flowsOf(R"(party mobile 01711234567
party alice 0301234567 answer=300ms
at 1s mobile call
flow idle
flow taken; wait phase 1
flow dialogue; wait phase 5
flow dialling; party mobile 01711234567 keys=500ms:0301234567#
party alice 0301234567 answer=60s
wait phase 8
flow relaying; party mobile 01711234567 keys=500ms:0301234567#
wait phase 10
flow call-back; relay mode=call-back
party mobile 01711234567 answer=500ms
at 3s mobile hangup
wait phase 3
)");
    return flows;
}

// The program folder with the real prompts, made once per process.
struct ProgramFolder {
    ~ProgramFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path path = freshProgramFolder();
};

struct Rig {
    Rig(const std::filesystem::path& folder, size_t script)
        : run(scripts().at(script), 0, options(folder)),
          h(run.harness()),
          driver(static_cast<FuzzDriver&>(*h.outer)) {}

    static HarnessOptions options(const std::filesystem::path& folder) {
        HarnessOptions options;
        options.programFolder = folder;
        options.trace = false;
        options.outerDriver = [](auto& inner) { return std::make_unique<FuzzDriver>(inner); };
        return options;
    }

    // Only the engine's timers, in 10 ms ticks: the line is left behind once armed.
    void tick(milliseconds step) {
        for (milliseconds passed{0}; passed < step && !h.shell.ended; passed += 10ms) {
            h.clock.advance(10ms);
            h.timers.fireDue([&](relay::TimerId timer) {
                if (!h.shell.ended) {
                    h.engine.onTimer(timer);
                }
            });
        }
    }

    FlowRun run;
    EngineHarness& h;
    FuzzDriver& driver;
};

// The first byte picks the script, then a length byte and that many bytes per 10 ms tick (255: one
// second passes); `prepare` may adjust the rig once armed.
inline void replayDispatcherInput(const std::filesystem::path& folder,
                                  std::span<const uint8_t> input,
                                  const std::function<void(Rig&)>& prepare = {}) {
    if (input.empty()) {
        return;
    }
    std::filesystem::remove(folder / "error.log");
    Rig rig(folder, input[0] % scripts().size());
    rig.run.play(false);
    rig.driver.arm();
    if (prepare) {
        prepare(rig);
    }
    for (size_t at = 1; at < input.size() && !rig.h.shell.ended;) {
        const size_t length = input[at++];
        if (length == 0xFF) {
            rig.tick(1000ms);
            continue;
        }
        const size_t taken = std::min(length, input.size() - at);
        rig.driver.queue(input.subspan(at, taken));
        at += taken;
        rig.tick(10ms);
    }
    // Let the engine take what is left and run its supervision for a while.
    rig.tick(200ms);
    rig.tick(12s);
}

}  // namespace tellmaro::fuzz
