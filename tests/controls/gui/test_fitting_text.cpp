// Captions and drop-down lists that keep their texts readable in the width
// they have: the texts as drawn fit, and what is left out is in the hint.

#include "controls/gui/ClickableLabel.h"
#include "controls/gui/FittingComboBox.h"
#include "controls/gui/FittingText.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleFactory>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kPrefix = "Notifica tramite posta elettronica, e-mail: ";
const QString kAddress = "mario.rossi.molto.lungo@esempio-di-dominio.it";

QFont WindowFont() {
    QFont f = QApplication::font();
    f.setPointSize(8);
    return f;
}

TEST(ElideCaption, KeepsThePrefixAndBothEndsOfTheValue) {
    const QFontMetrics fm(WindowFont());
    const int width = fm.horizontalAdvance(kPrefix + "mario.rossi@es");
    const QString shown = ElideCaption(fm, kPrefix, kAddress, width);
    EXPECT_LE(fm.horizontalAdvance(shown), width);
    EXPECT_TRUE(shown.startsWith(kPrefix + "ma")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("t")) << shown.toStdString();  // the address's last letter
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
}

TEST(ElideCaption, WholeWhenItFitsAndCutAtTheEndWhenEvenThePrefixDoesNot) {
    const QFontMetrics fm(WindowFont());
    const int whole = fm.horizontalAdvance(kPrefix + kAddress);
    EXPECT_EQ(ElideCaption(fm, kPrefix, kAddress, whole), kPrefix + kAddress);
    EXPECT_EQ(ElideCaption(fm, kPrefix, "", fm.horizontalAdvance(kPrefix)), kPrefix);

    const int narrow = fm.horizontalAdvance("Notifica tramite");
    const QString shown = ElideCaption(fm, kPrefix, kAddress, narrow);
    EXPECT_LE(fm.horizontalAdvance(shown), narrow);
    EXPECT_TRUE(shown.startsWith("Notifica")) << shown.toStdString();
    // Widths that leave no room at all give no text rather than an overflow.
    EXPECT_LE(fm.horizontalAdvance(ElideCaption(fm, kPrefix, kAddress, 0)), 0);
}

TEST(FontFitting, NarrowsOnlyWhatDoesNotFit) {
    const QFont base = WindowFont();
    const QString text = "Precisione del dispositivo video: 100 %";
    const int natural = QFontMetrics(base).horizontalAdvance(text);

    const QFont same = FontFitting(base, text, natural);
    EXPECT_EQ(same.pointSizeF(), base.pointSizeF());
    EXPECT_EQ(QFontMetrics(same).horizontalAdvance(text), natural);

    const int room = natural * 85 / 100;
    const QFont narrowed = FontFitting(base, text, room);
    EXPECT_LE(QFontMetrics(narrowed).horizontalAdvance(text), room);
    EXPECT_GE(narrowed.pointSizeF(), 6.0);
}

TEST(WidestDateTime, IsAtLeastAsWideAsAnyStampOfTheFormat) {
    const QFontMetrics fm(WindowFont());
    const QString widest = WidestDateTime(fm);
    EXPECT_EQ(widest.size(), QString("28/12/26 23:59:59").size());
    for (const char* stamp : {"28/12/26 23:59:59", "8/1/26 00:00:00", "30/11/99 18:48:08", "10/10/10 10:10:10"})
        EXPECT_GE(fm.horizontalAdvance(widest), fm.horizontalAdvance(stamp)) << stamp;
}

TEST(ClickableLabelCaption, ShortensTheValueToItsWidthAndHintsTheWhole) {
    ClickableLabel label;
    label.setFont(WindowFont());
    label.resize(290, 14);
    label.show();
    label.SetCaption(kPrefix, kAddress, " Fai clic per configurare ");
    const QString whole = kPrefix + kAddress;
    EXPECT_NE(label.text(), whole);
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.text()), label.contentsRect().width());
    EXPECT_TRUE(label.toolTip().contains(whole));
    EXPECT_EQ(label.WholeText(), whole);

    // Given the room, the caption is whole again and the hint is the plain one.
    label.resize(label.fontMetrics().horizontalAdvance(whole) + 4, 14);
    EXPECT_EQ(label.text(), whole);
    EXPECT_EQ(label.toolTip(), " Fai clic per configurare ");

    // Hovering underlines the caption: it still fits.
    label.resize(290, 14);
    label.SetHot(true);
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.text()), label.contentsRect().width());
}

class FittingComboBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        list_.setFont(WindowFont());
        list_.SetHint("Risoluzione audio");
        list_.addItems({"PCM 22050 Hertz, 8 Bits, Mono", "PCM 44100 Hertz, 16 Bits, Stereo"});
        list_.setCurrentIndex(1);
        list_.show();
    }
    FittingComboBox list_;
};

TEST_F(FittingComboBoxTest, AClosedListTooNarrowShowsTheChoiceShortenedWithTheWholeAsHint) {
    list_.resize(120, 22);
    EXPECT_NE(list_.ShownText(), list_.currentText());
    EXPECT_LE(list_.fontMetrics().horizontalAdvance(list_.ShownText()), list_.TextRoom());
    EXPECT_EQ(list_.toolTip(), "PCM 44100 Hertz, 16 Bits, Stereo");

    list_.resize(400, 22);
    EXPECT_EQ(list_.ShownText(), "PCM 44100 Hertz, 16 Bits, Stereo");
    EXPECT_EQ(list_.toolTip(), "Risoluzione audio");

    // A new choice is measured too.
    list_.resize(120, 22);
    list_.setCurrentIndex(0);
    EXPECT_LE(list_.fontMetrics().horizontalAdvance(list_.ShownText()), list_.TextRoom());
}

TEST_F(FittingComboBoxTest, TheOpenListShowsItsWidestEntryWhole) {
    // Some styles open a list as wide as its entries anyway; this one opens
    // it as wide as the closed list.
    std::unique_ptr<QStyle> style(QStyleFactory::create("Windows"));
    ASSERT_NE(style, nullptr);
    list_.setStyle(style.get());
    list_.view()->setStyle(style.get());
    list_.resize(100, 22);
    list_.showPopup();
    QAbstractItemView* view = list_.view();
    ASSERT_TRUE(view->isVisible());
    const int widest = view->fontMetrics().horizontalAdvance("PCM 44100 Hertz, 16 Bits, Stereo");
    EXPECT_GE(view->viewport()->width(), widest);
    EXPECT_GE(view->visualRect(view->model()->index(1, 0)).width(), widest);
    list_.hidePopup();
    list_.setStyle(nullptr);
    list_.view()->setStyle(nullptr);
}

}  // namespace
