#pragma once
// SIGTERM and SIGINT for the desktop program: a session that ends, or a
// user who stops it from a terminal, shuts the relay down as "Ende" does,
// so that its calls are cleared and the driver is left registered to nobody.
// The handler only writes a byte to a pipe; the event loop reads it.

#include <QObject>

class QSocketNotifier;

namespace tellmaro::shell {

class StopSignals final : public QObject {
    Q_OBJECT

  public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  signals:
    void stopRequested();

  private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tellmaro::shell
