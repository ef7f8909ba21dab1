#include "dialogs/gui/ListAndMaskRules.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

namespace dialogs {

namespace {

class SwallowTypedKeys : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const QString text = static_cast<QKeyEvent*>(event)->text();
        return !text.isEmpty() && text.at(0).isPrint() && text.at(0) != QLatin1Char(' ');
    }
};

}  // namespace

void IgnoreTypedKeys(QComboBox* list) {
    list->setEditable(false);
    auto* filter = new SwallowTypedKeys(list);
    list->installEventFilter(filter);
    list->view()->installEventFilter(filter);
}

void MaskWithAsterisks(QLineEdit* edit) {
    edit->setEchoMode(QLineEdit::Password);
    // The style's own mask character is a bullet on most desktops.
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

}  // namespace dialogs
