// The connection dialog under the offscreen platform, with the shipped
// dial-up library listing the profiles of a stand-in nmcli.

#include "core/Globali.h"
#include "dialogs/gui/UImpoConne.h"
#include "notify/Ras.h"
#include "platform/Shell.h"
#include "support/FakeNmcli.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

namespace {

using testsupport::TempDir;

auto ConnFields(const TSettings& s) {
    return std::make_tuple(s.Conn_AttivaConnessione, s.Conn_NomeConnessione, s.Conn_Disconnetti, s.Conn_Username,
                           s.Conn_Password, s.Conn_UsaProxy, s.Conn_ProxyServer, s.Conn_ProxyPorta, s.Conn_ProxyAuth,
                           s.Conn_ProxyUsername, s.Conn_ProxyPassword);
}

bool IsGrey(const QWidget* w) { return w->palette().color(QPalette::Base) == QColor(232, 232, 232); }

class ImpoConneTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetupProgramDir();
        Settings = TSettings();
        testsupport::WriteFakeNmcli(bin_.path());
        testsupport::WriteScript(bin_ / "xdg-open", "#!/bin/sh\n");
        platform::SetSpawnForTests([this](const std::vector<std::string>& argv) {
            spawned_.push_back(argv);
            return true;
        });
    }
    void TearDown() override {
        dialog_.reset();
        notify::BindRasLibraryForTests("");
        platform::SetSpawnForTests({});
    }
    // The profiles nmcli lists, one a line; the shipped library is bound.
    void Profiles(const std::string& lines) {
        testsupport::WriteFile(bin_ / "profiles", lines);
        notify::BindRasLibraryForTests(ProgramDir + "librasapi32.so");
        ASSERT_TRUE(notify::DialUpAvailable()) << "librasapi32.so missing from " << ProgramDir;
    }
    TImpoConne& Open() {
        dialog_ = std::make_unique<TImpoConne>();
        dialog_->show();
        return *dialog_;
    }

    TempDir bin_;
    testsupport::ScopedEnv path_{"PATH", bin_.path()};
    std::vector<std::vector<std::string>> spawned_;
    std::unique_ptr<TImpoConne> dialog_;
};

TEST_F(ImpoConneTest, WithoutDialUpTheListIsEmptyAndOkStoresAnEmptyName) {
    notify::BindRasLibraryForTests("");
    Settings.Conn_AttivaConnessione = true;
    Settings.Conn_NomeConnessione = "Casa";
    TImpoConne& d = Open();
    EXPECT_EQ(d.windowTitle(), "Configura connessione");
    EXPECT_EQ(d.GroupBox1->title(), " Impostazioni ");
    EXPECT_EQ(d.ComboBox1->count(), 0);
    EXPECT_TRUE(d.RadioButton2->isChecked());
    EXPECT_TRUE(d.ComboBox1->isEnabled());
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(Settings.Conn_AttivaConnessione);
    EXPECT_EQ(Settings.Conn_NomeConnessione, "");
}

TEST_F(ImpoConneTest, TheStoredEntryIsSelectedWhileItExistsElseTheFirst) {
    Profiles("Ufficio\nCasa\n");
    Settings.Conn_AttivaConnessione = true;
    Settings.Conn_NomeConnessione = "Casa";
    EXPECT_EQ(Open().ComboBox1->currentText(), "Casa");

    Settings.Conn_NomeConnessione = "Sparita";
    TImpoConne& d = Open();
    ASSERT_EQ(d.ComboBox1->count(), 2);
    EXPECT_EQ(d.ComboBox1->itemText(1), "Casa");
    EXPECT_EQ(d.ComboBox1->currentText(), "Ufficio");
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    EXPECT_EQ(Settings.Conn_NomeConnessione, "Ufficio");
}

