#pragma once

#include "error.h"
#include "portdetails.h"

#include <QString>
#include <QStringList>

#include <optional>

/// A port the tool could not use, found before it runs; the text says what to do, in Turkish.
class PortCheckError final : public Error
{
public:
    enum class Kind { gone, noPermission, inUse };

    PortCheckError(Kind kind, const QString &description) : Error(description), m_kind(kind) {}
    [[nodiscard]] Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

/// What the port list says when it is empty.
inline const QString noPortsFound = QStringLiteral("Port bulunamadı — programlama modunu deneyin.");

/// Why no serial port is listed, as far as this system tells, one text each: nothing seen at
/// all, a serial port group the user is not in (with the line that adds them), ModemManager
/// running (seen through `processDirectory`).
[[nodiscard]] QStringList noPortReasons(const QString &processDirectory);

/// The package's udev rule: it gives the user at the seat the ESP32-S3's own USB port and
/// keeps ModemManager away from it.
inline const QString udevRuleFileName = QStringLiteral("70-olvex-updater.rules");

/// The quick checks made right before a device operation starts the tool on `port`: it is
/// still there, the user may open it, and no other program of the user holds it open
/// (seen through `processDirectory`, the kernel's /proc). Throws PortCheckError; returns
/// warnings that do not stop the operation (ModemManager may grab ttyACM ports). Where the
/// package's rule is in `udevRuleDirectories` and `details` show the device it covers,
/// re-plugging comes first and ModemManager is no concern.
[[nodiscard]] QStringList checkPort(const QString &port, const QString &processDirectory,
                                    const QStringList &udevRuleDirectories = {},
                                    const std::optional<PortDetails> &details = std::nullopt);
