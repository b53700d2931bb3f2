#include "packageinspection.h"

#include "sha256.h"

#include "ziplisting.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr quint32 partitionTableOffset = 0x8000;
constexpr quint32 bootApp0Offset = 0xE000;
constexpr quint32 applicationOffset = 0x10000;

ImageCheck::Role roleAt(quint32 offset)
{
    switch (offset) {
    case partitionTableOffset:
        return ImageCheck::Role::partitionTable;
    case bootApp0Offset:
        return ImageCheck::Role::bootApp0;
    case applicationOffset:
        return ImageCheck::Role::application;
    default:
        return ImageCheck::Role::bootloader;
    }
}

/// Where the image of `role` must end: where the next one starts. The application may fill
/// the largest flash when the package's table does not say less.
quint64 placeEnd(ImageCheck::Role role)
{
    switch (role) {
    case ImageCheck::Role::bootloader:
        return partitionTableOffset;
    case ImageCheck::Role::partitionTable:
        return bootApp0Offset;
    case ImageCheck::Role::bootApp0:
        return applicationOffset;
    case ImageCheck::Role::application:
        break;
    }
    return PackageLimits::largestFlash;
}

QByteArray contents(const FirmwareImage &image)
{
    // The size was checked against the image's place: no more can be worth reading.
    // QIODevice::read sizes its buffer by the limit asked, so ask for no more than the file
    // holds: each image would otherwise cost a 32 MiB allocation.
    QFile file(image.url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(std::min(file.size(), qint64(PackageLimits::largestFlash)));
}

[[noreturn]] void refuse(FirmwareCheckError::Kind kind, const QString &fileName, const QString &reason)
{
    throw FirmwareCheckError(kind, fileName + reason);
}

QString hex(quint64 value)
{
    return u"0x"_s + QString::number(value, 16).toUpper();
}

/// Whatever its content, an image that reaches into the next one's place is refused.
void refuseOutOfPlace(const FirmwareImage &image, ImageCheck::Role role)
{
    const quint64 end = placeEnd(role);
    if (quint64(image.offset) + image.size > end)
        refuse(FirmwareCheckError::Kind::tooLarge, image.fileName,
               u" yerine sığmıyor: dosya "_s + QString::number(image.size) + u" bayt, "_s +
                   hex(image.offset) + u" ile "_s + hex(end) + u" arasında "_s +
                   QString::number(end - image.offset) + u" bayt yer var."_s);
}

void refuseDamagedImage(const ImageCheck &check)
{
    using Verdict = EspImageInfo::Verdict;
    using Kind = FirmwareCheckError::Kind;
    switch (check.image.verdict) {
    case Verdict::truncated:
        refuse(Kind::damaged, check.fileName, u" bozuk: dosya eksik, sonu kesilmiş."_s);
    case Verdict::badHeader:
        refuse(Kind::damaged, check.fileName, u" bozuk: dosyanın başlığı geçersiz."_s);
    case Verdict::checksumMismatch:
        refuse(Kind::damaged, check.fileName, u" bozuk: sağlama toplamı tutmuyor."_s);
    case Verdict::hashMismatch:
        refuse(Kind::damaged, check.fileName, u" bozuk: SHA-256 özeti tutmuyor."_s);
    case Verdict::sound:
    case Verdict::notAnImage:
        break;
    }
    if (check.image.verdict == Verdict::sound && check.image.chipId != esp32s3ChipId)
        refuse(Kind::wrongChip, check.fileName,
               u": bu firmware "_s + chipName(check.image.chipId) + u" için derlenmiş; bu cihaz ESP32-S3."_s);
}

void refuseDamagedTable(const ImageCheck &check)
{
    using Verdict = PartitionTableInfo::Verdict;
    if (check.table.verdict == Verdict::damaged)
        refuse(FirmwareCheckError::Kind::damaged, check.fileName,
               u" bozuk: bölüm tablosunda geçersiz bir kayıt var."_s);
    if (check.table.verdict == Verdict::md5Mismatch)
        refuse(FirmwareCheckError::Kind::damaged, check.fileName,
               u" bozuk: bölüm tablosunun MD5 özeti tutmuyor."_s);
}

/// The leading numbers of a version: "v1.4.2-rc1" gives 1, 4, 2.
QList<int> versionNumbers(const QString &version)
{
    static const QRegularExpression leading(u"^[vV]?(\\d+(?:\\.\\d+)*)"_s);
    QList<int> numbers;
    const QRegularExpressionMatch match = leading.match(version.trimmed());
    if (match.hasMatch()) {
        for (const QString &part : match.captured(1).split(u'.'))
            numbers.append(part.toInt());
    }
    return numbers;
}
} // namespace

