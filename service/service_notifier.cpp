#include "service/service_notifier.h"

#include <algorithm>
#include <cstdint>

#ifdef TELLMARO_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace tellmaro::service {

namespace {

void send([[maybe_unused]] const std::string& state) {
#ifdef TELLMARO_HAVE_SYSTEMD
    sd_notify(0, state.c_str());
#endif
}

}  // namespace

ServiceNotifier::ServiceNotifier() {
#ifdef TELLMARO_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) {
        interval_ = std::chrono::milliseconds(std::max<uint64_t>(usec / 2000, 1));
    }
#endif
}

void ServiceNotifier::ready() {
    send("READY=1");
}

void ServiceNotifier::status(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    if (line != status_) {
        status_ = line;
        send("STATUS=" + line);
    }
}

void ServiceNotifier::stopping() {
    send("STOPPING=1");
}

void ServiceNotifier::watchdogTick() {
    const auto now = std::chrono::steady_clock::now();
    if (interval_.count() > 0 && now - lastPing_ >= interval_) {
        lastPing_ = now;
        send("WATCHDOG=1");
    }
}

}  // namespace tellmaro::service
