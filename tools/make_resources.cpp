// Draws the program's pictures and its default alarm sound into the program
// folder given as argv[1]. Everything is generated here, at build time, so
// the project ships no binary artwork.
//
//   Immagini/Sfondo.png                 1024 x 710 main-window background
//   Immagini/VolMeter_*.png             audio level bar, 320 x 18 / 316 x 14
//   Immagini/Precisione_*.png           precision bars, 120 x 18 / 116 x 14
//   Immagini/Icona00.png .. Icona10.png the event list's 16 x 16 icons
//   Suoni/DefaultAlarm.wav              2 s two-tone siren, 16-bit mono 22050 Hz
//
// With a second folder, argv[2], also the application icon for the desktop:
//   hicolor/<n>x<n>/apps/org.oculara.Oculara.png   n = 48, 128, 256

#include <QByteArray>
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numbers>

namespace {

// The main window's own colour: the background must end in it exactly.
const QColor WindowColour(16, 64, 128);

int Clamp255(double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); }

double SmoothStep(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor(Clamp255(a.red() + (b.red() - a.red()) * t),
                  Clamp255(a.green() + (b.green() - a.green()) * t),
                  Clamp255(a.blue() + (b.blue() - a.blue()) * t),
                  Clamp255(a.alpha() + (b.alpha() - a.alpha()) * t));
}

// ---------------------------------------------------------------- output

class Output {
public:
    explicit Output(const QString& root) : root_(root) {}

    bool SavePng(const QImage& image, const QString& relative) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image)) {
            std::fprintf(stderr, "make_resources: cannot encode %s: %s\n",
                         qPrintable(relative), qPrintable(writer.errorString()));
            return false;
        }
        return SaveBytes(bytes, relative);
    }

    // Written through a temporary file and renamed, so an interrupted build
    // never leaves a truncated picture that looks up to date.
    bool SaveBytes(const QByteArray& bytes, const QString& relative) {
        const QString path = root_ + "/" + relative;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "make_resources: cannot create folder %s\n", qPrintable(folder));
            return false;
        }
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
            !file.commit()) {
            std::fprintf(stderr, "make_resources: cannot write %s: %s\n", qPrintable(path),
                         qPrintable(file.errorString()));
            return false;
        }
        return true;
    }

private:
    QString root_;
};

// ---------------------------------------------------------------- background

QImage DrawSfondo() {
    constexpr int W = 1024, H = 710;
    QImage pattern(W, H, QImage::Format_RGB32);
    {
        QPainter p(&pattern);
        p.setRenderHint(QPainter::Antialiasing);

        // Deep navy in the top-left corner, lifting towards the window colour.
        QLinearGradient base(0, 0, W * 0.8, H);
        base.setColorAt(0.0, QColor(7, 30, 70));
        base.setColorAt(0.55, QColor(12, 50, 106));
        base.setColorAt(1.0, WindowColour);
        p.fillRect(pattern.rect(), base);

        // A soft glow where the background shows most: below the preview panel.
        QRadialGradient glow(QPointF(205, 600), 330);
        glow.setColorAt(0.0, QColor(60, 120, 200, 90));
        glow.setColorAt(1.0, QColor(60, 120, 200, 0));
        p.fillRect(pattern.rect(), glow);

        // Faint rings around the glow, a watchful eye's iris.
        for (int r = 24; r < 520; r += 22) {
            const double fade = 1.0 - r / 520.0;
            p.setPen(QPen(QColor(170, 210, 255, static_cast<int>(22 * fade)), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(205, 600), r, r);
        }
        // Fine diagonal hatching across the whole picture.
        p.setPen(QPen(QColor(255, 255, 255, 7), 1.0));
        for (int k = -H; k < W; k += 9) p.drawLine(QPointF(k, 0), QPointF(k + H, H));
    }

    // Fade everything into the window colour at the right and bottom edges,
    // so the picture has no visible border on a larger window.
    QImage out(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(pattern.constScanLine(y));
        QRgb* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        const double fy = SmoothStep((H - 1 - y) / 170.0);
        for (int x = 0; x < W; ++x) {
            const double f = SmoothStep((W - 1 - x) / 260.0) * fy;
            const QRgb s = src[x];
            dst[x] = qRgb(Clamp255(WindowColour.red() + (qRed(s) - WindowColour.red()) * f),
                          Clamp255(WindowColour.green() + (qGreen(s) - WindowColour.green()) * f),
                          Clamp255(WindowColour.blue() + (qBlue(s) - WindowColour.blue()) * f));
        }
    }
    return out;
}

// ---------------------------------------------------------------- level bars

// The disabled look: grey, flatter, a little lighter.
QImage Greyed(const QImage& source) {
    QImage out = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x];
            const double lum = 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
            const int v = Clamp255(0.45 * lum + 0.55 * 160.0);
            line[x] = qRgba(v, v, v, qAlpha(c));
        }
    }
    return out;
}

