#pragma once

#include "error.h"
#include "espimage.h"
#include "firmwarepackage.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

/// What one file of a loaded package turned out to be.
struct ImageCheck
{
    using Role = ImageRole;

    QUuid imageId; ///< the FirmwareImage it belongs to
    QString fileName;
    Role role = Role::bootloader;
    quint32 fileSize = 0;
    EspImageInfo image;       ///< bootloader and application
    PartitionTableInfo table; ///< partition table
    /// Application: the size of the partition it goes into, from the package's own table.
    std::optional<quint32> partitionSize;
    /// The whole file's SHA-256, from the one read of it.
    QByteArray sha256;

    /// False for content we could not judge (no image, no table): worth a warning, no more.
    [[nodiscard]] bool recognised() const;

    bool operator==(const ImageCheck &) const = default;
};

/// What the files of a package are, in the order of the package's images.
struct PackageInspection
{
    QList<ImageCheck> files;
    /// The id of the trusted key that signed the package; none when it is unsigned.
    std::optional<QString> signingKeyId;

    [[nodiscard]] const ImageCheck *find(const QUuid &imageId) const;
    /// The application's descriptor, when it has one.
    [[nodiscard]] std::optional<AppDescriptor> application() const;

    bool operator==(const PackageInspection &) const = default;
};

/// What the device runs, read from the start of its application partition: no application
/// when the area is empty or holds nothing we recognise.
struct RunningFirmware
{
    std::optional<AppDescriptor> application;

    bool operator==(const RunningFirmware &) const = default;
};

/// The application a write put on the device (the tool verified every byte of it), and the
/// version that ran before when it was read.
struct WrittenFirmware
{
    AppDescriptor application;
    std::optional<AppDescriptor> previous;

    bool operator==(const WrittenFirmware &) const = default;
};

/// "olvex_fw 1.4.2 yüklendi (önceki: 1.3.0)."
[[nodiscard]] QString writtenFirmwareText(const WrittenFirmware &written);

/// A package whose content would harm the device: built for another chip, damaged, or an
/// application too large for its partition. The description names the file and the reason.
class FirmwareCheckError final : public Error
{
public:
    enum class Kind { wrongChip, damaged, tooLarge };

    FirmwareCheckError(Kind kind, const QString &description) : Error(description), m_kind(kind) {}
    [[nodiscard]] Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

/// Reads each image of a package once: headers, checksums, hashes, the descriptor and the
/// partition table. Throws FirmwareCheckError on evidence of harm.
[[nodiscard]] PackageInspection inspectPackage(const QList<FirmwareImage> &images);

/// The chip revision in the chip query's chip type ("ESP32-S3 (QFN56) (revision v0.2)"),
/// as major × 100 + minor.
[[nodiscard]] std::optional<quint16> chipRevisionFull(QStringView chipType);
/// "v0.2"
[[nodiscard]] QString revisionText(quint16 revisionFull);

/// "2 Kasım 2026"
[[nodiscard]] QString turkishDate(QDate date);
/// The descriptor's build date in Turkish, else the date as the build wrote it.
[[nodiscard]] QString buildDateText(const AppDescriptor &application);
/// "olvex_fw 1.3.0 (12 Ekim 2026)"
[[nodiscard]] QString applicationText(const AppDescriptor &application);

/// How the package's version stands to the device's.
enum class VersionOrder { older, same, newer, unknown };
[[nodiscard]] VersionOrder compareVersions(const QString &device, const QString &package);
