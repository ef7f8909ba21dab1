// The alarm configuration dialog under the offscreen platform: the failing
// field's page and focus, the recording rules, the buttons of the pages.

#include "controls/gui/JusLab.h"
#include "core/Globali.h"
#include "dialogs/gui/DialogSupport.h"
#include "dialogs/gui/UCfgAllarmi.h"
#include "dialogs/gui/UDlgSelezionaDir.h"
#include "dialogs/gui/UImpoConne.h"
#include "notify/Ras.h"
#include "platform/Capture.h"
#include "platform/MessageBox.h"
#include "platform/PlaySound.h"
#include "platform/Shell.h"
#include "support/FakeNmcli.h"
#include "support/GuiTestSupport.h"
#include "support/LocalGateway.h"
#include "support/MailTestSupport.h"
#include "support/SmtpRecorder.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using platform::MessageBoxRequest;
using testsupport::ScopedEnv;

struct PauseRecord {
    int milliseconds;
    bool buttonEnabled;
};
std::vector<PauseRecord> pauses;
QPushButton* watchedButton = nullptr;

void RecordPause(int milliseconds) {
    pauses.push_back({milliseconds, watchedButton && watchedButton->isEnabled()});
}

std::vector<std::string> Names(const std::vector<platform::DeviceInfo>& devices) {
    std::vector<std::string> names;
    for (const auto& d : devices) names.push_back(d.FriendlyName);
    return names;
}

std::vector<std::string> Items(const QComboBox* list) {
    std::vector<std::string> items;
    for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i).toStdString());
    return items;
}

class CfgAllarmiTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        SetupProgramDir();
        Settings.FileAudio = ProgramDir + "Suoni/DefaultAlarm.wav";
        Settings.RegAvi_Dir = dir_.path() + "/Video/";
        Settings.Foto_Dir = dir_.path() + "/Foto/";
        platform::SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            boxes_.push_back(r);
            return platform::IDOK;
        });
        platform::SetSpawnForTests([this](const std::vector<std::string>& argv) {
            spawned_.push_back(argv);
            return true;
        });
        pauses.clear();
        notify::SetPauseForTests(RecordPause);
    }
    void TearDown() override {
        watchedButton = nullptr;
        dialog_.reset();
        notify::BindRasLibraryForTests("");
        notify::SetPauseForTests(nullptr);
        platform::SetSpawnForTests({});
        platform::SetMessageBoxHandler({});
    }
    TCfgAllarmi& Open() {
        dialog_ = std::make_unique<TCfgAllarmi>();
        dialog_->show();
        dialog_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
        return *dialog_;
    }
    QWidget* Focused() {
        QApplication::processEvents();
        return QApplication::focusWidget();
    }
    // Answers the next modal dialog of type D from inside its own event loop;
    // one that never comes fails the test rather than hanging it.
    template <typename D>
    void WhenModal(std::function<void(D*)> answer) {
        QTimer::singleShot(50, [answer] {
            D* modal = nullptr;
            testsupport::RunUntil(
                [&] { return (modal = qobject_cast<D*>(QApplication::activeModalWidget())) != nullptr; }, 5000);
            if (!modal) {
                ADD_FAILURE() << "no modal dialog";
                return;
            }
            answer(modal);
            if (modal->isVisible()) {
                ADD_FAILURE() << "the modal dialog is still open";
                modal->reject();
            }
        });
    }

    testsupport::TempDir dir_;
    std::vector<MessageBoxRequest> boxes_;
    std::vector<std::vector<std::string>> spawned_;
    std::unique_ptr<TCfgAllarmi> dialog_;
};

