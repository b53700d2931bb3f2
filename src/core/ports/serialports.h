#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

/// One USB serial device. `id` and `path` are both the full device path.
struct SerialPortInfo
{
    QString id;
    QString path;
    QString name;

    bool operator==(const SerialPortInfo &) const = default;
};

size_t qHash(const SerialPortInfo &port, size_t seed = 0) noexcept;

/// The USB serial devices in `deviceDirectory`, sorted by path in byte order. Never fails:
/// a folder that cannot be read gives an empty list.
[[nodiscard]] QList<SerialPortInfo> availablePorts(const QString &deviceDirectory);
