#pragma once

#include "error.h"

#include <QString>

#include <optional>

/// What a firmware package may hold, in one place. A package is the output of one Arduino
/// build, a few megabytes: the limits leave it room many times over and keep a zip bomb or
/// a wrong file from filling the private temporary folder (often memory) before we look.
namespace PackageLimits {
/// The largest flash an ESP32-S3 can have: no file of a package can be written if larger.
inline constexpr quint64 largestFlash = 32 * 1024 * 1024;
/// Everything a package unpacks to.
inline constexpr quint64 largestTotal = 256 * 1024 * 1024;
/// Files and folders a package holds.
inline constexpr quint64 mostEntries = 10'000;
} // namespace PackageLimits

/// What a zip declares in its central directory, read without unpacking anything.
struct ZipListing
{
    quint64 entries = 0;
    /// The unpacked sizes, as declared; left at 0 when there are more entries than a
    /// package may hold (they are not read).
    quint64 totalSize = 0;
    quint64 largestSize = 0;
    QString largestName;
};

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
