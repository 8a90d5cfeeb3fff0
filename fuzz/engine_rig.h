#pragma once
// An engine on the in-process simulator for the dispatcher fuzzer and its
// seed maker: a short scripted call puts it into a phase, then a driver
// double hands out given messages and holds the engine to libcapi20's rules.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "capi/byte_order.h"
#include "capi/message_header.h"
#include "engine_harness.h"
#include "exchange/simulated/virtual_time.h"

namespace tellmaro::fuzz {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

inline constexpr size_t kNcci = 8;
inline constexpr size_t kData32 = 12;
inline constexpr size_t kDataLength = 16;
inline constexpr size_t kDataHandle = 18;
inline constexpr size_t kData64 = 22;
inline constexpr size_t kLayout64 = 30;
inline constexpr size_t kRespHandle = 12;
inline constexpr size_t kBlockSize = 2048;
inline constexpr size_t kBlocks = 8;

inline const char* const kMobile = "01711234567";
inline const char* const kTarget = "0301234567";

[[noreturn]] inline void violated(const char* rule) {
    std::fprintf(stderr, "libcapi20 rule broken: %s\n", rule);
    std::abort();
}

// Passes everything to the simulator's driver until armed; then hands out
// the fuzzed messages and keeps the puts to itself. Either way it holds the
// engine to libcapi20's rules: a DATA_B3_RESP answers one delivered block
// once, and a DATA_B3_REQ's block is readable and at most 2048 bytes.
class FuzzDriver final : public capi::CapiDriver {
  public:
    explicit FuzzDriver(capi::CapiDriver& inner) : inner_(inner) {
        for (auto& block : blocks_) {
            // Separate allocations of exactly one block, so that reading past
            // one is caught.
            block = std::make_unique<uint8_t[]>(kBlockSize);
            std::memset(block.get(), 0xD5, kBlockSize);
        }
    }

    void arm() { armed_ = true; }
    // Before arm(): sees every message the line delivers.
    std::function<void(std::span<const uint8_t>)> onReceived;
    // Sees every put.
    std::function<void(std::span<const uint8_t>)> onPut;
    // False: a DATA_B3_REQ's block is not read (a test then checks the
    // pointers itself instead of faulting on a wild one).
    bool readBlocks = true;
    void queue(std::span<const uint8_t> bytes) { queue_.emplace_back(bytes.begin(), bytes.end()); }
    bool queueEmpty() const { return queue_.empty(); }

    uint32_t installed() override { return inner_.installed(); }
    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override {
        return inner_.registerApplication(params, applId);
    }
    uint32_t release(uint32_t applId) override {
        return armed_ ? capi::kCapiOk : inner_.release(applId);
    }
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override {
        check(message);
        if (onPut) {
            onPut(message);
        }
        return armed_ ? capi::kCapiOk : inner_.putMessage(applId, message);
    }
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override {
        if (!armed_) {
            uint32_t result = inner_.getMessage(applId, message);
            if (result == capi::kCapiOk) {
                noteDelivered(message);
                if (onReceived) {
                    onReceived(message);
                }
            }
            return result;
        }
        if (queue_.empty()) {
            return capi::kCapiQueueEmpty;
        }
        current_ = std::move(queue_.front());
        queue_.pop_front();
        // As libcapi20_driver.cpp: at least a header, and as long as its
        // Length field says; the buffer behind it is the driver's.
        current_.resize(std::max<size_t>(current_.size(), capi::kHeaderSize));
        const size_t length =
            std::max<size_t>(capi::readU16(current_, capi::kLengthOffset), capi::kHeaderSize);
        current_.resize(std::max(current_.size(), length));
        message = std::span<const uint8_t>(current_.data(), length);
        auto header = capi::readHeader(message);
        if (header && header->is(capi::Command::DataB3, capi::Subcommand::Ind) &&
            message.size() >= kDataLength) {
            // The one thing a real driver guarantees: the block pointer is its own buffer.
            const auto pointer = reinterpret_cast<uintptr_t>(blocks_[nextBlock_].get());
            nextBlock_ = (nextBlock_ + 1) % kBlocks;
            if (message.size() >= kLayout64) {
                capi::writeU32(current_, kData32, 0);
                capi::writeU64(current_, kData64, pointer);
            } else {
                capi::writeU32(current_, kData32, static_cast<uint32_t>(pointer));
            }
        }
        noteDelivered(message);
        return capi::kCapiOk;
    }
    uint32_t getVersion(capi::CapiVersion& version) override { return inner_.getVersion(version); }
    uint32_t getManufacturer(capi::ManufacturerName& name) override {
        return inner_.getManufacturer(name);
    }
    uint32_t getProfile(uint32_t controller, capi::CapiProfile& profile) override {
        return inner_.getProfile(controller, profile);
    }

