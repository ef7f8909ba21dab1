#include "alarms/Dispatcher.h"
#include "alarms/EventLog.h"
#include "alarms/OutgoingTexts.h"
#include "core/Globali.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using alarms::EventRecord;
using alarms::EventTotals;
using platform::DateTime;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const DateTime kNow{2024, 3, 5, 9, 4, 7};

EventRecord Event(uint8_t kind, int count) {
    EventRecord e;
    e.TipoEvento = kind;
    (kind == alarms::EventoRumore ? e.NoiseCount : e.MovementCount) = count;
    return e;
}

// One timeline of the actions and of the log rows as they are appended, so
// the order between a reaction and its line shows.
class FakeReactions : public alarms::AlarmReactions {
public:
    std::vector<std::string> timeline;
    bool smsBusy = false, mailBusy = false, videoMonitoring = true, recording = false;
    bool recordingStarts = true;
    alarms::PhotoOutcome photo{true, "/foto/OCL-20240305090407.bmp"};
    std::string textAtDisable, textAtEnable;  // TestoSMS around its composition
    DateTime clockAfterPhoto{};               // a slow camera moves the clock on

    void StartSoundAlarm() override { timeline.push_back("sound"); }
    bool SmsWorkerBusy() override { return smsBusy; }
    void DisableSmsTimer() override {
        timeline.push_back("sms off");
        textAtDisable = alarms::TestoSMS;
    }
    void EnableSmsTimer() override {
        timeline.push_back("sms on");
        textAtEnable = alarms::TestoSMS;
    }
    bool MailWorkerBusy() override { return mailBusy; }
    void DisableMailTimer() override { timeline.push_back("mail off"); }
    void EnableMailTimer() override { timeline.push_back("mail on"); }
    bool VideoDetectorMonitoring() override { return videoMonitoring; }
    alarms::PhotoOutcome TakePhoto() override {
        timeline.push_back("photo");
        if (clockAfterPhoto.year != 1899) platform::SetNowForTests(clockAfterPhoto);
        return photo;
    }
    bool RecordingActive() override { return recording; }
    bool StartRecording() override {
        timeline.push_back("record");
        return recordingStarts;
    }
    void ArmRecordingStop(int32_t ms) override {
        timeline.push_back("stop in " + std::to_string(ms));
        recording = true;  // Ferma_RegAvi now runs
    }
    std::string NomeFileAvi() override { return "/video/OCL-20240305090407.avi"; }
    void RunAlarmFile() override { timeline.push_back("file"); }
};

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedDir_ = ProgramDir;
        savedScriviLog_ = Settings.ScriviLog;
        ProgramDir = dir_.path() + "/";
        Settings.ScriviLog = true;
        alarms::TheEventLog().ClearRows();
        alarms::TheEventLog().onRowAppended = [this](const alarms::LogRow& r) {
            fake_.timeline.push_back("log " + r.type + "|" + std::to_string(r.icon) + "|" +
                                     r.description);
        };
        platform::SetNowForTests(kNow);
        alarmFile_ = dir_ / "allarme.sh";
        testsupport::WriteFile(alarmFile_, "#!/bin/sh\n");
        s_.Allarme_SMS = s_.Allarme_Mail = s_.Allarme_Foto = s_.Allarme_RegAvi = s_.Allarme_File =
            true;
        s_.File_Nome = alarmFile_;
        alarms::TestoSMS = alarms::OggettoMail = alarms::TestoMail = "old";
    }
    void TearDown() override {
        alarms::TheEventLog().onRowAppended = nullptr;
        alarms::TheEventLog().ClearRows();
        platform::ClearNowForTests();
        ProgramDir = savedDir_;
        Settings.ScriviLog = savedScriviLog_;
    }
    void Dispatch(const EventRecord& e, EventTotals totals = {}) {
        alarms::GestisciEvento(s_, e, totals, true, DateTime{2024, 3, 4, 22, 0, 0}, fake_);
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> out;
        for (const auto& r : alarms::TheEventLog().Rows())
            out.push_back(r.type + "|" + r.description);
        return out;
    }

    testsupport::TempDir dir_;
    std::string savedDir_, alarmFile_;
    bool savedScriviLog_ = true;
    TSettings s_;
    FakeReactions fake_;
};

