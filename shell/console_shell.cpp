#include "shell/console_shell.h"

#include <string>

namespace tellmaro::shell {

namespace {

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

void ConsoleShell::setTray(relay::TrayState state) {
    std::fprintf(out_, "tray: %.*s %s\n", static_cast<int>(state.iconFile.size()),
                 state.iconFile.data(), quoted(state.toolTip).c_str());
    std::fflush(out_);
}

void ConsoleShell::showMessage(std::string_view caption, std::string_view text,
                               relay::MessageIcon icon) {
    std::fprintf(err_, "message (%s): %s %s\n",
                 icon == relay::MessageIcon::Critical ? "critical" : "exclamation",
                 quoted(caption).c_str(), quoted(text).c_str());
    std::fflush(err_);
}

}  // namespace tellmaro::shell
