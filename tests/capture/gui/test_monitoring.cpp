// The device panel and the monitoring buttons of the main window on the
// built-in test devices, offscreen.

#include "alarms/EventLog.h"
#include "capture/CaptureComponents.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "platform/Capture.h"
#include "platform/TestDevices.h"
#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

using testsupport::RunUntil;

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

class MonitoringTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        SetupProgramDir();
        saved_ = ProgramDir;
        ProgramDir = dir_.path() + "/";
        Settings.AttesaPerCalibrazioneVideo = 1;
        Settings.AttesaPerCalibrazioneAudio = 1;
    }
    void TearDown() override {
        window_.reset();
        ProgramDir = saved_;
    }
    TPri& Open() {
        window_ = std::make_unique<TPri>();
        return *window_;
    }

    testsupport::ScopedEnv testDevices_{"OCULARA_TEST_DEVICES", std::string("1")};
    testsupport::ScopedEnv intruder_{"OCULARA_TEST_INTRUDER_SECONDS", std::string("1000")};
    testsupport::TempDir dir_;
    std::string saved_;
    std::unique_ptr<TPri> window_;
};

TEST_F(MonitoringTest, TestDevicesAreListedWithTheDesignedPreselection) {
    TPri& w = Open();
    EXPECT_EQ(Items(w.cb_DispositiviVideo), QStringList{"Videocamera di prova"});
    EXPECT_EQ(w.cb_RisoluzioniVideo->currentText(), "RGB 352x288, 24 bits");
    EXPECT_TRUE(Items(w.cb_RisoluzioniVideo).contains("RGB 640x480, 24 bits"));
    EXPECT_EQ(Items(w.cb_DispositiviAudio), QStringList{"Microfono di prova"});
    EXPECT_EQ(Items(w.cb_PerifericheAudio), (QStringList{"Microfono", "Ingresso linea"}));
    EXPECT_EQ(w.cb_PerifericheAudio->currentText(), "Microfono");
    EXPECT_TRUE(Items(w.cb_RisoluzioniAudio).contains("PCM 44100 Hertz, 16 Bits, Stereo"));
    EXPECT_TRUE(w.Button5->isEnabled());
    EXPECT_TRUE(w.Button7->isEnabled());
    EXPECT_TRUE(w.cb_VideoSorveglianza->isEnabled());
    EXPECT_EQ(Settings.dispositivo_video, "Videocamera di prova");
    EXPECT_EQ(Settings.risoluzione_video, "RGB 352x288, 24 bits");
    EXPECT_EQ(Settings.periferica_audio, "Microfono");
    EXPECT_FALSE(Settings.risoluzione_audio.empty());
}

TEST_F(MonitoringTest, StoredChoicesAreReselectedAndMissingOnesKept) {
    Settings.dispositivo_video = "Camera che non c'è";
    Settings.risoluzione_video = "RGB 160x120, 24 bits";
    Settings.periferica_audio = "Ingresso linea";
    Settings.risoluzione_audio = "PCM 11025 Hertz, 8 Bits, Mono";
    TPri& w = Open();
    EXPECT_EQ(Settings.dispositivo_video, "Videocamera di prova");  // the first device, its name stored
    EXPECT_EQ(w.cb_RisoluzioniVideo->currentText(), "RGB 160x120, 24 bits");
    EXPECT_EQ(w.cb_PerifericheAudio->currentText(), "Ingresso linea");
    EXPECT_EQ(w.cb_RisoluzioniAudio->currentIndex(), 0);  // not offered: the default selection
    EXPECT_EQ(Settings.risoluzione_audio, "PCM 11025 Hertz, 8 Bits, Mono");  // kept until the user picks
}

TEST_F(MonitoringTest, StartCalibratesBothDetectorsAndStopSwitchesEverythingOff) {
    TPri& w = Open();
    w.Button1Click();
    EXPECT_FALSE(w.Button1->isEnabled());
    EXPECT_FALSE(w.BitBtn1->isEnabled());
    EXPECT_FALSE(w.BitBtn3->isEnabled());
    EXPECT_TRUE(w.Button2->isEnabled());
    EXPECT_FALSE(w.gb_Sorveglianza->isEnabled());
    EXPECT_TRUE(w.ControllaEventi_Timer->Enabled());
    EXPECT_TRUE(w.VolTimer->Enabled());
    EXPECT_EQ(w.Label3->text(), "Calibrazione in corso, evitare movimenti ...");

    capture::CaptureComponents& c = w.Capture();
    ASSERT_TRUE(RunUntil([&] { return c.videoDetector.State.load() == capture::Calibrating; }, 8000));
    ASSERT_TRUE(RunUntil([&] { return w.lb_pv->isEnabled() && !w.ProgressBar1->isHidden(); }, 3000));
    ASSERT_TRUE(RunUntil([&] { return c.audioDetector.State.load() >= capture::Calibrating; }, 8000));

    w.Button2Click();  // during calibration
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
    EXPECT_FALSE(w.Capture().FilterGraph.IsRunning());
    EXPECT_TRUE(w.Button1->isEnabled());
    EXPECT_FALSE(w.Button2->isEnabled());
    EXPECT_FALSE(w.ControllaEventi_Timer->Enabled());
    EXPECT_TRUE(w.Label3->isHidden());
    EXPECT_TRUE(RunUntil([&] { return !w.lb_pv->isEnabled() && !!w.ProgressBar1->isHidden() &&
                                      !w.AggCalibVideo->Enabled(); }, 1500));
}