TEST_F(ImpoConneTest, ControlsFollowTheirSwitchesFromTheStart) {
    Settings.Conn_AttivaConnessione = false;
    Settings.Conn_UsaProxy = false;
    Settings.Conn_ProxyAuth = true;  // cannot stand without the proxy
    TImpoConne& d = Open();
    EXPECT_TRUE(d.RadioButton1->isChecked());
    EXPECT_FALSE(d.ComboBox1->isEnabled());
    EXPECT_FALSE(d.CheckBox1->isEnabled());
    for (QLineEdit* e : {d.Edit5, d.Edit6, d.Edit1, d.Edit2, d.Edit3, d.Edit4}) {
        EXPECT_FALSE(e->isEnabled()) << e->objectName().toStdString();
        EXPECT_TRUE(IsGrey(e)) << e->objectName().toStdString();
    }
    EXPECT_FALSE(d.CheckBox3->isChecked());
    EXPECT_FALSE(d.CheckBox3->isEnabled());

    QTest::mouseClick(d.RadioButton2, Qt::LeftButton);
    QTest::mouseClick(d.CheckBox2, Qt::LeftButton);
    EXPECT_TRUE(d.ComboBox1->isEnabled());
    EXPECT_TRUE(d.CheckBox1->isEnabled());
    EXPECT_TRUE(d.CheckBox3->isEnabled());
    for (QLineEdit* e : {d.Edit5, d.Edit6, d.Edit1, d.Edit2}) {
        EXPECT_TRUE(e->isEnabled()) << e->objectName().toStdString();
        EXPECT_FALSE(IsGrey(e)) << e->objectName().toStdString();
    }
    EXPECT_FALSE(d.Edit3->isEnabled());
    QTest::mouseClick(d.CheckBox3, Qt::LeftButton);
    EXPECT_TRUE(d.Edit3->isEnabled());
    EXPECT_FALSE(IsGrey(d.Edit4));

    d.Edit2->setFocus();
    QTest::keyClicks(d.Edit2, "80a8080");
    EXPECT_EQ(d.Edit2->text(), "80808");
}

TEST_F(ImpoConneTest, ClearingTheProxyClearsAuthenticationButKeepsItsTexts) {
    Settings.Conn_UsaProxy = true;
    Settings.Conn_ProxyServer = "proxy.lan";
    Settings.Conn_ProxyPorta = "3128";
    Settings.Conn_ProxyAuth = true;
    Settings.Conn_ProxyUsername = "mario";
    Settings.Conn_ProxyPassword = "segreta";
    TImpoConne& d = Open();
    EXPECT_TRUE(d.Edit3->isEnabled());
    QTest::mouseClick(d.CheckBox2, Qt::LeftButton);
    EXPECT_FALSE(d.CheckBox3->isChecked());
    EXPECT_FALSE(d.CheckBox3->isEnabled());
    EXPECT_TRUE(IsGrey(d.Edit3));
    EXPECT_TRUE(IsGrey(d.Edit1));
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    EXPECT_FALSE(Settings.Conn_UsaProxy);
    EXPECT_FALSE(Settings.Conn_ProxyAuth);
    EXPECT_EQ(Settings.Conn_ProxyServer, "proxy.lan");
    EXPECT_EQ(Settings.Conn_ProxyUsername, "mario");
    EXPECT_EQ(Settings.Conn_ProxyPassword, "segreta");
}

TEST_F(ImpoConneTest, OkWithoutChangesStoresAndSavesWhatWasLoaded) {
    Profiles("Ufficio\nChiavetta 3G\n");
    Settings.Conn_AttivaConnessione = true;
    Settings.Conn_NomeConnessione = "Chiavetta 3G";
    Settings.Conn_Disconnetti = false;
    Settings.Conn_Username = " utente ";
    Settings.Conn_Password = "pass word ";
    Settings.Conn_UsaProxy = true;
    Settings.Conn_ProxyServer = " 10.0.0.1";
    Settings.Conn_ProxyPorta = "08080";
    Settings.Conn_ProxyAuth = true;
    Settings.Conn_ProxyUsername = "èlla";
    Settings.Conn_ProxyPassword = "x";
    Settings.DimMaxLog = 7;  // outside the dialog, saved alongside
    const auto loaded = ConnFields(Settings);
    TImpoConne& d = Open();
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    EXPECT_EQ(ConnFields(Settings), loaded);

    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(ConnFields(Settings), loaded);
    EXPECT_EQ(Settings.DimMaxLog, 7);
}

