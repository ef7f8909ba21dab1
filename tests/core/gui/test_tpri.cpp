// The main window under the offscreen platform: start-up rules of the
// switches, the notification period, resizing, the event list and its menu.

#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "platform/KnownFolders.h"
#include "platform/MessageBox.h"
#include "notify/SmsWorker.h"
#include "support/GuiTestSupport.h"
#include "support/LocalGateway.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFocusEvent>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <future>
#include <memory>
#include <thread>

namespace {

class TPriTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        SetupProgramDir();
        savedProgramDir_ = ProgramDir;
        Settings.FileAudio = ProgramDir + "Suoni/DefaultAlarm.wav";
        Settings.RegAvi_Dir = dir_.path() + "/Video/";
        Settings.Foto_Dir = dir_.path() + "/Foto/";
    }
    void TearDown() override {
        window_.reset();
        ProgramDir = savedProgramDir_;
    }
    TPri& Open() {
        window_ = std::make_unique<TPri>();
        return *window_;
    }
    template <typename W>
    W* Find(const char* name) {
        W* w = window_->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    testsupport::ScopedEnv testDevices_{"OCULARA_TEST_DEVICES", std::string("1")};
    testsupport::TempDir dir_;
    std::string savedProgramDir_;
    std::unique_ptr<TPri> window_;
};

TEST_F(TPriTest, DefaultsGiveTheDesignedStartState) {
    TPri& w = Open();
    EXPECT_EQ(w.windowTitle(), "Oculara");
    EXPECT_TRUE(Find<QCheckBox>("cb_VideoSorveglianza")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("cb_AudioSorveglianza")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox3")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox3")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("Button2")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("Button5")->isEnabled());  // the test devices are there
    EXPECT_TRUE(Find<QWidget>("Button7")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("lb_pv")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("MioIndicatore1")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("Label3")->isVisibleTo(&w));
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "2");
    EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "0");
    EXPECT_EQ(Find<QWidget>("VideoWindow")->size(), QSize(320, 240));
    EXPECT_EQ(Find<QWidget>("gb_preview")->geometry(), QRect(8, 120, 397, 366));
}

TEST_F(TPriTest, TimersExistDisabledWithTheirIntervals) {
    Settings.NotificaOgni = 90;
    Open();
    const std::pair<const char*, int> timers[] = {
        {"AvvioAutomatico_Timer", 500}, {"AttivaNotifiche_Timer", 90 * 60000},
        {"AggCalibVideo", 500},         {"AggCalibAudio", 500},
        {"VolTimer", 500},              {"ControllaEventi_Timer", 500},
        {"GestisciEvento_Timer", 200},  {"FermaAllarmeSonoro_Timer", 1000},
        {"Ferma_RegAvi", 1000},         {"InviaSMS_Timer", 250},
        {"InviaMail_Timer", 250},       {"ControllaDispositivi_Timer", 1000},
    };
    for (const auto& [name, interval] : timers) {
        TTimer* t = Find<TTimer>(name);
        ASSERT_NE(t, nullptr);
        EXPECT_FALSE(t->Enabled()) << name;
        EXPECT_EQ(t->interval(), interval) << name;
        EXPECT_EQ(t->Tag, 0) << name;
    }
}

TEST_F(TPriTest, AlarmsAndNotificationsBothStoredOnStayOn) {
    Settings.Attiva_AllarmiSuSospetti = true;
    Settings.Attiva_Notifiche = true;
    Open();
    EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_TRUE(Settings.Attiva_AllarmiSuSospetti);
    EXPECT_TRUE(Settings.Attiva_Notifiche);
}