// Rows of the event list whose description holds `text`.
int RowsWith(TPri& w, const QString& type, const QString& text) {
    auto* list = w.findChild<QTreeWidget*>("lv_Log");
    int n = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(1) == type && list->topLevelItem(i)->text(2).contains(text)) ++n;
    return n;
}

TEST_F(MonitoringTest, ASilentMicrophoneIsLoggedOnceRestsItsDisplayAndComesBackCalibrating) {
    TPri& w = Open();
    w.Button1Click();
    EXPECT_TRUE(w.ControllaDispositivi_Timer->Enabled());
    capture::CaptureComponents& c = w.Capture();
    ASSERT_TRUE(RunUntil([&] { return c.audioDetector.State.load() >= capture::Calibrating; }, 8000));
    ASSERT_TRUE(RunUntil([&] { return w.lb_pa->isEnabled(); }, 3000));

    struct Guard {
        Guard() { platform::SetTestDeviceFault(false, platform::TestDeviceFault::Silent); }
        ~Guard() { platform::SetTestDeviceFault(false, platform::TestDeviceFault::None); }
    } fault;
    const QString mic = QString::fromUtf8("il dispositivo audio \"Microfono di prova\"");
    ASSERT_TRUE(RunUntil([&] { return RowsWith(w, "Errore", mic) == 1; }, platform::FilterGraph::SilentMs + 4000));
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
    EXPECT_FALSE(w.lb_pa->isEnabled());
    EXPECT_TRUE(w.ProgressBar2->isHidden());
    EXPECT_NE(c.videoDetector.State.load(), capture::Idle);

    platform::SetTestDeviceFault(false, platform::TestDeviceFault::None);
    ASSERT_TRUE(RunUntil([&] { return RowsWith(w, "Informazione", mic) == 1; },
                         2 * platform::FilterGraph::RetryMs + 4000));
    ASSERT_TRUE(RunUntil([&] { return w.lb_pa->isEnabled() && c.audioDetector.State.load() >= capture::Calibrating; },
                         8000));
    EXPECT_EQ(RowsWith(w, "Errore", mic), 1);  // the retries while it was away said nothing
    w.Button2Click();
    EXPECT_FALSE(w.ControllaDispositivi_Timer->Enabled());
}

TEST_F(MonitoringTest, OnlyAudioLeavesTheMotionDetectorIdle) {
    TPri& w = Open();
    w.cb_VideoSorveglianza->setChecked(false);
    ASSERT_TRUE(w.cb_AudioSorveglianza->isChecked());
    w.Button1Click();
    EXPECT_EQ(w.Label3->text(), "Calibrazione in corso ...");
    capture::CaptureComponents& c = w.Capture();
    ASSERT_TRUE(RunUntil([&] { return c.audioDetector.State.load() >= capture::WarmUp; }, 5000));
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.VideoSampleGrabber->SampleCount(), 0u);
    w.Button2Click();
}

TEST_F(MonitoringTest, PreviewShowsPictureAndLevelButDetectsNothing) {
    TPri& w = Open();
    w.BitBtn1Click();
    capture::CaptureComponents& c = w.Capture();
    EXPECT_TRUE(w.Button2->isEnabled());
    EXPECT_FALSE(w.ControllaEventi_Timer->Enabled());
    ASSERT_TRUE(RunUntil([&] { return c.VideoRenderer->FramesDelivered() > 3; }, 5000));
    ASSERT_TRUE(RunUntil([&] { return c.audioDetector.State.load() == capture::LevelOnly; }, 5000));
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    w.Button2Click();
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
}

TEST_F(MonitoringTest, StartPreviewAndStopManyTimesInARow) {
    TPri& w = Open();
    for (int round = 0; round < 8; ++round) {
        if (round % 2)
            w.BitBtn1Click();
        else
            w.Button1Click();
        RunUntil([] { return false; }, 150 + 40 * round);
        w.Button2Click();
        ASSERT_FALSE(w.Capture().FilterGraph.IsRunning()) << "round " << round;
    }
    EXPECT_TRUE(w.Button1->isEnabled());
}

TEST_F(MonitoringTest, MenuItemsFollowTheirButtons) {
    TPri& w = Open();
    QAction* start = w.findChild<QAction*>("Avvia1");
    QAction* stop = w.findChild<QAction*>("Ferma1");
    ASSERT_TRUE(start && stop);
    stop->trigger();  // Ferma is disabled: nothing happens
    EXPECT_TRUE(w.Button1->isEnabled());
    start->trigger();
    EXPECT_TRUE(w.Button2->isEnabled());
    start->trigger();  // Avvia is disabled now
    EXPECT_TRUE(w.Button2->isEnabled());
    stop->trigger();
    EXPECT_TRUE(w.Button1->isEnabled());
}

}  // namespace
