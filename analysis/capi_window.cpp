#include "analysis/capi_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include "analysis/capi_report.h"
#include "relay/engine.h"

#include "ui/twips.h"

namespace tellmaro::analysis {

namespace {

constexpr int kIconSize = 32;

// What the picture shows before a verdict: a traffic light with no lamp lit.
QPixmap unlitTrafficLight() {
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 60, 60));
    painter.drawRoundedRect(QRectF(9, 1, 14, 30), 3, 3);
    painter.setBrush(QColor(150, 150, 150));
    for (int lamp = 0; lamp < 3; ++lamp) {
        painter.drawEllipse(QRectF(12, 3 + lamp * 9.33, 8, 8));
    }
    return pixmap;
}

}  // namespace

CapiWindow::CapiWindow(relay::Engine& engine, relay::ShellPort& /*shell: the engine reaches it*/,
                       QWidget* parent)
    : QWidget(parent, Qt::Window),
      engine_(engine),
      ok_(new QPushButton(QStringLiteral("Ok"), this)),
      report_(new QPlainTextEdit(this)),
      compatible_(new QLabel(this)),
      trafficLight_(new QLabel(this)) {
    setObjectName(QStringLiteral("FRMcapi"));
    setWindowTitle(QStringLiteral("CAPI Analyse"));
    // The controls' right and bottom edges plus the margin the report keeps
    // on the left and top.
    setFixedSize(ui::px(5760 + 1815 + 120), ui::px(120 + 3255 + 120));

    ok_->setObjectName(QStringLiteral("BTNok"));
    ui::place(ok_, 6000, 2640, 1095, 495);
    report_->setObjectName(QStringLiteral("text1"));
    ui::place(report_, 120, 120, 5415, 3255);
    report_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab leaves the report for the next control instead of typing into it.
    report_->setTabChangesFocus(true);
    compatible_->setObjectName(QStringLiteral("LBLcompatible"));
    ui::place(compatible_, 5760, 1320, 1815, 1095);
    compatible_->setWordWrap(true);
    compatible_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    trafficLight_->setObjectName(QStringLiteral("IMGtrafficlight"));
    ui::place(trafficLight_, 6360, 480, 480, 480);
    trafficLight_->setAlignment(Qt::AlignCenter);  // a 32-pixel icon in a box grown with the layout
    trafficLight_->setPixmap(unlitTrafficLight());

    QWidget::setTabOrder(ok_, report_);
    QWidget::setTabOrder(report_, compatible_);
    ok_->setFocus();

    connect(ok_, &QPushButton::clicked, this, &QWidget::close);

    analyse();
}

CapiWindow::~CapiWindow() {
    closeOnce();
}

void CapiWindow::closeEvent(QCloseEvent* event) {
    closeOnce();
    event->accept();
}

void CapiWindow::closeOnce() {
    if (closed_) {
        return;
    }
    closed_ = true;
    engine_.resumeRelay();
}

void CapiWindow::analyse() {
    // The listen request's failure has been reported; the window stays empty.
    if (!engine_.suspendRelay(relay::kTraySuspendedForAnalysis)) {
        return;
    }
    capi::CapiDriver& driver = engine_.driver();
    // Failures here go unnoticed: the zeros and the empty name are printed.
    capi::CapiVersion version{};
    capi::ManufacturerName manufacturer{};
    (void)driver.getVersion(version);
    (void)driver.getManufacturer(manufacturer);
    append(manufacturerBlock(version, manufacturer));

    capi::CapiProfile profile{};
    if (uint32_t result = driver.getProfile(1, profile); result != capi::kCapiOk) {
        engine_.reportCapiError(result);
        return;
    }
    ProfileReport blocks = profileBlocks(profile);
    append(blocks.text);
    showVerdict(blocks.score);
}

void CapiWindow::append(std::string_view piece) {
    // Inserted text takes CR LF as one line end, like a lone LF.
    QTextCursor end(report_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromUtf8(piece.data(), static_cast<qsizetype>(piece.size())));
}

void CapiWindow::showVerdict(int score) {
    Verdict verdict = verdictFor(score);
    auto file = engine_.programDir() / verdict.trafficLight;
    QPixmap icon(QFile::decodeName(file.c_str()));
    if (!icon.isNull() && icon.size() != QSize(kIconSize, kIconSize)) {
        icon = icon.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    // A missing file leaves the picture empty rather than looking undecided.
    trafficLight_->setPixmap(icon);
    compatible_->setText(QString::fromUtf8(verdict.sentence.data(),
                                           static_cast<qsizetype>(verdict.sentence.size())));
}

}  // namespace tellmaro::analysis
