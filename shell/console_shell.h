#pragma once
// The shell of the console program: no tray and no windows; each tray change
// becomes one line on standard output, each message box one line on
// standard error.

#include <cstdio>
#include <string_view>

#include "relay/engine_ports.h"
#include "service/service_notifier.h"
#include "shell/single_instance.h"

namespace tellmaro::shell {

class ConsoleShell final : public relay::ShellPort {
  public:
    explicit ConsoleShell(std::FILE* out = stdout, std::FILE* err = stderr)
        : out_(out), err_(err) {}

    bool addTray(relay::TrayState state) override {
        setTray(state);
        return true;
    }
    void setTray(relay::TrayState state) override;
    void setConfigurationMenuEnabled(bool) override {}
    // The console has no menu: the relay is always switched on.
    bool relayActivated() const override { return true; }
    void showMessage(std::string_view caption, std::string_view text,
                     relay::MessageIcon icon) override;
    void closeWindowsAndEnd() override { endRequested_ = true; }
    bool stopRequested() const override;
    bool claimSingleInstance(const std::filesystem::path& dataFolder) override {
        return instance_.acquire(dataFolder);
    }

    // SIGINT and SIGTERM end the relay, during start-up too.
    static void catchStopSignals();
    // The error report ended the program.
    bool endRequested() const { return endRequested_; }
    // systemd hears of the relay too: the tray's tool tip is its status.
    service::ServiceNotifier& service() { return service_; }

  private:
    std::FILE* out_;
    std::FILE* err_;
    bool endRequested_ = false;
    SingleInstanceLock instance_;
    service::ServiceNotifier service_;
};

}  // namespace tellmaro::shell
