// What the main window shows at its own sizes: texts as drawn fit their
// controls, and the preview panel's precision displays sit as laid out.

#include "alarms/EventLog.h"
#include "controls/gui/ClickableLabel.h"
#include "controls/gui/FittingComboBox.h"
#include "controls/gui/MioIndicatore.h"
#include "core/Globali.h"
#include "core/gui/UPri.h"
#include "support/TestSupport.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string kLongAddress = "mario.rossi.molto.lungo@esempio-di-dominio.it";

class TPriLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        SetupProgramDir();
        Settings.ScriviLog = false;
        Settings.RegAvi_Dir = dir_.path() + "/Video/";
        Settings.Foto_Dir = dir_.path() + "/Foto/";
        alarms::TheEventLog().ClearRows();
    }
    void TearDown() override {
        window_.reset();
        alarms::TheEventLog().ClearRows();
    }
    TPri& Open() {
        window_ = std::make_unique<TPri>();
        window_->show();
        return *window_;
    }

    testsupport::ScopedEnv testDevices_{"OCULARA_TEST_DEVICES", std::string("1")};
    testsupport::TempDir dir_;
    std::unique_ptr<TPri> window_;
};

// The views' own measures of what they show, which they keep to themselves.
struct ViewMeasure : QTreeView {
    static int Column(const QTreeView* view, int column) {
        return (view->*(&ViewMeasure::sizeHintForColumn))(column);
    }
};
struct HeaderMeasure : QHeaderView {
    static int Section(const QHeaderView* header, int section) {
        return (header->*(&HeaderMeasure::sectionSizeFromContents))(section).width();
    }
};

// Room the text of a label has, as QLabel lays it out.
int Room(const QLabel* label) { return label->contentsRect().width() - 2 * label->margin(); }

TEST_F(TPriLayoutTest, EveryAlarmCaptionFitsAndALongAddressIsShortenedInTheMiddle) {
    Settings.Mail_Indirizzo = kLongAddress;
    Settings.SMS_NumeroCellulare = "+393331234567";
    Settings.File_Nome = "/home/mario/Documenti/Programmi di allarme/accendi-tutte-le-luci-del-giardino-e-del-cortile.sh";
    TPri& w = Open();
    for (ClickableLabel* label : {w.Label8, w.Label13, w.Label9, w.Label11, w.Label12, w.Label10}) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), Room(label))
            << label->objectName().toStdString() << ": " << label->text().toStdString();
        if (label->text() != label->WholeText())
            EXPECT_TRUE(label->toolTip().contains(label->WholeText())) << label->objectName().toStdString();
        else
            EXPECT_EQ(label->toolTip(), " Fai clic per configurare ");
    }
    const QString whole = QString::fromStdString("Notifica tramite posta elettronica, e-mail: " + kLongAddress);
    EXPECT_EQ(w.Label9->WholeText(), whole);
    EXPECT_NE(w.Label9->text(), whole);
    EXPECT_TRUE(w.Label9->text().startsWith("Notifica tramite posta elettronica, e-mail: mario"));
    EXPECT_TRUE(w.Label9->text().endsWith(".it"));
}

TEST_F(TPriLayoutTest, TheDateColumnHoldsAWholeDateTime) {
    TPri& w = Open();
    for (const char* when : {"8/12/26 13:07:05", "28/12/26 23:59:59"})
        alarms::WriteLogEntry(when, "Allarme", alarms::IconPericoloAlto, "Rilevati 3 movimenti sospetti");
    QTreeWidget* list = w.lv_Log;
    ASSERT_EQ(list->topLevelItemCount(), 2);
    // The view's own measure of the rows it shows, icon and margins included.
    EXPECT_GE(list->columnWidth(0), ViewMeasure::Column(list, 0));
    EXPECT_GE(list->columnWidth(0), 120);  // never narrower than laid out
    // The header's caption fits as well.
    EXPECT_GE(list->columnWidth(0), HeaderMeasure::Section(list->header(), 0));
    // A description longer than its column is in the row's hint.
    EXPECT_EQ(list->topLevelItem(1)->toolTip(2), "Rilevati 3 movimenti sospetti");
}

TEST_F(TPriLayoutTest, FormatListsShowTheirChoicesWholeOpenAndClosed) {
    Settings.risoluzione_audio = "PCM 44100 Hertz, 16 Bits, Stereo";
    TPri& w = Open();
    for (QComboBox* box : {w.cb_RisoluzioniAudio, w.cb_RisoluzioniVideo}) {
        auto* list = qobject_cast<FittingComboBox*>(box);
        ASSERT_NE(list, nullptr) << box->objectName().toStdString();
        EXPECT_EQ(list->ShownText(), list->currentText()) << list->currentText().toStdString();
        EXPECT_LE(list->fontMetrics().horizontalAdvance(list->currentText()), list->TextRoom());

        list->showPopup();
        QAbstractItemView* view = list->view();
        for (int i = 0; i < list->count(); ++i)
            EXPECT_GE(view->viewport()->width(), view->fontMetrics().horizontalAdvance(list->itemText(i)))
                << list->itemText(i).toStdString();
        list->hidePopup();
    }
    EXPECT_EQ(w.cb_RisoluzioniAudio->currentText(), "PCM 44100 Hertz, 16 Bits, Stereo");
}

TEST_F(TPriLayoutTest, PrecisionTextsStandAboveTheirBars) {
    TPri& w = Open();
    const struct {
        QLabel* label;
        TMioIndicatore* bar;
        QProgressBar* progress;
    } columns[] = {{w.lb_pv, w.MioIndicatore1, w.ProgressBar1}, {w.lb_pa, w.MioIndicatore2, w.ProgressBar2}};
    for (const auto& c : columns) {
        const std::string name = c.label->objectName().toStdString();
        EXPECT_LE(c.label->geometry().bottom(), c.bar->geometry().top()) << name;
        EXPECT_LE(c.label->x(), c.bar->x()) << name;
        EXPECT_EQ(c.bar->size(), c.bar->ImmagineDiSfondo().size()) << name;  // the picture, unsqueezed
        EXPECT_EQ(c.bar->size(), QSize(120, 18)) << name;
        EXPECT_GE(c.progress->width(), 60) << name;
        EXPECT_FALSE(c.progress->geometry().intersects(c.bar->geometry())) << name;
        EXPECT_TRUE(w.gb_preview->rect().contains(c.progress->geometry())) << name;
        EXPECT_GE(c.label->y(), w.VolMeter->geometry().bottom()) << name;
        // The widest text the label takes fits it.
        const QString widest = c.label->text().replace("0 %", "100 %");
        EXPECT_LE(c.label->fontMetrics().horizontalAdvance(widest), Room(c.label)) << name;
    }
    EXPECT_FALSE(w.lb_pv->geometry().intersects(w.lb_pa->geometry()));
    EXPECT_FALSE(w.MioIndicatore1->geometry().intersects(w.ProgressBar2->geometry()));
}

TEST_F(TPriLayoutTest, TheCalibrationNoticeIsBoldRed) {
    TPri& w = Open();
    EXPECT_EQ(w.Label3->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(w.Label3->font().bold());
    EXPECT_EQ(w.Label3->text(), "Calibrazione in corso, evitare movimenti ...");
}

}  // namespace
