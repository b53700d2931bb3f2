#pragma once

#include <QString>
#include <QStringView>

#include <optional>

/// The percentage in a progress line of the tool, or nothing: the number that begins the
/// last parenthesised part before the last "%" ("(42 %)"), else (the bar of
/// esptool 5) the one number between the last "]" and the last "%" after it ("]  48.8%").
[[nodiscard]] std::optional<double> parseProgress(QStringView line);

/// The line as the status shows it: without blanks, and without the carriage return that
/// the tool puts before each bar line, at either end.
[[nodiscard]] QString reportedText(QStringView line);

/// The last non-blank state of a line redrawn with carriage returns.
[[nodiscard]] QString currentRedraw(const QString &line);
