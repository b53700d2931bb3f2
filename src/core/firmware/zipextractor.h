#pragma once

#include "error.h"

#include <QString>
#include <QStringList>
#include <QUrl>

/// The system's unzip ended with a non-zero status, and what it said.
class ZipExtractorError final : public Error
{
public:
    [[nodiscard]] static ZipExtractorError unzipFailed(int status, const QStringList &messages = {});
    [[nodiscard]] int status() const { return m_status; }
    /// unzip's own lines, in its words: the reason behind the status.
    [[nodiscard]] const QStringList &messages() const { return m_messages; }

private:
    ZipExtractorError(int status, const QStringList &messages, const QString &description)
        : Error(description), m_status(status), m_messages(messages)
    {
    }
    int m_status;
    QStringList m_messages;
};

/// Unpacks a zip archive by running the system's unzip and waiting for it.
class ZipExtractor final
{
public:
    /// Reads what `zip` declares, creates `destination` (with its parents) and unpacks `zip`
    /// into it. Blocks until unzip ends. Throws PackageLimitError before anything is made
    /// when the zip declares more than a package may hold, ZipExtractorError, or
    /// PlatformError when the folder cannot be made or unzip cannot be started.
    static void extract(const QUrl &zip, const QUrl &destination);

    /// The same with another unzip program; the product always runs the system's. Tests use
    /// it to see a program that cannot start or that ends by a signal.
    static void extract(const QUrl &zip, const QUrl &destination, const QString &unzipProgram);
};
