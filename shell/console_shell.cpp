#include "shell/console_shell.h"

#include <csignal>
#include <string>

namespace tellmaro::shell {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int) {
    stopSignal = 1;
}

// Quoted, with line breaks written as \r and \n so every entry stays one line.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void ConsoleShell::catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait, in the loop or in the driver, must end at once.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool ConsoleShell::stopRequested() const {
    return stopSignal != 0;
}

void ConsoleShell::setTray(relay::TrayState state) {
    std::fprintf(out_, "tray: %.*s %s\n", static_cast<int>(state.iconFile.size()),
                 state.iconFile.data(), quoted(state.toolTip).c_str());
    std::fflush(out_);
    service_.status(state.toolTip);
}

void ConsoleShell::showMessage(std::string_view caption, std::string_view text,
                               relay::MessageIcon icon) {
    std::fprintf(err_, "message (%s): %s %s\n",
                 icon == relay::MessageIcon::Critical ? "critical" : "exclamation",
                 quoted(caption).c_str(), quoted(text).c_str());
    std::fflush(err_);
}

}  // namespace tellmaro::shell
