// The detection settings as the monitoring dialog shows and stores them.

#include "dialogs/ImpoMonitoraggio.h"

#include "core/Globali.h"
#include "platform/MessageBox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dialogs;
using ::testing::ElementsAre;

namespace {

const std::string kQuestionTail =
    "Questa impostazione potrebbe causare falsi allarmi. Generalemte è utilizzabile in\n"
    "sistemi di alta qualità. Impostare il valore inserito ?";

TEST(TimeWindow, ShownAsSecondsWithADecimalCommaAndReadBack) {
    EXPECT_EQ(TimeWindowText(1500), "1,5");
    EXPECT_EQ(TimeWindowText(4000), "4");
    EXPECT_EQ(TimeWindowText(500), "0,5");
    EXPECT_EQ(TimeWindowText(10000), "10");
    EXPECT_EQ(TimeWindowText(0), "0");
    EXPECT_EQ(TimeWindowText(2250), "2,2");  // one decimal only: no list item has it
    for (const char* item : kTimeWindowItems) EXPECT_EQ(TimeWindowText(TimeWindowMilliseconds(item)), item);

    EXPECT_EQ(TimeWindowMilliseconds("4,5"), 4500);
    EXPECT_EQ(TimeWindowMilliseconds("1.5"), 1500);
    EXPECT_EQ(TimeWindowMilliseconds("0,0005"), 1);  // rounded to the nearest
    EXPECT_EQ(TimeWindowMilliseconds(""), 0);         // no item selected
    EXPECT_EQ(TimeWindowMilliseconds("4 s"), 0);
    EXPECT_EQ(TimeWindowMilliseconds("1e12"), 0);     // beyond a 32-bit value
}

// Records every box and the pages brought forward, in one sequence.
class MonitoringWalk : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& r) {
            boxes.push_back(r);
            events.push_back("box");
            return answer;
        });
        form = MonitoringDefaults();
        settings.AttesaPerCalibrazioneVideo = settings.AttesaPerCalibrazioneAudio = 99;
        settings.NumMinMovimentiPerAvviso = settings.NumMinRumoriPerAvviso = 99;
        settings.TempoMaxMovimentiPerAvviso = settings.TempoMaxRumoriPerAvviso = 99;
        settings.SesnsibilitaMotionDetector = settings.SesnsibilitaAudioDetector = 99;
    }
    void TearDown() override { platform::SetMessageBoxHandler(previous_); }
    MonitoringStop Walk() {
        return StoreMonitoringForm(form, settings, [this](int page) { events.push_back("page " + std::to_string(page)); });
    }

    MonitoringForm form;
    TSettings settings;
    int answer = platform::IDYES;
    std::vector<platform::MessageBoxRequest> boxes;
    std::vector<std::string> events;
    platform::MessageBoxHandler previous_;
};

TEST_F(MonitoringWalk, ValidFieldsAreAllStoredWithoutABox) {
    form.ComboBox2 = 0;  // "Massima"
    form.ComboBox4 = 0;
    form.Edit1 = "12";
    form.ComboBox1 = "0,5";
    form.ComboBox3 = "";  // no item
    EXPECT_EQ(Walk(), MonitoringStop::None);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(settings.AttesaPerCalibrazioneVideo, 12);
    EXPECT_EQ(settings.SesnsibilitaMotionDetector, 2);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 3);
    EXPECT_EQ(settings.TempoMaxMovimentiPerAvviso, 500);
    EXPECT_EQ(settings.AttesaPerCalibrazioneAudio, 3);
    EXPECT_EQ(settings.SesnsibilitaAudioDetector, 1);
    EXPECT_EQ(settings.NumMinRumoriPerAvviso, 2);
    EXPECT_EQ(settings.TempoMaxRumoriPerAvviso, 0);
}

TEST_F(MonitoringWalk, EmptyFieldsTakeTheirFallbacksAndPass) {
    form.Edit1 = form.Edit2 = form.Edit3 = form.Edit4 = "";
    settings.NumMinRumoriPerAvviso = 9;
    EXPECT_EQ(Walk(), MonitoringStop::None);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(settings.AttesaPerCalibrazioneVideo, 3);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 3);
    EXPECT_EQ(settings.AttesaPerCalibrazioneAudio, 3);
    EXPECT_EQ(settings.NumMinRumoriPerAvviso, 2);
}

