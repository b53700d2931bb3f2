#include "espimage.h"

#include "sha256.h"

#include <QCryptographicHash>
#include <QLocale>

#include <array>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
// The image header of ESP-IDF: 24 bytes, then the segments, each an 8-byte header
// (load address, length) and its data.
constexpr quint8 imageMagic = 0xE9;
constexpr qsizetype headerSize = 24;
constexpr qsizetype esp8266HeaderSize = 8;
constexpr qsizetype segmentHeaderSize = 8;
constexpr qsizetype maxSegments = 16;
constexpr quint8 checksumSeed = 0xEF;
constexpr qsizetype sha256Size = 32;

// The application descriptor, at the start of the first segment's data.
constexpr qsizetype descriptorOffset = headerSize + segmentHeaderSize;
constexpr quint32 descriptorMagic = 0xABCD5432;
constexpr qsizetype descriptorSize = 144; // as far as the fields we read

// Partition table entries: 32 bytes each.
constexpr qsizetype entrySize = 32;
constexpr qsizetype md5Size = 16;
constexpr quint8 applicationType = 0;

quint16 u16At(QByteArrayView data, qsizetype at)
{
    return quint16(quint8(data[at]) | quint8(data[at + 1]) << 8);
}

quint32 u32At(QByteArrayView data, qsizetype at)
{
    return quint32(u16At(data, at)) | quint32(u16At(data, at + 2)) << 16;
}

/// A NUL-padded text field.
QString textAt(QByteArrayView data, qsizetype at, qsizetype size)
{
    const QByteArrayView field = data.sliced(at, size);
    const qsizetype end = field.indexOf('\0');
    return QString::fromUtf8(end < 0 ? field : field.first(end));
}

/// 0xEF XOR-ed with every byte of `data`, eight at a time.
quint8 checksum(QByteArrayView data)
{
    quint64 wide = 0;
    qsizetype i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, data.data() + i, sizeof word);
        wide ^= word;
    }
    quint8 sum = checksumSeed;
    for (int shift = 0; shift < 64; shift += 8)
        sum ^= quint8(wide >> shift);
    for (; i < data.size(); ++i)
        sum ^= quint8(data[i]);
    return sum;
}

/// Whether `address` is where an ESP8266 loads a segment: its data or instruction RAM, or
/// its mapped flash.
bool esp8266Address(quint32 address)
{
    return (address >= 0x3FFE8000 && address < 0x40110000) || (address >= 0x40200000 && address < 0x40300000);
}

/// The segments from `at` on, the checksum after them and the hash when one is appended.
/// With `esp8266`, every segment must load where an ESP8266 has memory.
EspImageInfo::Verdict judgeSegments(QByteArrayView data, qsizetype at, bool hashAppended, bool esp8266,
                                    QByteArray *fileSha256 = nullptr)
{
    using Verdict = EspImageInfo::Verdict;
    const qsizetype segments = quint8(data[1]);
    if (segments > maxSegments)
        return Verdict::badHeader;
    quint8 sum = checksumSeed;
    for (qsizetype i = 0; i < segments; ++i) {
        if (data.size() - at < segmentHeaderSize)
            return Verdict::truncated;
        if (esp8266 && !esp8266Address(u32At(data, at)))
            return Verdict::badHeader;
        const quint32 length = u32At(data, at + 4);
        at += segmentHeaderSize;
        if (quint64(data.size() - at) < length)
            return Verdict::truncated;
        sum ^= checksum(data.sliced(at, length)) ^ checksumSeed;
        at += length;
    }
    // The checksum is the last byte of the padding to a 16-byte boundary.
    const qsizetype checksumAt = at + (15 - at % 16);
    if (data.size() < checksumAt + 1 + (hashAppended ? sha256Size : 0))
        return Verdict::truncated;
    if (quint8(data[checksumAt]) != sum)
        return Verdict::checksumMismatch;
    if (!hashAppended)
        return Verdict::sound;
    // One pass gives the image's own hash and, going on to the end, the whole file's.
    Sha256 hash;
    hash.add(data.first(checksumAt + 1));
    const bool matches = hash.result() == data.sliced(checksumAt + 1, sha256Size);
    if (fileSha256) {
        hash.add(data.sliced(checksumAt + 1));
        *fileSha256 = hash.result();
    }
    return matches ? Verdict::sound : Verdict::hashMismatch;
}
} // namespace

