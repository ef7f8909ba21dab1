#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPalette>

#include "controls/gui/JusLab.h"
#include "support/GuiTestSupport.h"

namespace {

const char* const SmsNote =
    "Gli SMS devono essere preventivamente acquistati dal nostro sito web. Inserire il nome "
    "utente e la password rilasciati al momento dell'acquisto.";

// An opaque white label with black text, so every other pixel is ink.
void MakeOpaque(TJusLab& label, const QFont& font) {
    label.setFont(font);
    label.setAutoFillBackground(true);
    QPalette p = label.palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    label.setPalette(p);
}

QFont NoteFont(bool antialiased = true) {
    QFont f;
    f.setPointSize(8);
    if (!antialiased) f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

QImage Render(TJusLab& label) {
    return label.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool Inked(const QImage& image, int x, int y) { return image.pixel(x, y) != qRgb(255, 255, 255); }

// The rightmost inked column within rows top..bottom - 1, or -1.
int RightmostInk(const QImage& image, int top, int bottom) {
    for (int x = image.width() - 1; x >= 0; --x)
        for (int y = top; y < bottom && y < image.height(); ++y)
            if (Inked(image, x, y)) return x;
    return -1;
}

}  // namespace

TEST(JusLab, BrokenLineReachesTheRightEdgeAndTheLastLineDoesNot) {
    TJusLab label;
    MakeOpaque(label, NoteFont());
    label.resize(533, 29);
    label.setText(QString::fromUtf8(SmsNote));
    const int h = QFontMetrics(label.font()).height();
    ASSERT_LE(2 * h, 29) << "the note must fit in two lines of this font";

    const QImage image = Render(label);
    const int first = RightmostInk(image, 0, h);
    const int last = RightmostInk(image, h, 2 * h);
    // One pixel of the remainder rule and a glyph's side bearing.
    EXPECT_GE(first, 533 - 4);
    ASSERT_GT(last, 0) << "a second line";
    EXPECT_LT(last, 533 - 100);
    EXPECT_EQ(RightmostInk(image, 2 * h, image.height()), -1) << "no third line";
}

TEST(JusLab, DisabledTextIsEngravedHighlightOffsetUnderShadow) {
    // Unsmoothed glyphs, so both drawings put ink on exactly the same pixels.
    TJusLab label;
    MakeOpaque(label, NoteFont(false));
    label.resize(533, 29);
    label.setText(QString::fromUtf8(SmsNote));
    const QImage ink = Render(label);

    const QColor light(255, 0, 0), dark(0, 0, 255);
    QPalette p = label.palette();
    p.setColor(QPalette::Light, light);
    p.setColor(QPalette::Dark, dark);
    label.setPalette(p);
    label.setEnabled(false);
    const QImage engraved = Render(label);

    int shadowPixels = 0, highlightPixels = 0;
    for (int y = 0; y < ink.height(); ++y) {
        for (int x = 0; x < ink.width(); ++x) {
            QRgb expected = qRgb(255, 255, 255);
            if (Inked(ink, x, y)) {
                expected = dark.rgb();
                ++shadowPixels;
            } else if (x > 0 && y > 0 && Inked(ink, x - 1, y - 1)) {
                expected = light.rgb();
                ++highlightPixels;
            }
            ASSERT_EQ(engraved.pixel(x, y), expected) << x << "," << y;
        }
    }
    EXPECT_GT(shadowPixels, 200);
    EXPECT_GT(highlightPixels, 100);
}

TEST(JusLab, AutoHeightIsOffAtFirstThenCountsLinesOfWgHeightKeepingTheWidth) {
    QFont font;
    font.setPixelSize(13);
    const QFontMetrics metrics(font);
    const int h = metrics.height();
    const QString word = QStringLiteral("aaaaaaaaaa");
    const int width = metrics.horizontalAdvance(word) * 3 / 2;  // one word a line
    const QString threeWords = word + ' ' + word + ' ' + word;

    TJusLab label;
    EXPECT_TRUE(label.wordWrap());
    EXPECT_FALSE(label.AutoSize());
    label.setFont(font);
    label.resize(width, 7);
    label.setText(threeWords);
    EXPECT_EQ(label.height(), 7) << "off at creation: the size is left alone";

    label.SetAutoSize(true);
    EXPECT_EQ(label.size(), QSize(width, 3 * h));
    label.setText(word);
    EXPECT_EQ(label.height(), h);

    QFont larger = font;
    larger.setPixelSize(16);
    label.setFont(larger);
    EXPECT_EQ(label.height(), QFontMetrics(larger).height());
    label.setFont(font);

    // A wider label needs fewer lines (a hidden one learns its new width
    // when shown).
    label.setText(threeWords);
    label.show();
    label.resize(width * 3, label.height());
    EXPECT_EQ(label.size(), QSize(width * 3, h));

    // A caption set through the base class is caught when painted.
    label.resize(width, label.height());
    EXPECT_EQ(label.height(), 3 * h);
    static_cast<QLabel&>(label).setText(word + ' ' + word);
    EXPECT_TRUE(testsupport::RunUntil([&] { return label.height() == 2 * h; }, 2000));
}
