#include "controls/gui/JusLab.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <string>
#include <vector>

#include "controls/JusLab.h"

namespace {

class FontMeasure : public controls::TextMeasure {
public:
    explicit FontMeasure(const QFont& font) : metrics_(font) {}
    int Width(const std::u32string& text) const override {
        return metrics_.horizontalAdvance(QString::fromStdU32String(text));
    }
    int LineHeight() const { return metrics_.size(0, QStringLiteral("Wg")).height(); }
    int Ascent() const { return metrics_.ascent(); }

private:
    QFontMetrics metrics_;
};

void DrawLine(QPainter& painter, const QRect& r, const controls::TLineObj& line,
              const FontMeasure& measure, bool enabled, const QPalette& palette,
              const QColor& textColour) {
    if (line.LineText.empty()) return;
    const std::vector<int> extents =
        controls::FittingExtents(line.LineText, r.width() + 1, measure);
    const std::vector<int> advances = controls::CharacterAdvances(line, extents);

    // Each character at its own place: kerning across characters is given
    // up so that every widened space lands exactly where it was counted.
    auto draw = [&](int left, int top, const QColor& colour) {
        painter.setPen(colour);
        int x = left;
        const int baseline = top + measure.Ascent();
        for (std::size_t j = 0; j < advances.size(); ++j) {
            const char32_t c = line.LineText[j];
            painter.drawText(QPoint(x, baseline), QString::fromUcs4(&c, 1));
            x += advances[j];
        }
    };
    if (enabled) {
        draw(r.left(), r.top(), textColour);
    } else {
        // Engraved: the highlight one pixel right and down, under the shadow.
        draw(r.left() + 1, r.top() + 1, palette.color(QPalette::Light));
        draw(r.left(), r.top(), palette.color(QPalette::Dark));
    }
}

}  // namespace

TJusLab::TJusLab(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    // Drawn verbatim: no rich text, no accelerator characters.
    setTextFormat(Qt::PlainText);
}

void TJusLab::SetAutoSize(bool on) {
    autoSize_ = on;
    AdjustHeight();
}

void TJusLab::setText(const QString& text) {
    QLabel::setText(text);
    AdjustHeight();
}

void TJusLab::AdjustHeight() {
    if (!autoSize_) return;
    adjustedText_ = text();
    const FontMeasure measure(font());
    const auto lines =
        controls::BreakLines(text().toStdU32String(), contentsRect().width(), measure);
    resize(width(), static_cast<int>(lines.size()) * measure.LineHeight());
}

void TJusLab::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) AdjustHeight();
}

// Qt sets a widget's width after its caption more often than not, so a new
// width counts as a reason to work the height out again.
void TJusLab::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) AdjustHeight();
}

void TJusLab::paintEvent(QPaintEvent*) {
    if (autoSize_ && text() != adjustedText_)
        QMetaObject::invokeMethod(this, &TJusLab::AdjustHeight, Qt::QueuedConnection);

    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(font());

    const QRect r = contentsRect();
    const int bottom = r.top() + r.height();  // one past the last row
    const FontMeasure measure(font());
    const int h = measure.LineHeight();
    const auto lines = controls::BreakLines(text().toStdU32String(), r.width(), measure);

    const bool enabled = isEnabled();
    const QColor textColour = palette().color(foregroundRole());
    for (std::size_t number = 0; number < lines.size(); ++number) {
        const int n = static_cast<int>(number);
        // From the label's top edge; a line starting at or below the bottom
        // is placed there and falls outside the label.
        const int top = std::min(bottom, n * h);
        const int lineBottom = std::min(bottom, (n + 1) * h);
        const QRect lineRect(r.left(), top, r.width(), lineBottom - top);
        DrawLine(painter, lineRect, lines[number], measure, enabled, palette(), textColour);
    }
}
