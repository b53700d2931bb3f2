// The firmware package: flash offsets, finding the build files and boot_app0.bin, the walk
// of the extracted tree, and the image records.
#include "firmwarepackage.h"
#include "testsupport.h"
#include "zipextractor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using Files = QMap<QString, QByteArray>;
using Links = QMap<QString, QString>;
using CoreEntries = QMap<QString, QString>; // name → "readable", "unreadable", "no file"

namespace {
const QString bootloaderName = u"sketch.ino.bootloader.bin"_s;
const QString partitionsName = u"sketch.ino.partitions.bin"_s;
const QString applicationName = u"sketch.ino.bin"_s;
const QString mergedName = u"sketch.ino.merged.bin"_s;

/// An Arduino build as the IDE exports it, merged image included, boot_app0.bin not.
Files standardBuild(const QString &folder = QString())
{
    return {
        {folder + bootloaderName, QByteArray(20, 'b')},
        {folder + partitionsName, QByteArray(30, 'p')},
        {folder + applicationName, QByteArray(40, 'a')},
        {folder + mergedName, QByteArray(50, 'm')},
    };
}

Files with(Files files, const Files &more)
{
    files.insert(more);
    return files;
}

Files without(Files files, const QString &name)
{
    files.remove(name);
    return files;
}

/// The installed cores, relative to the test's root.
QString coresFolder()
{
    PlatformPaths relative;
    relative.homeDirectory = u"home"_s;
    return relative.arduinoDataDirectory() + u"/packages/esp32/hardware/esp32"_s;
}

/// Where the installed core `version` keeps boot_app0.bin, relative to the test's root.
QString coreFile(const QString &version)
{
    return coresFolder() + u'/' + version + u"/tools/partitions/boot_app0.bin"_s;
}

void makeUnreadable(const QString &path)
{
    QVERIFY(QFile::setPermissions(path, {}));
}
} // namespace