// LED cells of the audio meter: 3 pixels lit, 1 dark, rows 1..12 of 14.
constexpr int MeterFgW = 316, MeterFgH = 14, MeterCell = 4;
const QColor MeterDark(18, 22, 28);

QColor LedColour(double t) {
    const QColor green(50, 215, 70), yellow(245, 215, 40), red(235, 45, 35);
    if (t < 0.60) return green;
    if (t < 0.68) return Mix(green, yellow, (t - 0.60) / 0.08);
    if (t < 0.82) return yellow;
    if (t < 0.88) return Mix(yellow, red, (t - 0.82) / 0.06);
    return red;
}

// The meter's cells, lit or not, drawn into a 316 x 14 area at (ox, oy).
void DrawLedCells(QImage& image, int ox, int oy, bool lit) {
    for (int x = 0; x < MeterFgW; ++x) {
        const bool gap = x % MeterCell == MeterCell - 1;
        const int cellStart = x - x % MeterCell;
        const QColor led = LedColour((cellStart + 1.5) / MeterFgW);
        for (int y = 0; y < MeterFgH; ++y) {
            QColor c = MeterDark;
            if (!gap && y >= 1 && y <= MeterFgH - 2) {
                // Lighter at the top of each cell for a little depth.
                const double shade = 1.18 - 0.36 * (y - 1) / (MeterFgH - 3.0);
                QColor base = lit ? led : Mix(MeterDark, led, 0.22);
                c = QColor(Clamp255(base.red() * shade), Clamp255(base.green() * shade),
                           Clamp255(base.blue() * shade));
            }
            image.setPixelColor(ox + x, oy + y, c);
        }
    }
}

QImage DrawMeterBackground() {
    QImage image(MeterFgW + 4, MeterFgH + 4, QImage::Format_ARGB32);
    image.fill(MeterDark);
    QPainter p(&image);
    // A sunken bezel, as the bar sits on the light panel.
    p.setPen(QColor(120, 116, 106));
    p.drawLine(0, 0, image.width() - 1, 0);
    p.drawLine(0, 0, 0, image.height() - 1);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(1, image.height() - 1, image.width() - 1, image.height() - 1);
    p.drawLine(image.width() - 1, 1, image.width() - 1, image.height() - 1);
    p.setPen(QColor(44, 50, 58));
    p.drawRect(1, 1, image.width() - 3, image.height() - 3);
    p.end();
    DrawLedCells(image, 2, 2, false);
    return image;
}

QImage DrawMeterForeground() {
    QImage image(MeterFgW, MeterFgH, QImage::Format_ARGB32);
    DrawLedCells(image, 0, 0, true);
    return image;
}

constexpr int PrecFgW = 116, PrecFgH = 14;

QImage DrawPrecisionBackground() {
    QImage image(PrecFgW + 4, PrecFgH + 4, QImage::Format_ARGB32);
    image.fill(QColor(226, 230, 236));
    QPainter p(&image);
    p.setPen(QColor(128, 124, 114));
    p.drawLine(0, 0, image.width() - 1, 0);
    p.drawLine(0, 0, 0, image.height() - 1);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(1, image.height() - 1, image.width() - 1, image.height() - 1);
    p.drawLine(image.width() - 1, 1, image.width() - 1, image.height() - 1);
    p.setPen(QColor(168, 172, 180));
    p.drawRect(1, 1, image.width() - 3, image.height() - 3);
    // A slight inner shadow along the top of the trough.
    p.setPen(QColor(200, 204, 212));
    p.drawLine(2, 2, image.width() - 3, 2);
    // Faint tenths, so an empty bar still reads as a scale.
    p.setPen(QColor(206, 210, 218));
    for (int k = 1; k < 10; ++k) {
        const int x = 2 + PrecFgW * k / 10;
        p.drawLine(x, 4, x, image.height() - 4);
    }
    return image;
}

