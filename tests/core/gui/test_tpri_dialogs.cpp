// The main window opens the settings dialogs from its menus, BitBtn3 and
// the alarm captions, and refreshes the captions after the alarm dialog.

#include "core/Globali.h"
#include "controls/gui/ClickableLabel.h"
#include "core/gui/UPri.h"
#include "dialogs/gui/UCfgAllarmi.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct SeenDialog {
    std::string className;
    int page = -1;
    std::string focus;
};

class TPriDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        SetupProgramDir();
        Settings.RegAvi_Dir = dir_.path() + "/Video/";
        Settings.Foto_Dir = dir_.path() + "/Foto/";
        window_ = std::make_unique<TPri>();
        window_->show();
    }

    // Runs `open`; the modal dialog it shows is noted, `whileOpen` runs,
    // and the dialog is dismissed with Annulla.
    SeenDialog Observe(const std::function<void()>& open, const std::function<void()>& whileOpen = {}) {
        SeenDialog seen;
        // A look that finds no dialog must not outlive this call: it would
        // run in a later event loop with `seen` gone.
        QObject lookOnlyWhileObserving;
        QTimer::singleShot(0, &lookOnlyWhileObserving, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            seen.className = dialog->metaObject()->className();
            if (auto* pages = dialog->findChild<QTabWidget*>()) seen.page = pages->currentIndex();
            QApplication::processEvents();
            if (QWidget* f = QApplication::focusWidget()) seen.focus = f->objectName().toStdString();
            if (whileOpen) whileOpen();
            if (dialog->isVisible()) dialog->reject();
        });
        open();
        return seen;
    }
    QAction* Menu(const char* name) { return window_->findChild<QAction*>(name); }

    testsupport::ScopedEnv testDevices_{"OCULARA_TEST_DEVICES", std::string("1")};
    testsupport::TempDir dir_;
    std::unique_ptr<TPri> window_;
};

TEST_F(TPriDialogsTest, MenusOpenTheirDialogs) {
    EXPECT_EQ(Observe([&] { Menu("ConnessioneadInternet1")->trigger(); }).className, "TImpoConne");
    EXPECT_EQ(Observe([&] { Menu("Impostazionigenerali1")->trigger(); }).className, "TImpoGenerali");
    EXPECT_EQ(Observe([&] { Menu("MonitoraggioAudioVideo1")->trigger(); }).className, "TImpoMonitoraggio");
    EXPECT_EQ(Observe([&] { window_->BitBtn3->click(); }).className, "TImpoMonitoraggio");
    const SeenDialog alarms = Observe([&] { Menu("AllarmiNotifiche1")->trigger(); });
    EXPECT_EQ(alarms.className, "TCfgAllarmi");
    EXPECT_EQ(alarms.page, 0);
}

TEST_F(TPriDialogsTest, MonitoringSettingsOnlyWhileStopped) {
    window_->BitBtn3->setEnabled(false);  // as while monitoring runs
    EXPECT_EQ(Observe([&] { Menu("MonitoraggioAudioVideo1")->trigger(); }).className, "");
}

TEST_F(TPriDialogsTest, AlarmCaptionsOpenTheirPageAndRefreshAfterwards) {
    const struct {
        const char* label;
        int page;
        const char* focus;
    } rows[] = {{"Label8", 0, "Edit1"},  {"Label13", 1, "Edit2"}, {"Label9", 2, "Edit6"},
                {"Label11", 3, "Edit10"}, {"Label12", 4, "ComboBox3"}, {"Label10", 5, "Edit12"}};
    for (const auto& row : rows) {
        auto* label = window_->findChild<ClickableLabel*>(row.label);
        ASSERT_NE(label, nullptr) << row.label;
        const SeenDialog seen = Observe([&] { Q_EMIT label->clicked(); });
        EXPECT_EQ(seen.className, "TCfgAllarmi") << row.label;
        EXPECT_EQ(seen.page, row.page) << row.label;
        EXPECT_EQ(seen.focus, row.focus) << row.label;
    }

    // Whatever changed the settings while the dialog was open shows in the
    // captions once it is closed.
    auto* photo = window_->findChild<ClickableLabel*>("Label12");
    const QString before = photo->text();
    Observe([&] { Q_EMIT photo->clicked(); }, [&] { Settings.Foto_Dir = dir_.path() + "/Altre/"; });
    EXPECT_NE(photo->text(), before);
}

// The monitoring dialog changes the record only; the record reaches the
// hive with the save at the end of the program.
TEST_F(TPriDialogsTest, MonitoringValuesSurviveARestart) {
    const SeenDialog seen = Observe([&] { window_->BitBtn3->click(); }, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        dialog->findChild<QLineEdit*>("Edit1")->setText("7");
        dialog->findChild<QLineEdit*>("Edit4")->setText("5");
        dialog->findChild<QPushButton*>("OKBtn")->click();
    });
    ASSERT_EQ(seen.className, "TImpoMonitoraggio");
    window_->close();
    window_.reset();
    SaveSettings();

    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(Settings.AttesaPerCalibrazioneVideo, 7);
    EXPECT_EQ(Settings.NumMinRumoriPerAvviso, 5);
}

}  // namespace
