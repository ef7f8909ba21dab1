// The general settings dialog offscreen: the start entry, the stored values,
// and the two log file buttons.

#include "dialogs/gui/UImpoGenerali.h"

#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "platform/Shell.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testsupport::PathExists;
using testsupport::ReadFile;
using Argv = std::vector<std::string>;

namespace {

class ImpoGeneraliTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedProgramDir_ = ProgramDir;
        ProgramDir = dir_ / "prog/";
        ProgramFile = ProgramDir + "Oculara";
        std::filesystem::create_directories(ProgramDir + "help/html");
        std::filesystem::create_directories(dir_ / "bin");
        for (const char* program : {"gedit", "xdg-open"}) {
            testsupport::WriteFile(dir_ / "bin/" + program, "#!/bin/sh\n");
            ::chmod((dir_ / "bin/" + program).c_str(), 0755);
        }
        Settings = TSettings();
        platform::SetSpawnForTests([this](const Argv& argv) {
            started_.push_back(argv);
            return true;
        });
    }
    void TearDown() override {
        platform::SetSpawnForTests({});
        ProgramDir = savedProgramDir_;
        Settings = TSettings();
    }
    std::string Entry() const { return dir_ / "config/autostart/Oculara.desktop"; }
    std::string Log() const { return ProgramDir + "Oculara.log"; }
    // A dialog as its caller makes it, confirmed with OK after `change`.
    template <typename Change>
    void Confirm(Change change) {
        TImpoGenerali dlg;
        dlg.show();
        change(dlg);
        QTest::mouseClick(dlg.OkButton, Qt::LeftButton);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv home_{"HOME", dir_ / "home"};
    testsupport::ScopedEnv config_{"XDG_CONFIG_HOME", dir_ / "config"};
    testsupport::ScopedEnv sysconf_{"OCULARA_SYSCONFDIR", dir_ / "etc"};
    testsupport::ScopedEnv path_{"PATH", dir_ / "bin"};
    std::string savedProgramDir_;
    std::vector<Argv> started_;
};

TEST_F(ImpoGeneraliTest, OpensWithTheStoredValuesAndTheFocusOnTheSize) {
    Settings.EsecuzioneAutomatica = true;
    Settings.AvviaMonitoraggio = true;
    Settings.ScriviLog = false;
    Settings.DimMaxLog = 25;
    TImpoGenerali dlg;
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_EQ(dlg.windowTitle(), "Impostazioni generali");
    EXPECT_TRUE(dlg.CheckBox2->isChecked());
    EXPECT_TRUE(dlg.CheckBox3->isChecked());
    EXPECT_FALSE(dlg.CheckBox1->isChecked());
    EXPECT_EQ(dlg.Edit1->text(), "25");
    EXPECT_EQ(QApplication::focusWidget(), dlg.Edit1);
    EXPECT_TRUE(dlg.OkButton->isDefault());
    EXPECT_EQ(dlg.SpeedButton1->toolTip(), " Apri file ");
    EXPECT_EQ(dlg.SpeedButton2->toolTip(), " Azzera file ");
}

TEST_F(ImpoGeneraliTest, StartEntryIsWrittenOnlyWhenTheBoxChanges) {
    Confirm([](TImpoGenerali& dlg) { dlg.CheckBox2->click(); });
    EXPECT_TRUE(Settings.EsecuzioneAutomatica);
    ASSERT_TRUE(PathExists(Entry()));
    EXPECT_NE(ReadFile(Entry()).find("Exec=" + ProgramDir + "Oculara autorun"), std::string::npos);

    // Unchanged: the entry is left alone, even when it has gone meanwhile.
    std::filesystem::remove(Entry());
    Confirm([](TImpoGenerali&) {});
    EXPECT_FALSE(PathExists(Entry()));
    EXPECT_TRUE(Settings.EsecuzioneAutomatica);

    testsupport::WriteFile(Entry(), "[Desktop Entry]\n");
    Confirm([](TImpoGenerali& dlg) { dlg.CheckBox2->click(); });
    EXPECT_FALSE(PathExists(Entry()));
    EXPECT_FALSE(Settings.EsecuzioneAutomatica);
}

