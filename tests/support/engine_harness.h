#pragma once
// A fresh engine on the in-process line in virtual time, in a temporary folder with the prompts.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "capi/message_header.h"
#include "data/settings_record.h"
#include "data/windows1252.h"
#include "exchange/controller/clock.h"
#include "exchange/controller/in_process_driver.h"
#include "exchange/simulated/line_simulator.h"
#include "relay/engine.h"
#include "relay/timer_schedule.h"
#include "support/child_process.h"

namespace tellmaro::test {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// 03.12.2001 14:05:33 plus the virtual time.
class VirtualWallClock final : public relay::WallClock {
  public:
    explicit VirtualWallClock(const exchange::Clock& clock) : clock_(clock) {}
    data::LocalTime now() const override;

  private:
    const exchange::Clock& clock_;
};

// Passes every call on; a layer overrides what it changes or watches.
class ForwardingDriver : public capi::CapiDriver {
  public:
    explicit ForwardingDriver(capi::CapiDriver& inner) : inner_(inner) {}
    uint32_t installed() override { return inner_.installed(); }
    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override {
        return inner_.registerApplication(params, applId);
    }
    uint32_t release(uint32_t applId) override { return inner_.release(applId); }
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override {
        return inner_.putMessage(applId, message);
    }
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override {
        return inner_.getMessage(applId, message);
    }
    uint32_t getVersion(capi::CapiVersion& version) override { return inner_.getVersion(version); }
    uint32_t getManufacturer(capi::ManufacturerName& name) override {
        return inner_.getManufacturer(name);
    }
    uint32_t getProfile(uint32_t controller, capi::CapiProfile& profile) override {
        return inner_.getProfile(controller, profile);
    }

  protected:
    capi::CapiDriver& inner_;
};

// Makes the faults the line never makes: altered indications, failed calls.
class ScriptedDriver final : public ForwardingDriver {
  public:
    using ForwardingDriver::ForwardingDriver;

    // The next DATA_B3_IND (on `ncci`, any when 0) claims this data length.
    void shortenNextDataB3Ind(uint16_t length, uint32_t ncci = 0) {
        alter_[0] = {capi::Command::DataB3, capi::Subcommand::Ind, 16, length, ncci};
    }
    // The next CONNECT_CONF carries this Info, as when the line has no B channel free.
    void refuseNextConnectConf(uint16_t info) {
        alter_[1] = {capi::Command::Connect, capi::Subcommand::Conf, 12, info, 0};
    }
    // Fails with `code` the counted call (a put, or a get that brings a message) after `counted`
    // of them; `driverGone`: 0x1009 after.
    void failCallAfter(size_t counted, uint32_t code, bool driverGone = false) {
        failAfter_ = counted;
        failCode_ = code;
        driverGoneOnFault_ = driverGone;
    }
    size_t countedCalls() const { return counted_; }
    bool faultFired() const { return fired_; }
    // The header of the put that failed; none when a get failed.
    const std::optional<capi::MessageHeader>& failedPut() const { return failedPut_; }

    uint32_t installed() override { return gone() ? capi::kCapiNotInstalled : inner_.installed(); }
    uint32_t registerApplication(const capi::RegisterParams& params, uint32_t& applId) override {
        return gone() ? capi::kCapiNotInstalled : inner_.registerApplication(params, applId);
    }
    uint32_t putMessage(uint32_t applId, std::span<const uint8_t> message) override;
    uint32_t getMessage(uint32_t applId, std::span<const uint8_t>& message) override;

  private:
    // One 16-bit field of the next received message of a kind, on an NCCI (any when 0).
    struct Alteration {
        capi::Command command;
        capi::Subcommand subcommand;
        size_t offset;
        uint16_t value;
        uint32_t ncci;
    };
    bool faultDue() const { return failCode_ && !fired_ && counted_ == failAfter_; }
    bool gone() const { return fired_ && driverGoneOnFault_; }