TEST(DispatcherTexts, CountsAndWordsOfAlarmTexts) {
    const EventTotals none;
    const auto sms = [&](uint8_t k, int n) {
        return alarms::ComposeTestoSMS(Event(k, n), none, true, kNow, kNow);
    };
    const auto mail = [&](uint8_t k, int n) {
        return alarms::ComposeTestoMail(Event(k, n), none, true, kNow, kNow);
    };
    EXPECT_EQ(sms(alarms::EventoMovimento, 1),
              "Alle 09:04:07 del 05/03/2024 Oculara ha rilevato 1 movimento sospetto");
    EXPECT_THAT(sms(alarms::EventoMovimento, 3), EndsWith(" rilevato 3 movimenti sospetti"));
    EXPECT_THAT(sms(alarms::EventoRumore, 1), EndsWith(" rilevato 1 rumore sospetto"));
    EXPECT_THAT(sms(alarms::EventoRumore, 12), EndsWith(" rilevato 12 rumori sospetti"));
    EXPECT_EQ(mail(alarms::EventoMovimento, 1),
              "Alle 09:04:07 del 05/03/2024 Oculara ha rilevato un movimento sospetto.\r\n");
    EXPECT_THAT(mail(alarms::EventoMovimento, 3), EndsWith(" rilevato 3 movimenti sospetti.\r\n"));
    EXPECT_THAT(mail(alarms::EventoRumore, 1), EndsWith(" rilevato un rumore sospetto.\r\n"));
    EXPECT_THAT(mail(alarms::EventoRumore, 2), EndsWith(" rilevato 2 rumori sospetti.\r\n"));
    EXPECT_EQ(alarms::ComposeOggettoMail(alarms::EventoRumore), "Rumori sospetti");
    EXPECT_EQ(alarms::ComposeOggettoMail(alarms::EventoMovimento), "Movimenti sospetti");
    EXPECT_EQ(alarms::ComposeOggettoMail(alarms::EventoNotifica), "Notifica");
}

TEST(DispatcherTexts, NotificationSummaryAndLastEventLines) {
    const EventRecord request = Event(alarms::EventoNotifica, 0);
    const DateTime start{2024, 3, 4, 23, 30, 15}, now{2024, 3, 5, 0, 10, 0};
    EventTotals t;
    const std::string opening =
        "Dalle 23:30:15 alle 00:10:00 del 05/03/2024 Oculara ha rilevato 0 rumori sospetti e 0 movimenti sospetti";
    EXPECT_EQ(alarms::ComposeTestoSMS(request, t, true, start, now), opening);
    EXPECT_EQ(alarms::ComposeTestoMail(request, t, true, start, now), opening + ".\r\n");
    EXPECT_THAT(alarms::ComposeTestoSMS(request, t, false, start, now),
                StartsWith("Dalle 00:00:00 alle 00:10:00"));

    t = {true, DateTime{2024, 3, 4, 23, 45, 1}, alarms::EventoRumore, 4, 2};
    EXPECT_EQ(
        alarms::ComposeTestoMail(request, t, true, start, now),
        "Dalle 23:30:15 alle 00:10:00 del 05/03/2024 Oculara ha rilevato 2 rumori sospetti e 4 movimenti sospetti.\r\n"
        "Tipo ultimo evento sospetto: rumore\r\nData e ora ultimo evento sospetto: 04/03/2024 23:45:01\r\n");
    t.LastEventKind = alarms::EventoMovimento;
    EXPECT_THAT(alarms::ComposeTestoMail(request, t, true, start, now),
                HasSubstr("sospetto: movimento\r\nData"));
}

