#pragma once
// Window layouts are given in twips (1/1440 inch), laid out for the fonts of
// Windows. Linux's fonts are wider: with DejaVu Sans 9 pt, the default of a
// Debian desktop, "Version 1.2" or the header "Kurzwahl" would not fit
// boxes of 15 twips a pixel. Every window therefore maps its twips, and the
// few fonts of its own, through here: the whole layout grows by one factor,
// which follows the desktop's font, so every text fits and every form keeps
// its proportions.

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace tellmaro::ui {

namespace twips_detail {

// A line of the forms' own words, and its size in DejaVu Sans 9 pt at 96 dpi.
inline constexpr const char* kSample =
    "Kurzwahl Telefonbuch Bemerkung Abbrechen Rufnummer 0123456789";
inline constexpr double kSampleWidthInDefaultFont = 425.4;
inline constexpr double kSampleHeightInDefaultFont = 14.0;
// With that font, a pixel is 15 twips / this: the room the widest text of
// every window needs, and a little to spare.
inline constexpr double kScaleForDefaultFont = 1.3;

}  // namespace twips_detail

// How much larger the desktop's font is than Debian's default: 1 there.
inline double fontRatio() {
    static const double ratio = [] {
        const QFontMetricsF metrics(QApplication::font());
        return std::max(metrics.horizontalAdvance(QString::fromLatin1(twips_detail::kSample)) /
                            twips_detail::kSampleWidthInDefaultFont,
                        metrics.height() / twips_detail::kSampleHeightInDefaultFont);
    }();
    return ratio;
}

// Pixels per 15 twips; never smaller than on Windows at 96 dpi.
inline double layoutScale() {
    return std::max(1.0, twips_detail::kScaleForDefaultFont * fontRatio());
}

inline int px(int twips) {
    return static_cast<int>(std::lround(twips * layoutScale() / 15.0));
}

inline void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

// A font a form names, such as the splash's Arial 12 pt bold: the desktop's
// own family, its size grown as the desktop's font is grown.
inline QFont formFont(double points, bool bold) {
    QFont font = QApplication::font();
    font.setPointSizeF(points * fontRatio());
    font.setBold(bold);
    return font;
}

}  // namespace tellmaro::ui
