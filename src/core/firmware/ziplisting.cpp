#include "ziplisting.h"

#include "firmwarepackage.h"
#include "packagesignature.h"

#include <QFile>
#include <QLocale>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {
// Records of the zip format (APPNOTE.TXT), all little-endian.
constexpr quint32 endSignature = 0x06054b50;
constexpr qint64 endSize = 22;
constexpr qint64 longestComment = 0xFFFF;
constexpr quint32 zip64LocatorSignature = 0x07064b50;
constexpr qint64 zip64LocatorSize = 20;
constexpr quint32 zip64EndSignature = 0x06064b50;
constexpr qint64 zip64EndSize = 56;
constexpr quint32 entrySignature = 0x02014b50;
constexpr qint64 entrySize = 46;
constexpr quint16 zip64ExtraId = 0x0001;
constexpr quint32 in64 = 0xFFFFFFFF; // the 32-bit field's value is in the ZIP64 record

quint64 le(QByteArrayView data, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | quint8(data[at + i]);
    return value;
}

QByteArray readAt(QFile &file, qint64 at, qint64 size)
{
    if (at < 0 || !file.seek(at))
        return {};
    return file.read(size);
}

/// Where the central directory starts and how many entries it declares, from the end
/// records; nothing when they cannot be found.
struct Directory
{
    qint64 start = 0;
    qint64 size = 0;
    quint64 entries = 0;
};

std::optional<Directory> findDirectory(QFile &file)
{
    const qint64 fileSize = file.size();
    const qint64 tailStart = std::max<qint64>(0, fileSize - endSize - longestComment);
    const QByteArray tail = readAt(file, tailStart, fileSize - tailStart);
    // The last end record whose comment reaches the end of the file, as unzip finds it.
    qsizetype at = tail.size() - endSize;
    for (; at >= 0; --at) {
        if (le(tail, at, 4) == endSignature && at + endSize + qsizetype(le(tail, at + 20, 2)) == tail.size())
            break;
    }
    if (at < 0)
        return std::nullopt;
    const qint64 endAt = tailStart + at;
    Directory directory{.start = qint64(le(tail, at + 16, 4)),
                        .size = qint64(le(tail, at + 12, 4)),
                        .entries = le(tail, at + 10, 2)};
    qint64 directoryEnd = endAt;
    const QByteArray locator = readAt(file, endAt - zip64LocatorSize, zip64LocatorSize);
    if (locator.size() == zip64LocatorSize && le(locator, 0, 4) == zip64LocatorSignature) {
        // The ZIP64 end record lies right before its locator, unless bytes were put before
        // the archive and the locator's offset misses it by as many.
        qint64 zip64EndAt = endAt - zip64LocatorSize - zip64EndSize;
        QByteArray end64 = readAt(file, zip64EndAt, zip64EndSize);
        if (end64.size() != zip64EndSize || le(end64, 0, 4) != zip64EndSignature) {
            zip64EndAt = qint64(std::min<quint64>(le(locator, 8, 8), quint64(fileSize)));
            end64 = readAt(file, zip64EndAt, zip64EndSize);
        }
        if (end64.size() != zip64EndSize || le(end64, 0, 4) != zip64EndSignature)
            return std::nullopt;
        directory = {.start = qint64(std::min<quint64>(le(end64, 48, 8), quint64(fileSize))),
                     .size = qint64(std::min<quint64>(le(end64, 40, 8), quint64(fileSize))),
                     .entries = le(end64, 32, 8)};
        directoryEnd = zip64EndAt;
    }
    // Bytes put before the archive (a self-extracting stub) move every offset alike.
    directory.start += directoryEnd - (directory.start + directory.size);
    if (directory.start < 0 || directory.size < 0)
        return std::nullopt;
    return directory;
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

/// "1,5 GB", in the window's language.
QString sizeText(quint64 bytes)
{
    return QLocale(QLocale::Turkish, QLocale::Turkey)
        .formattedDataSize(qint64(std::min<quint64>(bytes, std::numeric_limits<qint64>::max())), 1,
                           QLocale::DataSizeTraditionalFormat);
}
} // namespace

