#include "firmwarepackage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileInfoList>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace Names {
const auto bootloaderSuffix = u".bootloader.bin"_s;
const auto partitionsSuffix = u".partitions.bin"_s;
const auto applicationSuffix = u".ino.bin"_s;
const auto merged = u".merged.bin"_s;
const auto bootApp0 = u"boot_app0.bin"_s;
const auto thirdParty = u"ThirdParty"_s;
const auto arduinoCores = u"/packages/esp32/hardware/esp32"_s;
const auto coreBootApp0 = u"/tools/partitions/boot_app0.bin"_s;
} // namespace Names

namespace Missing {
const auto bootloader = u"*.bootloader.bin"_s;
const auto partitions = u"*.partitions.bin"_s;
const auto application = u"*.ino.bin (not merged)"_s;
} // namespace Missing

namespace {
constexpr quint32 bootloaderOffset = 0x0;
constexpr quint32 partitionsOffset = 0x8000;
constexpr quint32 bootApp0Offset = 0xE000;
constexpr quint32 applicationOffset = 0x10000;

// Links are left out; hidden names too (those that begin with "." and, where the platform
// has one, the hidden flag).
constexpr QDir::Filters walkFilters = QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks;

// Every entry directly inside `folder`, hidden ones included, in the order the file system
// gives them. Empty when the folder cannot be listed.
QStringList allEntryNames(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Unsorted);
}

std::optional<QUrl> firstOfRole(const QList<QUrl> &files, ImageRole role)
{
    for (const QUrl &file : files) {
        if (buildFileRole(file.fileName()) == role)
            return file;
    }
    return std::nullopt;
}
} // namespace

FirmwareImage::FirmwareImage(const QUrl &url, quint32 offset)
    : id(QUuid::createUuid()), url(url), fileName(url.fileName()), offset(offset)
{
    // A missing or unreachable file reads as size 0. The size shown is that of the file
    // that gets written, so a symbolic link is followed. 32 bits cannot hold 4 GiB or more:
    // such a file (never a real image; the flash is far smaller) records the largest value
    // rather than a wrapped-around small one.
    const qint64 bytes = QFileInfo(url.toLocalFile()).size();
    size = quint32(std::clamp<qint64>(bytes, 0, std::numeric_limits<quint32>::max()));
}

FirmwareImageError FirmwareImageError::unreadable(const QString &fileName)
{
    return {Kind::unreadable, fileName, u"Cannot read firmware file: "_s + fileName};
}

FirmwareImageError FirmwareImageError::missingFile(const QString &what)
{
    return {Kind::missingFile, what, u"Missing Arduino build file: "_s + what};
}

