#pragma once
// Every control carries the name the window tests find it by; the names
// follow the controls of the original forms.

#include <QString>

namespace tellmaro::dialogs {

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace tellmaro::dialogs
