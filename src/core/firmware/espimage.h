#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>

#include <optional>

/// ESP-IDF's chip id of the ESP32-S3, the chip of every Olvex device.
inline constexpr quint16 esp32s3ChipId = 9;

/// Not an ESP-IDF chip id: what we record for an ESP8266 image, whose header names no chip.
inline constexpr quint16 esp8266ChipId = 0x8266;

/// The chip an image header names: "ESP32-S3", or "bilinmeyen çip (N)".
[[nodiscard]] QString chipName(quint16 chipId);

/// What an application says about itself: the descriptor ESP-IDF puts at the start of the
/// application's first segment.
struct AppDescriptor
{
    QString projectName;
    QString version;
    QString time; ///< "14:03:11"
    QString date; ///< "Nov  2 2026", the compiler's way
    QString idfVersion;

    /// `date` as a date; invalid when it does not read as one.
    [[nodiscard]] QDate buildDate() const;

    bool operator==(const AppDescriptor &) const = default;
};

/// The descriptor of an application image that starts with `image`, when there is one.
/// The first 0x100 bytes of an image are enough.
[[nodiscard]] std::optional<AppDescriptor> appDescriptor(QByteArrayView image);

/// What the header, segments, checksum and hash of an ESP image say.
struct EspImageInfo
{
    enum class Verdict {
        sound,
        notAnImage,       ///< no image magic: content we cannot judge
        truncated,        ///< the file ends before its segments, checksum or hash do
        badHeader,        ///< more segments than any image has
        checksumMismatch, ///< the checksum byte does not match the segment data
        hashMismatch,     ///< the appended SHA-256 does not match
    };

    Verdict verdict = Verdict::notAnImage;
    quint16 chipId = 0;
    quint16 minChipRevisionFull = 0; ///< major × 100 + minor
    quint16 maxChipRevisionFull = 0; ///< 0 or 0xFFFF: no upper limit
    std::optional<AppDescriptor> descriptor;

    /// Whether the chip at revision `revisionFull` (major × 100 + minor) is inside the
    /// image's limits.
    [[nodiscard]] bool acceptsRevision(quint16 revisionFull) const;

    bool operator==(const EspImageInfo &) const = default;
};

/// Reads an ESP image: header, segment lengths, checksum and, when appended, the SHA-256.
/// Where it hashes the image, it also gives the whole file's SHA-256 in `fileSha256`.
[[nodiscard]] EspImageInfo inspectEspImage(QByteArrayView data, QByteArray *fileSha256 = nullptr);

/// One entry of a partition table.
struct PartitionEntry
{
    quint8 type = 0; ///< 0 application, 1 data
    quint8 subtype = 0;
    quint32 offset = 0;
    quint32 size = 0;
    QString label;

    bool operator==(const PartitionEntry &) const = default;
};

/// What a partition table holds, and whether its MD5 entry matches.
struct PartitionTableInfo
{
    enum class Verdict {
        sound,
        notATable,   ///< no entry magic at its start: content we cannot judge
        damaged,     ///< an entry that is neither a partition, the MD5 entry nor the end
        md5Mismatch, ///< the MD5 entry does not match the entries before it
    };

    Verdict verdict = Verdict::notATable;
    QList<PartitionEntry> entries;

    /// The application partition that starts at `offset`.
    [[nodiscard]] std::optional<PartitionEntry> applicationAt(quint32 offset) const;

    bool operator==(const PartitionTableInfo &) const = default;
};

[[nodiscard]] PartitionTableInfo inspectPartitionTable(QByteArrayView data);
