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
using Paths = QMap<QString, QString>;

namespace {
/// Where the installed core `version` keeps boot_app0.bin, relative to the test's root.
QString coreFile(const QString &version)
{
    PlatformPaths relative;
    relative.homeDirectory = u"home"_s;
    return relative.arduinoDataDirectory() + u"/packages/esp32/hardware/esp32/"_s + version +
           u"/tools/partitions/boot_app0.bin"_s;
}

/// The fixture's build as the Arduino IDE exports it: merged image included, boot_app0.bin not.
Files arduinoExport(const QStringList &removed = {}, const Files &added = {})
{
    Files files = esp32s3Build();
    files.remove(u"build/boot_app0.bin"_s);
    files.insert(u"build/sketch.ino.merged.bin"_s, "m");
    for (const QString &name : removed)
        files.remove(u"build/"_s + name);
    files.insert(added);
    return files;
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
    [[nodiscard]] QUrl extracted() const { return QUrl::fromLocalFile(m_paths.temporaryDirectory + u"/x"_s); }

    /// "where @ 0xOFFSET" for each image, `where` relative to the test's root; or the error.
    QStringList discover(const QList<QUrl> &files)
    {
        QStringList lines;
        try {
            for (const FirmwareImage &image : arduinoImages(files, extracted(), m_paths))
                lines.append(QDir(m_root->path()).relativeFilePath(image.url.toLocalFile()) + u" @ 0x"_s +
                             QString::number(image.offset, 16).toUpper());
        } catch (const FirmwareImageError &error) {
            lines.append(error.description());
        }
        return lines;
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
        // The plain names come with the discovery below; the offset follows the same rule.
        QTest::newRow("merged image") << u"a.partitions.bin.merged.bin"_s << 0x0u;
        QTest::newRow("bootloader suffix last") << u"a.partitions.bin.bootloader.bin"_s << 0x0u;
        QTest::newRow("partitions suffix last") << u"x.bootloader.bin.partitions.bin"_s << 0x8000u;
        QTest::newRow("partitions must end the name") << u"a.partitions.bin.old"_s << 0x0u;
        QTest::newRow("boot_app0 in upper case is none") << u"BOOT_APP0.BIN"_s << 0x0u;
        QTest::newRow("boot_app0 must be the whole name") << u"my_boot_app0.bin"_s << 0x0u;
        QTest::newRow("application must end the name") << u"sketch.ino.bin.txt"_s << 0x0u;
    }

    void flashOffset()
    {
        QFETCH(QString, name);
        QFETCH(quint32, offset);
        QCOMPARE(::flashOffset(name), offset);
    }

    // A package unpacked by the real unzip, with files around it: boot_app0.bin beside the
    // extraction folder, among the resources, in installed cores.
    void discovery_data()
    {
        QTest::addColumn<Files>("package");
        QTest::addColumn<Paths>("links");
        QTest::addColumn<Paths>("around"); // path → "r" readable, "u" unreadable, "d" a bare folder
        QTest::addColumn<QStringList>("expected");

        const QString core = coreFile(u"3.0.7"_s);
        const QString beside = u"tmp/boot_app0.bin"_s;
        const QString resource = u"resources/boot_app0.bin"_s;
        const QString thirdParty = u"resources/ThirdParty/boot_app0.bin"_s;
        const auto found = [](const QString &bootApp0,
                              const QString &bootloader = u"tmp/x/build/sketch.ino.bootloader.bin"_s,
                              const QString &application = u"tmp/x/build/sketch.ino.bin"_s) {
            return QStringList{bootloader + u" @ 0x0"_s, u"tmp/x/build/sketch.ino.partitions.bin @ 0x8000"_s,
                               bootApp0 + u" @ 0xE000"_s, application + u" @ 0x10000"_s};
        };
        const QStringList noBootloader{u"Missing Arduino build file: *.bootloader.bin"_s};
        const QStringList noBootApp0{u"Missing Arduino build file: boot_app0.bin"_s};
        const QStringList unreadableBootApp0{u"Cannot read firmware file: boot_app0.bin"_s};
        const Paths installed{{core, u"r"_s}};
        const Paths everywhere{{beside, u"r"_s}, {resource, u"r"_s}, {thirdParty, u"r"_s}, {core, u"r"_s}};

        const auto row = [](const char *name, const Files &package, const Paths &around,
                            const QStringList &expected, const Paths &links = {}) {
            QTest::newRow(name) << package << links << around << expected;
        };

        row("standard build, installed core", arduinoExport(), installed, found(core));
        row("only a merged image", Files{{u"build/sketch.ino.merged.bin"_s, "m"}}, installed, noBootloader);
        row("no partition table", arduinoExport({u"sketch.ino.partitions.bin"_s}), installed,
            QStringList{u"Missing Arduino build file: *.partitions.bin"_s});
        row("only a merged application", arduinoExport({u"sketch.ino.bin"_s}), installed,
            QStringList{u"Missing Arduino build file: *.ino.bin (not merged)"_s});
        row("upper-case application", arduinoExport({u"sketch.ino.bin"_s}, {{u"SKETCH.INO.BIN"_s, "A"}}),
            installed, found(core, u"tmp/x/build/sketch.ino.bootloader.bin"_s, u"tmp/x/SKETCH.INO.BIN"_s));
        row("the last suffix gives the role",
            arduinoExport({u"sketch.ino.partitions.bin"_s},
                          {{u"build/x.bootloader.bin.partitions.bin"_s, "P"}}),
            installed,
            QStringList{u"tmp/x/build/sketch.ino.bootloader.bin @ 0x0"_s,
                        u"tmp/x/build/x.bootloader.bin.partitions.bin @ 0x8000"_s, core + u" @ 0xE000"_s,
                        u"tmp/x/build/sketch.ino.bin @ 0x10000"_s});
        row("upper-case bootloader",
            arduinoExport({u"sketch.ino.bootloader.bin"_s}, {{u"SKETCH.INO.BOOTLOADER.BIN"_s, "B"}}),
            installed, noBootloader);
        row("hidden file, hidden folder",
            arduinoExport({u"sketch.ino.bootloader.bin"_s}, {{u".sketch.ino.bootloader.bin"_s, "B"},
                                                             {u".build/sketch.ino.bootloader.bin"_s, "B"}}),
            installed, noBootloader);
        // Archivers on macOS add "._" companions in a metadata folder; they match every name.
        // The folder itself is walked.
        row("metadata folder",
            arduinoExport({u"sketch.ino.bootloader.bin"_s}, {{u"__MACOSX/._sketch.ino.bootloader.bin"_s, "B"},
                                                             {u"__MACOSX/._boot_app0.bin"_s, "Z"},
                                                             {u"__MACOSX/sketch.ino.bootloader.bin"_s, "B"}}),
            installed, found(core, u"tmp/x/__MACOSX/sketch.ino.bootloader.bin"_s));
        // A link stored in the archive points wherever its author chose: never an image.
        row("link named as the bootloader",
            arduinoExport({u"sketch.ino.bootloader.bin"_s}, {{u"real/bootloader.img"_s, "B"}}), installed,
            noBootloader, Paths{{u"build/sketch.ino.bootloader.bin"_s, u"../real/bootloader.img"_s}});
        row("link to an outside folder holding a bootloader", arduinoExport({u"sketch.ino.bootloader.bin"_s}),
            installed, noBootloader, Paths{{u"linked"_s, u"../../outside"_s}});
        // boot_app0.bin: the package, beside the extraction folder (taken unread), the
        // resources, their ThirdParty folder, then the installed core.
        const Files withBootApp0 = arduinoExport({}, {{u"build/boot_app0.bin"_s, "z"}});
        row("in the package first", withBootApp0, everywhere, found(u"tmp/x/build/boot_app0.bin"_s));
        row("an unreadable one in the package ends the search", withBootApp0,
            Paths{{u"tmp/x/build/boot_app0.bin"_s, u"u"_s}, {beside, u"r"_s}}, unreadableBootApp0);
        row("then beside the extraction folder", arduinoExport(), everywhere, found(beside));
        row("beside is taken unread", arduinoExport(),
            Paths{{beside, u"u"_s}, {resource, u"r"_s}, {core, u"r"_s}}, unreadableBootApp0);
        row("then the resources", arduinoExport(),
            Paths{{resource, u"r"_s}, {thirdParty, u"r"_s}, {core, u"r"_s}}, found(resource));
        row("an unreadable resource is passed over", arduinoExport(),
            Paths{{resource, u"u"_s}, {thirdParty, u"r"_s}, {core, u"r"_s}}, found(thirdParty));
        row("then the core", arduinoExport(), Paths{{resource, u"u"_s}, {thirdParty, u"u"_s}, {core, u"r"_s}},
            found(core));
        row("Boot_App0.bin is no hit, nor an unreadable core",
            arduinoExport({}, {{u"build/Boot_App0.bin"_s, "x"}}), Paths{{resource, u"u"_s}, {core, u"u"_s}},
            noBootApp0);
        // Cores by the byte order of their names, not by version: 3.0.7 before 3.0.10.
        row("cores in byte order", arduinoExport(),
            Paths{{coreFile(u"2.0.17"_s), u"r"_s},
                  {coreFile(u"3.0.10"_s), u"r"_s},
                  {core, u"r"_s},
                  {coreFile(u"3.1.0"_s), u"u"_s}},
            found(core));
        row("a core folder without the file is passed over", arduinoExport(),
            Paths{{coreFile(u"3.0.10"_s), u"r"_s}, {QFileInfo(core).path(), u"d"_s}},
            found(coreFile(u"3.0.10"_s)));
        row("hidden core folders count", arduinoExport(),
            Paths{{coreFile(u".local"_s), u"r"_s}, {QFileInfo(coreFile(u"3.1.0"_s)).path(), u"d"_s}},
            found(coreFile(u".local"_s)));
    }

    void discovery()
    {
        QFETCH(Files, package);
        QFETCH(Paths, links);
        QFETCH(Paths, around);
        QFETCH(QStringList, expected);
        writeFile(path(u"outside/sketch.ino.bootloader.bin"_s), "outside");
        makeZip(path(u"package.zip"_s), package, links);
        ZipExtractor::extract(QUrl::fromLocalFile(path(u"package.zip"_s)), extracted());
        for (auto it = around.cbegin(); it != around.cend(); ++it) {
            if (it.value() == u"d"_s)
                QVERIFY(QDir().mkpath(path(it.key())));
            else if (!QFileInfo::exists(path(it.key())))
                writeFile(path(it.key()), "z");
            if (it.value() == u"u"_s)
                makeUnreadable(path(it.key()));
        }

        QCOMPARE(discover(regularFiles(extracted())), expected);
    }

    // "First" is the order of the list the walk gave, whatever it is.
    void firstBootloaderOfTheListWins()
    {
        writeFile(path(u"resources/boot_app0.bin"_s), "z");
        QList<QUrl> files;
        for (const QString &name : {u"a/one.bootloader.bin"_s, u"b/two.bootloader.bin"_s,
                                    u"sketch.ino.partitions.bin"_s, u"sketch.ino.bin"_s}) {
            writeFile(path(name), "x");
            files.append(QUrl::fromLocalFile(path(name)));
        }
        QCOMPARE(discover(files).first(), u"a/one.bootloader.bin @ 0x0"_s);
        std::swap(files[0], files[1]);
        QCOMPARE(discover(files).first(), u"b/two.bootloader.bin @ 0x0"_s);
    }

    // Regular files only, depth first, and deeper than the number of files a process may
    // hold open.
    void walkListsRegularFilesDepthFirst()
    {
        const QString top = path(u"walk"_s);
        QStringList regular{u"a/1"_s, u"a/b/2"_s, u"a/b/c/3"_s, u"a/4"_s, u"d/5"_s, u"6"_s, u"e/7"_s};
        regular.append(u"deep"_s + u"/d"_s.repeated(1100) + u"/sketch.ino.bin"_s);
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
        regular.sort();
        QCOMPARE(sorted, regular);
        // What lies below a folder comes in one run, whatever order the folders come in.
        for (const QString &folder : {u"a/"_s, u"a/b/"_s, u"a/b/c/"_s}) {
            const auto inside = [&folder](const QString &file) { return file.startsWith(folder); };
            const auto first = std::find_if(walked.cbegin(), walked.cend(), inside);
            const auto end = std::find_if(walked.crbegin(), walked.crend(), inside).base();
            QVERIFY2(std::all_of(first, end, inside), qPrintable(walked.join(u' ')));
        }
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
};

OLVEX_TEST_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