class TestFirmwarePackage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    PlatformPaths m_paths;

    [[nodiscard]] QString path(const QString &relative) const { return m_root->filePath(relative); }
    /// The extraction folder; the folder that holds it is the temporary folder.
    [[nodiscard]] QString extracted() const { return m_paths.temporaryDirectory + u"/x"_s; }

    /// Zips `files` and `links` with the real zip and unpacks them with the real unzip.
    QList<QUrl> unpack(const Files &files, const Links &links = {})
    {
        makeZip(path(u"package.zip"_s), files, links);
        ZipExtractor::extract(QUrl::fromLocalFile(path(u"package.zip"_s)), QUrl::fromLocalFile(extracted()));
        return regularFiles(QUrl::fromLocalFile(extracted()));
    }

    void installCore(const QString &version, const QString &state = u"readable"_s)
    {
        const QString file = path(coreFile(version));
        if (state == u"no file"_s) {
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            return;
        }
        writeFile(file, QByteArray(8192, '\xff'));
        if (state == u"unreadable"_s)
            makeUnreadable(file);
    }

    /// "where @ 0xOFFSET (size)", `where` relative to the test's root.
    [[nodiscard]] QString describe(const FirmwareImage &image) const
    {
        return QDir(m_root->path()).relativeFilePath(image.url.toLocalFile()) + u" @ 0x"_s +
               QString::number(image.offset, 16).toUpper() + u" ("_s + QString::number(image.size) + u")"_s;
    }

    [[nodiscard]] QStringList describe(const QList<FirmwareImage> &images) const
    {
        QStringList lines;
        for (const FirmwareImage &image : images)
            lines.append(describe(image));
        return lines;
    }

    /// The images, or the error's description.
    QStringList discover(const QList<QUrl> &files)
    {
        try {
            return describe(arduinoImages(files, QUrl::fromLocalFile(extracted()), m_paths));
        } catch (const FirmwareImageError &error) {
            return {error.description()};
        }
    }

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_paths = pathsInside(m_root->path());
    }

    void cleanup() { removeTree(m_root->path()); }

    void flashOffset_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("offset");
        QTest::newRow("bootloader") << bootloaderName << 0x0u;
        QTest::newRow("partition table") << partitionsName << 0x8000u;
        QTest::newRow("boot_app0") << u"boot_app0.bin"_s << 0xE000u;
        QTest::newRow("application") << applicationName << 0x10000u;
        QTest::newRow("merged wins over partitions") << u"a.partitions.bin.merged.bin"_s << 0x0u;
        QTest::newRow("bootloader wins over partitions") << u"a.partitions.bin.bootloader.bin"_s << 0x0u;
        QTest::newRow("partitions anywhere in the name") << u"a.partitions.bin.old"_s << 0x8000u;
        QTest::newRow("boot_app0 in upper case") << u"BOOT_APP0.BIN"_s << 0xE000u;
        QTest::newRow("boot_app0 must be the whole name") << u"my_boot_app0.bin"_s << 0x0u;
        QTest::newRow("application in upper case") << u"SKETCH.INO.BIN"_s << 0x10000u;
        QTest::newRow("application must end the name") << u"sketch.ino.bin.txt"_s << 0x0u;
    }

    void flashOffset()
    {
        QFETCH(QString, name);
        QFETCH(quint32, offset);
        QCOMPARE(::flashOffset(name), offset);
    }

    void discovery_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<Links>("links");
        QTest::addColumn<bool>("core");
        QTest::addColumn<QStringList>("expected");

        const QStringList standard{
            u"tmp/x/sketch.ino.bootloader.bin @ 0x0 (20)"_s,
            u"tmp/x/sketch.ino.partitions.bin @ 0x8000 (30)"_s,
            coreFile(u"3.0.7"_s) + u" @ 0xE000 (8192)"_s,
            u"tmp/x/sketch.ino.bin @ 0x10000 (40)"_s,
        };
        const QStringList noBootloader{u"Missing Arduino build file: *.bootloader.bin"_s};
        const QStringList noBootApp0{u"Missing Arduino build file: boot_app0.bin"_s};

        QTest::newRow("standard build, installed core") << standardBuild() << Links() << true << standard;
        QTest::newRow("only a merged image") << Files{{mergedName, "m"}} << Links() << true << noBootloader;
        QTest::newRow("no partition table") << without(standardBuild(), partitionsName) << Links() << true
                                            << QStringList{u"Missing Arduino build file: *.partitions.bin"_s};
        QTest::newRow("only a merged application")
            << without(standardBuild(), applicationName) << Links() << true
            << QStringList{u"Missing Arduino build file: *.ino.bin (not merged)"_s};
        QTest::newRow("upper-case application")
            << with(without(standardBuild(), applicationName), {{u"SKETCH.INO.BIN"_s, "A"}}) << Links()
            << true
            << QStringList{standard[0], standard[1], standard[2], u"tmp/x/SKETCH.INO.BIN @ 0x10000 (1)"_s};
        QTest::newRow("upper-case bootloader")
            << with(without(standardBuild(), bootloaderName), {{u"SKETCH.INO.BOOTLOADER.BIN"_s, "B"}})
            << Links() << true << noBootloader;
        QTest::newRow("Boot_App0.bin and no core")
            << with(standardBuild(), {{u"Boot_App0.bin"_s, "x"}}) << Links() << false << noBootApp0;
        QTest::newRow("hidden file, hidden folder")
            << with(without(standardBuild(), bootloaderName),
                    {{u".sketch.ino.bootloader.bin"_s, "B"}, {u".build/sketch.ino.bootloader.bin"_s, "B"}})
            << Links() << true << noBootloader;
        // Archivers on macOS add "._" companions in a metadata folder; they match every name.
        // The folder itself is walked.
        QTest::newRow("metadata folder")
            << with(without(standardBuild(), bootloaderName),
                    {{u"__MACOSX/._sketch.ino.bootloader.bin"_s, "B"},
                     {u"__MACOSX/._boot_app0.bin"_s, "Z"},
                     {u"__MACOSX/sketch.ino.bootloader.bin"_s, "B"}})
            << Links() << true
            << QStringList{u"tmp/x/__MACOSX/sketch.ino.bootloader.bin @ 0x0 (1)"_s, standard[1], standard[2],
                           standard[3]};
        // A link stored in the archive points wherever its author chose: never an image.
        QTest::newRow("link named as the bootloader")
            << with(without(standardBuild(), bootloaderName), {{u"real/bootloader.img"_s, "B"}})
            << Links{{bootloaderName, u"real/bootloader.img"_s}} << true << noBootloader;
        QTest::newRow("link to an outside folder holding a bootloader")
            << without(standardBuild(), bootloaderName) << Links{{u"linked"_s, u"{outside}"_s}} << true
            << noBootloader;
    }

    void discovery()
    {
        QFETCH(Files, files);
        QFETCH(Links, links);
        QFETCH(bool, core);
        QFETCH(QStringList, expected);
        writeFile(path(u"outside/"_s + bootloaderName), "outside");
        for (QString &target : links)
            target.replace(u"{outside}"_s, path(u"outside"_s));
        if (core)
            installCore(u"3.0.7"_s);

        QCOMPARE(discover(unpack(files, links)), expected);
    }

    // "First" is the walk's order, whatever it is.
    void firstBootloaderOfTheWalkWins()
    {
        const QList<QUrl> files =
            unpack(with(without(standardBuild(), bootloaderName),
                        {{u"a/one.bootloader.bin"_s, "1"}, {u"b/two.bootloader.bin"_s, "22"}}));
        installCore(u"3.0.7"_s);
        QList<QUrl> bootloaders;
        for (const QUrl &file : files) {
            if (file.fileName().endsWith(u".bootloader.bin"_s))
                bootloaders.append(file);
        }
        QCOMPARE(bootloaders.size(), 2);

        QCOMPARE(discover(files).first(), describe(FirmwareImage(bootloaders[0], 0)));
        QList<QUrl> reversed = files;
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(discover(reversed).first(), describe(FirmwareImage(bootloaders[1], 0)));
    }

    void largeArchiveWithDecoys()
    {
        Files files = standardBuild(u"build/esp32.esp32.esp32s3/"_s);
        for (int i = 0; i < 10'000 - 8; ++i)
            files.insert(u"libraries/lib%1/src/deep/er/file%2.cpp.o"_s.arg(i % 97).arg(i), "o");
        files.insert(u"__MACOSX/build/esp32.esp32.esp32s3/._sketch.ino.bootloader.bin"_s, "decoy");
        files.insert(u".git/objects/first.partitions.bin"_s, "decoy");
        files.insert(u".first.ino.bin"_s, "decoy");
        files.insert(u"build/boot_app0.bin"_s, QByteArray(8192, 'z'));
        const QList<QUrl> list = unpack(files);
        QCOMPARE(list.size(), 10'000 - 3); // all but the hidden decoys

        QCOMPARE(discover(list),
                 (QStringList{
                     u"tmp/x/build/esp32.esp32.esp32s3/sketch.ino.bootloader.bin @ 0x0 (20)"_s,
                     u"tmp/x/build/esp32.esp32.esp32s3/sketch.ino.partitions.bin @ 0x8000 (30)"_s,
                     u"tmp/x/build/boot_app0.bin @ 0xE000 (8192)"_s,
                     u"tmp/x/build/esp32.esp32.esp32s3/sketch.ino.bin @ 0x10000 (40)"_s,
                 }));
    }

    void walkListsRegularFilesDepthFirst()
    {
        const QString top = path(u"walk"_s);
        const QStringList regular{u"a/1"_s, u"a/b/2"_s, u"a/b/c/3"_s, u"a/4"_s, u"d/5"_s, u"6"_s, u"e/7"_s};
        for (const QString &file : regular)
            writeFile(top + u'/' + file, "x");
        writeFile(top + u"/.hidden/8"_s, "x");
        writeFile(top + u"/a/.9"_s, "x");
        writeFile(top + u"/closed/10"_s, "x");
        makeUnreadable(top + u"/closed"_s);
        QVERIFY(QDir().mkpath(top + u"/empty"_s));
        QVERIFY(QFile::link(top + u"/6"_s, top + u"/e/link-to-file"_s));
        QVERIFY(QFile::link(top + u"/a"_s, top + u"/linked-folder"_s));
        QVERIFY(QFile::link(top + u"/nowhere"_s, top + u"/dangling"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(top + u"/fifo"_s).constData(), 0600), 0);

        QStringList walked;
        for (const QUrl &file : regularFiles(QUrl::fromLocalFile(top)))
            walked.append(QDir(top).relativeFilePath(file.toLocalFile()));

        QStringList sorted = walked;
        sorted.sort();
        QStringList expected = regular;
        expected.sort();
        QCOMPARE(sorted, expected);
        // Depth first: what lies below a folder comes in one run, whatever order the
        // folders come in.
        for (const QString &folder : {u"a/"_s, u"a/b/"_s, u"a/b/c/"_s}) {
            const auto inside = [&folder](const QString &file) { return file.startsWith(folder); };
            const auto first = std::find_if(walked.cbegin(), walked.cend(), inside);
            const auto end = std::find_if(walked.crbegin(), walked.crend(), inside).base();
            QVERIFY2(std::all_of(first, end, inside), qPrintable(walked.join(u' ')));
        }
    }

    // Deeper than the number of files a process may hold open.
    void walkOfADeepTree()
    {
        QString deepest = path(u"deep"_s);
        for (int level = 0; level < 1100; ++level)
            deepest += u"/d"_s;
        writeFile(deepest + u"/sketch.ino.bin"_s, "x");
        QCOMPARE(regularFiles(QUrl::fromLocalFile(path(u"deep"_s))),
                 QList<QUrl>{QUrl::fromLocalFile(deepest + u"/sketch.ino.bin"_s)});
    }

    void imageRecord()
    {
        writeFile(path(u"folder/sketch.ino.bin"_s), "12345");
        const QUrl url = QUrl::fromLocalFile(path(u"folder/sketch.ino.bin"_s));
        const FirmwareImage image(url, 0x10000);
        QCOMPARE(image.fileName, u"sketch.ino.bin"_s);
        QCOMPARE(image.size, 5u);
        QVERIFY(!image.id.isNull() && image.id != FirmwareImage(url, 0x10000).id);

        // 4 GiB and more does not wrap around (a sparse file takes no disk space).
        QFile large(path(u"large.bin"_s));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(0x100000005));
        QCOMPARE(FirmwareImage(QUrl::fromLocalFile(large.fileName()), 0).size, 0xFFFFFFFFu);

        // No error when the size cannot be read: it is 0.
        QCOMPARE(FirmwareImage(QUrl::fromLocalFile(path(u"missing.bin"_s)), 0).size, 0u);
    }

    // An unreadable boot_app0.bin in the package ends the search, though the core has one.
    void unreadableBootApp0InThePackage()
    {
        installCore(u"3.0.7"_s);
        const QList<QUrl> files = unpack(with(standardBuild(), {{u"boot_app0.bin"_s, "z"}}));
        makeUnreadable(extracted() + u"/boot_app0.bin"_s);
        QCOMPARE(discover(files), QStringList{u"Cannot read firmware file: boot_app0.bin"_s});
    }

    // The five places in order: the package, beside the extraction folder, the resource
    // folder, its ThirdParty folder, the installed core. Each is absent (' '), readable ('r')
    // or unreadable ('u').
    void bootApp0Places_data()
    {
        QTest::addColumn<QString>("states");
        QTest::addColumn<int>("found"); // the place found, -1 for none
        QTest::newRow("the package first") << u"rrrrr"_s << 0;
        QTest::newRow("then beside the extraction folder") << u" rrrr"_s << 1;
        QTest::newRow("beside is taken unread") << u" urrr"_s << 1;
        QTest::newRow("then the resources") << u"  rrr"_s << 2;
        QTest::newRow("an unreadable resource is passed over") << u"  urr"_s << 3;
        QTest::newRow("then the core") << u"  uur"_s << 4;
        QTest::newRow("an unreadable core is no hit") << u"  uuu"_s << -1;
    }

    void bootApp0Places()
    {
        QFETCH(QString, states);
        QFETCH(int, found);
        const QStringList places{
            extracted() + u"/boot_app0.bin"_s, m_paths.temporaryDirectory + u"/boot_app0.bin"_s,
            m_paths.resourceDirectory + u"/boot_app0.bin"_s,
            m_paths.resourceDirectory + u"/ThirdParty/boot_app0.bin"_s, path(coreFile(u"3.0.7"_s))};
        const QList<QUrl> files =
            unpack(states[0] == u' ' ? standardBuild() : with(standardBuild(), {{u"boot_app0.bin"_s, "z"}}));
        for (qsizetype i = 0; i < places.size(); ++i) {
            if (i > 0 && states[i] != u' ')
                writeFile(places[i], "z");
            if (states[i] == u'u')
                makeUnreadable(places[i]);
        }

        try {
            const QUrl hit = findBootApp0(files, QUrl::fromLocalFile(extracted()), m_paths);
            QCOMPARE(hit.toLocalFile(), places.value(found));
        } catch (const FirmwareImageError &error) {
            QCOMPARE(error.description(), u"Missing Arduino build file: boot_app0.bin"_s);
            QCOMPARE(found, -1);
        }
    }

    void coreFolders_data()
    {
        QTest::addColumn<QMap<QString, QString>>("entries"); // name → "readable", "unreadable", "no file"
        QTest::addColumn<QString>("found");
        const QString r = u"readable"_s;
        const QMap<QString, QString> four{
            {u"2.0.17"_s, r}, {u"3.0.10"_s, r}, {u"3.0.7"_s, r}, {u"3.1.0"_s, r}};
        auto next = four;
        next[u"3.1.0"_s] = u"unreadable"_s;
        // Byte order of the names, not version order: 3.0.7 before 3.0.10.
        QTest::newRow("unreadable passed over") << next << u"3.0.7"_s;
        next[u"3.0.7"_s] = u"no file"_s;
        QTest::newRow("folder without the file passed over") << next << u"3.0.10"_s;
        QTest::newRow("hidden folders count")
            << QMap<QString, QString>{{u".local"_s, r}, {u"3.1.0"_s, u"no file"_s}} << u".local"_s;
        QTest::newRow("none readable") << QMap<QString, QString>{{u"3.1.0"_s, u"unreadable"_s}} << QString();
    }

    void coreFolders()
    {
        QFETCH(CoreEntries, entries);
        QFETCH(QString, found);
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            installCore(it.key(), it.value());
        const std::optional<QUrl> hit = arduinoCoreBootApp0(m_paths);
        QCOMPARE(hit.value_or(QUrl()).toLocalFile(), found.isEmpty() ? QString() : path(coreFile(found)));
    }
};

OLVEX_TEST_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