TEST(DispatcherRateLimit, IntervalWithinOneDayOnly) {
    const std::string stamp = "202403051000";
    EXPECT_FALSE(alarms::RateLimitPassed(5, stamp, {2024, 3, 5, 10, 4, 59}));
    EXPECT_TRUE(alarms::RateLimitPassed(5, stamp, {2024, 3, 5, 10, 5, 0}));
    EXPECT_FALSE(
        alarms::RateLimitPassed(5, stamp, {2024, 3, 5, 9, 58, 0}));  // stamp ahead of the clock
    EXPECT_TRUE(alarms::RateLimitPassed(5, "202403042359", {2024, 3, 5, 0, 1, 0}));
    EXPECT_FALSE(
        alarms::RateLimitPassed(5, "202403050958", {2024, 3, 5, 10, 2, 0}));  // across the hour
    EXPECT_TRUE(alarms::RateLimitPassed(5, "202403050958", {2024, 3, 5, 10, 3, 0}));
    EXPECT_TRUE(alarms::RateLimitPassed(0, stamp, {2024, 3, 5, 9, 58, 0}));
    EXPECT_TRUE(alarms::RateLimitPassed(-3, stamp, {2024, 3, 5, 10, 0, 0}));
    EXPECT_TRUE(alarms::RateLimitPassed(1440, TimeStamp::Never, {2024, 3, 5, 10, 0, 0}));
}

TEST(DispatcherRateLimit, ShortAndGarbageStampsReadAsZero) {
    const DateTime at0004{2024, 3, 5, 0, 4, 0}, at0005{2024, 3, 5, 0, 5, 0};
    EXPECT_TRUE(alarms::RateLimitPassed(5, "", at0004));
    EXPECT_TRUE(alarms::RateLimitPassed(5, "2024", at0004));
    // Same date, the time cut short or not a number: 00:00 in its place.
    for (const char* stamp :
         {"20240305", "202403051", "20240305xx", "20240305ab-c", "20240305:0", "20240305 1+2"}) {
        EXPECT_FALSE(alarms::RateLimitPassed(5, stamp, at0004)) << stamp;
        EXPECT_TRUE(alarms::RateLimitPassed(5, stamp, at0005)) << stamp;
    }
    EXPECT_FALSE(
        alarms::RateLimitPassed(5, "2024030510", {2024, 3, 5, 10, 4, 0}));  // minutes missing
    EXPECT_TRUE(alarms::RateLimitPassed(5, "2024030510", {2024, 3, 5, 10, 5, 0}));
    EXPECT_TRUE(alarms::RateLimitPassed(5, "20240305xx30", {2024, 3, 5, 0, 35, 0}));
    EXPECT_FALSE(alarms::RateLimitPassed(5, "20240305xx30", {2024, 3, 5, 0, 34, 0}));
}

TEST_F(DispatcherTest, EveryReactionInOrderWithItsLine) {
    fake_.clockAfterPhoto = {2024, 3, 5, 9, 5, 30};
    s_.RegAvi_DurataRegistrazione = 99999;
    Dispatch(Event(alarms::EventoMovimento, 3));
    EXPECT_THAT(
        fake_.timeline,
        ElementsAre(
            "log 3 movimenti sospetti|0|Eventi classificati con alta pericolosità: attivazione allarmi in corso ...",
            "log Allarme|5|Attivato allarme sonoro", "sound", "sms off", "sms on", "mail off",
            "mail on", "photo",
            "log Allarme|8|Scattata foto, nome file: /foto/OCL-20240305090407.bmp", "record",
            "stop in 99999000",
            "log Allarme|4|Attivata registrazione Audio/Video, nome file: /video/OCL-20240305090407.avi",
            "file", "log Allarme|9|Eseguito file " + alarmFile_));
    EXPECT_EQ(fake_.textAtDisable, "old");  // composed only with the start timer off
    EXPECT_EQ(fake_.textAtEnable,
              "Alle 09:04:07 del 05/03/2024 Oculara ha rilevato 3 movimenti sospetti");
    EXPECT_EQ(alarms::OggettoMail, "Movimenti sospetti");
    EXPECT_THAT(alarms::TestoMail, EndsWith("3 movimenti sospetti.\r\n"));
    // Stamps and log times are of the moment each is written.
    EXPECT_EQ(s_.Foto_OraUltimoScatto.Get(), "202403050905");
    EXPECT_EQ(s_.File_OraUltimaEsecuzione.Get(), "202403050905");
    EXPECT_EQ(s_.SMS_OraUltimoInvio.Get(), TimeStamp::Never);  // the workers write these
    EXPECT_EQ(s_.RegAvi_OraUltimaRegistrazione.Get(), TimeStamp::Never);
    const auto& rows = alarms::TheEventLog().Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].dateTime, "5/3/24 09:04:07");
    EXPECT_EQ(rows[2].dateTime, "5/3/24 09:05:30");
    EXPECT_THAT(testsupport::ReadFile(dir_ / "Oculara.log"),
                EndsWith("5/3/24 09:05:30\tAllarme\tEseguito file " + alarmFile_ + "\r\n"));
}

