#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include "controls/gui/MioIndicatore.h"

namespace {

const QColor Sfondo(200, 0, 0);
const QColor PrimoPiano(0, 180, 0);
const QColor SfondoDis(90, 90, 90);
const QColor PrimoPianoDis(0, 0, 170);

QPixmap Solid(int w, int h, const QColor& colour) {
    QPixmap picture(w, h);
    picture.fill(colour);
    return picture;
}

// 203 x 18 pictures with a 199 x 14 foreground: offsets 2, 2.
void GiveAllPictures(TMioIndicatore& bar) {
    bar.SetImmagineDiSfondo(Solid(203, 18, Sfondo));
    bar.SetImmaginePrimoPiano(Solid(199, 14, PrimoPiano));
    bar.SetImmagineDiSfondoDis(Solid(203, 18, SfondoDis));
    bar.SetImmaginePrimoPianoDis(Solid(199, 14, PrimoPianoDis));
}

QImage Render(TMioIndicatore& bar) {
    return bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

}  // namespace

TEST(MioIndicatore, NewControlHasItsDefaults) {
    TMioIndicatore bar;
    EXPECT_EQ(bar.size(), QSize(203, 18));
    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Pos(), 0);
    EXPECT_EQ(bar.focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(bar.ImmagineDiSfondo().isNull());
    // The properties are reachable by name, in the published order.
    EXPECT_EQ(bar.property("Max").toInt(), 100);
    EXPECT_TRUE(bar.setProperty("Pos", 42));
    EXPECT_EQ(bar.Pos(), 42);
}

TEST(MioIndicatore, SettersStoreValuesWithoutValidation) {
    TMioIndicatore bar;
    bar.SetMin(80);
    bar.SetMax(10);
    bar.SetPos(-7);
    EXPECT_EQ(bar.Min(), 80);
    EXPECT_EQ(bar.Max(), 10);
    EXPECT_EQ(bar.Pos(), -7);
    Render(bar);  // an inverted range must paint without trouble
}

TEST(MioIndicatore, BackgroundPictureSetsTheSizeOthersDoNot) {
    TMioIndicatore bar;
    bar.SetImmagineDiSfondo(Solid(328, 17, Sfondo));
    EXPECT_EQ(bar.size(), QSize(328, 17));
    bar.SetImmaginePrimoPiano(Solid(400, 30, PrimoPiano));
    bar.SetImmagineDiSfondoDis(Solid(50, 5, SfondoDis));
    bar.SetImmaginePrimoPianoDis(Solid(60, 6, PrimoPianoDis));
    EXPECT_EQ(bar.size(), QSize(328, 17));
}

TEST(MioIndicatore, KeepsItsOwnCopyOfEachPicture) {
    TMioIndicatore bar;
    QPixmap mine = Solid(203, 18, Sfondo);
    bar.SetImmagineDiSfondo(mine);
    mine.fill(Qt::yellow);
    EXPECT_EQ(Render(bar).pixelColor(5, 5), Sfondo);
}

TEST(MioIndicatore, SliceShowsForegroundPixelsAndTheRestTheBackground) {
    TMioIndicatore bar;
    GiveAllPictures(bar);
    bar.SetPos(50);  // 199 * 0.5 = 99.5 -> 100 pixels, x 2..101
    const QImage image = Render(bar);
    ASSERT_EQ(image.size(), QSize(203, 18));
    EXPECT_EQ(At(image, 2, 2), PrimoPiano);
    EXPECT_EQ(At(image, 101, 15), PrimoPiano);
    EXPECT_EQ(At(image, 102, 8), Sfondo);   // just past the slice
    EXPECT_EQ(At(image, 1, 8), Sfondo);     // left of the centred foreground
    EXPECT_EQ(At(image, 50, 1), Sfondo);    // above it
    EXPECT_EQ(At(image, 50, 16), Sfondo);   // below it
    EXPECT_EQ(At(image, 202, 17), Sfondo);
}

TEST(MioIndicatore, SliceCopiesPixelsUnscaledFromTheForegroundsLeft) {
    TMioIndicatore bar;
    bar.SetImmagineDiSfondo(Solid(20, 10, Sfondo));
    // A foreground whose left half and right half differ: a scaled copy
    // would bring the right half's colour into the slice.
    QPixmap fg(10, 4);
    fg.fill(PrimoPiano);
    {
        QPainter p(&fg);
        p.fillRect(5, 0, 5, 4, Qt::white);
    }
    bar.SetImmaginePrimoPiano(fg);
    bar.SetPos(50);  // 5 pixels at dx 5, dy 3
    const QImage image = Render(bar);
    for (int x = 5; x < 10; ++x) EXPECT_EQ(At(image, x, 3), PrimoPiano) << x;
    EXPECT_EQ(At(image, 10, 3), Sfondo);
    EXPECT_EQ(At(image, 4, 3), Sfondo);
}

TEST(MioIndicatore, ForegroundPixelsReplaceTheBackgroundEvenWhenTransparent) {
    TMioIndicatore bar;
    bar.SetImmagineDiSfondo(Solid(20, 10, Sfondo));
    QPixmap clear(20, 10);
    clear.fill(Qt::transparent);
    bar.SetImmaginePrimoPiano(clear);
    bar.SetPos(100);
    // Blending would leave the red background visible; a plain copy puts the
    // foreground's transparent pixel into the opaque surface as black.
    const QColor pixel = Render(bar).pixelColor(10, 5);
    EXPECT_NE(pixel, Sfondo);
    EXPECT_EQ(pixel.rgb(), QColor(0, 0, 0).rgb());
}

TEST(MioIndicatore, PosAtMinShowsTheBackgroundOnly) {
    TMioIndicatore bar;
    GiveAllPictures(bar);
    const QImage image = Render(bar);
    EXPECT_EQ(At(image, 2, 2), Sfondo);
    EXPECT_EQ(At(image, 100, 9), Sfondo);
}

TEST(MioIndicatore, DisabledShowsTheDisabledPairThenSwitchesBack) {
    TMioIndicatore bar;
    GiveAllPictures(bar);
    bar.SetPos(100);
    bar.setEnabled(false);
    QImage image = Render(bar);
    EXPECT_EQ(At(image, 0, 0), SfondoDis);
    EXPECT_EQ(At(image, 100, 9), PrimoPianoDis);

    bar.setEnabled(true);
    image = Render(bar);
    EXPECT_EQ(At(image, 0, 0), Sfondo);
    EXPECT_EQ(At(image, 100, 9), PrimoPiano);
}

// Drawing nothing lets the parent show through, so these render the parent.
TEST(MioIndicatore, MissingBackgroundForTheStateDrawsNothing) {
    const QColor parentColour(0, 200, 200);
    QWidget parent;
    parent.resize(250, 70);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, parentColour);
    parent.setPalette(palette);

