#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

/// Severity of a log entry.
enum class Level { info, success, warning, error };

/// "INFO", "OK", "WARN" or "ERR".
[[nodiscard]] QString rawValue(Level level);
/// The level whose raw value is exactly `text`, or nothing.
[[nodiscard]] std::optional<Level> levelFromRawValue(QStringView text);

/// One line of the log, fixed when it is logged.
struct LogEntry
{
    QUuid id;
    QDateTime timestamp;
    Level level = Level::info;
    QString message;

    bool operator==(const LogEntry &) const = default;
};
