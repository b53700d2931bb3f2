// Loading a firmware package through the controller: the images and log lines, the
// extraction folder, a second load that replaces or fails, the checks of the images'
// content, and the names of zips made on Windows.
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
                         // Content that is no image is loaded all the same, with a warning.
                         u"WARN sketch.ino.bootloader.bin: bir ESP imajı değil; içeriği denetlenemedi."_s,
                         u"WARN sketch.ino.partitions.bin: bir bölüm tablosu değil; içeriği denetlenemedi."_s,
                         u"WARN sketch.ino.bin: bir ESP imajı değil; içeriği denetlenemedi."_s,
                         u"WARN İmzasız paket: yalnızca güvendiğiniz bir kaynaktan geldiyse yükleyin."_s,
                     }));
        QVERIFY(!manager.packageInspection()->application());
    }

    void secondLoad_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("failure"); // empty: the second load succeeds
        QTest::addColumn<QString>("hintStart");
        QTest::newRow("a good zip") << u"good"_s << QString() << QString();
        QTest::newRow("not a zip") << u"text"_s << u"Failed to extract firmware zip (exit 9)."_s
                                   << u"Seçilen dosya bir zip arşivi değil"_s;
        QTest::newRow("a damaged zip")
            << u"damaged"_s << u"Failed to extract firmware zip (exit 2)."_s << u"Zip dosyası bozuk"_s;
        // As Windows PowerShell 5 writes them: unzip unpacks all and still ends with 1.
        QTest::newRow("backslash separators")
            << u"backslashes"_s << u"Failed to extract firmware zip (exit 1)."_s
            << u"Zip açılırken uyarı verdi"_s;
        QTest::newRow("only folders and hidden files")
            << u"no files"_s << u"Missing Arduino build file: firmware files in zip"_s << QString();
    }

    void secondLoad()
    {
        QFETCH(QString, second);
        QFETCH(QString, failure);
        QFETCH(QString, hintStart);
        // The first package links to a folder of the user's: removing the package must
        // not reach into it.
        writeFile(path(u"outside/keep.txt"_s), "keep");
        FlashManager manager(m_paths);
        manager.loadFirmware(zip(u"first.zip"_s, standardBuild(), {{u"build/linked"_s, path(u"outside"_s)}}));
        QVERIFY(manager.extractedFirmwareDirectory());
        const QString firstFolder = manager.extractedFirmwareDirectory()->toLocalFile();
        QTRY_COMPARE(manager.logger()->count(), 9);

        QUrl secondZip = QUrl::fromLocalFile(path(u"second.zip"_s));
        if (second == u"good"_s)
            secondZip = zip(u"second.zip"_s, standardBuild());
        else if (second == u"text"_s)
            writeFile(path(u"second.zip"_s), "PK but not really");
        else if (second == u"damaged"_s) {
            secondZip = zip(u"second.zip"_s, standardBuild());
            renameZipEntries(path(u"second.zip"_s), QByteArray("PK\x03\x04"), QByteArray("XK\x03\x04"));
        } else if (second == u"backslashes"_s) {
            secondZip = zip(u"second.zip"_s, standardBuild());
            renameZipEntries(path(u"second.zip"_s), QByteArray("build/"), QByteArray("build\\"));
            markZipMadeOnWindows(path(u"second.zip"_s));
        } else if (second == u"no files"_s)
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
            QTRY_COMPARE(logLines(manager.logger(), 9).size(), 9);
            QCOMPARE(logLines(manager.logger(), 9).first(), u"OK Firmware zip yüklendi: second.zip"_s);
            return;
        }
        QCOMPARE(manager.firmwareImages(), QList<FirmwareImage>());
        QCOMPARE(manager.selectedFirmwareZipName(), std::nullopt);
        QCOMPARE(manager.firmwareDisplayText(), u"—"_s);
        QCOMPARE(manager.extractedFirmwareDirectory(), std::nullopt);
        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), failure);
        QVERIFY2(manager.failureHint().startsWith(hintStart), qPrintable(manager.failureHint()));
        QStringList expected{u"ERR "_s + failure};
        if (!hintStart.isEmpty())
            expected.append(u"WARN "_s + manager.failureHint());
        QTRY_COMPARE(logLines(manager.logger(), 9), expected);
    }

    void contentChecks_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("failure"); // empty: the load succeeds
        const Files sound = esp32s3Build();
        const QString bootloader = u"build/sketch.ino.bootloader.bin"_s;
        const QString application = u"build/sketch.ino.bin"_s;
        auto with = [&](const QString &name, const QByteArray &content) {
            Files files = sound;
            files[name] = content;
            return files;
        };
        auto flipped = [&](const QString &name, std::initializer_list<qsizetype> at) {
            QByteArray bytes = sound[name];
            for (const qsizetype i : at)
                bytes[i] = char(bytes[i] ^ 0x10);
            return with(name, bytes);
        };
        ImageRecipe image;
        image.descriptor = DescriptorRecipe{};

        QTest::newRow("a sound ESP32-S3 build") << sound << QString();
        image.chipId = 0;
        QTest::newRow("an application for the ESP32")
            << with(application, espImage(image))
            << u"sketch.ino.bin: bu firmware ESP32 için derlenmiş; bu cihaz ESP32-S3."_s;
        image.chipId = 5;
        QTest::newRow("a bootloader for the ESP32-C3")
            << with(bootloader, espImage(image))
            << u"sketch.ino.bootloader.bin: bu firmware ESP32-C3 için derlenmiş; bu cihaz ESP32-S3."_s;
        image.chipId = 77;
        QTest::newRow("an unknown chip")
            << with(application, espImage(image))
            << u"sketch.ino.bin: bu firmware bilinmeyen çip (77) için derlenmiş; "
               u"bu cihaz ESP32-S3."_s;
        QTest::newRow("one flipped byte")
            << flipped(application, {600}) << u"sketch.ino.bin bozuk: sağlama toplamı tutmuyor."_s;
        // The same bit in two bytes leaves the checksum as it was.
        QTest::newRow("two flipped bytes")
            << flipped(application, {600, 601}) << u"sketch.ino.bin bozuk: SHA-256 özeti tutmuyor."_s;
        QTest::newRow("a truncated bootloader")
            << with(bootloader, sound[bootloader].chopped(40))
            << u"sketch.ino.bootloader.bin bozuk: dosya eksik, sonu kesilmiş."_s;
        QList<PartitionRecipe> partitions = defaultPartitions();
        partitions[2].size = quint32(sound[application].size()) - 1;
        QTest::newRow("an application one byte too large")
            << with(u"build/sketch.ino.partitions.bin"_s, partitionTable(partitions))
            << u"sketch.ino.bin bölümüne sığmıyor: uygulama %1 bayt, 0x10000 adresindeki bölüm %2 bayt."_s
                   .arg(sound[application].size())
                   .arg(partitions[2].size);
        QTest::newRow("a table whose MD5 is wrong")
            << flipped(u"build/sketch.ino.partitions.bin"_s, {40})
            << u"sketch.ino.partitions.bin bozuk: bölüm tablosunun MD5 özeti tutmuyor."_s;
    }

    // Evidence of harm ends the load like a missing file; a sound build tells what it is.
    void contentChecks()
    {
        QFETCH(Files, files);
        QFETCH(QString, failure);
        FlashManager manager(m_paths);

        manager.loadFirmware(zip(u"firmware.zip"_s, files));

        if (failure.isEmpty()) {
            QCOMPARE(manager.status(), Status::idle);
            const std::optional<AppDescriptor> application = manager.packageInspection()->application();
            QCOMPARE(application->projectName, u"olvex_fw"_s);
            QCOMPARE(application->version, u"1.4.2"_s);
            QCOMPARE(application->buildDate(), QDate(2026, 11, 2));
            QTRY_COMPARE(logLines(manager.logger()).size(), 7);
            QCOMPARE(logLines(manager.logger())[5],
                     u"INFO Uygulama: olvex_fw 1.4.2, derleme 2 Kasım 2026 14:03:11, ESP-IDF v5.1.4"_s);
            return;
        }
        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), failure);
        QCOMPARE(manager.firmwareImages(), QList<FirmwareImage>());
        QCOMPARE(manager.packageInspection(), std::nullopt);
        QCOMPARE(manager.selectedFirmwareZipName(), std::nullopt);
        QVERIFY(!manager.failureHint().isEmpty());
        QTRY_COMPARE(logLines(manager.logger()),
                     (QStringList{u"ERR "_s + failure, u"WARN "_s + manager.failureHint()}));
    }

    void windowsNames_data()
    {
        QTest::addColumn<bool>("madeOnWindows");
        // unzip turns the code page letters of a zip made on Windows into ISO 8859-1 bytes.
        QTest::newRow("by Windows' own zip tool") << true;
        QTest::newRow("raw code page bytes") << false;
    }

    // A folder named in CP857 without the UTF-8 flag: "Güncelleme_ışık".
    void windowsNames()
    {
        QFETCH(bool, madeOnWindows);
        const QString zipPath = path(u"windows.zip"_s);
        makeZip(zipPath, esp32s3Build(u"GXncelleme_XXXk/"_s));
        renameZipEntries(zipPath, QByteArray("GXncelleme_XXXk"), QByteArray("G\x81ncelleme_\x8D\x9F\x8Dk"));
        if (madeOnWindows)
            markZipMadeOnWindows(zipPath);
        FlashManager manager(m_paths);

        manager.loadFirmware(QUrl::fromLocalFile(zipPath));

        QCOMPARE(manager.status(), Status::idle);
        const QString folder = manager.extractedFirmwareDirectory()->toLocalFile();
        QCOMPARE(manager.firmwareImages().first().url.toLocalFile(),
                 folder + u"/Güncelleme_ışık/sketch.ino.bootloader.bin"_s);
        QTRY_VERIFY(
            logLines(manager.logger())
                .contains(u"INFO Zip'teki 1 ad, Windows'un Türkçe kodlamasından (CP857) çevrildi."_s));

        manager.loadFirmware(zip(u"next.zip"_s, standardBuild()));
        QVERIFY(!QFileInfo::exists(folder));
        QCOMPARE(extractionFolders().size(), 1);
    }
};

OLVEX_TEST_MAIN(TestFirmwareLoad)
#include "tst_firmwareload.moc"