// Texts past the fields' 100 characters (one past QLineEdit's own cap of
// 32767) and a port past its 5 digits come back from OK whole.
TEST_F(ImpoConneTest, StoredTextsLongerThanTheirFieldsAreShownAndStoredWhole) {
    Settings.Conn_AttivaConnessione = true;
    Settings.Conn_Username = std::string(300, 'u');
    Settings.Conn_Password = std::string(150, 'p');
    Settings.Conn_UsaProxy = true;
    Settings.Conn_ProxyServer = "proxy." + std::string(40000, 'x') + ".invalid";
    Settings.Conn_ProxyPorta = "123456789";
    Settings.Conn_ProxyAuth = true;
    Settings.Conn_ProxyUsername = std::string(101, 'n');
    Settings.Conn_ProxyPassword = "pass word " + std::string(200, 'w');
    const auto loaded = ConnFields(Settings);
    TImpoConne& d = Open();
    EXPECT_EQ(d.Edit1->text().toStdString(), Settings.Conn_ProxyServer);
    EXPECT_EQ(d.Edit2->text(), "123456789");
    EXPECT_EQ(d.Edit5->text().size(), 300);
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    EXPECT_EQ(ConnFields(Settings), loaded);
    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(ConnFields(Settings), loaded);
}

// The 100 characters stay a typing limit: a longer stored text may only get
// shorter, undo included, and a retyped one stops at 100; the port at 5.
TEST_F(ImpoConneTest, LongStoredTextsOnlyGetShorterAndTypingStopsAtTheLimit) {
    Settings.Conn_AttivaConnessione = true;
    Settings.Conn_Username = std::string(120, 'u');
    Settings.Conn_UsaProxy = true;
    Settings.Conn_ProxyPorta = "123456";
    TImpoConne& d = Open();
    d.Edit5->end(false);
    QTest::keyClicks(d.Edit5, "ab");
    EXPECT_EQ(d.Edit5->text().size(), 120);
    QTest::keyClick(d.Edit5, Qt::Key_Backspace);
    QTest::keyClick(d.Edit5, Qt::Key_Backspace);
    QTest::keyClicks(d.Edit5, "ab");
    EXPECT_EQ(d.Edit5->text(), QString(118, QLatin1Char('u')));
    while (d.Edit5->isUndoAvailable()) d.Edit5->undo();
    EXPECT_EQ(d.Edit5->text(), QString(120, QLatin1Char('u')));
    QTest::keyClicks(d.Edit5, "ab");
    d.Edit5->insert(QStringLiteral("pasted"));
    EXPECT_EQ(d.Edit5->text(), QString(120, QLatin1Char('u')));
    d.Edit5->selectAll();
    QTest::keyClicks(d.Edit5, QString(130, QLatin1Char('v')));
    EXPECT_EQ(d.Edit5->text(), QString(100, QLatin1Char('v')));

    d.Edit2->end(false);
    QTest::keyClicks(d.Edit2, "7");
    EXPECT_EQ(d.Edit2->text(), "123456");
    d.Edit2->selectAll();
    QTest::keyClicks(d.Edit2, "8080808");
    EXPECT_EQ(d.Edit2->text(), "80808");
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    EXPECT_EQ(Settings.Conn_Username, std::string(100, 'v'));
    EXPECT_EQ(Settings.Conn_ProxyPorta, "80808");
}

TEST_F(ImpoConneTest, AnnullaStoresNothingAndHelpOpensItsPage) {
    TImpoConne& d = Open();
    d.Edit5->setText("mario");
    QTest::mouseClick(d.HelpBtn, Qt::LeftButton);
    ASSERT_EQ(spawned_.size(), 1u);
    EXPECT_THAT(spawned_[0].back(), ::testing::EndsWith("/help/html/connessione.htm"));
    QTest::mouseClick(d.CancelBtn, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(Settings.Conn_Username, "");
}

}  // namespace
