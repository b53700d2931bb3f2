#pragma once

#include "flashmanager.h"
#include "logger.h"

#include <QColor>
#include <QFont>

class QPushButton;
class QWidget;

/// Font and colour roles of the window. Fonts are scaled from the application font the way a
/// 13-point body gives the other roles of the usual desktop text scale.
namespace Style {
[[nodiscard]] QFont title2();
[[nodiscard]] QFont headline();
[[nodiscard]] QFont subheadline(QFont::Weight weight = QFont::Normal);
[[nodiscard]] QFont callout(QFont::Weight weight = QFont::Normal);
[[nodiscard]] QFont caption();
[[nodiscard]] QFont monospacedCaption();

[[nodiscard]] QColor green();
[[nodiscard]] QColor orange();
[[nodiscard]] QColor red();
/// The text colour of the application palette.
[[nodiscard]] QColor primaryText();
/// Text of less importance: the text colour at half strength.
[[nodiscard]] QColor secondaryText();
/// A faint tint of the text colour for card and badge backgrounds, at `opacity` of its own strength.
[[nodiscard]] QColor quaternaryFill(qreal opacity);

[[nodiscard]] QColor statusColor(FlashManager::OperationStatus status);
[[nodiscard]] QColor levelColor(Level level);

/// A standard button with some room beside its text, wide enough for `otherText` too when the
/// button switches between the two.
[[nodiscard]] QPushButton *button(const QString &text, QWidget *parent, const QString &otherText = {});

/// Sets the colour that labels and painted texts of `widget` use.
void setTextColor(QWidget *widget, const QColor &color);
/// The colour `setTextColor` gave `widget`.
[[nodiscard]] QColor textColor(const QWidget *widget);
} // namespace Style
