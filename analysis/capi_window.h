#pragma once
// The CAPI analysis window: while it is open the relay does not listen, and
// it reports what the driver and controller 1 can do and whether that is
// enough for the relay.

#include <QWidget>
#include <string_view>

class QCloseEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tellmaro::relay {
class Engine;
class ShellPort;
}  // namespace tellmaro::relay

namespace tellmaro::analysis {

class CapiWindow final : public QWidget {
    Q_OBJECT

  public:
    // Constructing the window opens it: the relay is suspended and the
    // analysis runs once, before the window is first shown.
    CapiWindow(relay::Engine& engine, relay::ShellPort& shell, QWidget* parent = nullptr);
    // A window that was never closed is closed here, so the relay always
    // comes back.
    ~CapiWindow() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void analyse();
    void append(std::string_view piece);
    void showVerdict(int score);
    void closeOnce();

    relay::Engine& engine_;
    QPushButton* ok_;
    QPlainTextEdit* report_;
    QLabel* compatible_;
    QLabel* trafficLight_;
    bool closed_ = false;  // set as the closing steps start; they run once
};

}  // namespace tellmaro::analysis
