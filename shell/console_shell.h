#pragma once
// The shell of the console program: no tray and no windows; each tray change
// and each message box becomes one line on standard output.

#include <cstdio>
#include <string_view>

#include "relay/engine_ports.h"

namespace tellmaro::shell {

class ConsoleShell final : public relay::ShellPort {
  public:
    explicit ConsoleShell(std::FILE* out = stdout) : out_(out) {}

    void setTray(relay::TrayState state) override;
    void setConfigurationMenuEnabled(bool) override {}
    // The console has no menu: the relay is always switched on.
    bool relayActivated() const override { return true; }
    void showMessage(std::string_view caption, std::string_view text,
                     relay::MessageIcon icon) override;
    void closeWindowsAndEnd() override { endRequested_ = true; }

    bool endRequested() const { return endRequested_; }

  private:
    std::FILE* out_;
    bool endRequested_ = false;
};

}  // namespace tellmaro::shell