    size_t counted_ = 0, failAfter_ = 0;
    std::optional<uint32_t> failCode_;
    bool driverGoneOnFault_ = false, fired_ = false;
    std::optional<capi::MessageHeader> failedPut_;
    std::optional<Alteration> alter_[2];
    std::vector<uint8_t> altered_;
};

struct ShownMessage {
    std::string caption, text;
    relay::MessageIcon icon;
};

class RecordingShell final : public relay::ShellPort {
  public:
    void setTray(relay::TrayState state) override;
    void setConfigurationMenuEnabled(bool enabled) override {
        menuEnabled = enabled;
        changes.push_back(enabled ? "menu-on" : "menu-off");
    }
    bool relayActivated() const override { return activated; }
    void showMessage(std::string_view caption, std::string_view text,
                     relay::MessageIcon icon) override;
    void closeWindowsAndEnd() override {
        ended = true;
        changes.push_back("end");
    }

    std::vector<std::string> trays;  // tool tips, in order
    bool menuEnabled = true, activated = true, ended = false;
    std::function<void()> whileShown;  // what runs while a message box is open
    std::vector<ShownMessage> messages;
    // Everything shown, in order: "ready" (for kTrayReady), "menu-on", "error-message", "end".
    std::vector<std::string> changes;
};

// A message the engine put and the line took; `text` as describeMessage gives it.
struct SentMessage {
    milliseconds at{0};
    std::vector<uint8_t> bytes;
    std::string text;
};

// A temporary folder with the voice prompts, removed by the caller.
std::filesystem::path freshProgramFolder();

struct HarnessOptions {
    data::SettingsRecord settings;
    std::string mobileNumber = "01711234567";
    std::string logFolder{};                // inside the program folder
    std::filesystem::path programFolder{};  // kept; when empty a fresh one, removed at the end
    bool trace = true;                      // keep the sent messages and the trace
    // A further layer between the engine and the scripted driver.
    std::function<std::unique_ptr<capi::CapiDriver>(capi::CapiDriver& inner)> outerDriver{};
};

class EngineHarness {
  public:
    explicit EngineHarness(HarnessOptions options = {});
    ~EngineHarness();
    EngineHarness(const EngineHarness&) = delete;
    EngineHarness& operator=(const EngineHarness&) = delete;

    // The engine's start-up on the files the harness wrote.
    void startUp();
    void runFor(milliseconds duration) {
        (void)runUntil([] { return false; }, duration);
    }
    // Runs step by step until `done` holds (true) or `limit` has passed (false).
    bool runUntil(const std::function<bool()>& done, milliseconds limit = 120s);
    relay::CallPhase phase() const { return engine.state().callPhase; }
    milliseconds now() const { return clock.now(); }
    // Every phase the engine was seen in, each change once.
    const std::vector<relay::CallPhase>& phases() const { return phases_; }
    void notePhase() {
        if (phase() != phases_.back()) {
            phases_.push_back(phase());
        }
    }

    exchange::PartyId addParty(std::string number, exchange::PartyBehaviour behaviour = {}) {
        return line.addParty(std::move(number), std::move(behaviour));
    }
    std::string callLogText() const { return data::windows1252ToUtf8(readFile(logFile)); }
    std::string errorLogText() const { return readFile(appDir / "error.log"); }
    const std::vector<SentMessage>& sentMessages() const { return sent_; }
    // The line trace's last lines (0: all of it), for failure messages.
    std::string traceText(size_t lastLines = 0) const;

    std::filesystem::path appDir, logFile;
    exchange::ManualClock clock;
    exchange::LineSimulator line;
    exchange::InProcessDriver driver;
    ScriptedDriver scripted;
    relay::TimerSchedule timers;
    VirtualWallClock wallClock;
    RecordingShell shell;
    std::unique_ptr<capi::CapiDriver> outer;  // HarnessOptions::outerDriver's layer
    relay::Store store;
    relay::Engine engine;

  private:
    bool ownFolder_;
    std::vector<SentMessage> sent_;
    std::vector<std::string> trace_;
    std::vector<relay::CallPhase> phases_;
};

}  // namespace tellmaro::test