QImage DrawPrecisionForeground() {
    QImage image(PrecFgW, PrecFgH, QImage::Format_ARGB32);
    const QColor left(28, 96, 205), right(36, 176, 88);
    for (int x = 0; x < PrecFgW; ++x) {
        const QColor hue = Mix(left, right, x / (PrecFgW - 1.0));
        for (int y = 0; y < PrecFgH; ++y) {
            QColor c;
            if (y == 0 || y == PrecFgH - 1 || x == 0 || x == PrecFgW - 1) {
                c = Mix(hue, QColor(0, 0, 0), 0.35);  // a darker rim
            } else if (y < PrecFgH / 2) {
                // Glossy upper half.
                c = Mix(hue, QColor(255, 255, 255), 0.45 - 0.06 * y);
            } else {
                c = Mix(hue, QColor(0, 0, 0), 0.03 * (y - PrecFgH / 2));
            }
            image.setPixelColor(x, y, c);
        }
    }
    return image;
}

// ---------------------------------------------------------------- icons

QImage Icon(const std::function<void(QPainter&)>& draw) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return image;
}

const QColor Red(218, 32, 28), DarkRed(128, 10, 8);
const QColor Ink(48, 54, 62), DarkInk(22, 26, 32);

QPen RoundPen(const QColor& c, double width) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Intruder(QPainter& p) {  // 0: prohibition sign over an intruder
    p.setPen(Qt::NoPen);
    p.setBrush(DarkInk);
    p.drawEllipse(QPointF(8, 5.3), 2.4, 2.4);
    QPainterPath body;
    body.moveTo(3.2, 14.5);
    body.cubicTo(3.2, 9.5, 5.5, 8.2, 8, 8.2);
    body.cubicTo(10.5, 8.2, 12.8, 9.5, 12.8, 14.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Red, 2.0));
    p.drawEllipse(QPointF(8, 8), 6.6, 6.6);
    p.setPen(QPen(Red, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(3.4, 3.4), QPointF(12.6, 12.6));
}

void Question(QPainter& p) {  // 1: red question mark
    QPainterPath hook;
    hook.moveTo(4.6, 5.4);
    hook.cubicTo(4.6, 1.6, 11.6, 1.4, 11.6, 5.2);
    hook.cubicTo(11.6, 7.6, 8.2, 7.8, 8.2, 10.4);
    p.setBrush(Qt::NoBrush);
    p.setPen(RoundPen(DarkRed, 3.8));
    p.drawPath(hook);
    p.setPen(RoundPen(Red, 2.4));
    p.drawPath(hook);
    p.setPen(QPen(DarkRed, 0.8));
    p.setBrush(Red);
    p.drawEllipse(QPointF(8.2, 13.6), 1.6, 1.6);
}

void Cross(QPainter& p) {  // 2: red cross
    const QLineF a(QPointF(4, 4), QPointF(12, 12)), b(QPointF(12, 4), QPointF(4, 12));
    p.setPen(RoundPen(DarkRed, 4.4));
    p.drawLine(a);
    p.drawLine(b);
    p.setPen(RoundPen(Red, 3.0));
    p.drawLine(a);
    p.drawLine(b);
}

void Information(QPainter& p) {  // 3: blue information bubble
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(1.5, 1.5, 13, 10.5), 3.5, 3.5);
    QPainterPath tail;
    tail.moveTo(4, 11);
    tail.lineTo(3.5, 15);
    tail.lineTo(8, 11);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    QLinearGradient fill(0, 1.5, 0, 12);
    fill.setColorAt(0, QColor(96, 160, 240));
    fill.setColorAt(1, QColor(24, 88, 190));
    p.setPen(QPen(QColor(12, 50, 120), 1.0));
    p.setBrush(fill);
    p.drawPath(bubble);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 4.2), 1.15, 1.15);
    p.drawRoundedRect(QRectF(7, 6.1, 2, 4.4), 0.4, 0.4);
}

