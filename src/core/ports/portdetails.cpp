#include "portdetails.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

using namespace Qt::StringLiterals;

namespace {
QString hex4(quint16 value)
{
    return u"%1"_s.arg(value, 4, 16, QChar(u'0'));
}

QString firstLine(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
}
} // namespace

bool PortDetails::isEspressif() const
{
    return vendorId == espressifVendorId;
}

bool PortDetails::isUsbSerialJtag() const
{
    return isEspressif() && productId == usbSerialJtagProductId;
}

QString PortDetails::text() const
{
    // Drivers often repeat the maker at the start of the product text.
    QString name = description.trimmed();
    const QString maker = manufacturer.trimmed();
    if (!maker.isEmpty() && !name.startsWith(maker, Qt::CaseInsensitive))
        name = name.isEmpty() ? maker : maker + u' ' + name;
    if (vendorId && productId) {
        const QString ids = hex4(*vendorId) + u':' + hex4(*productId);
        name = name.isEmpty() ? ids : name + u" ("_s + ids + u')';
    }
    return name;
}

void useUsbStrings(PortDetails &details, const QString &ttyClassDirectory)
{
    // The tty's device is a USB interface (ttyACM) or a port below one (ttyUSB); the USB
    // device that holds the strings is a folder or two further up.
    const QString name = QFileInfo(details.systemLocation).fileName();
    QString folder = QFileInfo(ttyClassDirectory + u'/' + name + u"/device"_s).canonicalFilePath();
    for (int up = 0; up < 4 && !folder.isEmpty(); ++up, folder = QFileInfo(folder).path()) {
        const QString vendor = firstLine(folder + u"/idVendor"_s);
        if (vendor.isEmpty())
            continue;
        if (details.vendorId && vendor.toUShort(nullptr, 16) != *details.vendorId)
            return; // not the device Qt described
        if (const QString maker = firstLine(folder + u"/manufacturer"_s); !maker.isEmpty())
            details.manufacturer = maker;
        if (const QString product = firstLine(folder + u"/product"_s); !product.isEmpty())
            details.description = product;
        return;
    }
}

QList<PortDetails> systemPortDetails()
{
    QList<PortDetails> details;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        details.append({
            .systemLocation = info.systemLocation(),
            .manufacturer = info.manufacturer(),
            .description = info.description(),
            .vendorId = info.hasVendorIdentifier() ? std::optional(info.vendorIdentifier()) : std::nullopt,
            .productId = info.hasProductIdentifier() ? std::optional(info.productIdentifier()) : std::nullopt,
        });
#if defined(Q_OS_LINUX)
        useUsbStrings(details.last(), u"/sys/class/tty"_s);
#endif
    }
    return details;
}

QHash<QString, PortDetails> matchPortDetails(const QList<SerialPortInfo> &ports,
                                             const QList<PortDetails> &known)
{
    QHash<QString, PortDetails> byLocation;
    for (const PortDetails &details : known)
        byLocation.insert(details.systemLocation, details);
    QHash<QString, PortDetails> matched;
    for (const SerialPortInfo &port : ports) {
        auto found = byLocation.constFind(port.path);
        if (found == byLocation.cend())
            found = byLocation.constFind(QFileInfo(port.path).canonicalFilePath());
        if (found != byLocation.cend())
            matched.insert(port.path, *found);
    }
    return matched;
}
