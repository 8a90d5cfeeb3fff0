#include "shell/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace tellmaro::shell {

namespace {

// A line indented by four blanks is a command to type: the box grows to show
// it whole on its line instead of breaking it. Other text wraps as usual.
QString withCommandsWhole(const QString& text) {
    QString html;
    for (const QString& line : text.split('\n')) {
        html += line.startsWith("    ")
                    ? "<div style=\"white-space:pre\">" + line.mid(4).toHtmlEscaped() + "</div>"
                    : "<div>" + line.toHtmlEscaped() + "</div>";
    }
    return html;
}

}  // namespace

QMessageBox* QtMessageBoxes::create(const QString& caption, const QString& text,
                                    relay::MessageIcon icon, QWidget* over) {
    const bool commands = text.contains("\n    ");
    auto* box = new QMessageBox(
        icon == relay::MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
        caption, commands ? withCommandsWhole(text) : text, QMessageBox::Ok, over);
    box->setTextFormat(commands ? Qt::RichText : Qt::PlainText);
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
