#include "serialports.h"

#include <QDir>
#include <QFile>
#include <QHashFunctions>

#include <algorithm>

#if defined(Q_OS_LINUX)
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

namespace {
// macOS call-out devices first; then the names Linux gives the ESP32-S3's own USB port
// (ttyACM) and the common USB-serial bridges (ttyUSB).
const QStringList portNamePrefixes = {
    u"cu.usbmodem"_s, u"cu.usbserial"_s, u"cu.wchusbserial"_s, u"ttyACM"_s, u"ttyUSB"_s,
};

/// A device node the tool can open: on Linux a character device, after following a link, so
/// that a stray file named like a port is never offered.
bool isPortNode([[maybe_unused]] const QString &path)
{
#if defined(Q_OS_LINUX)
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
#else
    return true;
#endif
}
} // namespace

size_t qHash(const SerialPortInfo &port, size_t seed) noexcept
{
    return qHashMulti(seed, port.id, port.path, port.name);
}

QList<SerialPortInfo> availablePorts(const QString &deviceDirectory)
{
    const QDir dir(deviceDirectory);
    // Device nodes are "system" entries to QDir; list everything, hidden included.
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Unsorted);

    QStringList paths;
    for (const QString &name : names) {
        const bool matches = std::any_of(portNamePrefixes.cbegin(), portNamePrefixes.cend(),
                                         [&](const QString &prefix) { return name.startsWith(prefix); });
        if (matches && isPortNode(dir.absoluteFilePath(name)))
            paths.append(dir.absoluteFilePath(name));
    }
    std::sort(paths.begin(), paths.end()); // plain code-unit order: cu.usbmodem10 before cu.usbmodem9

    QList<SerialPortInfo> ports;
    ports.reserve(paths.size());
    for (const QString &path : std::as_const(paths))
        ports.append({path, path, path.section(u'/', -1)});
    return ports;
}
