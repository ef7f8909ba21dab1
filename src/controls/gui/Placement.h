#pragma once
// Windows are laid out with absolute geometry; these put a control at its
// place under its name.

#include <QStyle>
#include <QToolButton>
#include <QWidget>

template <typename W>
W* Place(W* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(left, top, width, height);
    return w;
}

// A flat 22 x 22 button with a standard icon and a hint.
inline QToolButton* SmallButton(QWidget* parent, const char* name, const char* hint, QStyle::StandardPixmap icon,
                                int left, int top) {
    auto* b = Place(new QToolButton(parent), name, left, top, 22, 22);
    b->setToolTip(QString::fromUtf8(hint));
    b->setIcon(parent->style()->standardIcon(icon));
    b->setAutoRaise(true);
    return b;
}
