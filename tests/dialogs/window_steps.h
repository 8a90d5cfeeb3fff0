#pragma once
// A window driven by its controls' names as a user drives it, and the file dialog it may ask.

#include <QtTest>
#include <QtWidgets>

#include "dialogs/log_file_dialog.h"

namespace tellmaro::test {

template <typename Widget = QAbstractButton>
Widget* control(const QObject* window, const QString& name) {
    auto* widget = window->findChild<Widget*>(name);
    if (widget == nullptr) {
        qFatal("no control %s", qPrintable(name));
    }
    return widget;
}

inline QWidget* visibleWindow(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->objectName() == name) {
            return w;
        }
    }
    return nullptr;
}

// Steps separated by spaces: NAME clicks it, NAME=TEXT sets its text, "Esc" presses that key,
// "close" uses the close box. A control of an open child dialog is found in that dialog.
inline void act(QWidget* window, const QString& steps) {
    for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
        const QString name = step.section('=', 0, 0), value = step.section('=', 1);
        if (step == "Esc") {
            QTest::keyClick(window, Qt::Key_Escape);
        } else if (step == "close") {
            window->close();
        } else if (step.contains('=')) {
            control<QLineEdit>(window, name)->setText(value);
        } else {
            control(window, name)->click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // closed dialogs
    }
}

// Answers from a list; an exhausted list is a cancel.
class AnsweringFileDialog final : public dialogs::LogFileDialog {
  public:
    std::optional<QString> askForLogFile(QWidget*, const QString&) override {
        return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst());
    }
    QStringList answers;
};

}  // namespace tellmaro::test
