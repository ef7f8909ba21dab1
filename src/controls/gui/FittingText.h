#pragma once
// Texts that must fit the width their control has at the desktop's font.

#include <QFont>
#include <QFontMetrics>
#include <QString>

// prefix + value when it fits `width`; otherwise the prefix whole and the
// value shortened in its middle (both ends of a path or an address stay
// readable); a prefix that alone is too long is cut at its end.
QString ElideCaption(const QFontMetrics& metrics, const QString& prefix, const QString& value, int width);

// `font` narrowed (condensed first, then smaller, never below 6 points) until
// `widest` fits `width`; unchanged when it already fits.
QFont FontFitting(QFont font, const QString& widest, int width);

// The widest text a "d/m/yy hh:nn:ss" stamp can be in this font: every
// field at its full length, written with the font's widest digit.
QString WidestDateTime(const QFontMetrics& metrics);