    auto* enabledBar = new TMioIndicatore(&parent);
    enabledBar->move(10, 5);
    enabledBar->SetImmaginePrimoPiano(Solid(199, 14, PrimoPiano));
    enabledBar->SetImmagineDiSfondoDis(Solid(203, 18, SfondoDis));
    enabledBar->SetImmaginePrimoPianoDis(Solid(199, 14, PrimoPianoDis));
    enabledBar->SetPos(100);

    auto* disabledBar = new TMioIndicatore(&parent);
    disabledBar->move(10, 40);
    disabledBar->SetImmagineDiSfondo(Solid(203, 18, Sfondo));
    disabledBar->SetImmaginePrimoPiano(Solid(199, 14, PrimoPiano));
    disabledBar->SetPos(100);
    disabledBar->setEnabled(false);

    // A third bar with its pictures proves that children do get painted here.
    auto* normalBar = new TMioIndicatore(&parent);
    normalBar->move(220, 5);
    normalBar->SetImmagineDiSfondo(Solid(20, 10, Sfondo));

    const QImage image = parent.grab().toImage();
    EXPECT_EQ(image.pixelColor(225, 8), Sfondo);
    for (const QPoint p : {QPoint(10, 5), QPoint(110, 14), QPoint(10, 40), QPoint(110, 49)})
        EXPECT_EQ(image.pixelColor(p), parentColour) << p.x() << "," << p.y();
}
