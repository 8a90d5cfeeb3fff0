#pragma once
// Asking the user for the call log's file. The settings dialog goes through
// this seam so that tests can answer it without a window.

#include <QString>
#include <optional>

class QWidget;

namespace tellmaro::dialogs {

class LogFileDialog {
  public:
    virtual ~LogFileDialog() = default;
    // A save dialog that accepts new names and does not ask before reusing an
    // existing file, proposing "Handy.log" in `folder`. The chosen full path,
    // or nothing when the user cancels.
    virtual std::optional<QString> askForLogFile(QWidget* parent, const QString& folder) = 0;
};

// The window system's file dialog.
class QtLogFileDialog final : public LogFileDialog {
  public:
    std::optional<QString> askForLogFile(QWidget* parent, const QString& folder) override;
};

}  // namespace tellmaro::dialogs