void VideoCamera(QPainter& p) {  // 4: video camera
    p.setPen(QPen(DarkInk, 1.0));
    p.setBrush(QColor(150, 156, 166));
    p.drawEllipse(QPointF(4, 3.6), 2.4, 2.4);
    p.drawEllipse(QPointF(9, 3.6), 2.4, 2.4);
    QLinearGradient body(0, 6, 0, 13);
    body.setColorAt(0, QColor(96, 104, 116));
    body.setColorAt(1, Ink);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 6.5, 10, 7), 1.2, 1.2);
    QPainterPath lens;
    lens.moveTo(11.5, 9);
    lens.lineTo(15, 6.8);
    lens.lineTo(15, 13.2);
    lens.lineTo(11.5, 11);
    lens.closeSubpath();
    p.setBrush(Ink);
    p.drawPath(lens);
    p.setPen(Qt::NoPen);
    p.setBrush(Red);
    p.drawEllipse(QPointF(3.6, 8.6), 0.9, 0.9);
}

void Loudspeaker(QPainter& p) {  // 5: loudspeaker
    QPainterPath cone;
    cone.moveTo(1.5, 6);
    cone.lineTo(4.5, 6);
    cone.lineTo(8.5, 2.5);
    cone.lineTo(8.5, 13.5);
    cone.lineTo(4.5, 10);
    cone.lineTo(1.5, 10);
    cone.closeSubpath();
    QLinearGradient fill(0, 2, 0, 14);
    fill.setColorAt(0, QColor(120, 128, 140));
    fill.setColorAt(1, Ink);
    p.setPen(QPen(DarkInk, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(cone);
    p.setBrush(Qt::NoBrush);
    // Sound waves around the cone's mouth.
    p.setPen(RoundPen(QColor(30, 110, 220), 1.4));
    p.drawArc(QRectF(8.5 - 3.2, 8 - 3.2, 6.4, 6.4), -48 * 16, 96 * 16);
    p.drawArc(QRectF(8.5 - 6, 8 - 6, 12, 12), -48 * 16, 96 * 16);
}

void MobilePhone(QPainter& p) {  // 6: mobile phone
    QLinearGradient body(4, 0, 12, 0);
    body.setColorAt(0, QColor(88, 96, 108));
    body.setColorAt(1, DarkInk);
    p.setPen(QPen(DarkInk, 1.0));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(4.5, 0.5, 7, 15), 1.8, 1.8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 214, 255));
    p.drawRect(QRectF(5.6, 2.2, 4.8, 5.6));
    p.setBrush(QColor(210, 214, 220));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(5.8 + col * 1.6, 9.2 + row * 1.9, 1.0, 1.1));
}

void Envelope(QPainter& p) {  // 7: envelope
    const QRectF r(1.5, 3.5, 13, 9);
    p.setPen(QPen(QColor(90, 84, 66), 1.0));
    p.setBrush(QColor(255, 246, 214));
    p.drawRect(r);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(150, 138, 104), 0.9));
    p.drawLine(QPointF(1.5, 12.5), QPointF(6.5, 8));
    p.drawLine(QPointF(14.5, 12.5), QPointF(9.5, 8));
    p.setPen(QPen(QColor(90, 84, 66), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    QPainterPath flap;
    flap.moveTo(1.5, 3.5);
    flap.lineTo(8, 9);
    flap.lineTo(14.5, 3.5);
    p.drawPath(flap);
}

void PhotoCamera(QPainter& p) {  // 8: photo camera
    p.setPen(QPen(DarkInk, 1.0));
    p.setBrush(Ink);
    p.drawRoundedRect(QRectF(5, 2.5, 5.5, 3), 0.8, 0.8);
    QLinearGradient body(0, 4, 0, 14);
    body.setColorAt(0, QColor(110, 118, 130));
    body.setColorAt(1, Ink);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(0.5, 4.5, 15, 9.5), 1.5, 1.5);
    p.setBrush(QColor(200, 206, 214));
    p.drawEllipse(QPointF(8, 9.2), 3.6, 3.6);
    QRadialGradient glass(QPointF(7.2, 8.4), 2.8);
    glass.setColorAt(0, QColor(120, 190, 255));
    glass.setColorAt(1, QColor(16, 50, 110));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawEllipse(QPointF(8, 9.2), 2.3, 2.3);
    p.setBrush(QColor(255, 236, 150));
    p.drawRect(QRectF(12, 6, 2, 1.5));
}

