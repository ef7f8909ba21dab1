#include "platform/gui/VideoWindowWidget.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

#include "platform/Capture.h"

VideoWindowWidget::VideoWindowWidget(QWidget* parent) : QWidget(parent), pollTimer_(new QTimer(this)) {
    setToolTip(QStringLiteral(" Anteprima video "));
    setAttribute(Qt::WA_OpaquePaintEvent);
    pollTimer_->setInterval(PollIntervalMs);
    connect(pollTimer_, &QTimer::timeout, this, &VideoWindowWidget::Poll);
}

VideoWindowWidget::~VideoWindowWidget() = default;

void VideoWindowWidget::SetRenderer(std::shared_ptr<platform::VideoWindowRenderer> renderer) {
    renderer_ = std::move(renderer);
    if (renderer_)
        pollTimer_->start();
    else
        pollTimer_->stop();
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
