#pragma once

#include "error.h"

#include <QString>
#include <QStringList>

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

/// The quick checks made right before a device operation starts the tool on `port`: it is
/// still there, the user may open it, and no other program of the user holds it open
/// (seen through `processDirectory`, the kernel's /proc). Throws PortCheckError; returns
/// warnings that do not stop the operation (ModemManager may grab ttyACM ports).
[[nodiscard]] QStringList checkPort(const QString &port, const QString &processDirectory);