void ProgramWindow(QPainter& p) {  // 9: program window
    const QRectF frame(1.5, 2.5, 13, 11);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(frame);
    QLinearGradient title(0, 2.5, 0, 5.5);
    title.setColorAt(0, QColor(80, 140, 230));
    title.setColorAt(1, QColor(24, 80, 180));
    p.setBrush(title);
    p.drawRect(QRectF(1.5, 2.5, 13, 3));
    p.setBrush(QColor(226, 80, 60));
    p.drawRect(QRectF(11.5, 3.3, 2, 1.5));
    p.setBrush(QColor(200, 206, 216));
    p.drawRect(QRectF(3, 7, 7, 1));
    p.drawRect(QRectF(3, 9, 9, 1));
    p.drawRect(QRectF(3, 11, 5, 1));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(20, 56, 130), 1.0));
    p.drawRect(frame);
}

void Computer(QPainter& p, double x, double y) {
    p.setPen(QPen(DarkInk, 1.0));
    p.setBrush(QColor(200, 204, 210));
    p.drawRect(QRectF(x + 0.5, y + 0.5, 7, 5.5));
    p.setPen(Qt::NoPen);
    QLinearGradient screen(0, y + 1.5, 0, y + 5.5);
    screen.setColorAt(0, QColor(110, 180, 250));
    screen.setColorAt(1, QColor(30, 90, 190));
    p.setBrush(screen);
    p.drawRect(QRectF(x + 1.5, y + 1.5, 5, 3.5));
    p.setBrush(DarkInk);
    p.drawRect(QRectF(x + 3, y + 6, 2, 1));
    p.drawRect(QRectF(x + 2, y + 7, 4, 1));
}

