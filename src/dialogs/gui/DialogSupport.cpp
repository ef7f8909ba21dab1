#include "dialogs/gui/DialogSupport.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSet>
#include <QValidator>

#include <algorithm>

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

qsizetype NonDigits(const QString& text) {
    return std::count_if(text.begin(), text.end(), [](QChar c) { return c < QLatin1Char('0') || c > QLatin1Char('9'); });
}

// Judges what an edit makes of the text against the text before it. A text
// the field has held passes whatever it is: the stored text that ShowStored
// announces, and what undo and redo bring back. That matters because
// QLineEdit keeps a text set by code even when its validator refuses it, and
// then stops enforcing the validator until the text passes again.
class TypingRule : public QValidator {
public:
    TypingRule(QLineEdit* edit, int limit, bool digitsOnly) : QValidator(edit), limit_(limit), digitsOnly_(digitsOnly) {
        connect(edit, &QLineEdit::textChanged, this, &TypingRule::Held);
        Held(edit->text());
    }

    State validate(QString& input, int&) const override {
        if (held_.contains(input)) return Acceptable;
        if (limit_ > 0 && input.size() > limit_ && input.size() > current_.size()) return Invalid;
        if (digitsOnly_ && NonDigits(input) > NonDigits(current_)) return Invalid;
        return Acceptable;
    }

    void Held(const QString& text) {
        current_ = text;
        held_.insert(text);
    }

private:
    const int limit_;
    const bool digitsOnly_;
    QString current_;
    QSet<QString> held_;
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

void LimitTyping(QLineEdit* edit, int limit) { edit->setValidator(new TypingRule(edit, limit, false)); }

void AcceptDigitsOnly(QLineEdit* edit, int limit) {
    edit->installEventFilter(new DigitKeys(edit));
    edit->setValidator(new TypingRule(edit, limit, true));
}

void ShowStored(QLineEdit* edit, const QString& text) {
    // A stored text may be longer than QLineEdit's own cap of 32767 too.
    if (text.size() > edit->maxLength()) edit->setMaxLength(static_cast<int>(text.size()));
    // The field owns its rule; QLineEdit only hands out a const pointer to it.
    if (const auto* rule = dynamic_cast<const TypingRule*>(edit->validator()))
        const_cast<TypingRule*>(rule)->Held(text);
    edit->setText(text);
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
