// Our own work in a firmware load, beside the unzip it waits for: the listing read before
// unpacking, the walk of a package of 10,000 files, the inspection of a package with a
// real-shaped 4 MiB application (budget: well under 50 ms), the same inspection followed by
// the check of the package's signature (budget: under 50 ms together), and a whole load of a
// 4 MiB application against the bare unzip of the same zip.
#include "firmwarepackage.h"
#include "flashmanager.h"
#include "packageinspection.h"
#include "packagesignature.h"
#include "rawfilenames.h"
#include "testsupport.h"
#include "zipextractor.h"
#include "ziplisting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {
QMap<QString, QByteArray> arduinoBuild(qsizetype applicationSize)
{
    QByteArray application(applicationSize, Qt::Uninitialized);
    // Compiled code hardly compresses; random bytes keep unzip's share honest.
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32 *>(application.data()), application.size() / 4);
    return {
        {u"build/esp32.esp32.esp32s3/sketch.ino.bootloader.bin"_s, QByteArray(20'000, 'b')},
        {u"build/esp32.esp32.esp32s3/sketch.ino.partitions.bin"_s, QByteArray(3072, 'p')},
        {u"build/esp32.esp32.esp32s3/sketch.ino.bin"_s, application},
        {u"build/esp32.esp32.esp32s3/boot_app0.bin"_s, QByteArray(8192, 'z')},
    };
}

double median(QList<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return nanoseconds[nanoseconds.size() / 2] / 1e6;
}
} // namespace

class BenchFirmwarePackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    PlatformPaths m_paths;
    QString m_largeZip;
    QString m_largeFolder;
    QString m_applicationZip;
    QList<FirmwareImage> m_realImages;
    SignaturePolicy m_signatures;

