#pragma once
// The main window's VideoWindow: shows the newest frame of a
// platform::VideoWindowRenderer, scaled into the widget, black when there is
// none. Polls the renderer about 30 times a second; the streaming threads
// never touch the widget.

#include <QWidget>
#include <cstdint>
#include <memory>

class QTimer;

namespace platform {
class VideoWindowRenderer;
struct VideoFrame;
}  // namespace platform

class VideoWindowWidget : public QWidget {
    Q_OBJECT
public:
    explicit VideoWindowWidget(QWidget* parent = nullptr);
    ~VideoWindowWidget() override;

    // The renderer to show (nullptr: none, black). Main thread.
    void SetRenderer(std::shared_ptr<platform::VideoWindowRenderer> renderer);
    std::shared_ptr<platform::VideoWindowRenderer> Renderer() const { return renderer_; }

    // The frame drawn at the last paint or poll, nullptr when black.
    std::shared_ptr<const platform::VideoFrame> ShownFrame() const { return frame_; }

    static constexpr int PollIntervalMs = 33;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Poll();

    std::shared_ptr<platform::VideoWindowRenderer> renderer_;
    std::shared_ptr<const platform::VideoFrame> frame_;
    QTimer* pollTimer_;
};
