#include "style.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {
QColor composite(const QColor &top, const QColor &bottom)
{
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a),
                            top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a));
}

double luminance(const QColor &color)
{
    const auto channel = [](float value) {
        return value <= 0.04045f ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

/// `color` made darker (on light backgrounds) or lighter (on dark ones) in small steps until it
/// stands out from every one of `backgrounds` by `minimum`; a little above it, so that rounding
/// to 8-bit channels cannot take it below.
QColor readable(QColor color, std::initializer_list<QColor> backgrounds, double minimum)
{
    double darkest = 1;
    for (const QColor &background : backgrounds)
        darkest = std::min(darkest, luminance(background));
    const bool darken = darkest > 0.18;
    const auto worst = [&] {
        double ratio = 21;
        for (const QColor &background : backgrounds)
            ratio = std::min(ratio, Style::contrastRatio(color, background));
        return ratio;
    };
    for (int step = 0; step < 100 && worst() < minimum + 0.05; ++step) {
        float h, s, l, a;
        color.getHslF(&h, &s, &l, &a);
        color = QColor::fromHslF(h, s, std::clamp(l + (darken ? -0.01f : 0.01f), 0.0f, 1.0f), a);
    }
    return color;
}

/// Every colour of the window for one palette, worked out once per palette.
struct Colors
{
    qint64 paletteKey = -1;
    QColor window, card, badge, log, primary, secondary, green, orange, red, accentFill, accentText,
        progressChunk, progressTrack, focusRing;
};

const Colors &colors()
{
    static Colors cache;
    const QPalette palette = QApplication::palette();
    if (cache.paletteKey == palette.cacheKey())
        return cache;
    Colors c;
    c.paletteKey = palette.cacheKey();
    c.window = palette.color(QPalette::Window);
    c.primary = palette.color(QPalette::WindowText);
    const auto tint = [&](qreal opacity) {
        QColor color = c.primary;
        color.setAlphaF(float(0.14 * opacity));
        return composite(color, c.window);
    };
    c.card = tint(0.35);
    c.badge = tint(0.5);
    c.log = palette.color(QPalette::Base);
    const std::initializer_list<QColor> grounds = {c.window, c.card, c.badge, c.log};
    QColor half = c.primary;
    half.setAlphaF(0.55f);
    c.secondary = readable(composite(half, c.window), grounds, 4.5);
    // Hues of the usual desktop system colours; their lightness follows the palette.
    const bool dark = c.window.lightness() < 128;
    c.green = readable(dark ? QColor(0x30, 0xD1, 0x58) : QColor(0x1F, 0xA2, 0x45), grounds, 4.5);
    c.orange = readable(dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xF0, 0x8A, 0x00), grounds, 4.5);
    c.red = readable(dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xE0, 0x30, 0x28), grounds, 4.5);
    c.accentText = palette.color(QPalette::HighlightedText);
    c.accentFill = readable(palette.color(QPalette::Highlight), {c.accentText}, 4.5);
    c.progressTrack = tint(1);
    c.progressChunk = readable(palette.color(QPalette::Highlight), {c.progressTrack, c.window}, 3);
    c.focusRing = readable(c.primary, {c.window, c.card, c.accentFill}, 3);
    cache = c;
    return cache;
}
} // namespace

namespace Style {
double contrastRatio(const QColor &foreground, const QColor &background)
{
    const double a = luminance(composite(foreground, background));
    const double b = luminance(background);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor color(Role role)
{
    switch (role) {
    case Role::primary:
        return primaryText();
    case Role::secondary:
        return secondaryText();
    case Role::separator:
        return quaternaryFill(1.2);
    case Role::green:
        return green();
    case Role::orange:
        return orange();
    case Role::red:
        return red();
    }
    Q_UNREACHABLE();
    return {};
}

QColor green()
{
    return colors().green;
}

QColor orange()
{
    return colors().orange;
}

QColor red()
{
    return colors().red;
}

QColor primaryText()
{
    return colors().primary;
}

QColor secondaryText()
{
    return colors().secondary;
}

QColor quaternaryFill(qreal opacity)
{
    QColor color = primaryText();
    color.setAlphaF(float(0.14 * opacity));
    return color;
}

QColor windowBackground()
{
    return colors().window;
}

QColor cardBackground()
{
    return colors().card;
}

QColor badgeBackground()
{
    return colors().badge;
}

QColor logBackground()
{
    return colors().log;
}

QColor accentFill()
{
    return colors().accentFill;
}

QColor accentText()
{
    return colors().accentText;
}

QColor disabledAccentFill()
{
    return badgeBackground();
}

QColor disabledAccentText()
{
    return secondaryText();
}

QColor progressChunk()
{
    return colors().progressChunk;
}

QColor progressTrack()
{
    return colors().progressTrack;
}

QColor focusRing()
{
    return colors().focusRing;
}

Role statusRole(FlashManager::OperationStatus status)
{
    using Status = FlashManager::OperationStatus;
    switch (status) {
    case Status::idle:
    case Status::complete:
        return Role::green;
    case Status::error:
        return Role::red;
    case Status::scanning:
    case Status::connecting:
    case Status::erasing:
    case Status::flashing:
    case Status::rebooting:
        return Role::orange;
    }
    Q_UNREACHABLE();
    return {};
}

QColor statusColor(FlashManager::OperationStatus status)
{
    return color(statusRole(status));
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
} // namespace Style
