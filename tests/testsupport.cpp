#include "testsupport.h"

#include "flashmanager.h"
#include "logger.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

void dropRootPrivileges()
{
    if (geteuid() != 0)
        return;
    constexpr uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
        std::perror("cannot drop root privileges for the tests");
        std::exit(2);
    }
    // Root's runtime folder is not ours any more, nor perhaps the working folder (a build
    // tree below /root); children started by the tests inherit it.
    unsetenv("XDG_RUNTIME_DIR");
    if (access(".", R_OK | X_OK) != 0 && chdir("/tmp") != 0) {
        std::perror("cannot change to /tmp");
        std::exit(2);
    }
}

PlatformPaths pathsInside(const QString &root)
{
    const PlatformPaths paths{
        .resourceDirectory = root + u"/resources"_s,
        .homeDirectory = root + u"/home"_s,
        .temporaryDirectory = root + u"/tmp"_s,
        .deviceDirectory = root + u"/dev"_s,
        .processDirectory = root + u"/proc"_s,
        .stateDirectory = {}, // no log file unless a test asks for one
        .udevRuleDirectories = {root + u"/etc/udev/rules.d"_s, root + u"/usr/lib/udev/rules.d"_s},
    };
    for (const QString &dir : {paths.resourceDirectory, paths.homeDirectory, paths.temporaryDirectory,
                               paths.deviceDirectory, paths.processDirectory})
        QDir().mkpath(dir);
    return paths;
}

void writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    file.close();
    file.setPermissions(permissions);
}

QString addFakePort(const QString &deviceDirectory, QStringView name)
{
    const QString path = deviceDirectory + u'/' + name;
    if (!QFile::link(u"/dev/null"_s, path))
        qFatal("cannot make the port %s", qPrintable(path));
    return path;
}

QStringList logLines(const Logger *logger, qsizetype first)
{
    QStringList lines;
    for (qsizetype i = first; i < logger->entries().size(); ++i)
        lines.append(rawValue(logger->entries()[i].level) + u' ' + logger->entries()[i].message);
    return lines;
}

void removeTree(const QString &path)
{
    // Folders made unreadable must be opened again first; rm copes with trees deeper than
    // the number of folders one process may hold open.
    QProcess::execute(u"chmod"_s, {u"-R"_s, u"u+rwX"_s, path});
    if (QProcess::execute(u"rm"_s, {u"-rf"_s, path}) != 0)
        qWarning("cannot remove %s", qPrintable(path));
}

void makeZip(const QString &zipPath, const QMap<QString, QByteArray> &files,
             const QMap<QString, QString> &symlinks)
{
    const QString archive = QFileInfo(zipPath).absoluteFilePath();
    QTemporaryDir staging;
    if (!staging.isValid())
        qFatal("cannot make a staging folder for %s", qPrintable(zipPath));
    QStringList entries;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.key().endsWith(u'/'))
            QDir().mkpath(staging.filePath(it.key()));
        else
            writeFile(staging.filePath(it.key()), it.value());
        entries.append(it.key());
    }
    for (auto it = symlinks.cbegin(); it != symlinks.cend(); ++it) {
        QDir().mkpath(QFileInfo(staging.filePath(it.key())).absolutePath());
        if (!QFile::link(it.value(), staging.filePath(it.key())))
            qFatal("cannot make the link %s", qPrintable(it.key()));
        entries.append(it.key());
    }

    // Entries are named one by one (no -r), so only what the test asked for is stored, in
    // this order; "--" keeps a name beginning with "-" from reading as an option.
    QProcess zip;
    zip.setWorkingDirectory(staging.path());
    zip.setProcessChannelMode(QProcess::MergedChannels);
    zip.start(u"/usr/bin/zip"_s, QStringList{u"-q"_s, u"--symlinks"_s, archive, u"--"_s} + entries);
    if (!zip.waitForFinished(-1) || zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        qFatal("zip for %s failed: %s", qPrintable(zipPath), zip.readAll().constData());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

namespace {
void appendU16(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value & 0xFF)).append(char(value >> 8));
}

