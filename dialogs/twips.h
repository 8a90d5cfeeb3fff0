#pragma once
// Window layouts are given in twips (1/1440 inch); the desktop runs at
// 96 dpi, so 15 twips make a pixel.

#include <QWidget>
#include <cmath>

namespace tellmaro::dialogs {

inline int px(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

inline void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

}  // namespace tellmaro::dialogs
