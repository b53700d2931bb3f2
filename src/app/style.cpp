#include "style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

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

QFont scaled(QFont font, qreal size, QFont::Weight weight)
{
    const qreal basePixels = font.pointSizeF() > 0 ? font.pointSizeF() * pixelsPerPoint() : font.pixelSize();
    const qreal pixels = size * qMax<qreal>(1, basePixels / bodySize);
    font.setPointSizeF(pixels / pixelsPerPoint());
    font.setWeight(weight);
    // Hinted small text can push the marks of Ö and İ above the line box, where a label cuts
    // them off.
    if (pixels < 12)
        font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

bool darkPalette()
{
    return QApplication::palette().color(QPalette::Window).lightness() < 128;
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

// Deep enough to read as text on a light window, bright enough on a dark one.
QColor green()
{
    return darkPalette() ? QColor(0x30, 0xD1, 0x58) : QColor(0x1F, 0xA2, 0x45);
}

QColor orange()
{
    return darkPalette() ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xF0, 0x8A, 0x00);
}

QColor red()
{
    return darkPalette() ? QColor(0xFF, 0x45, 0x3A) : QColor(0xE0, 0x30, 0x28);
}

QColor primaryText()
{
    return QApplication::palette().color(QPalette::WindowText);
}

QColor secondaryText()
{
    QColor color = primaryText();
    color.setAlphaF(0.55f);
    return color;
}

QColor quaternaryFill(qreal opacity)
{
    QColor color = primaryText();
    color.setAlphaF(float(0.14 * opacity));
    return color;
}

QColor statusColor(FlashManager::OperationStatus status)
{
    using Status = FlashManager::OperationStatus;
    switch (status) {
    case Status::idle:
    case Status::complete:
        return green();
    case Status::error:
        return red();
    case Status::scanning:
    case Status::connecting:
    case Status::erasing:
    case Status::flashing:
    case Status::rebooting:
        return orange();
    }
    Q_UNREACHABLE();
    return {};
}

QColor levelColor(Level level)
{
    switch (level) {
    case Level::info:
        return primaryText();
    case Level::success:
        return green();
    case Level::warning:
        return orange();
    case Level::error:
        return red();
    }
    Q_UNREACHABLE();
    return {};
}

QPushButton *button(const QString &text, QWidget *parent, const QString &otherText)
{
    constexpr int extraRoom = 14;
    auto *button = new QPushButton(otherText, parent);
    const int otherWidth = otherText.isEmpty() ? 0 : button->sizeHint().width();
    button->setText(text);
    button->setMinimumWidth(qMax(otherWidth, button->sizeHint().width()) + extraRoom);
    return button;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QColor textColor(const QWidget *widget)
{
    return widget->palette().color(QPalette::WindowText);
}
} // namespace Style
