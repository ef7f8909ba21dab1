#include "dialogs/gui/DialogSupport.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QScreen>

namespace dialogs {

namespace {

class CentreOnShow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* w = static_cast<QWidget*>(watched);
            if (const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen()) {
                const QRect area = screen->availableGeometry();
                w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
            }
        }
        return false;
    }
};

// Backspace and keys without text (arrows, Tab, Enter) pass; a printable
// character passes only when it is a digit.
class DigitKeys : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace || key->matches(QKeySequence::Copy)) return false;
        const QString text = key->text();
        if (text.isEmpty() || !text.at(0).isPrint()) return false;
        const QChar c = text.at(0);
        return !(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    }
};

}  // namespace

void MakeFixedDialog(QDialog* dialog, const QString& caption, int width, int height) {
    dialog->setWindowTitle(caption);
    dialog->setModal(true);
    dialog->setFixedSize(width, height);
    dialog->setWindowFlags((dialog->windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                           ~Qt::WindowContextHelpButtonHint);
    dialog->installEventFilter(new CentreOnShow(dialog));
}

void AcceptDigitsOnly(QLineEdit* edit, int maxLength) {
    if (maxLength > 0) edit->setMaxLength(maxLength);
    edit->installEventFilter(new DigitKeys(edit));
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
}

void SetFieldEnabled(QWidget* field, bool enabled) {
    field->setEnabled(enabled);
    QPalette p = field->palette();
    const QColor base = enabled ? QPalette().color(QPalette::Active, QPalette::Base) : QColor(232, 232, 232);
    p.setColor(QPalette::Active, QPalette::Base, base);
    p.setColor(QPalette::Inactive, QPalette::Base, base);
    p.setColor(QPalette::Disabled, QPalette::Base, base);
    field->setPalette(p);
}

}  // namespace dialogs