TEST_F(CfgAllarmiTest, OpensWithItsCaptionPagesAndStoredValues) {
    Settings.SMS_Password = "segreta";
    Settings.Foto_Formato = 1;
    TCfgAllarmi& d = Open();
    EXPECT_EQ(d.windowTitle(), "Configurazione allarmi e notifiche");
    const char* captions[] = {"Allarme sonoro ", "Notifica tramite SMS ", "Notifica tramite mail ",
                              "Registrazione Audio/Video ", "Foto ", "Esecuzione file "};
    ASSERT_EQ(d.PageControl1->count(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d.PageControl1->tabText(i).toStdString(), captions[i]);
    EXPECT_EQ(d.PageControl1->currentIndex(), 0);
    EXPECT_EQ(Focused(), d.Edit1);
    EXPECT_EQ(d.Label2->text().toStdString(), Settings.FileAudio);
    EXPECT_EQ(d.Label18->text().toStdString(), dir_.path() + "/Video");
    EXPECT_EQ(d.Label24->text().toStdString(), dir_.path() + "/Foto");
    EXPECT_EQ(d.Edit4->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.Edit4->text(), "segreta");
    EXPECT_EQ(d.Edit4->displayText(), "*******");
    EXPECT_EQ(d.ComboBox3->currentText(), "JPeg (.JPG)");
    for (auto [edit, limit] : {std::pair{d.Edit2, 20}, {d.Edit10, 5}, {d.Edit9, 4}}) {
        edit->selectAll();
        QTest::keyClicks(edit, QString(25, QLatin1Char('7')));
        EXPECT_EQ(edit->text(), QString(limit, QLatin1Char('7'))) << edit->objectName().toStdString();
    }
    EXPECT_EQ(dialogs::Find<QLabel>(&d, "Label6")->text(), "+39");
    EXPECT_TRUE(d.OKBtn->isDefault());

    QTest::keyClicks(d.Edit5, "a1-");
    EXPECT_EQ(d.Edit5->text(), "51");

    // Every control lies inside its page, whatever room the system font
    // takes; the notes are at least as wide as they were designed.
    for (int i = 0; i < 6; ++i) {
        d.ShowPage(i);
        QWidget* page = d.PageControl1->widget(i);
        QApplication::processEvents();
        for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(page->rect().contains(w->geometry())) << w->objectName().toStdString();
        for (TJusLab* note : page->findChildren<TJusLab*>()) {
            EXPECT_GE(note->width(), 533);
            EXPECT_EQ(note->palette().color(QPalette::WindowText), QColor(0, 0, 128));
            EXPECT_FALSE(note->autoFillBackground());
        }
    }
}

TEST_F(CfgAllarmiTest, AFailureFrontsItsPageShowsItsMessageAndFocusesItsField) {
    TCfgAllarmi& d = Open();
    d.Edit3->setText(" utente ");
    d.Edit5->clear();
    d.Edit9->setText("1441");
    d.ShowPage(5);
    d.OKBtn->click();

    EXPECT_EQ(d.PageControl1->currentIndex(), 3);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Il numero di minuti non è valido.\nInserire un numero compreso tra 0 e 1440.");
    EXPECT_EQ(boxes_[0].caption, "Attenzione");
    EXPECT_EQ(boxes_[0].flags, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_EQ(Focused(), d.Edit9);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.Edit5->text(), "1");  // filled with its default
    EXPECT_EQ(Settings.SMS_UserName, "utente");
    EXPECT_EQ(Settings.SMS_MaxUnoOgni, 1);

    d.Edit9->setText("5");
    d.Edit1->setText("0");
    d.OKBtn->click();
    EXPECT_EQ(d.PageControl1->currentIndex(), 0);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, "Il numero di secondi non è valido.");
    EXPECT_EQ(Focused(), d.Edit1);

    // The page's own focus control is not the failing field here.
    d.Edit1->setText("3");
    d.Edit5->setText("0");
    d.OKBtn->click();
    EXPECT_EQ(d.PageControl1->currentIndex(), 1);
    EXPECT_EQ(Focused(), d.Edit5);
}

