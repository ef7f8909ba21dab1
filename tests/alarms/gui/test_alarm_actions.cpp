// The main window's alarm actions and notification requests, offscreen on
// the test devices.

#include "alarms/Dispatcher.h"
#include "alarms/EventLog.h"
#include "capture/CaptureComponents.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "platform/HeldAudioSink.h"
#include "platform/PlaySound.h"
#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

using testsupport::RunUntil;

class AlarmActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        SetupProgramDir();
        saved_ = ProgramDir;
        Settings.FileAudio = ProgramDir + "Suoni/DefaultAlarm.wav";
        ProgramDir = dir_.path() + "/";
        Settings.Foto_Dir = dir_.path() + "/";
        alarms::TheEventLog().ClearRows();
        window_ = std::make_unique<TPri>();
    }
    void TearDown() override {
        window_.reset();
        ProgramDir = saved_;
    }

    testsupport::ScopedEnv devices_{"OCULARA_TEST_DEVICES", std::string("1")};
    testsupport::ScopedEnv sink_{"OCULARA_AUDIO_SINK", std::string("fakesink sync=true")};
    testsupport::TempDir dir_;
    std::string saved_;
    std::unique_ptr<TPri> window_;
};

TEST_F(AlarmActionsTest, SoundPlaysForItsDurationAndSilencesTheNoiseDetector) {
    TPri& w = *window_;
    Settings.DuarataAllarmeSonoro = 7;
    w.StartSoundAlarm();
    EXPECT_TRUE(w.FermaAllarmeSonoro_Timer->Enabled());
    EXPECT_EQ(w.FermaAllarmeSonoro_Timer->interval(), 7000);
    EXPECT_TRUE(platform::SoundPlaying());
    EXPECT_TRUE(w.Capture().audioDetector.SoundAlarmPlaying.load());

    Settings.DuarataAllarmeSonoro = 9;  // a second alarm restarts with a full duration
    w.StartSoundAlarm();
    EXPECT_EQ(w.FermaAllarmeSonoro_Timer->interval(), 9000);

    // Beyond 32 bits of milliseconds: the longest wait a timer holds, so the sound still ends.
    Settings.DuarataAllarmeSonoro = 3000000;
    w.StartSoundAlarm();
    EXPECT_TRUE(w.FermaAllarmeSonoro_Timer->Enabled());
    EXPECT_EQ(w.FermaAllarmeSonoro_Timer->interval(), INT32_MAX);

    w.FermaAllarmeSonoro_TimerTimer();
    EXPECT_FALSE(w.FermaAllarmeSonoro_Timer->Enabled());
    EXPECT_FALSE(platform::SoundPlaying());
    EXPECT_FALSE(w.Capture().audioDetector.SoundAlarmPlaying.load());
}

// The sound server is slow to open its sink: the reactions after the sound
// go ahead at once, while the sound still counts as playing and the noise
// detector is deaf to it; it plays once the sink is ready.
TEST_F(AlarmActionsTest, LaterReactionsDoNotWaitForTheSoundToStart) {
    TPri& w = *window_;
    capture::CaptureComponents& c = w.Capture();
    testsupport::HeldAudioSink held;
    testsupport::ScopedEnv slowSink("OCULARA_AUDIO_SINK", std::string("ocularaheldsink"));
    Settings.Allarme_Sonoro = Settings.Allarme_RegAvi = true;
    Settings.RegAvi_MaxUnoOgni = 0;
    const alarms::MovementItem items[3] = {};
    c.EventCounters.AppendEvent(alarms::EventoMovimento, items, 3);
    w.ControllaEventi_TimerTimer();
    w.GestisciEvento_TimerTimer();

    std::vector<std::string> described;
    for (const auto& row : alarms::TheEventLog().Rows()) described.push_back(row.description);
    EXPECT_THAT(described, ::testing::IsSupersetOf({std::string("Attivato allarme sonoro"),
                                                    std::string("Impossibile avviare la registrazione. Verificare "
                                                                "le impostazioni e riprovare.")}));
    EXPECT_EQ(held.Rendered(), 0u);  // the sink has not started, and nobody waited for it
    EXPECT_TRUE(platform::SoundPlaying());
    EXPECT_TRUE(c.audioDetector.SoundAlarmPlaying.load());
    EXPECT_TRUE(w.FermaAllarmeSonoro_Timer->Enabled());

    held.Let();
    EXPECT_TRUE(RunUntil([&] { return held.Rendered() > 0; }, 20000));
    w.FermaAllarmeSonoro_TimerTimer();
    EXPECT_FALSE(platform::SoundPlaying());
    EXPECT_FALSE(c.audioDetector.SoundAlarmPlaying.load());
}

