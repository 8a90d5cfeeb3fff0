#pragma once
// A fresh engine on the in-process line simulator, in virtual time: the
// window timers, the wall clock and the shell are test doubles, and the
// program directory is a temporary folder with the real voice prompts.

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "data/settings_record.h"
#include "exchange/clock.h"
#include "exchange/in_process_driver.h"
#include "exchange/line_simulator.h"
#include "relay/engine.h"

namespace tellmaro::test {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

class VirtualTimers final : public relay::Timers {
  public:
    explicit VirtualTimers(const exchange::Clock& clock) : clock_(clock) {}

    void setTimerEnabled(relay::TimerId timer, bool enabled) override;
    bool timerEnabled(relay::TimerId timer) const override;
    std::optional<milliseconds> nextDue() const;
    // The timers due at the clock's time, in the order a window system fires them.
    std::vector<relay::TimerId> takeDue();

    static milliseconds interval(relay::TimerId timer);

  private:
    struct State {
        bool enabled = false;
        milliseconds due{0};
    };
    State& state(relay::TimerId timer) { return timers_[static_cast<size_t>(timer)]; }
    const State& state(relay::TimerId timer) const { return timers_[static_cast<size_t>(timer)]; }

    const exchange::Clock& clock_;
    std::array<State, 4> timers_{};
};

class VirtualWallClock final : public relay::WallClock {
  public:
    explicit VirtualWallClock(const exchange::Clock& clock) : clock_(clock) {}
    // 03.12.2001 14:05:33 plus the virtual time.
    data::LocalTime now() const override;

  private:
    const exchange::Clock& clock_;
};

struct ShownMessage {
    std::string caption;
    std::string text;
    relay::MessageIcon icon;
};

class RecordingShell final : public relay::ShellPort {
  public:
    void setTray(relay::TrayState state) override { trays.push_back(std::string(state.toolTip)); }
    void setConfigurationMenuEnabled(bool enabled) override { menuEnabled = enabled; }
    bool relayActivated() const override { return activated; }
    void showMessage(std::string_view caption, std::string_view text,
                     relay::MessageIcon icon) override {
        messages.push_back({std::string(caption), std::string(text), icon});
    }
    void closeWindowsAndEnd() override { ended = true; }

    std::vector<std::string> trays;  // tool tips, in order
    bool menuEnabled = true;
    bool activated = true;
    bool ended = false;
    std::vector<ShownMessage> messages;
};

struct HarnessOptions {
    data::SettingsRecord settings;
    std::string mobileNumber = "01711234567";
    bool logging = true;
};

class EngineHarness {
  public:
    explicit EngineHarness(HarnessOptions options = {});
    ~EngineHarness();

    // The start-up steps of the console program: register, call log, phone
    // book, listen, Timer1.
    void startUp();
    // Runs the timers and the line until `duration` of virtual time has passed.
    void runFor(milliseconds duration);
    milliseconds now() const { return clock.now(); }

    exchange::PartyId addParty(std::string number, exchange::PartyBehaviour behaviour = {});
    std::string callLogText() const;
    std::string errorLogText() const;
    // Every message the engine put, in order, as describeMessage text.
    const std::vector<std::string>& sent() const { return sent_; }
    const std::vector<std::vector<uint8_t>>& sentBytes() const { return sentBytes_; }

    std::filesystem::path appDir;
    std::filesystem::path logFile;
    exchange::ManualClock clock;
    exchange::LineSimulator line;
    exchange::InProcessDriver driver;
    VirtualTimers timers;
    VirtualWallClock wallClock;
    RecordingShell shell;
    relay::Engine engine;

  private:
    std::vector<std::string> sent_;
    std::vector<std::vector<uint8_t>> sentBytes_;
};

}  // namespace tellmaro::test