// Texts past their fields (the number's 20 digits, QLineEdit's own cap of
// 32767) come back from "Applica" whole; the number's typing rules hold.
TEST_F(CfgAllarmiTest, StoredTextsLongerThanTheirFieldsAreShownAndSavedWhole) {
    Settings.SMS_NumeroCellulare = "+39 333 1234567 interno 12";
    Settings.SMS_UserName = std::string(300, 'u');
    Settings.SMS_Password = std::string(300, 'p');
    Settings.Mail_Indirizzo = std::string(300, 'a') + "@example.invalid";
    Settings.Mail_ServerSMTP = "smtp." + std::string(40000, 's') + ".invalid";
    Settings.DuarataAllarmeSonoro = INT32_MAX;
    const TSettings loaded = Settings;
    TCfgAllarmi& d = Open();
    EXPECT_EQ(d.Edit2->text().toStdString(), loaded.SMS_NumeroCellulare);
    EXPECT_EQ(d.Edit8->text().toStdString(), loaded.Mail_ServerSMTP);
    d.OKBtn->click();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(Settings.SMS_NumeroCellulare, loaded.SMS_NumeroCellulare);
    EXPECT_EQ(Settings.SMS_UserName, loaded.SMS_UserName);
    EXPECT_EQ(Settings.SMS_Password, loaded.SMS_Password);
    EXPECT_EQ(Settings.Mail_Indirizzo, loaded.Mail_Indirizzo);
    EXPECT_EQ(Settings.Mail_ServerSMTP, loaded.Mail_ServerSMTP);
    EXPECT_EQ(Settings.DuarataAllarmeSonoro, INT32_MAX);

    TCfgAllarmi& again = Open();
    again.Edit2->end(false);
    QTest::keyClicks(again.Edit2, "9");
    again.Edit2->insert(QStringLiteral("x"));
    EXPECT_EQ(again.Edit2->text().toStdString(), loaded.SMS_NumeroCellulare);
    again.Edit2->selectAll();
    again.Edit2->insert(QStringLiteral("+39 333"));  // no more than the stored text's own
    EXPECT_EQ(again.Edit2->text(), "+39 333");
    again.Edit2->selectAll();
    QTest::keyClicks(again.Edit2, QString(25, QLatin1Char('3')));
    EXPECT_EQ(again.Edit2->text(), QString(20, QLatin1Char('3')));
}

// Numbers past their fields' digits meet the checks of "Applica" as they
// are: out of range they get their message, in range they are kept.
TEST_F(CfgAllarmiTest, StoredNumbersPastTheirFieldsMeetTheirChecksUncut) {
    Settings.SMS_MaxUnoOgni = 12345;
    Settings.Mail_MaxUnoOgni = 1440;
    Settings.RegAvi_DurataRegistrazione = 123456;
    Settings.RegAvi_MaxUnoOgni = 99999;
    Settings.Foto_MaxUnoOgni = -1;
    Settings.File_MaxUnoOgni = 14400;
    TCfgAllarmi& d = Open();
    EXPECT_EQ(d.Edit5->text(), "12345");
    EXPECT_EQ(d.Edit10->text(), "123456");
    EXPECT_EQ(d.Edit11->text(), "-1");
    EXPECT_EQ(d.Edit12->text(), "14400");

    struct Step {
        QLineEdit* field;
        int page;
        const char* fix;
    };
    const Step steps[] = {{d.Edit5, 1, "5"}, {d.Edit10, 3, "60"}, {d.Edit9, 3, "10"}, {d.Edit11, 4, "0"}, {d.Edit12, 5, "7"}};
    for (const Step& step : steps) {
        const std::string name = step.field->objectName().toStdString();
        const size_t before = boxes_.size();
        d.OKBtn->click();
        ASSERT_EQ(boxes_.size(), before + 1) << name;
        EXPECT_EQ(d.PageControl1->currentIndex(), step.page) << name;
        EXPECT_EQ(Focused(), step.field) << name;
        step.field->selectAll();
        QTest::keyClicks(step.field, QString::fromLatin1(step.fix));
    }
    EXPECT_EQ(boxes_[1].text, "La durata della registrazione non è valida.\nInserire un numero compreso tra 1 e 99999.");
    d.OKBtn->click();
    EXPECT_EQ(boxes_.size(), 5u);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Settings.SMS_MaxUnoOgni, 5);
    EXPECT_EQ(Settings.Mail_MaxUnoOgni, 1440);
    EXPECT_EQ(Settings.RegAvi_DurataRegistrazione, 60);
    EXPECT_EQ(Settings.RegAvi_MaxUnoOgni, 10);
    EXPECT_EQ(Settings.Foto_MaxUnoOgni, 0);
    EXPECT_EQ(Settings.File_MaxUnoOgni, 7);
}

TEST_F(CfgAllarmiTest, ShowPageFrontsThePageWithItsFocusControl) {
    TCfgAllarmi& d = Open();
    d.ShowPage(4);
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet5);
    EXPECT_EQ(d.PageControl1->tabText(d.PageControl1->currentIndex()), "Foto ");
    EXPECT_EQ(Focused(), d.ComboBox3);
    d.ShowPage(2);
    EXPECT_EQ(Focused(), d.Edit6);
    d.PageControl1->setCurrentIndex(1);  // as a click on the tab does
    EXPECT_EQ(Focused(), d.Edit2);

    // As the main window opens it: the page is chosen before the window shows.
    dialog_.reset();
    dialog_ = std::make_unique<TCfgAllarmi>();
    dialog_->ShowPage(4);
    dialog_->show();
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    EXPECT_EQ(dialog_->PageControl1->currentIndex(), 4);
    EXPECT_EQ(Focused(), dialog_->ComboBox3);
}

