// The preview widget and the device settings dialog over the test devices.

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QTimer>

#include "platform/CaptureTestSupport.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"
#include "platform/gui/DevicePropertiesDialog.h"
#include "platform/gui/VideoWindowWidget.h"

using namespace platform;
using capturetest::CaptureTest;

namespace {

bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < limitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (done()) return true;
    }
    return done();
}

bool AllBlack(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) != 0) return false;
    return true;
}

struct Preview {
    FilterGraph graph;
    std::shared_ptr<SourceFilter> camera = std::make_shared<SourceFilter>();
    std::shared_ptr<VideoWindowRenderer> window = std::make_shared<VideoWindowRenderer>();

    void Start(int w, int h) {
        graph.Activate();
        ASSERT_TRUE(camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
        ASSERT_TRUE(camera->OutputPin()->SetFormat(MakeRgbVideoType(SubType::RGB24, w, h)));
        CaptureGraphBuilder builder(graph);
        ASSERT_TRUE(builder.RenderStream(PinCategory::Preview, MajorType::None, camera, nullptr, window));
        ASSERT_TRUE(graph.Run()) << graph.LastError();
    }
};

using VideoWindow = CaptureTest;

TEST_F(VideoWindow, BlackWithoutAPictureThenShowsTheNewestFrameThenBlackAgain) {
    VideoWindowWidget widget;
    widget.resize(320, 240);
    EXPECT_EQ(widget.toolTip(), " Anteprima video ");
    EXPECT_TRUE(AllBlack(widget.grab().toImage()));

    Preview preview;
    preview.Start(320, 240);
    widget.SetRenderer(preview.window);
    ASSERT_TRUE(PumpUntil([&] { return widget.ShownFrame() != nullptr; }));
    const uint64_t first = widget.ShownFrame()->Sequence;
    ASSERT_TRUE(PumpUntil([&] { return widget.ShownFrame()->Sequence > first; }));  // it keeps taking new frames
    preview.graph.Stop();
    QApplication::processEvents();

    // Drawn 1:1, the widget shows the frame as it is: top row on top.
    auto frame = widget.ShownFrame();
    QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(320, 240));
    int same = 0;
    for (int y : {0, 120, 239}) {
        for (int x = 0; x < 320; x += 8) {
            const uint8_t* p = frame->Pixels.data() + y * frame->Stride + x * 4;
            same += shown.pixel(x, y) == qRgb(p[2], p[1], p[0]);
        }
    }
    EXPECT_EQ(same, 3 * 40);
    EXPECT_FALSE(AllBlack(shown));

    preview.graph.StopAndClear();
    ASSERT_TRUE(PumpUntil([&] { return widget.ShownFrame() == nullptr; }));
    EXPECT_TRUE(AllBlack(widget.grab().toImage()));
    widget.SetRenderer(nullptr);
}

using DeviceProperties = CaptureTest;

// Runs `act` on the dialog once it is shown modally.
void WhenShown(const std::function<void(DevicePropertiesDialog*)>& act, int triesLeft = 500) {
    QTimer::singleShot(10, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<DevicePropertiesDialog*>(w); d && d->isVisible()) {
                act(d);
                return;
            }
        }
        if (triesLeft > 0) WhenShown(act, triesLeft - 1);
    });
}

QAbstractButton* Button(DevicePropertiesDialog* d, const QString& text) {
    for (auto* b : d->findChildren<QAbstractButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

TEST_F(DeviceProperties, SlidersApplyLiveAndAnnullaPutsTheValuesBack) {
    Preview preview;
    preview.Start(160, 120);
    auto camera = preview.camera;
    WhenShown([&](DevicePropertiesDialog* d) {
        EXPECT_EQ(d->windowTitle(), TestCameraName);
        ASSERT_NE(Button(d, "OK"), nullptr);
        QSlider* brightness = d->SliderFor("brightness");
        QSlider* contrast = d->SliderFor("contrast");
        ASSERT_TRUE(brightness && contrast);
        EXPECT_EQ(brightness->minimum(), 0);
        EXPECT_EQ(brightness->maximum(), 100);
        brightness->setValue(80);
        contrast->setValue(10);
        EXPECT_EQ(camera->GetControls()[0].Value, 80);  // while the dialog is open
        EXPECT_EQ(camera->GetControls()[1].Value, 10);
        Button(d, "Annulla")->click();
    });
    EXPECT_EQ(DevicePropertiesDialog::ShowFor(camera, nullptr), QDialog::Rejected);
    EXPECT_EQ(camera->GetControls()[0].Value, 50);
    EXPECT_EQ(camera->GetControls()[1].Value, 50);

    WhenShown([&](DevicePropertiesDialog* d) {
        d->SliderFor("brightness")->setValue(70);
        Button(d, "OK")->click();
    });
    EXPECT_EQ(DevicePropertiesDialog::ShowFor(camera, nullptr), QDialog::Accepted);
    EXPECT_EQ(camera->GetControls()[0].Value, 70);
    preview.graph.Stop();
}

TEST_F(DeviceProperties, ADeviceWithoutControlsSaysSo) {
    auto mic = std::make_shared<SourceFilter>();
    ASSERT_TRUE(mic->SetDevice(capturetest::OnlyDevice(DeviceCategory::AudioInput, TestMicrophoneName)));
    DevicePropertiesDialog dialog(mic);
    EXPECT_FALSE(dialog.HasControls());
    auto* label = dialog.findChild<QLabel*>("NoControls");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Il dispositivo non ha impostazioni regolabili.");
    QStringList texts;
    for (auto* b : dialog.findChildren<QAbstractButton*>()) texts << b->text();
    EXPECT_TRUE(texts.contains("OK"));
    EXPECT_TRUE(texts.contains("Annulla"));
    dialog.reject();  // nothing to restore
}

}  // namespace