TEST_F(DispatcherTest, EachRateLimitHoldsBackItsOwnReaction) {
    for (TimeStamp* t : {&s_.SMS_OraUltimoInvio, &s_.Mail_OraUltimoInvio, &s_.Foto_OraUltimoScatto,
                         &s_.RegAvi_OraUltimaRegistrazione, &s_.File_OraUltimaEsecuzione})
        t->Set("202403050900");
    Dispatch(Event(alarms::EventoRumore, 1));  // 09:04
    EXPECT_THAT(fake_.timeline, ElementsAre(StartsWith("log Un rumore sospetto|0|"),
                                            "log Allarme|5|Attivato allarme sonoro", "sound"));
    EXPECT_EQ(alarms::TestoSMS, "old");

    platform::SetNowForTests({2024, 3, 5, 9, 5, 0});
    s_.Mail_MaxUnoOgni = s_.Foto_MaxUnoOgni = s_.RegAvi_MaxUnoOgni = s_.File_MaxUnoOgni = 6;
    fake_.timeline.clear();
    Dispatch(Event(alarms::EventoRumore, 1));
    EXPECT_THAT(fake_.timeline, Contains("sms on"));
    EXPECT_THAT(fake_.timeline, Not(Contains("mail on")));

    s_.SMS_MaxUnoOgni = 0;
    s_.SMS_OraUltimoInvio.Set("202403050905");
    fake_.timeline.clear();
    Dispatch(Event(alarms::EventoRumore, 2));
    EXPECT_THAT(fake_.timeline, Contains("sms on"));
    EXPECT_THAT(alarms::TestoSMS, EndsWith(" 2 rumori sospetti"));
}

TEST_F(DispatcherTest, NotificationsOnlyMode) {
    s_.Attiva_AllarmiSuSospetti = false;
    s_.Attiva_Notifiche = true;
    Dispatch(Event(alarms::EventoMovimento, 1));
    EXPECT_THAT(
        fake_.timeline,
        ElementsAre("log Un movimento sospetto|0|Eventi classificati con alta pericolosità"));

    fake_.timeline.clear();
    const EventTotals totals{true, DateTime{2024, 3, 5, 8, 0, 0}, alarms::EventoMovimento, 1, 0};
    Dispatch(Event(alarms::EventoNotifica, 0), totals);
    EXPECT_THAT(
        fake_.timeline,
        ElementsAre(
            "sms off", "sms on", "mail off", "mail on", "photo",
            "log Notifica|8|Scattata foto, nome file: /foto/OCL-20240305090407.bmp", "record",
            "stop in 15000",
            "log Notifica|4|Attivata registrazione Audio/Video, nome file: /video/OCL-20240305090407.avi"));
    EXPECT_EQ(
        alarms::TestoSMS,
        "Dalle 22:00:00 alle 09:04:07 del 05/03/2024 Oculara ha rilevato 0 rumori sospetti e 1 movimenti sospetti");
    EXPECT_EQ(alarms::OggettoMail, "Notifica");
    EXPECT_THAT(
        alarms::TestoMail,
        EndsWith(
            "sospetto: movimento\r\nData e ora ultimo evento sospetto: 05/03/2024 08:00:00\r\n"));

    s_.Attiva_Notifiche = false;  // switched off while its timer still runs
    fake_.timeline.clear();
    Dispatch(Event(alarms::EventoNotifica, 0));
    EXPECT_TRUE(fake_.timeline.empty());
}

