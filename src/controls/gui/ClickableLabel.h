#pragma once
// A caption that acts like a link: underlined and blue under the mouse,
// plain black otherwise, and clickable. A caption set as prefix and value
// keeps to its width: the value gives way in its middle and the whole text
// goes into the hint.

#include <QLabel>
#include <QMouseEvent>

class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickableLabel(QWidget* parent = nullptr) : QLabel(parent) { SetHot(false); }

    bool Hot() const { return hot_; }
    void SetHot(bool hot);

    // `hint` is the hint shown while the whole caption fits.
    void SetCaption(const QString& prefix, const QString& value, const QString& hint);
    QString WholeText() const { return prefix_ + value_; }

Q_SIGNALS:
    void clicked();

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Fit();

    bool hot_ = false;
    bool captioned_ = false;  // set through SetCaption: the text follows the width
    QString prefix_, value_, hint_;
};
