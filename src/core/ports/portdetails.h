#pragma once

#include "serialports.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

/// Espressif's USB vendor id, and the product id of the ESP32-S3's own USB port (USB-Serial/JTAG),
/// the same in download mode and while the firmware runs. packaging/70-olvex-updater.rules
/// names the same pair.
inline constexpr quint16 espressifVendorId = 0x303a;
inline constexpr quint16 usbSerialJtagProductId = 0x1001;

/// What the system knows of a serial device beyond its name: the USB maker, product and IDs.
struct PortDetails
{
    QString systemLocation; ///< the device path the system reports, e.g. /dev/ttyACM0
    QString manufacturer;
    QString description;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;

    /// Made by Espressif: the ESP32-S3's own USB port, or an Espressif board.
    [[nodiscard]] bool isEspressif() const;
    /// The ESP32-S3's own USB port, the one device the package's udev rule opens to the user.
    [[nodiscard]] bool isUsbSerialJtag() const;
    /// "Espressif USB JTAG/serial debug unit (303a:1001)"; empty when nothing is known.
    [[nodiscard]] QString text() const;

    bool operator==(const PortDetails &) const = default;
};

/// Where port details come from; tests give a fake one.
using PortDetailsSource = std::function<QList<PortDetails>()>;

/// Puts the USB device's own maker and product strings, found below `ttyClassDirectory`
/// (the kernel's /sys/class/tty), into `details`. Qt SerialPort reads udev's copies, in
/// which "/" and other characters have become "_" ("USB JTAG serial debug unit").
void useUsbStrings(PortDetails &details, const QString &ttyClassDirectory);

/// The serial devices as Qt SerialPort finds them, with the USB strings of the kernel.
[[nodiscard]] QList<PortDetails> systemPortDetails();

/// The details of each listed port, by its path: matched on the path itself or, for a link,
/// on the device it leads to. Ports the source does not know are left out.
[[nodiscard]] QHash<QString, PortDetails> matchPortDetails(const QList<SerialPortInfo> &ports,
                                                           const QList<PortDetails> &known);
