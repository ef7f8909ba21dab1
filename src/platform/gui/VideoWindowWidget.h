#pragma once
// The main window's VideoWindow: shows the newest frame of a
// platform::VideoWindowRenderer, scaled into the widget, black when there is
// none. The renderer notes each new frame from its streaming thread; the
// note only posts a look to the main thread, which never misses or repeats
// a frame and wakes no more often than frames come.

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Poll();

    std::shared_ptr<platform::VideoWindowRenderer> renderer_;
    std::shared_ptr<const platform::VideoFrame> frame_;
    // A look is posted and not yet taken: notes in between post nothing more.
    // Set by any thread, cleared by the main thread.
    std::shared_ptr<std::atomic<bool>> lookPosted_ = std::make_shared<std::atomic<bool>>(false);
};
