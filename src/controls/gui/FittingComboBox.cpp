#include "controls/gui/FittingComboBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>

FittingComboBox::FittingComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentTextChanged, this, [this] { Fit(); });
}

void FittingComboBox::SetHint(const QString& hint) {
    hint_ = hint;
    Fit();
}

int FittingComboBox::TextRoom() const {
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    return field.width();
}

QString FittingComboBox::ShownText() const {
    return fontMetrics().elidedText(currentText(), Qt::ElideMiddle, TextRoom());
}

void FittingComboBox::Fit() {
    setToolTip(ShownText() == currentText() ? hint_ : currentText());
    update();
}

void FittingComboBox::showPopup() {
    QAbstractItemView* list = view();
    int width = list->sizeHintForColumn(0) + 2 * list->frameWidth();
    if (count() > maxVisibleItems()) width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    list->setMinimumWidth(width);
    QComboBox::showPopup();
}

void FittingComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    opt.currentText = ShownText();
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

void FittingComboBox::resizeEvent(QResizeEvent* e) {
    QComboBox::resizeEvent(e);
    Fit();
}

void FittingComboBox::changeEvent(QEvent* e) {
    QComboBox::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) Fit();
}
