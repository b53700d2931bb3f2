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

/// The colours that labels and painted marks take. Each is worked out from the current
/// application palette, so a label set to a role follows a theme change (see `refresh`).
enum class Role { primary, secondary, separator, green, orange, red };

[[nodiscard]] QColor color(Role role);

[[nodiscard]] QColor green();
[[nodiscard]] QColor orange();
[[nodiscard]] QColor red();
/// The text colour of the application palette.
[[nodiscard]] QColor primaryText();
/// Text of less importance: between the text and the window colour, still readable.
[[nodiscard]] QColor secondaryText();
/// A faint tint of the text colour for card and badge backgrounds, at `opacity` of its own strength.
[[nodiscard]] QColor quaternaryFill(qreal opacity);

/// What the status card, the badge capsule and the log are filled with, as opaque colours.
[[nodiscard]] QColor windowBackground();
[[nodiscard]] QColor cardBackground();
[[nodiscard]] QColor badgeBackground();
[[nodiscard]] QColor logBackground();

/// The write button's fill and label, and the progress bar's filled part and track.
[[nodiscard]] QColor accentFill();
[[nodiscard]] QColor accentText();
[[nodiscard]] QColor progressChunk();
[[nodiscard]] QColor progressTrack();
/// The write button's fill and label while it cannot be used: neutral, not a faded accent.
[[nodiscard]] QColor disabledAccentFill();
[[nodiscard]] QColor disabledAccentText();
/// The write button's focus ring, between the window around it and its fill.
[[nodiscard]] QColor focusRing();

/// The WCAG 2.1 contrast ratio of `foreground` (over `background` when translucent) to the
/// opaque `background`: 1 to 21.
[[nodiscard]] double contrastRatio(const QColor &foreground, const QColor &background);

[[nodiscard]] Role statusRole(FlashManager::OperationStatus status);
[[nodiscard]] QColor statusColor(FlashManager::OperationStatus status);
[[nodiscard]] QColor levelColor(Level level);

/// A standard button with some room beside its text, wide enough for `otherText` too when the
/// button switches between the two.
[[nodiscard]] QPushButton *button(const QString &text, QWidget *parent, const QString &otherText = {});

/// Sets the colour that labels and painted texts of `widget` use, and keeps the role for
/// `refresh`.
void setTextColor(QWidget *widget, Role role);
/// Gives every widget under `root` the colour of its role again, after a palette change, and
/// calls the `Q_INVOKABLE void updateLook()` of those that have one.
void refresh(QWidget *root);
/// The colour `setTextColor` gave `widget`.
[[nodiscard]] QColor textColor(const QWidget *widget);
} // namespace Style