// A stored size that is no digits-only text is shown and stored as it is,
// and no key or paste adds another character that is not a digit.
TEST_F(ImpoGeneraliTest, AStoredNegativeSizeStaysAndTheFieldStillTakesOnlyDigits) {
    Settings.DimMaxLog = -1;
    Confirm([](TImpoGenerali& dlg) {
        EXPECT_EQ(dlg.Edit1->text(), "-1");
        dlg.Edit1->end(false);
        dlg.Edit1->insert(QStringLiteral("x"));
        QTest::keyClicks(dlg.Edit1, "-");
        EXPECT_EQ(dlg.Edit1->text(), "-1");
    });
    EXPECT_EQ(Settings.DimMaxLog, -1);

    Confirm([](TImpoGenerali& dlg) {
        dlg.Edit1->end(false);
        dlg.Edit1->insert(QStringLiteral("2x"));
        QTest::keyClick(dlg.Edit1, Qt::Key_Home);
        QTest::keyClick(dlg.Edit1, Qt::Key_Delete);
        QTest::keyClicks(dlg.Edit1, "5");
        EXPECT_EQ(dlg.Edit1->text(), "51");
    });
    EXPECT_EQ(Settings.DimMaxLog, 51);
}

TEST_F(ImpoGeneraliTest, SizeAndSwitchesAreStoredAndSurviveARestart) {
    Confirm([](TImpoGenerali& dlg) { dlg.Edit1->clear(); });
    EXPECT_EQ(Settings.DimMaxLog, 1);

    Confirm([](TImpoGenerali& dlg) {
        dlg.Edit1->setText("0");
        dlg.CheckBox3->setChecked(true);
        dlg.CheckBox1->setChecked(false);
    });
    EXPECT_EQ(Settings.DimMaxLog, 0);
    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(Settings.DimMaxLog, 0);
    EXPECT_TRUE(Settings.AvviaMonitoraggio);
    EXPECT_FALSE(Settings.ScriviLog);
    EXPECT_FALSE(Settings.EsecuzioneAutomatica);

    TImpoGenerali dlg;
    dlg.show();
    QTest::keyClicks(dlg.Edit1, "7x");
    dlg.CheckBox1->setChecked(true);
    QTest::mouseClick(dlg.CancelButton, Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.Edit1->text(), "7");
    EXPECT_EQ(Settings.DimMaxLog, 0);
    EXPECT_FALSE(Settings.ScriviLog);
}

TEST_F(ImpoGeneraliTest, ClearedLogStartsAFreshFileWithTheNextEntry) {
    Settings.ScriviLog = true;
    alarms::WriteLogEntry("7/12/26 05:40:03", "Allarme", alarms::IconPericoloAlto, "Prima del taglio");
    ASSERT_NE(ReadFile(Log()).find("Prima del taglio"), std::string::npos);
    TImpoGenerali dlg;
    dlg.show();
    QTest::mouseClick(dlg.SpeedButton2, Qt::LeftButton);
    EXPECT_FALSE(PathExists(Log()));
    QTest::mouseClick(dlg.SpeedButton2, Qt::LeftButton);  // nothing left to delete: quiet
    EXPECT_TRUE(dlg.isVisible());

    alarms::WriteLogEntry("7/12/26 05:41:10", "Allarme", alarms::IconPericoloAlto, "Dopo il taglio");
    EXPECT_EQ(ReadFile(Log()), "7/12/26 05:41:10\tAllarme\tDopo il taglio\r\n");
}

TEST_F(ImpoGeneraliTest, LogOpensInTheTextEditorAndHelpShowsItsPage) {
    testsupport::WriteFile(ProgramDir + "help/html/impo_generali.htm", "<html></html>");
    TImpoGenerali dlg;
    dlg.show();
    QTest::mouseClick(dlg.SpeedButton1, Qt::LeftButton);
    QTest::mouseClick(dlg.HelpButton, Qt::LeftButton);
    ASSERT_EQ(started_.size(), 2u);
    EXPECT_EQ(started_[0], (Argv{dir_ / "bin/gedit", Log()}));
    EXPECT_EQ(started_[1], (Argv{dir_ / "bin/xdg-open", "file://" + ProgramDir + "help/html/impo_generali.htm"}));
    EXPECT_TRUE(dlg.isVisible());
}

}  // namespace
