#pragma once

#include "error.h"

#include <QString>
#include <QUrl>

/// The system's unzip ended with a non-zero status.
class ZipExtractorError final : public Error
{
public:
    [[nodiscard]] static ZipExtractorError unzipFailed(int status);
    [[nodiscard]] int status() const { return m_status; }

private:
    ZipExtractorError(int status, const QString &description) : Error(description), m_status(status) {}
    int m_status;
};

/// Unpacks a zip archive by running the system's unzip and waiting for it.
class ZipExtractor final
{
public:
    /// Creates `destination` (with its parents) and unpacks `zip` into it. Blocks until
    /// unzip ends. Throws ZipExtractorError, or PlatformError when the folder cannot be
    /// made or unzip cannot be started.
    static void extract(const QUrl &zip, const QUrl &destination);

    /// The same with another unzip program; the product always runs the system's. Tests use
    /// it to see a program that cannot start or that ends by a signal.
    static void extract(const QUrl &zip, const QUrl &destination, const QString &unzipProgram);
};
