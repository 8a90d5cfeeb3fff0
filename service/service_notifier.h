#pragma once
// Tells the service manager how a program is doing (systemd's notify
// protocol, through $NOTIFY_SOCKET): ready, a one-line status, the
// watchdog's ping, stopping. Without a service manager, or built without
// libsystemd, every call does nothing. Not thread-safe: one thread calls.

#include <chrono>
#include <string>
#include <string_view>

namespace tellmaro::service {

class ServiceNotifier {
  public:
    ServiceNotifier();  // reads the watchdog's timeout from the environment

    void ready();
    // Sent only when it differs from the last; control characters become
    // spaces, so a text from the network cannot add lines of its own.
    void status(std::string_view text);
    void stopping();

    // Called from the loop that must keep running, as often as it turns:
    // pings every watchdogInterval(), none when no watchdog is asked for.
    void watchdogTick();
    // Half the service's watchdog timeout; zero when there is none.
    std::chrono::milliseconds watchdogInterval() const { return interval_; }

  private:
    std::chrono::milliseconds interval_{0};
    std::chrono::steady_clock::time_point lastPing_{};
    std::string status_;
};

}  // namespace tellmaro::service