void appendU32(QByteArray &bytes, quint32 value)
{
    appendU16(bytes, quint16(value));
    appendU16(bytes, quint16(value >> 16));
}

/// `text` NUL-padded to `size` bytes.
QByteArray field(const QByteArray &text, qsizetype size)
{
    return text.left(size).leftJustified(size, '\0');
}
} // namespace

void markZipMadeOnWindows(const QString &zipPath)
{
    QByteArray bytes = readFile(zipPath);
    // Each central directory header: "PK\1\2", then "version made by", whose high byte
    // names the system (0: DOS and Windows).
    for (qsizetype at = bytes.indexOf("PK\x01\x02"); at >= 0; at = bytes.indexOf("PK\x01\x02", at + 4))
        bytes[at + 5] = 0;
    writeFile(zipPath, bytes);
}

QByteArray espImage(const ImageRecipe &recipe)
{
    QByteArray image;
    image.append(char(0xE9)).append(char(2)).append(char(2)).append(char(0x2F)); // 2 segments, DIO, 4MB 80MHz
    appendU32(image, 0x40375000);                                                // entry
    const bool hashAppended = recipe.hashAppended && !recipe.esp8266;
    if (!recipe.esp8266) {
        image.append(char(0xEE)).append(QByteArray(3, 0)); // no WP pin, drive strengths
        appendU16(image, recipe.chipId);
        image.append(char(recipe.minRevisionFull / 100));
        appendU16(image, recipe.minRevisionFull);
        appendU16(image, recipe.maxRevisionFull);
        image.append(QByteArray(4, 0)).append(char(hashAppended ? 1 : 0));
    }

    QByteArray data(recipe.dataSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + 7) ^ (i >> 8)); // varied, so that one changed byte shows
    if (recipe.descriptor) {
        const DescriptorRecipe &d = *recipe.descriptor;
        QByteArray descriptor;
        appendU32(descriptor, 0xABCD5432);
        descriptor.append(QByteArray(12, 0)); // secure version, reserved
        descriptor += field(d.version, 32) + field(d.projectName, 32) + field(d.time, 16) +
                      field(d.date, 16) + field(d.idfVersion, 32);
        descriptor.append(QByteArray(256 - descriptor.size(), 0)); // ELF hash, reserved
        data.replace(0, descriptor.size(), descriptor);
    }
    const qsizetype first = (data.size() / 2) & ~qsizetype(3);
    const struct
    {
        quint32 address;
        QByteArray bytes;
    } segments[] = {{recipe.esp8266 ? 0x3FFE8000u : 0x3C000020u, data.first(first)},
                    {recipe.esp8266 ? 0x40100000u : 0x40370000u, data.sliced(first)}};
    quint8 checksum = 0xEF;
    for (const auto &segment : segments) {
        appendU32(image, segment.address);
        appendU32(image, quint32(segment.bytes.size()));
        image.append(segment.bytes);
        for (const char c : segment.bytes)
            checksum ^= quint8(c);
    }
    image.append(QByteArray(15 - image.size() % 16, 0)).append(char(checksum));
    if (hashAppended)
        image.append(QCryptographicHash::hash(image, QCryptographicHash::Sha256));
    return image;
}

QList<PartitionRecipe> defaultPartitions()
{
    return {
        {1, 0x02, 0x9000, 0x5000, "nvs"},        {1, 0x00, 0xE000, 0x2000, "otadata"},
        {0, 0x10, 0x10000, 0x140000, "app0"},    {0, 0x11, 0x150000, 0x140000, "app1"},
        {1, 0x82, 0x290000, 0x160000, "spiffs"},
    };
}

QByteArray partitionTable(const QList<PartitionRecipe> &partitions)
{
    QByteArray table;
    for (const PartitionRecipe &p : partitions) {
        table.append(char(0xAA)).append(char(0x50)).append(char(p.type)).append(char(p.subtype));
        appendU32(table, p.offset);
        appendU32(table, p.size);
        table += field(p.label, 16);
        appendU32(table, 0); // flags
    }
    const QByteArray md5 = QCryptographicHash::hash(table, QCryptographicHash::Md5);
    table += QByteArray("\xEB\xEB") + QByteArray(14, char(0xFF)) + md5;
    return table.leftJustified(0xC00, char(0xFF));
}