std::optional<ZipListing> readZipListing(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<Directory> directory = findDirectory(file);
    if (!directory)
        return std::nullopt;
    ZipListing listing;
    listing.entries = directory->entries;
    if (listing.entries > PackageLimits::mostEntries)
        return listing;
    if (!file.seek(directory->start))
        return std::nullopt;
    for (quint64 i = 0; i < listing.entries; ++i) {
        const QByteArray header = file.read(entrySize);
        if (header.size() != entrySize || le(header, 0, 4) != entrySignature)
            return std::nullopt;
        const qint64 nameSize = qint64(le(header, 28, 2));
        const qint64 extraSize = qint64(le(header, 30, 2));
        const QByteArray rest = file.read(nameSize + extraSize + qint64(le(header, 32, 2)));
        if (rest.size() < nameSize + extraSize)
            return std::nullopt;
        quint64 size = le(header, 24, 4);
        if (size == in64) {
            // The ZIP64 extra field holds the unpacked size first.
            for (qsizetype at = nameSize; at + 4 <= nameSize + extraSize;) {
                const qsizetype fieldSize = qsizetype(le(rest, at + 2, 2));
                if (le(rest, at, 2) == zip64ExtraId && fieldSize >= 8 && at + 4 + 8 <= nameSize + extraSize) {
                    size = le(rest, at + 4, 8);
                    break;
                }
                at += 4 + fieldSize;
            }
        }
        listing.files.append({rest.first(nameSize), size});
    }
    return listing;
}

namespace {
quint64 roleLimit(ImageRole role)
{
    switch (role) {
    case ImageRole::bootloader:
        return PackageLimits::largestBootloader;
    case ImageRole::partitionTable:
        return PackageLimits::largestPartitionTable;
    case ImageRole::bootApp0:
        return PackageLimits::largestBootApp0;
    case ImageRole::application:
        break;
    }
    return PackageLimits::largestApplication;
}
} // namespace

QList<UsedEntry> usedEntries(const ZipListing &listing)
{
    using namespace PackageLimits;
    QList<UsedEntry> used;
    for (const ZipListingEntry &entry : listing.files) {
        // Discovery passes over hidden files and folders; the manifest is read at the top.
        const QList<QByteArray> parts = entry.name.split('/');
        if (entry.name.isEmpty() || entry.name.endsWith('/') ||
            std::any_of(parts.cbegin(), parts.cend(),
                        [](const QByteArray &part) { return part.startsWith('.'); }))
            continue;
        const QString name = QString::fromUtf8(parts.last());
        std::optional<quint64> limit;
        if (parts.size() == 1 && (name == manifestFileName || name == signatureFileName))
            limit = largestManifest;
        if (const std::optional<ImageRole> role = buildFileRole(name))
            limit = roleLimit(*role);
        if (limit)
            used.append({entry, *limit});
    }
    return used;
}

namespace {
[[noreturn]] void refuseSize(const QByteArray &name, const QString &found, quint64 limit)
{
    throw PackageLimitError(u"Zip açılmadı: «"_s + QString::fromUtf8(name) + u"» açıldığında "_s + found +
                            u"; bu dosya en çok "_s + sizeText(limit) + u" olabilir."_s);
}
} // namespace

void checkPackageLimits(const ZipListing &listing)
{
    using namespace PackageLimits;
    if (listing.entries > mostEntries)
        throw PackageLimitError(u"Zip açılmadı: içinde "_s + QString::number(listing.entries) +
                                u" dosya var; bir firmware paketinde en çok "_s +
                                QString::number(mostEntries) + u" dosya olabilir."_s);
    // Each used file within its own limit, and the limits together within what a load may
    // write: a listing can lie, and then each file may grow to its limit.
    quint64 total = 0;
    for (const UsedEntry &used : usedEntries(listing)) {
        if (used.entry.size > used.limit)
            refuseSize(used.entry.name, sizeText(used.entry.size) + u" tutuyor"_s, used.limit);
        total = saturatingAdd(total, used.limit);
    }
    if (total > largestUnpacked)
        throw PackageLimitError(u"Zip açılmadı: içindeki firmware dosyaları açıldığında "_s +
                                sizeText(total) + u" tutabilir; bir firmware paketi en çok "_s +
                                sizeText(largestUnpacked) + u" olabilir."_s);
}
