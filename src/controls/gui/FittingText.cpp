#include "controls/gui/FittingText.h"

QString ElideCaption(const QFontMetrics& metrics, const QString& prefix, const QString& value, int width) {
    const QString whole = prefix + value;
    if (metrics.horizontalAdvance(whole) <= width) return whole;
    // Kerning across the joint can make the sum a pixel wider than its
    // parts: give the value less room until the whole fits.
    const int minRoom = metrics.horizontalAdvance(QChar(0x2026));
    for (int room = width - metrics.horizontalAdvance(prefix); !value.isEmpty() && room >= minRoom; --room) {
        const QString shortened = prefix + metrics.elidedText(value, Qt::ElideMiddle, room);
        if (metrics.horizontalAdvance(shortened) <= width) return shortened;
    }
    return metrics.elidedText(whole, Qt::ElideRight, width);
}

QFont FontFitting(QFont font, const QString& widest, int width) {
    auto fits = [&] { return QFontMetrics(font).horizontalAdvance(widest) <= width; };
    if (font.stretch() == QFont::AnyStretch) font.setStretch(QFont::Unstretched);
    while (!fits() && font.stretch() > QFont::Condensed)
        font.setStretch(font.stretch() == QFont::Unstretched ? QFont::SemiCondensed : QFont::Condensed);
    while (!fits() && font.pointSizeF() > 6.0) font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

QString WidestDateTime(const QFontMetrics& metrics) {
    QChar widest('0');
    for (char c = '1'; c <= '9'; ++c)
        if (metrics.horizontalAdvance(QChar(c)) > metrics.horizontalAdvance(widest)) widest = QChar(c);
    const QString two(2, widest);
    return two + '/' + two + '/' + two + ' ' + two + ':' + two + ':' + two;
}
