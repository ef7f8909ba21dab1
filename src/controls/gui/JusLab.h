#pragma once
// TJusLab: a multi-line label whose lines are fully justified. A line
// broken at a space is stretched to the label's width by widening its
// spaces; the last line, a line ended by a carriage return and a line cut
// inside an overlong word stay left-aligned. The caption is QLabel's text,
// always wrapped, and an ampersand is an ordinary character. Transparent
// unless autoFillBackground is set. Main thread only.

#include <QLabel>
#include <QString>

class TJusLab : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)

public:
    explicit TJusLab(QWidget* parent = nullptr);

    // When on, the height follows the number of lines (each as tall as
    // "Wg" in the label's font); the width never changes. Off at creation.
    void SetAutoSize(bool on);
    bool AutoSize() const { return autoSize_; }

    // Hides QLabel::setText so that a new caption re-runs the auto-height
    // at once; a caption set through a QLabel pointer is caught at the next
    // paint.
    void setText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void AdjustHeight();

    bool autoSize_ = false;
    QString adjustedText_;  // the caption the height was last worked out for
};