TEST_F(DispatcherTest, BusyChannelsAreSkippedNotDeferred) {
    s_.Allarme_Mail = false;
    Dispatch(Event(alarms::EventoMovimento, 1));  // starts the recording
    s_.Allarme_Mail = true;
    fake_.mailBusy = true;
    fake_.timeline.clear();
    Dispatch(Event(alarms::EventoMovimento, 3));
    EXPECT_THAT(fake_.timeline, Contains("sms on"));
    for (const char* absent : {"mail off", "mail on", "record"})
        EXPECT_THAT(fake_.timeline, Not(Contains(absent)));
    EXPECT_EQ(alarms::OggettoMail, "old");
    EXPECT_EQ(alarms::TestoMail, "old");
    const std::vector<std::string> rows = Rows();
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const std::string& r) { return r.find("registrazione") != r.npos; }),
              1);

    fake_.smsBusy = true;
    alarms::TestoSMS = "old";
    fake_.timeline.clear();
    Dispatch(Event(alarms::EventoMovimento, 2));
    EXPECT_THAT(fake_.timeline, Not(Contains("sms off")));
    EXPECT_EQ(alarms::TestoSMS, "old");
}

TEST_F(DispatcherTest, FailedPhotoAndRefusedRecordingAreLoggedAndTheRestGoesOn) {
    fake_.photo = {false, "/foto/OCL-20240305090407"};
    fake_.recordingStarts = false;
    Dispatch(Event(alarms::EventoMovimento, 1));
    EXPECT_THAT(
        fake_.timeline,
        IsSupersetOf(
            {"log Errore|2|Impossibile salvare la foto /foto/OCL-20240305090407",
             "log Errore|2|Impossibile avviare la registrazione. Verificare le impostazioni e riprovare.",
             "file"}));
    EXPECT_THAT(fake_.timeline, Not(Contains(StartsWith("stop in"))));
    EXPECT_EQ(s_.Foto_OraUltimoScatto.Get(), TimeStamp::Never);

    fake_.timeline.clear();
    fake_.videoMonitoring = false;  // still calibrating
    Dispatch(Event(alarms::EventoMovimento, 1));
    EXPECT_THAT(fake_.timeline, Not(Contains("photo")));
}

TEST_F(DispatcherTest, LowDangerRunsNothingAfterTheSummary) {
    EventRecord e = Event(alarms::EventoRumore, 2);
    e.DangerLevel = 1;
    Dispatch(e);
    EXPECT_THAT(fake_.timeline,
                ElementsAre("log 2 rumori sospetti|1|Eventi classificati con bassa pericolosità"));
}

TEST_F(DispatcherTest, FileReactionNeedsAnExistingFile) {
    s_.Allarme_Sonoro = s_.Allarme_SMS = s_.Allarme_Mail = s_.Allarme_Foto = s_.Allarme_RegAvi =
        false;
    for (const std::string& name : {std::string(), dir_ / "missing.sh", dir_.path()}) {
        s_.File_Nome = name;
        Dispatch(Event(alarms::EventoMovimento, 1));
    }
    EXPECT_THAT(fake_.timeline, Not(Contains("file")));
    EXPECT_EQ(s_.File_OraUltimaEsecuzione.Get(), TimeStamp::Never);
}

TEST_F(DispatcherTest, GarbageStampsDoNotStopTheReactions) {
    for (const char* stamp : {"", "x", "2024030", "20240305\xff\xfe", "202403050904000000000"}) {
        s_.SMS_OraUltimoInvio.Set(stamp);
        s_.Foto_OraUltimoScatto.Set(stamp);
        fake_.timeline.clear();
        Dispatch(Event(alarms::EventoMovimento, 1));
        EXPECT_THAT(fake_.timeline, Contains("sound")) << stamp;
    }
}

}  // namespace
