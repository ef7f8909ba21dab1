#pragma once
// A drop-down list whose entries are never cut: the open list is as wide as
// its widest entry, and a closed list too narrow for its choice shows it
// shortened in the middle with the whole text in its hint.

#include <QComboBox>

class FittingComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit FittingComboBox(QWidget* parent = nullptr);

    // The hint shown while the choice fits.
    void SetHint(const QString& hint);
    // The choice as the closed list draws it.
    QString ShownText() const;
    // Width of the text field of the closed list.
    int TextRoom() const;

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Fit();

    QString hint_;
};