TEST_F(TPriTest, NotificationsOnlyDisablesTheAlarmOnlyActions) {
    Settings.Attiva_AllarmiSuSospetti = false;
    Settings.Attiva_Notifiche = true;
    Settings.Allarme_Sonoro = false;
    Settings.Allarme_File = false;
    Open();
    EXPECT_FALSE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox2")->isChecked());
    for (const char* name : {"CheckBox3", "CheckBox7"}) {
        EXPECT_FALSE(Find<QCheckBox>(name)->isChecked()) << name;
        EXPECT_FALSE(Find<QCheckBox>(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(Settings.Attiva_AllarmiSuSospetti);
    EXPECT_TRUE(Settings.Attiva_Notifiche);

    // Turning the alarms back on enables both again.
    Find<QCheckBox>("CheckBox1")->click();
    EXPECT_TRUE(Find<QCheckBox>("CheckBox3")->isEnabled());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox7")->isEnabled());
    EXPECT_TRUE(Settings.Attiva_AllarmiSuSospetti);
}

TEST_F(TPriTest, SoundStoredOnWithOnlyNotificationsTurnsTheAlarmsOn) {
    Settings.Attiva_AllarmiSuSospetti = false;
    Settings.Attiva_Notifiche = true;
    Settings.Allarme_Sonoro = true;
    Open();
    EXPECT_TRUE(Find<QCheckBox>("CheckBox3")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_TRUE(Settings.Attiva_AllarmiSuSospetti);
    EXPECT_TRUE(Settings.Allarme_Sonoro);
}

TEST_F(TPriTest, ActionsWhoseTargetIsMissingAreSwitchedOff) {
    Settings.Allarme_SMS = true;         // no number
    Settings.Allarme_Mail = true;        // no address
    Settings.Allarme_RegAvi = true;      // folder missing
    Settings.Allarme_File = true;        // no file
    Open();
    for (const char* name : {"CheckBox8", "CheckBox4", "CheckBox5", "CheckBox7"})
        EXPECT_FALSE(Find<QCheckBox>(name)->isChecked()) << name;
    EXPECT_FALSE(Settings.Allarme_SMS);
    EXPECT_FALSE(Settings.Allarme_Mail);
    EXPECT_FALSE(Settings.Allarme_RegAvi);
    EXPECT_FALSE(Settings.Allarme_File);
}

TEST_F(TPriTest, ActionsWithTheirTargetsStayOn) {
    const std::string program = dir_ / "allarme.sh";
    testsupport::WriteFile(program, "#!/bin/sh\n");
    platform::ForceDirectories(Settings.RegAvi_Dir);
    Settings.SMS_NumeroCellulare = "3331234567";
    Settings.Mail_Indirizzo = "io@example.invalid";
    Settings.File_Nome = program;
    Settings.Allarme_SMS = Settings.Allarme_Mail = Settings.Allarme_RegAvi = Settings.Allarme_File = true;
    Open();
    for (const char* name : {"CheckBox8", "CheckBox4", "CheckBox5", "CheckBox7"})
        EXPECT_TRUE(Find<QCheckBox>(name)->isChecked()) << name;
    EXPECT_TRUE(Settings.Allarme_SMS && Settings.Allarme_Mail && Settings.Allarme_RegAvi && Settings.Allarme_File);
}

TEST_F(TPriTest, BothMonitoringBoxesStoredOffLeaveVideoOn) {
    Settings.Attiva_VideoSorveglianza = false;
    Settings.Attiva_AudioSorveglianza = false;
    Open();
    EXPECT_TRUE(Find<QCheckBox>("cb_VideoSorveglianza")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("cb_AudioSorveglianza")->isChecked());
    EXPECT_TRUE(Settings.Attiva_VideoSorveglianza);
    EXPECT_FALSE(Settings.Attiva_AudioSorveglianza);

    // Unchecking the only one left brings the other back.
    Find<QCheckBox>("cb_VideoSorveglianza")->click();
    EXPECT_TRUE(Find<QCheckBox>("cb_AudioSorveglianza")->isChecked());
    EXPECT_TRUE(Settings.Attiva_AudioSorveglianza);
    EXPECT_FALSE(Settings.Attiva_VideoSorveglianza);
}

TEST_F(TPriTest, PhotoClickWithNothingOnAndNoFolderTurnsAlarmsOnButNotThePhoto) {
    Settings.Attiva_AllarmiSuSospetti = false;
    Settings.Attiva_Notifiche = false;
    Settings.Allarme_Sonoro = false;
    Open();
    ASSERT_FALSE(Find<QCheckBox>("CheckBox1")->isChecked());
    Find<QCheckBox>("CheckBox6")->click();
    EXPECT_TRUE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("CheckBox6")->isChecked());
    EXPECT_FALSE(Settings.Allarme_Foto);
    EXPECT_TRUE(Settings.Attiva_AllarmiSuSospetti);
}

TEST_F(TPriTest, NotificationPeriodIsCommittedWhenTheWindowCloses) {
    TPri& w = Open();
    auto* edit1 = Find<QLineEdit>("Edit1");
    auto* edit2 = Find<QLineEdit>("Edit2");
    edit1->setText("1");
    edit2->setText("30");
    w.close();
    EXPECT_EQ(Settings.NotificaOgni, 90);
    EXPECT_EQ(Find<TTimer>("AttivaNotifiche_Timer")->interval(), 90 * 60000);
}

TEST_F(TPriTest, TheLongestPeriodSurvivesAStartAndCloseAndStillArmsItsTimer) {
    Settings.NotificaOgni = 60039;  // 999 h 99 min
    TPri& w = Open();
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "999");
    EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "99");
    EXPECT_EQ(Find<TTimer>("AttivaNotifiche_Timer")->interval(), INT32_MAX);  // not negative, so it runs
    w.close();
    EXPECT_EQ(Settings.NotificaOgni, 60039);
}

TEST_F(TPriTest, LeavingTheBoxesWithTheSamePeriodKeepsTheCountdown) {
    Settings.NotificaOgni = 1;
    TPri& w = Open();
    auto* timer = Find<TTimer>("AttivaNotifiche_Timer");
    timer->setTimerType(Qt::PreciseTimer);  // a coarse one may move its deadline by 5 %
    timer->SetEnabled(true);
    QTest::qWait(400);
    const int left = timer->remainingTime();
    ASSERT_LT(left, 60000 - 300);
    w.Edit1Exit();
    EXPECT_LE(timer->remainingTime(), left);
    // A new period starts the count afresh.
    Find<QLineEdit>("Edit2")->setText("2");
    w.Edit1Exit();
    EXPECT_GT(timer->remainingTime(), 60000);
}

TEST_F(TPriTest, PeriodBoxesTakeOnlyDigitsAndCommitOnLeaving) {
    TPri& w = Open();
    w.show();
    auto* edit1 = Find<QLineEdit>("Edit1");
    auto* edit2 = Find<QLineEdit>("Edit2");
    edit1->clear();
    edit1->setFocus();
    QTest::keyClicks(edit1, "a1-b2x3 4");
    EXPECT_EQ(edit1->text(), "123");
    QTest::keyClick(edit1, Qt::Key_Backspace);
    EXPECT_EQ(edit1->text(), "12");
    edit2->setText("5");
    QFocusEvent leave(QEvent::FocusOut);  // Edit1 loses the focus: the period is committed
    QApplication::sendEvent(edit1, &leave);
    EXPECT_EQ(Settings.NotificaOgni, 12 * 60 + 5);
}

TEST_F(TPriTest, AutomaticStartIsArmedOnlyWhenAsked) {
    Settings.AvviaMonitoraggio = true;
    TPri& w = Open();
    EXPECT_TRUE(Find<TTimer>("AvvioAutomatico_Timer")->Enabled());
    w.AvvioAutomatico_TimerTimer();
    EXPECT_FALSE(Find<TTimer>("AvvioAutomatico_Timer")->Enabled());
    window_.reset();

    Settings.AvviaMonitoraggio = false;
    Open();
    EXPECT_FALSE(Find<TTimer>("AvvioAutomatico_Timer")->Enabled());
}

TEST_F(TPriTest, AlarmCaptionsShowShortPaths) {
    Settings.FileAudio = "/opt/oculara/Suoni/DefaultAlarm.wav";
    Settings.RegAvi_Dir = "/home/anna/Documenti/Video/";
    Settings.Foto_Dir = "";
    Settings.SMS_NumeroCellulare = "3331234567";
    Open();
    EXPECT_EQ(Find<QLabel>("Label8")->text(), "Allarme sonoro: /../DefaultAlarm.wav");
    EXPECT_EQ(Find<QLabel>("Label11")->text(), "Registrazione audio/video, cartella /../Video");
    EXPECT_EQ(Find<QLabel>("Label12")->text(), "Scatta una foto, cartella ");
    EXPECT_EQ(Find<QLabel>("Label13")->text(), "Notifica tramite SMS, numero: 3331234567");
    EXPECT_EQ(Find<QLabel>("Label10")->text(), "Esegui questo file: ");
}

TEST_F(TPriTest, PanelsFollowTheClientSize) {
    TPri& w = Open();
    w.show();
    w.Client->resize(1000, 700);
    EXPECT_EQ(Find<QWidget>("gb_Sorveglianza2")->width(), 1000 - 8 - 8);
    EXPECT_EQ(Find<QWidget>("gb_Allarmi")->width(), 1000 - 413 - 8);
    EXPECT_EQ(Find<QWidget>("gb_Log")->size(), QSize(1000 - 413 - 8, 700 - 372 - 8));
    EXPECT_EQ(Find<QWidget>("lv_Log")->size(), QSize(1000 - 413 - 8 - 16, 700 - 372 - 8 - 16));
    auto* inner = Find<QWidget>("gb_Allamri2");
    EXPECT_EQ(inner->x(), (1000 - 413 - 8 - inner->width()) / 2);
    EXPECT_EQ(Find<QWidget>("gb_preview")->size(), QSize(397, 366));

    w.Client->resize(790, 480);
    EXPECT_EQ(Find<QWidget>("gb_Sorveglianza2")->width(), 774);
    EXPECT_EQ(Find<QWidget>("gb_Log")->size(), QSize(369, 114));
}

class TPriLogTest : public TPriTest {
protected:
    void SetUp() override {
        TPriTest::SetUp();
        ProgramDir = dir_.path() + "/";
        alarms::TheEventLog().ClearRows();
    }
};

TEST_F(TPriLogTest, EntriesAppearInTheListAndDuplicatesAreDropped) {
    Open();
    auto* list = Find<QTreeWidget>("lv_Log");
    alarms::WriteLogEntry("7/12/26 05:40:03", "Allarme", alarms::IconSuono, "Attivato allarme sonoro");
    alarms::WriteLogEntry("7/12/26 05:40:03", "Allarme", alarms::IconSuono, "Attivato allarme sonoro");
    ASSERT_EQ(list->topLevelItemCount(), 2);  // one row before: the duplicate is kept
    alarms::WriteLogEntry("7/12/26 05:40:03", "Allarme", alarms::IconSuono, "Attivato allarme sonoro");
    EXPECT_EQ(list->topLevelItemCount(), 2);
    QTreeWidgetItem* row = list->topLevelItem(1);
    EXPECT_EQ(row->text(0), "7/12/26 05:40:03");
    EXPECT_EQ(row->text(1), "Allarme");
    EXPECT_EQ(row->text(2), "Attivato allarme sonoro");
    EXPECT_FALSE(row->icon(0).isNull());
}

TEST_F(TPriLogTest, ClearingTheWholeLogAsksFirst) {
    TPri& w = Open();
    auto* list = Find<QTreeWidget>("lv_Log");
    alarms::WriteLogEntry("7/12/26 05:40:03", "Errore", alarms::IconErrore, "Uno");
    const std::string file = alarms::TheEventLog().FilePath();
    ASSERT_TRUE(testsupport::PathExists(file));

    std::vector<platform::MessageBoxRequest> asked;
    int answer = platform::IDNO;
    auto previous = platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest& r) {
        asked.push_back(r);
        return answer;
    });
    w.Azzeratuttoilregistro1Click();
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_TRUE(testsupport::PathExists(file));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Azzerare completamente il registro degli eventi ?");
    EXPECT_EQ(asked[0].caption, "Attenzione");
    EXPECT_EQ(asked[0].flags, platform::MB_YESNO | platform::MB_ICONQUESTION);

    answer = platform::IDYES;
    w.Azzeratuttoilregistro1Click();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(testsupport::PathExists(file));
    platform::SetMessageBoxHandler(previous);
}

