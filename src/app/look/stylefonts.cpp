#include "style.h"

#include <algorithm>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>

namespace {
// The text scale whose body is 13 points, a point being one pixel. A larger application font
// scales every role up with it; a smaller one does not shrink them below these sizes, which are
// the smallest that stay readable.
constexpr qreal bodySize = 13;

qreal pixelsPerPoint()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return (screen ? screen->logicalDotsPerInch() : 96) / 72;
}

/// `weight`, or Normal where the family has no face between Normal and Bold: the text would be
/// drawn with the regular face anyway, yet Qt opens that face once more for the other weight,
/// with a font match over every installed font.
QFont::Weight drawnWeight(const QFont &font, QFont::Weight weight)
{
    if (weight <= QFont::Normal || weight >= QFont::Bold || font.family() != QApplication::font().family())
        return weight;
    const QString family = QFontInfo(QApplication::font()).family();
    const QStringList styles = QFontDatabase::styles(family);
    const bool between = std::any_of(styles.cbegin(), styles.cend(), [&family](const QString &style) {
        const int faceWeight = QFontDatabase::weight(family, style);
        return faceWeight > QFont::Normal && faceWeight < QFont::Bold;
    });
    return between ? weight : QFont::Normal;
}

QFont scaled(QFont font, qreal size, QFont::Weight weight)
{
    const qreal basePixels = font.pointSizeF() > 0 ? font.pointSizeF() * pixelsPerPoint() : font.pixelSize();
    const qreal pixels = size * qMax<qreal>(1, basePixels / bodySize);
    font.setPointSizeF(pixels / pixelsPerPoint());
    font.setWeight(drawnWeight(font, weight));
    // Hinted small text can push the marks of Ö and İ above the line box, where a label cuts
    // them off.
    if (pixels < 12)
        font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

} // namespace

namespace Style {
QFont title2()
{
    return scaled(QApplication::font(), 17, QFont::Bold);
}

QFont headline()
{
    return scaled(QApplication::font(), 13, QFont::Bold);
}

QFont subheadline(QFont::Weight weight)
{
    return scaled(QApplication::font(), 11, weight);
}

QFont callout(QFont::Weight weight)
{
    return scaled(QApplication::font(), 12, weight);
}

QFont caption()
{
    return scaled(QApplication::font(), 10, QFont::Normal);
}

QFont monospacedCaption()
{
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        fixed.setPointSizeF(base.pointSizeF());
    else
        fixed.setPixelSize(base.pixelSize());
    return scaled(fixed, 10, QFont::Normal);
}
} // namespace Style