TEST_F(CfgAllarmiTest, OneRecordingBoxAlwaysStaysTickedAndGatesItsCodec) {
    Settings.RegAvi_RegistraVideo = false;
    Settings.RegAvi_RegistraAudio = false;
    TCfgAllarmi& d = Open();
    EXPECT_TRUE(d.CheckBox2->isChecked());
    EXPECT_FALSE(d.CheckBox3->isChecked());
    EXPECT_TRUE(d.CheckBox4->isEnabled());
    EXPECT_TRUE(d.ComboBox1->isEnabled());
    EXPECT_FALSE(d.CheckBox5->isEnabled());
    EXPECT_FALSE(d.ComboBox2->isEnabled());

    d.ShowPage(3);
    d.CheckBox3->click();  // both ticked
    EXPECT_TRUE(d.CheckBox5->isEnabled());
    d.CheckBox2->click();  // video cleared first
    EXPECT_FALSE(d.CheckBox2->isChecked());
    EXPECT_FALSE(d.CheckBox4->isEnabled());
    EXPECT_FALSE(d.ComboBox1->isEnabled());
    d.CheckBox3->click();  // clearing audio too ticks video again
    EXPECT_TRUE(d.CheckBox2->isChecked());
    EXPECT_FALSE(d.CheckBox3->isChecked());
    EXPECT_TRUE(d.CheckBox4->isEnabled());
    EXPECT_FALSE(d.CheckBox5->isEnabled());
}

TEST_F(CfgAllarmiTest, CompressorListsFollowTheSystemAndTickingOneCodecStoresOnlyIt) {
    const auto video = Names(platform::EnumerateDevices(platform::DeviceCategory::VideoCompressor));
    const auto audio = Names(platform::EnumerateDevices(platform::DeviceCategory::AudioCompressor));
    if (video.size() > 1) Settings.RegAvi_NomeCodecVideo = video[1];
    Settings.RegAvi_RegistraAudio = true;
    TCfgAllarmi& d = Open();
    EXPECT_EQ(Items(d.ComboBox1), video);
    EXPECT_EQ(Items(d.ComboBox2), audio);
    EXPECT_EQ(d.ComboBox1->currentIndex(), video.size() > 1 ? 1 : -1);
    EXPECT_EQ(d.ComboBox2->currentIndex(), -1);

    d.ShowPage(3);
    d.CheckBox5->click();
    EXPECT_EQ(d.ComboBox2->currentIndex(), audio.empty() ? -1 : 0);
    d.OKBtn->click();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(Settings.RegAvi_UsaCodecAudio);
    EXPECT_FALSE(Settings.RegAvi_UsaCodecVideo);
    EXPECT_EQ(Settings.RegAvi_NomeCodecAudio, audio.empty() ? "" : audio[0]);
    EXPECT_EQ(Settings.RegAvi_NomeCodecVideo, video.size() > 1 ? video[1] : "");
}