bool ImageCheck::recognised() const
{
    switch (role) {
    case Role::bootloader:
    case Role::application:
        return image.verdict != EspImageInfo::Verdict::notAnImage;
    case Role::partitionTable:
        return table.verdict != PartitionTableInfo::Verdict::notATable;
    case Role::bootApp0:
        return true; // a fixed data file, not an image: nothing to judge
    }
    return true;
}

const ImageCheck *PackageInspection::find(const QUuid &imageId) const
{
    const auto it = std::find_if(files.cbegin(), files.cend(),
                                 [&](const ImageCheck &check) { return check.imageId == imageId; });
    return it == files.cend() ? nullptr : &*it;
}

std::optional<AppDescriptor> PackageInspection::application() const
{
    for (const ImageCheck &check : files) {
        if (check.role == ImageCheck::Role::application && check.image.descriptor)
            return check.image.descriptor;
    }
    return std::nullopt;
}

PackageInspection inspectPackage(const QList<FirmwareImage> &images)
{
    PackageInspection inspection;
    for (const FirmwareImage &image : images)
        refuseOutOfPlace(image, roleAt(image.offset));
    for (const FirmwareImage &image : images) {
        ImageCheck check;
        check.imageId = image.id;
        check.fileName = image.fileName;
        check.role = roleAt(image.offset);
        check.fileSize = image.size;
        const QByteArray bytes = contents(image);
        if (check.role == ImageCheck::Role::partitionTable) {
            check.table = inspectPartitionTable(bytes);
            refuseDamagedTable(check);
        } else if (check.role != ImageCheck::Role::bootApp0) {
            check.image = inspectEspImage(bytes, &check.sha256);
            refuseDamagedImage(check);
        }
        if (check.sha256.isEmpty())
            check.sha256 = Sha256::of(bytes);
        inspection.files.append(check);
    }

    // The application's partition, from the package's own table.
    const auto isTable = [](const ImageCheck &check) {
        return check.role == ImageCheck::Role::partitionTable;
    };
    const auto table = std::find_if(inspection.files.cbegin(), inspection.files.cend(), isTable);
    const std::optional<PartitionEntry> partition =
        table == inspection.files.cend() ? std::nullopt : table->table.applicationAt(applicationOffset);
    if (!partition)
        return inspection;
    for (ImageCheck &check : inspection.files) {
        if (check.role != ImageCheck::Role::application)
            continue;
        check.partitionSize = partition->size;
        if (check.fileSize > partition->size)
            refuse(FirmwareCheckError::Kind::tooLarge, check.fileName,
                   u" bölümüne sığmıyor: uygulama "_s + QString::number(check.fileSize) +
                       u" bayt, 0x10000 adresindeki bölüm "_s + QString::number(partition->size) +
                       u" bayt."_s);
    }
    return inspection;
}

std::optional<quint16> chipRevisionFull(QStringView chipType)
{
    static const QRegularExpression revision(u"revision v(\\d+)\\.(\\d+)"_s);
    const QRegularExpressionMatch match = revision.match(chipType.toString());
    if (!match.hasMatch())
        return std::nullopt;
    return quint16(match.captured(1).toUInt() * 100 + match.captured(2).toUInt());
}

QString revisionText(quint16 revisionFull)
{
    return u"v"_s + QString::number(revisionFull / 100) + u'.' + QString::number(revisionFull % 100);
}

QString turkishDate(QDate date)
{
    return QLocale(QLocale::Turkish, QLocale::Turkey).toString(date, u"d MMMM yyyy"_s);
}

QString buildDateText(const AppDescriptor &application)
{
    const QDate date = application.buildDate();
    return date.isValid() ? turkishDate(date) : application.date.simplified();
}

QString applicationText(const AppDescriptor &application)
{
    QString text = application.projectName + u' ' + application.version;
    if (const QString date = buildDateText(application); !date.isEmpty())
        text += u" ("_s + date + u')';
    return text;
}

QString writtenFirmwareText(const WrittenFirmware &written)
{
    QString text = written.application.projectName + u' ' + written.application.version + u" yüklendi"_s;
    if (const std::optional<AppDescriptor> &previous = written.previous) {
        const bool sameName = previous->projectName == written.application.projectName;
        text += u" (önceki: "_s + (sameName ? QString() : previous->projectName + u' ') + previous->version +
                u')';
    }
    return text + u'.';
}

VersionOrder compareVersions(const QString &device, const QString &package)
{
    if (device == package)
        return VersionOrder::same;
    QList<int> a = versionNumbers(device);
    QList<int> b = versionNumbers(package);
    if (a.isEmpty() || b.isEmpty())
        return VersionOrder::unknown;
    const qsizetype length = std::max(a.size(), b.size());
    a.resize(length, 0);
    b.resize(length, 0);
    if (a == b)
        return VersionOrder::unknown; // the same numbers, told apart by something else
    return b < a ? VersionOrder::older : VersionOrder::newer;
}
