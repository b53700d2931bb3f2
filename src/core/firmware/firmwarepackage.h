#pragma once

#include "error.h"
#include "platformpaths.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

/// The four images of an Arduino build, in the order of their flash offsets.
enum class ImageRole { bootloader, partitionTable, bootApp0, application };

/// One image to write: a file and the flash address it goes to.
struct FirmwareImage
{
    QUuid id;
    QUrl url;
    QString fileName;
    quint32 offset = 0;
    quint32 size = 0;

    FirmwareImage() = default;
    /// A new identity; the size is read from the file now (0 when it cannot be read).
    FirmwareImage(const QUrl &url, quint32 offset);

    bool operator==(const FirmwareImage &) const = default;
};

/// A package that lacks a build file, or holds one the user cannot read.
class FirmwareImageError final : public Error
{
public:
    enum class Kind { unreadable, missingFile };

    [[nodiscard]] static FirmwareImageError unreadable(const QString &fileName);
    [[nodiscard]] static FirmwareImageError missingFile(const QString &what);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] const QString &payload() const { return m_payload; }

private:
    FirmwareImageError(Kind kind, const QString &payload, const QString &description)
        : Error(description), m_kind(kind), m_payload(payload)
    {
    }
    Kind m_kind;
    QString m_payload;
};

/// Every regular file below `directory`, depth first, hidden entries and symbolic links
/// left out. Never fails: what cannot be read is passed over.
[[nodiscard]] QList<QUrl> regularFiles(const QUrl &directory);

/// Bootloader, partition table, boot_app0.bin and application of an Arduino build,
/// sorted by flash offset. Throws FirmwareImageError.
[[nodiscard]] QList<FirmwareImage> arduinoImages(const QList<QUrl> &files, const QUrl &extractedDirectory,
                                                 const PlatformPaths &paths);

/// Where boot_app0.bin comes from: the package, the folder that holds the extraction folder,
/// the bundled resources, then the installed Arduino core. Throws FirmwareImageError.
[[nodiscard]] QUrl findBootApp0(const QList<QUrl> &files, const QUrl &extractedDirectory,
                                const PlatformPaths &paths);
[[nodiscard]] std::optional<QUrl> bundledBootApp0(const PlatformPaths &paths);
[[nodiscard]] std::optional<QUrl> arduinoCoreBootApp0(const PlatformPaths &paths);

/// What a file of an Arduino build is, by its name ("*.bootloader.bin", "*.partitions.bin",
/// "boot_app0.bin", "*.ino.bin" in any case and not merged), or nothing. Discovery picks
/// files by it and flashOffset places them by it.
[[nodiscard]] std::optional<ImageRole> buildFileRole(const QString &fileName);

/// Whether discovery could pick a file of this name as one of the four images.
[[nodiscard]] bool isBuildFileName(const QString &fileName);

/// The flash address of the build file's role; 0x0 for a file that has none.
[[nodiscard]] quint32 flashOffset(const QString &fileName);

/// Records for `files`, in ascending offset (stable). Throws FirmwareImageError::unreadable.
[[nodiscard]] QList<FirmwareImage> makeImages(const QList<QUrl> &files);