TEST_F(CfgAllarmiTest, ShowingTheRecordingPageAgainKeepsTheChosenCodecs) {
    const auto video = Names(platform::EnumerateDevices(platform::DeviceCategory::VideoCompressor));
    const auto audio = Names(platform::EnumerateDevices(platform::DeviceCategory::AudioCompressor));
    if (video.size() < 2 || audio.size() < 2) GTEST_SKIP() << "fewer than two encoders of a kind installed";
    Settings.RegAvi_NomeCodecVideo = video[0];
    Settings.RegAvi_NomeCodecAudio = audio[0];
    Settings.RegAvi_RegistraAudio = true;
    TCfgAllarmi& d = Open();
    d.ShowPage(3);
    EXPECT_EQ(d.ComboBox1->currentIndex(), 0);
    d.ComboBox1->setCurrentIndex(1);
    d.ComboBox2->setCurrentIndex(1);
    d.ShowPage(0);
    d.ShowPage(3);
    EXPECT_EQ(d.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(d.ComboBox2->currentIndex(), 1);

    // A failed "Applica" fronts the page again; the choice is what is saved.
    d.Edit10->setText("0");
    d.OKBtn->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(d.PageControl1->currentIndex(), 3);
    EXPECT_EQ(d.ComboBox1->currentText().toStdString(), video[1]);
    EXPECT_EQ(d.ComboBox2->currentText().toStdString(), audio[1]);
    d.Edit10->setText("30");
    d.OKBtn->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(Settings.RegAvi_NomeCodecVideo, video[1]);
    EXPECT_EQ(Settings.RegAvi_NomeCodecAudio, audio[1]);
    EXPECT_EQ(Settings.RegAvi_DurataRegistrazione, 30);
}

TEST_F(CfgAllarmiTest, EscStoresNothingAndApplicaSavesEverything) {
    const TSettings before = Settings;
    TCfgAllarmi& d = Open();
    d.Edit1->setText("77");
    d.Edit6->setText("anna@example.invalid");
    QTest::keyClick(d.Edit6, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(Settings.DuarataAllarmeSonoro, before.DuarataAllarmeSonoro);
    EXPECT_EQ(Settings.Mail_Indirizzo, before.Mail_Indirizzo);

    TCfgAllarmi& again = Open();
    EXPECT_EQ(again.Edit1->text(), QString::number(before.DuarataAllarmeSonoro));
    again.Edit1->setText("77");
    again.Edit6->setText(" anna@example.invalid ");
    again.Edit12->clear();
    again.ComboBox3->setCurrentIndex(1);
    QTest::keyClick(again.Edit6, Qt::Key_Return);  // the default button
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes_.empty());

    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(Settings.DuarataAllarmeSonoro, 77);
    EXPECT_EQ(Settings.Mail_Indirizzo, "anna@example.invalid");
    EXPECT_EQ(Settings.File_MaxUnoOgni, 0);
    EXPECT_EQ(Settings.Foto_Formato, 1);
    EXPECT_EQ(Settings.RegAvi_Dir, dir_.path() + "/Video/");
    EXPECT_EQ(Settings.Foto_Dir, dir_.path() + "/Foto/");
}

TEST_F(CfgAllarmiTest, VerificaCreditoAsksTheGatewayAndShowsItsAnswer) {
    testsupport::LocalGateway gateway(testsupport::Always(testsupport::Answer("<msg>Credito residuo: 42</msg>")));
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    TCfgAllarmi& d = Open();
    watchedButton = d.VerificaCreditoButton;
    d.ShowPage(1);
    d.Edit2->setText("3331234567");
    d.Edit3->setText(" mario ");
    d.Edit4->setText("pw");
    d.VerificaCreditoButton->click();

    ASSERT_EQ(gateway.RequestCount(), 1u);
    const std::string target = gateway.Requests()[0].target;
    EXPECT_NE(target.find("?az=2&"), std::string::npos) << target;
    EXPECT_NE(target.find("&un=mario&pwd=pw&ver=2.0&dest=3331234567"), std::string::npos) << target;
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Credito residuo: 42");
    EXPECT_EQ(boxes_[0].caption, "OK");
    EXPECT_EQ(boxes_[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    // Greyed for the exchange, enabled again before the box; no dial, no hang-up.
    ASSERT_EQ(pauses.size(), 2u);
    EXPECT_EQ(pauses[0].milliseconds, 250);
    EXPECT_FALSE(pauses[0].buttonEnabled);
    EXPECT_EQ(pauses[1].milliseconds, 750);
    EXPECT_TRUE(pauses[1].buttonEnabled);
    EXPECT_EQ(Settings.SMS_UserName, "");  // the fields are sent, not stored
}

TEST_F(CfgAllarmiTest, VerificaCreditoWithoutAnAnswerWarnsAndDialsWhenAsked) {
    testsupport::TempDir bin;
    testsupport::WriteFakeNmcli(bin.path());
    ScopedEnv path("PATH", bin.path());
    notify::BindRasLibraryForTests(ProgramDir + "librasapi32.so");
    ASSERT_TRUE(notify::DialUpAvailable()) << "librasapi32.so missing from " << ProgramDir;
    ScopedEnv env("OCULARA_SMS_GATEWAY", "127.0.0.1:" + std::to_string(testsupport::UnusedPort()));
    Settings.Conn_AttivaConnessione = true;
    Settings.Conn_NomeConnessione = "Casa";
    Settings.Conn_Disconnetti = true;
    TCfgAllarmi& d = Open();
    watchedButton = d.VerificaCreditoButton;
    d.VerificaCreditoButton->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Attenzione");
    EXPECT_EQ(boxes_[0].flags, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_EQ(boxes_[0].text.substr(0, 60), "Impossibile stabilire una connessione con il server. Assicur");
    std::vector<int> ms;
    for (const auto& p : pauses) ms.push_back(p.milliseconds);
    EXPECT_EQ(ms, (std::vector<int>{250, 100, 100, 750}));
    EXPECT_FALSE(pauses[1].buttonEnabled);  // after dialling, before the request
    EXPECT_TRUE(pauses[2].buttonEnabled);   // after hanging up
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    const std::string calls = testsupport::ReadFile(bin / "argv.log");
    EXPECT_EQ(calls,
              " [-t] [-f] [NAME] [connection] [show] [--active]\n"
              " [--wait] [60] [connection] [up] [id] [Casa]\n"
              " [--wait] [30] [connection] [down] [id] [Casa]\n");

    // Left up afterwards when the settings say so.
    Settings.Conn_Disconnetti = false;
    pauses.clear();
    d.VerificaCreditoButton->click();
    EXPECT_EQ(pauses.size(), 3u);
    EXPECT_EQ(testsupport::ReadFile(bin / "argv.log").substr(calls.size()),
              " [-t] [-f] [NAME] [connection] [show] [--active]\n"
              " [--wait] [60] [connection] [up] [id] [Casa]\n");
}

TEST_F(CfgAllarmiTest, PurchaseHelpAndRunGoThroughTheShell) {
    ScopedEnv gateway("OCULARA_SMS_GATEWAY", "127.0.0.1:8080");
    Settings.File_Nome = dir_.path() + "/avvio.sh";
    testsupport::WriteFile(Settings.File_Nome, "#!/bin/sh\n");
    TCfgAllarmi& d = Open();
    d.Edit2->setText("333");
    d.Edit3->setText("anna");
    d.Edit4->setText("x");
    d.AcquistaSMSButton->click();
    // The address, password and all, is in a private page, never an argument.
    ASSERT_EQ(spawned_.size(), 1u);
    const std::string& page = spawned_[0].back();
    for (const auto& arg : spawned_[0]) EXPECT_EQ(arg.find("pwd="), std::string::npos) << arg;
    const std::string html = testsupport::ReadFile(page);
    EXPECT_NE(html.find("http://127.0.0.1:8080/sms/send.php?az=3&amp;"), std::string::npos) << html;
    EXPECT_NE(html.find("&amp;un=anna&amp;pwd=x&amp;ver=2.0&amp;dest=333"), std::string::npos) << html;

    const char* topics[] = {"allarme_sonoro.htm", "allarme_sms.htm",  "allarme_mail.htm",
                            "allarme_video.htm",  "allarme_foto.htm", "allarme_file.htm"};
    for (int page = 0; page < 6; ++page) {
        spawned_.clear();
        d.ShowPage(page);
        d.HelpBtn->click();
        ASSERT_EQ(spawned_.size(), 1u) << page;
        EXPECT_NE(spawned_[0].back().find(topics[page]), std::string::npos) << spawned_[0].back();
    }

    spawned_.clear();
    d.EseguiFileButton->click();
    ASSERT_EQ(spawned_.size(), 1u);
    EXPECT_NE(spawned_[0].back().find("avvio.sh"), std::string::npos);
    d.Label30->clear();
    d.EseguiFileButton->click();
    EXPECT_EQ(spawned_.size(), 1u);
}

TEST_F(CfgAllarmiTest, CambiaFileOffersWavFilesFromTheSoundsFolder) {
    const std::string folder = dir_.path() + "/Suoni";
    std::filesystem::create_directory(folder);
    testsupport::WriteFile(folder + "/sirena.WAV", "RIFF");
    Settings.FileAudio = folder + "/altro.wav";
    TCfgAllarmi& d = Open();
    QString startFolder;
    QStringList filters;
    WhenModal<QFileDialog>([&](QFileDialog* chooser) {
        startFolder = chooser->directory().absolutePath();
        filters = chooser->nameFilters();
        // Typed as the user would: selectFile leaves a focused name field alone.
        chooser->findChild<QLineEdit*>("fileNameEdit")->setText("sirena.WAV");
        static_cast<QDialog*>(chooser)->accept();
    });
    d.CambiaFileAudioButton->click();
    EXPECT_EQ(startFolder.toStdString(), folder);
    EXPECT_EQ(filters, (QStringList{"File audio (*.wav)", "Tutti i file (*)"}));
    EXPECT_EQ(d.Label2->text().toStdString(), folder + "/sirena.WAV");
}

TEST_F(CfgAllarmiTest, ConnectionButtonsAndTheRunFileChooserOpenTheirDialogs) {
    Settings.File_Nome = dir_.path() + "/avvio.sh";
    testsupport::WriteFile(dir_.path() + "/altro", "");
    TCfgAllarmi& d = Open();
    for (QPushButton* button : {d.ConnessioneSMSButton, d.ConnessioneMailButton}) {
        QString title;
        WhenModal<TImpoConne>([&](TImpoConne* connection) {
            title = connection->windowTitle();
            connection->reject();
        });
        button->click();
        EXPECT_EQ(title, "Configura connessione") << button->objectName().toStdString();
    }

    QString startFolder;
    QStringList filters;
    WhenModal<QFileDialog>([&](QFileDialog* chooser) {
        startFolder = chooser->directory().absolutePath();
        filters = chooser->nameFilters();
        chooser->findChild<QLineEdit*>("fileNameEdit")->setText("altro");
        static_cast<QDialog*>(chooser)->accept();
    });
    d.CambiaFileButton->click();
    EXPECT_EQ(startFolder.toStdString(), dir_.path());
    EXPECT_EQ(filters, QStringList{"Tutti i file (*)"});
    EXPECT_EQ(d.Label30->text().toStdString(), dir_.path() + "/altro");
}

TEST_F(CfgAllarmiTest, CambiaCertellaPicksTheFoldersThatApplicaStoresWithTheirSlash) {
    for (const char* sub : {"/Video", "/Foto", "/Nuovi video", "/Nuove foto"})
        std::filesystem::create_directory(dir_.path() + sub);
    TCfgAllarmi& d = Open();
    const std::pair<QPushButton*, QLabel*> pickers[] = {{d.CartellaVideoButton, d.Label18},
                                                        {d.CartellaFotoButton, d.Label24}};
    const std::string chosen[] = {dir_.path() + "/Nuovi video", dir_.path() + "/Nuove foto"};
    for (int i = 0; i < 2; ++i) {
        const auto [button, label] = pickers[i];
        const std::string before = label->text().toStdString();
        std::string preset;
        WhenModal<TDlgSelezionaDir>([&](TDlgSelezionaDir* picker) {
            preset = picker->Cartella;
            picker->reject();
        });
        button->click();
        EXPECT_EQ(preset, before);
        EXPECT_EQ(label->text().toStdString(), before);  // cancelled: unchanged

        WhenModal<TDlgSelezionaDir>([&](TDlgSelezionaDir* picker) {
            EXPECT_TRUE(picker->SelectFolder(chosen[i]));
            picker->OkClick();
        });
        button->click();
        EXPECT_EQ(label->text().toStdString(), chosen[i]);
    }
    d.OKBtn->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Settings.RegAvi_Dir, chosen[0] + "/");
    EXPECT_EQ(Settings.Foto_Dir, chosen[1] + "/");
}

TEST_F(CfgAllarmiTest, ChoosingASecurityProposesItsPortOnlyInsteadOf25) {
    TCfgAllarmi& d = Open();
    for (const char* name : {"Edit13", "ComboBox4", "Edit14", "Edit15", "Button_MailDiProva"})
        EXPECT_TRUE(dialogs::Find<QWidget>(d.TabSheet3, name)) << name;
    EXPECT_EQ(d.Edit15->echoMode(), QLineEdit::Password);
    d.ShowPage(2);
    const struct {
        Qt::Key key;  // from "Nessuna": STARTTLS, SSL/TLS, back to STARTTLS
        const char *before, *after;
    } steps[] = {{Qt::Key_Down, "25", "587"}, {Qt::Key_Down, "25", "465"}, {Qt::Key_Up, "2525", "2525"}};
    for (const auto& step : steps) {
        d.Edit13->setText(step.before);
        QTest::keyClick(d.ComboBox4, step.key);
        EXPECT_EQ(d.Edit13->text(), step.after) << d.ComboBox4->currentText().toStdString();
    }
}

TEST_F(CfgAllarmiTest, MailDiProvaSendsTheFieldsAsTheyAreAndStoresNothing) {
    REQUIRE_AIOSMTPD(server);
    const TSettings before = Settings;
    TCfgAllarmi& d = Open();
    d.Edit6->setText(" casa@example.org ");
    d.Edit8->setText("127.0.0.1");
    for (const int port : {int(server.port()), testsupport::UnusedPort()}) {
        d.Edit13->setText(QString::number(port));
        d.Button_MailDiProva->click();
        EXPECT_FALSE(d.Button_MailDiProva->isEnabled());
        const size_t count = boxes_.size() + 1;
        ASSERT_TRUE(testsupport::RunUntil([&] { return boxes_.size() == count; }, 60000));
        EXPECT_TRUE(d.Button_MailDiProva->isEnabled());
    }
    EXPECT_EQ(boxes_[0].text, "E-mail di prova inviata.");
    EXPECT_EQ(boxes_[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    ASSERT_EQ(server.MessageCount(), 1) << server.log();
    EXPECT_EQ(mailtest::ParseMime(server.Message(0)).Header("Subject"), "Oculara: e-mail di prova");
    const std::string first = "Impossibile inviare l'e-mail di prova.\n";
    EXPECT_EQ(boxes_[1].text.substr(0, first.size()), first);
    EXPECT_GT(boxes_[1].text.size(), first.size());  // the reason
    EXPECT_EQ(boxes_[1].flags, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_EQ(Settings.Mail_Indirizzo, before.Mail_Indirizzo);
    EXPECT_EQ(Settings.Mail_ServerSMTP, before.Mail_ServerSMTP);
}

TEST_F(CfgAllarmiTest, MailDiProvaLogsInInsideStartTlsAndShowsTheServersRefusal) {
    testsupport::TestAuthority authority;
    ASSERT_TRUE(authority.Issue("localhost", {"localhost"})) << authority.error();
    testsupport::ScopedEnv trust("SSL_CERT_FILE", authority.CaFile());
    REQUIRE_AIOSMTPD(server, "",
                     {"--tls", "starttls", "--cert", authority.Cert("localhost"), "--key", authority.Key("localhost"),
                      "--login", "casa:giusta"});
    TCfgAllarmi& d = Open();
    d.ShowPage(2);
    d.Edit6->setText("casa@example.org");
    d.Edit8->setText("localhost");
    d.Edit13->setText(QString::number(server.port()));
    d.ComboBox4->setCurrentIndex(1);
    d.Edit14->setText("casa");
    for (const char* password : {"giusta", "sbagliata"}) {
        d.Edit15->setText(password);
        const size_t count = boxes_.size() + 1;
        d.Button_MailDiProva->click();
        ASSERT_TRUE(testsupport::RunUntil([&] { return boxes_.size() == count; }, 60000));
    }
    EXPECT_EQ(boxes_[0].text, "E-mail di prova inviata.");
    EXPECT_EQ(boxes_[1].text,
              "Impossibile inviare l'e-mail di prova.\nlogin refused: 535 5.7.8 Authentication credentials invalid");
    EXPECT_EQ(server.MessageCount(), 1) << server.log();
    const auto commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "AUTH PLAIN casa accepted"), commands.end());
    EXPECT_EQ(Settings.Mail_Utente, "") << "a test stores nothing";
}

// 0.2 s of silence, 8 kHz mono 8 bits.
std::string ShortWav() {
    const uint32_t samples = 1600;
    auto le = [](uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    };
    return "RIFF" + le(36 + samples, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
           le(8000, 4) + le(1, 2) + le(8, 2) + "data" + le(samples, 4) + std::string(samples, '\x80');
}

TEST_F(CfgAllarmiTest, ApriFilePlaysTheFileOnce) {
    ScopedEnv sink("OCULARA_AUDIO_SINK", std::string("fakesink sync=true"));
    Settings.FileAudio = dir_.path() + "/breve.wav";
    testsupport::WriteFile(Settings.FileAudio, ShortWav());
    TCfgAllarmi& d = Open();
    d.ApriFileButton->click();
    EXPECT_TRUE(platform::SoundPlaying());
    EXPECT_TRUE(testsupport::RunUntil([] { return !platform::SoundPlaying(); }, 5000));
    EXPECT_EQ(platform::SoundLoopsCompleted(), 0u);
    platform::PlaySound(nullptr, 0);
}

}  // namespace