  private:
    struct Block {
        uint32_t ncci;
        uint16_t handle;
        bool operator==(const Block&) const = default;
    };

    void noteDelivered(std::span<const uint8_t> message) {
        auto header = capi::readHeader(message);
        if (header && header->is(capi::Command::DataB3, capi::Subcommand::Ind) &&
            message.size() >= kDataHandle + 2) {
            unanswered_.push_back(
                {capi::readU32(message, kNcci), capi::readU16(message, kDataHandle)});
        }
    }

    void check(std::span<const uint8_t> message) {
        auto header = capi::readHeader(message);
        if (!header) {
            return;
        }
        if (header->is(capi::Command::DataB3, capi::Subcommand::Resp)) {
            if (message.size() < kRespHandle + 2) {
                violated("DATA_B3_RESP too short");
            }
            const Block answered{capi::readU32(message, kNcci),
                                 capi::readU16(message, kRespHandle)};
            auto it = std::find(unanswered_.begin(), unanswered_.end(), answered);
            if (it == unanswered_.end()) {
                violated("DATA_B3_RESP for no outstanding DATA_B3_IND");
            }
            unanswered_.erase(it);
        } else if (header->is(capi::Command::DataB3, capi::Subcommand::Req)) {
            checkRequestBlock(message, header->length);
        }
    }

    void checkRequestBlock(std::span<const uint8_t> message, uint16_t length) {
        if (message.size() < kDataLength + 2) {
            violated("DATA_B3_REQ too short");
        }
        const uint16_t size = capi::readU16(message, kDataLength);
        if (size > kBlockSize) {
            violated("DATA_B3_REQ block larger than registered");
        }
        uint64_t pointer = 0;
        if (length >= kLayout64 && message.size() >= kLayout64) {
            pointer = capi::readU64(message, kData64);
        }
        if (pointer == 0) {
            pointer = capi::readU32(message, kData32);
        }
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
            std::memcpy(scratch_.data(), block, size);
        }
    }

    capi::CapiDriver& inner_;
    bool armed_ = false;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<uint8_t> current_;
    std::array<std::unique_ptr<uint8_t[]>, kBlocks> blocks_;
    size_t nextBlock_ = 0;
    std::vector<Block> unanswered_;
    std::array<uint8_t, 65536> scratch_{};
};

// The program folder with the real prompts, made once per process.
struct ProgramFolder {
    ProgramFolder() {
        path = std::filesystem::temp_directory_path() /
               ("tellmaro-fuzz-engine-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        for (const auto& prompt :
             std::filesystem::directory_iterator(std::filesystem::path(TELLMARO_ASSET_DIR))) {
            if (prompt.path().extension() == ".pdt") {
                std::filesystem::copy_file(prompt.path(), path / prompt.path().filename(),
                                           std::filesystem::copy_options::overwrite_existing);
            }
        }
    }
    ~ProgramFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

inline exchange::LineConfig lineConfig() {
    exchange::LineConfig config;
    config.lineNumber = "0711555000";
    return config;
}

enum class Script : uint8_t { Idle, Taken, Dialogue, Dialling, Relaying, CallBack, Count };

struct Rig {
    Rig(const std::filesystem::path& appDir, Script script)
        : line(clock, lineConfig()),
          inner(line.controller()),
          driver(inner),
          timers([this] { return clock.now(); }),
          wallClock(clock),
          engine(relay::EngineHost{driver, timers, wallClock, shell, appDir}) {
        data::SettingsRecord& settings = engine.settings();
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 7;
        settings.callBack = script == Script::CallBack;
        engine.setRegisteredMobileNumber(kMobile);
    }