QString chipName(quint16 chipId)
{
    // ESP-IDF's esp_chip_id_t.
    static constexpr std::array<std::pair<quint16, const char16_t *>, 13> names{{
        {0, u"ESP32"},
        {2, u"ESP32-S2"},
        {5, u"ESP32-C3"},
        {9, u"ESP32-S3"},
        {12, u"ESP32-C2"},
        {13, u"ESP32-C6"},
        {16, u"ESP32-H2"},
        {18, u"ESP32-P4"},
        {20, u"ESP32-C61"},
        {23, u"ESP32-C5"},
        {25, u"ESP32-H21"},
        {28, u"ESP32-H4"},
        {esp8266ChipId, u"ESP8266"},
    }};
    for (const auto &[id, name] : names) {
        if (id == chipId)
            return QString::fromUtf16(name);
    }
    return u"bilinmeyen çip ("_s + QString::number(chipId) + u')';
}

QDate AppDescriptor::buildDate() const
{
    // "Nov  2 2026": a blank pads a day of one digit.
    return QLocale::c().toDate(date.simplified(), u"MMM d yyyy"_s);
}

std::optional<AppDescriptor> appDescriptor(QByteArrayView image)
{
    if (image.size() < descriptorOffset + descriptorSize || quint8(image[0]) != imageMagic ||
        u32At(image, descriptorOffset) != descriptorMagic)
        return std::nullopt;
    const QByteArrayView d = image.sliced(descriptorOffset);
    return AppDescriptor{
        .projectName = textAt(d, 48, 32),
        .version = textAt(d, 16, 32),
        .time = textAt(d, 80, 16),
        .date = textAt(d, 96, 16),
        .idfVersion = textAt(d, 112, 32),
    };
}

bool EspImageInfo::acceptsRevision(quint16 revisionFull) const
{
    const bool upperLimit = maxChipRevisionFull != 0 && maxChipRevisionFull != 0xFFFF;
    return revisionFull >= minChipRevisionFull && (!upperLimit || revisionFull <= maxChipRevisionFull);
}

EspImageInfo inspectEspImage(QByteArrayView data, QByteArray *fileSha256)
{
    using Verdict = EspImageInfo::Verdict;
    EspImageInfo info;
    if (data.isEmpty() || quint8(data[0]) != imageMagic)
        return info;
    if (data.size() < headerSize) {
        info.verdict = Verdict::truncated;
        return info;
    }
    info.chipId = u16At(data, 12);
    info.minChipRevisionFull = u16At(data, 15);
    info.maxChipRevisionFull = u16At(data, 17);
    info.verdict = judgeSegments(data, headerSize, quint8(data[23]) == 1, false, fileSha256);
    // An ESP8266 image has the same magic and an 8-byte header without a chip id: its first
    // segment starts where the extended header of the others does.
    if (info.verdict != Verdict::sound &&
        judgeSegments(data, esp8266HeaderSize, false, true) == Verdict::sound) {
        info = EspImageInfo();
        info.verdict = Verdict::sound;
        info.chipId = esp8266ChipId;
        return info;
    }
    if (info.verdict != Verdict::truncated && info.verdict != Verdict::badHeader)
        info.descriptor = appDescriptor(data);
    return info;
}

std::optional<PartitionEntry> PartitionTableInfo::applicationAt(quint32 offset) const
{
    for (const PartitionEntry &entry : entries) {
        if (entry.type == applicationType && entry.offset == offset)
            return entry;
    }
    return std::nullopt;
}

PartitionTableInfo inspectPartitionTable(QByteArrayView data)
{
    PartitionTableInfo info;
    const auto startsWith = [&](qsizetype at, quint8 a, quint8 b) {
        return quint8(data[at]) == a && quint8(data[at + 1]) == b;
    };
    if (data.size() < entrySize || !startsWith(0, 0xAA, 0x50))
        return info;
    info.verdict = PartitionTableInfo::Verdict::sound;
    for (qsizetype at = 0; at + entrySize <= data.size(); at += entrySize) {
        if (startsWith(at, 0xFF, 0xFF))
            break; // the end of the table
        if (startsWith(at, 0xEB, 0xEB)) {
            // The MD5 of every entry before it, in its last 16 bytes.
            if (QCryptographicHash::hash(data.first(at), QCryptographicHash::Md5) !=
                data.sliced(at + entrySize - md5Size, md5Size))
                info.verdict = PartitionTableInfo::Verdict::md5Mismatch;
            continue;
        }
        if (!startsWith(at, 0xAA, 0x50)) {
            info.verdict = PartitionTableInfo::Verdict::damaged;
            break;
        }
        info.entries.append(PartitionEntry{
            .type = quint8(data[at + 2]),
            .subtype = quint8(data[at + 3]),
            .offset = u32At(data, at + 4),
            .size = u32At(data, at + 8),
            .label = textAt(data, at + 12, 16),
        });
    }
    return info;
}
