#include "shell/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace tellmaro::shell {

QMessageBox* QtMessageBoxes::create(const QString& caption, const QString& text,
                                    relay::MessageIcon icon, QWidget* over) {
    auto* box = new QMessageBox(
        icon == relay::MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
        caption, text, QMessageBox::Ok, over);
    box->setWindowModality(Qt::WindowModal);
    return box;
}

void QtMessageBoxes::show(const QString& caption, const QString& text, relay::MessageIcon icon) {
    // Modal to the window the user is in, not to the whole program: an
    // application-modal box would lock the tray icon, and "&Ende" in its
    // menu is never out of reach. The splash closes by itself, so a box is
    // never its child.
    QWidget* over = QApplication::activeWindow();
    if (over != nullptr && over->windowType() == Qt::SplashScreen) {
        over = nullptr;
    }
    QPointer<QMessageBox> box = create(caption, text, icon, over);
    box->exec();
    // Deleting its window ("&Ende" meanwhile, then the end) deletes it too.
    delete box;
}

}  // namespace tellmaro::shell
