// Loading a firmware package through the controller, after a first load it replaces: the
// images and log lines, the extraction folders, unzip's failures, the checks of the images'
// content, and the names of zips made on Windows.
#include "firmwarepackage.h"
#include "flashmanager.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

using Files = QMap<QString, QByteArray>;
using Status = FlashManager::OperationStatus;

namespace {
const QString zipName = u"Olvex \"yeni\" sürüm 'v2' ığüşöç.zip"_s;
} // namespace

class TestFirmwareLoad : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    PlatformPaths m_paths;

    [[nodiscard]] QString path(const QString &relative) const { return m_root->filePath(relative); }

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

    void load_data()
    {
        QTest::addColumn<Files>("package");
        QTest::addColumn<QString>("archive");    // how the zip is made: "zip", or what is done to it
        QTest::addColumn<QStringList>("log");    // an ERR line for a failed load; each line by its start
        QTest::addColumn<QString>("bootloader"); // where the loaded bootloader lies in the folder
        QTest::addColumn<QByteArray>("stored");  // a zip written byte by byte instead
        const Files sound = esp32s3Build();
        // The sizes are those of the fixture's files.
        const QStringList loaded{
            u"OK Firmware zip yüklendi: "_s + zipName,
            u"INFO   sketch.ino.bootloader.bin @ 0x0 ("_s,
            u"INFO   sketch.ino.partitions.bin @ 0x8000 ("_s,
            u"INFO   boot_app0.bin @ 0xE000 ("_s,
            u"INFO   sketch.ino.bin @ 0x10000 ("_s,
            u"INFO Uygulama: olvex_fw 1.4.2, derleme 2 Kasım 2026 14:03:11, ESP-IDF v5.1.4"_s,
            u"INFO Paket imzasız; bu sürüm imza denetlemiyor."_s};
        const QString bootloader = u"build/sketch.ino.bootloader.bin"_s;
        const QString application = u"build/sketch.ino.bin"_s;
        const QString table = u"build/sketch.ino.partitions.bin"_s;
        const auto with = [&](const QString &name, const QByteArray &content) {
            Files files = sound;
            files[name] = content;
            return files;
        };
        const auto flipped = [&](const QString &name, std::initializer_list<qsizetype> at) {
            QByteArray bytes = sound[name];
            for (const qsizetype i : at)
                bytes[i] = char(bytes[i] ^ 0x10);
            return with(name, bytes);
        };
        const auto row = [](const char *name, const Files &files, const QStringList &log,
                            const QString &archive = u"zip"_s, const QString &bootloader = {}) {
            QTest::newRow(name) << files << archive << log << bootloader << QByteArray();
        };
        // Refused by what the zip declares: nothing is made on disk.
        const auto tooLarge = [](const char *name, const Files &files, const QByteArray &stored,
                                 const QString &description) {
            QTest::newRow(name) << files << u"zip"_s
                                << QStringList{u"ERR Zip açılmadı: "_s + description,
                                               u"WARN Bu zip bir firmware paketi için fazla büyük"_s}
                                << QString() << stored;
        };
        // A file unzip cannot unpack: what it says picks the hint.
        const auto unzipRefuses = [](const char *name, const QByteArray &stored, const QStringList &log) {
            QTest::newRow(name) << Files() << u"zip"_s << log << QString() << stored;
        };
        // Evidence of harm ends the load like a missing file, with a hint.
        const auto refused = [&](const char *name, const Files &files, const QString &description) {
            row(name, files, {u"ERR "_s + description, u"WARN "_s});
        };

        row("a sound ESP32-S3 build", sound, loaded, u"zip"_s, bootloader);
        // Content that is no image is loaded all the same, with a warning; boot_app0.bin
        // comes from the installed core.
        row("content that is no image",
            {{bootloader, QByteArray(20, 'b')},
             {table, QByteArray(3072, 'p')},
             {application, QByteArray(40, 'a')},
             {u"build/sketch.ino.merged.bin"_s, "m"},
             {u"build/sketch.ino.elf"_s, QByteArray(1 << 20, 'e')}},
            {u"OK Firmware zip yüklendi: "_s + zipName,
             u"INFO   sketch.ino.bootloader.bin @ 0x0 (20 bytes)"_s,
             u"INFO   sketch.ino.partitions.bin @ 0x8000 (3072 bytes)"_s,
             u"INFO   boot_app0.bin @ 0xE000 (8192 bytes)"_s, u"INFO   sketch.ino.bin @ 0x10000 (40 bytes)"_s,
             u"WARN sketch.ino.bootloader.bin: bir ESP imajı değil; içeriği denetlenemedi."_s,
             u"WARN sketch.ino.partitions.bin: bir bölüm tablosu değil; içeriği denetlenemedi."_s,
             u"WARN sketch.ino.bin: bir ESP imajı değil; içeriği denetlenemedi."_s,
             u"INFO Paket imzasız; bu sürüm imza denetlemiyor."_s},
            u"zip"_s, bootloader);
        // A folder named in CP857 without the UTF-8 flag: "Güncelleme_ışık". unzip turns the
        // code page letters of a zip made on Windows into ISO 8859-1 bytes.
        const Files windows = esp32s3Build(u"GXncelleme_XXXk/"_s);
        const QStringList repaired =
            QStringList{u"INFO Zip'teki 1 ad, Windows'un Türkçe kodlamasından (CP857) çevrildi."_s} + loaded;
        const QString repairedBootloader = u"Güncelleme_ışık/sketch.ino.bootloader.bin"_s;
        row("names made by Windows' own zip tool", windows, repaired, u"cp857, made on Windows"_s,
            repairedBootloader);
        row("raw code page names", windows, repaired, u"cp857"_s, repairedBootloader);
        row("Turkish names from Info-ZIP's zip", esp32s3Build(u"Güncelleme_ışık/"_s), loaded, u"zip"_s,
            repairedBootloader);

        unzipRefuses("not a zip", "PK but not really",
                     {u"INFO End-of-central-directory signature not found."_s,
                      u"ERR Failed to extract firmware zip (exit 9)."_s,
                      u"WARN Seçilen dosya bir zip arşivi değil"_s});
        row("a damaged zip", sound,
            {u"ERR Failed to extract firmware zip (exit 2)."_s, u"WARN Zip dosyası bozuk"_s}, u"damaged"_s);
        // As Windows PowerShell 5 writes them: unzip unpacks all and still ends with 1.
        row("backslash separators", sound,
            {u"ERR Failed to extract firmware zip (exit 1)."_s,
             u"WARN Zip'teki klasör adları Windows'a özgü ters bölü"_s},
            u"backslashes"_s);
        unzipRefuses("an encrypted zip",
                     storedZip({{.name = "sketch.ino.bin", .data = QByteArray(20, 0x55), .flags = 1}}),
                     {u"ERR Failed to extract firmware zip (exit 5)."_s, u"WARN Zip şifreli"_s});
        // unzip -q says nothing of it: its status tells.
        unzipRefuses("an unsupported compression",
                     storedZip({{.name = "sketch.ino.bin", .data = "x", .method = 14}}),
                     {u"ERR Failed to extract firmware zip (exit 81)."_s, u"WARN Zip, desteklenmeyen"_s});
        // The same status as a full disk.
        unzipRefuses("a file name too long",
                     storedZip({{.name = QByteArray(300, 'x') + ".ino.bin", .data = "x"}}),
                     {u"INFO File name too long"_s, u"ERR Failed to extract firmware zip (exit 50)."_s,
                      u"WARN Zip'teki bir dosyanın adı"_s});
        // Read as CP857, each byte takes two in UTF-8: 300 bytes, past what a name may hold.
        unzipRefuses("a Windows name too long once readable",
                     storedZip({{.name = QByteArray(150, '\x81') + ".ino.bin", .data = "x"}}),
                     {u"ERR Zip'teki «üüü"_s, u"WARN Zip'teki bir dosyanın adı bu sistem için fazla uzun"_s});
        unzipRefuses("an absolute path", storedZip({{.name = "/build/sketch.ino.bin", .data = "x"}}),
                     {u"INFO warning:  stripped absolute path spec from /build/sketch.ino.bin"_s,
                      u"ERR Failed to extract firmware zip (exit 1)."_s,
                      u"WARN Zip'teki bazı dosya yolları"_s});

        tooLarge(
            "a partition table past its 3 KiB", with(table, QByteArray(4096, 'p')), {},
            u"«build/sketch.ino.partitions.bin» açıldığında 4,0 kB tutuyor; bu dosya en çok 3,0 kB olabilir."_s);
        tooLarge("a declared 4 GiB entry", {},
                 storedZip({{.name = "sketch.ino.bin", .data = "x", .declaredSize = quint64(4) << 30}}),
                 u"«sketch.ino.bin» açıldığında 4,0 GB tutuyor; bu dosya en çok 15,9 MB olabilir."_s);
        // Each lie stops one byte past the entry's own limit.
        tooLarge(
            "a table larger than declared", {},
            storedZip(
                {{.name = "build/a.partitions.bin", .data = QByteArray(8192, 'p'), .declaredSize = 3072}}),
            u"«build/a.partitions.bin» açıldığında bildirdiğinden büyük çıktı; bu dosya en çok 3,0 kB olabilir."_s);
        QList<ZipEntry> many(10'001);
        for (qsizetype i = 0; i < many.size(); ++i)
            many[i] = {.name = QByteArray::number(i), .data = "x"};
        tooLarge("10,001 entries", {}, storedZip(many),
                 u"içinde 10001 dosya var; bir firmware paketinde en çok 10000 dosya olabilir."_s);
        // Three applications could each grow to their limit.
        tooLarge(
            "three applications", {},
            storedZip({{.name = "a/x.ino.bin", .data = "x"},
                       {.name = "b/x.ino.bin", .data = "x"},
                       {.name = "c/x.ino.bin", .data = "x"}}),
            u"içindeki firmware dosyaları açıldığında 47,8 MB tutabilir; bir firmware paketi en çok 40,0 MB "
            u"olabilir."_s);
        row("only folders and hidden files",
            {{u"build/"_s, {}}, {u".hidden"_s, "x"}, {u"build/.DS_Store"_s, "x"}},
            {u"ERR Missing Arduino build file: firmware files in zip"_s});

        // An application for another chip carries its descriptor all the same.
        const auto forChip = [](quint16 chip) {
            return espImage({.chipId = chip, .descriptor = DescriptorRecipe{}});
        };
        refused("an application for the ESP32", with(application, forChip(0)),
                u"sketch.ino.bin: bu firmware ESP32 için derlenmiş; bu cihaz ESP32-S3."_s);
        refused("a bootloader for the ESP32-C3", with(bootloader, forChip(5)),
                u"sketch.ino.bootloader.bin: bu firmware ESP32-C3 için derlenmiş; bu cihaz ESP32-S3."_s);
        refused("an unknown chip", with(application, forChip(77)),
                u"sketch.ino.bin: bu firmware bilinmeyen çip (77) için derlenmiş; bu cihaz ESP32-S3."_s);
        refused("one flipped byte", flipped(application, {600}),
                u"sketch.ino.bin bozuk: sağlama toplamı tutmuyor."_s);
        // The same bit in two bytes leaves the checksum as it was.
        refused("two flipped bytes", flipped(application, {600, 601}),
                u"sketch.ino.bin bozuk: SHA-256 özeti tutmuyor."_s);
        refused("a truncated bootloader", with(bootloader, sound[bootloader].chopped(40)),
                u"sketch.ino.bootloader.bin bozuk: dosya eksik, sonu kesilmiş."_s);
        QList<PartitionRecipe> partitions = defaultPartitions();
        partitions[2].size = quint32(sound[application].size()) - 1;
        refused("an application one byte too large", with(table, partitionTable(partitions)),
                u"sketch.ino.bin bölümüne sığmıyor: uygulama %1 bayt, 0x10000 adresindeki bölüm %2 bayt."_s
                    .arg(sound[application].size())
                    .arg(partitions[2].size));
        refused("a table whose MD5 is wrong", flipped(table, {40}),
                u"sketch.ino.partitions.bin bozuk: bölüm tablosunun MD5 özeti tutmuyor."_s);
        // Every image must end where the next one starts, whatever its content.
        refused(
            "an oversized application that is no image", with(application, QByteArray(2 << 20, 'a')),
            u"sketch.ino.bin bölümüne sığmıyor: uygulama 2097152 bayt, 0x10000 adresindeki bölüm 1310720 bayt."_s);
        tooLarge(
            "a bootloader reaching past 0x8000",
            with(bootloader, espImage({.dataSize = 0x8000, .descriptor = {}})), {},
            u"«build/sketch.ino.bootloader.bin» açıldığında 32,1 kB tutuyor; bu dosya en çok 32,0 kB olabilir."_s);
        refused("an ESP8266 image", with(application, espImage({.descriptor = {}, .esp8266 = true})),
                u"sketch.ino.bin: bu firmware ESP8266 için derlenmiş; bu cihaz ESP32-S3."_s);
    }

    void load()
    {
        QFETCH(Files, package);
        QFETCH(QString, archive);
        QFETCH(QStringList, log);
        QFETCH(QString, bootloader);
        QFETCH(QByteArray, stored);
        // The first package links to a folder of the user's: removing the package must
        // not reach into it.
        writeFile(path(u"outside/keep.txt"_s), "keep");
        FlashManager manager(m_paths);
        makeZip(path(u"first.zip"_s), esp32s3Build(), {{u"build/linked"_s, path(u"outside"_s)}});
        manager.loadFirmware(QUrl::fromLocalFile(path(u"first.zip"_s)));
        const QString firstFolder = manager.extractedFirmwareDirectory().value().toLocalFile();
        QTRY_COMPARE(manager.logger()->count(), 7);
        const auto extractionFolders = [this] {
            return QDir(m_paths.temporaryDirectory).entryList({u"vardel-firmware-*"_s}, QDir::Dirs);
        };

        const QString zip = path(zipName);
        if (!stored.isEmpty())
            writeFile(zip, stored);
        else
            makeZip(zip, package);
        if (archive == u"damaged"_s)
            renameZipEntries(zip, "PK\x03\x04", "XK\x03\x04");
        if (archive == u"backslashes"_s)
            renameZipEntries(zip, "build/", "build\\");
        if (archive.startsWith(u"cp857"_s))
            renameZipEntries(zip, "GXncelleme_XXXk", "G\x81ncelleme_\x8D\x9F\x8Dk");
        if (archive.endsWith(u"Windows"_s) || archive == u"backslashes"_s)
            markZipMadeOnWindows(zip);

        // The old folder goes first: it is gone, and no new one made yet, when the field
        // is cleared.
        std::optional<QStringList> foldersThen;
        QObject::connect(&manager, &FlashManager::extractedFirmwareDirectoryChanged, &manager, [&] {
            if (!foldersThen)
                foldersThen = extractionFolders();
        });

        manager.loadFirmware(QUrl::fromLocalFile(zip));

        QCOMPARE(foldersThen, std::optional(QStringList()));
        QVERIFY(QFile::exists(path(u"outside/keep.txt"_s)));
        const QString failure = log.filter(QRegularExpression(u"^ERR "_s)).value(0).mid(4);
        // A refused package leaves not a byte in the private temporary folder.
        const QStringList folders = extractionFolders();
        QCOMPARE(folders.size(), failure.isEmpty() ? 1 : 0);
        const auto filesBelow = [](const QString &top) {
            QFileInfoList files;
            for (QDirIterator it(top, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
                 it.hasNext();)
                files.append(it.nextFileInfo());
            return files;
        };
        QCOMPARE(std::ranges::all_of(filesBelow(m_paths.temporaryDirectory),
                                     [](const QFileInfo &file) { return file.size() == 0; }),
                 !failure.isEmpty());
        const QString folder = m_paths.temporaryDirectory + u'/' + folders.value(0);
        QVERIFY(folder != firstFolder);
        // The lines in order, each by its start; unzip's own (INFO) may come between them.
        const auto isInfo = [](const QString &line) { return line.startsWith(u"INFO "_s); };
        const auto notInfo = [&](QStringList lines) { return lines.size() - lines.removeIf(isInfo); };
        QTRY_COMPARE(notInfo(logLines(manager.logger(), 7)), notInfo(log));
        const QStringList lines = logLines(manager.logger(), 7);
        qsizetype at = 0;
        for (const QString &expected : log) {
            while (at < lines.size() && !lines[at].startsWith(expected))
                ++at;
            QVERIFY2(at++ < lines.size(), qPrintable(expected + u" not in: "_s + lines.join(u" | "_s)));
        }

        if (failure.isEmpty()) {
            const QRegularExpression named(u"^vardel-firmware-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s);
            QVERIFY2(named.match(folders[0]).hasMatch(), qPrintable(folders[0]));
            QCOMPARE(manager.extractedFirmwareDirectory(), std::optional(QUrl::fromLocalFile(folder)));
            QCOMPARE(manager.firmwareImages().size(), 4);
            QCOMPARE(manager.firmwareImages().first().url.toLocalFile(), folder + u'/' + bootloader);
            QCOMPARE(manager.firmwareDisplayText(), zipName);
            QCOMPARE(manager.status(), Status::idle);
            QCOMPARE(manager.statusDetail(), u"Firmware hazır (4 dosya)."_s);
            // Only what is used was unpacked.
            for (const QFileInfo &file : filesBelow(folder))
                QVERIFY(isBuildFileName(file.fileName()));
            // Whatever names it holds, the next load removes it.
            manager.loadFirmware(QUrl::fromLocalFile(path(u"missing.zip"_s)));
            QVERIFY(!QFileInfo::exists(folder));
            return;
        }
        QCOMPARE(manager.firmwareImages(), QList<FirmwareImage>());
        QCOMPARE(manager.packageInspection(), std::nullopt);
        QCOMPARE(manager.selectedFirmwareZipName(), std::nullopt);
        QCOMPARE(manager.firmwareDisplayText(), u"—"_s);
        QCOMPARE(manager.extractedFirmwareDirectory(), std::nullopt);
        QCOMPARE(manager.status(), Status::error);
        QVERIFY(manager.statusDetail().startsWith(failure));
        const QStringList hint = lines.filter(QRegularExpression(u"^WARN "_s));
        QCOMPARE(manager.failureHint().isEmpty(), hint.isEmpty());
        if (!hint.isEmpty())
            QVERIFY(manager.failureHint().startsWith(hint.first().mid(5)));
    }
};

OLVEX_TEST_MAIN(TestFirmwareLoad)
#include "tst_firmwareload.moc"
