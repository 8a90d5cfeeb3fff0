#include "shell/splash_window.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "ui/twips.h"

namespace tellmaro::shell {

namespace {

using ui::place;
using ui::px;

// Both pictures fill their boxes: the boxes grow with the layout, and each
// has its picture's proportions.
QLabel* picture(QWidget* parent, const std::filesystem::path& file, QRect twips) {
    auto* label = new QLabel(parent);
    place(label, twips.x(), twips.y(), twips.width(), twips.height());
    label->setPixmap(QPixmap(QString::fromStdString(file.string())));
    label->setScaledContents(true);
    // A click on a picture is the picture's, not the frame's.
    label->setAttribute(Qt::WA_NoMousePropagation);
    return label;
}

}  // namespace

SplashWindow::SplashWindow(const std::filesystem::path& appDir, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("frmSplash");
    setFixedSize(px(6600), px(2370));
    frame_ = new QFrame(this);
    frame_->setObjectName("Frame1");
    place(frame_, 120, 120, 6375, 2115);
    frame_->installEventFilter(this);

    picture(frame_, appDir / "splash.jpg", {2040, 240, 1695, 375})->setObjectName("Image2");
    picture(frame_, appDir / "splash.gif", {240, 600, 5655, 870})->setObjectName("Image1");
    auto* version = new QLabel(versionText(), frame_);
    version->setObjectName("lblVersion");
    place(version, 2040, 1560, 1275, 285);
    version->setFont(ui::formFont(12, true));  // Arial 12 pt bold
    version->setAttribute(Qt::WA_NoMousePropagation);
    setFocusPolicy(Qt::StrongFocus);
}

QString SplashWindow::versionText() {
    return QString("Version %1.%2").arg(TELLMARO_VERSION_MAJOR).arg(TELLMARO_VERSION_MINOR);
}

void SplashWindow::paintEvent(QPaintEvent*) {
    // The frame's box is drawn here, one device pixel wide inside its edges:
    // a frame drawing its own box loses the bottom line where Qt scales by
    // 1.25 (a 120-dpi font setting), the frame's edge falling between pixels.
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));  // width 0: cosmetic
    painter.drawRect(QRectF(frame_->geometry()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void SplashWindow::keyPressEvent(QKeyEvent*) {
    close();
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event) {
    // Only the frame around the pictures closes it, not the pictures themselves.
    if (watched == frame_ && event->type() == QEvent::MouseButtonPress) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tellmaro::shell
