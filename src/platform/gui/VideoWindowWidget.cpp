#include "platform/gui/VideoWindowWidget.h"

#include <QImage>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>

#include "platform/Capture.h"

VideoWindowWidget::VideoWindowWidget(QWidget* parent) : QWidget(parent) {
    setToolTip(QStringLiteral(" Anteprima video "));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

VideoWindowWidget::~VideoWindowWidget() {
    // After this returns no note runs, so none can post to a widget gone.
    if (renderer_) renderer_->SetFrameNotice(nullptr);
}

void VideoWindowWidget::SetRenderer(std::shared_ptr<platform::VideoWindowRenderer> renderer) {
    if (renderer_) renderer_->SetFrameNotice(nullptr);
    renderer_ = std::move(renderer);
    if (renderer_) {
        // The look is an event for this widget: Qt drops it if the widget goes first.
        renderer_->SetFrameNotice([self = this, posted = lookPosted_] {
            if (posted->exchange(true)) return;
            QMetaObject::invokeMethod(
                self,
                [self, posted] {
                    posted->store(false);
                    self->Poll();
                },
                Qt::QueuedConnection);
        });
    }
    Poll();
}

void VideoWindowWidget::Poll() {
    auto newest = renderer_ ? renderer_->NewestFrame() : nullptr;
    if (newest == frame_) return;
    frame_ = std::move(newest);
    update();
}

void VideoWindowWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!frame_ || frame_->Width <= 0 || frame_->Height <= 0) return;
    // The frame outlives the painting: frame_ holds it.
    const QImage image(frame_->Pixels.data(), frame_->Width, frame_->Height, frame_->Stride, QImage::Format_RGB32);
    // A frame of the window's own size is copied as it is; only others are
    // smoothed on their way in.
    if (image.size() != size()) painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image);
}