TEST_F(AlarmActionsTest, ClosingTheWindowStopsTheSound) {
    window_->StartSoundAlarm();
    ASSERT_TRUE(platform::SoundPlaying());
    window_->close();
    EXPECT_FALSE(platform::SoundPlaying());
}

TEST_F(AlarmActionsTest, PhotoWithoutAFrameFailsWithThePathSoFar) {
    const alarms::PhotoOutcome photo = window_->TakePhoto();
    EXPECT_FALSE(photo.ok);
    EXPECT_EQ(photo.path.rfind(dir_.path() + "/OCL-", 0), 0u);
    EXPECT_EQ(photo.path.size(), dir_.path().size() + 1 + 4 + 14);  // no extension yet
}

TEST_F(AlarmActionsTest, PhotoOfTheRunningCameraIsAJpegOfItsSize) {
    TPri& w = *window_;
    Settings.Foto_Formato = 1;
    w.Button1Click();
    ASSERT_TRUE(RunUntil([&] { return w.Capture().VideoSampleGrabber->SampleCount() > 2; }, 5000));
    const alarms::PhotoOutcome photo = w.TakePhoto();
    w.Button2Click();
    ASSERT_TRUE(photo.ok) << photo.path;
    EXPECT_EQ(photo.path.substr(photo.path.size() - 4), ".jpg");
    const std::string jpeg = testsupport::ReadFile(photo.path);
    ASSERT_GT(jpeg.size(), 1000u);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[1]), 0xD8);
}

TEST_F(AlarmActionsTest, NotificationRequestsOnlyWhileADetectorMonitors) {
    TPri& w = *window_;
    capture::CaptureComponents& c = w.Capture();
    w.AttivaNotifiche_TimerTimer();
    EXPECT_EQ(c.EventCounters.PendingCount(), 0);  // both detectors idle: the tick is lost

    c.audioDetector.State.store(capture::Monitoring);
    w.AttivaNotifiche_TimerTimer();
    EXPECT_EQ(c.EventCounters.PendingCount(), 1);
    EXPECT_EQ(w.AttivaNotifiche_Timer->Tag.load(), 0);

    Settings.Attiva_VideoSorveglianza = Settings.Attiva_AudioSorveglianza = false;
    w.AttivaNotifiche_TimerTimer();
    EXPECT_EQ(c.EventCounters.PendingCount(), 1);
    c.audioDetector.State.store(capture::Idle);
}

TEST_F(AlarmActionsTest, QueuedEventsReachTheDispatcherOneAtATime) {
    TPri& w = *window_;
    capture::CaptureComponents& c = w.Capture();
    Settings.Allarme_Sonoro = false;
    const alarms::MovementItem items[3] = {};
    c.EventCounters.AppendEvent(alarms::EventoMovimento, items, 3);
    c.EventCounters.AppendEvent(alarms::EventoMovimento, items, 1);
    w.ControllaEventi_Timer->SetEnabled(true);
    ASSERT_TRUE(RunUntil([&] { return alarms::TheEventLog().Rows().size() >= 2; }, 3000));
    const auto& rows = alarms::TheEventLog().Rows();
    EXPECT_EQ(rows[0].type, "3 movimenti sospetti");
    EXPECT_EQ(rows[1].type, "Un movimento sospetto");
    EXPECT_EQ(w.GestisciEvento_Timer->Tag.load(), 0);
    EXPECT_FALSE(w.GestisciEvento_Timer->Enabled());
    w.ControllaEventi_Timer->SetEnabled(false);
}

}  // namespace
