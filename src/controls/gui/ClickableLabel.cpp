#include "controls/gui/ClickableLabel.h"

#include "controls/gui/FittingText.h"

#include <QEvent>

void ClickableLabel::SetHot(bool hot) {
    hot_ = hot;
    QFont f = font();
    f.setUnderline(hot);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, hot ? Qt::blue : Qt::black);
    setPalette(p);
}

void ClickableLabel::SetCaption(const QString& prefix, const QString& value, const QString& hint) {
    captioned_ = true;
    prefix_ = prefix;
    value_ = value;
    hint_ = hint;
    Fit();
}

void ClickableLabel::Fit() {
    if (!captioned_) return;
    const QString whole = WholeText();
    const QString shown = ElideCaption(fontMetrics(), prefix_, value_, contentsRect().width() - 2 * margin());
    setText(shown);
    setToolTip(shown == whole ? hint_ : whole + '\n' + hint_);
}

void ClickableLabel::enterEvent(QEnterEvent* e) {
    SetHot(true);
    QLabel::enterEvent(e);
}

void ClickableLabel::leaveEvent(QEvent* e) {
    SetHot(false);
    QLabel::leaveEvent(e);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (rect().contains(e->position().toPoint())) Q_EMIT clicked();
}

void ClickableLabel::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    Fit();
}

void ClickableLabel::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (e->type() == QEvent::FontChange) Fit();
}