    void startUp() {
        if (!engine.registerApplication()) {
            return;
        }
        engine.openCallLogAtStartUp();
        engine.loadPhoneBook();
        if (engine.listen(capi::ListenMask::Calls)) {
            timers.setTimerEnabled(relay::TimerId::Timer1, true);
        }
    }

    // The line and the timers in virtual time until the phase is reached or
    // `limit` has passed.
    void runUntil(relay::CallPhase wanted, milliseconds limit) {
        runUntil([&] { return engine.state().callPhase == wanted; }, limit);
    }
    void runFor(milliseconds duration) {
        runUntil([] { return false; }, duration);
    }
    void runUntil(const std::function<bool()>& done, milliseconds limit) {
        const milliseconds end = clock.now() + limit;
        while (!shell.ended && !done()) {
            milliseconds next = exchange::nextMoment(line, timers.nextDue(), end);
            clock.set(next);
            line.runDueEvents();
            timers.fireDue([&](relay::TimerId timer) { engine.onTimer(timer); });
            if (done()) {
                return;
            }
            if (next >= end) {
                return;
            }
        }
    }

    // Only the engine's timers, every 10 ms tick of `step`: the line is
    // left behind once armed.
    void tick(milliseconds step) {
        for (milliseconds passed{0}; passed < step && !shell.ended; passed += 10ms) {
            clock.advance(10ms);
            timers.fireDue([&](relay::TimerId timer) {
                if (!shell.ended) {
                    engine.onTimer(timer);
                }
            });
        }
    }

    void play(Script script) {
        startUp();
        exchange::PartyBehaviour mobile;
        exchange::PartyBehaviour target;
        target.answerAfter = 300ms;
        relay::CallPhase wanted = relay::CallPhase::Idle;
        switch (script) {
            case Script::Idle:
            case Script::Count:
                return;
            case Script::Taken:
                wanted = relay::CallPhase::Taken;
                break;
            case Script::Dialogue:
                wanted = relay::CallPhase::Dialogue;
                break;
            case Script::Dialling:
                mobile.keys = {{500ms, std::string(kTarget) + "#"}};
                target.answerAfter = 60s;
                wanted = relay::CallPhase::DialConfirmed;
                break;
            case Script::Relaying:
                mobile.keys = {{500ms, std::string(kTarget) + "#"}};
                wanted = relay::CallPhase::Relaying;
                break;
            case Script::CallBack:
                mobile.answerAfter = 500ms;
                wanted = relay::CallPhase::CallBackConfirmed;
                break;
        }
        const exchange::PartyId mobileId = line.addParty(kMobile, mobile);
        line.addParty(kTarget, target);
        line.callPcAt(clock.now() + 1s, mobileId);
        if (script == Script::CallBack) {
            // The mobile gives up ringing: the relay calls back.
            line.hangUpAt(clock.now() + 3s, mobileId);
        }
        runUntil(wanted, 20s);
    }

    exchange::ManualClock clock;
    exchange::LineSimulator line;
    exchange::InProcessDriver inner;
    FuzzDriver driver;
    relay::TimerSchedule timers;
    test::VirtualWallClock wallClock;
    test::RecordingShell shell;
    relay::Engine engine;
};

// One fuzz input: the first byte picks the script, then each message is a
// length byte and that many bytes (length 255: one second passes instead),
// one per Timer1 tick. `prepare` may adjust the rig once it is armed.
inline void replayDispatcherInput(const std::filesystem::path& appDir,
                                  std::span<const uint8_t> input,
                                  const std::function<void(Rig&)>& prepare = {}) {
    if (input.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(appDir / "error.log", ignored);
    const auto script = static_cast<Script>(input[0] % static_cast<uint8_t>(Script::Count));
    Rig rig(appDir, script);
    rig.play(script);
    rig.driver.arm();
    if (prepare) {
        prepare(rig);
    }
    size_t at = 1;
    while (at < input.size() && !rig.shell.ended) {
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
    for (int i = 0; i < 20 && !rig.shell.ended; ++i) {
        rig.tick(10ms);
    }
    for (int i = 0; i < 12 && !rig.shell.ended; ++i) {
        rig.tick(1000ms);
    }
}

}  // namespace tellmaro::fuzz