TEST_F(TPriLogTest, PopupMenuHasItsItemsInOrder) {
    Open();
    auto* menu = Find<QMenu>("PopupMenu1");
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), "Apri con Notepad");
    EXPECT_EQ(actions[1]->text(), "Azzera registro attuale");
    EXPECT_EQ(actions[2]->text(), "Azzera tutto il registro degli eventi");
    EXPECT_TRUE(actions[3]->isSeparator());
}

// The SMS worker's answer comes while the window is closing, after its
// last pass of the event loop: its line still reaches the log file.
TEST_F(TPriLogTest, WorkerLineWrittenWhileTheWindowClosesReachesTheFile) {
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
    std::promise<void> asked;
    testsupport::LocalGateway gateway([&](const testsupport::HttpRequest&, size_t index) {
        if (index == 0) asked.set_value();
        answered.wait();
        return testsupport::LocalGateway::Reply{testsupport::LocalGateway::Action::Answer,
                                                testsupport::Answer("<err></err><nr>41</nr>")};
    });
    testsupport::ScopedEnv address("OCULARA_SMS_GATEWAY", gateway.Address());
    TPri& w = Open();
    Settings.SMS_NumeroCellulare = "3331234567";
    w.InviaSMS_TimerTimer();
    // Not an assertion: the gateway must be let go whatever happens.
    EXPECT_EQ(asked.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);

    w.close();
    answer.set_value();
    w.ThreadSMS->WaitIdle();  // the line is written: only the window's end is left
    window_.reset();
    EXPECT_NE(testsupport::ReadFile(dir_ / "Oculara.log").find("Inviata notifica tramite SMS, SMS rimanenti: 41"),
              std::string::npos);
}

// Once the window is gone, a thread's entry goes straight to the file and
// nothing reaches for the window any more.
TEST_F(TPriLogTest, EntriesAfterTheWindowIsGoneGoStraightToTheFile) {
    Open();
    window_.reset();
    std::thread([] { alarms::WriteLogEntry("7/12/26 05:40:03", "Errore", alarms::IconErrore, "dopo la finestra"); })
        .join();
    EXPECT_EQ(testsupport::ReadFile(dir_ / "Oculara.log"), "7/12/26 05:40:03\tErrore\tdopo la finestra\r\n");

    // A new window takes the log over again.
    Open();
    std::thread([] { alarms::WriteLogEntry("7/12/26 05:40:04", "Errore", alarms::IconErrore, "nuova finestra"); })
        .join();
    ASSERT_TRUE(testsupport::RunUntil([&] { return Find<QTreeWidget>("lv_Log")->topLevelItemCount() == 2; }, 5000));
}

}  // namespace
