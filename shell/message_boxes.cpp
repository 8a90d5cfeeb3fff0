#include "shell/message_boxes.h"

#include <QMessageBox>

namespace tellmaro::shell {

void QtMessageBoxes::show(const QString& caption, const QString& text, relay::MessageIcon icon) {
    QMessageBox box(
        icon == relay::MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
        caption, text, QMessageBox::Ok);
    box.exec();
}

}  // namespace tellmaro::shell