private Q_SLOTS:
    void initTestCase()
    {
        m_paths = pathsInside(m_root.path());
        QMap<QString, QByteArray> large = arduinoBuild(1'000'000);
        for (int i = 0; large.size() < 10'000; ++i)
            large.insert(u"libraries/lib%1/src/sub%2/file%3.cpp.o"_s.arg(i % 97).arg(i % 7).arg(i), "o");
        m_largeZip = m_root.filePath(u"large.zip"_s);
        makeZip(m_largeZip, large);
        m_largeFolder = m_root.filePath(u"large"_s);
        ZipExtractor::extract(QUrl::fromLocalFile(m_largeZip), QUrl::fromLocalFile(m_largeFolder));

        m_applicationZip = m_root.filePath(u"application.zip"_s);
        makeZip(m_applicationZip, arduinoBuild(4 * 1024 * 1024));

        // Header, segments, checksum, SHA-256 and descriptor as a build makes them, in a
        // partition of 6 MiB.
        QMap<QString, QByteArray> real = esp32s3Build(m_root.filePath(u"real/"_s));
        ImageRecipe application;
        application.dataSize = 4 * 1024 * 1024;
        application.descriptor = DescriptorRecipe{};
        QList<PartitionRecipe> partitions = defaultPartitions();
        partitions[2].size = 0x600000;
        QList<QUrl> files;
        for (auto it = real.begin(); it != real.end(); ++it) {
            if (it.key().endsWith(u".ino.bin"_s))
                it.value() = espImage(application);
            else if (it.key().endsWith(u".partitions.bin"_s))
                it.value() = partitionTable(partitions);
            writeFile(it.key(), it.value());
            files.append(QUrl::fromLocalFile(it.key()));
        }
        m_realImages = makeImages(files);

        // Signed as the vendor's tool signs a release.
        const KeyPair key = KeyPair::generate();
        m_signatures.trustedKeys = {key.publicKey};
        const QUrl folder = QUrl::fromLocalFile(m_root.filePath(u"real"_s));
        const QByteArray manifest = makeManifest(folder, m_realImages, inspectPackage(m_realImages),
                                                 key.publicKey, QDateTime::currentDateTimeUtc());
        writeFile(m_root.filePath(u"real/olvex-manifest.json"_s), manifest);
        writeFile(m_root.filePath(u"real/olvex-manifest.sig"_s), signManifest(manifest, key.secretKey));

        // The same package as zips, without and with its signature.
        QMap<QString, QByteArray> build;
        for (auto it = real.cbegin(); it != real.cend(); ++it)
            build.insert(QFileInfo(it.key()).fileName(), it.value());
        makeZip(m_root.filePath(u"unsigned.zip"_s), build);
        build.insert(u"olvex-manifest.json"_s, manifest);
        build.insert(u"olvex-manifest.sig"_s, signManifest(manifest, key.secretKey));
        makeZip(m_root.filePath(u"signed.zip"_s), build);
    }

    // A whole load through the controller, signed and unsigned in turn, so that the machine's
    // drift falls on both alike. Budget: signed at most 1.1 times unsigned.
    void signedAgainstUnsignedLoad()
    {
        FlashManager manager(m_paths, m_signatures);
        constexpr int pairs = 15;
        QList<double> unsignedMs;
        QList<double> signedMs;
        QList<double> ratios;
        for (int pair = 0; pair <= pairs; ++pair) {
            double ms[2] = {};
            for (const int which : {0, 1}) {
                QElapsedTimer timer;
                timer.start();
                manager.loadFirmware(
                    QUrl::fromLocalFile(m_root.filePath(which ? u"signed.zip"_s : u"unsigned.zip"_s)));
                ms[which] = timer.nsecsElapsed() / 1e6;
                QCOMPARE(manager.packageInspection() && manager.packageInspection()->signingKeyId.has_value(),
                         which == 1);
            }
            if (pair == 0)
                continue; // warm-up
            unsignedMs.append(ms[0]);
            signedMs.append(ms[1]);
            ratios.append(ms[1] / ms[0]);
        }
        const auto median = [](QList<double> values) {
            std::sort(values.begin(), values.end());
            return values.at(values.size() / 2);
        };
        qInfo("load of a 4 MiB application, median of %d pairs: unsigned %.1f ms, signed %.1f ms, "
              "signed/unsigned %.2f (budget 1.10)",
              pairs, median(unsignedMs), median(signedMs), median(ratios));
    }

    void inspectionAndSignatureOf4MiBApplication()
    {
        const QUrl folder = QUrl::fromLocalFile(m_root.filePath(u"real"_s));
        std::optional<QString> signingKey;
        QBENCHMARK
        {
            (void)inspectPackage(m_realImages);
            signingKey = checkSignature(folder, m_realImages, m_signatures);
        }
        QCOMPARE(signingKey, keyId(m_signatures.trustedKeys.first()));

        // The processor time of the same work, which a busy machine does not inflate.
        constexpr int runs = 10;
        timespec start{};
        timespec end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        for (int run = 0; run < runs; ++run) {
            (void)inspectPackage(m_realImages);
            (void)checkSignature(folder, m_realImages, m_signatures);
        }
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        qInfo("processor time of inspection + signature check: %.1f ms a run",
              ((end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6) / runs);
    }

    void inspectionOf4MiBApplication()
    {
        PackageInspection inspection;
        QBENCHMARK
        {
            inspection = inspectPackage(m_realImages);
        }
        QCOMPARE(inspection.application()->version, u"1.4.2"_s);
        QVERIFY(m_realImages.last().size > 4 * 1024 * 1024);
    }

    void zipListing_data()
    {
        QTest::addColumn<QString>("zip");
        QTest::newRow("4 MiB application") << m_applicationZip;
        QTest::newRow("10,000 files") << m_largeZip;
    }

    void zipListing()
    {
        QFETCH(QString, zip);
        std::optional<ZipListing> listing;
        QBENCHMARK
        {
            listing = readZipListing(zip);
        }
        QVERIFY(listing && listing->entries >= 4 && listing->entries <= PackageLimits::mostEntries);
    }

    void regularFilesOf10000()
    {
        QList<QUrl> files;
        QBENCHMARK
        {
            files = regularFiles(QUrl::fromLocalFile(m_largeFolder));
        }
        QCOMPARE(files.size(), 10'000);
    }

    void discoveryIn10000()
    {
        const QUrl folder = QUrl::fromLocalFile(m_largeFolder);
        QList<FirmwareImage> images;
        QBENCHMARK
        {
            images = arduinoImages(regularFiles(folder), folder, m_paths);
        }
        QCOMPARE(images.size(), 4);
    }

    void loadBesideUnzip_data()
    {
        QTest::addColumn<QString>("zip");
        QTest::addColumn<int>("runs");
        QTest::newRow("4 MiB application") << m_applicationZip << 25;
        // Creating 10,000 files is slow on some file systems; a few runs tell enough.
        QTest::newRow("10,000 files") << m_largeZip << 3;
    }

    // Printed figures rather than QBENCHMARK: each load removes the folder of the one
    // before, so the runs are not independent repetitions of one call.
    void loadBesideUnzip()
    {
        QFETCH(QString, zip);
        QFETCH(int, runs);
        QList<qint64> bare;
        for (int run = 0; run < runs; ++run) {
            const QString folder = m_paths.temporaryDirectory + u"/bare-%1"_s.arg(run);
            QProcess unzip;
            unzip.setStandardOutputFile(QProcess::nullDevice());
            unzip.setStandardErrorFile(QProcess::nullDevice());
            QElapsedTimer timer;
            timer.start();
            unzip.start(u"/usr/bin/unzip"_s, {u"-oq"_s, zip, u"-d"_s, folder});
            unzip.waitForFinished(-1);
            bare.append(timer.nsecsElapsed());
            QCOMPARE(unzip.exitCode(), 0);
            QDir(folder).removeRecursively();
        }

        FlashManager manager(m_paths);
        QList<qint64> loads;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            manager.loadFirmware(QUrl::fromLocalFile(zip));
            loads.append(timer.nsecsElapsed());
            QCOMPARE(manager.firmwareImages().size(), 4);
        }

        // Our own work measured alone, piece by piece, on folders the same zip filled.
        QList<qint64> removal;
        QList<qint64> discovery;
        for (int run = 0; run < runs; ++run) {
            const QString previous = m_paths.temporaryDirectory + u"/previous"_s;
            const QString folder = m_paths.temporaryDirectory + u"/ours"_s;
            ZipExtractor::extract(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(previous));
            ZipExtractor::extract(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(folder));
            QElapsedTimer timer;
            timer.start();
            removeFolderTree(previous);
            removal.append(timer.nsecsElapsed());
            timer.start();
            repairFileNames(folder);
            const QList<FirmwareImage> images = arduinoImages(regularFiles(QUrl::fromLocalFile(folder)),
                                                              QUrl::fromLocalFile(folder), m_paths);
            discovery.append(timer.nsecsElapsed());
            QCOMPARE(images.size(), 4);
            QDir(folder).removeRecursively();
        }

        qInfo("median of %d runs: bare unzip %.1f ms, loadFirmware %.1f ms, difference %.1f ms; "
              "alone: removal of the previous folder %.2f ms, name repair + walk + discovery %.2f ms",
              runs, median(bare), median(loads), median(loads) - median(bare), median(removal),
              median(discovery));
    }
};

QTEST_GUILESS_MAIN(BenchFirmwarePackage)
#include "bench_firmwarepackage.moc"
