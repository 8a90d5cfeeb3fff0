#include "support/engine_harness.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "capi/byte_order.h"
#include "capi/message_header.h"
#include "capi/message_trace.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
#include "exchange/simulated/virtual_time.h"
#include "support/child_process.h"

namespace tellmaro::test {

// In memory where possible: the fsyncs of saving files to disk would take most of a test's time.
std::filesystem::path freshProgramFolder() {
    auto dir = freshFolder("tellmaro-engine-", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
    for (const auto& file : std::filesystem::directory_iterator(TELLMARO_ASSET_DIR)) {
        if (file.path().extension() == ".pdt") {
            std::filesystem::copy_file(file.path(), dir / file.path().filename());
        }
    }
    return dir;
}

uint32_t ScriptedDriver::putMessage(uint32_t applId, std::span<const uint8_t> message) {
    if (faultDue()) {
        failedPut_ = capi::readHeader(message);
        fired_ = true;
        return *failCode_;
    }
    ++counted_;
    return inner_.putMessage(applId, message);
}

uint32_t ScriptedDriver::getMessage(uint32_t applId, std::span<const uint8_t>& message) {
    uint32_t result = inner_.getMessage(applId, message);
    if (result != capi::kCapiOk) {
        return result;  // an empty poll is neither counted nor failed
    }
    if (faultDue()) {  // the message is lost with the application the report releases
        fired_ = true;
        return *failCode_;
    }
    ++counted_;
    const auto header = capi::readHeader(message).value_or(capi::MessageHeader{});
    for (auto& a : alter_) {
        if (a && header.is(a->command, a->subcommand) && message.size() >= a->offset + 2 &&
            (a->ncci == 0 || capi::readU32(message, 8) == a->ncci)) {
            altered_.assign(message.begin(), message.end());
            capi::writeU16(altered_, a->offset, a->value);
            message = altered_;
            a.reset();
        }
    }
    return result;
}

data::LocalTime VirtualWallClock::now() const {
    using namespace std::chrono;
    return local_days{year{2001} / December / 3} + 14h + 5min + 33s + clock_.now();
}

void RecordingShell::setTray(relay::TrayState state) {
    static const std::pair<relay::TrayState, const char*> kNames[] = {
        {relay::kTrayReady, "ready"},
        {relay::kTrayDeactivated, "off"},
        {relay::kTrayCallActive, "active"},
        {relay::kTraySuspendedForConfiguration, "configuration"},
        {relay::kTraySuspendedForAnalysis, "analysis"}};
    trays.emplace_back(state.toolTip);
    std::string name = "tray " + std::string(state.toolTip);
    for (const auto& [known, known_name] : kNames) {
        if (known.toolTip == state.toolTip && known.iconFile == state.iconFile) {
            name = known_name;
        }
    }
    changes.push_back(name);
}

void RecordingShell::showMessage(std::string_view caption, std::string_view text,
                                 relay::MessageIcon icon) {
    messages.push_back({std::string(caption), std::string(text), icon});
    changes.push_back(caption == relay::kErrorCaption ? "error-message" : "notice");
    if (whileShown) {
        whileShown();
    }
}

EngineHarness::EngineHarness(HarnessOptions options)
    : appDir(options.programFolder.empty() ? freshProgramFolder() : options.programFolder),
      logFile(appDir / options.logFolder / "Handy.log"),
      line(clock,
           [] {
               exchange::LineConfig config;
               config.lineNumber = "0711555000";
               return config;
           }()),
      driver(line.controller()),
      scripted(driver),
      timers([this] { return clock.now(); }),
      wallClock(clock),
      outer(options.outerDriver ? options.outerDriver(scripted) : nullptr),
      store(appDir, shell, wallClock),
      engine(relay::EngineHost{outer ? *outer : scripted, timers, wallClock, shell, store, appDir}),
      ownFolder_(options.programFolder.empty()),
      phases_{relay::CallPhase::Idle} {
    data::SettingsRecord settings = options.settings;
    std::filesystem::create_directories(logFile.parent_path());
    settings.logEnabled = true;
    settings.logFilePath = data::utf8ToWindows1252(logFile.string()).text.value_or("");
    settings.logFileName = "Handy.log";
    std::ofstream(logFile, std::ios::binary).flush();
    if (settings.ownNumber == std::string(20, ' ')) {
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 7;
    }
    (void)data::SaveSettings(appDir, settings);
    // None is "0" on file, a number that serves nobody either.
    (void)data::SaveMobileNumber(appDir, options.mobileNumber.empty() ? "0" : options.mobileNumber);
    if (options.trace) {
        line.setTraceHook([this](const exchange::TraceEntry& entry) {
            trace_.push_back(exchange::formatTrace(entry));
            if (entry.direction == exchange::TraceDirection::ToController) {
                sent_.push_back(
                    {entry.at, {entry.message.begin(), entry.message.end()}, entry.text});
            }
        });
    }
}

EngineHarness::~EngineHarness() {
    std::error_code ignored;
    std::filesystem::remove_all(ownFolder_ ? appDir : "", ignored);
}

void EngineHarness::startUp() {
    (void)engine.startUp();
}

bool EngineHarness::runUntil(const std::function<bool()>& done, milliseconds limit) {
    milliseconds end = clock.now() + limit;
    while (!shell.ended) {
        milliseconds next = exchange::nextMoment(line, timers.nextDue(), end);
        clock.set(next);
        line.runDueEvents();
        if (done()) {
            return true;
        }
        timers.fireDue([&](relay::TimerId timer) { engine.onTimer(timer); });
        notePhase();
        if (done()) {
            return true;
        }
        if (next >= end) {
            break;
        }
    }
    return false;
}

std::string EngineHarness::traceText(size_t lastLines) const {
    size_t first = lastLines == 0 || lastLines >= trace_.size() ? 0 : trace_.size() - lastLines;
    std::string text;
    for (size_t i = first; i < trace_.size(); ++i) {
        text += trace_[i] + '\n';
    }
    return text;
}

}  // namespace tellmaro::test
