#include "engine_harness.h"

#include <fstream>
#include <random>
#include <sstream>

#include "capi/message_trace.h"
#include "data/settings_file.h"
#include "data/windows1252.h"

namespace tellmaro::test {

namespace {

std::filesystem::path freshDirectory() {
    std::random_device random;
    auto dir = std::filesystem::temp_directory_path() /
               ("tellmaro-engine-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(dir);
    return dir;
}

std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

exchange::LineConfig lineConfig() {
    exchange::LineConfig config;
    config.lineNumber = "0711555000";
    return config;
}

}  // namespace

void VirtualTimers::setTimerEnabled(relay::TimerId timer, bool enabled) {
    State& s = state(timer);
    if (enabled && !s.enabled) {
        s.due = clock_.now() + interval(timer);
    }
    s.enabled = enabled;
}

bool VirtualTimers::timerEnabled(relay::TimerId timer) const {
    return state(timer).enabled;
}

milliseconds VirtualTimers::interval(relay::TimerId timer) {
    switch (timer) {
        case relay::TimerId::Timer1:
            return 10ms;
        case relay::TimerId::Timer2:
            return 8000ms;
        case relay::TimerId::Timer3:
        case relay::TimerId::Timer4:
            return 100ms;
    }
    return 10ms;
}

std::optional<milliseconds> VirtualTimers::nextDue() const {
    std::optional<milliseconds> next;
    for (const auto& s : timers_) {
        if (s.enabled && (!next || s.due < *next)) {
            next = s.due;
        }
    }
    return next;
}

std::vector<relay::TimerId> VirtualTimers::takeDue() {
    std::vector<relay::TimerId> due;
    for (size_t i = 0; i < timers_.size(); ++i) {
        State& s = timers_[i];
        if (s.enabled && s.due <= clock_.now()) {
            due.push_back(static_cast<relay::TimerId>(i));
            s.due += interval(static_cast<relay::TimerId>(i));
        }
    }
    return due;
}

data::LocalTime VirtualWallClock::now() const {
    using namespace std::chrono;
    return local_days{year{2001} / December / 3} + 14h + 5min + 33s + clock_.now();
}

EngineHarness::EngineHarness(HarnessOptions options)
    : appDir(freshDirectory()),
      logFile(appDir / "Handy.log"),
      line(clock, lineConfig()),
      driver(line),
      timers(clock),
      wallClock(clock),
      engine(relay::EngineHost{driver, timers, wallClock, shell, appDir}) {
    for (const auto& prompt :
         std::filesystem::directory_iterator(std::filesystem::path(TELLMARO_ASSET_DIR))) {
        if (prompt.path().extension() == ".pdt") {
            std::filesystem::copy_file(prompt.path(), appDir / prompt.path().filename());
        }
    }
    data::SettingsRecord& settings = engine.settings();
    settings = options.settings;
    if (options.logging) {
        settings.logEnabled = true;
        settings.logFilePath = data::utf8ToWindows1252(logFile.string()).text.value_or("");
        settings.logFileName = "Handy.log";
        std::ofstream(logFile, std::ios::binary).flush();
    }
    if (settings.ownNumber == std::string(20, ' ')) {
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 7;
    }
    (void)data::SaveSettings(appDir, settings);
    engine.setRegisteredMobileNumber(options.mobileNumber);
    line.setTraceHook([this](const exchange::TraceEntry& entry) {
        if (entry.direction == exchange::TraceDirection::ToController) {
            sent_.push_back(entry.text);
            sentBytes_.emplace_back(entry.message.begin(), entry.message.end());
        }
    });
}

EngineHarness::~EngineHarness() {
    std::error_code ignored;
    std::filesystem::remove_all(appDir, ignored);
}

void EngineHarness::startUp() {
    if (!engine.registerApplication()) {
        return;
    }
    engine.openCallLogAtStartUp();
    engine.loadPhoneBook();
    if (engine.listen(capi::ListenMask::Calls)) {
        timers.setTimerEnabled(relay::TimerId::Timer1, true);
        shell.setTray(relay::kTrayReady);
    }
}

void EngineHarness::runFor(milliseconds duration) {
    milliseconds end = clock.now() + duration;
    while (!shell.ended) {
        milliseconds next = end;
        if (auto due = timers.nextDue(); due && *due < next) {
            next = *due;
        }
        if (auto event = line.nextEventTime(); event && *event < next) {
            next = *event;
        }
        clock.set(next);
        line.runDueEvents();
        for (relay::TimerId timer : timers.takeDue()) {
            engine.onTimer(timer);
        }
        if (next >= end) {
            break;
        }
    }
}

exchange::PartyId EngineHarness::addParty(std::string number, exchange::PartyBehaviour behaviour) {
    return line.addParty(std::move(number), std::move(behaviour));
}

std::string EngineHarness::callLogText() const {
    return data::windows1252ToUtf8(readText(logFile));
}

std::string EngineHarness::errorLogText() const {
    return readText(appDir / "error.log");
}

}  // namespace tellmaro::test
