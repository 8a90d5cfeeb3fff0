#pragma once
// Modal message boxes behind a seam, so tests can answer them.

#include <QString>

#include "relay/engine_ports.h"

class QMessageBox;
class QWidget;

namespace tellmaro::shell {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Returns when the user has closed it; timers keep running meanwhile.
    virtual void show(const QString& caption, const QString& text, relay::MessageIcon icon) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
  public:
    void show(const QString& caption, const QString& text, relay::MessageIcon icon) override;
    // The box show() runs, modal to `over` alone, not yet shown.
    static QMessageBox* create(const QString& caption, const QString& text, relay::MessageIcon icon,
                               QWidget* over);
};

}  // namespace tellmaro::shell
