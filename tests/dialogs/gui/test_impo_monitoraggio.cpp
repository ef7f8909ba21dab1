// The monitoring settings dialog under the offscreen platform: what it
// shows, its per-page defaults, and where OK leaves the user on a failure.

#include "core/Globali.h"
#include "dialogs/gui/UImpoMonitoraggio.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "support/FakeNmcli.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

class ImpoMonitoraggioTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetupProgramDir();
        Settings = TSettings();
        previous_ = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& r) {
            boxes.push_back(r);
            return answer;
        });
        testsupport::WriteScript(bin_ / "xdg-open", "#!/bin/sh\n");
        platform::SetSpawnForTests([this](const std::vector<std::string>& argv) {
            spawned.push_back(argv);
            return true;
        });
    }
    void TearDown() override {
        dialog_.reset();
        platform::SetMessageBoxHandler(previous_);
        platform::SetSpawnForTests({});
    }
    TImpoMonitoraggio& Open() {
        dialog_ = std::make_unique<TImpoMonitoraggio>();
        dialog_->show();
        dialog_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
        return *dialog_;
    }
    void Ok() {
        QTest::mouseClick(dialog_->OKBtn, Qt::LeftButton);
        QApplication::processEvents();
    }

    int answer = platform::IDYES;
    std::vector<platform::MessageBoxRequest> boxes;
    std::vector<std::vector<std::string>> spawned;
    testsupport::TempDir bin_;
    testsupport::ScopedEnv path_{"PATH", bin_.path()};
    platform::MessageBoxHandler previous_;
    std::unique_ptr<TImpoMonitoraggio> dialog_;
};

TEST_F(ImpoMonitoraggioTest, OpensWithTheStoredValuesAndTheirListItems) {
    Settings.TempoMaxMovimentiPerAvviso = 1500;
    Settings.TempoMaxRumoriPerAvviso = 4000;
    Settings.SesnsibilitaMotionDetector = 6;
    Settings.SesnsibilitaAudioDetector = 3;
    Settings.AttesaPerCalibrazioneAudio = 25;
    TImpoMonitoraggio& d = Open();
    EXPECT_EQ(d.windowTitle(), "Impostazioni di monitoraggio ");
    EXPECT_EQ(d.PageControl1->tabText(0), " Impostazioni video ");
    EXPECT_EQ(d.PageControl1->tabText(1), "Impostazioni audio");
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1);
    EXPECT_EQ(d.ComboBox1->currentText(), "1,5");
    EXPECT_EQ(d.ComboBox3->currentText(), "4");
    EXPECT_EQ(d.ComboBox2->currentText(), "Minima");
    EXPECT_EQ(d.ComboBox4->currentText(), "Media");
    EXPECT_EQ(d.Edit3->text(), "25");
    for (QComboBox* list : {d.ComboBox1, d.ComboBox2, d.ComboBox3, d.ComboBox4}) EXPECT_FALSE(list->isEditable());

    // Typed keys neither search a list nor get past a digits-only field's limit.
    d.ComboBox2->setFocus();
    QTest::keyClicks(d.ComboBox2, "MA");
    EXPECT_EQ(d.ComboBox2->currentText(), "Minima");
    d.Edit1->selectAll();
    QTest::keyClicks(d.Edit1, "12a345");
    EXPECT_EQ(d.Edit1->text(), "1234");
}

TEST_F(ImpoMonitoraggioTest, AWindowTheListCannotShowSelectsNoneAndOkStoresZero) {
    Settings.TempoMaxMovimentiPerAvviso = 10000;
    TImpoMonitoraggio& d = Open();
    EXPECT_EQ(d.ComboBox1->currentIndex(), -1);
    d.ComboBox2->setCurrentIndex(0);
    d.ComboBox4->setCurrentIndex(0);
    d.Edit1->setText("4321");
    Ok();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Settings.TempoMaxMovimentiPerAvviso, 0);
    EXPECT_EQ(Settings.SesnsibilitaMotionDetector, 2);
    EXPECT_EQ(Settings.SesnsibilitaAudioDetector, 1);
    EXPECT_EQ(Settings.AttesaPerCalibrazioneVideo, 4321);
    LoadSettings();  // memory only: the hive was not written
    EXPECT_NE(Settings.AttesaPerCalibrazioneVideo, 4321);
}

TEST_F(ImpoMonitoraggioTest, AFailureBringsItsPageForwardAndFocusesTheField) {
    TImpoMonitoraggio& d = Open();
    d.PageControl1->setCurrentIndex(1);
    d.Edit1->setText("7");
    d.Edit2->setText("2");
    answer = platform::IDNO;
    Ok();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1);
    EXPECT_EQ(QApplication::focusWidget(), d.Edit2);
    EXPECT_EQ(Settings.AttesaPerCalibrazioneVideo, 7);

    d.Edit2->setText("0");
    Ok();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(QApplication::focusWidget(), d.Edit2);

    d.Edit2->setText("4");
    d.Edit4->setText("1");
    Ok();
    EXPECT_EQ(boxes.size(), 3u);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet2);
    EXPECT_EQ(QApplication::focusWidget(), d.Edit4);
    EXPECT_EQ(Settings.NumMinMovimentiPerAvviso, 4);

    answer = platform::IDYES;
    Ok();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Settings.NumMinRumoriPerAvviso, 1);
}