void NetworkedComputers(QPainter& p) {  // 10: two networked computers
    // The cable first, so the computers sit on top of it.
    p.setPen(QPen(QColor(30, 110, 220), 1.2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(4, 8);
    cable.lineTo(4, 12.5);
    cable.lineTo(8, 12.5);
    p.drawPath(cable);
    Computer(p, 0, 0);
    Computer(p, 8, 8);
}

// ---------------------------------------------------------------- application icon

// An eye whose pupil is a camera lens, with a recording light, on a tile in
// the window's blues. Drawn on a 256-unit grid; resources/icons/
// org.oculara.Oculara.svg is the same drawing, shape for shape.
QImage DrawAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    QLinearGradient tile(0, 16, 0, 240);
    tile.setColorAt(0, QColor(0x2f, 0x7f, 0xd8));
    tile.setColorAt(1, QColor(0x0b, 0x2d, 0x63));
    p.setPen(QPen(QColor(0x0a, 0x27, 0x54), 4));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(18, 18, 220, 220), 50, 50);

    QPainterPath eye;
    eye.moveTo(32, 128);
    eye.cubicTo(72, 64, 184, 64, 224, 128);
    eye.cubicTo(184, 192, 72, 192, 32, 128);
    eye.closeSubpath();
    QLinearGradient white(0, 80, 0, 176);
    white.setColorAt(0, QColor(0xff, 0xff, 0xff));
    white.setColorAt(1, QColor(0xd6, 0xe4, 0xf5));
    p.setPen(Qt::NoPen);
    p.setBrush(white);
    p.drawPath(eye);

    p.save();
    p.setClipPath(eye);
    QRadialGradient iris(QPointF(128, 128), 42);
    iris.setColorAt(0, QColor(0x7f, 0xd4, 0xff));
    iris.setColorAt(0.6, QColor(0x2a, 0x86, 0xe0));
    iris.setColorAt(1, QColor(0x0d, 0x3f, 0x8f));
    p.setBrush(iris);
    p.drawEllipse(QPointF(128, 128), 42, 42);
    p.restore();

    p.setBrush(QColor(0x08, 0x14, 0x26));
    p.drawEllipse(QPointF(128, 128), 26, 26);
    p.setPen(QPen(QColor(0x2f, 0x5f, 0x9e), 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(128, 128), 17, 17);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawEllipse(QPointF(114, 112), 9, 7);
    p.setBrush(QColor(255, 255, 255, 128));
    p.drawEllipse(QPointF(142, 142), 3.5, 3.5);

    p.setPen(QPen(QColor(0x06, 0x1a, 0x3a), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(eye);

    p.setPen(QPen(QColor(0xff, 0xff, 0xff), 5));
    p.setBrush(QColor(0xe5, 0x33, 0x26));
    p.drawEllipse(QPointF(190, 58), 15, 15);
    return image;
}

// ---------------------------------------------------------------- alarm sound

void PutLe(QByteArray& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Two tones alternating every half second. Each half second holds a whole
// number of cycles of either tone, so the phase is back at zero at every
// change and at the end: the sound loops without a click.
QByteArray MakeSiren() {
    constexpr uint32_t Rate = 22050;
    constexpr uint32_t Segment = Rate / 2;  // 11025 samples
    constexpr int Segments = 4;             // 2 s
    constexpr double High = 960.0, Low = 720.0;
    constexpr double TwoPi = 2.0 * std::numbers::pi;

    QByteArray pcm;
    pcm.reserve(Segment * Segments * 2);
    for (int s = 0; s < Segments; ++s) {
        const double f = s % 2 == 0 ? High : Low;
        for (uint32_t n = 0; n < Segment; ++n) {
            const double phase = TwoPi * f * n / Rate;
            // Odd harmonics give the hard edge of a siren without aliasing; the
            // sum peaks near 0.91, so the sound stays clear of clipping.
            const double v = std::sin(phase) + std::sin(3 * phase) / 3.0 + std::sin(5 * phase) / 8.0;
            const auto sample = static_cast<int16_t>(std::lround(v * 0.9 * 32767.0));
            PutLe(pcm, static_cast<uint16_t>(sample), 2);
        }
    }

    QByteArray wav;
    const uint32_t dataSize = static_cast<uint32_t>(pcm.size());
    wav.append("RIFF", 4);
    PutLe(wav, 36 + dataSize, 4);
    wav.append("WAVE", 4);
    wav.append("fmt ", 4);
    PutLe(wav, 16, 4);            // PCM format block
    PutLe(wav, 1, 2);             // WAVE_FORMAT_PCM
    PutLe(wav, 1, 2);             // mono
    PutLe(wav, Rate, 4);
    PutLe(wav, Rate * 2, 4);      // bytes per second
    PutLe(wav, 2, 2);             // block align
    PutLe(wav, 16, 2);            // bits per sample
    wav.append("data", 4);
    PutLe(wav, dataSize, 4);
    wav.append(pcm);
    return wav;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2 || !*argv[1]) {
        std::fprintf(stderr, "usage: make_resources <program folder> [icon folder]\n");
        return 2;
    }
    Output out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;

    ok &= out.SavePng(DrawSfondo(), "Immagini/Sfondo.png");

    const QImage meterBg = DrawMeterBackground(), meterFg = DrawMeterForeground();
    ok &= out.SavePng(meterBg, "Immagini/VolMeter_Sfondo.png");
    ok &= out.SavePng(meterFg, "Immagini/VolMeter_PrimoPiano.png");
    ok &= out.SavePng(Greyed(meterBg), "Immagini/VolMeter_SfondoDis.png");
    ok &= out.SavePng(Greyed(meterFg), "Immagini/VolMeter_PrimoPianoDis.png");

    const QImage precBg = DrawPrecisionBackground(), precFg = DrawPrecisionForeground();
    ok &= out.SavePng(precBg, "Immagini/Precisione_Sfondo.png");
    ok &= out.SavePng(precFg, "Immagini/Precisione_PrimoPiano.png");
    ok &= out.SavePng(Greyed(precBg), "Immagini/Precisione_SfondoDis.png");
    ok &= out.SavePng(Greyed(precFg), "Immagini/Precisione_PrimoPianoDis.png");

    // In the order of the event list's icon indexes.
    const std::function<void(QPainter&)> icons[] = {
        Intruder,    Question,   Cross,    Information,   VideoCamera,       Loudspeaker,
        MobilePhone, Envelope,   PhotoCamera, ProgramWindow, NetworkedComputers};
    for (int i = 0; i < 11; ++i)
        ok &= out.SavePng(Icon(icons[i]), QString("Immagini/Icona%1.png").arg(i, 2, 10, QChar('0')));

    ok &= out.SaveBytes(MakeSiren(), "Suoni/DefaultAlarm.wav");

    if (argc > 2 && *argv[2]) {
        Output icons(QString::fromLocal8Bit(argv[2]));
        for (const int size : {48, 128, 256})
            ok &= icons.SavePng(DrawAppIcon(size),
                                QString("hicolor/%1x%1/apps/org.oculara.Oculara.png").arg(size));
    }

    if (!ok) {
        std::fprintf(stderr, "make_resources: some files could not be written\n");
        return 1;
    }
    return 0;
}