QMap<QString, QByteArray> esp32s3Build(const QString &folder, const QString &sketch)
{
    ImageRecipe bootloader;
    bootloader.dataSize = 2048;
    ImageRecipe application;
    application.dataSize = 8192;
    application.descriptor = DescriptorRecipe{};
    return {
        {folder + sketch + u".ino.bootloader.bin"_s, espImage(bootloader)},
        {folder + sketch + u".ino.partitions.bin"_s, partitionTable()},
        {folder + u"boot_app0.bin"_s, QByteArray(4, 0x01) + QByteArray(8188, char(0xFF))},
        {folder + sketch + u".ino.bin"_s, espImage(application)},
    };
}

std::unique_ptr<FlashManager> makeController(const PlatformPaths &paths, const QStringList &ports,
                                             const QMap<QString, QByteArray> &firmware)
{
    for (const QString &name : ports)
        addFakePort(paths.deviceDirectory, name);
    auto manager = std::make_unique<FlashManager>(paths);
    manager->refreshPorts();
    if (!firmware.isEmpty()) {
        const QString zip = paths.homeDirectory + u"/firmware.zip"_s;
        makeZip(zip, firmware);
        manager->loadFirmware(QUrl::fromLocalFile(zip));
        if (manager->firmwareImages().isEmpty())
            qFatal("the test package did not load: %s", qPrintable(manager->statusDetail()));
    }
    QCoreApplication::processEvents();
    return manager;
}

namespace {
quint32 crc32(QByteArrayView data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}
} // namespace

QByteArray storedZip(const QList<ZipEntry> &entries)
{
    QByteArray zip;
    QByteArray directory;
    for (const ZipEntry &entry : entries) {
        const quint64 size = entry.declaredSize.value_or(quint64(entry.data.size()));
        const bool zip64 = size >= 0xFFFFFFFF;
        QByteArray common; // version needed, flags, method, time, date, CRC, sizes, name length
        appendU16(common, zip64 ? 45 : 10);
        appendU16(common, entry.flags);
        appendU16(common, entry.method);
        appendU32(common, 0x00210000); // 1980-01-01 00:00
        appendU32(common, crc32(entry.data));
        appendU32(common, quint32(entry.data.size()));
        appendU32(common, zip64 ? 0xFFFFFFFF : quint32(size));
        appendU16(common, quint16(entry.name.size()));
        QByteArray extra;
        if (zip64) {
            appendU16(extra, 0x0001);
            appendU16(extra, 8);
            appendU32(extra, quint32(size));
            appendU32(extra, quint32(size >> 32));
        }
        appendU16(common, quint16(extra.size()));
        const quint32 localAt = quint32(zip.size());
        zip += "PK\x03\x04" + common + entry.name + extra + entry.data;
        directory +=
            QByteArray("PK\x01\x02\x1E\x03") + common + QByteArray(10, 0); // comment, disk, attributes
        appendU32(directory, localAt);
        directory += entry.name + extra;
    }
    QByteArray end("PK\x05\x06\0\0\0\0", 8);
    appendU16(end, quint16(std::min<qsizetype>(entries.size(), 0xFFFF)));
    appendU16(end, quint16(std::min<qsizetype>(entries.size(), 0xFFFF)));
    appendU32(end, quint32(directory.size()));
    appendU32(end, quint32(zip.size()));
    appendU16(end, 0);
    return zip + directory + end;
}

void renameZipEntries(const QString &zipPath, const QByteArray &oldName, const QByteArray &newName)
{
    if (oldName.size() != newName.size())
        qFatal("renameZipEntries: %s and %s differ in length", oldName.constData(), newName.constData());
    QByteArray bytes = readFile(zipPath);
    // The names sit in the local and central headers; no checksum covers them.
    if (!bytes.contains(oldName))
        qFatal("renameZipEntries: no entry %s in %s", oldName.constData(), qPrintable(zipPath));
    bytes.replace(oldName, newName);
    writeFile(zipPath, bytes);
}
