#pragma once

#include "platformpaths.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

class FlashManager;
class Logger;

/// Tests run as an ordinary user even when started as root (CI is root), so that
/// permission checks behave as on a user's machine.
void dropRootPrivileges();

/// Paths that all point into `root`: resources, home, temporary and device folders,
/// each created.
PlatformPaths pathsInside(const QString &root);

/// Writes `content` to `path` (creating parent folders) and sets its permission bits.
void writeFile(const QString &path, const QByteArray &content,
               QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner);

/// The contents of the file `path`; empty when it cannot be read.
QByteArray readFile(const QString &path);

/// Puts a serial port named `name` into `deviceDirectory` and returns its path: a link to
/// /dev/null, a character device anyone may open that no test's fake /proc names.
QString addFakePort(const QString &deviceDirectory, QStringView name);

/// "LEVEL message" for each entry of `logger` from `first` on.
QStringList logLines(const Logger *logger, qsizetype first = 0);

/// Deletes the folder `path` with everything below it, whatever its depth and however
/// the test left its permissions.
void removeTree(const QString &path);

/// Makes (or adds to) the archive `zipPath` with the real /usr/bin/zip. `files` maps a
/// relative path to its content; a path ending in "/" stores an empty folder. `symlinks`
/// maps a relative path to a link target, stored as a link (zip --symlinks). Entries go in
/// files first, then links, each in key order.
void makeZip(const QString &zipPath, const QMap<QString, QByteArray> &files,
             const QMap<QString, QString> &symlinks = {});

/// Renames the entries called `from` in the archive `zipPath` to `to` by rewriting their
/// names in place, which lets a test make entries zip refuses to write ("../x", "/abs",
/// two entries with one name). Both names must have the same length in UTF-8, and `from`
/// must appear nowhere else in the archive (contents included).
void renameZipEntries(const QString &zipPath, const QByteArray &from, const QByteArray &to);
/// Marks every entry of `zipPath` as made on DOS or Windows, as Windows' own zip tools do.
void markZipMadeOnWindows(const QString &zipPath);

/// The descriptor an ESP-IDF application carries.
struct DescriptorRecipe
{
    QByteArray projectName = "olvex_fw";
    QByteArray version = "1.4.2";
    QByteArray time = "14:03:11";
    QByteArray date = "Nov  2 2026";
    QByteArray idfVersion = "v5.1.4";
};

/// An ESP image the way ESP-IDF builds one: header, two segments (the first starting with
/// the descriptor, when there is one), checksum, and the SHA-256 when `hashAppended`.
struct ImageRecipe
{
    quint16 chipId = 9;
    quint16 minRevisionFull = 0;
    quint16 maxRevisionFull = 99;
    bool hashAppended = true;
    qsizetype dataSize = 4096; ///< segment data in all, a multiple of 4
    std::optional<DescriptorRecipe> descriptor;
    bool esp8266 = false; ///< an ESP8266's image: its 8-byte header alone, no hash
};
QByteArray espImage(const ImageRecipe &recipe);

/// One partition, and a table of them with its MD5 entry, padded as the build pads it.
struct PartitionRecipe
{
    quint8 type;
    quint8 subtype;
    quint32 offset;
    quint32 size;
    QByteArray label;
};
/// Arduino's default table: nvs, otadata, app0 at 0x10000 (1.25 MB), app1, spiffs.
QList<PartitionRecipe> defaultPartitions();
QByteArray partitionTable(const QList<PartitionRecipe> &partitions = defaultPartitions());

/// One entry of a zip written byte by byte. `declaredSize` replaces the size the listing
/// declares (a ZIP64 record carries it from 4 GiB on); `method` and `flags` are only named.
struct ZipEntry
{
    QByteArray name = {};
    QByteArray data = {};
    std::optional<quint64> declaredSize = {};
    quint16 method = 0; ///< 0: stored
    quint16 flags = 0;  ///< 1: encrypted
};
/// A zip no zip tool would write: declared sizes that the data does not have, unknown
/// methods, names too long for a file system, or thousands of entries at once.
QByteArray storedZip(const QList<ZipEntry> &entries);

/// The build files of an ESP32-S3 sketch in `folder`: bootloader, partition table,
/// boot_app0.bin and the application with its descriptor.
QMap<QString, QByteArray> esp32s3Build(const QString &folder = QStringLiteral("build/"),
                                       const QString &sketch = QStringLiteral("sketch"));

/// A controller on `paths` whose first refresh found the serial ports `ports` (made in the
/// device folder), with the build `firmware` loaded from "firmware.zip" in the home folder
/// unless it is empty; its log has settled.
std::unique_ptr<FlashManager> makeController(const PlatformPaths &paths,
                                             const QStringList &ports = {QStringLiteral("ttyACM0")},
                                             const QMap<QString, QByteArray> &firmware = esp32s3Build());

/// A test program's main: `prepare` runs first, then `TestObject` runs in an `Application`.
#define OLVEX_TEST_MAIN_WITH(Application, prepare, TestObject)                                               \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        prepare;                                                                                             \
        Application app(argc, argv);                                                                         \
        TestObject test;                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
#define OLVEX_TEST_MAIN(TestObject) OLVEX_TEST_MAIN_WITH(QCoreApplication, dropRootPrivileges(), TestObject)
/// For tests that run what the build put into the build tree, which may lie where only the
/// user who built it can reach.
#define OLVEX_TEST_MAIN_AS_STARTED(TestObject) OLVEX_TEST_MAIN_WITH(QCoreApplication, , TestObject)
/// With a QApplication, for tests that drive widgets (the test file includes <QApplication>).
/// These keep the user they were started as: they test no permissions, and they read the
/// screen description from the source tree and write renders into the build tree, which
/// may lie where only that user can reach.
#define OLVEX_TEST_GUI_MAIN(TestObject) OLVEX_TEST_MAIN_WITH(QApplication, , TestObject)
