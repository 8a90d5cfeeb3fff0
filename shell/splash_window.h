#pragma once
// The start-up picture: the program's artwork and its version. It closes by
// itself after two seconds, or earlier on a key or a click on its frame.

#include <QWidget>
#include <filesystem>

class QFrame;
class QLabel;

namespace tellmaro::shell {

class SplashWindow final : public QWidget {
    Q_OBJECT

  public:
    explicit SplashWindow(const std::filesystem::path& appDir, QWidget* parent = nullptr);

    // "Version 1.2", from the build's version.
    static QString versionText();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QFrame* frame_;
};

}  // namespace tellmaro::shell