TEST_F(MonitoringWalk, ANonPositiveWaitWarnsOnItsPageAndStopsThere) {
    form.Edit1 = "0";
    EXPECT_EQ(Walk(), MonitoringStop::Edit1);
    EXPECT_THAT(events, ElementsAre("page 0", "box"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Il valore del campo \"Avvia calibrazione dopo\" non è valido.\n"
              "Inserire un numero maggiore di 0 e minore di 10000.");
    EXPECT_EQ(boxes[0].caption, "Attenzione");
    EXPECT_EQ(boxes[0].flags, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_EQ(settings.AttesaPerCalibrazioneVideo, 99);
    EXPECT_EQ(settings.SesnsibilitaMotionDetector, 99);

    form.Edit1 = "5";
    form.Edit3 = "0";
    events.clear();
    EXPECT_EQ(Walk(), MonitoringStop::Edit3);
    EXPECT_THAT(events, ElementsAre("page 1", "box"));
    EXPECT_EQ(boxes[1].text, boxes[0].text);
    EXPECT_EQ(settings.TempoMaxMovimentiPerAvviso, 4000);  // the video page went through
    EXPECT_EQ(settings.SesnsibilitaAudioDetector, 99);
}

TEST_F(MonitoringWalk, AZeroCountWarnsAndStoresNothingAfterTheSensitivity) {
    form.Edit2 = "0";
    EXPECT_EQ(Walk(), MonitoringStop::Edit2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Il valore del campo \"Attiva allarmi se si verificano almeno\" non è valido.\n"
              "Inserire un numero maggiore di 0 e minore di 1000.");
    EXPECT_EQ(boxes[0].flags, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_EQ(settings.AttesaPerCalibrazioneVideo, 3);
    EXPECT_EQ(settings.SesnsibilitaMotionDetector, 3);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 99);
    EXPECT_EQ(settings.TempoMaxMovimentiPerAvviso, 99);
    EXPECT_EQ(settings.AttesaPerCalibrazioneAudio, 99);

    boxes.clear();
    form.Edit2 = "3";
    form.Edit4 = "0";
    EXPECT_EQ(Walk(), MonitoringStop::Edit4);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(settings.TempoMaxRumoriPerAvviso, 99);
}

// A stored value shown whole may lie past what the field lets the user type:
// the walk answers it with the field's message rather than store it.
TEST_F(MonitoringWalk, ValuesPastTheStatedBoundsWarnOnTheirPagesAsZeroDoes) {
    form.Edit1 = "9999";
    form.Edit2 = "999";
    form.Edit3 = "10000";
    EXPECT_EQ(Walk(), MonitoringStop::Edit3);
    EXPECT_THAT(events, ElementsAre("page 1", "box"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Il valore del campo \"Avvia calibrazione dopo\" non è valido.\n"
              "Inserire un numero maggiore di 0 e minore di 10000.");
    EXPECT_EQ(settings.AttesaPerCalibrazioneVideo, 9999);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 999);
    EXPECT_EQ(settings.AttesaPerCalibrazioneAudio, 99);

    form.Edit3 = "3";
    form.Edit4 = "12345";
    events.clear();
    EXPECT_EQ(Walk(), MonitoringStop::Edit4);
    EXPECT_THAT(events, ElementsAre("page 1", "box"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text,
              "Il valore del campo \"Attiva allarmi se si verificano almeno\" non è valido.\n"
              "Inserire un numero maggiore di 0 e minore di 1000.");
    EXPECT_EQ(settings.NumMinRumoriPerAvviso, 99);

    form.Edit1 = "2147483647";
    events.clear();
    EXPECT_EQ(Walk(), MonitoringStop::Edit1);
    EXPECT_THAT(events, ElementsAre("page 0", "box"));
    form.Edit1 = "3";
    form.Edit2 = "1000";
    EXPECT_EQ(Walk(), MonitoringStop::Edit2);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 999);
}

TEST_F(MonitoringWalk, FewMovementsAskFirstAndNoStopsTheWalk) {
    form.Edit2 = "2";
    answer = platform::IDNO;
    EXPECT_EQ(Walk(), MonitoringStop::Edit2);
    EXPECT_THAT(events, ElementsAre("page 0", "box"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Il valore del campo \"Attiva allarmi se si verificano almeno\" è inferiore a 3.\n" + kQuestionTail);
    EXPECT_EQ(boxes[0].caption, "Attenzione");
    EXPECT_EQ(boxes[0].flags, platform::MB_YESNO | platform::MB_ICONQUESTION);
    EXPECT_EQ(settings.AttesaPerCalibrazioneVideo, 3);
    EXPECT_EQ(settings.SesnsibilitaMotionDetector, 3);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 99);

    answer = platform::IDYES;
    EXPECT_EQ(Walk(), MonitoringStop::None);
    EXPECT_EQ(settings.NumMinMovimentiPerAvviso, 2);
    EXPECT_EQ(settings.TempoMaxRumoriPerAvviso, 2000);
}

TEST_F(MonitoringWalk, OneNoiseAsksOnTheAudioPageTwoAskNothing) {
    form.Edit4 = "1";
    answer = platform::IDNO;
    EXPECT_EQ(Walk(), MonitoringStop::Edit4);
    EXPECT_THAT(events, ElementsAre("page 1", "box"));
    EXPECT_EQ(boxes[0].text,
              "Il valore del campo \"Attiva allarmi se si verificano almeno\" è inferiore a 2.\n" + kQuestionTail);
    EXPECT_EQ(settings.SesnsibilitaAudioDetector, 2);
    EXPECT_EQ(settings.NumMinRumoriPerAvviso, 99);

    form.Edit4 = "2";
    boxes.clear();
    EXPECT_EQ(Walk(), MonitoringStop::None);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(settings.NumMinRumoriPerAvviso, 2);
}

}  // namespace
