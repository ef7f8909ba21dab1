#pragma once
// TMioIndicatore: a value shown as a bar made of two pictures, the
// background drawn whole and a left-hand slice of the foreground on top,
// with a second pair for the disabled look. Main thread only.

#include <QPixmap>
#include <QWidget>
#include <cstdint>

class TMioIndicatore : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Pos READ Pos WRITE SetPos)
    Q_PROPERTY(QPixmap ImmagineDiSfondo READ ImmagineDiSfondo WRITE SetImmagineDiSfondo)
    Q_PROPERTY(QPixmap ImmaginePrimoPiano READ ImmaginePrimoPiano WRITE SetImmaginePrimoPiano)
    Q_PROPERTY(QPixmap ImmagineDiSfondoDis READ ImmagineDiSfondoDis WRITE SetImmagineDiSfondoDis)
    Q_PROPERTY(QPixmap ImmaginePrimoPianoDis READ ImmaginePrimoPianoDis
                   WRITE SetImmaginePrimoPianoDis)

public:
    static constexpr int DefaultWidth = 203;
    static constexpr int DefaultHeight = 18;

    explicit TMioIndicatore(QWidget* parent = nullptr);

    int32_t Max() const { return max_; }
    int32_t Min() const { return min_; }
    int32_t Pos() const { return pos_; }
    // Stored as given and shown at once, even when unchanged; callers keep
    // Pos within Min..Max.
    void SetMax(int32_t value);
    void SetMin(int32_t value);
    void SetPos(int32_t value);

    const QPixmap& ImmagineDiSfondo() const { return sfondo_; }
    const QPixmap& ImmaginePrimoPiano() const { return primoPiano_; }
    const QPixmap& ImmagineDiSfondoDis() const { return sfondoDis_; }
    const QPixmap& ImmaginePrimoPianoDis() const { return primoPianoDis_; }
    // The control keeps its own copy; the background also gives the
    // control its size.
    void SetImmagineDiSfondo(const QPixmap& picture);
    void SetImmaginePrimoPiano(const QPixmap& picture);
    void SetImmagineDiSfondoDis(const QPixmap& picture);
    void SetImmaginePrimoPianoDis(const QPixmap& picture);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Redraw();

    int32_t max_ = 100;
    int32_t min_ = 0;
    int32_t pos_ = 0;
    QPixmap sfondo_;
    QPixmap primoPiano_;
    QPixmap sfondoDis_;
    QPixmap primoPianoDis_;
};
