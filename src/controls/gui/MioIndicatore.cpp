#include "controls/gui/MioIndicatore.h"

#include <QEvent>
#include <QPainter>

#include "controls/IndicatorSlice.h"

namespace {

controls::PictureSize SizeOf(const QPixmap& picture) {
    return {picture.width(), picture.height()};
}

// An implicitly shared QPixmap would follow the caller's later painting
// on its own picture only after a detach; a deep copy makes ownership plain.
QPixmap OwnCopy(const QPixmap& picture) {
    return picture.isNull() ? QPixmap() : picture.copy();
}

}  // namespace

TMioIndicatore::TMioIndicatore(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    resize(DefaultWidth, DefaultHeight);
}

void TMioIndicatore::SetMax(int32_t value) {
    max_ = value;
    Redraw();
}

void TMioIndicatore::SetMin(int32_t value) {
    min_ = value;
    Redraw();
}

void TMioIndicatore::SetPos(int32_t value) {
    pos_ = value;
    Redraw();
}

void TMioIndicatore::SetImmagineDiSfondo(const QPixmap& picture) {
    sfondo_ = OwnCopy(picture);
    resize(sfondo_.width(), sfondo_.height());
    updateGeometry();
    Redraw();
}

void TMioIndicatore::SetImmaginePrimoPiano(const QPixmap& picture) {
    primoPiano_ = OwnCopy(picture);
    Redraw();
}

void TMioIndicatore::SetImmagineDiSfondoDis(const QPixmap& picture) {
    sfondoDis_ = OwnCopy(picture);
    Redraw();
}

void TMioIndicatore::SetImmaginePrimoPianoDis(const QPixmap& picture) {
    primoPianoDis_ = OwnCopy(picture);
    Redraw();
}

QSize TMioIndicatore::sizeHint() const {
    if (!sfondo_.isNull()) return sfondo_.size();
    return {DefaultWidth, DefaultHeight};
}

// At once, not at the next idle moment: the timers that set Pos expect the
// new value on screen when they return. A hidden control paints when shown.
void TMioIndicatore::Redraw() { repaint(); }

void TMioIndicatore::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) update();
}

void TMioIndicatore::paintEvent(QPaintEvent*) {
    const bool enabled = isEnabled();
    const controls::IndicatorPaint plan = controls::PlanIndicatorPaint(
        enabled, SizeOf(sfondo_), SizeOf(primoPiano_), SizeOf(sfondoDis_),
        SizeOf(primoPianoDis_), min_, max_, pos_);
    if (plan.pair == controls::IndicatorPair::None) return;  // the parent shows through

    const bool useEnabled = plan.pair == controls::IndicatorPair::Enabled;
    const QPixmap& background = useEnabled ? sfondo_ : sfondoDis_;
    const QPixmap& foreground = useEnabled ? primoPiano_ : primoPianoDis_;

    QPainter painter(this);
    // Pixels are copied as they are: no blending, no scaling.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(QPoint(0, 0), background);
    if (plan.drawSlice)
        painter.drawPixmap(QPoint(plan.dx, plan.dy), foreground,
                           QRect(0, 0, plan.sliceWidth, plan.sliceHeight));
}