// A stored value is shown whole, however long; OK answers one past its
// field's bounds with the field's message instead of storing a cut copy,
// and the field's length stays a limit on typing.
TEST_F(ImpoMonitoraggioTest, StoredValuesPastTheFieldsAreShownWholeAndOkAnswersThemWithTheirMessages) {
    Settings.AttesaPerCalibrazioneVideo = 12345;
    Settings.NumMinMovimentiPerAvviso = 999;
    Settings.AttesaPerCalibrazioneAudio = -1;
    Settings.NumMinRumoriPerAvviso = 1000;
    TImpoMonitoraggio& d = Open();
    EXPECT_EQ(d.Edit1->text(), "12345");
    EXPECT_EQ(d.Edit2->text(), "999");
    EXPECT_EQ(d.Edit3->text(), "-1");
    EXPECT_EQ(d.Edit4->text(), "1000");

    Ok();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_THAT(boxes[0].text, ::testing::HasSubstr("minore di 10000."));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1);
    EXPECT_EQ(QApplication::focusWidget(), d.Edit1);
    EXPECT_EQ(Settings.AttesaPerCalibrazioneVideo, 12345);

    // Keys neither lengthen the long text nor type past the field's 4 digits.
    d.Edit1->end(false);
    QTest::keyClicks(d.Edit1, "6");
    EXPECT_EQ(d.Edit1->text(), "12345");
    d.Edit1->selectAll();
    QTest::keyClicks(d.Edit1, "98765");
    EXPECT_EQ(d.Edit1->text(), "9876");
    Ok();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_THAT(boxes[1].text, ::testing::HasSubstr("minore di 10000."));
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet2);
    EXPECT_EQ(QApplication::focusWidget(), d.Edit3);
    EXPECT_EQ(Settings.AttesaPerCalibrazioneVideo, 9876);
    EXPECT_EQ(Settings.NumMinMovimentiPerAvviso, 999);  // as loaded
    EXPECT_EQ(Settings.AttesaPerCalibrazioneAudio, -1);

    QTest::keyClicks(d.Edit3, "-");  // a minus is no key of this field
    EXPECT_EQ(d.Edit3->text(), "-1");
    d.Edit3->selectAll();
    QTest::keyClicks(d.Edit3, "20");
    Ok();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_THAT(boxes[2].text, ::testing::HasSubstr("minore di 1000."));
    EXPECT_EQ(QApplication::focusWidget(), d.Edit4);
    EXPECT_EQ(Settings.NumMinRumoriPerAvviso, 1000);

    d.Edit4->selectAll();
    QTest::keyClicks(d.Edit4, "7777");
    EXPECT_EQ(d.Edit4->text(), "777");
    Ok();
    EXPECT_EQ(boxes.size(), 3u);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Settings.AttesaPerCalibrazioneAudio, 20);
    EXPECT_EQ(Settings.NumMinRumoriPerAvviso, 777);
}

TEST_F(ImpoMonitoraggioTest, EachDefaultsButtonResetsOnlyItsOwnPage) {
    TImpoMonitoraggio& d = Open();
    for (QLineEdit* e : {d.Edit1, d.Edit2, d.Edit3, d.Edit4}) e->setText("9");
    for (QComboBox* c : {d.ComboBox1, d.ComboBox2, d.ComboBox3, d.ComboBox4}) c->setCurrentIndex(4);
    QTest::mouseClick(d.VideoDefaultsBtn, Qt::LeftButton);
    EXPECT_EQ(d.Edit1->text(), "3");
    EXPECT_EQ(d.ComboBox2->currentText(), "Alta");
    EXPECT_EQ(d.Edit2->text(), "3");
    EXPECT_EQ(d.ComboBox1->currentText(), "4");
    EXPECT_EQ(d.Edit3->text(), "9");
    EXPECT_EQ(d.ComboBox4->currentIndex(), 4);
    EXPECT_EQ(d.Edit4->text(), "9");
    EXPECT_EQ(d.ComboBox3->currentIndex(), 4);

    d.PageControl1->setCurrentIndex(1);
    QTest::mouseClick(d.AudioDefaultsBtn, Qt::LeftButton);
    EXPECT_EQ(d.Edit3->text(), "3");
    EXPECT_EQ(d.ComboBox4->currentText(), "Alta");
    EXPECT_EQ(d.Edit4->text(), "2");
    EXPECT_EQ(d.ComboBox3->currentText(), "2");
    EXPECT_EQ(Settings.AttesaPerCalibrazioneAudio, 3);  // nothing stored before OK
    EXPECT_EQ(Settings.NumMinRumoriPerAvviso, 2);
    EXPECT_EQ(Settings.TempoMaxMovimentiPerAvviso, 4000);
}

TEST_F(ImpoMonitoraggioTest, AnnullaStoresNothingAndHelpOpensItsPage) {
    TImpoMonitoraggio& d = Open();
    QTest::mouseClick(d.HelpBtn, Qt::LeftButton);
    ASSERT_EQ(spawned.size(), 1u);
    EXPECT_THAT(spawned[0].back(), ::testing::EndsWith("/help/html/monitoraggio.htm"));
    d.Edit1->setText("8");
    QTest::mouseClick(d.CancelBtn, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(Settings.AttesaPerCalibrazioneVideo, 3);
}

}  // namespace
