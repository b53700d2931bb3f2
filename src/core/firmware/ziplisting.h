#pragma once

#include "error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

/// What a firmware package may hold, in one place. Only the files the updater uses are
/// unpacked, each no larger than the place it goes to, so that a zip bomb or a wrong file
/// cannot fill the private temporary folder (often memory).
namespace PackageLimits {
/// The largest flash an ESP32-S3 can have: no file of a package can be written if larger.
inline constexpr quint64 largestFlash = 32 * 1024 * 1024;
/// From 0x10000 to the end of a 16 MiB flash, the largest an Arduino build makes.
inline constexpr quint64 largestApplication = 16 * 1024 * 1024 - 0x10000;
/// Up to the partition table at 0x8000.
inline constexpr quint64 largestBootloader = 0x8000;
/// The table's own area.
inline constexpr quint64 largestPartitionTable = 0xC00;
/// otadata's area at 0xE000.
inline constexpr quint64 largestBootApp0 = 0x2000;
/// The manifest and its signature: four entries fit in a few hundred bytes. The bootloader's
/// limit, so that one run of unzip unpacks them with it.
inline constexpr quint64 largestManifest = largestBootloader;
/// All the used files together may take at most their limits up to this: room for two
/// applications (a zip of two builds), never more.
inline constexpr quint64 largestUnpacked = 40 * 1024 * 1024;
/// Files and folders a package holds.
inline constexpr quint64 mostEntries = 10'000;
} // namespace PackageLimits

/// One entry of a zip's central directory: its name as stored and its unpacked size, as
/// declared.
struct ZipListingEntry
{
    QByteArray name;
    quint64 size = 0;

    bool operator==(const ZipListingEntry &) const = default;
};

/// What a zip declares in its central directory, read without unpacking anything.
struct ZipListing
{
    quint64 entries = 0;
    /// Left empty when there are more entries than a package may hold (they are not read).
    QList<ZipListingEntry> files;
};

/// An entry the updater unpacks and the most it may hold on disk.
struct UsedEntry
{
    ZipListingEntry entry;
    quint64 limit = 0;
};

/// The entries a load can use: build files discovery would consider (outside hidden
/// folders), boot_app0.bin, and the manifest and its signature at the top.
[[nodiscard]] QList<UsedEntry> usedEntries(const ZipListing &listing);

/// The listing of the zip at `path`, ZIP64 included; nothing when the file has no central
/// directory we can read (not a zip, or damaged), which unzip then reports in its words.
[[nodiscard]] std::optional<ZipListing> readZipListing(const QString &path);

/// A package that declares more than PackageLimits allow; nothing of it was unpacked.
class PackageLimitError final : public Error
{
public:
    using Error::Error;
};

/// Throws PackageLimitError when `listing` goes past a limit.
void checkPackageLimits(const ZipListing &listing);