QList<QUrl> regularFiles(const QUrl &directory)
{
    // Depth first with an explicit stack of fully read listings: no recursion and no open
    // folder handles, however deep the archive goes.
    struct Listing
    {
        QFileInfoList entries;
        qsizetype next = 0;
    };
    const auto list = [](const QString &folder) {
        return Listing{QDir(folder).entryInfoList(walkFilters, QDir::Unsorted)};
    };

    QList<QUrl> files;
    std::vector<Listing> stack;
    stack.push_back(list(directory.toLocalFile()));
    while (!stack.empty()) {
        Listing &top = stack.back();
        if (top.next == top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const QFileInfo entry = top.entries.at(top.next++);
        // The filter already drops links; asking again costs nothing (the type comes with
        // the listing) and keeps a link from ever being entered or listed.
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            stack.push_back(list(entry.filePath())); // `top` is not used past this point
        else if (entry.isFile())
            files.append(QUrl::fromLocalFile(entry.filePath()));
    }
    return files;
}

QList<FirmwareImage> arduinoImages(const QList<QUrl> &files, const QUrl &extractedDirectory,
                                   const PlatformPaths &paths)
{
    const std::optional<QUrl> bootloader = firstOfRole(files, ImageRole::bootloader);
    if (!bootloader)
        throw FirmwareImageError::missingFile(Missing::bootloader);
    const std::optional<QUrl> partitions = firstOfRole(files, ImageRole::partitionTable);
    if (!partitions)
        throw FirmwareImageError::missingFile(Missing::partitions);
    const std::optional<QUrl> application = firstOfRole(files, ImageRole::application);
    if (!application)
        throw FirmwareImageError::missingFile(Missing::application);
    const QUrl bootApp0 = findBootApp0(files, extractedDirectory, paths);
    return makeImages({*bootloader, *partitions, bootApp0, *application});
}

QUrl findBootApp0(const QList<QUrl> &files, const QUrl &extractedDirectory, const PlatformPaths &paths)
{
    // In the package. Its readability is left to makeImages, which reports it by name.
    if (const std::optional<QUrl> inPackage = firstOfRole(files, ImageRole::bootApp0))
        return *inPackage;

    // Beside the extraction folder: the owner-only temporary folder, where no other user
    // can place a file.
    const QString parent = QFileInfo(QDir::cleanPath(extractedDirectory.toLocalFile())).path();
    if (allEntryNames(parent).contains(Names::bootApp0))
        return QUrl::fromLocalFile(parent + u'/' + Names::bootApp0);

    if (const std::optional<QUrl> bundled = bundledBootApp0(paths))
        return *bundled;
    if (const std::optional<QUrl> core = arduinoCoreBootApp0(paths))
        return *core;
    throw FirmwareImageError::missingFile(Names::bootApp0);
}

std::optional<QUrl> bundledBootApp0(const PlatformPaths &paths)
{
    const QString candidates[] = {
        paths.resourceDirectory + u'/' + Names::bootApp0,
        paths.resourceDirectory + u'/' + Names::thirdParty + u'/' + Names::bootApp0,
    };
    for (const QString &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.exists() && info.isReadable())
            return QUrl::fromLocalFile(candidate);
    }
    return std::nullopt;
}

std::optional<QUrl> arduinoCoreBootApp0(const PlatformPaths &paths)
{
    const QString cores = paths.arduinoDataDirectory() + Names::arduinoCores;
    // By name, descending, byte by byte: "3.0.7" comes before "3.0.10". This is not version
    // order, and it is the order the installed cores are tried in.
    std::vector<std::pair<QByteArray, QString>> entries;
    const QStringList names = allEntryNames(cores);
    for (const QString &name : names)
        entries.emplace_back(QFile::encodeName(name), name);
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.first > b.first; });

    for (const auto &entry : entries) {
        const QString candidate = cores + u'/' + entry.second + Names::coreBootApp0;
        if (QFileInfo(candidate).isReadable())
            return QUrl::fromLocalFile(candidate);
    }
    return std::nullopt;
}

std::optional<ImageRole> buildFileRole(const QString &fileName)
{
    // The suffixes exclude each other; only the application's is matched in any case.
    if (fileName.endsWith(Names::bootloaderSuffix))
        return ImageRole::bootloader;
    if (fileName.endsWith(Names::partitionsSuffix))
        return ImageRole::partitionTable;
    if (fileName == Names::bootApp0)
        return ImageRole::bootApp0;
    const QString lower = fileName.toLower();
    if (lower.endsWith(Names::applicationSuffix) && !lower.contains(Names::merged))
        return ImageRole::application;
    return std::nullopt;
}

bool isBuildFileName(const QString &fileName)
{
    return buildFileRole(fileName).has_value();
}

quint32 flashOffset(const QString &fileName)
{
    switch (buildFileRole(fileName).value_or(ImageRole::bootloader)) {
    case ImageRole::bootloader:
        break;
    case ImageRole::partitionTable:
        return partitionsOffset;
    case ImageRole::bootApp0:
        return bootApp0Offset;
    case ImageRole::application:
        return applicationOffset;
    }
    return bootloaderOffset; // also where anything else (a merged image) would go
}

QList<FirmwareImage> makeImages(const QList<QUrl> &files)
{
    QList<FirmwareImage> images;
    images.reserve(files.size());
    for (const QUrl &file : files) {
        const QString fileName = file.fileName();
        if (!QFileInfo(file.toLocalFile()).isReadable())
            throw FirmwareImageError::unreadable(fileName);
        images.append(FirmwareImage(file, flashOffset(fileName)));
    }
    std::stable_sort(images.begin(), images.end(),
                     [](const FirmwareImage &a, const FirmwareImage &b) { return a.offset < b.offset; });
    return images;
}
