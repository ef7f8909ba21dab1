#pragma once
// A caption that acts like a link: underlined and blue under the mouse,
// plain black otherwise, and clickable.

#include <QLabel>
#include <QMouseEvent>

class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickableLabel(QWidget* parent = nullptr) : QLabel(parent) { SetHot(false); }

    bool Hot() const { return hot_; }
    void SetHot(bool hot) {
        hot_ = hot;
        QFont f = font();
        f.setUnderline(hot);
        setFont(f);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, hot ? Qt::blue : Qt::black);
        setPalette(p);
    }

Q_SIGNALS:
    void clicked();

protected:
    void enterEvent(QEnterEvent* e) override {
        SetHot(true);
        QLabel::enterEvent(e);
    }
    void leaveEvent(QEvent* e) override {
        SetHot(false);
        QLabel::leaveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QLabel::mouseReleaseEvent(e);
        if (rect().contains(e->position().toPoint())) Q_EMIT clicked();
    }

private:
    bool hot_ = false;
};
