// Loading a firmware package through the controller: the images and log lines, the
// extraction folder, and a second load that replaces or fails.
#include "flashmanager.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

using Files = QMap<QString, QByteArray>;
using Status = FlashManager::OperationStatus;

namespace {
Files standardBuild()
{
    return {
        {u"build/sketch.ino.bootloader.bin"_s, QByteArray(20, 'b')},
        {u"build/sketch.ino.partitions.bin"_s, QByteArray(3072, 'p')},
        {u"build/sketch.ino.bin"_s, QByteArray(40, 'a')},
        {u"build/sketch.ino.merged.bin"_s, QByteArray(50, 'm')},
    };
}
} // namespace

class TestFirmwareLoad : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    PlatformPaths m_paths;

    [[nodiscard]] QString path(const QString &relative) const { return m_root->filePath(relative); }

    QUrl zip(const QString &name, const Files &files, const QMap<QString, QString> &links = {})
    {
        makeZip(path(name), files, links);
        return QUrl::fromLocalFile(path(name));
    }

    /// The extraction folders in the temporary folder.
    [[nodiscard]] QStringList extractionFolders() const
    {
        return QDir(m_paths.temporaryDirectory).entryList({u"vardel-firmware-*"_s}, QDir::Dirs);
    }

private Q_SLOTS:
    void init()
    {
        // Blanks, quotes and Turkish letters in every path the load touches.
        m_root = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/olvex yük 'ş' \"x\"-XXXXXX"_s);
        QVERIFY(m_root->isValid());
        m_paths = pathsInside(m_root->path());
        writeFile(m_paths.arduinoDataDirectory() +
                      u"/packages/esp32/hardware/esp32/3.0.7/tools/partitions/boot_app0.bin"_s,
                  QByteArray(8192, '\xff'));
    }

    void cleanup() { removeTree(m_root->path()); }

    void successfulLoad()
    {
        FlashManager manager(m_paths);
        const QString zipName = u"Olvex \"yeni\" sürüm 'v2' ığüşöç.zip"_s;

        manager.loadFirmware(zip(zipName, standardBuild()));

        QVERIFY(manager.extractedFirmwareDirectory());
        const QFileInfo folder(manager.extractedFirmwareDirectory()->toLocalFile());
        QVERIFY(folder.isDir());
        QCOMPARE(folder.path(), m_paths.temporaryDirectory);
        QVERIFY2(QRegularExpression(
                     u"^vardel-firmware-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s)
                     .match(folder.fileName())
                     .hasMatch(),
                 qPrintable(folder.fileName()));
        const QList<FirmwareImage> loaded = manager.firmwareImages();
        QCOMPARE(loaded.size(), 4);
        QCOMPARE(loaded[0].url.toLocalFile(), folder.filePath() + u"/build/sketch.ino.bootloader.bin"_s);
        QCOMPARE(loaded[3].url.toLocalFile(), folder.filePath() + u"/build/sketch.ino.bin"_s);
        QCOMPARE(manager.selectedFirmwareZipName(), std::optional(zipName));
        QCOMPARE(manager.firmwareDisplayText(), zipName);
        QCOMPARE(manager.status(), Status::idle);
        QCOMPARE(manager.statusDetail(), u"Firmware hazır (4 dosya)."_s);

        QTRY_COMPARE(logLines(manager.logger()),
                     (QStringList{
                         u"OK Firmware zip yüklendi: "_s + zipName,
                         u"INFO   sketch.ino.bootloader.bin @ 0x0 (20 bytes)"_s,
                         u"INFO   sketch.ino.partitions.bin @ 0x8000 (3072 bytes)"_s,
                         u"INFO   boot_app0.bin @ 0xE000 (8192 bytes)"_s,
                         u"INFO   sketch.ino.bin @ 0x10000 (40 bytes)"_s,
                     }));
    }

    void secondLoad_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("failure"); // empty: the second load succeeds
        QTest::newRow("a good zip") << u"good"_s << QString();
        QTest::newRow("not a zip") << u"text"_s << u"Failed to extract firmware zip (exit 9)."_s;
        QTest::newRow("only folders and hidden files")
            << u"no files"_s << u"Missing Arduino build file: firmware files in zip"_s;
    }

    void secondLoad()
    {
        QFETCH(QString, second);
        QFETCH(QString, failure);
        // The first package links to a folder of the user's: removing the package must
        // not reach into it.
        writeFile(path(u"outside/keep.txt"_s), "keep");
        FlashManager manager(m_paths);
        manager.loadFirmware(zip(u"first.zip"_s, standardBuild(), {{u"build/linked"_s, path(u"outside"_s)}}));
        QVERIFY(manager.extractedFirmwareDirectory());
        const QString firstFolder = manager.extractedFirmwareDirectory()->toLocalFile();
        QTRY_COMPARE(manager.logger()->count(), 5);

        QUrl secondZip = QUrl::fromLocalFile(path(u"second.zip"_s));
        if (second == u"good"_s)
            secondZip = zip(u"second.zip"_s, standardBuild());
        else if (second == u"text"_s)
            writeFile(path(u"second.zip"_s), "PK but not really");
        else if (second == u"no files"_s)
            secondZip =
                zip(u"second.zip"_s, {{u"build/"_s, {}}, {u".hidden"_s, "x"}, {u"build/.DS_Store"_s, "x"}});

        // The old folder goes first: it is gone, and no new one made yet, when the field
        // is cleared.
        std::optional<bool> firstFolderThere;
        QStringList foldersThen;
        QObject::connect(&manager, &FlashManager::extractedFirmwareDirectoryChanged, &manager, [&] {
            if (!firstFolderThere) {
                firstFolderThere = QFileInfo::exists(firstFolder);
                foldersThen = extractionFolders();
            }
        });

        manager.loadFirmware(secondZip);

        QCOMPARE(firstFolderThere, std::optional(false));
        QCOMPARE(foldersThen, QStringList());
        QVERIFY(!QFileInfo::exists(firstFolder));
        QCOMPARE(QFile(path(u"outside/keep.txt"_s)).exists(), true);
        // The new folder stays on disk either way.
        const QStringList folders = extractionFolders();
        QCOMPARE(folders.size(), 1);
        QVERIFY(m_paths.temporaryDirectory + u'/' + folders[0] != firstFolder);

        if (failure.isEmpty()) {
            QCOMPARE(manager.extractedFirmwareDirectory()->toLocalFile(),
                     m_paths.temporaryDirectory + u'/' + folders[0]);
            QCOMPARE(manager.firmwareImages().size(), 4);
            QCOMPARE(manager.firmwareDisplayText(), u"second.zip"_s);
            QTRY_COMPARE(logLines(manager.logger(), 5).size(), 5);
            QCOMPARE(logLines(manager.logger(), 5).first(), u"OK Firmware zip yüklendi: second.zip"_s);
            return;
        }
        QCOMPARE(manager.firmwareImages(), QList<FirmwareImage>());
        QCOMPARE(manager.selectedFirmwareZipName(), std::nullopt);
        QCOMPARE(manager.firmwareDisplayText(), u"—"_s);
        QCOMPARE(manager.extractedFirmwareDirectory(), std::nullopt);
        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), failure);
        QTRY_COMPARE(logLines(manager.logger(), 5), QStringList{u"ERR "_s + failure});
    }
};

OLVEX_TEST_MAIN(TestFirmwareLoad)
#include "tst_firmwareload.moc"
